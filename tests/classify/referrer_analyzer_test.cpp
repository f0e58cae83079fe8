// Referrer analysis: the split, the engine table, phrases and words, and the rows
// AnalyzeReferrer writes.
#include "classify/referrer_analyzer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classify/classification_store.h"
#include "store/database.h"
#include "tests/classify/classify_test_db.h"

namespace weavil {
namespace {

using Words = std::vector<std::string>;

Words Keywords(std::string_view phrase) {
  Words words;
  for (std::string_view word : CutKeywords(phrase)) words.emplace_back(word);
  return words;
}

TEST(ReferrerSplitTest, CutsHostPortFirstSegmentAndRest) {
  ReferrerParts parts;
  ASSERT_TRUE(SplitReferrer("http://search.yahoo.com/bin/search?p=abc", parts));
  EXPECT_EQ(parts.host, "search.yahoo.com");
  EXPECT_EQ(parts.port, "");
  EXPECT_EQ(parts.firstSegment, "bin");
  EXPECT_EQ(parts.rest, "/search?p=abc");

  ASSERT_TRUE(SplitReferrer("https://www.example.com:8080/a_b/c?d=e", parts));
  EXPECT_EQ(parts.host, "www.example.com");
  EXPECT_EQ(parts.port, "8080");
  EXPECT_EQ(parts.firstSegment, "a_b");
  EXPECT_EQ(parts.rest, "/c?d=e");

  ASSERT_TRUE(SplitReferrer("http://www.google.com/search?q=x", parts));
  EXPECT_EQ(parts.firstSegment, "search");
  EXPECT_EQ(parts.rest, "?q=x");
}

TEST(ReferrerSplitTest, TextWithoutHostAfterSlashesDoesNotSplit) {
  ReferrerParts parts;
  for (std::string_view referrer : {"-", "", "www.example.com/page", "http://", "http://:80/", "mailto:a@b"})
    EXPECT_FALSE(SplitReferrer(referrer, parts)) << referrer;
  EXPECT_FALSE(SplitReferrer(std::string_view("-\0http://x.com/", 15), parts));
}

TEST(SearchEngineTest, TableExamples) {
  struct Case {
    std::string host, rest, phrase, engine;
  };
  const std::vector<Case> cases = {
      {"www.google.com", "/search?q=web+log+tool&hl=en", "web log tool", "Search Engine/Google"},
      {"www.google.co.uk", "?hl=en&as_q=a+b", "a b", "Search Engine/Google"},
      {"search.yahoo.com", "/search?p=abc", "abc", "Search Engine/Yahoo"},
      {"www.yandex.ru", "/yandsearch?text=%C2%E5%E1", "%C2%E5%E1", "Search Engine/Yandex"},
      {"www.yandex.ru", "/yandsearch?qs=rpt%3Drad", "%3Drad", "Search Engine/Yandex"},
      {"www.rambler.ru", "?words=one+two", "one two", "Search Engine/Rambler"},
      {"web.ask.com", "/web?MetaTopic=tea", "tea", "Search Engine/Teoma"},
      {"www.altavista.com", "/web/results?aqa=bird", "bird", "Search Engine/Altavista"},
      // Unclaimed host, and hosts that need the dot after the name.
      {"www.example.com", "/search?q=x", "", ""},
      {"googlefan.net", "/search?q=x", "", ""},
      // The query pattern stops at "&" and takes the first parameter that matches.
      {"msn.com", "/results.aspx?q=first&q=second", "first", "Search Engine/Msn"},
      {"www.google.com", "/search?q=&hl=en", "", "Search Engine/Google"},
  };
  for (const Case& c : cases) {
    SearchEngineMatch match = MatchSearchEngine(c.host, c.rest);
    EXPECT_EQ(match.phrase, c.phrase) << c.host << c.rest;
    EXPECT_EQ(match.engine, c.engine) << c.host << c.rest;
  }
}

TEST(SearchEngineTest, FirstClaimingHostRowDecidesEvenWithoutQuery) {
  // "av." claims the host (row 10) although its query has no q=; later rows are not tried.
  SearchEngineMatch match = MatchSearchEngine("slav.ya.ru", "/?text=word");
  EXPECT_EQ(match.phrase, "");
  EXPECT_EQ(match.engine, "");
  EXPECT_EQ(FindSearchEngineRule("slav.ya.ru"), 9);
  // Row order: google before yandex for a host holding both.
  EXPECT_EQ(MatchSearchEngine("google.yandex.ru", "?q=a&text=b").engine, "Search Engine/Google");
  // Host patterns are case-sensitive.
  EXPECT_EQ(FindSearchEngineRule("WWW.GOOGLE.COM"), -1);
  ASSERT_EQ(SearchEngineRules().size(), 24u);
}

TEST(SearchEngineTest, LongPhraseIsCutTo251Bytes) {
  std::string rest = "?q=" + std::string(250, 'a') + "+bcd";
  SearchEngineMatch match = MatchSearchEngine("www.google.com", rest);
  EXPECT_EQ(match.phrase.size(), kMaxPhraseLength);
  EXPECT_EQ(match.phrase, std::string(250, 'a') + " ");
  EXPECT_EQ(MatchSearchEngine("www.google.com", "?q=" + std::string(251, 'z')).phrase.size(), 251u);
}

TEST(KeywordTest, WordsKeepCaseAndRepeats) {
  EXPECT_EQ(Keywords("web log tool"), (Words{"web", "log", "tool"}));
  EXPECT_EQ(Keywords("Web web, web_2.0!"), (Words{"Web", "web", "web_2", "0"}));
  EXPECT_EQ(Keywords(""), Words{});
  EXPECT_EQ(Keywords("  - . "), Words{});
}

TEST(KeywordTest, CyrillicBytesCountOnlyInsideAsciiBoundedRuns) {
  // Three Windows-1251 letters alone yield nothing: "\b" sees no word character.
  EXPECT_EQ(Keywords("\xC2\xE5\xE1"), Words{});
  EXPECT_EQ(Keywords("x\xC2\xE5\xE1y"), Words{"x\xC2\xE5\xE1y"});
  EXPECT_EQ(Keywords("abc\xE0\xE1 \xE0" "def"), (Words{"abc", "def"}));
  // 0x80-0xBF are not letters at all.
  EXPECT_EQ(Keywords("a\xA8" "b"), (Words{"a", "b"}));
}

class AnalyzeReferrerTest : public test::ClassifyDbTest {
 protected:
  Words Referers() { return Rows("Select RefererId, Url, [Group] From Referer Order By RefererId"); }
  Words Phrases() { return Rows("Select KeyphraseId, Keyphrase From Keyphrase Order By KeyphraseId"); }
  Words Links(const std::string& table) { return RowsOf(table); }
};

TEST_F(AnalyzeReferrerTest, SearchEngineReferrerStoresHostPhraseAndWords) {
  AnalyzeReferrer("http://www.google.com/search?q=web+log+tool&hl=en", "s1", session_);
  EXPECT_EQ(Referers(), Words{"1|www.google.com|Search Engine/Google"});
  EXPECT_EQ(Phrases(), Words{"1|web log tool"});
  EXPECT_EQ(Rows("Select KeywordId, Word From Keyword Order By KeywordId"), (Words{"1|web", "2|log", "3|tool"}));
  EXPECT_EQ(Links("SessionReferer"), Words{"s1|1"});
  EXPECT_EQ(Links("SessionKeyphrase"), Words{"s1|1"});
  EXPECT_EQ(Links("SessionKeywords"), (Words{"s1|1", "s1|2", "s1|3"}));
}

TEST_F(AnalyzeReferrerTest, UnclassifiedHostGetsTheEmptyPhrase) {
  AnalyzeReferrer("http://www.example.com/links.html", "s1", session_);
  // Claimed by an engine row, but no phrase in the query.
  AnalyzeReferrer("http://www.google.com/", "s2", session_);
  EXPECT_EQ(Referers(), (Words{"1|www.example.com|Unclassified", "2|www.google.com|Unclassified"}));
  EXPECT_EQ(Phrases(), Words{"1|"});
  EXPECT_EQ(Links("SessionKeyphrase"), (Words{"s1|1", "s2|1"}));
  EXPECT_TRUE(Links("SessionKeywords").empty());
}

TEST_F(AnalyzeReferrerTest, OnlyWebReferrersAreSearches) {
  // A script or file "referrer" names a host it never came from: it is not analysed, so
  // it cannot give the host its group either.
  AnalyzeReferrer("javascript://www.google.com/%0Aalert(document.cookie)//search?q=x", "s1", session_);
  AnalyzeReferrer("file://www.google.com/search?q=y", "s2", session_);
  for (const std::string& table : test::ClassificationTables()) EXPECT_TRUE(Links(table).empty()) << table;
  AnalyzeReferrer("//www.google.com/search?q=scheme+relative", "s3", session_);
  AnalyzeReferrer("HTTPS://www.google.com/search?q=upper", "s4", session_);
  EXPECT_EQ(Referers(), Words{"1|www.google.com|Search Engine/Google"});
  EXPECT_EQ(Phrases(), (Words{"1|scheme relative", "2|upper"}));
}

TEST_F(AnalyzeReferrerTest, NoReferrerStoresNothing) {
  for (std::string_view referrer : {"-", "", "bookmark"}) AnalyzeReferrer(referrer, "s1", session_);
  for (const std::string& table : test::ClassificationTables()) EXPECT_TRUE(Links(table).empty()) << table;
}

TEST_F(AnalyzeReferrerTest, PhraseIsStoredEncodedAndWordsComeFromTheDecodedText) {
  AnalyzeReferrer("http://www.yandex.ru/yandsearch?text=%C2%E5%E1", "s1", session_);
  AnalyzeReferrer("http://www.google.com/search?q=abc%20def", "s2", session_);
  EXPECT_EQ(Phrases(), (Words{"1|%C2%E5%E1", "2|abc%20def"}));
  EXPECT_EQ(Rows("Select Word From Keyword Order By KeywordId"), (Words{"abc", "def"}));
  EXPECT_EQ(Links("SessionKeywords"), (Words{"s2|1", "s2|2"}));
}

TEST_F(AnalyzeReferrerTest, KnownValuesAreReusedAndAHostKeepsItsGroup) {
  AnalyzeReferrer("http://www.google.com/", "s1", session_);
  AnalyzeReferrer("http://WWW.google.com/search?q=Web+web+WEB", "s2", session_);
  EXPECT_EQ(Referers(), Words{"1|www.google.com|Unclassified"});
  // Names compare without regard to ASCII case: one word row, linked three times.
  EXPECT_EQ(Rows("Select KeywordId, Word From Keyword"), Words{"1|Web"});
  EXPECT_EQ(Links("SessionKeywords"), (Words{"s2|1", "s2|1", "s2|1"}));
  EXPECT_EQ(Links("SessionReferer"), (Words{"s1|1", "s2|1"}));
}

TEST_F(AnalyzeReferrerTest, QuotesInPhrasesAreStored) {
  AnalyzeReferrer("http://www.rambler.ru/srch?words=it's+O'Neil", "s'1", session_);
  EXPECT_EQ(Phrases(), Words{"1|it's O'Neil"});
  EXPECT_EQ(Rows("Select Word From Keyword Order By KeywordId"), (Words{"it", "s", "O", "Neil"}));
  EXPECT_EQ(Links("SessionKeyphrase"), Words{"s'1|1"});
}

TEST_F(AnalyzeReferrerTest, LongPhraseIsStoredCut) {
  AnalyzeReferrer("http://www.google.com/search?q=" + std::string(300, 'x'), "s1", session_);
  EXPECT_EQ(Phrases(), Words{"1|" + std::string(251, 'x')});
  EXPECT_EQ(Rows("Select Length(Word) From Keyword"), Words{"251"});
}

}  // namespace
}  // namespace weavil
