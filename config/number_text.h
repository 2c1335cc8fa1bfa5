#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// A sign and the digits after it, gathered the way a C runtime's strtoul with a
// 32-bit unsigned long gathers them.
struct ScannedNumber {
    bool negative = false;
    uint32_t magnitude = 0;  // 0 when there are no digits
    bool saturated = false;

    // digit is 0-9.
    void AppendDigit(uint32_t digit);
};

// Leading blanks, one optional sign, then digits up to the first character
// that is none. Readers differ in what they take for a blank (isBlank) and a
// digit (digitValue gives 0-9, or -1 for a character that ends the number),
// and share everything else.
template <typename Char, typename IsBlank, typename DigitValue>
ScannedNumber ScanNumber(std::basic_string_view<Char> text, IsBlank isBlank, DigitValue digitValue) {
    ScannedNumber number;
    size_t at = 0;
    while (at < text.size() && isBlank(text[at])) {
        ++at;
    }
    if (at < text.size() && (text[at] == Char('+') || text[at] == Char('-'))) {
        number.negative = text[at] == Char('-');
        ++at;
    }
    for (; at < text.size(); ++at) {
        const int digit = digitValue(text[at]);
        if (digit < 0) {
            break;
        }
        number.AppendDigit(static_cast<uint32_t>(digit));
    }
    return number;
}
