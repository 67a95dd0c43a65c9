#pragma once

#include <string>
#include <string_view>

namespace quorvane {

// How a log file's bytes become display text. A file that is valid UTF-8 as a whole is read as
// UTF-8; any other file as Windows-1252, the code page Hotline servers wrote on.
enum class Encoding { Utf8, Windows1252 };

bool IsValidUtf8(std::string_view bytes);

// The Windows-1252 decoding is lossless: the five bytes the code page leaves unassigned map to
// the C1 control code points of the same value, so every byte has exactly one character.
char32_t Windows1252ToCodePoint(unsigned char byte);

void AppendUtf8(std::string& out, char32_t codePoint);

// UTF-8 text of bytes read from a file of the given encoding.
std::string DecodeToUtf8(std::string_view bytes, Encoding encoding);

// Splits valid UTF-8 into code points; an invalid sequence yields U+FFFD for its first byte.
std::u32string Utf8ToCodePoints(std::string_view utf8);

}  // namespace quorvane
