#include "shell/report_tree_model.h"

#include <QColor>

#include "shell/shell_images.h"

namespace weavil {

ReportTreeModel::ReportTreeModel(QObject* parent) : QAbstractItemModel(parent) {
  tree_ = std::make_shared<ReportTree>();
  BuildIndex();
}

void ReportTreeModel::SetTree(std::shared_ptr<ReportTree> tree) {
  beginResetModel();
  tree_ = tree ? std::move(tree) : std::make_shared<ReportTree>();
  BuildIndex();
  endResetModel();
}

void ReportTreeModel::SetTree(std::shared_ptr<ReportTree> tree, ReportTreeIndex index) {
  // An index made for a tree of another size would send index() out of its arrays.
  if (!tree || index.childCount.size() != static_cast<size_t>(tree->RowCount()) + 1) return SetTree(std::move(tree));
  beginResetModel();
  tree_ = std::move(tree);
  index_ = std::move(index);
  endResetModel();
}

void ReportTreeModel::BuildIndex() { index_ = IndexReportTree(*tree_); }

ReportTreeIndex IndexReportTree(const ReportTree& tree) {
  ReportTreeIndex index;
  size_t rowSlots = static_cast<size_t>(tree.RowCount()) + 1;
  index.childCount.assign(rowSlots, 0);
  index.childStart.assign(rowSlots, 0);
  index.position.assign(rowSlots, 0);
  index.children.resize(rowSlots - 1);
  for (RowId r = 1; r < static_cast<RowId>(rowSlots); ++r) ++index.childCount[static_cast<size_t>(tree.Parent(r))];
  int32_t next = 0;
  for (size_t p = 0; p < rowSlots; ++p) {
    index.childStart[p] = next;
    next += index.childCount[p];
  }
  // Walk each parent's sibling chain: after a sort the chain order differs from append order.
  for (size_t p = 0; p < rowSlots; ++p) {
    int32_t at = index.childStart[p];
    int32_t row = 0;
    for (RowId c = tree.FirstChild(static_cast<RowId>(p)); c != kNoRow; c = tree.NextSibling(c)) {
      index.children[static_cast<size_t>(at++)] = c;
      index.position[static_cast<size_t>(c)] = row++;
    }
  }
  return index;
}

void ReportTreeModel::SetCaptions(const QString& column0, const QString& column1) {
  captions_[0] = column0;
  captions_[1] = column1;
  emit headerDataChanged(Qt::Horizontal, 0, kReportColumns - 1);
}

void ReportTreeModel::SetColumnAlignment(int column, Qt::Alignment alignment) {
  if (column < 0 || column >= kReportColumns) return;
  alignment_[column] = alignment;
  emit headerDataChanged(Qt::Horizontal, column, column);
}

Qt::Alignment ReportTreeModel::ColumnAlignment(int column) const {
  if (column < 0 || column >= kReportColumns) return Qt::AlignLeft;
  return alignment_[column];
}

RowId ReportTreeModel::RowOf(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return kNoRow;
  return static_cast<RowId>(index.internalId());
}

QModelIndex ReportTreeModel::IndexOf(RowId row, int column) const {
  if (!tree_->IsRow(row) || column < 0 || column >= kReportColumns) return {};
  return createIndex(index_.position[static_cast<size_t>(row)], column, static_cast<quintptr>(row));
}

void ReportTreeModel::Sort(const SortOrder& order) {
  if (order.column < 0) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  QModelIndexList before = persistentIndexList();
  SortReportTree(*tree_, order);
  BuildIndex();
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex& index : before) after.append(IndexOf(RowOf(index), index.column()));
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ReportTreeModel::RowChanged(RowId row) {
  if (!tree_->IsRow(row)) return;
  emit dataChanged(IndexOf(row, 0), IndexOf(row, kReportColumns - 1));
}

QModelIndex ReportTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column < 0 || column >= kReportColumns || row < 0) return {};
  RowId p = parent.isValid() ? RowOf(parent) : kRootRow;
  if (parent.isValid() && !tree_->IsRow(p)) return {};
  size_t slot = static_cast<size_t>(p);
  if (row >= index_.childCount[slot]) return {};
  RowId child = index_.children[static_cast<size_t>(index_.childStart[slot] + row)];
  return createIndex(row, column, static_cast<quintptr>(child));
}

QModelIndex ReportTreeModel::parent(const QModelIndex& child) const {
  RowId row = RowOf(child);
  if (!tree_->IsRow(row)) return {};
  RowId p = tree_->Parent(row);
  if (p == kRootRow) return {};
  return IndexOf(p, 0);
}

int ReportTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return 0;
  RowId p = parent.isValid() ? RowOf(parent) : kRootRow;
  if (parent.isValid() && !tree_->IsRow(p)) return 0;
  return index_.childCount[static_cast<size_t>(p)];
}

int ReportTreeModel::columnCount(const QModelIndex&) const { return kReportColumns; }

bool ReportTreeModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

QVariant ReportTreeModel::data(const QModelIndex& index, int role) const {
  RowId row = RowOf(index);
  if (!tree_->IsRow(row)) return {};
  switch (role) {
    case Qt::DisplayRole: {
      std::string_view text = tree_->Text(row, index.column());
      return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    case Qt::DecorationRole:
      if (index.column() == 0) return TreeImage(tree_->Image(row));
      return {};
    case Qt::ForegroundRole:
      if (tree_->State(row) == kStateGrey) return QColor(128, 128, 128);
      if (tree_->State(row) == kStateRed) return QColor(255, 0, 0);
      return {};
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(ColumnAlignment(index.column()) | Qt::AlignVCenter);
    case kStateRole:
      return tree_->State(row);
    case kKeyRole:
      return tree_->Key(row);
    case kRowIdRole:
      return row;
    case kItemParamRole:
      return static_cast<qlonglong>(tree_->ItemParam(row));
    default:
      return {};
  }
}

QVariant ReportTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kReportColumns) return {};
  if (role == Qt::DisplayRole) return captions_[section];
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(ColumnAlignment(section) | Qt::AlignVCenter);
  return {};
}

Qt::ItemFlags ReportTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

}  // namespace weavil
