// The pattern features the classification tables rely on.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "regex/regex.h"

namespace weavil {
namespace {

TEST(RegexTest, LeftmostSearchAnywhereCaseSensitive) {
  Regex opera("Opera");
  RegexMatch match;
  ASSERT_TRUE(opera.Search("Mozilla/4.0+(compatible;+Opera/7.0;+Opera)", match));
  EXPECT_EQ(match.Start(0), 25u);
  EXPECT_FALSE(opera.Search("opera"));
  EXPECT_TRUE(Regex("^Mozilla").Search("Mozilla/5.0"));
  EXPECT_FALSE(Regex("^Mozilla").Search("xMozilla/5.0"));
}

TEST(RegexTest, UnescapedPlusRepeatsEscapedPlusIsABlank) {
  // "search+crawler" as a pattern matches "searchcrawler", not the text "search+crawler".
  Regex repeat("search+crawler");
  EXPECT_TRUE(repeat.Search("Mozilla searchcrawler"));
  EXPECT_TRUE(repeat.Search("searchhhcrawler"));
  EXPECT_FALSE(repeat.Search("search+crawler"));
  EXPECT_TRUE(Regex("MSIE\\+6").Search("Mozilla/4.0+(compatible;+MSIE+6.0)"));
}

TEST(RegexTest, GroupsAlternationClassesAndCounts) {
  Regex query("[\\?|\\&]{1}(?:q=|as_q=)([^\\&|^$]*)[\\&|$]*");
  RegexMatch match;
  ASSERT_TRUE(query.Search("/search?hl=en&as_q=web+log+tool&btn=1", match));
  EXPECT_EQ(match.Group(1), "web+log+tool");
  ASSERT_TRUE(query.Search("/search?q=", match));
  EXPECT_EQ(match.Group(1), "");
  EXPECT_FALSE(query.Search("/search?hl=en"));
  EXPECT_EQ(query.CaptureCount(), 1u);
}

TEST(RegexTest, LookbehindAndOptionalGroups) {
  Regex split("(?<=//)([a-zA-Z0-9\\.\\-\\_]+)[\\:]?([0-9]*)[\\/]?([a-zA-Z0-9\\.\\-\\_]*)(.*)");
  RegexMatch match;
  ASSERT_TRUE(split.Search("http://search.yahoo.com:8080/bin/search?p=abc", match));
  EXPECT_EQ(match.Group(1), "search.yahoo.com");
  EXPECT_EQ(match.Group(2), "8080");
  EXPECT_EQ(match.Group(3), "bin");
  EXPECT_EQ(match.Group(4), "/search?p=abc");
  EXPECT_FALSE(split.Search("-"));
  EXPECT_FALSE(split.Search("www.example.com/page"));
}

TEST(RegexTest, AGroupThatTookNoPartIsEmpty) {
  Regex either("(a)|(b)");
  RegexMatch match;
  ASSERT_TRUE(either.Search("b", match));
  EXPECT_FALSE(match.GroupTookPart(1));
  EXPECT_EQ(match.Group(1), "");
  EXPECT_EQ(match.Group(2), "b");
  EXPECT_EQ(match.Group(7), "") << "a group that does not exist";
}

TEST(RegexTest, ByteRangesAndAsciiOnlyWordBoundaries) {
  // The word pattern: ASCII letters, digits, "_" and the Windows-1251 Cyrillic letters.
  const std::string pattern = std::string("\\b([a-zA-Z") + "\xE0-\xFF\xC0-\xDF" + "0-9\\_]+)\\b";
  Regex word(pattern);
  RegexMatch match;
  ASSERT_TRUE(word.Search("web log", match));
  EXPECT_EQ(match.Group(1), "web");
  ASSERT_TRUE(word.Search("web log", match, match.End(0)));
  EXPECT_EQ(match.Group(1), "log");
  // A Cyrillic word alone has no ASCII word characters around it, so \b finds no edge
  // next to it: bytes 0x80 to 0xFF are not word characters.
  const std::string cyrillic = "\xEF\xF0\xE8\xE2\xE5\xF2";
  EXPECT_FALSE(word.Search(cyrillic));
  const std::string mixed = "a" + cyrillic + "b";  // the match keeps views into its subject
  ASSERT_TRUE(word.Search(mixed, match));
  EXPECT_EQ(match.Group(1), mixed);
  EXPECT_TRUE(Regex("[\xE0-\xFF]+").Search("x" + cyrillic));
}

TEST(RegexTest, GlobalSubstitutionAndSearchFromOffset) {
  Regex plus("\\+");
  EXPECT_EQ(plus.ReplaceAll("web+log++tool", " "), "web log  tool");
  EXPECT_EQ(plus.ReplaceAll("none", " "), "none");
  EXPECT_EQ(plus.ReplaceAll("", " "), "");
  EXPECT_EQ(Regex("x*").ReplaceAll("ab", "-"), "-a-b-");
  RegexMatch match;
  EXPECT_FALSE(plus.Search("a+b", match, 4));
  ASSERT_TRUE(plus.Search("a+b+", match, 2));
  EXPECT_EQ(match.Start(0), 3u);
}

TEST(RegexTest, BinaryTextAndMalformedPatterns) {
  std::string withNul("abc\0def", 7);
  RegexMatch match;
  ASSERT_TRUE(Regex("def").Search(withNul, match));
  EXPECT_EQ(match.Start(0), 4u);
  EXPECT_THROW(Regex("(unclosed"), std::invalid_argument);
}

TEST(RegexTest, OneCompiledPatternServesManyThreads) {
  Regex pattern("([a-z]+)=([0-9]+)");
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        std::string text = "key" + std::string(1, static_cast<char>('a' + t)) + "=" + std::to_string(i);
        RegexMatch match;
        if (!pattern.Search(text, match) || match.Group(2) != std::to_string(i)) ++failures[static_cast<size_t>(t)];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace weavil
