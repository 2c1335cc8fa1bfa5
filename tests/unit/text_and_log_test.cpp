#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "core/file_io.h"
#include "log/event_log.h"
#include "log/text_convert.h"
#include "test_support.h"

namespace {

using test_support::ReadBytes;

TEST(TextConvert, RoundTripsUtf8AndStopsAtNul) {
    const std::string mixed = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";  // café € 😀
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(mixed)), mixed);
    EXPECT_EQ(Utf8ToUtf16(""), L"");
    EXPECT_EQ(Utf8ToUtf16(std::string("\0abc", 4)), L"");
    EXPECT_EQ(Utf8ToUtf16(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(Utf16ToUtf8(std::wstring(L"xy\0z", 4)), "xy");
    EXPECT_EQ(Utf16ToUtf8(L""), "");
}

TEST(TextConvert, MalformedInputBecomesReplacementCharacters) {
    const std::wstring fromBadUtf8 = Utf8ToUtf16(
        "a\xFF"
        "b");
    ASSERT_EQ(fromBadUtf8.size(), 3u);
    EXPECT_EQ(fromBadUtf8[0], L'a');
    EXPECT_EQ(static_cast<unsigned>(fromBadUtf8[1]), 0xFFFDu);
    EXPECT_EQ(fromBadUtf8[2], L'b');

    std::wstring loneSurrogate = L"a";
    loneSurrogate.push_back(static_cast<wchar_t>(0xD800));
    loneSurrogate.push_back(L'b');
    EXPECT_EQ(Utf16ToUtf8(loneSurrogate),
              "a\xEF\xBF\xBD"
              "b");
}

TEST(EventLog, TimestampPadsEverythingButTheYear) {
    EXPECT_EQ(FormatLogTimestamp(LocalTimeFields{2026, 3, 7, 9, 5, 2}), "2026-03-07 09:05:02");
    EXPECT_EQ(FormatLogTimestamp(LocalTimeFields{999, 1, 1, 0, 0, 0}), "999-01-01 00:00:00");
    EXPECT_EQ(FormatLogTimestamp(LocalTimeFields{2026, 12, 31, 23, 59, 59}), "2026-12-31 23:59:59");
    const std::string now = FormatLogTimestamp();
    ASSERT_EQ(now.size(), 19u);
    EXPECT_EQ(now[4], '-');
    EXPECT_EQ(now[10], ' ');
    EXPECT_EQ(now[16], ':');
}

TEST(EventLog, AppendsWholeLinesWithCrLfAndCreatesTheFolder) {
    test_support::ScopedDataFolder data;
    EXPECT_FALSE(std::filesystem::exists(data.folder() / "dns.log"));
    AppendLogLine("DNS server started on UDP/53");
    AppendLogLine("");
    AppendLogLine("two\nlines");
    const std::string log = ReadBytes(data.folder() / "dns.log");
    // 19-character timestamp, blank, message, CR LF.
    ASSERT_EQ(log.size(), (20 + 28 + 2) + (20 + 0 + 2) + (20 + 9 + 2));
    EXPECT_EQ(log.substr(19, 31), " DNS server started on UDP/53\r\n");
    EXPECT_EQ(log.substr(50 + 19, 3), " \r\n");
    EXPECT_EQ(log.substr(72 + 19), " two\nlines\r\n");
    EXPECT_EQ(test_support::FromWide(LogFilePath()), data.folder() / "dns.log");
}

TEST(EventLog, RecreatesFolderAndFileAfterDeletion) {
    test_support::ScopedDataFolder data;
    AppendLogLine("first");
    std::filesystem::remove_all(data.folder());
    AppendLogLine("second");
    const std::string log = ReadBytes(data.folder() / "dns.log");
    EXPECT_EQ(log.size(), 20u + 6 + 2);
    EXPECT_EQ(log.substr(20), "second\r\n");
}

TEST(EventLog, UnwritableLogIsDroppedSilently) {
    test_support::ScopedDataFolder data;
    // A folder where the file should be makes every open fail.
    std::filesystem::create_directories(data.folder() / "dns.log");
    AppendLogLine("lost");
    EXPECT_TRUE(std::filesystem::is_directory(data.folder() / "dns.log"));
    // Nothing went anywhere else instead: no stray file beside it or in it.
    EXPECT_TRUE(std::filesystem::is_empty(data.folder() / "dns.log"));
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(data.folder())) ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(EventLog, ConcurrentAppendsLandWhole) {
    test_support::ScopedDataFolder data;
    constexpr int kLinesPerThread = 300;
    const std::string workerMessage(150, 'w');
    const std::string windowMessage(90, 'u');
    std::thread worker([&] {
        for (int i = 0; i < kLinesPerThread; ++i) AppendLogLine(workerMessage);
    });
    for (int i = 0; i < kLinesPerThread; ++i) AppendLogLine(windowMessage);
    worker.join();

    const std::string log = ReadBytes(data.folder() / "dns.log");
    int workerLines = 0;
    int windowLines = 0;
    size_t start = 0;
    while (start < log.size()) {
        const size_t end = log.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        const std::string message = log.substr(start + 20, end - start - 20);
        if (message == workerMessage) {
            ++workerLines;
        } else if (message == windowMessage) {
            ++windowLines;
        } else {
            FAIL() << "mixed line: " << message;
        }
        start = end + 2;
    }
    EXPECT_EQ(workerLines, kLinesPerThread);
    EXPECT_EQ(windowLines, kLinesPerThread);
}

TEST(FileIo, ReplaceKeepsOldContentWhenTargetIsReadOnly) {
    test_support::ScratchFolder folder;
    const auto target = folder.path() / "config.xml";
    ASSERT_TRUE(ReplaceFileContents(test_support::WidePath(target), "one"));
    ASSERT_TRUE(ReplaceFileContents(test_support::WidePath(target), "two"));
    EXPECT_EQ(ReadBytes(target), "two");
    std::filesystem::permissions(target,
                                 std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_FALSE(ReplaceFileContents(test_support::WidePath(target), "three"));
    EXPECT_EQ(ReadBytes(target), "two");
    std::filesystem::permissions(target, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    // Nothing but the target is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

TEST(FileIo, NonAsciiPathsKeepEveryCharacter) {
    test_support::ScratchFolder folder("-J\xC3\xA9r\xC3\xB4me-\xE6\x97\xA5");
    const std::wstring target = folder.wide() + kPathSeparator + Utf8ToUtf16("d\xC3\xA9j\xC3\xA0.xml");
    ASSERT_TRUE(ReplaceFileContents(target, "abc"));
    ASSERT_TRUE(AppendToFile(target, "def"));
    std::string read;
    ASSERT_TRUE(ReadWholeFile(target, read));
    EXPECT_EQ(read, "abcdef");
    EXPECT_TRUE(std::filesystem::exists(test_support::FromWide(target)));
    EXPECT_TRUE(DeleteFileAtPath(target));
    EXPECT_FALSE(ReadWholeFile(target, read));
}

}  // namespace
