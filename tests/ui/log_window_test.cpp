#include <cstdio>

#include "tool_window_support.h"

namespace {

using namespace tool_test;

class LogWindow : public ToolWindowTest {};

HWND LogView(HWND window) {
    return GetDlgItem(window, kLogViewId);
}

// The view fills the client area but for a margin and the row of buttons
// along the bottom, which keep their size; it wraps lines rather than scroll
// sideways.
std::vector<ControlSpec> LogWindowControls(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    const int cw = client.right;
    const int ch = client.bottom;
    const LONG viewBits = WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY;
    return {
        {L"Edit",
         nullptr,
         kLogViewId,
         Box{10, 10, cw - 20, ch - 70},
         {viewBits | WS_HSCROLL | ES_AUTOHSCROLL, viewBits},
         kSunkenEdge},
        {L"Button", L"Refresh", kLogRefreshId, Box{10, ch - 50, 140, 34}},
        {L"Button", L"Clear log", kLogClearId, Box{160, ch - 50, 140, 34}},
        {L"Button", L"Close", kLogCloseId, Box{310, ch - 50, 140, 34}},
    };
}

TEST_F(LogWindow, BuildsTheViewAndButtonsAndFollowsResizing) {
    HWND window = OpenLogWindow(Owner());
    ASSERT_NE(window, nullptr);
    ASSERT_NO_FATAL_FAILURE(ExpectChildren(window, LogWindowControls(window)));

    const SIZE sizes[] = {{900, 700}, {480, 300}, {1000, 400}};
    for (const SIZE& size : sizes) {
        SCOPED_TRACE(size.cx);
        SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
        PumpMessages();
        RECT client{};
        GetClientRect(window, &client);
        ASSERT_GT(client.right, 400);
        ExpectChildren(window, LogWindowControls(window));
    }
}

TEST_F(LogWindow, ShowsPlaceholderForMissingEmptyOrNulLeadingLog) {
    const std::optional<std::string> contents[] = {std::nullopt, std::string(), std::string("\0rest\r\n", 7)};
    for (const auto& content : contents) {
        SCOPED_TRACE(content ? content->size() : 99);
        if (content) {
            WriteBytes(LogFile(), *content);
            ASSERT_EQ(std::filesystem::file_size(LogFile()), content->size());
        } else {
            ASSERT_FALSE(std::filesystem::exists(LogFile()));
        }
        HWND window = OpenLogWindow(Owner());
        EXPECT_EQ(WindowText(LogView(window)), L"(no log yet)");
        Command(window, kLogCloseId);
        EXPECT_FALSE(IsWindow(window));
    }
}

TEST_F(LogWindow, ShowsTheFileAsUtf16UpToTheFirstNul) {
    WriteBytes(LogFile(), std::string("2026-01-02 03:04:05 caf\xC3\xA9 \xFF\r\nsecond\0hidden", 45));
    HWND window = OpenLogWindow(Owner());
    EXPECT_EQ(WindowText(LogView(window)), L"2026-01-02 03:04:05 caf\u00e9 \ufffd\r\nsecond");
    EXPECT_EQ(ReadLogText(test_support::WidePath(LogFile())), L"2026-01-02 03:04:05 caf\u00e9 \ufffd\r\nsecond");
    EXPECT_EQ(ReadLogText(test_support::WidePath(data_.folder() / "missing.log")), L"");
}

TEST_F(LogWindow, RefreshShowsLinesAddedSinceOpening) {
    AppendLogLine("first");
    HWND window = OpenLogWindow(Owner());
    const std::wstring shown = WindowText(LogView(window));
    AppendLogLine("second");
    EXPECT_EQ(WindowText(LogView(window)), shown) << "the view must not update by itself";
    EXPECT_EQ(OpenLogWindow(Owner()), window);
    EXPECT_EQ(WindowText(LogView(window)), shown) << "bringing it to the front must not reload";
    Command(window, kLogRefreshId);
    EXPECT_EQ(WindowText(LogView(window)), Utf8ToUtf16(ReadBytes(LogFile())));
    EXPECT_NE(WindowText(LogView(window)).find(L"second\r\n"), std::wstring::npos);
}

TEST_F(LogWindow, ClearDeletesReloadsThenLogsTheClearing) {
    AppendLogLine("old one");
    AppendLogLine("old two");
    HWND window = OpenLogWindow(Owner());
    ASSERT_NE(WindowText(LogView(window)).find(L"old two"), std::wstring::npos);

    Command(window, kLogClearId);
    EXPECT_EQ(WindowText(LogView(window)), L"(no log yet)");
    EXPECT_EQ(Log(), std::vector<std::string>{"Log cleared"});

    Command(window, kLogRefreshId);
    const std::wstring shown = WindowText(LogView(window));
    EXPECT_EQ(shown, Utf8ToUtf16(ReadBytes(LogFile())));
    ASSERT_EQ(shown.size(), 19u + 1u + 11u + 2u);
    EXPECT_EQ(shown.substr(19), L" Log cleared\r\n");
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(LogWindow, ClearOnAFileThatCannotBeDeletedKeepsItsLines) {
    AppendLogLine("kept");
    const std::wstring path = test_support::WidePath(LogFile());
    // Held open without delete sharing, the way another program might.
    HANDLE holder =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    HWND window = OpenLogWindow(Owner());
    Command(window, kLogClearId);
    EXPECT_NE(WindowText(LogView(window)).find(L"kept"), std::wstring::npos);
    CloseHandle(holder);
    EXPECT_EQ(Log(), (std::vector<std::string>{"kept", "Log cleared"}));
}

// Lines such as a busy server writes over weeks: query lines of varying
// length, some with non-ASCII names, now and then a save; at least `size`
// bytes, cut after a whole line.
std::string BusyLog(size_t size) {
    static const char* const names[] = {"nas.home", "fileserver.branch-office.region.example.org", "caf\xC3\xA9.test",
                                        "printer", "mail.home.test"};
    std::string log;
    log.reserve(size + 128);
    char line[160];
    for (unsigned i = 0; log.size() < size; ++i) {
        if (i % 997 == 0) {
            snprintf(line, sizeof line, "2026-%02u-%02u %02u:%02u:%02u Settings saved (records)\r\n",
                     1 + i / 900000 % 12, 1 + i / 30000 % 28, i / 1250 % 24, i / 60 % 60, i % 60);
        } else {
            snprintf(line, sizeof line, "2026-%02u-%02u %02u:%02u:%02u Q from 192.168.1.%u name=%s type=%u\r\n",
                     1 + i / 900000 % 12, 1 + i / 30000 % 28, i / 1250 % 24, i / 60 % 60, i % 60, i % 254 + 1,
                     names[i % 5], i % 3 == 0 ? 28u : 1u);
        }
        log += line;
    }
    return log;
}

// Exactly `size` bytes of such lines: the last one, a query for a long name,
// is stretched to make up the size.
std::string BusyLogOfExactly(size_t size) {
    std::string log = BusyLog(size - 300);
    log.resize(log.rfind("\r\n", size - 300) + 2);
    const std::string query = "2026-12-31 23:59:59 Q from 192.168.1.8 name=";
    const std::string end = ".example.org type=1\r\n";
    log += query + std::string(size - log.size() - query.size() - end.size(), 'n') + end;
    return log;
}

// The file from the first line that starts in its last 1 MiB.
std::string NewestLines(const std::string& log) {
    const size_t rangeStart = log.size() - 1024 * 1024;
    const size_t lineStart = log[rangeStart - 1] == '\n' ? rangeStart : log.find('\n', rangeStart) + 1;
    return log.substr(lineStart);
}

std::string LastLine(const std::string& log) {
    return log.substr(log.rfind("\r\n", log.size() - 3) + 2);
}

TEST_F(LogWindow, LargeLogShowsItsNewestMebibyteAfterALineSayingWhatIsLeftOut) {
    // About a month of light use.
    constexpr size_t kMiB = 1024 * 1024;
    std::string log = BusyLogOfExactly(40 * kMiB);
    WriteBytes(LogFile(), log);
    const std::wstring header =
        L"(showing the last 1,024 KB of 40,960 KB; the whole log is " + LogFilePath() + L")\r\n";

    HWND window = OpenLogWindow(Owner());
    std::wstring shown = WindowText(LogView(window));
    ASSERT_EQ(shown.rfind(header, 0), 0u) << Utf16ToUtf8(shown.substr(0, 200));
    // The range starts inside a line, which is left out whole.
    const std::string newest = NewestLines(log);
    ASSERT_LT(newest.size(), kMiB);
    EXPECT_EQ(shown.substr(header.size(), 30), Utf8ToUtf16(newest.substr(0, 30)));
    const std::wstring lastLine = Utf8ToUtf16(LastLine(log));
    EXPECT_EQ(shown.substr(shown.size() - lastLine.size()), lastLine);
    EXPECT_TRUE(shown.substr(header.size()) == Utf8ToUtf16(newest)) << "the view is not the file's newest lines";
    EXPECT_EQ(ReadLogText(LogFilePath()), shown);

    // Grown by 1 MiB that begins exactly at a line start: that line is kept.
    // Refresh reads the file again.
    const std::string grown = BusyLogOfExactly(kMiB);
    log += grown;
    WriteBytes(LogFile(), log);
    Command(window, kLogRefreshId);
    shown = WindowText(LogView(window));
    const std::wstring grownHeader =
        L"(showing the last 1,024 KB of 41,984 KB; the whole log is " + LogFilePath() + L")\r\n";
    ASSERT_EQ(shown.rfind(grownHeader, 0), 0u) << Utf16ToUtf8(shown.substr(0, 200));
    EXPECT_TRUE(shown.substr(grownHeader.size()) == Utf8ToUtf16(grown));
}

TEST_F(LogWindow, LogOfUpToOneMebibyteIsShownWhole) {
    const std::string log = BusyLogOfExactly(1024 * 1024);
    WriteBytes(LogFile(), log);
    HWND window = OpenLogWindow(Owner());
    EXPECT_TRUE(WindowText(LogView(window)) == Utf8ToUtf16(log));
    EXPECT_EQ(WindowText(LogView(window)).rfind(L"2026-01-01 00:00:00 Settings saved (records)\r\n", 0), 0u);

    // One line more and the oldest lines make way.
    AppendLogLine("one more");
    Command(window, kLogRefreshId);
    EXPECT_EQ(WindowText(LogView(window)).rfind(L"(showing the last 1,024 KB of 1,024 KB; the whole log is ", 0), 0u);
}

}  // namespace
