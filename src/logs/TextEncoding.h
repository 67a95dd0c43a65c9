#pragma once

#include <string>
#include <string_view>

namespace quorvane {

// How a log file's bytes become display text: UTF-8, Windows-1252 (what servers on Windows
// wrote) or Mac Roman (what classic Mac OS servers wrote). Both code pages decode losslessly:
// every byte has a character of its own (Windows-1252's five unassigned bytes map to the C1
// control code points of the same value), so names equal as bytes exactly when equal as text.
enum class Encoding { Utf8, Windows1252, MacRoman };

bool IsValidUtf8(std::string_view bytes);

void AppendUtf8(std::string& out, char32_t codePoint);

// UTF-8 text of bytes read from a file of the given encoding.
std::string DecodeToUtf8(std::string_view bytes, Encoding encoding);

// Splits valid UTF-8 into code points; an invalid sequence yields U+FFFD for its first byte.
std::u32string Utf8ToCodePoints(std::string_view utf8);

}  // namespace quorvane
