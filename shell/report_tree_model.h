#pragma once
// A Qt item model over a finished report tree. The tree is never copied into items: the
// model keeps, per parent, the positions of its children in one flat array, so index(),
// parent() and rowCount() are constant time even with hundreds of thousands of rows.
#include <QAbstractItemModel>

#include <memory>
#include <vector>

#include "reports/report_tree.h"

namespace weavil {

// Per parent, the positions of its children in one flat array:
// children[childStart[p] .. childStart[p] + childCount[p]) are the children of p in
// display order; position[r] is r's row among its siblings. Built off the user-interface
// thread for a large tree, as it walks every row.
struct ReportTreeIndex {
  std::vector<RowId> children;
  std::vector<int32_t> childStart, childCount, position;
};
ReportTreeIndex IndexReportTree(const ReportTree& tree);

class ReportTreeModel : public QAbstractItemModel {
 public:
  enum Roles { kStateRole = Qt::UserRole + 1, kKeyRole, kRowIdRole, kItemParamRole };

  explicit ReportTreeModel(QObject* parent = nullptr);

  // Replaces the shown tree (null: an empty one). A model reset: views lose selection.
  void SetTree(std::shared_ptr<ReportTree> tree);
  // The same with the tree's index already built (IndexReportTree of this tree as it is);
  // an index of another number of rows is made again.
  void SetTree(std::shared_ptr<ReportTree> tree, ReportTreeIndex index);
  const std::shared_ptr<ReportTree>& Tree() const { return tree_; }

  void SetCaptions(const QString& column0, const QString& column1);
  void SetColumnAlignment(int column, Qt::Alignment alignment);
  Qt::Alignment ColumnAlignment(int column) const;

  RowId RowOf(const QModelIndex& index) const;
  QModelIndex IndexOf(RowId row, int column = 0) const;

  // Sorts the tree in place and tells the views, keeping selection and expansion.
  void Sort(const SortOrder& order);
  // A row's texts or state changed (relabelled visitor).
  void RowChanged(RowId row);

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  void BuildIndex();

  std::shared_ptr<ReportTree> tree_;
  ReportTreeIndex index_;
  QString captions_[kReportColumns];
  Qt::Alignment alignment_[kReportColumns] = {Qt::AlignLeft, Qt::AlignLeft};
};

}  // namespace weavil
