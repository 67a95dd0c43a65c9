#include <gtest/gtest.h>

#include "logs/TextEncoding.h"

namespace quorvane {
namespace {

TEST(IsValidUtf8, AcceptsWellFormedAndRejectsTheRest) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"plain ascii text that is longer than eight bytes", true},
      {"\xC3\xBC", true},              // ü
      {"\xE2\x82\xAC", true},          // €
      {"\xF0\x9F\x98\x80", true},      // emoji
      {"\xFC", false},                 // Latin-1 ü
      {"\xC3", false},                 // cut short
      {"\xC0\xAF", false},             // overlong
      {"\xE0\x80\xAF", false},         // overlong
      {"\xED\xA0\x80", false},         // surrogate
      {"\xF4\x90\x80\x80", false},     // beyond U+10FFFF
      {"abcdefgh\x80", false},         // stray continuation after the fast path
      {std::string("a\0b", 3), true},  // NUL is data
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.bytes;
}

TEST(DecodeToUtf8, CodePagesAreLosslessForEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  for (Encoding encoding : {Encoding::Windows1252, Encoding::MacRoman}) {
    const std::u32string decoded = Utf8ToCodePoints(DecodeToUtf8(all, encoding));
    ASSERT_EQ(decoded.size(), 256u);
    // Every byte has its own character, so two different names never decode alike.
    std::u32string sorted = decoded;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
    EXPECT_EQ(decoded.substr(0, 128), Utf8ToCodePoints(all.substr(0, 128)));  // ASCII as it is
  }
  const std::u32string cp1252 = Utf8ToCodePoints(DecodeToUtf8(all, Encoding::Windows1252));
  EXPECT_EQ(cp1252.substr(0x80, 2), U"\u20AC\u0081");
  EXPECT_EQ(cp1252[0x9F], U'\u0178');
  EXPECT_EQ(cp1252[0xFC], U'\u00FC');
  const std::u32string macRoman = Utf8ToCodePoints(DecodeToUtf8(all, Encoding::MacRoman));
  EXPECT_EQ(macRoman.substr(0x80, 2), U"\u00C4\u00C5");
  EXPECT_EQ(macRoman.substr(0xDB, 1) + macRoman.substr(0xF0, 1) + macRoman.substr(0xFF, 1),
            U"\u20AC\uF8FF\u02C7");
}

}  // namespace
}  // namespace quorvane
