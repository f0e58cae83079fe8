// The report trees built from rows read into memory against the trees of the views' own
// statements, on data made to catch the differences: paths, browsers and host names
// differing only in case, starts shared by several sessions, long paths sharing their
// first fifty characters, several referrers, phrases and words per session, sessions
// without an address row, requests of unknown sessions, and the filter on and off.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "reports/report_sessions.h"
#include "reports/report_tree.h"
#include "reports/session_views.h"
#include "reports/statistics_view.h"
#include "tests/reports/report_fixture.h"
#include "tests/support/tree_difference.h"

namespace weavil {
namespace {

using test::ReportDb;

void ExpectSameTrees(ReportDb& db, const ReportFilter& filter, std::time_t now, const char* what) {
  test::ExpectSameTrees(db.Session(), filter, now, what);
}

// Sessions of a few dozen visitors over two months, with clashing starts and every
// kind of row, from a fixed seed.
void FillMixedSessions(ReportDb& db) {
  std::mt19937 random(20041205);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const std::vector<std::string> pages = {
      "/", "/index.html", "/Index.html", "/INDEX.HTML", "/a.htm", "/b/c.htm", "/B/c.htm",
      "/docs/a-rather-long-path-that-goes-on-and-on-beyond-fifty-bytes/one.html",
      "/docs/a-rather-long-path-that-goes-on-and-on-beyond-fifty-bytes/two.html", "/join_form", "/login_form"};
  const std::vector<std::pair<std::string, std::string>> referrers = {
      {"www.google.com", "Search Engine/Google"}, {"www.example.org", "Other"},
      {"Search.Example.net", "Search Engine/Example"}, {"-", "-"}};
  const std::vector<std::string> browsers = {"IE/6.0", "Firefox/1.0", "Opera/7"};
  const std::vector<std::string> systems = {"Windows XP", "Linux", "Mac OS"};
  for (int v = 0; v < 30; ++v) {
    std::string ip = "10.0." + std::to_string(v / 8) + "." + std::to_string(v % 8 + 1);
    if (v % 7 == 3) ip = "2001:db8::" + std::to_string(v);
    if (v % 11 != 5) {  // a few sessions have no address row: the joins leave them out
      std::string name = v % 3 == 0 ? "host" + std::to_string(v) + (v % 2 ? ".Example.COM" : ".example.com") : "";
      std::string rUrl = name.empty() ? "" : (v % 2 ? "COM.Example.host" : "com.example.host") + std::to_string(v);
      db.AddVisitor(ip, name, rUrl, v % 5 == 0 ? 1 : 0, v % 4 == 0 ? "US" : v % 4 == 1 ? "de" : "");
    }
    for (int s = 0; s < 1 + pick(4); ++s) {
      // Starts on a handful of days and minutes, so that several sessions share one.
      char start[32];
      std::snprintf(start, sizeof start, "2004-%02d-%02d %02d:%02d:%02d", 3 + pick(2), 1 + pick(28), pick(24),
                    pick(3) * 10, pick(2) * 30);
      int32_t numId = db.AddSession(ip, start, 1 + pick(5));
      for (int r = 0; r < pick(6); ++r) db.AddResource(numId, start, pages[pick(static_cast<int>(pages.size()))],
                                                      r % 4 == 3 ? 404 : 200);
      for (int r = 0; r < pick(3); ++r) {
        const auto& [url, group] = referrers[pick(static_cast<int>(referrers.size()))];
        db.AddReferer(numId, url, group);
      }
      if (pick(3) == 0) {
        db.AddKeywords(numId, pick(2) ? "linux%20pxe+boot" : "Linux PXE", {"linux", "pxe"});
        if (pick(2)) db.AddKeywords(numId, "fedora", {"Fedora"});
      }
      if (pick(4) != 0)
        db.AddBrowserOs(numId, browsers[pick(static_cast<int>(browsers.size()))],
                        systems[pick(static_cast<int>(systems.size()))]);
    }
  }
  // Requests of a session that is not stored count nowhere. The view refuses such a
  // request; in the table it names a session no number stands for, and reads with no
  // SessionId.
  if (db.Session().KeptByNumber("Resource"))
    db.Exec("INSERT INTO ResourceRow (SessionNum, TimeEnter, UriStem, StatusCode) VALUES (-1, "
            "'2004-03-05 10:00:00', '/orphan', 200)");
  else
    db.Exec("INSERT INTO Resource (SessionId, TimeEnter, UriStem, StatusCode) VALUES ('no-such-session', "
            "'2004-03-05 10:00:00', '/orphan', 200)");
  db.Exec("INSERT OR IGNORE INTO Countries (Code, Name) VALUES ('US', 'United States'), ('DE', 'Germany')");
}

// On a file that keeps the tables naming sessions by number (the in-memory reads join
// by NumId) and on one that keeps them by the identifier text.
class ReportRowsLayouts : public ::testing::TestWithParam<bool> {};

TEST_P(ReportRowsLayouts, InMemoryTreesAreTheStatementsTreesWithTheFilterOffAndOn) {
  test::ScopedTimeZone zone("UTC0");
  ReportDb db(GetParam());
  ASSERT_EQ(JoinsByNumber(db.Session()), !GetParam());
  FillMixedSessions(db);
  std::time_t now = test::LocalTime(2004, 4, 20, 12);
  ExpectSameTrees(db, ReportFilter(), now, "filter off");

  ReportFilter typical;
  typical.applyFilter = 1;
  typical.noRobots = 1;
  typical.isPeriod = 1;
  typical.period = "Month+";
  typical.isPages = 1;
  typical.pages = "/index.html /a.htm";
  ExpectSameTrees(db, typical, now, "robots out, a period, a page list");

  ReportFilter lists;
  lists.applyFilter = 1;
  lists.isCountries = 1;
  lists.countries = "US";
  lists.isReferers = 1;
  lists.referers = "www.google.com www.example.org";
  ExpectSameTrees(db, lists, now, "countries and referrers");

  // A country list alone still asks for a request of the session.
  ReportFilter country;
  country.applyFilter = 1;
  country.isCountries = 1;
  country.countries = "de";
  ExpectSameTrees(db, country, now, "a country");

  ReportFilter words;
  words.applyFilter = 1;
  words.isKeywords = 1;
  words.keywords = "linux";
  ExpectSameTrees(db, words, now, "search words");

  // The page list is asked of the requests the page and statistics views read: in
  // other capitals than stored, with a page no request asked for, with countries.
  ReportFilter pages;
  pages.applyFilter = 1;
  pages.isPages = 1;
  pages.pages = "/B/C.HTM; /index.HTML,/nowhere";
  ExpectSameTrees(db, pages, now, "pages in other capitals");
  pages.isCountries = 1;
  pages.countries = "US";
  pages.noRobots = 1;
  ExpectSameTrees(db, pages, now, "pages, a country, robots out");
  pages.pages = "/nowhere";
  ExpectSameTrees(db, pages, now, "a page no request asked for");
}

INSTANTIATE_TEST_SUITE_P(ReportRowsTest, ReportRowsLayouts, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "ByText" : "ByNumber"; });

TEST(ReportRowsTest, RowsOfAnotherShapeFallBackToTheStatements) {
  test::ScopedTimeZone zone("UTC0");
  ReportDb db;
  FillMixedSessions(db);
  std::time_t now = test::LocalTime(2004, 4, 20, 12);
  // A start that is no stored date, a visitor without reversed name, a request
  // without path and one without status, a referrer without group: the rows this path
  // does not read are left to the statements, which give what they always gave.
  db.AddVisitor("192.0.2.1");
  int32_t odd = db.AddSession("192.0.2.1", "5 March 2004");
  db.AddResource(odd, "2004-03-05 10:00:00", "/odd");
  db.Exec("UPDATE DNSLookUp SET rURL=NULL WHERE UserIP='10.0.0.2'");
  db.Exec("UPDATE Resource SET UriStem=NULL WHERE ResourceId=3");
  db.Exec("UPDATE Resource SET StatusCode=NULL WHERE ResourceId=5");
  db.Exec("UPDATE Referer SET \"Group\"=NULL WHERE Url='www.example.org'");
  ExpectSameTrees(db, ReportFilter(), now, "odd rows");
}

// The sessions are read into memory whether the file keeps their starts as seconds, as
// text (as an earlier program wrote them), or both: each read as the view gives it.
TEST(ReportRowsTest, StartsKeptAsSecondsOrAsTextAreReadIntoMemoryAlike) {
  test::ScopedTimeZone zone("UTC0");
  ReportDb db;
  FillMixedSessions(db);
  std::time_t now = test::LocalTime(2004, 4, 20, 12);
  auto starts = [&](const char* what) {
    ReportSessions sessions;
    EXPECT_TRUE(LoadReportSessions(db.Session(), ReportFilter(), now, sessions, SessionIds::kNone)) << what;
    std::vector<std::string> read;
    for (const ReportSession& session : sessions.rows)
      read.push_back(std::to_string(session.numId) + " " + std::to_string(session.start));
    return read;
  };
  ASSERT_EQ(db.Scalar("SELECT count(*) FROM SessionRow WHERE typeof(TimeEnter) <> 'integer'"), 0);
  const std::vector<std::string> asSeconds = starts("as seconds");
  ASSERT_FALSE(asSeconds.empty());
  EXPECT_EQ(asSeconds.front(), "1 " + std::to_string(db.Scalar("SELECT replace(replace(replace(TimeEnter, '-', ''), "
                                                                 "' ', ''), ':', '') FROM [Session] WHERE NumId = 1")));
  db.Exec("UPDATE SessionRow SET TimeEnter = datetime(TimeEnter, 'unixepoch') WHERE NumId % 2 = 0");
  EXPECT_EQ(starts("some as text"), asSeconds);
  db.Exec("UPDATE SessionRow SET TimeEnter = datetime(TimeEnter, 'unixepoch') WHERE typeof(TimeEnter) = 'integer'");
  EXPECT_EQ(starts("all as text"), asSeconds);
  ExpectSameTrees(db, ReportFilter(), now, "starts as text");
}

// The filter's condition on an address that is null (no robot flag, no country):
// a null answer passes no session, as in the statements' WHERE.
TEST(ReportRowsTest, AddressConditionsOnNullsPassAsTheStatementsPass) {
  test::ScopedTimeZone zone("UTC0");
  ReportDb db;
  FillMixedSessions(db);
  db.Exec("UPDATE DNSLookUp SET IsRobot=NULL, CountryCode=NULL WHERE rowid % 3 = 0");
  std::time_t now = test::LocalTime(2004, 4, 20, 12);
  ReportFilter robots;
  robots.applyFilter = 1;
  robots.noRobots = 1;
  ExpectSameTrees(db, robots, now, "robots out, some flags null");
  ReportFilter countries = robots;
  countries.isCountries = 1;
  countries.countries = "US DE";
  ExpectSameTrees(db, countries, now, "robots out and countries, some null");
}

// Requests stored long after the rest of their session's, and pages whose other
// spellings first appear among them.
TEST(ReportRowsTest, LateRequestsJoinTheirSessionsAndPageGroups) {
  test::ScopedTimeZone zone("UTC0");
  ReportDb db;
  FillMixedSessions(db);
  std::time_t now = test::LocalTime(2004, 4, 20, 12);
  for (int32_t numId : {1, 2, 3, 1}) {
    db.AddResource(numId, "2004-03-05 23:00:00", "/Late.html");
    db.AddResource(numId, "2004-03-05 23:01:00", "/LATE.HTML");
    db.AddResource(numId, "2004-03-05 23:02:00", "/index.html");
  }
  db.AddResource(4, "2004-03-05 23:03:00", "/late.html");
  ExpectSameTrees(db, ReportFilter(), now, "late requests");
  ReportFilter pages;
  pages.applyFilter = 1;
  pages.isPages = 1;
  pages.pages = "/late.html /LATE.HTML";
  ExpectSameTrees(db, pages, now, "late requests, a page list");
}

TEST(ReportRowsTest, EmptyDatabaseAndMissingTablesAsTheStatementsHaveThem) {
  test::ScopedTimeZone zone("UTC0");
  ReportDb db;
  ExpectSameTrees(db, ReportFilter(), 0, "empty");
  FillMixedSessions(db);
  test::WorkFolder folder;  // the traces land there
  db.Exec("DROP VIEW SessionReferer");  // the view statements read
  ReportTree tree = BuildSessionReport(SessionViewKind::kReferer, db.Session(), ReportFilter(), 0);
  EXPECT_EQ(tree.RowCount(), 0);
  // The view's own statement and SQLite's words, as when it alone ran.
  EXPECT_EQ(folder.Trace(), BuildViewQuery(SessionViewKind::kReferer, ReportFilter(), 0) + "\n" +
                                "no such table: SessionReferer (SQLite code 1)\n");
}

TEST(ReportRowsTest, RowsNotYetCommittedAreReadAsTheStatementsReadThem) {
  // Within a transaction of the report's connection nothing is read through a second
  // connection, which would not see these rows yet.
  test::ScopedTimeZone zone("UTC0");
  ReportDb db;
  ASSERT_FALSE(Failed(db.Session().StartTransaction()));
  FillMixedSessions(db);
  ReportFilter noRobots;
  noRobots.applyFilter = 1;
  noRobots.noRobots = 1;
  ExpectSameTrees(db, noRobots, 0, "in a transaction");
  EXPECT_GT(BuildSessionReport(SessionViewKind::kVisits, db.Session(), noRobots, 0).RowCount(), 20);
  db.Session().Abort();
}

TEST(ReportRowsTest, TheFilterApartNamesWhatItsJoinedConditionsPass) {
  EXPECT_TRUE(BuildFilterQueries(ReportFilter(), 0).idQueries.empty());
  ReportFilter f;
  f.applyFilter = 1;
  f.noRobots = 1;
  f.isCountries = 1;
  f.countries = "us";
  f.isReferers = 1;
  f.referers = "a.example b.example";
  f.isKeywords = 1;
  f.keywords = " ";  // no word: no condition, as in the joined form
  FilterQueries q = BuildFilterQueries(f, 0);
  EXPECT_EQ(q.sessionQuery, "");
  EXPECT_EQ(q.addressCondition, "1=1 AND ((b.IsRobot IS NULL) OR b.IsRobot=0) AND (b.CountryCode IN ('us')) ");
  ASSERT_EQ(q.idQueries.size(), 2u);
  EXPECT_EQ(q.idQueries[0], "SELECT SessionId FROM Resource WHERE 1=1 ;");  // a country asks for a request
  EXPECT_EQ(q.idQueries[1],
            "SELECT SessionReferer.SessionId FROM SessionReferer, Referer WHERE "
            "SessionReferer.RefererId=Referer.RefererId AND (Url IN ('a.example', 'b.example'));");
}

TEST(ReportRowsTest, TheConnectionGetsItsMapAndCacheBackAfterTheReads) {
  ReportDb db;
  auto pragma = [&](const char* name) { return db.Scalar(std::string("PRAGMA ") + name); };
  int64_t mapped = pragma("mmap_size"), cache = pragma("cache_size");
  {
    ScanConnection scanning(db.Session());
    EXPECT_EQ(pragma("mmap_size"), 0);
    EXPECT_EQ(pragma("cache_size"), -8192);
  }
  EXPECT_EQ(pragma("mmap_size"), mapped);
  EXPECT_EQ(pragma("cache_size"), cache);
}

TEST(ReportRowsTest, PaddedKeysOrderAsTheBlankFilledTextsWithoutCase) {
  // Blank filling puts a tab before the end of a text and "/" after it, unlike plain
  // text order; cut at the width, texts differing beyond it rank together.
  std::vector<std::string_view> texts = {"abc", "abc\t", "ABC/", "abcdefgh-one", "abcdefgh-two", "Abc"};
  std::vector<uint32_t> rank = RankPaddedKeys(texts, 8);
  EXPECT_EQ(rank, (std::vector<uint32_t>{1, 0, 2, 3, 3, 1}));
  std::vector<std::string> keys(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) AppendPaddedKey(keys[i], texts[i], 8);
  EXPECT_EQ(RankKeys(keys), rank);
  EXPECT_EQ(keys[0], "abc     ");

  // Texts that share long beginnings and differ by a blank, a tab, a case or their
  // length around and past the first sixteen bytes, at widths below and above them.
  std::mt19937 random(7);
  const std::string letters = "aAb\t/ ";
  std::vector<std::string> made;
  for (int i = 0; i < 3000; ++i) {
    std::string text = i % 3 ? "www.example.com." : "";
    size_t length = random() % 24;
    for (size_t j = 0; j < length; ++j) text.push_back(letters[random() % letters.size()]);
    made.push_back(text);
  }
  std::vector<std::string_view> views(made.begin(), made.end());
  for (size_t width : {5, 16, 20, 100}) {
    std::vector<std::string> padded(made.size());
    for (size_t i = 0; i < made.size(); ++i) AppendPaddedKey(padded[i], made[i], width);
    EXPECT_EQ(RankPaddedKeys(views, width), RankKeys(padded)) << "width " << width;
  }

  ReportSession session;
  session.start = 20040305093007;
  char minute[17];
  EXPECT_EQ(session.Minute(minute), "2004-03-05 09:30");
}

TEST(ReportRowsTest, TextIndexFindsEveryTextItWasGiven) {
  TextIndex index;
  std::vector<std::string> ids;
  for (int i = 0; i < 5000; ++i) ids.push_back("00000000-0000-0000-0000-" + std::to_string(1000000 + i * 7));
  for (size_t i = 0; i < ids.size(); ++i) index.Add(ids[i], static_cast<uint32_t>(i));
  index.Add(ids[3], 99);  // the first row given stays
  for (size_t i = 0; i < ids.size(); ++i) ASSERT_EQ(index.Find(ids[i]), i) << ids[i];
  EXPECT_EQ(index.Find("00000000-0000-0000-0000-1000001"), kNoEntry);
  EXPECT_EQ(index.Find(""), kNoEntry);
  EXPECT_EQ(TextIndex().Find("x"), kNoEntry);
}

// In order, out of order, repeated, missing: the next-row guess never answers for another text.
TEST(ReportRowsTest, OrderedLookupAnswersAsTheIndexWhateverTheOrderAsked) {
  TextIndex index;
  std::vector<std::string_view> byRow;
  for (int i = 0; i < 50; ++i) {
    std::string_view kept;
    index.FindOrAdd("session-" + std::to_string(i), static_cast<uint32_t>(byRow.size()), &kept);
    byRow.push_back(kept);
  }
  EXPECT_EQ(index.FindOrAdd("session-7", 99), 7u);  // known: its row stays
  OrderedLookup lookup(index, byRow);
  for (int i : {0, 1, 2, 5, 6, 6, 40, 3, 4, 49, 0}) EXPECT_EQ(lookup.Find("session-" + std::to_string(i)), i);
  EXPECT_EQ(lookup.Find("session-50"), kNoEntry);
  EXPECT_EQ(lookup.Find("session-1"), 1u);
  EXPECT_EQ(lookup.Find("session-2"), 2u);
}

// Texts that differ only past the first eight bytes, in length only, or in a byte of
// a word's tail; the empty text and one of a whole arena block; kept copies outlive
// the caller's strings, also across the table's growth.
TEST(ReportRowsTest, TextIndexTellsApartTextsOfEveryShape) {
  TextIndex index;
  std::vector<std::string> texts = {"", "a", "ab", std::string("a\0", 2), "12345678", "123456789", "12345678a",
                                    "1234567", std::string(1 << 20, 'x'), std::string((1 << 20) + 1, 'x')};
  for (int i = 0; i < 3000; ++i) texts.push_back("46.105." + std::to_string(i / 256) + "." + std::to_string(i % 256));
  std::vector<std::string_view> kept;
  for (size_t i = 0; i < texts.size(); ++i) {
    std::string copy = texts[i];
    kept.push_back(index.Add(copy, static_cast<uint32_t>(i)));
  }
  EXPECT_EQ(index.Size(), texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    ASSERT_EQ(index.Find(texts[i]), i) << i;
    ASSERT_EQ(kept[i], texts[i]) << i;
  }
  EXPECT_EQ(index.Add("ab", 7), "ab");
  EXPECT_EQ(index.Find("ab"), 2u);
  EXPECT_EQ(index.Find("46.105.11.185"), kNoEntry);
  EXPECT_EQ(index.Find(std::string(1 << 20, 'y')), kNoEntry);
}

}  // namespace
}  // namespace weavil
