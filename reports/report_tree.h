#pragma once
// A report tree without any toolkit: rows appended as the last child of their parent,
// two column texts, a display state, a key, a tree item parameter and an image per row.
// Rows live in parallel arrays and their texts in one character pool, so a tree of a
// million rows is a handful of allocations. The shell shows it through an item model;
// the command line prints it.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace weavil {

// A row handle: 1, 2, ... in the order the rows were appended. 0 is the invisible root
// (as a parent) or "no row".
using RowId = int32_t;
inline constexpr RowId kRootRow = 0;
inline constexpr RowId kNoRow = 0;

// Display states.
inline constexpr int32_t kStateNormal = 0;
inline constexpr int32_t kStateGrey = 1;  // text red 128, green 128, blue 128
inline constexpr int32_t kStateRed = 2;   // text red 255, green 0, blue 0

// Images of the 16 x 16 image list.
inline constexpr int32_t kImageGroup = 0;
inline constexpr int32_t kImageVisit = 1;
inline constexpr int32_t kImageRobotVisit = 2;
inline constexpr int32_t kImageLeaf = 4;

inline constexpr int kReportColumns = 2;

class ReportTree {
 public:
  ReportTree();

  void Clear();
  // Appends a row as the last child of parent (kRootRow for a top-level row). Every
  // column of a new row holds a single blank; state and key are 0.
  RowId AppendRow(RowId parent, std::string_view text, int32_t image);
  // Room for this many rows and bytes of text, so that a large tree is not copied
  // while it grows.
  void Reserve(size_t rows, size_t textBytes);

  int32_t RowCount() const { return static_cast<int32_t>(parent_.size()) - 1; }
  bool IsRow(RowId row) const { return row >= 1 && row < static_cast<RowId>(parent_.size()); }

  RowId Parent(RowId row) const { return parent_[row]; }
  RowId FirstChild(RowId row) const { return firstChild_[row]; }
  RowId LastChild(RowId row) const { return lastChild_[row]; }
  RowId NextSibling(RowId row) const { return nextSibling_[row]; }
  bool HasChildren(RowId row) const { return firstChild_[row] != kNoRow; }
  int32_t ChildCount(RowId row) const;
  // Number of ancestors: 0 for a top-level row.
  int32_t Depth(RowId row) const;
  // The row after this one in depth-first display order (kNoRow at the end).
  RowId NextInOrder(RowId row) const;

  std::string_view Text(RowId row, int column) const;
  void SetText(RowId row, int column, std::string_view text);

  int32_t State(RowId row) const { return state_[row]; }
  void SetState(RowId row, int32_t state) { state_[row] = static_cast<uint8_t>(state); }
  int32_t Key(RowId row) const { return key_[row]; }
  void SetKey(RowId row, int32_t key) { key_[row] = key; }
  int64_t ItemParam(RowId row) const { return itemParam_[row]; }
  void SetItemParam(RowId row, int64_t param) { itemParam_[row] = param; }
  int32_t Image(RowId row) const { return image_[row]; }

  // The top-level row, then its child, ... whose column 0 texts are the pieces of path
  // joined with "|" (each piece followed by "|", the last one optionally not). The row
  // of the last piece found: a piece that matches no row ends the walk there.
  RowId FindPath(std::string_view path) const;
  // The path of a row in that form.
  std::string PathOf(RowId row) const;

  // Bytes held by the pool and the arrays (benchmarks).
  size_t MemoryUse() const;

  // Reorders the children of every row with compare (negative, 0, positive), depth
  // first. Rows whose item parameter is 0 stay where they are; the others are sorted
  // stably among the places they held.
  template <typename Compare>
  void SortChildren(Compare compare);

 private:
  struct TextRef {
    uint32_t offset;
    uint32_t size;
  };

  void SortChildrenOf(RowId parent, const std::vector<RowId>& order);

  std::vector<RowId> parent_, firstChild_, lastChild_, nextSibling_;
  std::vector<uint8_t> state_, image_;
  std::vector<int32_t> key_;
  std::vector<int64_t> itemParam_;
  std::vector<TextRef> text_[kReportColumns];
  std::string pool_;
};

// Column sort of a report view, as a header click drives it.
struct SortOrder {
  int column = -1;          // sort column, -1 for none
  int previousColumn = -1;  // its header image goes back to none
  int direction = 0;        // 0: the first click, descending
};

// A header click: the same column toggles the direction, another starts at 0.
void ClickSortColumn(SortOrder& order, int column);

// The comparison of sortable report rows: equal when either item parameter is 0;
// column 0 compares the texts byte by byte in lower case, column 1 their leading
// integers (0 when a text has none). Negated for direction 0.
int CompareRows(const ReportTree& tree, RowId a, RowId b, int column, int direction);

// Sorts the tree by the order's column (nothing when it has none).
void SortReportTree(ReportTree& tree, const SortOrder& order);

// The leading integer of a text as a plain integer conversion reads it.
int64_t LeadingInteger(std::string_view text);

template <typename Compare>
void ReportTree::SortChildren(Compare compare) {
  std::vector<RowId> children, sortable;
  // Depth first from the root: every row's children after its own position is settled.
  std::vector<RowId> pending{kRootRow};
  while (!pending.empty()) {
    RowId parent = pending.back();
    pending.pop_back();
    children.clear();
    sortable.clear();
    for (RowId c = firstChild_[parent]; c != kNoRow; c = nextSibling_[c]) {
      children.push_back(c);
      if (itemParam_[c] != 0) sortable.push_back(c);
    }
    if (sortable.size() > 1) {
      std::stable_sort(sortable.begin(), sortable.end(), [&](RowId a, RowId b) { return compare(a, b) < 0; });
      size_t next = 0;
      for (RowId& c : children)
        if (itemParam_[c] != 0) c = sortable[next++];
      SortChildrenOf(parent, children);
    }
    for (RowId c : children)
      if (firstChild_[c] != kNoRow) pending.push_back(c);
  }
}

}  // namespace weavil
