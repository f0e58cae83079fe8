#include "charts/controls/property_pages.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QStyleOptionButton>
#include <QWidget>
#include <qdrawutil.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "charts/chart_properties.h"
#include "charts/controls/chart_controls.h"
#include "charts/controls/log_chart_control.h"
#include "vyrcom/com_ptr.h"
#include "vyrcom/unknown_impl.h"

namespace plotwell {

using namespace vyr::com;

// --- colour chooser and button --------------------------------------------------------

namespace {

ColorChooser& Chooser() {
  static ColorChooser chooser;
  return chooser;
}

bool DefaultChooser(QWidget* parent, QColor initial, QColor* chosen) {
  QRgb* custom = SharedCustomColors();
  for (int i = 0; i < 16; ++i) QColorDialog::setCustomColor(i, QColor::fromRgb(custom[i]));
  QColorDialog dialog(initial, parent ? parent->window() : nullptr);
  bool ok = dialog.exec() == QDialog::Accepted;
  for (int i = 0; i < 16; ++i) custom[i] = QColorDialog::customColor(i).rgb();
  if (ok) *chosen = dialog.selectedColor();
  return ok;
}

QColor FromColorRef(std::uint32_t c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }
std::uint32_t ToColorRef(const QColor& c) { return MakeColor(c.red(), c.green(), c.blue()); }

}  // namespace

void SetColorChooser(ColorChooser chooser) { Chooser() = std::move(chooser); }

QRgb* SharedCustomColors() {
  static QRgb colors[16] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF,
                            0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF,
                            0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  return colors;
}

ColorButton::ColorButton(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::StrongFocus);
  connect(this, &QAbstractButton::clicked, this, &ColorButton::Choose);
}

void ColorButton::SetColor(std::uint32_t color) {
  color_ = color & 0x00FFFFFFu;
  update();
}

QSize ColorButton::sizeHint() const { return QSize(40, 24); }

void ColorButton::Choose() {
  QColor chosen;
  const QColor initial = FromColorRef(color_);
  bool ok = Chooser() ? Chooser()(this, initial, &chosen) : DefaultChooser(this, initial, &chosen);
  if (!ok || !chosen.isValid()) return;
  std::uint32_t value = ToColorRef(chosen);
  if (value == color_) return;  // confirming the same colour changes nothing
  SetColor(value);
  Q_EMIT ColorChanged();
}

void ColorButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOptionButton option;
  option.initFrom(this);
  option.state |= isDown() ? QStyle::State_Sunken : QStyle::State_Raised;
  if (!isEnabled()) option.state &= ~QStyle::State_Enabled;
  style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, this);
  QRect swatch = rect().adjusted(7, 7, -7, -7);
  if (swatch.isEmpty()) return;
  QColor fill = !isEnabled() ? QColor(0xC0, 0xC0, 0xC0)
                : isDown()   ? FromColorRef(~color_ & 0x00FFFFFFu)  // every colour bit flipped
                             : FromColorRef(color_);
  painter.fillRect(swatch, fill);
  // Etched while focused, bump while pressed, sunken otherwise.
  const QPalette& pal = palette();
  QRect edge = swatch.adjusted(-2, -2, 2, 2);
  if (hasFocus()) qDrawShadeRect(&painter, edge, pal, true, 1, 0);
  else if (isDown()) qDrawShadeRect(&painter, edge, pal, false, 1, 0);
  else qDrawShadePanel(&painter, edge, pal, true, 2);
}

QSize DialogUnitsToPixels(int width, int height) {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPointSize(8);
  QFontMetrics metrics(font);
  const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const int average = (metrics.horizontalAdvance(letters) + 26) / 52;
  const int line = metrics.height();
  return QSize((width * average + 2) / 4, (height * line + 4) / 8);
}

// --- the pages ------------------------------------------------------------------------

namespace {

QString Id(int id) { return QString::number(id); }

template <class W>
W* Named(W* widget, int id) {
  widget->setObjectName(Id(id));
  widget->setProperty("controlId", id);
  return widget;
}

LPOLESTR TaskText(const QString& text) {
  auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((static_cast<size_t>(text.size()) + 1) * sizeof(OLECHAR)));
  if (!out) return nullptr;
  std::memcpy(out, text.utf16(), static_cast<size_t>(text.size()) * sizeof(OLECHAR));
  out[text.size()] = 0;
  return out;
}

BSTR ToBstr(const QString& text) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.utf16()), static_cast<UINT>(text.size()));
}

class PropertyPage : public UnknownImpl<IPropertyPage, IID_IPropertyPage> {
 public:
  PropertyPage(QString title, QString description, QSize dialogUnits)
      : title_(std::move(title)), description_(std::move(description)), dialogUnits_(dialogUnits) {
    ModuleLock();
  }
  virtual ~PropertyPage() {
    delete page_;
    ModuleUnlock();
  }


  HRESULT SetPageSite(IPropertyPageSite* site) override {
    site_ = ComPtr<IPropertyPageSite>(site);
    return S_OK;
  }
  HRESULT Activate(QWidget* parent, const RECT* bounds, BOOL) override {
    if (!parent || !bounds) return E_POINTER;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return E_UNEXPECTED;
    delete page_;
    page_ = new QWidget(parent);
    page_->setGeometry(bounds->left, bounds->top, bounds->right - bounds->left, bounds->bottom - bounds->top);
    Build(page_, DialogUnitsToPixels(dialogUnits_.width(), dialogUnits_.height()));
    if (!objects_.empty()) Fill(objects_.front().Get());
    Connect();
    page_->show();
    return S_OK;
  }
  HRESULT Deactivate() override {
    delete page_;
    page_ = nullptr;
    return S_OK;
  }
  HRESULT GetPageInfo(PROPPAGEINFO* info) override {
    if (!info) return E_POINTER;
    // The size is measured with fonts, which Qt offers only inside a QGuiApplication.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return E_UNEXPECTED;
    info->cb = sizeof *info;
    info->pszTitle = TaskText(title_);
    info->pszDocString = TaskText(description_);
    info->pszHelpFile = nullptr;  // the pages have no help file
    info->dwHelpContext = 0;
    QSize size = DialogUnitsToPixels(dialogUnits_.width(), dialogUnits_.height());
    info->size = SIZE{size.width(), size.height()};
    return S_OK;
  }
  HRESULT SetObjects(ULONG count, IUnknown** objects) override {
    if (count && !objects) return E_POINTER;
    objects_.clear();
    for (ULONG i = 0; i < count; ++i) objects_.emplace_back(objects[i]);
    return S_OK;
  }
  HRESULT Show(UINT show) override {
    if (page_) page_->setVisible(show != 0);
    return S_OK;
  }
  HRESULT Move(const RECT* bounds) override {
    if (!bounds) return E_POINTER;
    if (page_) page_->setGeometry(bounds->left, bounds->top, bounds->right - bounds->left, bounds->bottom - bounds->top);
    return S_OK;
  }
  HRESULT IsPageDirty() override { return dirty_ ? S_OK : S_FALSE; }
  HRESULT Apply() override {
    if (!page_) return S_OK;
    for (auto& object : objects_) ApplyTo(object.Get());  // failures of single puts are ignored
    SetDirty(false);
    return S_OK;
  }
  HRESULT Help(LPCOLESTR) override { return E_NOTIMPL; }
  HRESULT TranslateAccelerator(void*) override { return S_FALSE; }

 protected:
  // Makes the page's widgets; cell is the page's size in pixels.
  virtual void Build(QWidget* page, QSize cell) = 0;
  virtual void Fill(IUnknown* object) = 0;
  virtual void Connect() = 0;
  virtual void ApplyTo(IUnknown* object) = 0;

  void SetDirty(bool dirty) {
    dirty_ = dirty;
    if (site_) site_->OnStatusChange(dirty ? PROPPAGESTATUS_DIRTY | PROPPAGESTATUS_VALIDATE : PROPPAGESTATUS_CLEAN);
  }
  void MarkDirty() { SetDirty(true); }
  // The page becomes dirty whenever widget emits signal.
  template <class W, class Signal>
  void MarkDirtyOn(W* widget, Signal signal) {
    QObject::connect(widget, signal, page_, [this] { MarkDirty(); });
  }

  template <class I>
  static ComPtr<I> As(IUnknown* object, const IID& iid) {
    ComPtr<I> out;
    if (object) object->QueryInterface(iid, out.PutVoid());
    return out;
  }

  QPointer<QWidget> page_;  // owned by the frame's widget it was activated into

 private:
  QString title_;
  QString description_;
  QSize dialogUnits_;
  ComPtr<IPropertyPageSite> site_;
  std::vector<ComPtr<IUnknown>> objects_;
  bool dirty_ = false;
};

// A page over one interface of the chart: it fills from and applies to the objects that
// have it and passes over the others.
template <class I, const IID& iid>
class ChartPage : public PropertyPage {
 protected:
  using PropertyPage::PropertyPage;
  virtual void FillFrom(I* chart) = 0;
  virtual void ApplyToChart(I* chart) = 0;

 private:
  void Fill(IUnknown* object) final {
    if (auto chart = As<I>(object, iid)) FillFrom(chart.Get());
  }
  void ApplyTo(IUnknown* object) final {
    if (auto chart = As<I>(object, iid)) ApplyToChart(chart.Get());
  }
};

class GeneralPage final : public ChartPage<IVyrLogChart, IID_IVyrLogChart> {
 public:
  GeneralPage() : ChartPage(QStringLiteral("General"), QStringLiteral("Chart general properties"), {175, 105}) {}

 protected:
  void Build(QWidget* page, QSize cell) override {
    auto* label = new QLabel(QStringLiteral(" Caption"), page);
    label->setGeometry(8, 8, cell.width() - 16, 16);
    caption_ = Named(new QLineEdit(page), 201);
    caption_->setGeometry(8, 26, cell.width() - 16, 22);
    auto* group = new QGroupBox(QStringLiteral("Measure"), page);
    group->setGeometry(8, 56, cell.width() - 16, 64);
    value_ = Named(new QRadioButton(QStringLiteral("Value"), group), 203);
    value_->setGeometry(10, 20, 120, 18);
    count_ = Named(new QRadioButton(QStringLiteral("Count"), group), 204);
    count_->setGeometry(10, 40, 120, 18);
  }
  void FillFrom(IVyrLogChart* chart) override {
    BSTR caption = nullptr;
    if (SUCCEEDED(chart->get_Caption(&caption)))
      caption_->setText(QString::fromUtf16(caption, SysStringLen(caption)));
    SysFreeString(caption);
    SHORT measure = -1;
    if (SUCCEEDED(chart->get_MeasureType(&measure))) {
      if (measure == 0) value_->setChecked(true);
      if (measure == 1) count_->setChecked(true);
    }
  }
  void Connect() override {
    MarkDirtyOn(caption_, &QLineEdit::textChanged);
    for (QAbstractButton* b : {static_cast<QAbstractButton*>(value_), static_cast<QAbstractButton*>(count_)})
      MarkDirtyOn(b, &QAbstractButton::clicked);
  }
  void ApplyToChart(IVyrLogChart* chart) override {
    BSTR caption = ToBstr(caption_->text());
    chart->put_Caption(caption);
    SysFreeString(caption);
    // With neither button checked the measure is left as it is.
    if (value_->isChecked()) chart->put_MeasureType(0);
    else if (count_->isChecked()) chart->put_MeasureType(1);
  }

 private:
  QLineEdit* caption_ = nullptr;
  QRadioButton* value_ = nullptr;
  QRadioButton* count_ = nullptr;
};

class TimeSeriesPage final : public ChartPage<ITimeSeriesChart, IID_ITimeSeriesChart> {
 public:
  TimeSeriesPage() : ChartPage(QStringLiteral("Time Series"), QStringLiteral("Time Series options"), {175, 107}) {}

 protected:
  void Build(QWidget* page, QSize cell) override {
    auto* label = new QLabel(QStringLiteral(" Time series filter"), page);
    label->setGeometry(8, 8, cell.width() - 16, 16);
    filter_ = Named(new QComboBox(page), 215);
    filter_->setGeometry(8, 26, cell.width() - 16, 24);
    grid_ = Named(new QCheckBox(QStringLiteral("Show on regular grid"), page), 216);
    grid_->setGeometry(8, 60, cell.width() - 16, 20);
  }
  void FillFrom(ITimeSeriesChart* chart) override {
    filter_->clear();
    for (int type = 0; type < 4; ++type) filter_->addItem(FilterTypeName(type), type);
    SHORT filter = 0;
    if (FAILED(chart->get_FilterType(&filter))) filter = 0;
    filter_->setCurrentIndex(filter_->findData(static_cast<int>(filter)));
    BOOL grid = 0;
    if (SUCCEEDED(chart->get_RegularGrid(&grid))) grid_->setChecked(grid != 0);
  }
  void Connect() override {
    MarkDirtyOn(filter_, &QComboBox::activated);
    MarkDirtyOn(grid_, &QAbstractButton::clicked);
  }
  void ApplyToChart(ITimeSeriesChart* chart) override {
    SHORT filter = filter_->currentIndex() < 0 ? 0 : static_cast<SHORT>(filter_->currentData().toInt());
    chart->put_FilterType(filter);
    chart->put_RegularGrid(grid_->isChecked() ? 1 : 0);
  }

 private:
  QComboBox* filter_ = nullptr;
  QCheckBox* grid_ = nullptr;
};

class LabelsPage final : public ChartPage<INNChart, IID_INNChart> {
 public:
  LabelsPage()
      : ChartPage(QStringLiteral("Labels"), QStringLiteral("Nonnumeric labels properties"), {187, 95}) {}

 protected:
  void Build(QWidget* page, QSize cell) override {
    auto* label = new QLabel(QStringLiteral("Maximum length of labels"), page);
    label->setGeometry(8, 8, cell.width() - 16, 16);
    length_ = Named(new QLineEdit(page), 217);
    length_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), length_));
    length_->setAlignment(Qt::AlignRight);
    length_->setGeometry(8, 26, 80, 22);
  }
  void FillFrom(INNChart* chart) override {
    LONG length = 0;
    if (SUCCEEDED(chart->get_LabelLength(&length))) length_->setText(QString::number(length));
  }
  void Connect() override {
    MarkDirtyOn(length_, &QLineEdit::textChanged);
  }
  void ApplyToChart(INNChart* chart) override {
    // At most 18 characters; anything that is not above 1 means the shortest length, 2.
    QString text = length_->text().left(18);
    bool ok = false;
    qlonglong n = text.toLongLong(&ok);
    if (!ok || n <= 1) n = 2;
    if (n > INT32_MAX) n = INT32_MAX;  // refused by the control like any length above 64
    chart->put_LabelLength(static_cast<LONG>(n));
  }

 private:
  QLineEdit* length_ = nullptr;
};

// The style shown when the chart cannot say its own.
constexpr SHORT kDefaultChartType = static_cast<SHORT>(ChartType::VerticalBars);

struct ColorSlot {
  int id;
  const char* label;
  DISPID property;
};

// Left column top to bottom, then the right column.
constexpr ColorSlot kColorSlots[] = {
    {209, "Chart fill", DISPID_CHARTFILLCOLOR},
    {210, "Chart pen", DISPID_CHARTPENCOLOR},
    {215, "Chart alternative fill", DISPID_CHARTALTFILLCOLOR},
    {216, "Chart alternative pen", DISPID_CHARTALTPENCOLOR},
    {208, "Chart background", DISPID_CHARTBKGCOLOR},
    {211, "Ruler background", DISPID_RULERBKGCOLOR},
    {212, "Ruler pen", DISPID_RULERPENCOLOR},
    {213, "Ruler alternative pen", DISPID_RULERALTCOLOR},
};

// The order Apply writes the colours in.
constexpr DISPID kApplyOrder[] = {DISPID_CHARTBKGCOLOR,  DISPID_CHARTFILLCOLOR,    DISPID_CHARTPENCOLOR,
                                  DISPID_RULERBKGCOLOR,  DISPID_RULERPENCOLOR,     DISPID_RULERALTCOLOR,
                                  DISPID_CHARTALTFILLCOLOR, DISPID_CHARTALTPENCOLOR};

HRESULT GetColorProperty(IVyrLogChart* chart, DISPID id, OLE_COLOR* value) {
  switch (id) {
    case DISPID_CHARTFILLCOLOR: return chart->get_ChartFillColor(value);
    case DISPID_CHARTPENCOLOR: return chart->get_ChartPenColor(value);
    case DISPID_CHARTALTFILLCOLOR: return chart->get_ChartAltFillColor(value);
    case DISPID_CHARTALTPENCOLOR: return chart->get_ChartAltPenColor(value);
    case DISPID_CHARTBKGCOLOR: return chart->get_ChartBkgColor(value);
    case DISPID_RULERBKGCOLOR: return chart->get_RulerBkgColor(value);
    case DISPID_RULERPENCOLOR: return chart->get_RulerPenColor(value);
    case DISPID_RULERALTCOLOR: return chart->get_RulerAltColor(value);
    default: return E_INVALIDARG;
  }
}

HRESULT PutColorProperty(IVyrLogChart* chart, DISPID id, OLE_COLOR value) {
  switch (id) {
    case DISPID_CHARTFILLCOLOR: return chart->put_ChartFillColor(value);
    case DISPID_CHARTPENCOLOR: return chart->put_ChartPenColor(value);
    case DISPID_CHARTALTFILLCOLOR: return chart->put_ChartAltFillColor(value);
    case DISPID_CHARTALTPENCOLOR: return chart->put_ChartAltPenColor(value);
    case DISPID_CHARTBKGCOLOR: return chart->put_ChartBkgColor(value);
    case DISPID_RULERBKGCOLOR: return chart->put_RulerBkgColor(value);
    case DISPID_RULERPENCOLOR: return chart->put_RulerPenColor(value);
    case DISPID_RULERALTCOLOR: return chart->put_RulerAltColor(value);
    default: return E_INVALIDARG;
  }
}

class AppearancePage final : public ChartPage<IVyrLogChart, IID_IVyrLogChart> {
 public:
  AppearancePage()
      : ChartPage(QStringLiteral("Appearance"), QStringLiteral("Chart style and colors"), {271, 131}) {}

 protected:
  void Build(QWidget* page, QSize cell) override {
    style_ = Named(new QComboBox(page), 206);
    style_->setGeometry(cell.width() - 168, 8, 160, 24);
    auto* group = new QGroupBox(QStringLiteral("Color Schema"), page);
    group->setGeometry(8, 40, cell.width() - 16, 4 * 30 + 28);
    const int column = (cell.width() - 16) / 2;
    for (size_t i = 0; i < std::size(kColorSlots); ++i) {
      const int x = 10 + (i < 4 ? 0 : column);
      const int y = 22 + static_cast<int>(i % 4) * 30;
      buttons_[i] = Named(new ColorButton(group), kColorSlots[i].id);
      buttons_[i]->setGeometry(x, y, 40, 24);
      auto* label = new QLabel(QString::fromLatin1(kColorSlots[i].label), group);
      label->setGeometry(x + 46, y + 4, column - 56, 16);
    }
    hollow_ = Named(new QCheckBox(QStringLiteral("Hollow items"), page), 214);
    hollow_->setGeometry(8, 40 + 4 * 30 + 36, 200, 20);
  }
  void FillFrom(IVyrLogChart* chart) override {
    style_->clear();
    // The list shows the connected styles after their plain ones.
    for (ChartType shown : {ChartType::Dots, ChartType::ConnectedDots, ChartType::Squares, ChartType::ConnectedSquares,
                            ChartType::VerticalBars})
      style_->addItem(ChartTypeName(shown), static_cast<int>(shown));
    SHORT type = kDefaultChartType;
    if (FAILED(chart->get_ChartType(&type))) type = kDefaultChartType;
    style_->setCurrentIndex(style_->findData(static_cast<int>(type)));
    for (size_t i = 0; i < std::size(kColorSlots); ++i) {
      OLE_COLOR color = 0;
      if (SUCCEEDED(GetColorProperty(chart, kColorSlots[i].property, &color)))
        buttons_[i]->SetColor(TranslateColor(color));  // system colours shown as they resolve now
    }
    BOOL hollow = 0;
    if (SUCCEEDED(chart->get_ChartItemHollow(&hollow))) hollow_->setChecked(hollow != 0);
  }
  void Connect() override {
    MarkDirtyOn(style_, &QComboBox::activated);
    MarkDirtyOn(hollow_, &QAbstractButton::clicked);
    for (ColorButton* b : buttons_) MarkDirtyOn(b, &ColorButton::ColorChanged);
  }
  void ApplyToChart(IVyrLogChart* chart) override {
    SHORT type = style_->currentIndex() < 0 ? kDefaultChartType : static_cast<SHORT>(style_->currentData().toInt());
    for (DISPID id : kApplyOrder) {
      for (size_t i = 0; i < std::size(kColorSlots); ++i)
        if (kColorSlots[i].property == id) PutColorProperty(chart, id, buttons_[i]->Color());
    }
    chart->put_ChartType(type);
    chart->put_ChartItemHollow(hollow_->isChecked() ? 1 : 0);
  }

 private:
  QComboBox* style_ = nullptr;
  ColorButton* buttons_[8] = {};
  QCheckBox* hollow_ = nullptr;
};

}  // namespace

HRESULT CreatePropertyPage(const CLSID& clsid, IUnknown* outer, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  PropertyPage* page = nullptr;
  try {
    if (clsid == CLSID_PPGeneral) page = new GeneralPage;
    else if (clsid == CLSID_PPTimeSeries) page = new TimeSeriesPage;
    else if (clsid == CLSID_PPLabels) page = new LabelsPage;
    else if (clsid == CLSID_PPAppear) page = new AppearancePage;
    else return CLASS_E_CLASSNOTAVAILABLE;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = page->QueryInterface(iid, object);
  page->Release();
  return hr;
}

}  // namespace plotwell
