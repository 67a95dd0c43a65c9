#include "ReferenceReader.h"

#include "logs/TextEncoding.h"

namespace quorvane::fuzz {

bool ReferenceValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    int extra;
    std::uint32_t cp;
    std::uint32_t smallest;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, cp = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, cp = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, cp = lead & 0x07, smallest = 0x10000;
    } else {
      return false;
    }
    if (i + static_cast<std::size_t>(extra) >= bytes.size())
      return false;
    for (int k = 1; k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
      if ((b & 0xC0) != 0x80)
        return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

std::string ReferenceDecode(std::string_view bytes, Encoding encoding) {
  if (encoding == Encoding::Utf8)
    return std::string(bytes);
  // Windows-1252 bytes 0x80 to 0x9F; the five the code page leaves unassigned stand for
  // themselves.
  static constexpr std::uint32_t kHigh1252[32] = {
      0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  // Mac Roman bytes 0x80 to 0xFF as the characters they stand for.
  static constexpr char32_t kMacRoman[] =
      U"ÄÅÇÉÑÖÜáàâäãåçéèêëíìîïñóòôöõúùûü†°¢£§•¶ß®©™´¨≠ÆØ∞±≤≥¥µ∂∑∏π∫ªºΩæø"
      U"¿¡¬√ƒ≈∆«»…\u00A0ÀÃÕŒœ–—“”‘’÷◊ÿŸ⁄€‹›ﬁﬂ‡·‚„‰ÂÊÁËÈÍÎÏÌÓÔ\uF8FFÒÚÛÙıˆ˜¯˘˙˚¸˝˛ˇ";
  static_assert(sizeof kMacRoman / sizeof kMacRoman[0] == 129);
  std::string out;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (encoding == Encoding::MacRoman)
      AppendUtf8(out, b >= 0x80 ? kMacRoman[b - 0x80] : b);
    else
      AppendUtf8(out, b >= 0x80 && b <= 0x9F ? kHigh1252[b - 0x80] : b);
  }
  return out;
}

ReferenceLog ReferenceRead(std::string_view bytes, EncodingChoice choice) {
  ReferenceLog log;

  // Line feeds end lines when one comes before the first carriage return; the first line end
  // is a bare carriage return when no line feed comes right after it.
  bool lfLines = false;
  bool bareCr = false;
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    if (bytes[k] == '\r') {
      bareCr = k + 1 == bytes.size() || bytes[k + 1] != '\n';
      break;
    }
    if (bytes[k] == '\n') {
      lfLines = true;
      break;
    }
  }

  const std::size_t n = bytes.size();
  std::size_t i = 0;
  std::size_t dataEnd = n;  // where the empty line that ends the data starts
  std::uint64_t line = 0;
  bool headerRead = false;
  while (i < n) {
    ++line;
    const std::size_t lineStart = i;
    std::string text;
    while (i < n) {
      const char c = bytes[i];
      if (lfLines && c == '\n') {
        i += 1;
        break;
      }
      if (lfLines && c == '\r' && i + 1 < n && bytes[i + 1] == '\n') {
        i += 2;
        break;
      }
      if (!lfLines && c == '\r') {
        i += (i + 1 < n && bytes[i + 1] == '\n') ? 2 : 1;
        break;
      }
      text += c;
      ++i;
    }
    if (text.empty()) {
      dataEnd = lineStart;
      break;  // the data ends here
    }
    if (choice == EncodingChoice::Utf8 && !ReferenceValidUtf8(text)) {
      log.errorLine = line;
      log.rows.clear();
      return log;
    }
    std::vector<std::string> fields(1);
    for (char c : text) {
      if (c == '\t') {
        fields.emplace_back();
      } else {
        fields.back() += c;
      }
    }
    if (fields.size() < 5) {
      log.errorLine = line;
      log.rows.clear();
      return log;
    }
    if (headerRead)
      log.rows.push_back({fields[0], fields[1], fields[2], fields[3], fields[4]});
    headerRead = true;
  }
  if (!headerRead) {
    log.errorLine = 1;
    return log;
  }
  log.ok = true;
  switch (choice) {
    case EncodingChoice::Auto:
      log.encoding = ReferenceValidUtf8(bytes.substr(0, dataEnd)) ? Encoding::Utf8
                     : bareCr                                     ? Encoding::MacRoman
                                                                  : Encoding::Windows1252;
      break;
    case EncodingChoice::Utf8:
      log.encoding = Encoding::Utf8;
      break;
    case EncodingChoice::Windows1252:
      log.encoding = Encoding::Windows1252;
      break;
    case EncodingChoice::MacRoman:
      log.encoding = Encoding::MacRoman;
      break;
  }
  return log;
}

}  // namespace quorvane::fuzz
