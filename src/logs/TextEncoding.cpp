#include "logs/TextEncoding.h"

#include <array>
#include <cstdint>
#include <cstring>

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
constexpr std::array<char16_t, 128> kMacRomanHigh = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,  // 80-87
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,  // 88-8F
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,  // 90-97
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,  // 98-9F
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,  // A0-A7
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,  // A8-AF
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,  // B0-B7
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,  // B8-BF
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,  // C0-C7
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,  // C8-CF
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,  // D0-D7
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,  // D8-DF
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,  // E0-E7
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,  // E8-EF
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,  // F0-F7
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,  // F8-FF
};

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
