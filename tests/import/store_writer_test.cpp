// The store writer: stored rows and their normalised values, sessions found as stored,
// known addresses, traced failures, session identifiers, and a differential test
// against one statement at a time as the rules write them.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <ctime>
#include <filesystem>
#include <set>

#include "classify/classification_store.h"
#include "import/import_driver.h"
#include "import/index_rebuild.h"
#include "import/session_guid.h"
#include "import/store_writer.h"
#include "store/database.h"
#include "store/stored_times.h"
#include "store/jet_date.h"
#include "store/result.h"
#include "store/sql_text.h"
#include "store/trace.h"
#include "tests/import/import_test_support.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

using test::Combined;

class StoreTest : public ::testing::Test {
 protected:
  std::string NewDatabase(const std::string& name = "log.db") {
    std::string path = dir_.File(name);
    test::CopyTemplateDatabase(path);
    return path;
  }
  static std::vector<std::string> Rows(DbSession& db, const std::string& sql) {
    Statement statement;
    std::vector<std::string> rows;
    EXPECT_TRUE(Succeeded(statement.Execute(db, sql))) << sql;
    std::string text;
    while (statement.MoveNext() == kResultOk) rows.push_back(statement.GetText(1, text) ? text : "<null>");
    return rows;
  }
  std::string Trace() { return dir_.Trace(); }

  test::WorkFolder dir_;
};

TEST_F(StoreTest, RowsHoldNormalisedValuesAndQuotes) {
  SessionList list;
  ParserState state("www.site.test");
  test::ParseInto(list, state,
                  "#Fields: date time c-ip cs-uri-stem cs-uri-query sc-status sc-bytes time-taken cs(User-Agent) "
                  "cs(Referer)\n"
                  "2003-3-7 9:5:1 1.2.3.4 /a.html - 200 10 5 O'Brien/1.0 http://x.test/it's\n"
                  "2003-03-07 09:06:00 1.2.3.4 /b.html q=1 ok - - O'Brien/1.0 -\n"
                  "2003-03-07 09:07:00 1.2.3.4 /c.gif - 200 3000000000 - O'Brien/1.0 -\n");
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  StoreResult result = StoreSessionList(list, db, nullptr);
  EXPECT_EQ(result.stored, 1);
  EXPECT_EQ(Rows(db, "SELECT TimeEnter||'|'||TimeExit||'|'||UserIP||'|'||quote(ErrorCode)||'|'||UserAgent||'|'||"
                     "Referer||'|'||NumVisited||'|'||length(SessionId) FROM Session"),
            std::vector<std::string>{"2003-03-07 09:05:01|2003-03-07 09:07:00|1.2.3.4|200|O'Brien/1.0|"
                                     "http://x.test/it's|2|36"});
  EXPECT_EQ(Rows(db, "SELECT TimeEnter||'|'||UriStem||'|'||quote(StatusCode)||'|'||quote(UriQuery)||'|'||BytesLoad||"
                     "'|'||Bytes2||'|'||TimeLoad FROM Resource ORDER BY ResourceId"),
            (std::vector<std::string>{"2003-03-07 09:05:01|/a.html|200|'-'|10|0|5",
                                      "2003-03-07 09:06:00|/b.html|NULL|'q=1'|0|0|0"}));
  EXPECT_EQ(Rows(db, "SELECT Bytes||'|'||BytesIn FROM SessionBytes"), std::vector<std::string>{"3000000010|0"});
  EXPECT_EQ(Rows(db, "SELECT rURL||'|'||CountryCode||'|'||quote(IsRobot) FROM DNSLookUp"),
            std::vector<std::string>{"ip.1.2.3.4|PL|NULL"});  // the country at import
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM SessionBrowserOS").at(0), "1");
  EXPECT_EQ(Trace(), "");
}

TEST_F(StoreTest, StoredSessionsAndKnownAddressesAreKept) {
  // The known address between two new ones, in one batch of address rows.
  std::string log = Combined("9.9.9.9", 0, "/", 200, "1", "-", "Mozilla/4.0") +
                    Combined("1.1.1.1", 0, "/a.html", 200, "1", "-", "Googlebot/2.1") +
                    Combined("2.2.2.2", 5, "/b.html", 200, "1", "-", "Mozilla/4.0");
  SessionList list;
  ParserState state("");
  test::ParseInto(list, state, log);
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  // A visitor corrected earlier: a name and no robot flag.
  Statement known;
  ASSERT_TRUE(Succeeded(known.Execute(
      db, "INSERT INTO DNSLookUp (UserIP, FullName, rURL, CountryCode, IsRobot) VALUES ('1.1.1.1', 'crawl.test', "
          "'test.crawl', 'DE', 0)")));
  StoreResult first = StoreSessionList(list, db, nullptr);
  EXPECT_EQ(first.stored, 3);
  const std::vector<std::string> addresses{"1.1.1.1|test.crawl|DE|0", "2.2.2.2|ip.2.2.2.2|US|NULL",
                                           "9.9.9.9|ip.9.9.9.9|US|NULL"};
  const std::string addressRows =
      "SELECT UserIP||'|'||rURL||'|'||CountryCode||'|'||quote(IsRobot) FROM DNSLookUp ORDER BY UserIP";
  EXPECT_EQ(Rows(db, addressRows), addresses);

  StoreResult again = StoreSessionList(list, db, nullptr);
  EXPECT_EQ(again.stored, 0);
  EXPECT_EQ(again.alreadyStored, 3);
  for (const char* table : {"Session", "Resource", "SessionBytes", "SessionBrowserOS", "SessionReferer"})
    EXPECT_EQ(Rows(db, std::string("SELECT count(*) FROM ") + table).at(0), table == std::string("SessionReferer") ? "0" : "3")
        << table;
  EXPECT_EQ(Rows(db, addressRows), addresses);

  // A new robot address gets its flag.
  SessionList robot;
  ParserState robotState("");
  test::ParseInto(robot, robotState, Combined("3.3.3.3", 9, "/", 200, "1", "-", "Googlebot/2.1"));
  StoreSessionList(robot, db, nullptr);
  EXPECT_EQ(Rows(db, "SELECT quote(IsRobot) FROM DNSLookUp WHERE UserIP='3.3.3.3'").at(0), "1");
}

// Two sessions of one import with the same start and address (two browsers behind one
// address): the second counts as stored, among so many others that the first was
// stored long before (and times that come round again, as in logs put together).
TEST_F(StoreTest, ASecondSessionOfTheSameStartAndAddressIsNotWrittenTwice) {
  constexpr int kSessions = 140000;
  auto ip = [](int i) {
    return "10." + std::to_string(i / 62500) + "." + std::to_string(i / 250 % 250) + "." + std::to_string(i % 250);
  };
  std::string log;
  for (int i = 0; i < kSessions; ++i) log += Combined(ip(i), i % 3000, "/a.html");
  // Sessions stored early, midway and lately, each closed when its twin comes.
  const int twins[] = {7, 70007, 138500};
  for (int i : twins) log += Combined(ip(i), i % 3000, "/b.html", 200, "1", "-", "Other/2.0");
  SessionList list{kDefaultExtensions, /*agentChaining=*/false};
  ParserState state("");
  test::ParseInto(list, state, log);
  ASSERT_EQ(list.Count(), static_cast<size_t>(kSessions + 3));
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  StoreResult result = StoreSessionList(list, db, nullptr);
  EXPECT_EQ(result.stored, kSessions);
  EXPECT_EQ(result.alreadyStored, 3);
  for (int i : twins) EXPECT_EQ(Rows(db, "SELECT count(*) FROM [Session] WHERE UserIP='" + ip(i) + "'").at(0), "1");
}

// The pairs this import stored are kept in runs of a few thousand, searched newest
// first: an older run whose starts reach further than a newer run's still holds its
// twins. Here a run of starts 0 to 8191 s, then one of starts going back to 0 (the log
// put together from two), then the twin of a session of the first run.
TEST_F(StoreTest, ATwinIsFoundInARunOlderThanOneEndingBeforeItsStart) {
  constexpr int kEach = 8192;
  auto ip = [](char group, int i) {
    return std::string(group == 'a' ? "10." : "11.") + std::to_string(i / 250) + "." + std::to_string(i % 250) + ".1";
  };
  std::string log;
  for (int i = 0; i < kEach; ++i) log += Combined(ip('a', i), i, "/a.html");
  for (int i = 0; i < kEach; ++i) log += Combined(ip('b', i), i / 4, "/a.html");
  log += Combined(ip('a', 6000), 6000, "/b.html", 200, "1", "-", "Other/2.0");
  SessionList list{kDefaultExtensions, /*agentChaining=*/false};
  ParserState state("");
  test::ParseInto(list, state, log);
  ASSERT_EQ(list.Count(), static_cast<size_t>(2 * kEach + 1));
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  StoreResult result = StoreSessionList(list, db, nullptr);
  EXPECT_EQ(result.stored, 2 * kEach);
  EXPECT_EQ(result.alreadyStored, 1);
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM [Session] WHERE UserIP='" + ip('a', 6000) + "'").at(0), "1");
}

// Every address of an import gets one row, whatever its form and however often its
// visitor comes back: many plain IPv4 addresses (held as their bits), the two at the
// ends of their range, and texts in other forms.
TEST_F(StoreTest, EachAddressOfAnImportGetsOneRow) {
  std::vector<std::string> addresses = {"0.0.0.0", "255.255.255.255", "010.0.0.1", "10.0.0.1", "::1", "host.example"};
  for (int i = 0; i < 20000; ++i) addresses.push_back("172.16." + std::to_string(i / 256) + "." + std::to_string(i % 256));
  std::string log;
  for (int visit = 0; visit < 2; ++visit)  // the second visit is a session of its own
    for (const std::string& address : addresses) log += Combined(address, visit * 3000, "/a.html");
  SessionList list;
  ParserState state("");
  test::ParseInto(list, state, log);
  ASSERT_EQ(list.Count(), 2 * addresses.size());
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  EXPECT_EQ(StoreSessionList(list, db, nullptr).stored, static_cast<int64_t>(2 * addresses.size()));
  EXPECT_EQ(Rows(db, "SELECT count(*)||'|'||count(DISTINCT UserIP) FROM DNSLookUp").at(0),
            std::to_string(addresses.size()) + "|" + std::to_string(addresses.size()));
  for (const char* address : {"0.0.0.0", "255.255.255.255", "010.0.0.1", "10.0.0.1", "::1", "host.example", "172.16.78.31"})
    EXPECT_EQ(Rows(db, std::string("SELECT count(*) FROM DNSLookUp d JOIN [Session] s ON s.UserIP=d.UserIP WHERE "
                                   "d.UserIP='") + address + "'").at(0), "2") << address;
}

// The twin check's frozen pairs keep starts as seconds after the run's earliest unless
// the run spans more than 32 bits of seconds: twins are found in either kind of run.
TEST_F(StoreTest, TwinsAreFoundInARunSpanningCenturies) {
  auto line = [](const std::string& address, const char* stamp, const char* path) {
    return address + " - - [" + stamp + " +0000] \"GET " + path + " HTTP/1.1\" 200 100 \"-\" \"Agent/1.0\"\n";
  };
  // Both ends of the calendar in the first run; a request an hour after the last start
  // closes its session.
  std::string log = line("10.1.0.1", "07/Mar/1601:00:00:00", "/a.html") + line("10.1.0.2", "07/Mar/9999:00:00:00", "/a.html");
  constexpr int kSessions = 70000;  // more than one run holds
  for (int i = 0; i < kSessions; ++i)
    log += Combined("10.2." + std::to_string(i / 250) + "." + std::to_string(i % 250), i % 3000, "/a.html");
  log += line("10.1.0.3", "07/Mar/9999:01:00:00", "/a.html");
  // Each a second session with the same start and address.
  log += line("10.1.0.1", "07/Mar/1601:00:00:00", "/b.html") + line("10.1.0.2", "07/Mar/9999:00:00:00", "/b.html");
  SessionList list{kDefaultExtensions, /*agentChaining=*/false};
  ParserState state("");
  test::ParseInto(list, state, log);
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  StoreResult result = StoreSessionList(list, db, nullptr);
  EXPECT_EQ(result.stored, kSessions + 3);
  EXPECT_EQ(result.alreadyStored, 2);
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM [Session] WHERE UserIP IN ('10.1.0.1', '10.1.0.2')").at(0), "2");
}

// More sessions than one lookup of the stored ones takes: a second import of the log
// stores nothing, and the log continued completes every stored session (pages, exit,
// bytes, the referrer that came after the stored "-") and stores the new ones.
TEST_F(StoreTest, ARepeatedOrContinuedLogOfThousandsOfSessions) {
  std::string log, continued;
  for (int i = 0; i < 2502; ++i) {
    std::string ip = "10.3." + std::to_string(i / 250) + "." + std::to_string(i % 250);
    if (i < 2500) log += Combined(ip, i * 30, "/a.html");
    if (i < 2500) continued += Combined(ip, i * 30, "/a.html");
    // The visitor that came two lines before asks for a second page.
    if (i >= 2) continued += Combined("10.3." + std::to_string((i - 2) / 250) + "." + std::to_string((i - 2) % 250),
                                      (i - 2) * 30 + 60, "/b.html", 200, "50", "http://other.test/x");
  }
  for (int i = 0; i < 10; ++i) continued += Combined("10.9.0." + std::to_string(i), 86100, "/a.html");
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  auto store = [&](const std::string& text) {
    SessionList list;
    ParserState state("www.site.test");
    test::ParseInto(list, state, text);
    return StoreSessionList(list, db, nullptr);
  };
  EXPECT_EQ(store(log).stored, 2500);
  StoreResult again = store(log);
  EXPECT_EQ(again.stored + again.completed, 0);
  EXPECT_EQ(again.alreadyStored, 2500);
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM Resource").at(0), "2500");

  StoreResult more = store(continued);
  EXPECT_EQ(more.completed, 2500);
  EXPECT_EQ(more.stored, 10);
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM Session s JOIN SessionBytes b ON b.SessionId=s.SessionId WHERE "
                     "s.NumVisited=2 AND s.Referer='http://other.test/x' AND b.Bytes=150 AND "
                     "s.TimeExit=datetime(s.TimeEnter, '+60 seconds')").at(0), "2500");
  EXPECT_EQ(Rows(db, "SELECT count(*)||'|'||sum(UriStem='/b.html') FROM Resource").at(0), "5010|2500");
  StoreResult last = store(continued);
  EXPECT_EQ(last.alreadyStored, 2510);
  EXPECT_EQ(last.stored + last.completed, 0);
}

// Stored sessions sharing a start and address: the first stored is the one completed.
// A second session of the import with that pair finds it completed, and one a second
// off is a different session.
TEST_F(StoreTest, TheFirstStoredOfASharedStartAndAddressIsCompletedOnce) {
  std::string log = Combined("10.4.0.1", 100, "/a.html") + Combined("10.4.0.2", 200, "/a.html");
  // The second visitor behind 10.4.0.1 comes in lines written late, after the first's
  // session closed: a session of its own with the same start.
  std::string continued = Combined("10.4.0.1", 100, "/a.html") + Combined("10.4.0.1", 160, "/b.html", 200, "50") +
                          Combined("10.4.0.2", 200, "/a.html") + Combined("10.4.0.2", 260, "/b.html") +
                          Combined("10.4.9.9", 2000, "/a.html") + Combined("10.4.0.1", 100, "/a.html", 200, "10") +
                          Combined("10.4.0.1", 130, "/c.html", 200, "10");
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  auto store = [&](const std::string& text) {
    SessionList list;
    ParserState state("");
    test::ParseInto(list, state, text);
    return StoreSessionList(list, db, nullptr);
  };
  ASSERT_EQ(store(log).stored, 2);
  Statement hand;
  for (const char* sql : {"INSERT INTO Session (NumId, SessionId, TimeEnter, TimeExit, UserIP, Referer, NumVisited) "
                          "SELECT 1000000, 'later', TimeEnter, TimeExit, UserIP, '-', 1 FROM Session WHERE UserIP='10.4.0.1'",
                          "INSERT INTO Session (NumId, SessionId, TimeEnter, TimeExit, UserIP, Referer, NumVisited) "
                          "SELECT 0, 'earlier', TimeEnter, TimeExit, UserIP, '-', 1 FROM Session WHERE UserIP='10.4.0.2'",
                          "INSERT INTO Session (SessionId, TimeEnter, TimeExit, UserIP, Referer, NumVisited) SELECT "
                          "'off', datetime(TimeEnter, '+1 seconds'), TimeExit, UserIP, '-', 1 FROM Session WHERE SessionId='later'"})
    ASSERT_TRUE(Succeeded(hand.Execute(db, sql))) << sql;
  StoreResult result = store(continued);
  EXPECT_EQ(result.completed, 2);
  EXPECT_EQ(result.alreadyStored, 1);
  EXPECT_EQ(result.stored, 1);
  EXPECT_EQ(Rows(db, "SELECT UserIP||'|'||NumVisited||'|'||substr(TimeExit, 12)||'|'||(SessionId IN ('later', 'earlier', "
                     "'off'))||'|'||ifnull((SELECT Bytes FROM SessionBytes b WHERE b.SessionId=s.SessionId), '-') "
                     "FROM Session s ORDER BY NumId"),
            (std::vector<std::string>{"10.4.0.2|2|00:04:20|1|-", "10.4.0.1|2|00:02:40|0|150", "10.4.0.2|1|00:03:20|0|100",
                                      "10.4.0.1|1|00:01:40|1|-", "10.4.0.1|1|00:01:40|1|-", "10.4.9.9|1|00:33:20|0|100"}));
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM Resource").at(0), "5");
}

TEST_F(StoreTest, Ipv6VisitorsGetTheirCountryAndFullNameAtImport) {
  std::string log = Combined("2001:41D0:8:F69::1", 0, "/a.html") + Combined("::ffff:2.2.2.2", 5, "/b.html") +
                    Combined("fd00::1", 9, "/c.html");
  SessionList list;
  ParserState state("");
  test::ParseInto(list, state, log);
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  EXPECT_EQ(StoreSessionList(list, db, nullptr).stored, 3);
  EXPECT_EQ(Rows(db, "SELECT UserIP||'|'||rURL||'|'||CountryCode FROM DNSLookUp ORDER BY UserIP"),
            (std::vector<std::string>{"2.2.2.2|ip.2.2.2.2|US",
                                      "2001:41d0:8:f69::1|ip.2001:41d0:0008:0f69:0000:0000:0000:0001|FR",
                                      "fd00::1|ip.fd00:0000:0000:0000:0000:0000:0000:0001|"}));
}

TEST_F(StoreTest, AFailedInsertIsTracedAndRollsTheWholeStoreBack) {
  SessionList list;
  ParserState state("");
  test::ParseInto(list, state,
                  Combined("1.1.1.1", 0, "/a.html") + Combined("1.1.1.1", 1, "/fail.html") +
                      Combined("1.1.1.1", 2, "/c.html"));
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  Statement trigger;
  ASSERT_TRUE(Succeeded(trigger.Execute(db, "CREATE TRIGGER NoFail BEFORE INSERT ON ResourceRow WHEN "
                                            "NEW.UriStem='/fail.html' BEGIN SELECT RAISE(ABORT, 'refused'); END")));
  StoreResult result = StoreSessionList(list, db, nullptr);
  // Reported, and nothing half stored: the session would lack a page.
  EXPECT_TRUE(result.databaseFailed);
  EXPECT_EQ(result.stored, 0);
  EXPECT_NE(result.error.find("cannot store the sessions in the database " + db.FilePath() + ": refused"),
            std::string::npos)
      << result.error;
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM Resource"), std::vector<std::string>{"0"});
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM [Session]"), std::vector<std::string>{"0"});
  std::string trace = Trace();
  EXPECT_NE(trace.find("Insert INTO Resource (SessionId, TimeEnter, UriStem, StatusCode, UriQuery, BytesLoad, Bytes2, "
                       "TimeLoad) VALUES ('"),
            std::string::npos);
  EXPECT_NE(trace.find("', '2003-03-07 00:00:01', '/fail.html', '200', ' ', '100', '0', '0');\n"), std::string::npos);
}

// A disk that fills in the middle of a store: SQLite then ends the whole transaction
// itself. What the store writes after that must not land on its own, one statement at a
// time; the file keeps what it held before, and the failure is reported.
TEST_F(StoreTest, ADiskThatFillsMidwayLeavesTheFileAsItWas) {
  std::string log;
  for (int i = 0; i < 3000; ++i)
    log += Combined("10." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ".1", i * 7,
                    "/page" + std::to_string(i % 40) + ".html?" + std::string(200, 'q'));
  SessionList list;
  ParserState state("");
  test::ParseInto(list, state, log);
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  const std::vector<std::string> pages = Rows(db, "PRAGMA page_count");
  ASSERT_EQ(pages.size(), 1u);
  // Room for some of the rows only (pages of 16 KB).
  Rows(db, "PRAGMA max_page_count = " + std::to_string(std::stoll(pages[0]) + 40));
  StoreResult result = StoreSessionList(list, db, nullptr);
  EXPECT_TRUE(result.databaseFailed);
  EXPECT_NE(result.error.find("cannot store the sessions in the database " + db.FilePath() + ": database or disk is full"),
            std::string::npos)
      << result.error;
  EXPECT_FALSE(db.InTransaction());
  for (const char* table : {"[Session]", "Resource", "SessionBytes", "DNSLookUp", "SessionBrowserOS"})
    EXPECT_EQ(Rows(db, std::string("SELECT count(*) FROM ") + table), std::vector<std::string>{"0"}) << table;
}

TEST_F(StoreTest, SessionIdentifiers) {
  int64_t now = 0x12345678;
  SessionGuid guid = MakeSessionGuid(now);
  EXPECT_EQ(guid.data2, static_cast<uint16_t>((guid.data1 >> 16) ^ (now >> 16)));
  EXPECT_EQ(guid.data3, static_cast<uint16_t>(guid.data1 ^ now));
  EXPECT_FALSE(guid.IsNil());
  SessionGuid fixed;
  fixed.data1 = 0xA1B2C3D4;
  fixed.data2 = 0x0E0F;
  fixed.data3 = 0x1011;
  const uint8_t tail[8] = {0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0xFF};
  std::copy(tail, tail + 8, fixed.data4);
  EXPECT_EQ(FormatSessionId(fixed), "a1b2c3d4-0e0f-1011-1213-1415161718ff");
  EXPECT_NE(MakeSessionId(now), MakeSessionId(now));

  // An import's identifiers rise as text, keep the mixing with the time, and two
  // sequences (two imports) never give the same one.
  SessionIdSequence first, second;
  std::set<std::string> seen;
  std::string previous;
  for (int i = 0; i < 2000; ++i) {
    const int64_t when = now + i / 7;
    SessionGuid next = first.NextGuid(when);
    EXPECT_EQ(next.data2, static_cast<uint16_t>((next.data1 >> 16) ^ (when >> 16)));
    EXPECT_EQ(next.data3, static_cast<uint16_t>(next.data1 ^ when));
    std::string text = FormatSessionId(next);
    ASSERT_LT(previous, text);
    previous = text;
    EXPECT_TRUE(seen.insert(text).second);
    EXPECT_TRUE(seen.insert(second.Next(when)).second);
  }
}

// The stored times: what the platform's calendar gives for the seconds, over the years
// a request time may have (1601 to 9999), days before 1970 included.
TEST_F(StoreTest, RequestTimesAreWrittenAsTheCalendarGives) {
  EXPECT_EQ(FormatEpochSeconds(0), "1970-01-01 00:00:00");
  EXPECT_EQ(FormatEpochSeconds(-1), "1969-12-31 23:59:59");
  EXPECT_EQ(FormatEpochSeconds(RequestTime("1999-12-31", "23:59:59")), "1999-12-31 23:59:59");
  const int64_t first = RequestTime("1601-01-01", "00:00:00"), last = RequestTime("9999-12-31", "23:59:59");
  int64_t step = (last - first) / 20011;  // not a whole number of days: every time of day comes up
  for (int64_t seconds = first; seconds <= last; seconds += step) {
    std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    ASSERT_NE(::gmtime_r(&time, &parts), nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    ASSERT_EQ(FormatEpochSeconds(seconds), text) << seconds;
    ASSERT_EQ(EpochSecondsFromParts(PartsFromEpochSeconds(seconds)), seconds);
  }
  EXPECT_EQ(FormatEpochSeconds(last), "9999-12-31 23:59:59");
}

// A file of the template keeps the times of the sessions and requests as numbers, one of
// an earlier template (sessions as the table Session, request times typed TEXT) as their
// text; both read the same through the views, and the sessions and pages stored are the
// same. A second import finds every session by its start (across the centuries), and a
// later request completes its stored session, whose new exit the file keeps as a number.
TEST_F(StoreTest, TimesAreKeptAsNumbersWhereTheFileLetsThemAndReadAsTheirText) {
  const std::string log =
      "#Fields: date time c-ip cs-uri-stem sc-status\n"
      "1601-01-01 00:00:00 1.0.0.1 /first.html 200\n"
      "1969-12-31 23:59:59 1.0.0.2 /before.html 200\n"
      "1970-01-01 00:00:00 1.0.0.3 /epoch.html 200\n"
      "2003-03-07 09:05:01 1.0.0.4 /a.html 200\n"
      "2003-03-07 09:06:00 1.0.0.4 /b.html 404\n"
      "9999-12-31 23:59:59 1.0.0.5 /last.html 200\n";
  const std::vector<std::string> times{"1601-01-01 00:00:00", "1969-12-31 23:59:59", "1970-01-01 00:00:00",
                                       "2003-03-07 09:05:01", "2003-03-07 09:06:00", "9999-12-31 23:59:59"};
  const std::vector<std::string> visits{"1601-01-01 00:00:00 1601-01-01 00:00:00",
                                        "1969-12-31 23:59:59 1969-12-31 23:59:59",
                                        "1970-01-01 00:00:00 1970-01-01 00:00:00",
                                        "2003-03-07 09:05:01 2003-03-07 09:06:00",
                                        "9999-12-31 23:59:59 9999-12-31 23:59:59"};
  const std::string numbered = NewDatabase("numbers.db"), texts = NewDatabase("texts.db");
  for (const std::string& path : {numbered, texts}) {
    const std::string form = path == texts ? "text" : "integer";
    DbSession db;
    ASSERT_TRUE(Succeeded(db.OpenFile(path)));
    if (path == texts) {
      ASSERT_TRUE(test::KeepSessionsAsTable(db));
      ASSERT_TRUE(test::KeepRequestTimesAsText(db));
    }
    for (int round = 0; round < 2; ++round) {
      SessionList list;
      ParserState state("");
      test::ParseInto(list, state, log);
      const StoreResult result = StoreSessionList(list, db, nullptr);
      EXPECT_EQ(result.stored, round == 0 ? 5 : 0) << path;
      EXPECT_EQ(result.alreadyStored, round == 0 ? 0 : 5) << path;
    }
    EXPECT_EQ(Rows(db, "SELECT TimeEnter FROM Resource ORDER BY ResourceId"), times) << path;
    EXPECT_EQ(Rows(db, "SELECT TimeEnter || ' ' || TimeExit FROM [Session] ORDER BY NumId"), visits) << path;
    EXPECT_EQ(Rows(db, "SELECT group_concat(DISTINCT typeof(TimeEnter)) FROM ResourceRow"),
              std::vector<std::string>{form});
    EXPECT_EQ(Rows(db, "SELECT group_concat(DISTINCT typeof(TimeEnter) || ' ' || typeof(TimeExit)) FROM " +
                           db.StoredTable("Session")),
              std::vector<std::string>{form + " " + form});

    SessionList later;
    ParserState state("");
    std::string grown = log;
    grown.insert(grown.find("9999-"), "2003-03-07 09:20:30 1.0.0.4 /c.html 200\n");
    test::ParseInto(later, state, grown);
    EXPECT_EQ(StoreSessionList(later, db, nullptr).completed, 1) << path;
    EXPECT_EQ(Rows(db, "SELECT TimeExit || ' ' || NumVisited FROM [Session] WHERE UserIP = '1.0.0.4'"),
              std::vector<std::string>{"2003-03-07 09:20:30 3"});
    EXPECT_EQ(Rows(db, "SELECT typeof(TimeExit) FROM " + db.StoredTable("Session") + " WHERE UserIP = '1.0.0.4'"),
              std::vector<std::string>{form});
  }
  EXPECT_EQ(test::StoredContent(numbered), test::StoredContent(texts));
  EXPECT_EQ(Trace(), "");
}

// A file keeps each agent's text once and the sessions by its number; one whose sessions
// are the table Session keeps the texts in it. Both read the same through Session, and
// a later import numbers only the agents it brings new. A session that fails is traced
// with its agent's text.
TEST_F(StoreTest, AgentsAreKeptOncePerTextWhereTheFileLetsThemAndReadAsTheirText) {
  const std::string firefox = "Mozilla/5.0 (X11; Linux x86_64; rv:128.0) Gecko/20100101 Firefox/128.0";
  const std::string log = Combined("1.0.0.1", 0, "/a.html", 200, "100", "-", firefox) +
                          Combined("1.0.0.2", 5, "/b.html", 200, "100", "-", "curl/8.5") +
                          Combined("1.0.0.3", 9, "/c.html", 200, "100", "-", firefox) +
                          Combined("1.0.0.4", 12, "/d.html", 200, "100", "-", "CURL/8.5");
  std::string stored = firefox;  // as the import keeps it, blanks as '+'
  std::replace(stored.begin(), stored.end(), ' ', '+');
  const std::vector<std::string> agents{stored, "curl/8.5", stored, "CURL/8.5"};
  const std::string numbered = NewDatabase("numbers.db"), texts = NewDatabase("texts.db");
  for (const std::string& path : {numbered, texts}) {
    SessionList list;
    ParserState state("");
    test::ParseInto(list, state, log);
    DbSession db;
    ASSERT_TRUE(Succeeded(db.OpenFile(path)));
    if (path == texts) {
      ASSERT_TRUE(test::KeepSessionsAsTable(db));
    }
    EXPECT_EQ(StoreSessionList(list, db, nullptr).stored, 4) << path;
    EXPECT_EQ(Rows(db, "SELECT UserAgent FROM [Session] ORDER BY NumId"), agents) << path;
  }
  EXPECT_EQ(test::StoredContent(numbered), test::StoredContent(texts));
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(numbered)));
  EXPECT_EQ(Rows(db, "SELECT AgentId || ' ' || Text FROM Agent ORDER BY AgentId"),
            (std::vector<std::string>{"1 " + stored, "2 curl/8.5", "3 CURL/8.5"}));
  EXPECT_EQ(Rows(db, "SELECT group_concat(AgentId) FROM (SELECT AgentId FROM SessionRow ORDER BY NumId)"),
            std::vector<std::string>{"1,2,1,3"});

  SessionList later;
  ParserState state("");
  test::ParseInto(later, state,
                  Combined("1.0.0.9", 7200, "/e.html", 200, "100", "-", "curl/8.5") +
                      Combined("1.0.0.8", 7201, "/f.html", 200, "100", "-", "Wget/1.21"));
  EXPECT_EQ(StoreSessionList(later, db, nullptr).stored, 2);
  EXPECT_EQ(Rows(db, "SELECT AgentId || ' ' || Text FROM Agent WHERE AgentId > 3"),
            std::vector<std::string>{"4 Wget/1.21"});
  EXPECT_EQ(Rows(db, "SELECT UserAgent FROM [Session] WHERE UserIP IN ('1.0.0.8', '1.0.0.9') ORDER BY UserIP"),
            (std::vector<std::string>{"Wget/1.21", "curl/8.5"}));
  EXPECT_EQ(Trace(), "");

  Statement trigger;
  ASSERT_TRUE(Succeeded(trigger.Execute(db, "CREATE TRIGGER NoFail BEFORE INSERT ON SessionRow WHEN "
                                            "NEW.UserIP = '1.0.0.7' BEGIN SELECT RAISE(ABORT, 'refused'); END")));
  SessionList failing;
  test::ParseInto(failing, state, Combined("1.0.0.7", 9000, "/g.html", 200, "100", "-", "Refused/2.0"));
  EXPECT_TRUE(StoreSessionList(failing, db, nullptr).databaseFailed);
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM Agent"), std::vector<std::string>{"4"});
  const std::string trace = Trace();
  EXPECT_NE(trace.find("Insert INTO [Session] (SessionId, TimeEnter, TimeExit, UserIP, ErrorCode, UserAgent, Referer, "
                       "NumVisited) VALUES ('"),
            std::string::npos)
      << trace;
  // The times, written as numbers, are traced as their text.
  EXPECT_NE(trace.find("', '2003-03-07 02:30:00', '2003-03-07 02:30:00', '1.0.0.7', 200, 'Refused/2.0', '-', '1');\n"),
            std::string::npos)
      << trace;
}

// Written through the view, a session's agent goes into Agent the first time it comes:
// on insert, on update, and by INSERT OR REPLACE, which replaces the session and leaves
// the stored agents their numbers. A session without an agent reads as none.
TEST_F(StoreTest, TheSessionViewKeepsEachAgentOnceAndGivesItsTextBack) {
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  Statement run;
  ASSERT_TRUE(Succeeded(run.Execute(db, "INSERT INTO [Session] (SessionId, UserIP, UserAgent) VALUES ('a', '1.1.1.1', "
                                        "'One/1'), ('b', '1.1.1.2', 'One/1'), ('c', '1.1.1.3', NULL);")));
  EXPECT_EQ(Rows(db, "SELECT NumId || ' ' || quote(UserAgent) FROM [Session] ORDER BY NumId"),
            (std::vector<std::string>{"1 'One/1'", "2 'One/1'", "3 NULL"}));
  EXPECT_EQ(Rows(db, "SELECT quote(AgentId) FROM SessionRow ORDER BY NumId"),
            (std::vector<std::string>{"1", "1", "NULL"}));
  ASSERT_TRUE(Succeeded(run.Execute(db, "UPDATE [Session] SET UserAgent = 'Two/2' WHERE SessionId = 'b';")));
  ASSERT_TRUE(Succeeded(run.Execute(db, "UPDATE [Session] SET NumVisited = 7 WHERE SessionId = 'a';")));
  ASSERT_TRUE(Succeeded(run.Execute(db, "INSERT OR REPLACE INTO [Session] (NumId, SessionId, UserAgent) VALUES "
                                        "(3, 'c', 'One/1'), (4, 'd', 'Three/3');")));
  EXPECT_EQ(Rows(db, "SELECT NumId || ' ' || SessionId || ' ' || UserAgent || ' ' || quote(NumVisited) FROM [Session] "
                     "ORDER BY NumId"),
            (std::vector<std::string>{"1 a One/1 7", "2 b Two/2 NULL", "3 c One/1 NULL", "4 d Three/3 NULL"}));
  EXPECT_EQ(Rows(db, "SELECT AgentId || ' ' || Text FROM Agent ORDER BY AgentId"),
            (std::vector<std::string>{"1 One/1", "2 Two/2", "3 Three/3"}));
  ASSERT_TRUE(Succeeded(run.Execute(db, "INSERT INTO Resource (SessionId, UriStem) VALUES ('d', '/x');")));
  EXPECT_EQ(Rows(db, "SELECT SessionId FROM Resource"), std::vector<std::string>{"d"});
  ASSERT_TRUE(Succeeded(run.Execute(db, "DELETE FROM [Session] WHERE UserAgent = 'One/1';")));
  EXPECT_EQ(Rows(db, "SELECT group_concat(SessionId) FROM (SELECT SessionId FROM SessionRow ORDER BY NumId)"),
            std::vector<std::string>{"b,d"});
}

// Written through the view, a time the view gives back as written is kept as its
// seconds, any other value as it is; each reads as written, an update keeps the form, the
// span of the stored starts is the view's, and the import finds a visit so written by
// its start.
TEST_F(StoreTest, TheSessionViewKeepsTimesAsNumbersAndTheImportFindsItsVisits) {
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  Statement run;
  ASSERT_TRUE(Succeeded(run.Execute(db, "INSERT INTO [Session] (SessionId, TimeEnter, TimeExit, UserIP, NumVisited) "
                                        "VALUES ('a', '2003-03-07 08:05:01', '2003-03-07 08:06:00', '1.0.0.4', 2), "
                                        "('b', '2003-02-30 00:00:00', NULL, '1.0.0.5', 1), "
                                        "('c', '2003-03-07T08:00:00', '1046999101', '1.0.0.6', 1), "
                                        "('d', '2004-01-01 00:00:00', '2004-01-01 00:00:09', '1.0.0.7', 1);")));
  ASSERT_TRUE(Succeeded(run.Execute(db, "UPDATE [Session] SET NumVisited = NumVisited + 1 WHERE SessionId = 'a';")));
  EXPECT_EQ(Rows(db, "SELECT SessionId || ' ' || typeof(TimeEnter) || ' ' || typeof(TimeExit) FROM SessionRow "
                     "ORDER BY NumId"),
            (std::vector<std::string>{"a integer integer", "b text null", "c text text", "d integer integer"}));
  EXPECT_EQ(Rows(db, "SELECT SessionId || '|' || TimeEnter || '|' || quote(TimeExit) FROM [Session] ORDER BY NumId"),
            (std::vector<std::string>{"a|2003-03-07 08:05:01|'2003-03-07 08:06:00'", "b|2003-02-30 00:00:00|NULL",
                                      "c|2003-03-07T08:00:00|'1046999101'",
                                      "d|2004-01-01 00:00:00|'2004-01-01 00:00:09'"}));
  EXPECT_EQ(Rows(db, "SELECT min(TimeEnter) || ' ' || max(TimeEnter) FROM [Session]"),
            std::vector<std::string>{"2003-02-30 00:00:00 2004-01-01 00:00:00"});
  std::string sql = StoredStartsSql(db);
  sql.pop_back();  // its ";"
  EXPECT_EQ(Rows(db, "SELECT first || ' ' || last FROM (" + sql + ")"),
            std::vector<std::string>{"2003-02-30 00:00:00 2004-01-01 00:00:00"});

  SessionList list;
  ParserState state("");
  test::ParseInto(list, state,
                  "#Fields: date time c-ip cs-uri-stem sc-status\n2003-03-07 08:05:01 1.0.0.4 /a.html 200\n");
  const StoreResult result = StoreSessionList(list, db, nullptr);
  EXPECT_EQ(result.stored, 0);
  EXPECT_EQ(result.alreadyStored, 1);
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM [Session]"), std::vector<std::string>{"4"});
}

// The visits that may go on are those whose exit, as the view gives it, lies within a
// session gap of the latest: read from the exits kept as seconds and as text alike,
// whichever form the latest has.
TEST_F(StoreTest, TheVisitsThatMayGoOnAreThoseTheViewsExitsTell) {
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  ASSERT_TRUE(SessionTimesKeptAsNumbers(db));
  Statement run;
  auto add = [&](const std::string& id, const std::string& exit, const std::string& address) {
    ASSERT_TRUE(Succeeded(run.Execute(db, "INSERT INTO SessionRow (SessionId, TimeEnter, TimeExit, UserIP, NumVisited) "
                                          "VALUES ('" + id + "', " + exit + ", " + exit + ", '" + address + "', 1);")));
  };
  auto seconds = [](int hour, int minute) { return std::to_string(1046995200 + hour * 3600 + minute * 60); };
  add("a", seconds(8, 40), "1.0.0.1");
  add("b", seconds(8, 15), "1.0.0.2");  // 25 minutes before the latest exit
  add("c", "'2003-03-07 08:30:00'", "1.0.0.3");
  add("d", seconds(8, 25), "1.0.0.4");
  add("e", "NULL", "1.0.0.5");
  auto open = [&] {
    std::vector<std::string> addresses;
    for (const StoredSession& session : ReadOpenStoredSessions(db)) addresses.push_back(session.address);
    return addresses;
  };
  // What the view's own statement picks.
  auto byView = [&] {
    return Rows(db, "SELECT UserIP FROM [Session] WHERE TimeExit >= (SELECT datetime(strftime('%s', max(TimeExit)) - " +
                        std::to_string(kSessionGap) + ", 'unixepoch') FROM [Session]) ORDER BY NumId");
  };
  EXPECT_EQ(open(), (std::vector<std::string>{"1.0.0.1", "1.0.0.3", "1.0.0.4"}));
  EXPECT_EQ(open(), byView());
  // The latest exit kept as text.
  add("f", "'2003-03-07 08:50:00'", "1.0.0.6");
  EXPECT_EQ(open(), (std::vector<std::string>{"1.0.0.1", "1.0.0.3", "1.0.0.6"}));
  EXPECT_EQ(open(), byView());
  // A later exit as seconds again; the first open one ends at the bound exactly.
  add("g", seconds(9, 0), "1.0.0.7");
  EXPECT_EQ(open(), (std::vector<std::string>{"1.0.0.1", "1.0.0.6", "1.0.0.7"}));
  EXPECT_EQ(open(), byView());
}

// The view gives a number back as the text the import would have written, over every
// year the import writes as a number; a time written as text (through the view, by an
// earlier program) reads as written, and an update through the view keeps the time.
TEST_F(StoreTest, TheRequestViewGivesANumberedTimeBackAsItsText) {
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  Statement run;
  ASSERT_TRUE(Succeeded(run.Execute(db, "INSERT INTO [Session] (NumId, SessionId) VALUES (1, 'a');")));
  const int64_t first = -62167219200, last = 253402300799;  // 0000-01-01 00:00:00, 9999-12-31 23:59:59
  std::vector<int64_t> seconds{first, -1, 0, 1, last};
  for (int64_t at = first; at < last; at += (last - first) / 4999) seconds.push_back(at);
  ASSERT_TRUE(Succeeded(run.Execute(db, "BEGIN;")));
  Statement insert;
  ASSERT_TRUE(Succeeded(insert.Prepare(db, "INSERT INTO ResourceRow (SessionNum, TimeEnter) VALUES (1, ?);")));
  for (int64_t at : seconds) ASSERT_TRUE(Succeeded(insert.RunDeferred(at))) << at;
  ASSERT_TRUE(Succeeded(run.Execute(db, "COMMIT;")));
  const std::vector<std::string> read = Rows(db, "SELECT TimeEnter FROM Resource ORDER BY ResourceId");
  ASSERT_EQ(read.size(), seconds.size());
  for (size_t i = 0; i < seconds.size(); ++i) ASSERT_EQ(read[i], FormatEpochSeconds(seconds[i])) << seconds[i];
  EXPECT_EQ(read[0], "0000-01-01 00:00:00");
  EXPECT_EQ(read[4], "9999-12-31 23:59:59");

  ASSERT_TRUE(Succeeded(run.Execute(db, "DELETE FROM ResourceRow;")));
  ASSERT_TRUE(Succeeded(run.Execute(db, "INSERT INTO Resource (SessionId, TimeEnter, UriStem) VALUES "
                                        "('a', '2003-03-07 09:05:01', '/text'), ('a', '1046999101', '/digits');")));
  ASSERT_TRUE(Succeeded(run.Execute(db, "INSERT INTO ResourceRow (SessionNum, TimeEnter, UriStem) VALUES "
                                        "(1, 1046999101, '/number');")));
  ASSERT_TRUE(Succeeded(run.Execute(db, "UPDATE Resource SET StatusCode = 404 WHERE UriStem = '/number';")));
  EXPECT_EQ(Rows(db, "SELECT UriStem||'|'||TimeEnter||'|'||quote(StatusCode) FROM Resource ORDER BY ResourceId"),
            (std::vector<std::string>{"/text|2003-03-07 09:05:01|NULL", "/digits|1046999101|NULL",
                                      "/number|2003-03-07 01:05:01|404"}));
}

// ---------------------------------------------------------------- differential test

// One statement at a time, as the rules write them (values quoted with their quotes
// doubled, dates normalised, a status that is no number written as NULL).
void PlainStore(const SessionList& list, DbSession& db) {
  auto quoted = [](std::string_view text) { return QuoteSql(text); };
  for (size_t i = 0; i < list.Count(); ++i) {
    const SessionRecord& s = list.At(i);
    std::string enter = FormatEpochSeconds(s.enterTime);
    std::string address(list.AddressText(s.address));
    Statement check;
    if (Failed(check.Execute(db, "Select SessionId FROM [Session] WHERE TimeEnter=CDate('" + enter +
                                     "') AND UserIP=" + quoted(address) + ";")) ||
        check.MoveNext() == kResultOk)
      continue;
    std::string id = MakeSessionId(1000);
    std::string status = s.status ? std::to_string(*s.status) : "NULL";
    Statement insert;
    insert.Execute(db, "Insert INTO [Session] (SessionId, TimeEnter, TimeExit, UserIP, ErrorCode, UserAgent, Referer, "
                       "NumVisited) VALUES ('" + id + "', '" + enter + "', '" + FormatEpochSeconds(s.exitTime) +
                           "', " + quoted(address) + ", " + status + ", " + quoted(list.Text(s.userAgent)) + ", " +
                           quoted(list.Text(s.referrer)) + ", '" + std::to_string(s.resourceCount) + "');");
    int32_t robot = ClassifyUserAgent(list.Text(s.userAgent), id, db);
    Statement dns;
    if (Succeeded(dns.Execute(db, "Insert INTO DNSLookUp (UserIP, rURL, CountryCode) VALUES (" + quoted(address) +
                                      ", " + quoted("ip." + address) + ", '');")) &&
        robot == 1)
      dns.Execute(db, "Update DNSLookUp SET IsRobot='1' WHERE UserIP=" + quoted(address) + ";");
    insert.Execute(db, "Insert INTO SessionBytes (SessionId, Bytes, BytesIn) VALUES ('" + id + "', '" +
                           std::to_string(s.bytes) + "', '" + std::to_string(s.bytesIn) + "');");
    list.ForEachResource(s, [&](const ResourceRecord& r) {
      Statement probe;
      if (Failed(probe.Execute(db, "Select ResourceId FROM Resource WHERE SessionId='" + id + "';"))) return;
      std::string query = r.query == kNoText ? " " : std::string(list.Text(r.query));
      insert.Execute(db, "Insert INTO Resource (SessionId, TimeEnter, UriStem, StatusCode, UriQuery, BytesLoad, "
                         "Bytes2, TimeLoad) VALUES ('" + id + "', '" + FormatEpochSeconds(r.time) + "', " +
                             quoted(list.Text(r.path)) + ", " + (r.status ? "'" + std::to_string(*r.status) + "'" : "NULL") +
                             ", " + quoted(query) + ", '" + std::to_string(r.scBytes) + "', '" +
                             std::to_string(r.csBytes) + "', '" + std::to_string(r.timeTaken) + "');");
    });
    AnalyzeReferrer(list.Text(s.referrer), id, db);
  }
}

// A table naming sessions, each row with its session's NumId, in the order of its rows
// (kept by number or by the text).
std::string LinkRows(DbSession& db, const std::string& table, const std::string& columns) {
  return db.KeptByNumber(table)
             ? "SELECT s.NumId, " + columns + " FROM " + table + "Row l LEFT JOIN Session s ON s.NumId=l.SessionNum "
                   "ORDER BY l.rowid"
             : "SELECT s.NumId, " + columns + " FROM " + table + " l LEFT JOIN Session s ON s.SessionId=l.SessionId "
                   "ORDER BY l.rowid";
}

std::vector<std::string> Dump(DbSession& db) {
  const std::string queries[] = {
      "SELECT NumId, TimeEnter, TimeExit, UserIP, quote(ErrorCode), UserAgent, Referer, NumVisited FROM Session ORDER BY NumId",
      "SELECT r.ResourceId, s.NumId, r.TimeEnter, r.UriStem, quote(r.StatusCode), quote(r.UriQuery), r.BytesLoad, "
      "r.Bytes2, r.TimeLoad FROM Resource r LEFT JOIN Session s ON s.SessionId=r.SessionId ORDER BY r.ResourceId",
      LinkRows(db, "SessionBytes", "l.Bytes, l.BytesIn"),
      "SELECT UserIP, quote(FullName), rURL, CountryCode, quote(IsRobot) FROM DNSLookUp ORDER BY rowid",
      "SELECT BrowserId, Browser FROM Browser ORDER BY BrowserId", "SELECT OSId, OS FROM OS ORDER BY OSId",
      "SELECT RefererId, Url, [Group] FROM Referer ORDER BY RefererId",
      "SELECT KeyphraseId, Keyphrase FROM Keyphrase ORDER BY KeyphraseId",
      "SELECT KeywordId, Word FROM Keyword ORDER BY KeywordId",
      LinkRows(db, "SessionBrowserOS", "l.BrowserId, l.OSId"),
      LinkRows(db, "SessionReferer", "l.RefererId"),
      LinkRows(db, "SessionKeyphrase", "l.KeyphraseId"),
      LinkRows(db, "SessionKeywords", "l.KeywordId"),
  };
  std::vector<std::string> rows;
  for (const std::string& sql : queries) {
    Statement statement;
    EXPECT_TRUE(Succeeded(statement.Execute(db, sql))) << sql;
    while (statement.MoveNext() == kResultOk) {
      std::string row, text;
      for (int c = 1; c <= statement.ColumnCount(); ++c) row += (statement.GetText(c, text) ? text : "<null>") + "|";
      rows.push_back(row);
    }
    rows.push_back("--");
  }
  return rows;
}

TEST_F(StoreTest, BatchedStoreWritesWhatOneStatementAtATimeWrites) {
  std::string earlier, later;
  const char* agents[] = {"Mozilla/4.0+(compatible;+MSIE+6.0;+Windows+NT+5.1)", "Googlebot/2.1+(+http://www.google.com/bot.html)",
                          "Mozilla/5.0+(X11;+U;+Linux+i686;+rv:1.7)+Gecko/20040101", "it's+a+bot"};
  const char* referrers[] = {"-", "http://www.google.com/search?q=blue+widgets&hl=en", "http://search.yahoo.com/search?p=red's+car",
                             "http://www.site.test/a.html", "http://other.test/x?y=1"};
  for (int i = 0; i < 400; ++i) {
    std::string line = Combined("10.0." + std::to_string(i % 7) + "." + std::to_string(i % 13), i * 97 % 86000,
                                i % 5 ? "/p" + std::to_string(i % 11) + ".html" : "/img.gif", i % 9 ? 200 : 404,
                                i % 6 ? std::to_string(i * 31) : "-", referrers[i % 5], agents[i % 4]);
    (i < 250 ? earlier : later) += line;
    if (i >= 200 && i < 250) later += line;  // the second import overlaps the first
  }
  std::string fastPath = NewDatabase("fast.db"), plainPath = NewDatabase("plain.db"), textPath = NewDatabase("text.db");
  // A file that keeps the tables naming sessions by the identifier text (one the
  // upgrade left so) is written by the text.
  {
    DbSession setup;
    ASSERT_TRUE(Succeeded(setup.OpenFile(textPath)));
    ASSERT_TRUE(test::KeepSessionTablesByText(setup));
  }
  DbSession fast, plain, text;
  ASSERT_TRUE(Succeeded(fast.OpenFile(fastPath)));
  ASSERT_TRUE(Succeeded(plain.OpenFile(plainPath)));
  ASSERT_TRUE(Succeeded(text.OpenFile(textPath)));
  for (const char* table : {"Resource", "SessionBytes", "SessionBrowserOS", "SessionKeywords"}) {
    ASSERT_TRUE(fast.KeptByNumber(table)) << table;
    ASSERT_FALSE(text.KeptByNumber(table)) << table;
  }
  for (const std::string* log : {&earlier, &later}) {
    SessionList list;
    ParserState state("www.site.test");
    test::ParseInto(list, state, *log);
    ASSERT_GT(list.Count(), 20u);
    StoreSessionList(list, fast, nullptr);
    StoreSessionList(list, text, nullptr);
    PlainStore(list, plain);
  }
  std::vector<std::string> fastRows = Dump(fast), plainRows = Dump(plain);
  EXPECT_EQ(fastRows, plainRows);
  EXPECT_EQ(Dump(text), plainRows);
  EXPECT_GT(fastRows.size(), 500u);
}

TEST_F(StoreTest, ImportThreadWithRebuiltIndexesWritesTheSameRows) {
  // A fresh database: the import rebuilds the indexes of the tables it fills at the
  // end. Rows and indexes must come out as the writer alone leaves them.
  std::string log;
  for (int i = 0; i < 600; ++i)
    log += Combined("10.1." + std::to_string(i % 9) + "." + std::to_string(i % 17), i * 53 % 86000,
                    i % 4 ? "/q" + std::to_string(i % 23) + ".html" : "/pic.jpg", i % 11 ? 200 : 404,
                    std::to_string(i), i % 3 ? "-" : "http://www.google.com/search?q=w" + std::to_string(i % 5),
                    i % 7 ? "Mozilla/4.0+(compatible;+MSIE+6.0)" : "Googlebot/2.1");
  std::string logPath = dir_.File("access.log");
  test::WriteFile(logPath, log);
  std::string threadPath = NewDatabase("thread.db"), writerPath = NewDatabase("writer.db");
  LogDataSource::Release();
  LogDataSource::UseDatabaseFile(threadPath);
  ImportCopies copies;
  copies.defaultHost = "www.site.test";
  ImportStats stats = RunImport(logPath, 0, copies);
  LogDataSource::Release();
  ASSERT_GT(stats.sessionsStored, 20);

  SessionList list;
  ParserState state("www.site.test");
  test::ParseInto(list, state, log);
  DbSession viaThread, viaWriter;
  ASSERT_TRUE(Succeeded(viaThread.OpenFile(threadPath)));
  ASSERT_TRUE(Succeeded(viaWriter.OpenFile(writerPath)));
  StoreSessionList(list, viaWriter, nullptr);
  EXPECT_EQ(Dump(viaThread), Dump(viaWriter));
  const char* indexes = "SELECT name||':'||sql FROM sqlite_master WHERE type='index' ORDER BY name";
  EXPECT_EQ(Rows(viaThread, indexes), Rows(viaWriter, indexes));
  EXPECT_EQ(Rows(viaThread, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
}

// A table's indexes go for an import that may add at least as many rows as it holds
// (a page request for each 400 bytes of log, a session for each 4,000), Session's only
// while it is empty; SessionBytes' stay once sessions are stored. A file keeps the
// requests' index on their visit whatever the import's size.
TEST_F(StoreTest, IndexesAreDroppedForTablesTheImportOutgrows) {
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  auto tables = [](const std::vector<HeldIndex>& dropped) {
    std::set<std::string> names;
    for (const HeldIndex& index : dropped) names.insert(index.name);
    return names;
  };
  ASSERT_TRUE(Succeeded(db.StartTransaction()));
  std::vector<HeldIndex> dropped = DropIndexesForImport(db, 4000000);
  EXPECT_EQ(tables(dropped).count("SessionSessionId"), 1u);
  EXPECT_EQ(tables(dropped).count("SessionBytesSessionNum"), 1u);
  EXPECT_EQ(tables(dropped).count("SessionRefererSessionNum"), 1u);
  EXPECT_EQ(tables(dropped).count("ResourceSessionNum"), 0u);
  EXPECT_EQ(tables(dropped).count("DNSLookUpUserIP"), 1u);  // the address key, while no address is stored
  db.Abort();

  Statement insert;
  ASSERT_TRUE(Succeeded(insert.Execute(db, "INSERT INTO [Session] (SessionId, TimeEnter, UserIP) VALUES ('a', "
                                           "'2024-01-01 00:00:00', '10.0.0.1');")));
  ASSERT_TRUE(Succeeded(insert.Execute(db, "INSERT INTO SessionReferer (SessionId, RefererId) VALUES ('a', 1);")));
  ASSERT_TRUE(Succeeded(insert.Execute(db, "INSERT INTO DNSLookUp (UserIP) VALUES ('10.0.0.1');")));
  insert.Close();
  // One referrer link stored: an import expecting one session keeps its table's index,
  // one expecting two outgrows it.
  for (int64_t expected : {1, 2}) {
    ASSERT_TRUE(Succeeded(db.StartTransaction()));
    std::set<std::string> names = tables(DropIndexesForImport(db, expected * 4000));
    EXPECT_EQ(names.count("SessionRefererSessionNum"), expected > 1 ? 1u : 0u) << expected;
    EXPECT_EQ(names.count("SessionSessionId"), 0u);
    EXPECT_EQ(names.count("SessionBytesSessionNum"), 0u);
    EXPECT_EQ(names.count("DNSLookUpUserIP"), 0u);  // it leaves a stored address out
    db.Abort();
  }
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM sqlite_master WHERE name='SessionRefererSessionNum'"),
            std::vector<std::string>{"1"});
}

// The address key built again at the end of an import that dropped it keeps one row of
// an address that came twice all the same, the first.
TEST_F(StoreTest, TheAddressKeyMadeAgainKeepsTheFirstRowOfARepeatedAddress) {
  DbSession db;
  ASSERT_TRUE(Succeeded(db.OpenFile(NewDatabase())));
  ASSERT_TRUE(Succeeded(db.StartTransaction()));
  std::vector<HeldIndex> dropped = DropIndexesForImport(db, 4000000);
  Statement insert;
  ASSERT_TRUE(Succeeded(insert.Execute(db, "INSERT INTO DNSLookUp (UserIP, rURL) VALUES ('10.0.0.1', 'first'), "
                                           "('10.0.0.2', 'other'), ('10.0.0.1', 'second');")));
  insert.Close();
  RecreateIndexes(db, dropped);
  EXPECT_FALSE(db.FirstHardError().Failed());
  ASSERT_TRUE(Succeeded(db.Commit()));
  EXPECT_EQ(Rows(db, "SELECT UserIP||'|'||rURL FROM DNSLookUp ORDER BY rowid"),
            (std::vector<std::string>{"10.0.0.1|first", "10.0.0.2|other"}));
  EXPECT_EQ(Rows(db, "SELECT count(*) FROM sqlite_master WHERE name='DNSLookUpUserIP'"), std::vector<std::string>{"1"});
  Statement again;
  EXPECT_TRUE(Failed(again.Execute(db, "INSERT INTO DNSLookUp (UserIP) VALUES ('10.0.0.2');")));
}

}  // namespace
// The import classifies as the setting says; switched off, an agent the program's own
// rows do not know stays unnamed and counts as a person.
TEST_F(StoreTest, ImportFollowsTheModernRulesSetting) {
  std::string log = Combined("10.2.0.1", 10, "/a.html", 200, "1", "-", "Googlebot/2.1") +
                    Combined("10.2.0.2", 20, "/a.html", 200, "1", "-",
                             "Mozilla/5.0+AppleWebKit/537.36+(KHTML,+like+Gecko;+compatible;+GPTBot/1.2)");
  std::string logPath = dir_.File("agents.log");
  test::WriteFile(logPath, log);
  const char* query =
      "SELECT s.UserIP||'|'||b.Browser||'|'||quote(d.IsRobot) FROM Session s JOIN SessionBrowserOS l ON "
      "l.SessionId=s.SessionId JOIN Browser b ON b.BrowserId=l.BrowserId JOIN DNSLookUp d ON d.UserIP=s.UserIP "
      "ORDER BY s.UserIP";
  for (int32_t modern : {1, 0}) {
    std::string dbPath = NewDatabase("modern" + std::to_string(modern) + ".db");
    LogDataSource::Release();
    LogDataSource::UseDatabaseFile(dbPath);
    ImportCopies copies;
    copies.isModernRules = modern;
    ASSERT_EQ(RunImport(logPath, 0, copies).sessionsStored, 2);
    LogDataSource::Release();
    DbSession db;
    ASSERT_TRUE(Succeeded(db.OpenFile(dbPath)));
    EXPECT_EQ(Rows(db, query), (std::vector<std::string>{"10.2.0.1|Robot/Google|1",
                                                         modern ? "10.2.0.2|Robot/AI/GPTBot|1" : "10.2.0.2||NULL"}));
  }
}

}  // namespace weavil
