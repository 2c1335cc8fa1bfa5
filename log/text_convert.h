#pragma once

#include <string>

// Conversions between the UTF-8 byte strings used inside the logic and the
// wide strings of window texts and file paths. Both stop at the first NUL of
// the input, never fail visibly (malformed input turns into U+FFFD) and give an
// empty string for empty input or a failed conversion.
std::wstring Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::wstring& text);
