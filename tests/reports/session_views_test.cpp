// The five session views built from a database filled by the tests: grouping, labels,
// counts, keys, states and images, the filter's effect, and failures.
#include <gtest/gtest.h>

#include "classify/ip_address.h"

#include <filesystem>
#include <functional>

#include "reports/country_names.h"
#include "reports/session_views.h"
#include "store/trace.h"
#include "tests/reports/report_fixture.h"

namespace weavil {
namespace {

using test::LocalTime;
using test::ReportDb;
using test::ScopedTimeZone;

ReportTree Build(ReportDb& db, SessionViewKind kind, const ReportFilter& filter = ReportFilter()) {
  return BuildSessionReport(kind, db.Session(), filter, LocalTime(2004, 6, 1));
}

// Every group row's count is the number of session rows below it.
int CheckCounts(const ReportTree& tree, RowId row) {
  if (!tree.HasChildren(row)) return 1;
  int sessions = 0;
  for (RowId c = tree.FirstChild(row); c != kNoRow; c = tree.NextSibling(c)) sessions += CheckCounts(tree, c);
  if (row != kRootRow) {
    EXPECT_EQ(std::string(tree.Text(row, 1)), std::to_string(sessions)) << tree.PathOf(row);
  }
  return sessions;
}

TEST(SessionViewsTest, QueriesWithoutFilterAreBaseAndOrderExactly) {
  ReportFilter off;
  off.isPages = 1;
  off.pages = "/a.htm";
  off.noRobots = 1;
  for (SessionViewKind kind : {SessionViewKind::kVisits, SessionViewKind::kDomain, SessionViewKind::kKeyword,
                               SessionViewKind::kReferer, SessionViewKind::kPage}) {
    const SessionViewInfo& info = ViewInfo(kind);
    EXPECT_EQ(BuildViewQuery(kind, off, 0), std::string(info.baseQuery) + info.orderBy);
    ReportFilter on = off;
    on.applyFilter = 1;
    EXPECT_EQ(BuildViewQuery(kind, on, 0), std::string(info.baseQuery) + BuildSessionConditions(on, 0) + info.orderBy);
  }
  EXPECT_EQ(std::string(ViewInfo(SessionViewKind::kVisits).orderBy), "ORDER BY a.TimeEnter ASC;");
  EXPECT_EQ(ViewInfo(SessionViewKind::kDomain).levels, 6);
  EXPECT_STREQ(ViewInfo(SessionViewKind::kKeyword).caption, "KeyWord");
}

TEST(SessionViewsTest, EmptyDatabaseGivesEmptyTrees) {
  ReportDb db;
  for (SessionViewKind kind : {SessionViewKind::kVisits, SessionViewKind::kDomain, SessionViewKind::kKeyword,
                               SessionViewKind::kReferer, SessionViewKind::kPage})
    EXPECT_EQ(Build(db, kind).RowCount(), 0);
}

TEST(VisitsViewTest, YearsMonthsDaysWithCountsKeysAndStates) {
  ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  ReportDb db;
  db.AddVisitor("10.0.0.1", "host.example.com", "com.example.host");
  db.AddVisitor("10.0.0.2");
  db.AddVisitor("10.0.0.3", "crawl.bot.net", "net.bot.crawl", 1);
  int32_t s1 = db.AddSession("10.0.0.1", "2003-12-31 23:50:10", 3);
  int32_t s2 = db.AddSession("10.0.0.2", "2004-01-01 00:10:00", 1);
  int32_t s3 = db.AddSession("10.0.0.3", "2004-03-06 10:00:00", 5);
  db.AddSession("10.0.0.1", "2004-03-06 11:00:00", 2);
  db.AddSession("10.0.0.1", "2004-03-08 09:30:00", 2);
  ReportTree tree = Build(db, SessionViewKind::kVisits);
  CheckCounts(tree, kRootRow);

  RowId y2003 = tree.FindPath("2003|");
  ASSERT_NE(y2003, kNoRow);
  EXPECT_EQ(tree.Text(y2003, 1), "1");
  RowId day = tree.FindPath("2003|December 2003|31 December 2003|");
  ASSERT_NE(day, kNoRow);
  EXPECT_EQ(tree.Key(day), -LocalTime(2003, 12, 31));
  EXPECT_EQ(tree.Key(y2003), -LocalTime(2003, 12, 31));  // the group's first day, not 1 January
  EXPECT_EQ(tree.State(day), kStateNormal);              // a Wednesday
  RowId session = tree.FirstChild(day);
  EXPECT_EQ(tree.Text(session, 0), "23:50 host.example.com");
  EXPECT_EQ(tree.Text(session, 1), "3");
  EXPECT_EQ(tree.Key(session), s1);
  EXPECT_EQ(tree.ItemParam(session), LocalTime(2003, 12, 31, 23, 50));
  EXPECT_EQ(tree.Image(session), kImageVisit);
  EXPECT_EQ(tree.State(session), kStateNormal);

  // An unresolved visitor shows its address; one page only: grey.
  RowId lone = tree.FirstChild(tree.FindPath("2004|January 2004|01 January 2004|"));
  EXPECT_EQ(tree.Text(lone, 0), "00:10 10.0.0.2");
  EXPECT_EQ(tree.Key(lone), s2);
  EXPECT_EQ(tree.State(lone), kStateGrey);

  RowId y2004 = tree.FindPath("2004|");
  EXPECT_EQ(tree.Text(y2004, 1), "4");
  EXPECT_EQ(tree.Text(tree.FindPath("2004|March 2004|"), 1), "3");
  RowId saturday = tree.FindPath("2004|March 2004|06 March 2004|");
  EXPECT_EQ(tree.State(saturday), kStateRed);
  EXPECT_EQ(tree.Text(saturday, 1), "2");
  EXPECT_EQ(tree.State(tree.FindPath("2004|March 2004|08 March 2004|")), kStateNormal);  // Monday
  RowId robot = tree.FirstChild(saturday);
  EXPECT_EQ(tree.Key(robot), s3);
  EXPECT_EQ(tree.Image(robot), kImageRobotVisit);
  EXPECT_EQ(tree.State(robot), kStateGrey);  // robots are grey whatever their pages
  EXPECT_EQ(tree.ItemParam(tree.FindPath("2004|")), 0);

  // The Sessions refresh loads the country names.
  EXPECT_EQ(AppCountryNames().Size(), 249u);
}

TEST(VisitsViewTest, SessionTimesOnTheDaysSummerTimeBeginsAndEnds) {
  // Each hour's start as the zone has it, also where a day has 23 or 25 hours.
  ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  ReportDb db;
  db.AddVisitor("10.0.0.1");
  for (const char* day : {"2004-03-27", "2004-03-28", "2004-10-31"})
    for (int hour = 0; hour < 24; ++hour)
      db.AddSession("10.0.0.1", std::string(day) + " " + (hour < 10 ? "0" : "") + std::to_string(hour) + ":15:00");
  ReportTree tree = Build(db, SessionViewKind::kVisits);
  int checked = 0;
  for (RowId row = tree.FirstChild(kRootRow); row != kNoRow; row = tree.NextInOrder(row)) {
    if (tree.Image(row) != kImageVisit) continue;
    RowId day = tree.Parent(row);
    int dayOfMonth = std::stoi(std::string(tree.Text(day, 0)));
    int month = tree.Text(day, 0).find("March") != std::string_view::npos ? 3 : 10;
    int hour = std::stoi(std::string(tree.Text(row, 0).substr(0, 2)));
    EXPECT_EQ(tree.ItemParam(row), LocalTime(2004, month, dayOfMonth, hour, 15)) << tree.PathOf(row);
    ++checked;
  }
  EXPECT_EQ(checked, 72);
}

TEST(DomainViewTest, LabelsFromReversedNames) {
  EXPECT_EQ(DomainLabels("c.b.a"), (std::vector<std::string>{"c", "b.c", "a.b.c"}));
  EXPECT_EQ(DomainLabels("ip.192.168.0.1"),
            (std::vector<std::string>{"ip", "ip.192", "ip.192.168", "ip.192.168.0", "ip.192.168.0.1"}));
  EXPECT_EQ(DomainLabels("localhost"), (std::vector<std::string>{"localhost"}));
  EXPECT_EQ(DomainLabels("com..example"), (std::vector<std::string>{"com", "example.com"}));
  EXPECT_EQ(DomainLabels(""), (std::vector<std::string>{""}));
  std::vector<std::string> eight = DomainLabels("h.g.f.e.d.c.b.a");
  ASSERT_EQ(eight.size(), 6u);
  EXPECT_EQ(eight.back(), "c.d.e.f.g.h");
  std::string longLabel(60, 'x');
  std::vector<std::string> cut = DomainLabels("com." + longLabel);
  EXPECT_EQ(cut[1].size(), 49u);
  EXPECT_EQ(DomainLabels(longLabel)[0].size(), 60u);  // the top level is not cut
}

TEST(DomainViewTest, TreeGroupsByDomainLevels) {
  ScopedTimeZone zone("UTC0");
  ReportDb db;
  db.AddVisitor("192.168.0.1");
  db.AddVisitor("10.0.0.9", "a.b.c.d.e.f.g.h", "h.g.f.e.d.c.b.a");
  db.AddVisitor("10.0.0.5", "www.example.com", "com.example.www");
  db.AddVisitor("10.0.0.6", "example.com", "com.example");
  int32_t s1 = db.AddSession("192.168.0.1", "2004-03-05 10:00:00");
  db.AddSession("10.0.0.9", "2004-03-05 11:00:00");
  db.AddSession("10.0.0.5", "2004-03-05 12:00:00");
  db.AddSession("10.0.0.6", "2004-03-05 13:00:00");
  db.AddSession("10.0.0.5", "2004-03-04 08:00:00");
  ReportTree tree = Build(db, SessionViewKind::kDomain);
  CheckCounts(tree, kRootRow);

  RowId leafGroup = tree.FindPath("ip|ip.192|ip.192.168|ip.192.168.0|ip.192.168.0.1|");
  ASSERT_NE(leafGroup, kNoRow);
  RowId session = tree.FirstChild(leafGroup);
  EXPECT_EQ(tree.Text(session, 0), "2004-03-05 10:00");
  EXPECT_EQ(tree.Key(session), s1);
  EXPECT_EQ(tree.Image(session), kImageLeaf);
  EXPECT_EQ(tree.Text(session, 1), " ");
  EXPECT_EQ(tree.ItemParam(session), 0);
  EXPECT_EQ(tree.ItemParam(leafGroup), leafGroup);

  RowId deepest = tree.FindPath("h|g.h|f.g.h|e.f.g.h|d.e.f.g.h|c.d.e.f.g.h|");
  ASSERT_NE(deepest, kNoRow);
  EXPECT_EQ(tree.Depth(tree.FirstChild(deepest)), 6);

  // example.com's own sessions sit beside the www group, in time order below it.
  RowId example = tree.FindPath("com|example.com|");
  EXPECT_EQ(tree.Text(example, 1), "3");
  RowId www = tree.FindPath("com|example.com|www.example.com|");
  EXPECT_EQ(tree.Text(www, 1), "2");
  EXPECT_EQ(tree.Text(tree.FirstChild(www), 0), "2004-03-04 08:00");
}

TEST(DomainViewTest, UnresolvedIpv6VisitorsUnderTheirPrefixes) {
  ScopedTimeZone zone("UTC0");
  ReportDb db;
  // Stored as the import stores them; a compressed text would not sort by prefix.
  for (const char* ip : {"2001:db8::1", "2001:db8:0:1::5", "2001:db8:10::1", "2001:db8::2", "10.0.0.1"}) {
    db.AddVisitor(ip, "", UnresolvedReverseName(ip));
    db.AddSession(ip, "2004-03-05 10:00:00");
  }
  ReportTree tree = Build(db, SessionViewKind::kDomain);
  CheckCounts(tree, kRootRow);
  EXPECT_EQ(tree.Text(tree.FindPath("ip|"), 1), "5");
  EXPECT_EQ(tree.Text(tree.FindPath("ip|ip.2001::/16|ip.2001:db8::/32|"), 1), "4");
  EXPECT_EQ(tree.Text(tree.FindPath("ip|ip.2001::/16|ip.2001:db8::/32|ip.2001:db8::/48|"), 1), "3");
  RowId subnet = tree.FindPath("ip|ip.2001::/16|ip.2001:db8::/32|ip.2001:db8::/48|ip.2001:db8::/64|");
  EXPECT_EQ(tree.Text(subnet, 1), "2");
  RowId address = tree.FindPath("ip|ip.2001::/16|ip.2001:db8::/32|ip.2001:db8::/48|ip.2001:db8::/64|ip.2001:db8::1|");
  ASSERT_NE(address, kNoRow);
  EXPECT_EQ(tree.Depth(tree.FirstChild(address)), 6);
  EXPECT_NE(tree.FindPath("ip|ip.2001::/16|ip.2001:db8::/32|ip.2001:db8:10::/48|"), kNoRow);
}

TEST(KeywordViewTest, PhrasesArePercentDecodedUnderTheirWords) {
  ScopedTimeZone zone("UTC0");
  ReportDb db;
  std::vector<int32_t> sessions = db.AddVisitorSessions("10.0.0.1", 2);
  db.AddKeywords(sessions[0], "web%20log+analyzer", {"web", "log"});
  db.AddKeywords(sessions[1], "log%20files", {"log"});
  ReportTree tree = Build(db, SessionViewKind::kKeyword);
  CheckCounts(tree, kRootRow);
  EXPECT_NE(tree.FindPath("web|web log+analyzer|"), kNoRow);
  RowId log = tree.FindPath("log|");
  EXPECT_EQ(tree.Text(log, 1), "2");
  EXPECT_EQ(test::ChildTexts(tree, log), (std::vector<std::string>{"log files", "web log+analyzer"}));
}

TEST(RefererViewTest, GroupPiecesThenHost) {
  ScopedTimeZone zone("UTC0");
  ReportDb db;
  std::vector<int32_t> sessions = db.AddVisitorSessions("10.0.0.1", 3);
  db.AddReferer(sessions[0], "www.google.com", "Search Engine/Google");
  db.AddReferer(sessions[1], "www.friend.org", "Unclassified");
  db.AddReferer(sessions[2], "www.google.de", "Search Engine/Google");
  ReportTree tree = Build(db, SessionViewKind::kReferer);
  CheckCounts(tree, kRootRow);
  EXPECT_EQ(tree.Text(tree.FindPath("Search Engine|"), 1), "2");
  EXPECT_NE(tree.FindPath("Search Engine|Google|www.google.de|"), kNoRow);
  EXPECT_NE(tree.FindPath("Unclassified|www.friend.org|"), kNoRow);
}

TEST(PageViewTest, PagesDifferingInCaseShareOneGroup) {
  ScopedTimeZone zone("UTC0");
  ReportDb db;
  std::vector<int32_t> sessions = db.AddVisitorSessions("10.0.0.1", 2);
  int32_t a = sessions[0], b = sessions[1];
  db.AddResource(a, "2004-03-05 10:00:00", "/Index.html");
  db.AddResource(a, "2004-03-05 10:00:30", "/index.html");  // the same page again: one row
  db.AddResource(b, "2004-03-05 11:00:00", "/about.html");
  db.AddResource(b, "2004-03-05 11:00:10", "/index.html");
  ReportTree tree = Build(db, SessionViewKind::kPage);
  CheckCounts(tree, kRootRow);
  EXPECT_EQ(test::ChildTexts(tree, kRootRow), (std::vector<std::string>{"/about.html", "/index.html"}));
  EXPECT_EQ(tree.Text(tree.FindPath("/index.html|"), 1), "2");
}

TEST(SessionViewsTest, FilterNarrowsEveryView) {
  ScopedTimeZone zone("UTC0");
  ReportDb db;
  db.AddVisitor("10.0.0.1", "", "", 0, "DE");
  db.AddVisitor("10.0.0.2", "", "", 1, "DE");
  int32_t withPages = db.AddSession("10.0.0.1", "2004-03-05 10:00:00");
  db.AddSession("10.0.0.1", "2004-03-05 11:00:00", 0);  // no stored request at all
  int32_t robot = db.AddSession("10.0.0.2", "2004-03-05 12:00:00");
  db.AddResource(withPages, "2004-03-05 10:00:00", "/a.htm");
  db.AddResource(robot, "2004-03-05 12:00:00", "/a.htm");

  ReportFilter filter;
  filter.applyFilter = 1;
  filter.isCountries = 1;
  filter.countries = "DE";
  ReportTree tree = Build(db, SessionViewKind::kVisits, filter);
  // The country test stands inside the request sub-query: the session without requests goes.
  EXPECT_EQ(tree.Text(tree.FindPath("2004|"), 1), "2");
  filter.noRobots = 1;
  tree = Build(db, SessionViewKind::kVisits, filter);
  EXPECT_EQ(tree.Text(tree.FindPath("2004|"), 1), "1");
  EXPECT_EQ(tree.Key(tree.FirstChild(tree.FindPath("2004|March 2004|05 March 2004|"))), withPages);

  ReportFilter period;
  period.applyFilter = 1;
  period.isPeriod = 1;
  period.period = "Day+";
  EXPECT_EQ(BuildSessionReport(SessionViewKind::kPage, db.Session(), period, LocalTime(2004, 3, 6, 9)).RowCount(), 3);
  EXPECT_EQ(BuildSessionReport(SessionViewKind::kPage, db.Session(), period, LocalTime(2004, 3, 7, 9)).RowCount(), 0);
}

TEST(SessionViewsTest, FailedQueryIsTracedAndLeavesTheTreeEmpty) {
  test::WorkFolder folder;  // the trace lands there
  {
    ReportDb db;
    db.AddVisitorSessions("10.0.0.1", 1);
    db.Exec("DROP TABLE Keyphrase");
    ReportTree tree = Build(db, SessionViewKind::kKeyword);
    EXPECT_EQ(tree.RowCount(), 0);
  }
  std::string trace = folder.Trace();
  // The statement as it was run, then SQLite's own words.
  EXPECT_EQ(trace, BuildViewQuery(SessionViewKind::kKeyword, ReportFilter(), 0) + "\n" +
                       "no such table: Keyphrase (SQLite code 1)\n");
}

TEST(SessionReportViewTest, ResetShowsLoadingAndRefreshHandsOverAWholeTree) {
  ScopedTimeZone zone("UTC0");
  ReportDb db;
  db.AddVisitorSessions("10.0.0.1", 1);
  test::ScopedLogSource source(db);

  SessionReportView view(SessionViewKind::kVisits);
  EXPECT_STREQ(view.TabName(), "Sessions");
  view.ResetView();
  EXPECT_TRUE(view.IsLoading());
  std::shared_ptr<ReportTree> loading = view.Tree();
  ASSERT_EQ(loading->RowCount(), 1);
  EXPECT_EQ(loading->Text(1, 0), "Loading...");
  EXPECT_EQ(loading->Image(1), kImageLeaf);

  int refreshed = 0;
  view.SetRefreshedCallback([&] { ++refreshed; });
  RefreshAllWorker({&view});
  EXPECT_FALSE(view.IsLoading());
  EXPECT_EQ(refreshed, 1);
  EXPECT_EQ(view.Tree()->RowCount(), 4);
  EXPECT_EQ(loading->RowCount(), 1);  // a tree handed out earlier is never touched
}

}  // namespace
}  // namespace weavil
