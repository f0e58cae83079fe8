#pragma once
// Report trees compared row by row, and every view built both ways compared.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "reports/report_filter.h"
#include "reports/report_tree.h"
#include "reports/session_views.h"
#include "reports/statistics_view.h"
#include "store/database.h"

namespace weavil::test {

// The first row where the trees differ (depth, texts, key, state, image, item
// parameter), or "" when they are the same.
inline std::string TreeDifference(const ReportTree& want, const ReportTree& got) {
  RowId a = want.FirstChild(kRootRow), b = got.FirstChild(kRootRow);
  for (int line = 1; a != kNoRow || b != kNoRow; ++line) {
    if (a == kNoRow || b == kNoRow) return "row " + std::to_string(line) + ": one tree ends early";
    auto describe = [](const ReportTree& t, RowId r) {
      return std::to_string(t.Depth(r)) + "|" + std::string(t.Text(r, 0)) + "|" + std::string(t.Text(r, 1)) + "|" +
             std::to_string(t.Key(r)) + "|" + std::to_string(t.State(r)) + "|" + std::to_string(t.Image(r)) + "|" +
             std::to_string(t.ItemParam(r));
    };
    std::string x = describe(want, a), y = describe(got, b);
    if (x != y) return "row " + std::to_string(line) + ":\n  statement: " + x + "\n  in memory: " + y;
    a = want.NextInOrder(a);
    b = got.NextInOrder(b);
  }
  return {};
}

// Every session view and the statistics from their own statements and from the rows
// read into memory: the same trees. nonEmpty: the session views have rows too.
inline void ExpectSameTrees(DbSession& session, const ReportFilter& filter, std::time_t now, const char* what,
                            bool nonEmpty = false) {
  for (SessionViewKind kind : {SessionViewKind::kVisits, SessionViewKind::kDomain, SessionViewKind::kKeyword,
                               SessionViewKind::kReferer, SessionViewKind::kPage}) {
    ReportTree want = BuildSessionReport(kind, session, filter, now, ReportRows::kStatement);
    ReportTree got = BuildSessionReport(kind, session, filter, now, ReportRows::kInMemory);
    if (nonEmpty) {
      EXPECT_NE(want.FirstChild(kRootRow), kNoRow) << what << ", view " << ViewInfo(kind).tab;
    }
    EXPECT_EQ(TreeDifference(want, got), "") << what << ", view " << ViewInfo(kind).tab;
  }
  ReportTree want = BuildStatisticsReport(session, filter, now, ReportRows::kStatement);
  ReportTree got = BuildStatisticsReport(session, filter, now, ReportRows::kInMemory);
  EXPECT_EQ(TreeDifference(want, got), "") << what << ", statistics";
}

}  // namespace weavil::test
