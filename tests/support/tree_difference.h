#pragma once
// Two report trees compared row by row.
#include <string>

#include "reports/report_tree.h"

namespace weavil::test {

// The first row where the trees differ (depth, texts, key, state, image, item
// parameter), or "" when they are the same. wantName and gotName label the two.
inline std::string TreeDifference(const ReportTree& want, const ReportTree& got, const char* wantName = "statement",
                                  const char* gotName = "in memory") {
  RowId a = want.FirstChild(kRootRow), b = got.FirstChild(kRootRow);
  for (int line = 1; a != kNoRow || b != kNoRow; ++line) {
    if (a == kNoRow || b == kNoRow) return "row " + std::to_string(line) + ": one tree ends early";
    auto describe = [](const ReportTree& t, RowId r) {
      return std::to_string(t.Depth(r)) + "|" + std::string(t.Text(r, 0)) + "|" + std::string(t.Text(r, 1)) + "|" +
             std::to_string(t.Key(r)) + "|" + std::to_string(t.State(r)) + "|" + std::to_string(t.Image(r)) + "|" +
             std::to_string(t.ItemParam(r));
    };
    std::string x = describe(want, a), y = describe(got, b);
    if (x != y) return "row " + std::to_string(line) + ":\n  " + wantName + ": " + x + "\n  " + gotName + ": " + y;
    a = want.NextInOrder(a);
    b = got.NextInOrder(b);
  }
  return {};
}

}  // namespace weavil::test
