// The session builder: the gap, pages and resources, status and referrer choice, the
// second pass on address changes, and a differential test against a plain scan over
// every session written straight from the rules.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>

#include "import/session_builder.h"
#include "store/jet_date.h"
#include "store/trace.h"
#include "tests/import/import_test_support.h"
#include "tests/import/plain_session_scan.h"
#include "tests/support/test_support.h"

namespace weavil {
namespace {

using test::Combined;
using test::IntegerValue;
using test::PlainAdd;
using test::PlainResource;
using test::PlainSession;

class SessionTest : public ::testing::Test {
 protected:
  void Build(const std::string& text) {
    ParserState state("www.site.test");
    test::ParseInto(list_, state, text);
  }
  std::vector<std::string> Paths(size_t session) {
    std::vector<std::string> paths;
    list_.ForEachResource(list_.At(session), [&](const ResourceRecord& r) { paths.emplace_back(list_.Text(r.path)); });
    return paths;
  }

  test::WorkFolder dir_;
  // The classic rules: a request from another address may continue a session.
  SessionList list_{kDefaultExtensions, /*agentChaining=*/true};
};

// Whether the memory page holding the byte at is in memory.
bool Resident(const void* at) {
  const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  unsigned char in = 0;
  EXPECT_EQ(::mincore(reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(at) & ~(page - 1)), page, &in), 0);
  return (in & 1) != 0;
}

// Released elements leave memory page by page (none of the kept ones do), released
// ranges may grow in any steps, and the array goes on growing after a release.
TEST(StableArrayTest, ReleasedElementsLeaveMemoryAndTheRestStays) {
  StableArray<ResourceRecord> array;
  for (int64_t i = 0; i < 200000; ++i) array.emplace_back().time = i;
  auto resident = [&](size_t i) { return Resident(&array[i]); };
  for (size_t end : {size_t(1000), size_t(1001), size_t(70000), size_t(150000)}) array.Release(end);
  EXPECT_FALSE(resident(2000));
  EXPECT_FALSE(resident(100000));
  EXPECT_FALSE(resident(149000));
  for (int64_t i = 150000; i < 200000; ++i) ASSERT_EQ(array[static_cast<size_t>(i)].time, i);
  for (int64_t i = 200000; i < 300000; ++i) array.emplace_back().time = i;
  array.Release(250000);
  EXPECT_EQ(array.size(), 300000u);
  for (int64_t i = 250000; i < 300000; ++i) ASSERT_EQ(array[static_cast<size_t>(i)].time, i);
  EXPECT_EQ(array[299999].next, UINT32_MAX) << "added elements are built with their defaults";
}

// Kept elements keep their values through this release and later ones, also one that
// lies across two pages; the pages between kept ones go.
TEST(StableArrayTest, KeptElementsStayThroughLaterReleases) {
  StableArray<SessionRecord> array;
  for (int64_t i = 0; i < 100000; ++i) array.emplace_back().enterTime = i;
  const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  auto resident = [&](size_t i) { return Resident(&array[i]); };
  // An element whose bytes cross a page boundary.
  size_t across = 30000;
  while ((reinterpret_cast<uintptr_t>(&array[across]) & ~(page - 1)) ==
         ((reinterpret_cast<uintptr_t>(&array[across]) + sizeof(SessionRecord) - 1) & ~(page - 1)))
    ++across;
  const std::vector<uint32_t> keep{7, 2000, static_cast<uint32_t>(across)};
  array.Release(across + 1, keep);
  array.Release(90000, keep);
  for (uint32_t k : keep) EXPECT_EQ(array[k].enterTime, static_cast<int64_t>(k));
  EXPECT_EQ(array[across].resourcesBefore, 0u);
  EXPECT_FALSE(resident(1000));
  EXPECT_FALSE(resident(20000));
  EXPECT_FALSE(resident(60000));
  for (int64_t i = 90000; i < 100000; ++i) ASSERT_EQ(array[static_cast<size_t>(i)].enterTime, i);
}

// Ids are handed out in the order texts are first met and stay what they were while the
// pool's table grows; texts that differ only in length, in a late byte or not at all
// past eight bytes are told apart, the empty text included.
TEST(TextPoolTest, EachTextOneStableIdAcrossGrowth) {
  TextPool pool;
  std::vector<std::string> texts = {"", "a", std::string("a\0", 2), "12345678", "123456789", "12345679"};
  for (int i = 0; i < 40000; ++i) texts.push_back("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256));
  texts.push_back(std::string(3 << 20, 'u'));  // larger than a block of the pool
  for (size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(pool.Intern(texts[i]), i) << i;
  for (size_t i = texts.size(); i-- > 0;) {
    ASSERT_EQ(pool.Intern(texts[i]), i) << i;
    ASSERT_EQ(pool.Text(static_cast<uint32_t>(i)), texts[i]) << i;
  }
  EXPECT_EQ(pool.Size(), texts.size());
}

TEST_F(SessionTest, GapOf1200JoinsAnd1201Splits) {
  // Another browser, or the second pass would join the different address.
  Build(Combined("1.1.1.1", 0, "/") + Combined("1.1.1.1", 1200, "/") +
        Combined("2.2.2.2", 5000, "/", 200, "1", "-", "Other") + Combined("1.1.1.1", 2401, "/"));
  ASSERT_EQ(list_.Count(), 3u);
  EXPECT_EQ(list_.At(0).exitTime - list_.At(0).enterTime, 1200);
  EXPECT_TRUE(list_.At(0).closed);
  EXPECT_EQ(list_.At(2).enterTime - list_.At(0).enterTime, 2401);
}

TEST_F(SessionTest, PagesByExtensionAndFailedRequests) {
  EXPECT_TRUE(IsPage("/", std::nullopt, kDefaultExtensions));
  EXPECT_TRUE(IsPage("/news/", std::nullopt, kDefaultExtensions));
  EXPECT_TRUE(IsPage("/a.tml", std::nullopt, kDefaultExtensions));  // "tml " lies inside "html "
  EXPECT_FALSE(IsPage("/A.HTM", 200, kDefaultExtensions));
  EXPECT_TRUE(IsPage("/A.HTM", 500, kDefaultExtensions));
  EXPECT_TRUE(IsPage("/file.", std::nullopt, kDefaultExtensions));
  EXPECT_FALSE(IsPage("/logo.gif", 200, kDefaultExtensions));
  EXPECT_TRUE(IsPage("/missing.gif", 404, kDefaultExtensions));
  EXPECT_EQ(PageKey("/x.verylongextension"), "verylongex ");
  EXPECT_EQ(PageKey("/x"), "");

  Build(Combined("1.1.1.1", 0, "/logo.gif", 200, "500") + Combined("1.1.1.1", 10, "/missing.gif", 404, "20") +
        Combined("1.1.1.1", 20, "/spacer.gif", 304, "-") + Combined("3.3.3.3", 30, "/logo.gif", 200, "7", "-", "B"));
  ASSERT_EQ(list_.Count(), 2u);
  EXPECT_EQ(Paths(0), std::vector<std::string>{"/missing.gif"});
  EXPECT_EQ(list_.At(0).bytes, 520);  // every request counts, "-" as 0
  EXPECT_EQ(list_.At(1).resourceCount, 0u);
  EXPECT_EQ(list_.At(1).bytes, 7);
}

TEST_F(SessionTest, StatusOfTheFirstSuccessOrElseTheLatest) {
  Build(Combined("1.1.1.1", 0, "/a", 404) + Combined("1.1.1.1", 1, "/b", 200) + Combined("1.1.1.1", 2, "/c", 500) +
        Combined("2.2.2.2", 0, "/a", 404, "1", "-", "B") + Combined("2.2.2.2", 1, "/b", 500, "1", "-", "B"));
  ASSERT_EQ(list_.Count(), 2u);
  EXPECT_EQ(list_.At(0).status, 200);
  EXPECT_EQ(list_.At(1).status, 500);
}

TEST_F(SessionTest, AddressChangeFollowsTheNavigation) {
  Build(Combined("1.1.1.1", 0, "/start.html", 200, "1", "http://other.test/", "UA") +
        Combined("9.9.9.9", 60, "/next.html", 200, "1", "http://www.site.test/start.html", "UA") +
        // Same browser, internal referrer not continuing any page: a new session.
        Combined("8.8.8.8", 70, "/x.html", 200, "1", "http://www.site.test/elsewhere.html", "UA") +
        // Different browser, referrer continuing: a new session as well.
        Combined("7.7.7.7", 80, "/y.html", 200, "1", "http://www.site.test/next.html", "Other"));
  ASSERT_EQ(list_.Count(), 3u);
  EXPECT_EQ(Paths(0), (std::vector<std::string>{"/start.html", "/next.html"}));
  EXPECT_EQ(list_.Text(list_.At(0).referrer), "http://other.test/");
  EXPECT_EQ(list_.AddressText(list_.At(0).address), "1.1.1.1");
  EXPECT_EQ(list_.Text(list_.At(1).referrer), "-");  // internal only: "-" at the end
}

// An address in the plain dotted IPv4 form is kept as its bits; any other form keeps its
// text. Either way two requests share a session only when their address texts are equal.
TEST_F(SessionTest, AddressesKeepTheirTextsAndMatchOnlyTheSameText) {
  for (const char* plain : {"0.0.0.0", "1.2.3.4", "10.0.255.9", "255.255.255.255", "192.168.100.200"}) {
    std::optional<uint32_t> bits = PlainIpv4(plain);
    ASSERT_TRUE(bits) << plain;
    char buffer[16];
    EXPECT_EQ(FormatIpv4(*bits, buffer), plain);
  }
  EXPECT_EQ(PlainIpv4("1.2.3.4"), 0x01020304u);
  for (const char* other : {"", "1.2.3", "1.2.3.4.5", "01.2.3.4", "1.2.3.04", "1.2.3.256", "1.2.3.4 ", " 1.2.3.4",
                            "1..2.3", "1.2.3.", "1.2.3.4x", "0001.2.3.4", "1.2.3.1000", "::1", "host.example", "1,2,3,4"})
    EXPECT_FALSE(PlainIpv4(other)) << other;

  SessionList list{kDefaultExtensions, /*agentChaining=*/false};
  ParserState state("");
  test::ParseInto(list, state,
                  Combined("1.2.3.4", 0, "/a.html") + Combined("01.2.3.4", 10, "/b.html") +
                      Combined("1.2.3.4", 20, "/c.html") + Combined("255.255.255.255", 30, "/d.html") +
                      Combined("::1", 40, "/e.html") + Combined("01.2.3.4", 50, "/f.html") +
                      Combined("255.255.255.255", 60, "/g.html"));
  ASSERT_EQ(list.Count(), 4u);
  auto visits = [&](size_t s) {
    std::string text = list.AddressText(list.At(s).address) + ":";
    list.ForEachResource(list.At(s), [&](const ResourceRecord& r) { text += " " + std::string(list.Text(r.path)); });
    return text;
  };
  EXPECT_EQ(visits(0), "1.2.3.4: /a.html /c.html");
  EXPECT_EQ(visits(1), "01.2.3.4: /b.html /f.html");
  EXPECT_EQ(visits(2), "255.255.255.255: /d.html /g.html");
  EXPECT_EQ(visits(3), "::1: /e.html");
}

TEST_F(SessionTest, NoReferrerAndSameBrowserJoinOneSession) {
  Build(Combined("1.1.1.1", 0, "/a.html") + Combined("2.2.2.2", 600, "/b.html") +
        Combined("3.3.3.3", 600 + 1300, "/c.html"));
  ASSERT_EQ(list_.Count(), 2u);
  EXPECT_EQ(list_.At(0).resourceCount, 2u);
}

TEST_F(SessionTest, ReferrerTakesTheFirstOutsideOneAfterADash) {
  Build(Combined("1.1.1.1", 0, "/a.html", 200, "1", "-") +
        Combined("1.1.1.1", 5, "/b.html", 200, "1", "http://www.google.com/search?q=x") +
        Combined("1.1.1.1", 9, "/c.html", 200, "1", "http://elsewhere.test/"));
  ASSERT_EQ(list_.Count(), 1u);
  EXPECT_EQ(list_.Text(list_.At(0).referrer), "http://www.google.com/search?q=x");
  EXPECT_TRUE(IsInternalReferrer("http://www.site.test/a", "www.site.test"));
  EXPECT_FALSE(IsInternalReferrer("http://www.site.test/a", ""));
  EXPECT_FALSE(IsInternalReferrer("-", "-"));
}

TEST_F(SessionTest, InternalReferrersByScheme) {
  EXPECT_TRUE(IsInternalReferrer("https://www.site.test/a.html", "www.site.test"));
  EXPECT_TRUE(IsInternalReferrer("HTTPS://WWW.Site.Test:8443/", "www.site.test"));
  EXPECT_TRUE(IsInternalReferrer("//www.site.test", "www.site.test:8080"));
  EXPECT_TRUE(IsInternalReferrer("http://www.site.test?x", "http://www.site.test/"));
  EXPECT_FALSE(IsInternalReferrer("https:/www.site.test/a", "www.site.test"));
  EXPECT_FALSE(IsInternalReferrer("http://www.site.test.evil/", "www.site.test"));
  EXPECT_FALSE(IsInternalReferrer("ftp://www.site.test/", "www.site.test"));
  EXPECT_FALSE(IsInternalReferrer("android-app://www.site.test/", "www.site.test"));

  // An https link between the site's pages is no outside referrer.
  Build(Combined("1.1.1.1", 0, "/a.html", 200, "1", "https://www.site.test/") +
        Combined("1.1.1.1", 5, "/b.html", 200, "1", "https://other.test/"));
  ASSERT_EQ(list_.Count(), 1u);
  EXPECT_EQ(list_.Text(list_.At(0).referrer), "https://other.test/");
}

TEST_F(SessionTest, OneVisitorPerAddressWithoutChaining) {
  // Two strangers with one browser text and no referrer, then one following a link.
  SessionList list;
  ParserState state("www.site.test");
  test::ParseInto(list, state,
                  Combined("1.1.1.1", 0, "/a.html") + Combined("2.2.2.2", 60, "/b.html") +
                      Combined("3.3.3.3", 70, "/c.html", 200, "1", "http://www.site.test/a.html") +
                      Combined("2001:db8::1", 80, "/d.html") + Combined("1.1.1.1", 90, "/e.html"));
  ASSERT_EQ(list.Count(), 4u);
  EXPECT_EQ(list.AddressText(list.At(3).address), "2001:db8::1");
  EXPECT_EQ(list.At(0).resourceCount, 2u);
  for (size_t i = 1; i < 4; ++i) EXPECT_EQ(list.At(i).resourceCount, 1u);
}

TEST_F(SessionTest, LinesOutOfTimeOrder) {
  SessionList list;
  ParserState state("");
  // A late line for an earlier time joins its visit and moves its start; a line far
  // behind every visit starts its own and closes none; a gap ahead still closes.
  test::ParseInto(list, state,
                  Combined("1.1.1.1", 36000, "/a.html") + Combined("2.2.2.2", 36010, "/x.html") +
                      Combined("1.1.1.1", 35000, "/b.html") + Combined("1.1.1.1", 3600, "/c.html") +
                      Combined("2.2.2.2", 36020, "/y.html") + Combined("1.1.1.1", 36000 + 1201, "/d.html"));
  ASSERT_EQ(list.Count(), 4u);
  EXPECT_EQ(list.At(0).enterTime, RequestTime("2003-03-07", "09:43:20"));
  EXPECT_EQ(list.At(0).exitTime, RequestTime("2003-03-07", "10:00:00"));
  EXPECT_EQ(list.At(0).resourceCount, 2u);
  EXPECT_EQ(list.At(1).resourceCount, 2u);  // not closed by the line from 01:00
  EXPECT_EQ(list.At(2).enterTime, list.At(2).exitTime);
  EXPECT_TRUE(list.At(0).closed);
  EXPECT_EQ(list.AddressText(list.At(3).address), "1.1.1.1");
}

// ---------------------------------------------------------------- differential test

// A log made to stress the matching: few addresses and browsers, times that jump
// back and ahead past the gap, internal referrers that continue or not, robots.
// backPercent: the lines that go back in time; with few, time moves on and most
// sessions close.
std::string MatchingStressLog(unsigned seed, int lines, int backPercent = 8) {
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* agents[] = {"Mozilla/4.0+(compatible;+MSIE+6.0)", "Mozilla/5.0+Gecko/20040101+Firefox/1.0",
                          "Googlebot/2.1+(+http://www.google.com/bot.html)", "Opera/7.0"};
  const char* paths[] = {"/", "/a.html", "/b.htm", "/c.asp", "/img/x.gif", "/d/", "/e.html", "/logo.gif", "/f.txt"};
  const char* outside[] = {"-", "http://www.google.com/search?q=a+b", "http://other.test/page", "-x"};
  std::string text = "#Software: generated\n#Fields: date time c-ip cs-uri-stem cs-uri-query sc-status sc-bytes "
                     "cs-bytes time-taken cs-host cs(User-Agent) cs(Referer)\n";
  int64_t t = RequestTime("2004-02-28", "20:00:00");
  for (int i = 0; i < lines; ++i) {
    int move = pick(100);
    if (move < backPercent) t -= pick(3000);                  // out of time order
    else if (move < backPercent + 6) t += 1150 + pick(100);  // around the gap
    else t += pick(40);
    std::string path = paths[pick(9)];
    std::string referrer;
    int r = pick(10);
    if (r < 4) referrer = outside[pick(4)];
    else if (r < 6) referrer = "http://www.site.test/";
    else if (r < 9) referrer = std::string("http://www.site.test") + paths[pick(9)];
    else referrer = "http://www.site.test.evil/";
    std::string host = pick(20) == 0 ? "-" : "www.site.test";
    const char* statuses[] = {"200", "200", "304", "404", "500", "-"};
    std::string bytes = pick(10) == 0 ? "-" : std::to_string(pick(5000));
    std::string date = FormatEpochSeconds(t);
    text += date.substr(0, 10) + " " + date.substr(11) + " 10.0.0." + std::to_string(pick(6)) + " " + path + " " +
            (pick(3) ? "-" : "q=" + std::to_string(pick(9))) + " " + statuses[pick(6)] + " " + bytes + " " +
            std::to_string(pick(900)) + " " + std::to_string(pick(90)) + " " + host + " " + agents[pick(4)] + " " +
            referrer + "\n";
    if (pick(500) == 0) text += "#Software: generated again\n";
  }
  return text;
}

// Deferring: a session open while more than this many later ones exist is handed
// over as it is and then in parts, as an import does (0: never).
void CheckIndexedMatching(size_t deferBehind) {
  // The last seeds run longer, so the indexes are swept and the exit tree moves on.
  for (unsigned seed = 1; seed <= 14; ++seed) {
    const int lineCount = seed <= 12 ? 2500 : 9000;
    std::string log = seed <= 12 ? MatchingStressLog(seed, lineCount) : MatchingStressLog(seed, lineCount, 2);
    // Odd seeds: the classic rules (chaining, the first releases' page list).
    const bool chaining = seed % 2 == 1;
    const std::string extensions = chaining ? kClassicExtensions : kDefaultExtensions;

    std::vector<PlainSession> plain;
    ParserState plainState("");
    std::vector<std::string> lines;
    for (size_t start = 0, nl; start < log.size(); start = nl + 1) {
      nl = log.find('\n', start);
      lines.push_back(log.substr(start, nl - start + 1));
    }
    RequestRecord record;
    for (const std::string& line : lines)
      if (ParseLogLine(plainState, CutLine(line), nullptr, record) == ParseOutcome::kRecord)
        PlainAdd(plain, record, extensions, chaining);

    SessionList fast(extensions, chaining);
    ParserState fastState("");
    size_t checked = 0, closed = 0, deferredCount = 0;
    auto checkRecord = [&](size_t i, const SessionRecord& f, const std::vector<ResourceRecord>& resources) {
      ASSERT_LT(i, plain.size());
      const PlainSession& p = plain[i];
      SCOPED_TRACE("seed " + std::to_string(seed) + " session " + std::to_string(i));
      EXPECT_EQ(FormatEpochSeconds(f.enterTime), FormatEpochSeconds(RequestTime(p.enterDate, p.enterTime)));
      EXPECT_EQ(FormatEpochSeconds(f.exitTime), FormatEpochSeconds(RequestTime(p.exitDate, p.exitTime)));
      EXPECT_EQ(fast.AddressText(f.address), p.address);
      EXPECT_EQ(fast.Text(f.userAgent), p.userAgent.value_or(""));
      // A session stored before the end has no "-" filled in yet.
      EXPECT_EQ(f.referrer == kNoText ? "-" : fast.Text(f.referrer), p.referrer.value_or("-"));
      EXPECT_EQ(f.status, ParseDecimal(p.status.value_or("")));
      EXPECT_EQ(f.bytes, p.bytes);
      EXPECT_EQ(f.bytesIn, p.bytesIn);
      EXPECT_EQ(f.closed, p.closed);
      closed += p.closed;
      ASSERT_EQ(f.resourceCount, p.resources.size());
      ASSERT_EQ(resources.size(), p.resources.size());
      size_t k = 0;
      for (const ResourceRecord& r : resources) {
        const PlainResource& q = p.resources[k++];
        EXPECT_EQ(FormatEpochSeconds(r.time), FormatEpochSeconds(RequestTime(q.date, q.time)));
        EXPECT_EQ(fast.Text(r.path), q.path);
        EXPECT_EQ(r.query == kNoText ? std::optional<std::string>() : std::string(fast.Text(r.query)), q.query);
        EXPECT_EQ(r.status, ParseDecimal(q.status));
        EXPECT_EQ(r.scBytes, q.scBytes ? IntegerValue(*q.scBytes) : 0);
        EXPECT_EQ(r.timeTaken, q.timeTaken ? IntegerValue(*q.timeTaken) : 0);
      }
    };
    auto listed = [&](const SessionRecord& f, std::vector<ResourceRecord>& into) {
      fast.ForEachResource(f, [&](const ResourceRecord& r) { into.push_back(r); });
    };
    auto check = [&](size_t i) {
      std::vector<ResourceRecord> resources;
      listed(fast.At(i), resources);
      checkRecord(i, fast.At(i), resources);
    };
    // Deferred sessions: the requests handed over so far, copied as the store writes them.
    std::map<size_t, std::vector<ResourceRecord>> deferred;
    auto endDeferred = [&](size_t i) {
      SessionRecord last = fast.HandOver(i);
      listed(last, deferred[i]);
      checkRecord(i, last, deferred[i]);
      deferred.erase(i);
    };
    // As an import does: the leading closed sessions are final; once checked (stored)
    // they leave memory, and the sessions after them must come out the same.
    for (size_t i = 0; i < lines.size(); ++i) {
      if (ParseLogLine(fastState, CutLine(lines[i]), nullptr, record) == ParseOutcome::kRecord) AddRequest(fast, record);
      if (i % 50 != 49) continue;
      for (auto at = deferred.begin(); at != deferred.end();) {
        const size_t s = (at++)->first;
        if (fast.At(s).closed) endDeferred(s);
        else listed(fast.HandOver(s), deferred[s]);
      }
      for (;;) {
        if (checked < fast.Count() && fast.At(checked).closed) {
          check(checked++);
        } else if (deferBehind && checked < fast.Count() && fast.Count() - checked > deferBehind) {
          listed(fast.Defer(checked), deferred[checked]);
          ++deferredCount;
          ++checked;
        } else {
          break;
        }
      }
      fast.ReleaseStored(checked, SIZE_MAX, 0);
    }
    FinishSessionList(fast);
    ASSERT_EQ(fast.Count(), plain.size()) << "seed " << seed;
    while (!deferred.empty()) endDeferred(deferred.begin()->first);
    while (checked < fast.Count()) check(checked++);
    if (deferBehind) {
      EXPECT_GT(deferredCount, 0u) << "seed " << seed;
    }
    // The generated logs do exercise closing, joining and address changes.
    EXPECT_GT(closed, seed <= 12 ? 10u : 1500u);
    EXPECT_LT(plain.size(), static_cast<size_t>(lineCount) * 4 / 5);
  }
}

TEST_F(SessionTest, IndexedMatchingGivesThePlainScansSessions) { CheckIndexedMatching(0); }

// Deferred sessions go on taking requests after the sessions around them left memory,
// and close as the plain scan closes them; their parts together are their requests.
TEST_F(SessionTest, DeferredSessionsComeOutAsThePlainScansSessions) { CheckIndexedMatching(12); }

}  // namespace
}  // namespace weavil
