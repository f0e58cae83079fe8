#include "store/write_tally.h"

#include <algorithm>

#include "base/text.h"

namespace weavil {

void DistinctValues::Add(int64_t value) {
  if (value >= 0 && value < kBitLimit) {
    const size_t word = static_cast<size_t>(value) >> 6;
    if (word >= bits_.size())
      bits_.resize(std::min(std::max(word + 1, bits_.size() * 2), static_cast<size_t>(kBitLimit >> 6)), 0);
    const uint64_t bit = uint64_t{1} << (value & 63);
    if (!(bits_[word] & bit)) {
      bits_[word] |= bit;
      ++count_;
    }
    return;
  }
  if (others_.insert(value).second) ++count_;
}

void WriteTallies::Watch(const std::string& table, const std::vector<std::string>& columns) {
  if (Find(table)) return;
  TableTally& tally = tables_.emplace_back();
  tally.table = table;
  tally.columns = columns;
  tally.values.resize(columns.size());
}

TableTally* WriteTallies::Find(std::string_view table) {
  for (TableTally& tally : tables_)
    if (EqualsNoCase(tally.table, table)) return &tally;
  return nullptr;
}

std::string SingleColumnIndexStat(int64_t rows, int64_t distinct) {
  if (distinct <= 0) distinct = 1;
  int64_t perValue = (rows + distinct - 1) / distinct;
  if (perValue == 2 && rows * 10 <= distinct * 11) perValue = 1;
  return std::to_string(rows) + " " + std::to_string(perValue);
}

}  // namespace weavil
