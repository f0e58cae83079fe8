// Percent-decoding of phrases and URL parts.
#include "classify/url_unescape.h"

#include <gtest/gtest.h>

#include <string>

namespace weavil {
namespace {

TEST(UrlUnescapeTest, DecodesEveryHexPairInEitherCase) {
  EXPECT_EQ(UrlUnescape("abc%20def"), "abc def");
  EXPECT_EQ(UrlUnescape("%C2%E5%E1"), "\xC2\xE5\xE1");
  EXPECT_EQ(UrlUnescape("%c2%e5%E1"), "\xC2\xE5\xE1");
  // Past "?" and "#" as well.
  EXPECT_EQ(UrlUnescape("/a%41?b=%42#%43"), "/aA?b=B#C");
  EXPECT_EQ(UrlUnescape("%00x"), std::string("\0x", 2));
}

TEST(UrlUnescapeTest, KeepsWhatIsNotAnEscape) {
  EXPECT_EQ(UrlUnescape("a+b"), "a+b");
  EXPECT_EQ(UrlUnescape(""), "");
  EXPECT_EQ(UrlUnescape("%"), "%");
  EXPECT_EQ(UrlUnescape("%4"), "%4");
  EXPECT_EQ(UrlUnescape("100%"), "100%");
  EXPECT_EQ(UrlUnescape("%zz%4g"), "%zz%4g");
  // Decoding is one pass: a decoded "%" does not start another escape.
  EXPECT_EQ(UrlUnescape("%2541"), "%41");
  EXPECT_EQ(UrlUnescape("%%41"), "%A");
}

TEST(UrlUnescapeTest, InPlaceGivesTheSameText) {
  std::string text = "x%20y%2";
  UrlUnescapeInPlace(text);
  EXPECT_EQ(text, "x y%2");
}

}  // namespace
}  // namespace weavil
