#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

namespace weavil {
namespace {

TEST(TextTest, CompareNoCaseOrdersFoldedBytesAsUnsigned) {
  EXPECT_EQ(CompareNoCase("Index.HTM", "index.htm"), 0);
  EXPECT_LT(CompareNoCase("abc", "ABD"), 0);
  EXPECT_GT(CompareNoCase("abc", "AB"), 0);
  EXPECT_LT(CompareNoCase("", "a"), 0);
  // Bytes above 127 sort after ASCII, not before it as signed chars would.
  EXPECT_LT(CompareNoCase("z", "\xc3\xa9"), 0);
  // Letters fold to lower case, as SQLite's NOCASE does: '[' (0x5B) sorts before 'Z'.
  EXPECT_LT(CompareNoCase("[", "Z"), 0);
  EXPECT_LT(CompareNoCase("_", "z"), 0);
}

TEST(TextTest, PrefixSuffixAndSearchWithoutCase) {
  EXPECT_TRUE(StartsWithNoCase("Content-Length: 5", "content-length"));
  EXPECT_FALSE(StartsWithNoCase("Content", "content-length"));
  EXPECT_TRUE(EndsWithNoCase("LOG.GZ", ".gz"));
  EXPECT_FALSE(EndsWithNoCase("gz", ".gz"));
  EXPECT_TRUE(MatchesNoCase("<!doctype html>", 2, "DOCTYPE"));
  EXPECT_FALSE(MatchesNoCase("abc", 4, "c"));
  EXPECT_EQ(FindNoCase("a Bot and a BOT", "bot", 3), 12u);
  EXPECT_EQ(FindNoCase("abc", "abcd"), std::string_view::npos);
  EXPECT_EQ(FindNoCase("abc", ""), 0u);
}

TEST(TextTest, TrimTakesBlanksOfBothEnds) {
  EXPECT_EQ(Trim(" \t value \r\n"), "value");
  EXPECT_EQ(Trim("a b"), "a b");
  EXPECT_EQ(Trim(" \n "), "");
  EXPECT_EQ(ToLowerAscii(std::string_view("GET /A")), "get /a");
}

}  // namespace
}  // namespace weavil
