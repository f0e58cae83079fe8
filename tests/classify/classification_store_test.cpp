// The cached store against the one-statement-at-a-time functions: same rows, same ids,
// in the same order, over a varied stream of sessions.
#include "classify/classification_store.h"
#include "classify/referrer_analyzer.h"
#include "classify/user_agent_classifier.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "store/database.h"
#include "store/result.h"
#include "tests/classify/classify_test_db.h"

namespace weavil {
namespace {

using test::ClassifyDbTest;

std::string SessionIdText(int n) {
  char text[40];
  std::snprintf(text, sizeof text, "%08x-0000-4000-8000-%012d", 0x1000 + n, n);
  return text;
}

const std::vector<std::string>& UserAgents() {
  static const std::vector<std::string> agents = {
      "Mozilla/4.0+(compatible;+MSIE+6.0;+Windows+NT+5.1)",
      "Mozilla/4.0+(compatible;+MSIE+6.0;+Windows+98)+Opera+7.11",
      "Googlebot/2.1+(+http://www.googlebot.com/bot.html)",
      "Mozilla/5.0+(compatible;+Googlebot/2.1)",
      "Mozilla/4.79+[en]+(X11;+U;+Linux+2.4.20+i686)",
      "Mozilla/5.0+(Windows;+U;+Windows+NT+5.1;+en-US;+rv:1.7.5)+Gecko/20041107+Firefox/1.0",
      "Mozilla/5.0+(Windows;+U;+Windows+NT+5.0;+en-US;+rv:1.0.1)+Gecko/20020823+Netscape/7.0",
      "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36",
      "msnbot/1.0+(+http://search.msn.com/msnbot.htm)",
      "Baiduspider+(+http://www.baidu.com/search/spider.htm)",
      "baiduspider",
      "Java/1.4.1_04",
      "Yandex/1.01.001+(compatible;+Win16;+I)",
      "",
      "-",
      "O'Reilly+Bot/1.0+Win32",
      std::string("Mozilla/4.0\0Googlebot/2.1", 26),
      "Mozilla/3.01+(Macintosh;+I;+PPC)",
      "Mozilla/4.0+(compatible;+MSIE+5.5;+Win+9x+4.90)",
      "Opera/9.80+(Windows+NT+6.1;+U;+ru)+Presto/2.2.15",
      "Lynx/2.8.4rel.1+libwww-FM/2.14",
      "Wget/1.9",
  };
  return agents;
}

const std::vector<std::string>& Referrers() {
  static const std::vector<std::string> referrers = {
      "-",
      "",
      "http://www.google.com/search?q=web+log+tool&hl=en",
      "http://www.google.com/search?q=Web+Log&hl=en",
      "http://WWW.GOOGLE.COM/search?hl=en&q=web+statistics",
      "http://search.yahoo.com/bin/search?p=abc",
      "http://www.yandex.ru/yandsearch?text=%C2%E5%E1+abc%20def",
      "http://www.rambler.ru/srch?words=it's+a+test",
      "http://www.example.com/links.html",
      "http://Example.COM/other",
      "http://www.google.com/",
      "http://slav.example.org/?q=x",
      "https://www.bing.com:443/search?q=log+analyser",
      "javascript://www.google.com/%0Aalert(document.cookie)//search?q=x",
      "HTTPS://www.google.com/search?q=upper+scheme",
      "http://www.aport.ru/search?r=one+two+two",
      "http://www.google.de/search?q=" + std::string(300, 'x') + "+tail",
      "http://www.google.de/search?q=w%27quote+%27",
      "ftp://files.example.net/pub",
      "no-slashes-here",
      std::string("http://nul.example.com/?q=a\0b", 30),
      "http://www.google.com/search?q=%E0%E1%E2+\xC0\xC1x+abc_def+x\xE0y",
      "http://msn.com/results.aspx?q=web&q=second",
      "http://www.altavista.com/web/results?aqa=bird",
  };
  return referrers;
}

// Names that exist before the import, in another case than the import writes them.
void SeedKnownNames(DbSession& session) {
  for (const char* sql : {"Insert Into Browser (Browser) Values ('OPERA/7.11');",
                          "Insert Into OS (OS) Values ('windows xp');",
                          "Insert Into Referer (Url, [Group]) Values ('WWW.EXAMPLE.COM', 'Old group');",
                          "Insert Into Keyphrase (Keyphrase) Values ('WEB LOG TOOL');",
                          "Insert Into Keyword (Word) Values ('LOG');"}) {
    Statement statement;
    ASSERT_GE(statement.Execute(session, sql), 0) << sql;
  }
}

class ClassificationStoreTest : public ClassifyDbTest {
 protected:
  void ExpectSameTables(DbSession& plain, DbSession& cached) {
    for (const std::string& table : test::ClassificationTables()) {
      std::vector<std::string> expected = test::QueryRows(plain, test::InWrittenOrder(plain, table));
      EXPECT_EQ(test::QueryRows(cached, test::InWrittenOrder(cached, table)), expected) << table;
      EXPECT_FALSE(expected.empty()) << table << " should have rows in this run";
    }
  }
};

TEST_F(ClassificationStoreTest, GivesTheSameRowsAsThePlainFunctions) {
  DbSession cached;
  OpenSecond(cached, "cached.db");
  SeedKnownNames(session_);
  SeedKnownNames(cached);
  std::vector<std::string> ids;
  for (int n = 0; n < 400; ++n) ids.push_back(SessionIdText(n));
  test::StoreSessions(session_, ids);
  test::StoreSessions(cached, ids);

  ASSERT_GE(cached.StartTransaction(), 0);  // as the import runs it
  ClassificationStore store(cached);
  const auto& agents = UserAgents();
  const auto& referrers = Referrers();
  for (int n = 0; n < 400; ++n) {
    std::string sessionId = SessionIdText(n);
    // Every referrer in turn, each time with another agent.
    const std::string& referrer = referrers[n % referrers.size()];
    const std::string& agent = agents[(n + n / referrers.size()) % agents.size()];
    int32_t plainRobot = ClassifyUserAgent(agent, sessionId, session_);
    int32_t cachedRobot = store.ClassifyUserAgent(agent, sessionId);
    ASSERT_EQ(cachedRobot, plainRobot) << agent;
    AnalyzeReferrer(referrer, sessionId, session_);
    store.AnalyzeReferrer(referrer, sessionId);
  }
  store.Flush();  // the link rows held back, before the commit
  ASSERT_GE(cached.Commit(), 0);
  ExpectSameTables(session_, cached);
}

TEST_F(ClassificationStoreTest, IdsOfRolledBackRowsAreForgotten) {
  test::StoreSessions(session_, {SessionIdText(1), SessionIdText(2)});
  ClassificationStore store(session_);
  ASSERT_GE(session_.StartTransaction(), 0);
  store.ClassifyUserAgent("Googlebot/2.1", SessionIdText(1));
  store.AnalyzeReferrer("http://www.google.com/search?q=lost", SessionIdText(1));
  ASSERT_GE(session_.Abort(), 0);
  store.ForgetIds();

  // Something else takes the ids the lost rows had.
  Statement statement;
  ASSERT_GE(statement.Execute(session_, "Insert Into Browser (Browser) Values ('Other');"), 0);
  ASSERT_GE(statement.Execute(session_, "Insert Into Keyword (Word) Values ('other');"), 0);

  EXPECT_EQ(store.ClassifyUserAgent("Googlebot/2.1", SessionIdText(2)), 1);
  store.AnalyzeReferrer("http://www.google.com/search?q=lost", SessionIdText(2));
  store.Flush();
  EXPECT_EQ(Rows("Select b.Browser From SessionBrowserOS s Join Browser b On b.BrowserId=s.BrowserId"),
            std::vector<std::string>{"Robot/Google"});
  EXPECT_EQ(Rows("Select k.Word From SessionKeywords s Join Keyword k On k.KeywordId=s.KeywordId"),
            std::vector<std::string>{"lost"});
}

// Import, resolution and report workers classify at the same time: the shared rule
// tables must give every thread the answers one thread gets.
TEST(ClassificationThreadsTest, RuleTablesGiveTheSameAnswersOnEveryThread) {
  auto classifyAll = [] {
    std::string out;
    for (const std::string& agent : UserAgents()) {
      UserAgentClass c = ClassifyUserAgentText(agent);
      out += c.browser + "|" + c.os + "|" + std::to_string(c.robot) + "\n";
    }
    for (const std::string& referrer : Referrers()) {
      ReferrerParts parts;
      if (!SplitReferrer(referrer, parts)) continue;
      SearchEngineMatch match = MatchSearchEngine(parts.host, parts.rest);
      out += match.engine + "|" + match.phrase + "|" + std::to_string(CutKeywords(match.phrase).size()) + "\n";
    }
    return out;
  };
  std::vector<std::string> results(4);
  std::vector<std::thread> threads;
  for (std::string& result : results) threads.emplace_back([&result, &classifyAll] { result = classifyAll(); });
  for (std::thread& thread : threads) thread.join();
  std::string expected = classifyAll();
  for (const std::string& result : results) EXPECT_EQ(result, expected);
}

}  // namespace
}  // namespace weavil
