// The log line is assembled by hand (no formatted output) in a stack buffer
// that long messages overflow into the heap; the path conversions copy an
// ASCII prefix in one sweep. These cases sit on the seams of those shortcuts.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "log/event_log.h"
#include "log/text_convert.h"
#include "test_support.h"

namespace {

using test_support::ReadBytes;

TEST(LogLineBuilding, TimestampYearHasNoFixedWidth) {
    EXPECT_EQ(FormatLogTimestamp(LocalTimeFields{0, 1, 1, 0, 0, 0}), "0-01-01 00:00:00");
    EXPECT_EQ(FormatLogTimestamp(LocalTimeFields{7, 2, 3, 4, 5, 6}), "7-02-03 04:05:06");
    EXPECT_EQ(FormatLogTimestamp(LocalTimeFields{10000, 10, 11, 12, 13, 14}), "10000-10-11 12:13:14");
    EXPECT_EQ(FormatLogTimestamp(LocalTimeFields{2147483647, 9, 9, 9, 9, 9}), "2147483647-09-09 09:09:09");
    // A leap second reads as the clock gives it.
    EXPECT_EQ(FormatLogTimestamp(LocalTimeFields{2016, 12, 31, 23, 59, 60}), "2016-12-31 23:59:60");
}

TEST(LogLineBuilding, FieldsOutsideTheirRangesAreStillWrittenInFull) {
    EXPECT_EQ(FormatLogTimestamp(LocalTimeFields{2026, 100, 1, 1, 1, 1}), "2026-100-01 01:01:01");
    EXPECT_EQ(FormatLogTimestamp(LocalTimeFields{2026, 1, -1, 1, 1, 1}), "2026-01--1 01:01:01");
}

TEST(LogLineBuilding, MessagesOfEveryLengthLandWhole) {
    test_support::ScopedDataFolder data;
    // Around the size of the stack buffer, and far beyond it.
    const size_t lengths[] = {0, 1, 436, 437, 438, 439, 440, 511, 512, 513, 100000};
    std::string expected;
    for (const size_t length : lengths) {
        std::string message(length, 'm');
        if (length > 0) {
            message.front() = '<';
            message.back() = '>';
        }
        AppendLogLine(message);
        expected += " " + message + "\r\n";
    }
    const std::string log = ReadBytes(data.folder() / "dns.log");
    std::string withoutTimestamps;
    size_t start = 0;
    while (start < log.size()) {
        const size_t end = log.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        ASSERT_GE(end - start, 19u);
        withoutTimestamps += log.substr(start + 19, end + 2 - start - 19);
        start = end + 2;
    }
    EXPECT_EQ(withoutTimestamps, expected);
}

TEST(LogLineBuilding, AsciiPrefixThenOtherCharacters) {
    const std::string path = "/home/user/.local/share/Tarnwick-\xC3\xA9t\xC3\xA9/dns.log";
    const std::wstring wide = Utf8ToUtf16(path);
    ASSERT_EQ(wide.size(), path.size() - 2);
    EXPECT_EQ(wide.substr(0, 33), L"/home/user/.local/share/Tarnwick-");
    EXPECT_EQ(static_cast<unsigned>(wide[33]), 0xE9u);
    EXPECT_EQ(Utf16ToUtf8(wide), path);

    // Entirely ASCII, and ASCII cut short by a NUL.
    EXPECT_EQ(Utf16ToUtf8(L"/tmp/Tarnwick/dns.log"), "/tmp/Tarnwick/dns.log");
    EXPECT_EQ(Utf8ToUtf16("/tmp/Tarnwick/dns.log"), L"/tmp/Tarnwick/dns.log");
    EXPECT_EQ(Utf16ToUtf8(std::wstring(L"/tmp\0/x", 7)), "/tmp");
    EXPECT_EQ(Utf8ToUtf16(std::string("/tmp\0/x", 7)), L"/tmp");

    // A bad byte right after the ASCII prefix, and DEL (the last ASCII byte).
    const std::wstring bad = Utf8ToUtf16("abc\x80\x7F");
    ASSERT_EQ(bad.size(), 5u);
    EXPECT_EQ(static_cast<unsigned>(bad[3]), 0xFFFDu);
    EXPECT_EQ(bad[4], L'\x7F');
    EXPECT_EQ(Utf16ToUtf8(L"abc\x7F\x80"), "abc\x7F\xC2\x80");
}

}  // namespace
