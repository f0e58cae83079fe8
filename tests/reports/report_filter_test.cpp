// The filter's SQL texts, its period starts, list quoting, and the decisions of the
// filter and items list dialogs.
#include <gtest/gtest.h>

#include <mutex>

#include "reports/country_names.h"
#include "reports/filter_dialogs.h"
#include "reports/report_filter.h"
#include "settings/settings.h"
#include "store/view_requests.h"
#include "tests/reports/report_fixture.h"

namespace weavil {
namespace {

using test::LocalTime;
using test::ScopedTimeZone;

std::string Start(const char* period, std::time_t now) {
  std::optional<std::tm> start = PeriodStart(period, now);
  return start ? FormatPeriodStart(*start) : "none";
}

TEST(PeriodStartTest, EachPeriodStartsWhereTheTableSays) {
  ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  // "Day+" just after midnight: the start of the previous day, across a month end.
  EXPECT_EQ(Start("Day+", LocalTime(2004, 3, 1, 0, 30)), "2004-02-29 00:00:00");
  EXPECT_EQ(Start("Month+", LocalTime(2004, 3, 15, 12)), "2004-02-01 00:00:00");
  EXPECT_EQ(Start("Month+", LocalTime(2005, 3, 31, 12)), "2005-03-01 00:00:00");  // 30 days back is 1 March
  EXPECT_EQ(Start("Year+", LocalTime(2004, 6, 20, 9)), "2003-01-01 00:00:00");
  // A Wednesday: the Monday nine days earlier.
  EXPECT_EQ(Start("Week+", LocalTime(2004, 3, 17, 15)), "2004-03-08 00:00:00");
  // A Monday morning: the Monday a week before; a Sunday: the Monday 13 days before.
  EXPECT_EQ(Start("Week+", LocalTime(2004, 3, 15, 8)), "2004-03-08 00:00:00");
  EXPECT_EQ(Start("Week+", LocalTime(2004, 3, 21, 8)), "2004-03-08 00:00:00");
  // Local time: just after local midnight is still the previous UTC day.
  EXPECT_EQ(Start("Day+", LocalTime(2004, 7, 2, 0, 30)), "2004-07-01 00:00:00");
}

TEST(PeriodStartTest, NamesWithAndWithoutPlusMeanTheSame) {
  std::time_t now = LocalTime(2004, 3, 17, 15);
  for (const char* name : {"Year", "Month", "Week", "Day"})
    EXPECT_EQ(Start(name, now), Start((std::string(name) + "+").c_str(), now)) << name;
  EXPECT_EQ(Start("month+", now), "none");
  EXPECT_EQ(Start("Fortnight", now), "none");
  EXPECT_EQ(Start("", now), "none");
}

TEST(ListTextTest, SanitizeAndQuote) {
  EXPECT_EQ(SanitizeListText("it's \"quoted\""), "its quoted");
  EXPECT_EQ(QuoteList("  a   b  "), "'a', 'b'");
  EXPECT_EQ(QuoteList("a,b;c"), "'a', 'b', 'c'");
  EXPECT_EQ(QuoteList(",a,"), "'a'");
  EXPECT_EQ(QuoteList(" ,;, ;"), "");
  EXPECT_EQ(QuoteList(""), "");
  EXPECT_EQ(QuoteList("\t/a.htm\n"), "'/a.htm'");
  // A quote that bypassed the dialog (settings file, command line) cannot break out.
  EXPECT_EQ(QuoteList("it's"), "'it''s'");
}

ReportFilter FullFilter() {
  ReportFilter f;
  f.applyFilter = 1;
  f.noRobots = 1;
  f.isPeriod = 1;
  f.period = "Month+";
  f.isPages = 1;
  f.pages = "/a.htm /b.htm";
  f.isCountries = 1;
  f.countries = "DE";
  f.isKeywords = 1;
  f.keywords = "log";
  f.isReferers = 1;
  f.referers = "www.example.com";
  return f;
}

TEST(SessionConditionsTest, OffAddsNothingWhateverTheFieldsHold) {
  ReportFilter f = FullFilter();
  f.applyFilter = 0;
  EXPECT_EQ(BuildSessionConditions(f, LocalTime(2004, 2, 20)), "");
  ReportFilter onOnly;
  onOnly.applyFilter = 1;
  EXPECT_EQ(BuildSessionConditions(onOnly, LocalTime(2004, 2, 20)), "");
}

TEST(SessionConditionsTest, PiecesInOrderWithExactTexts) {
  ScopedTimeZone zone("UTC0");
  ReportFilter f = FullFilter();
  f.isCountries = f.isKeywords = f.isReferers = 0;  // their lists add nothing while off
  EXPECT_EQ(BuildSessionConditions(f, LocalTime(2004, 2, 20)),
            "AND (a.TimeEnter >= CDate('2004-01-01 00:00:00')) "
            "AND ((b.IsRobot IS NULL) OR b.IsRobot=0) "
            "AND EXISTS (Select * FROM Resource WHERE SessionId=a.SessionId AND (UriStem IN ('/a.htm', '/b.htm'))) ");
  f = FullFilter();
  EXPECT_EQ(BuildSessionConditions(f, LocalTime(2004, 3, 15)),
            "AND (a.TimeEnter >= CDate('2004-02-01 00:00:00')) "
            "AND ((b.IsRobot IS NULL) OR b.IsRobot=0) "
            "AND EXISTS (Select * FROM Resource WHERE SessionId=a.SessionId AND (UriStem IN ('/a.htm', '/b.htm'))"
            "AND (b.CountryCode IN ('DE'))) "
            "AND EXISTS (Select * FROM SessionKeywords, Keyword WHERE SessionId=a.SessionId and "
            "SessionKeywords.KeywordId=Keyword.KeywordId AND (Word IN ('log'))) "
            "AND EXISTS (Select * FROM SessionReferer, Referer WHERE SessionId=a.SessionId and "
            "SessionReferer.RefererId=Referer.RefererId AND (Url IN ('www.example.com'))) ");
}

TEST(SessionConditionsTest, EmptyListsAndUnknownPeriodsAddNothing) {
  ReportFilter f = FullFilter();
  f.noRobots = 0;
  f.pages = " ;, ";
  f.countries = "DE FR";
  f.keywords = "";
  f.referers = ",";
  f.period = "Fortnight";
  // The request sub-query still stands, holding only the country test.
  EXPECT_EQ(BuildSessionConditions(f, LocalTime(2004, 3, 15)),
            "AND EXISTS (Select * FROM Resource WHERE SessionId=a.SessionId AND (b.CountryCode IN ('DE', 'FR'))) ");
}

TEST(StatisticsQueryTest, OffOnAndConditionsAgainstCAndD) {
  ScopedTimeZone zone("UTC0");
  const char* head = "Select count(a.SessionId), b.OS from SessionBrowserOS a, OS b";
  const char* where = " where a.OSId=b.OSId";
  const char* tail = " group by b.OS order by b.OS;";
  ReportFilter f;
  EXPECT_EQ(BuildStatisticsQuery(f, 0, head, where, tail), std::string(head) + where + tail);
  f.applyFilter = 1;
  EXPECT_EQ(BuildStatisticsQuery(f, 0, head, where, tail),
            std::string(head) + ", [Session] c, DNSLookUp d " + where +
                " and a.SessionId = c.SessionId and c.UserIP=d.UserIP " + tail);
  f = FullFilter();
  EXPECT_EQ(BuildStatisticsQuery(f, LocalTime(2004, 3, 15), head, where, tail),
            std::string(head) + ", [Session] c, DNSLookUp d " + where +
                " and a.SessionId = c.SessionId and c.UserIP=d.UserIP "
                "AND (c.TimeEnter >= CDate('2004-02-01 00:00:00')) "
                "AND ((d.IsRobot IS NULL) OR d.IsRobot=0) "
                "AND EXISTS (Select * FROM Resource WHERE SessionId=c.SessionId AND (UriStem IN ('/a.htm', '/b.htm'))"
                "AND (d.CountryCode IN ('DE'))) "
                "AND EXISTS (Select * FROM SessionKeywords, Keyword WHERE SessionId=c.SessionId and "
                "SessionKeywords.KeywordId=Keyword.KeywordId AND (Word IN ('log'))) "
                "AND EXISTS (Select * FROM SessionReferer, Referer WHERE SessionId=c.SessionId and "
                "SessionReferer.RefererId=Referer.RefererId AND (Url IN ('www.example.com'))) " + tail);
}

TEST(ReportFilterTest, CopiesTheSettingsUnderTheLock) {
  ReportFilter f = FullFilter();
  StoreReportFilter(f);
  {
    std::lock_guard<std::mutex> lock(SettingsMutex());
    EXPECT_EQ(AppSettings().pages, "/a.htm /b.htm");
    EXPECT_EQ(AppSettings().isReferers, 1);
  }
  ReportFilter copy = CopyReportFilter();
  EXPECT_EQ(copy.period, "Month+");
  EXPECT_EQ(copy.countries, "DE");
  StoreReportFilter(ReportFilter());
}

TEST(FilterDialogTest, OkSanitizesListsKeepsThePeriodAndRequestsARefresh) {
  TakeResetViews();
  TakeReloadViews();
  ReportFilter controls;
  controls.applyFilter = 1;
  controls.isKeywords = 1;
  controls.keywords = "it's \"web\"";
  controls.pages = std::string(150, 'p');
  controls.period = "Fortnight'";
  ApplyFilterDialog(controls);
  ReportFilter stored = CopyReportFilter();
  EXPECT_EQ(stored.keywords, "its web");
  EXPECT_EQ(stored.pages.size(), kFilterTextLimit);
  EXPECT_EQ(stored.period, "Fortnight'");  // typed periods are stored as they are
  EXPECT_TRUE(TakeResetViews());
  EXPECT_TRUE(TakeReloadViews());
  StoreReportFilter(ReportFilter());

  EXPECT_EQ(FilterDialogPeriodIndex("month+"), 1);
  EXPECT_EQ(FilterDialogPeriodIndex("Day+"), 3);
  EXPECT_EQ(FilterDialogPeriodIndex("Month"), -1);  // shown empty, filters like "Month+"
}

TEST(ItemsListTest, TokensSelectFirstEntryBeginningWithThemWithoutCase) {
  CountryNames none;
  std::vector<std::string> pages = {"/Zeta.htm", "/about.htm", "/Index.htm", "/index2.htm", "about"};
  SortItemsList(pages);
  EXPECT_EQ(pages, (std::vector<std::string>{"/about.htm", "/Index.htm", "/index2.htm", "/Zeta.htm", "about"}));
  std::vector<size_t> selected = PreselectItems(pages, "/zeta.htm;'/INDEX' \"A\", nothing", ItemsListKind::kPages, none);
  EXPECT_EQ(selected, (std::vector<size_t>{1, 3, 4}));
  EXPECT_EQ(ItemsListResult(pages, selected, ItemsListKind::kPages, none), "/Index.htm /Zeta.htm about");
  EXPECT_EQ(ItemsListResult(pages, {}, ItemsListKind::kPages, none), "");
}

TEST(ItemsListTest, CountriesGoThroughTheirNamesAndBack) {
  CountryNames names;
  names.Add("DE", "Germany");
  names.Add("FR", "France");
  names.Add("GB", "United Kingdom");
  std::vector<std::string> items = {"Germany", "France", "United Kingdom"};
  SortItemsList(items);
  std::vector<size_t> selected = PreselectItems(items, "GB,DE XX", ItemsListKind::kCountries, names);
  EXPECT_EQ(selected, (std::vector<size_t>{1, 2}));
  EXPECT_EQ(ItemsListResult(items, selected, ItemsListKind::kCountries, names), "DE GB");
}

TEST(ItemsListTest, LoadsEachKindAndSurvivesAFailedQuery) {
  test::ReportDb db;
  db.AddVisitor("10.0.0.1");
  int32_t id = db.AddSession("10.0.0.1", "2004-03-05 10:00:00");
  db.AddResource(id, "2004-03-05 10:00:00", "/b.htm");
  db.AddResource(id, "2004-03-05 10:00:05", "/a.htm");
  db.AddResource(id, "2004-03-05 10:00:09", "/a.htm");
  EXPECT_EQ(LoadItemsList(db.Session(), ItemsListKind::kPages), (std::vector<std::string>{"/a.htm", "/b.htm"}));
  EXPECT_EQ(LoadItemsList(db.Session(), ItemsListKind::kCountries).size(), 249u);
  EXPECT_TRUE(LoadItemsList(db.Session(), ItemsListKind::kKeywords).empty());
  db.Exec("DROP TABLE Referer");
  EXPECT_TRUE(LoadItemsList(db.Session(), ItemsListKind::kReferers).empty());

  CountryNames names;
  ASSERT_TRUE(names.Load(db.Session()));
  EXPECT_EQ(names.Size(), 249u);
  EXPECT_EQ(names.CodeOf(names.NameOf("DE")), "DE");
  EXPECT_EQ(names.NameOf("??"), "");
}

}  // namespace
}  // namespace weavil
