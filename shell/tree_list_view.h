#pragma once
// The tree with columns under every report: a header on top, the tree's own lines,
// expand buttons and images, the column texts drawn over each row in the row's state
// colour, a separate "Loading..." pane, header-click sorting, and the click rules that
// turn presses into requests to the main window.
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "reports/report_tree.h"
#include "shell/report_tree_model.h"

class QTreeView;
class QTreeWidget;
class QModelIndex;

namespace weavil {

class ReportTreeModel;
class ReportHeader;
class ReportTreeView;

class TreeListView : public QWidget {
  Q_OBJECT

 public:
  // Presses closer together than this on one row count as a double press.
  static constexpr int64_t kDoublePressMs = 500;

  explicit TreeListView(QWidget* parent = nullptr);
  ~TreeListView() override;

  // The two columns: captions, widths and the alignment of their texts.
  void SetColumns(const QString& caption0, int width0, const QString& caption1, int width1);
  void SetColumnAlignment(int column, Qt::Alignment alignment);

  // Shows a finished tree (the view keeps a reference; nothing else changes it).
  void SetTree(std::shared_ptr<ReportTree> tree);
  // The same for a tree that a worker has already sorted (by sortedBy; column -1 when
  // not) and indexed: when the view's order is still that one, the tree is shown as it
  // is, without a walk of its rows here.
  void SetPreparedTree(std::shared_ptr<ReportTree> tree, const SortOrder& sortedBy, ReportTreeIndex index);
  const std::shared_ptr<ReportTree>& Tree() const;

  // While loading only the tree's own labels are drawn, no column texts.
  void SetLoading(bool loading);
  bool IsLoading() const { return loading_; }
  void ShowLoadingPane(bool show);
  bool LoadingPaneShown() const;

  // Header clicks sort only when the view is sortable (CompareRows on the tree).
  void SetSortable(bool sortable) { sortable_ = sortable; }
  bool IsSortable() const { return sortable_; }
  const SortOrder& Order() const { return order_; }
  // What a click on a header item does.
  void ClickHeader(int column);

  RowId SelectedRow() const;
  // The selected row's key, 0 without a selection.
  int32_t SelectedKey() const;
  void SelectRow(RowId row);
  // Expands and selects the row of a "piece|piece|" path (the last piece found).
  RowId SelectPath(const std::string& path);
  std::string SelectionPath() const;
  // The row's texts or state changed in the tree.
  void RowChanged(RowId row);

  QTreeView* TreeWidget() const;
  ReportTreeModel* Model() const { return model_; }
  // The clock of the click rules, in milliseconds (tests replace it).
  void SetClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }

 signals:
  // The details of the selected leaf row are wanted (the "Visitor..." command).
  void DetailsRequested();
  // The selection or the order changed; the owner reads the selected row's key.
  void SelectionNotice();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  friend class ReportTreeView;
  bool HandlePress(const QPoint& at);
  int LabelRight(const QModelIndex& index) const;
  // Hands the tree to the model (with its index when one was made) keeping the widths.
  void ShowTree(std::shared_ptr<ReportTree> tree, ReportTreeIndex* index);

  ReportTreeModel* model_ = nullptr;
  ReportTreeView* tree_ = nullptr;
  ReportHeader* header_ = nullptr;
  QTreeWidget* loadingPane_ = nullptr;
  bool loading_ = true;
  bool sortable_ = false;
  SortOrder order_;
  RowId lastPressRow_ = kNoRow;
  int64_t lastPressTime_ = 0;
  bool havePress_ = false;
  std::function<int64_t()> clock_;
};

}  // namespace weavil
