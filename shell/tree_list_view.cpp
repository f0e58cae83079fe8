#include "shell/tree_list_view.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <chrono>
#include <cmath>

#include "shell/report_tree_model.h"
#include "shell/shell_images.h"

namespace weavil {
namespace {

constexpr int kImageSize = 16;
constexpr int kImageLeft = 1;
constexpr int kTextGap = 4;  // between the image and the label
constexpr int kRowHeight = 18;

int64_t SteadyMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The left edge of the label (and of the selection fill) inside column 0's cell.
int LabelLeft(const QRect& cell) { return cell.left() + kImageLeft + kImageSize + kTextGap - 2; }

double Luminance(const QColor& c) { return 0.299 * c.redF() + 0.587 * c.greenF() + 0.114 * c.blueF(); }

// The contrast of two colours as the web's accessibility rules measure it (1 to 21).
double Contrast(const QColor& a, const QColor& b) {
  auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  auto relative = [&](const QColor& c) {
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
  };
  double la = relative(a), lb = relative(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableOn(const QColor& wanted, const QColor& fill, const QColor& fallback) {
  // Readable enough: the contrast the selection's own text has, at most 3:1.
  const double needed = std::min(3.0, Contrast(fallback, fill));
  QColor colour = wanted;
  for (int step = 1; step <= 10 && Contrast(colour, fill) < needed; ++step) {
    const double t = step / 10.0;
    colour = QColor::fromRgbF(static_cast<float>(wanted.redF() + (fallback.redF() - wanted.redF()) * t),
                              static_cast<float>(wanted.greenF() + (fallback.greenF() - wanted.greenF()) * t),
                              static_cast<float>(wanted.blueF() + (fallback.blueF() - wanted.blueF()) * t));
  }
  return colour;
}

// The tree draws no selection or focus of its own: the row painting below does.
class PlainRowStyle : public QProxyStyle {
 public:
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (element == PE_PanelItemViewRow || element == PE_PanelItemViewItem || element == PE_FrameFocusRect) return;
    QProxyStyle::drawPrimitive(element, option, painter, widget);
  }
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_ItemView_ShowDecorationSelected) return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

}  // namespace

// ------------------------------------------------------------------ header

class ReportHeader : public QHeaderView {
 public:
  explicit ReportHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setSectionsMovable(false);
    setStretchLastSection(false);
    setHighlightSections(false);
  }
  void SetImage(int column, int image) {
    if (column < 0 || column >= kReportColumns) return;
    images_[column] = image;
    viewport()->update();
  }
  int Image(int column) const { return column >= 0 && column < kReportColumns ? images_[column] : 0; }

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
    if (!rect.isValid()) return;
    QStyleOptionHeader option;
    initStyleOption(&option);
    option.rect = rect;
    option.section = logicalIndex;
    option.state |= QStyle::State_Enabled | QStyle::State_Raised;
    option.sortIndicator = QStyleOptionHeader::None;
    option.text.clear();
    painter->save();
    style()->drawControl(QStyle::CE_HeaderSection, &option, painter, this);
    painter->restore();

    QString caption = model() ? model()->headerData(logicalIndex, Qt::Horizontal).toString() : QString();
    Qt::Alignment align = model() ? Qt::Alignment(model()->headerData(logicalIndex, Qt::Horizontal,
                                                                      Qt::TextAlignmentRole).toInt())
                                  : Qt::Alignment(Qt::AlignLeft);
    // The caption, then the direction mark to its right.
    QRect textRect = rect.adjusted(6, 0, -6 - kImageSize - 2, 0);
    QFontMetrics metrics(font());
    QString shown = metrics.elidedText(caption, Qt::ElideRight, std::max(0, textRect.width()));
    int textWidth = metrics.horizontalAdvance(shown);
    int textLeft = textRect.left();
    if (align & Qt::AlignRight) textLeft = textRect.right() - textWidth + 1;
    else if (align & Qt::AlignHCenter) textLeft = textRect.left() + (textRect.width() - textWidth) / 2;
    painter->save();
    painter->setFont(font());
    painter->setPen(palette().color(QPalette::ButtonText));
    painter->drawText(QRect(textLeft, rect.top(), textWidth + 1, rect.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      shown);
    int image = Image(logicalIndex);
    if (image != 0)
      painter->drawPixmap(textLeft + textWidth + 2, rect.top() + (rect.height() - kImageSize) / 2,
                          SortMarkImage(image));
    painter->restore();
  }

 private:
  int images_[kReportColumns] = {0, 0};
};

// ------------------------------------------------------------------ rows

class RowDelegate : public QStyledItemDelegate {
 public:
  RowDelegate(TreeListView* owner, QObject* parent) : QStyledItemDelegate(parent), owner_(owner) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QWidget* tree = owner_->TreeWidget();
    const QPalette& palette = tree->palette();
    const QRect cell = option.rect;
    const bool loading = owner_->IsLoading();
    const bool selected = option.state & QStyle::State_Selected;
    const bool focus = selected && tree->hasFocus();

    QRect fill = cell;
    QRect textRect = cell.adjusted(2, 0, -2, -1);
    if (index.column() == 0) {
      QVariant image = index.data(Qt::DecorationRole);
      if (image.canConvert<QPixmap>())
        painter->drawPixmap(cell.left() + kImageLeft, cell.top() + (cell.height() - kImageSize) / 2,
                            image.value<QPixmap>());
      fill.setLeft(LabelLeft(cell));
      textRect.setLeft(fill.left() + 2);
    } else if (loading) {
      return;  // while a report fills, only the tree's own labels show
    }

    QColor text = palette.color(QPalette::Text);
    QColor face = palette.color(QPalette::Button);
    if (selected) {
      // A button face as light as the window would hide the selection altogether.
      if (std::abs(Luminance(face) - Luminance(palette.color(QPalette::Base))) < 0.1) face = face.darker(118);
      if (focus) face = palette.color(QPalette::Highlight);
      painter->fillRect(fill, face);
      text = palette.color(QPalette::HighlightedText);
      // On a light button face the highlight text would vanish: keep it readable.
      if (!focus && std::abs(Luminance(text) - Luminance(palette.color(QPalette::Button))) < 0.35)
        text = palette.color(QPalette::WindowText);
    }
    if (!loading) {
      int state = index.data(ReportTreeModel::kStateRole).toInt();
      QColor marked = state == kStateGrey ? QColor(128, 128, 128) : state == kStateRed ? QColor(255, 0, 0) : QColor();
      // Grey or red on the selection's fill can all but vanish; move it towards the
      // selection's text colour until it reads.
      if (marked.isValid()) text = selected ? ReadableOn(marked, face, text) : marked;
    }

    QString label = index.data(Qt::DisplayRole).toString();
    Qt::Alignment align = index.column() == 0 ? Qt::Alignment(Qt::AlignLeft)
                                              : Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt() &
                                                              Qt::AlignHorizontal_Mask);
    if (!align) align = Qt::AlignLeft;
    QString shown = option.fontMetrics.elidedText(label, Qt::ElideRight, std::max(0, textRect.width()));
    painter->save();
    painter->setPen(text);
    painter->setFont(option.font);
    painter->drawText(textRect, static_cast<int>(align | Qt::AlignBottom | Qt::TextSingleLine), shown);
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(kRowHeight, option.fontMetrics.height() + 3));
    return size;
  }

 private:
  TreeListView* owner_;
};

// ------------------------------------------------------------------ tree

class ReportTreeView : public QTreeView {
 public:
  ReportTreeView(TreeListView* owner, QWidget* parent) : QTreeView(parent), owner_(owner) {}

 protected:
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QTreeView::drawRow(painter, option, index);
    // The focus rectangle spans the label and the columns, as the fill does.
    if (!hasFocus() || !selectionModel() || !selectionModel()->isSelected(index)) return;
    QRect cell = visualRect(index.siblingAtColumn(0));
    int right = header()->sectionViewportPosition(header()->logicalIndex(header()->count() - 1)) +
                header()->sectionSize(header()->logicalIndex(header()->count() - 1));
    QRect focus(LabelLeft(cell), option.rect.top(), std::max(right, cell.right()) - LabelLeft(cell),
                option.rect.height() - 1);
    QPen pen(palette().color(QPalette::HighlightedText));
    pen.setDashPattern({1, 1});
    painter->save();
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(focus);
    painter->restore();
  }

  // Dotted lines from each row to its parent and siblings, and boxed +/- buttons.
  void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override {
    const QAbstractItemModel* m = model();
    const int indent = indentation();
    const int right = rect.right() + 1;
    const int midY = rect.top() + rect.height() / 2;
    const int midX = right - indent + indent / 2;
    QPen dots(QColor(128, 128, 128));
    dots.setDashPattern({1, 1});
    painter->save();
    painter->setPen(dots);
    const QModelIndex parent = index.parent();
    const bool hasNext = index.row() + 1 < m->rowCount(parent);
    const bool first = !parent.isValid() && index.row() == 0;
    if (!first) painter->drawLine(midX, rect.top(), midX, midY);
    if (hasNext) painter->drawLine(midX, midY, midX, rect.bottom());
    painter->drawLine(midX, midY, right - 2, midY);
    int x = midX - indent;
    for (QModelIndex a = parent; a.isValid(); a = a.parent(), x -= indent)
      if (a.row() + 1 < m->rowCount(a.parent())) painter->drawLine(x, rect.top(), x, rect.bottom());
    if (m->hasChildren(index)) {
      QRect box(midX - 4, midY - 4, 8, 8);
      painter->setPen(QColor(128, 128, 128));
      painter->setBrush(palette().base());
      painter->drawRect(box);
      painter->setPen(palette().color(QPalette::Text));
      painter->drawLine(box.left() + 2, midY, box.right() - 2, midY);
      if (!isExpanded(index)) painter->drawLine(midX, box.top() + 2, midX, box.bottom() - 2);
    }
    painter->restore();
  }

 private:
  TreeListView* owner_;
};

// ------------------------------------------------------------------ the control

TreeListView::TreeListView(QWidget* parent) : QWidget(parent), clock_(SteadyMilliseconds) {
  model_ = new ReportTreeModel(this);
  tree_ = new ReportTreeView(this, this);
  header_ = new ReportHeader(tree_);
  tree_->setHeader(header_);
  // setHeader() makes the sections as clickable as the tree's own sorting, which is off:
  // the header's clicks sort through ClickHeader instead.
  header_->setSectionsClickable(true);
  tree_->setModel(model_);
  tree_->setItemDelegate(new RowDelegate(this, tree_));
  auto* plain = new PlainRowStyle;
  plain->setParent(this);  // created after the tree, so deleted after it
  tree_->setStyle(plain);
  tree_->setUniformRowHeights(true);
  tree_->setRootIsDecorated(true);
  tree_->setItemsExpandable(true);
  tree_->setExpandsOnDoubleClick(true);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
  tree_->setAllColumnsShowFocus(true);
  tree_->setDragEnabled(false);
  tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree_->setIndentation(19);
  tree_->setIconSize(QSize(kImageSize, kImageSize));
  tree_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  tree_->viewport()->installEventFilter(this);
  tree_->installEventFilter(this);
  setFocusProxy(tree_);

  loadingPane_ = new QTreeWidget(tree_);
  loadingPane_->setHeaderHidden(true);
  loadingPane_->setRootIsDecorated(true);
  loadingPane_->setIconSize(QSize(kImageSize, kImageSize));
  loadingPane_->setFocusPolicy(Qt::NoFocus);
  auto* item = new QTreeWidgetItem(loadingPane_, QStringList(QStringLiteral("Loading...")));
  item->setIcon(0, QIcon(TreeImage(kImageLeaf)));
  loadingPane_->hide();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tree_);

  connect(header_, &QHeaderView::sectionClicked, this, [this](int column) { ClickHeader(column); });
  // A press on a row's label makes it current before it selects it; the owner reads the
  // selected row, so the notice waits until the selection has moved.
  connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { emit SelectionNotice(); });
  connect(tree_, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
    // The tree's own double click on a label: leaves want their details, parents fold.
    if (index.isValid() && !model_->hasChildren(index.siblingAtColumn(0))) emit DetailsRequested();
  });
}

TreeListView::~TreeListView() = default;

void TreeListView::SetColumns(const QString& caption0, int width0, const QString& caption1, int width1) {
  model_->SetCaptions(caption0, caption1);
  header_->resizeSection(0, width0);
  header_->resizeSection(1, width1);
}

void TreeListView::SetColumnAlignment(int column, Qt::Alignment alignment) {
  model_->SetColumnAlignment(column, alignment);
}

void TreeListView::SetTree(std::shared_ptr<ReportTree> tree) {
  // A rebuilt tree arrives in query order; keep showing the order the header shows.
  if (tree && sortable_ && order_.column >= 0) SortReportTree(*tree, order_);
  ShowTree(std::move(tree), nullptr);
}

void TreeListView::SetPreparedTree(std::shared_ptr<ReportTree> tree, const SortOrder& sortedBy,
                                   ReportTreeIndex index) {
  const bool wanted = tree && sortable_ && order_.column >= 0;
  const bool sortedAsShown = wanted ? sortedBy.column == order_.column && sortedBy.direction == order_.direction
                                    : sortedBy.column < 0;
  if (!sortedAsShown) return SetTree(std::move(tree));
  ShowTree(std::move(tree), &index);
}

void TreeListView::ShowTree(std::shared_ptr<ReportTree> tree, ReportTreeIndex* index) {
  havePress_ = false;
  int width0 = header_->sectionSize(0), width1 = header_->sectionSize(1);
  if (index) model_->SetTree(std::move(tree), std::move(*index));
  else model_->SetTree(std::move(tree));
  header_->resizeSection(0, width0);
  header_->resizeSection(1, width1);
}

const std::shared_ptr<ReportTree>& TreeListView::Tree() const { return model_->Tree(); }

void TreeListView::SetLoading(bool loading) {
  if (loading_ == loading) return;
  loading_ = loading;
  tree_->viewport()->update();
}

void TreeListView::ShowLoadingPane(bool show) {
  if (show) {
    loadingPane_->setGeometry(tree_->viewport()->geometry());
    loadingPane_->raise();
    loadingPane_->show();
  } else {
    loadingPane_->hide();
  }
}

bool TreeListView::LoadingPaneShown() const { return !loadingPane_->isHidden(); }

QTreeView* TreeListView::TreeWidget() const { return tree_; }

void TreeListView::ClickHeader(int column) {
  if (!sortable_ || column < 0 || column >= kReportColumns) return;
  ClickSortColumn(order_, column);
  if (order_.previousColumn >= 0) header_->SetImage(order_.previousColumn, 0);
  header_->SetImage(order_.column, order_.direction + 1);
  model_->Sort(order_);
  emit SelectionNotice();
}

RowId TreeListView::SelectedRow() const {
  QModelIndexList rows = tree_->selectionModel()->selectedRows(0);
  if (rows.isEmpty()) return kNoRow;
  return model_->RowOf(rows.front());
}

int32_t TreeListView::SelectedKey() const {
  RowId row = SelectedRow();
  const ReportTree& tree = *model_->Tree();
  return tree.IsRow(row) ? tree.Key(row) : 0;
}

void TreeListView::SelectRow(RowId row) {
  QModelIndex index = model_->IndexOf(row, 0);
  if (!index.isValid()) return;
  for (QModelIndex a = index.parent(); a.isValid(); a = a.parent()) tree_->expand(a);
  tree_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  tree_->scrollTo(index);
}

RowId TreeListView::SelectPath(const std::string& path) {
  RowId row = model_->Tree()->FindPath(path);
  if (row != kNoRow) SelectRow(row);
  return row;
}

std::string TreeListView::SelectionPath() const {
  RowId row = SelectedRow();
  return row == kNoRow ? std::string() : model_->Tree()->PathOf(row);
}

void TreeListView::RowChanged(RowId row) { model_->RowChanged(row); }

int TreeListView::LabelRight(const QModelIndex& index) const {
  QRect cell = tree_->visualRect(index.siblingAtColumn(0));
  QString text = index.siblingAtColumn(0).data(Qt::DisplayRole).toString();
  return LabelLeft(cell) + 2 + tree_->fontMetrics().horizontalAdvance(text) + 2;
}

bool TreeListView::HandlePress(const QPoint& at) {
  QModelIndex index = tree_->indexAt(at);
  if (!index.isValid()) return false;
  index = index.siblingAtColumn(0);
  // On the expand button, the image or the label the tree acts itself.
  if (at.x() <= LabelRight(index)) return false;
  RowId row = model_->RowOf(index);
  int64_t now = clock_();
  bool doublePress = havePress_ && row == lastPressRow_ && now - lastPressTime_ < kDoublePressMs;
  tree_->setFocus(Qt::MouseFocusReason);
  tree_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  if (doublePress) {
    havePress_ = false;  // a third press starts over
    if (model_->hasChildren(index)) tree_->setExpanded(index, !tree_->isExpanded(index));
    else emit DetailsRequested();
  } else {
    havePress_ = true;
    lastPressRow_ = row;
    lastPressTime_ = now;
  }
  return true;
}

bool TreeListView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tree_->viewport()) {
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton && HandlePress(mouse->position().toPoint())) return true;
    }
  } else if (watched == tree_ && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest)) {
    if (loadingPane_->isVisible()) loadingPane_->setGeometry(tree_->viewport()->geometry());
  }
  return QWidget::eventFilter(watched, event);
}

void TreeListView::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  tree_->setFocus(event->reason());
}

}  // namespace weavil
