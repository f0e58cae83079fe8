#pragma once
// The grouping rule of the report trees that are built in one pass over rows already in
// tree order: one open group row per level (0 = outermost), kept while the rows that
// follow carry the same label at that level. Opening a level closes it and every deeper
// one; closing writes the total counted below each counted row into column 1.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "reports/report_tree.h"

namespace weavil {

// The pieces of text between runs of separator (none empty); at most `most` of them.
// Text without any piece (empty, or separators only) is one piece, the whole text.
inline std::vector<std::string_view> SplitLabel(std::string_view text, char separator, size_t most) {
  std::vector<std::string_view> pieces;
  size_t i = 0;
  while (i < text.size() && pieces.size() < most) {
    while (i < text.size() && text[i] == separator) ++i;
    size_t start = i;
    while (i < text.size() && text[i] != separator) ++i;
    if (i > start) pieces.push_back(text.substr(start, i - start));
  }
  if (pieces.empty()) pieces.push_back(text);
  return pieces;
}

template <class Total>
class GroupLevels {
 public:
  // How a total reads in column 1.
  using Format = std::string (*)(Total);

  GroupLevels(ReportTree& tree, size_t levels, Format format)
      : tree_(tree), levels_(levels), format_(format) {}

  ReportTree& Tree() { return tree_; }
  RowId Row(size_t level) const { return levels_[level].row; }
  bool IsOpen(size_t level, std::string_view label) const {
    return levels_[level].row != kNoRow && levels_[level].label == label;
  }

  // Closes level and every deeper one, then appends a row for label below the open row
  // of the level above (the root for level 0) and opens it. A row that is not counted
  // (a section title) shows no total.
  RowId Open(size_t level, std::string_view label, int32_t image, bool counted = true) {
    Close(level);
    Level& current = levels_[level];
    current.row = tree_.AppendRow(level == 0 ? kRootRow : levels_[level - 1].row, label, image);
    current.label.assign(label);
    current.counted = counted;
    return current.row;
  }

  // Adds amount to the totals of the levels first to end - 1.
  void Count(size_t first, size_t end, Total amount) {
    for (size_t i = first; i < end && i < levels_.size(); ++i) levels_[i].total += amount;
  }

  // Writes the totals of level and every deeper one and forgets their rows.
  void Close(size_t level) {
    for (size_t i = level; i < levels_.size(); ++i) {
      Level& l = levels_[i];
      if (l.row != kNoRow && l.counted) tree_.SetText(l.row, 1, format_(l.total));
      l.row = kNoRow;
      l.total = 0;
      l.label.clear();
    }
  }

 private:
  struct Level {
    std::string label;
    RowId row = kNoRow;
    Total total = 0;
    bool counted = true;
  };
  ReportTree& tree_;
  std::vector<Level> levels_;
  Format format_;
};

}  // namespace weavil
