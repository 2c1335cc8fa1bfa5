#include "config/number_text.h"

#include <limits>

// The magnitude stops at the largest value once it would pass it, so no run of
// digits can overflow, and the flag remembers that it did.
void ScannedNumber::AppendDigit(uint32_t digit) {
    constexpr uint32_t kLargest = std::numeric_limits<uint32_t>::max();
    const uint64_t grown = uint64_t{magnitude} * 10 + digit;
    if (grown > kLargest) {
        magnitude = kLargest;
        saturated = true;
    } else {
        magnitude = static_cast<uint32_t>(grown);
    }
}
