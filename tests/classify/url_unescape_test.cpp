// Percent-decoding of phrases and URL parts.
#include "classify/url_unescape.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace weavil {
namespace {

struct UnescapeCase {
  std::string input;
  std::string expected;
};

// Both forms decode each input to the expected text.
void ExpectUnescaped(std::initializer_list<UnescapeCase> cases) {
  for (const UnescapeCase& c : cases) {
    EXPECT_EQ(UrlUnescape(c.input), c.expected) << c.input;
    std::string text = c.input;
    UrlUnescapeInPlace(text);
    EXPECT_EQ(text, c.expected) << c.input;
  }
}

TEST(UrlUnescapeTest, DecodesEveryHexPairInEitherCase) {
  ExpectUnescaped({
      {"abc%20def", "abc def"},
      {"%C2%E5%E1", "\xC2\xE5\xE1"},
      {"%c2%e5%E1", "\xC2\xE5\xE1"},
      // Past "?" and "#" as well.
      {"/a%41?b=%42#%43", "/aA?b=B#C"},
      {"%00x", std::string("\0x", 2)},
  });
}

TEST(UrlUnescapeTest, KeepsWhatIsNotAnEscape) {
  ExpectUnescaped({
      {"a+b", "a+b"},
      {"", ""},
      {"%", "%"},
      {"%4", "%4"},
      {"100%", "100%"},
      {"%zz%4g", "%zz%4g"},
      // Decoding is one pass: a decoded "%" does not start another escape.
      {"%2541", "%41"},
      {"%%41", "%A"},
  });
}

TEST(UrlUnescapeTest, InPlaceGivesTheSameText) {
  std::string text = "x%20y%2";
  UrlUnescapeInPlace(text);
  EXPECT_EQ(text, "x y%2");
}

}  // namespace
}  // namespace weavil
