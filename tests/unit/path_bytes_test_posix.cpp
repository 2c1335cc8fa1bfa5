// Wide paths on POSIX hold any byte string: valid UTF-8 as its characters,
// everything else so that the bytes come back unchanged.
#include <gtest/gtest.h>

#include <string>

#include "core/path_bytes.h"

namespace {

TEST(PathBytes, EveryByteStringComesBackUnchanged) {
    std::string pair(2, '\0');
    for (int first = 1; first < 256; ++first) {
        for (int second = 1; second < 256; ++second) {
            pair[0] = static_cast<char>(first);
            pair[1] = static_cast<char>(second);
            ASSERT_EQ(PathToBytes(PathFromBytes(pair)), pair) << first << " " << second;
        }
    }
    const std::string awkward[] = {
        "/home/J\xF6rg/.local/share",  // Latin-1
        "\xE2\x82",                    // a sequence cut short
        "\xE2\x82(\xE2\x82\xAC",       // cut short, then a whole euro sign
        "\xC0\xAF\xE0\x80\xAF",        // overlong forms of '/'
        "\xED\xA0\x80\xED\xB2\x80",    // surrogates written as UTF-8
        "\xF4\x90\x80\x80\xF8\xFF",    // beyond U+10FFFF, bytes that never start a sequence
        "\xF0\x9F\x98",                // four-byte sequence without its last byte
    };
    for (const std::string& bytes : awkward) {
        EXPECT_EQ(PathToBytes(PathFromBytes(bytes)), bytes);
    }
}

TEST(PathBytes, Utf8IsReadAsCharactersAndNulEndsThePath) {
    EXPECT_EQ(PathFromBytes("/home/j\xC3\xB6rg/\xE2\x82\xAC/\xF0\x9F\x98\x80"), L"/home/j\u00F6rg/\u20AC/\U0001F600");
    EXPECT_EQ(PathToBytes(L"/home/j\u00F6rg/\u20AC/\U0001F600"), "/home/j\xC3\xB6rg/\xE2\x82\xAC/\xF0\x9F\x98\x80");
    // A byte that is not UTF-8 never reads as a character that UTF-8 could
    // name, so a Latin-1 name and the UTF-8 name it looks like stay apart.
    EXPECT_NE(PathFromBytes("J\xF6rg"), PathFromBytes("J\xC3\xB6rg"));
    EXPECT_NE(PathToBytes(PathFromBytes("J\xF6rg")), PathToBytes(L"J\uFFFDrg"));
    EXPECT_EQ(PathFromBytes(std::string("/tmp\0/x", 7)), L"/tmp");
    EXPECT_EQ(PathToBytes(std::wstring(L"/tmp\0/x", 7)), "/tmp");
}

}  // namespace
