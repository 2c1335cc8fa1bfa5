#include "config/ttl_text.h"

#include <gtest/gtest.h>

#include <string>

#include "log/text_convert.h"

namespace {

// The Windows runtime's wcstoul rules with base 10, whatever runtime runs the
// program, and 0 stored as 60.
TEST(TtlText, ReadsLikeTheWindowsRuntime) {
    const struct {
        const char* utf8;
        uint32_t ttl;
    } cases[] = {
        // Empty, zero or no leading digits.
        {"", 60},
        {"0", 60},
        {"-0", 60},
        {"abc", 60},
        {"0x10", 60},
        {"+-5", 60},
        {"- 5", 60},
        {".5", 60},
        // White space, sign, digits up to the first non-digit.
        {"   300", 300},
        {" \t7", 7},
        {"\r\n\v\f8", 8},
        {" +7", 7},
        {"+5", 5},
        {"12abc", 12},
        {"7 8", 7},
        {"007", 7},
        {"1", 1},
        // Negation modulo 2^32.
        {"-1", 4294967295u},
        {"-2", 4294967294u},
        {"-4294967295", 1},
        // A magnitude beyond 32 bits gives the largest value, whatever the sign.
        {"4294967295", 4294967295u},
        {"4294967296", 4294967295u},
        {"99999999999", 4294967295u},
        {"-4294967296", 4294967295u},
        {"-99999999999", 4294967295u},
        {"18446744073709551617", 4294967295u},
        {"-18446744073709551616", 4294967295u},
        {"0000000000000000000000000000000000000000042", 42},
        // Other decimal digits and spaces that the runtime accepts.
        {"\xEF\xBC\x93\xEF\xBC\x90\xEF\xBC\x90", 300},  // full width 300
        {"\xD9\xA1\xD9\xA2", 12},                       // Arabic-Indic 12
        {"1\xE0\xA5\xA8", 12},                          // 1, Devanagari 2
        {"\xE1\xA0\x99", 9},                            // Mongolian 9
        {"\xE3\x80\x80"
         "9",
         9},  // ideographic space
        {"\xC2\xA0"
         "5",
         5},  // no-break space
        {"\xE2\x80\x8A"
         "6",
         6},  // hair space
        {"\xC2\x85"
         "6",
         60},  // next line is no space here
        {"\xE2\x80\x8B"
         "8",
         60},                      // nor is zero width space
        {"\xC2\xB2", 60},          // superscript two is no digit
        {"\xF0\x9D\x9F\x8E", 60},  // mathematical bold zero neither
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(TtlFromText(Utf8ToUtf16(c.utf8)), c.ttl);
    }
}

}  // namespace
