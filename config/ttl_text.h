#pragma once

#include <cstdint>
#include <string_view>

// The TTL of a records editor row as stored: the text read the way the Windows
// C runtime's wcstoul reads base 10, then 0 turned into 60. The program does
// the reading itself so that the result never depends on the runtime it runs on.
uint32_t TtlFromText(std::wstring_view text);
