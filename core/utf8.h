#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// UTF-8, one code point at a time, for the POSIX side, where a wide character
// holds a whole code point: the text conversions and the path conversion.

// Decodes the sequence that starts at text[at] and moves `at` past it. False
// for a sequence that is not valid UTF-8, with `at` past its lead byte and the
// continuation bytes that followed it.
bool DecodeUtf8(std::string_view text, size_t& at, char32_t& codePoint);

// Appends the UTF-8 form of a code point; a surrogate or a value beyond
// U+10FFFF is written as U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);
