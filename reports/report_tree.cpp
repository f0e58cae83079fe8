#include "reports/report_tree.h"

#include <cctype>
#include <limits>

#include "base/text.h"

namespace weavil {

ReportTree::ReportTree() { Clear(); }

void ReportTree::Clear() {
  parent_.assign(1, kNoRow);
  firstChild_.assign(1, kNoRow);
  lastChild_.assign(1, kNoRow);
  nextSibling_.assign(1, kNoRow);
  state_.assign(1, 0);
  image_.assign(1, 0);
  key_.assign(1, 0);
  itemParam_.assign(1, 0);
  pool_.assign(" ");  // the blank every new column starts with
  for (auto& column : text_) column.assign(1, TextRef{0, 1});
}

void ReportTree::Reserve(size_t rows, size_t textBytes) {
  rows += 1;  // the root
  for (auto* links : {&parent_, &firstChild_, &lastChild_, &nextSibling_}) links->reserve(rows);
  state_.reserve(rows);
  image_.reserve(rows);
  key_.reserve(rows);
  itemParam_.reserve(rows);
  for (auto& column : text_) column.reserve(rows);
  pool_.reserve(textBytes);
}

RowId ReportTree::AppendRow(RowId parent, std::string_view text, int32_t image) {
  RowId row = static_cast<RowId>(parent_.size());
  parent_.push_back(parent);
  firstChild_.push_back(kNoRow);
  lastChild_.push_back(kNoRow);
  nextSibling_.push_back(kNoRow);
  state_.push_back(0);
  image_.push_back(static_cast<uint8_t>(image));
  key_.push_back(0);
  itemParam_.push_back(0);
  for (auto& column : text_) column.push_back(TextRef{0, 1});
  if (lastChild_[parent] == kNoRow) firstChild_[parent] = row;
  else nextSibling_[lastChild_[parent]] = row;
  lastChild_[parent] = row;
  SetText(row, 0, text);
  return row;
}

int32_t ReportTree::ChildCount(RowId row) const {
  int32_t n = 0;
  for (RowId c = firstChild_[row]; c != kNoRow; c = nextSibling_[c]) ++n;
  return n;
}

int32_t ReportTree::Depth(RowId row) const {
  int32_t depth = 0;
  for (RowId p = parent_[row]; p != kRootRow; p = parent_[p]) ++depth;
  return depth;
}

RowId ReportTree::NextInOrder(RowId row) const {
  if (firstChild_[row] != kNoRow) return firstChild_[row];
  for (RowId r = row; r != kRootRow; r = parent_[r])
    if (nextSibling_[r] != kNoRow) return nextSibling_[r];
  return kNoRow;
}

std::string_view ReportTree::Text(RowId row, int column) const {
  const TextRef& ref = text_[column][row];
  return std::string_view(pool_).substr(ref.offset, ref.size);
}

void ReportTree::SetText(RowId row, int column, std::string_view text) {
  if (column < 0 || column >= kReportColumns) return;
  TextRef& ref = text_[column][row];
  if (text.size() <= ref.size && ref.offset != 0) {
    // Shorter or equal texts (counts replacing a blank, relabelled rows) reuse their place.
    pool_.replace(ref.offset, text.size(), text);
    ref.size = static_cast<uint32_t>(text.size());
    return;
  }
  if (text == " ") {
    ref = TextRef{0, 1};
    return;
  }
  ref.offset = static_cast<uint32_t>(pool_.size());
  ref.size = static_cast<uint32_t>(text.size());
  pool_.append(text);
}

RowId ReportTree::FindPath(std::string_view path) const {
  RowId found = kNoRow;
  RowId level = firstChild_[kRootRow];
  while (!path.empty()) {
    size_t bar = path.find('|');
    std::string_view piece = path.substr(0, bar);
    path = bar == std::string_view::npos ? std::string_view() : path.substr(bar + 1);
    RowId match = kNoRow;
    for (RowId c = level; c != kNoRow; c = nextSibling_[c])
      if (Text(c, 0) == piece) {
        match = c;
        break;
      }
    if (match == kNoRow) break;
    found = match;
    level = firstChild_[match];
  }
  return found;
}

std::string ReportTree::PathOf(RowId row) const {
  std::vector<RowId> chain;
  for (RowId r = row; r != kRootRow && r != kNoRow; r = parent_[r]) chain.push_back(r);
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    path += Text(*it, 0);
    path += '|';
  }
  return path;
}

size_t ReportTree::MemoryUse() const {
  size_t bytes = pool_.capacity();
  bytes += (parent_.capacity() + firstChild_.capacity() + lastChild_.capacity() + nextSibling_.capacity()) *
           sizeof(RowId);
  bytes += state_.capacity() + image_.capacity() + key_.capacity() * sizeof(int32_t) +
           itemParam_.capacity() * sizeof(int64_t);
  for (const auto& column : text_) bytes += column.capacity() * sizeof(TextRef);
  return bytes;
}

void ReportTree::SortChildrenOf(RowId parent, const std::vector<RowId>& order) {
  firstChild_[parent] = order.front();
  for (size_t i = 0; i + 1 < order.size(); ++i) nextSibling_[order[i]] = order[i + 1];
  nextSibling_[order.back()] = kNoRow;
  lastChild_[parent] = order.back();
}

void ClickSortColumn(SortOrder& order, int column) {
  order.previousColumn = order.column;
  if (order.column == column) {
    order.direction = order.direction ? 0 : 1;
  } else {
    order.column = column;
    order.direction = 0;
  }
}

int64_t LeadingInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  constexpr int64_t kLimit = std::numeric_limits<int64_t>::max() / 10 - 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    if (value < kLimit) value = value * 10 + (text[i] - '0');
  return negative ? -value : value;
}

int CompareRows(const ReportTree& tree, RowId a, RowId b, int column, int direction) {
  if (tree.ItemParam(a) == 0 || tree.ItemParam(b) == 0) return 0;
  int result = 0;
  if (column == 0) {
    std::string_view x = tree.Text(a, 0), y = tree.Text(b, 0);
    result = CompareNoCase(x, y);
  } else {
    int64_t x = LeadingInteger(tree.Text(a, column)), y = LeadingInteger(tree.Text(b, column));
    result = x < y ? -1 : x > y ? 1 : 0;
  }
  return direction == 0 ? -result : result;
}

void SortReportTree(ReportTree& tree, const SortOrder& order) {
  if (order.column < 0 || order.column >= kReportColumns) return;
  tree.SortChildren([&](RowId a, RowId b) { return CompareRows(tree, a, b, order.column, order.direction); });
}

}  // namespace weavil
