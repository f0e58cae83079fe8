#include "base/text.h"

#include <gtest/gtest.h>

#include <cstring>
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

// Whether a word holds such a byte is told exactly, wherever the byte stands and
// whatever stands beside it (a borrow from a lower byte must not make or hide one).
TEST(TextTest, WordTestsTellExactlyWhetherAByteIsThere) {
  for (const unsigned char filler : {'a', '\x00', '\x0D', '\x0E', '\x5B', '\x5C', '\x5D', '\x7F', '\x80', '\xFF'})
    for (int at = 0; at < 8; ++at)
      for (int value = 0; value < 256; ++value) {
        char bytes[8];
        std::memset(bytes, filler, sizeof bytes);
        bytes[at] = static_cast<char>(value);
        const uint64_t word = word_bytes::Load(bytes);
        EXPECT_EQ(word_bytes::AnyBelow(word, 14), value < 14 || filler < 14) << at << " " << value;
        EXPECT_EQ(word_bytes::AnyBelow(word, 1), value == 0 || filler == 0) << at << " " << value;
        EXPECT_EQ(word_bytes::AnyEqual(word, '\\'), value == '\\' || filler == '\\') << at << " " << value;
        EXPECT_EQ(word_bytes::AnyHigh(word), value >= 0x80 || filler >= 0x80) << at << " " << value;
      }
}

}  // namespace
}  // namespace weavil
