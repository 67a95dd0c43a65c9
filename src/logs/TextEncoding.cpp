#include "logs/TextEncoding.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace quorvane {

namespace {

// Code points of bytes 0x80 to 0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char32_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

// Code points of bytes 0x80 to 0xFF in Mac Roman (Apple's table of Mac OS 8.5 and later, which
// has the euro sign at 0xDB); the rest is ASCII.
constexpr std::u16string_view kMacRomanHigh =
    u"ÄÅÇÉÑÖÜáàâäãåçéè"        // 80-8F
    u"êëíìîïñóòôöõúùûü"        // 90-9F
    u"†°¢£§•¶ß®©™´¨≠ÆØ"        // A0-AF
    u"∞±≤≥¥µ∂∑∏π∫ªºΩæø"        // B0-BF
    u"¿¡¬√ƒ≈∆«»…\u00A0ÀÃÕŒœ"   // C0-CF
    u"–—“”‘’÷◊ÿŸ⁄€‹›ﬁﬂ"        // D0-DF
    u"‡·‚„‰ÂÊÁËÈÍÎÏÌÓÔ"        // E0-EF
    u"\uF8FFÒÚÛÙıˆ˜¯˘˙˚¸˝˛ˇ";  // F0-FF
static_assert(kMacRomanHigh.size() == 128, "one UTF-16 unit for each byte from 0x80");

char32_t Windows1252ToCodePoint(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F)
    return kWindows1252High[byte - 0x80];
  return byte;
}

char32_t MacRomanToCodePoint(unsigned char byte) {
  if (byte >= 0x80)
    return kMacRomanHigh[byte - 0x80];
  return byte;
}

// Length of the valid UTF-8 sequence starting at s[0], or 0 when it is not valid.
std::size_t ValidSequenceLength(const unsigned char* s, std::size_t left) {
  const unsigned char b0 = s[0];
  if (b0 < 0x80)
    return 1;
  auto cont = [&](std::size_t i) { return i < left && (s[i] & 0xC0) == 0x80; };
  if (b0 >= 0xC2 && b0 <= 0xDF)
    return cont(1) ? 2 : 0;
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (!cont(1) || !cont(2))
      return 0;
    if (b0 == 0xE0 && s[1] < 0xA0)
      return 0;  // overlong
    if (b0 == 0xED && s[1] > 0x9F)
      return 0;  // surrogates
    return 3;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3))
      return 0;
    if (b0 == 0xF0 && s[1] < 0x90)
      return 0;  // overlong
    if (b0 == 0xF4 && s[1] > 0x8F)
      return 0;  // beyond U+10FFFF
    return 4;
  }
  return 0;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // Logs are mostly ASCII: skip eight bytes at a time while none has its high bit set.
    while (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, s + i, 8);
      if (word & 0x8080808080808080ULL)
        break;
      i += 8;
    }
    if (i >= n)
      break;
    const std::size_t len = ValidSequenceLength(s + i, n - i);
    if (len == 0)
      return false;
    i += len;
  }
  return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string DecodeToUtf8(std::string_view bytes, Encoding encoding) {
  if (encoding == Encoding::Utf8)
    return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  const auto decode =
      encoding == Encoding::MacRoman ? &MacRomanToCodePoint : &Windows1252ToCodePoint;
  for (char c : bytes)
    AppendUtf8(out, decode(static_cast<unsigned char>(c)));
  return out;
}

std::u32string Utf8ToCodePoints(std::string_view utf8) {
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t n = utf8.size();
  std::u32string out;
  out.reserve(n);
  std::size_t i = 0;
  while (i < n) {
    const std::size_t len = ValidSequenceLength(s + i, n - i);
    char32_t cp;
    switch (len) {
      case 1:
        cp = s[i];
        break;
      case 2:
        cp = (char32_t(s[i] & 0x1F) << 6) | (s[i + 1] & 0x3F);
        break;
      case 3:
        cp = (char32_t(s[i] & 0x0F) << 12) | (char32_t(s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
        break;
      case 4:
        cp = (char32_t(s[i] & 0x07) << 18) | (char32_t(s[i + 1] & 0x3F) << 12) |
             (char32_t(s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
        break;
      default:
        cp = 0xFFFD;
        break;
    }
    out.push_back(cp);
    i += len == 0 ? 1 : len;
  }
  return out;
}

}  // namespace quorvane
