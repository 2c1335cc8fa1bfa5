#pragma once

#include <cstdint>
#include <string_view>

#include "config/number_text.h"

// The TTL a slot stores for a scanned number: strtoul's value, then 0 turned
// into kDefaultTtl. Every reader of TTL text ends here.
uint32_t TtlFromNumber(const ScannedNumber& number);

// The TTL of a records editor row as stored: the text read the way the Windows
// C runtime's wcstoul reads base 10, then 0 turned into kDefaultTtl. The
// program does the reading itself so that the result never depends on the
// runtime it runs on.
uint32_t TtlFromText(std::wstring_view text);
