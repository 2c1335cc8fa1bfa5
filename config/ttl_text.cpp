#include "config/ttl_text.h"

#include <cstdint>

#include "core/records.h"

namespace {

// White space as the Windows C runtime (msvcrt) sees it: below U+0100 its own
// table (tab to carriage return, blank and no-break space, but not next line),
// above that the Unicode space separators and line and paragraph separators.
bool IsLeadingSpace(wchar_t c) {
    switch (c) {
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0D:
        case 0x20:
        case 0xA0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

// The zeros of the runs of ten decimal digits that the Windows runtime's
// number parsers accept besides 0-9 (Arabic-Indic to Mongolian, and the full
// width forms), in ascending order.
constexpr wchar_t kDigitZeros[] = {
    0x0030, 0x0660, 0x06F0, 0x0966, 0x09E6, 0x0A66, 0x0AE6, 0x0B66, 0x0C66,
    0x0CE6, 0x0D66, 0x0E50, 0x0ED0, 0x0F20, 0x1040, 0x17E0, 0x1810, 0xFF10,
};

// The digit's value, or -1 for a character that ends the number.
int DigitValue(wchar_t c) {
    for (const wchar_t zero : kDigitZeros) {
        if (c < zero) {
            return -1;
        }
        if (c < zero + 10) {
            return static_cast<int>(c - zero);
        }
    }
    return -1;
}

}  // namespace

// A saturated magnitude gives the largest value whatever the sign; otherwise a
// minus sign negates modulo 2^32, so "-1" is 4294967295. No slot ever holds a
// ttl of 0, so 0 (no digits included) becomes the default.
uint32_t TtlFromNumber(const ScannedNumber& number) {
    uint32_t ttl = number.magnitude;
    if (number.negative && !number.saturated) {
        ttl = 0u - ttl;
    }
    return ttl == 0 ? kDefaultTtl : ttl;
}

uint32_t TtlFromText(std::wstring_view text) {
    return TtlFromNumber(ScanNumber(text, IsLeadingSpace, DigitValue));
}
