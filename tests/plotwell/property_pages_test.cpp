#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QWidget>

#include "charts/chart_properties.h"
#include "charts/controls/chart_controls.h"
#include "charts/controls/property_pages.h"
#include "vyrcom/instance.h"
#include "component/qt/property_frame.h"
#include "tests/plotwell/plotwell_test_container.h"

using namespace plotwell;
using namespace plotwell::test;

namespace {

class StatusSite final : public IPropertyPageSite {
 public:
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IPropertyPageSite) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT OnStatusChange(DWORD flags) override {
    statuses.push_back(flags);
    return S_OK;
  }
  HRESULT GetLocaleID(LCID* lcid) override { return *lcid = 0, S_OK; }
  HRESULT GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
  HRESULT TranslateAccelerator(void*) override { return E_NOTIMPL; }
  ULONG refs = 1;
  std::vector<DWORD> statuses;
};

class Pages : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    ASSERT_EQ(RegisterServer(LibraryPath()), S_OK);
    ASSERT_EQ(CreateInstance(CLSID_TimeSeriesChart, IID_ITimeSeriesChart, first_.PutVoid()), S_OK);
    ASSERT_EQ(CreateInstance(CLSID_TimeSeriesChart, IID_ITimeSeriesChart, second_.PutVoid()), S_OK);
    parent_ = std::make_unique<QWidget>();
  }
  void TearDown() override {
    if (page_) {
      page_->Deactivate();
      page_->SetObjects(0, nullptr);
      page_->SetPageSite(nullptr);
    }
    SetColorChooser({});
  }
  // Activates a page of the library's code for both controls.
  void Open(const CLSID& clsid) {
    ASSERT_EQ(CreatePropertyPage(clsid, nullptr, IID_IPropertyPage, page_.PutVoid()), S_OK);
    page_->SetPageSite(&site_);
    IUnknown* objects[] = {first_.Get(), second_.Get()};
    ASSERT_EQ(page_->SetObjects(2, objects), S_OK);
    RECT bounds{0, 0, 500, 300};
    ASSERT_EQ(page_->Activate(parent_.get(), &bounds, 1), S_OK);
  }
  template <class W>
  W* Control(int id) {
    W* w = parent_->findChild<W*>(QString::number(id));
    EXPECT_NE(w, nullptr) << id;
    return w;
  }

  RegistryScope registry_;
  ComPtr<ITimeSeriesChart> first_, second_;
  std::unique_ptr<QWidget> parent_;
  StatusSite site_;
  ComPtr<IPropertyPage> page_;
};

}  // namespace

TEST_F(Pages, AppearanceListsStylesInItsOrderAndAppliesToEveryObject) {
  first_->put_ChartType(3);
  first_->put_ChartFillColor(0x80000005);  // a system colour reference
  Open(CLSID_PPAppear);
  PROPPAGEINFO info{};
  ASSERT_EQ(page_->GetPageInfo(&info), S_OK);
  EXPECT_EQ(QString::fromUtf16(info.pszTitle), "Appearance");
  EXPECT_EQ(QString::fromUtf16(info.pszDocString), "Chart style and colors");
  EXPECT_EQ(info.pszHelpFile, nullptr);
  EXPECT_GT(info.size.cx, info.size.cy);  // 271 x 131 dialog units
  CoTaskMemFree(info.pszTitle);
  CoTaskMemFree(info.pszDocString);

  auto* style = Control<QComboBox>(206);
  ASSERT_EQ(style->count(), 5);
  const char* names[] = {"Dots", "Connected Dots", "Squares", "Connected Squares", "Vertical Bars"};
  const int values[] = {0, 2, 1, 3, 4};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(style->itemText(i), names[i]);
    EXPECT_EQ(style->itemData(i).toInt(), values[i]);
  }
  EXPECT_EQ(style->currentData().toInt(), 3);  // read from the first object
  // The reference shows as the colour it resolves to, and Apply writes that colour.
  auto* fill = Control<ColorButton>(209);
  EXPECT_EQ(fill->Color(), TranslateColor(0x80000005));
  EXPECT_EQ(page_->IsPageDirty(), S_FALSE);

  style->setCurrentIndex(1);
  Q_EMIT style->activated(1);
  EXPECT_EQ(page_->IsPageDirty(), S_OK);
  ASSERT_FALSE(site_.statuses.empty());
  EXPECT_EQ(site_.statuses.back(), PROPPAGESTATUS_DIRTY | PROPPAGESTATUS_VALIDATE);
  Control<QCheckBox>(214)->click();
  ASSERT_EQ(page_->Apply(), S_OK);
  EXPECT_EQ(page_->IsPageDirty(), S_FALSE);
  EXPECT_EQ(site_.statuses.back(), PROPPAGESTATUS_CLEAN);
  for (auto* chart : {first_.Get(), second_.Get()}) {
    SHORT type = 0;
    BOOL hollow = 0;
    OLE_COLOR color = 0;
    chart->get_ChartType(&type);
    chart->get_ChartItemHollow(&hollow);
    chart->get_ChartFillColor(&color);
    EXPECT_EQ(type, 2);
    EXPECT_NE(hollow, 0);
    EXPECT_EQ(color, TranslateColor(0x80000005));
  }
}

TEST_F(Pages, ColourButtonsAreDirtyOnlyForAChangedColour) {
  Open(CLSID_PPAppear);
  auto* pen = Control<ColorButton>(210);
  const std::uint32_t original = pen->Color();
  QColor answer;
  bool confirm = false;
  int asked = 0;
  SetColorChooser([&](QWidget*, QColor initial, QColor* chosen) {
    ++asked;
    EXPECT_EQ(initial, QColor(RedOf(original), GreenOf(original), BlueOf(original)));
    *chosen = answer;
    return confirm;
  });
  answer = QColor(1, 2, 3);
  pen->click();  // cancelled
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(page_->IsPageDirty(), S_FALSE);
  EXPECT_EQ(pen->Color(), original);
  confirm = true;
  answer = QColor(RedOf(original), GreenOf(original), BlueOf(original));
  pen->click();  // the same colour confirmed
  EXPECT_EQ(page_->IsPageDirty(), S_FALSE);
  answer = QColor(1, 2, 3);
  pen->click();
  EXPECT_EQ(page_->IsPageDirty(), S_OK);
  EXPECT_EQ(pen->Color(), MakeColor(1, 2, 3));
  page_->Apply();
  OLE_COLOR color = 0;
  second_->get_ChartPenColor(&color);
  EXPECT_EQ(color, MakeColor(1, 2, 3));
}

TEST_F(Pages, GeneralAndTimeSeriesPagesReadTheFirstObjectAndWriteBoth) {
  BSTR caption = BstrFromUtf8("Hits");
  first_->put_Caption(caption);
  SysFreeString(caption);
  first_->put_FilterType(2);
  Open(CLSID_PPTimeSeries);
  auto* filter = Control<QComboBox>(215);
  ASSERT_EQ(filter->count(), 4);
  EXPECT_EQ(filter->itemText(0), "Hourly");
  EXPECT_EQ(filter->itemText(3), "Yearly");
  EXPECT_EQ(filter->currentData().toInt(), 2);
  Control<QCheckBox>(216)->click();
  EXPECT_EQ(page_->IsPageDirty(), S_OK);
  page_->Apply();
  for (auto* chart : {first_.Get(), second_.Get()}) {
    SHORT f = 0;
    BOOL grid = 0;
    chart->get_FilterType(&f);
    chart->get_RegularGrid(&grid);
    EXPECT_EQ(f, 2);
    EXPECT_NE(grid, 0);
  }
  TearDown();
  page_.Reset();

  Open(CLSID_PPGeneral);
  auto* edit = Control<QLineEdit>(201);
  EXPECT_EQ(edit->text(), "Hits");
  EXPECT_TRUE(Control<QRadioButton>(203)->isChecked());
  EXPECT_EQ(page_->IsPageDirty(), S_FALSE);
  edit->setText(QString());
  Control<QRadioButton>(204)->click();
  page_->Apply();
  BSTR back = nullptr;
  second_->get_Caption(&back);
  ASSERT_NE(back, nullptr);  // the empty string, not none
  EXPECT_EQ(SysStringLen(back), 0u);
  SysFreeString(back);
  SHORT measure = 0;
  second_->get_MeasureType(&measure);
  EXPECT_EQ(measure, 1);
}

TEST_F(Pages, LabelLengthTextFollowsTheShortestAndLongestRules) {
  ComPtr<INNChart> a, b;
  ASSERT_EQ(CreateInstance(CLSID_NNChart, IID_INNChart, a.PutVoid()), S_OK);
  ASSERT_EQ(CreateInstance(CLSID_NNChart, IID_INNChart, b.PutVoid()), S_OK);
  ASSERT_EQ(CreatePropertyPage(CLSID_PPLabels, nullptr, IID_IPropertyPage, page_.PutVoid()), S_OK);
  IUnknown* objects[] = {a.Get(), b.Get()};
  page_->SetPageSite(&site_);
  page_->SetObjects(2, objects);
  RECT bounds{0, 0, 300, 200};
  page_->Activate(parent_.get(), &bounds, 1);
  auto* edit = Control<QLineEdit>(217);
  EXPECT_EQ(edit->text(), "16");
  auto applied = [&](const QString& text) {
    edit->setText(text);
    page_->Apply();
    LONG n = 0;
    b->get_LabelLength(&n);
    return n;
  };
  EXPECT_EQ(applied("40"), 40);
  EXPECT_EQ(applied(""), 2);
  EXPECT_EQ(applied("30"), 30);
  EXPECT_EQ(applied("0"), 2);
  EXPECT_EQ(applied("1"), 2);
  EXPECT_EQ(applied("64"), 64);
  EXPECT_EQ(applied("99"), 64);  // refused by the control, which keeps its length
}

TEST_F(Pages, PropertyFrameShowsTheSharedPagesAsTabs) {
  ComPtr<INNChart> items;
  ASSERT_EQ(CreateInstance(CLSID_NNChart, IID_INNChart, items.PutVoid()), S_OK);
  {
    vyr::com::PropertyFrame frame("Chart", {first_.Get(), second_.Get()});
    ASSERT_EQ(frame.PageCount(), 3);
    EXPECT_EQ(frame.Tabs()->tabText(0), "General");
    EXPECT_EQ(frame.Tabs()->tabText(1), "Time Series");
    EXPECT_EQ(frame.Tabs()->tabText(2), "Appearance");
    QPushButton* apply = frame.Buttons()->button(QDialogButtonBox::Apply);
    EXPECT_FALSE(apply->isEnabled());
    auto* grid = frame.Tabs()->widget(1)->findChild<QCheckBox*>("216");
    ASSERT_NE(grid, nullptr);
    grid->click();
    EXPECT_TRUE(apply->isEnabled());
    apply->click();
    EXPECT_FALSE(apply->isEnabled());
    BOOL on = 0;
    second_->get_RegularGrid(&on);
    EXPECT_NE(on, 0);
  }
  // A time series and a non-numeric chart share General and Appearance only.
  vyr::com::PropertyFrame mixed("Charts", {first_.Get(), items.Get()});
  ASSERT_EQ(mixed.PageCount(), 2);
  EXPECT_EQ(mixed.Tabs()->tabText(1), "Appearance");
}
