#include "tool_window_support.h"

namespace {

using namespace tool_test;

class LogWindow : public ToolWindowTest {};

HWND LogView(HWND window) {
    return GetDlgItem(window, kLogViewId);
}

void ExpectPlace(HWND control, int x, int y, int width, int height) {
    const RECT at = PlaceOf(control);
    EXPECT_EQ(at.left, x);
    EXPECT_EQ(at.top, y);
    EXPECT_EQ(at.right - at.left, width);
    EXPECT_EQ(at.bottom - at.top, height);
}

void ExpectLayoutFollowsClient(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    const int cw = client.right;
    const int ch = client.bottom;
    ExpectPlace(LogView(window), 10, 10, cw - 20, ch - 70);
    ExpectPlace(GetDlgItem(window, kLogRefreshId), 10, ch - 50, 140, 34);
    ExpectPlace(GetDlgItem(window, kLogClearId), 160, ch - 50, 140, 34);
    ExpectPlace(GetDlgItem(window, kLogCloseId), 310, ch - 50, 140, 34);
}

TEST_F(LogWindow, BuildsTheViewAndButtonsAndFollowsResizing) {
    HWND window = OpenToolWindow(kLogWindow);
    ASSERT_NE(window, nullptr);
    const std::vector<HWND> children = ChildrenOf(window);
    ASSERT_EQ(children.size(), 4u);
    EXPECT_EQ(GetDlgCtrlID(children[0]), kLogViewId);
    EXPECT_EQ(GetDlgCtrlID(children[1]), kLogRefreshId);
    EXPECT_EQ(GetDlgCtrlID(children[2]), kLogClearId);
    EXPECT_EQ(GetDlgCtrlID(children[3]), kLogCloseId);
    EXPECT_EQ(TextOf(children[1]), L"Refresh");
    EXPECT_EQ(TextOf(children[2]), L"Clear log");
    EXPECT_EQ(TextOf(children[3]), L"Close");
    EXPECT_EQ(ClassOf(children[0]), L"Edit");
    const LONG style = GetWindowLongW(children[0], GWL_STYLE);
    const LONG wanted = WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY;
    EXPECT_EQ(style & wanted, wanted);
    EXPECT_EQ(style & (WS_HSCROLL | ES_AUTOHSCROLL), 0);
    EXPECT_NE(GetWindowLongW(children[0], GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
    for (HWND child : children) {
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)), Ui().sharedFont);
    }
    ExpectLayoutFollowsClient(window);

    const SIZE sizes[] = {{900, 700}, {480, 300}, {1000, 400}};
    for (const SIZE& size : sizes) {
        SCOPED_TRACE(size.cx);
        SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
        PumpMessages();
        RECT client{};
        GetClientRect(window, &client);
        ASSERT_GT(client.right, 400);
        ExpectLayoutFollowsClient(window);
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
        HWND window = OpenToolWindow(kLogWindow);
        EXPECT_EQ(TextOf(LogView(window)), L"(no log yet)");
        Command(window, kLogCloseId);
        EXPECT_FALSE(IsWindow(window));
        EXPECT_EQ(Ui().toolWindows[kLogWindow], nullptr);
    }
}

TEST_F(LogWindow, ShowsTheFileAsUtf16UpToTheFirstNul) {
    WriteBytes(LogFile(), std::string("2026-01-02 03:04:05 caf\xC3\xA9 \xFF\r\nsecond\0hidden", 45));
    HWND window = OpenToolWindow(kLogWindow);
    EXPECT_EQ(TextOf(LogView(window)), L"2026-01-02 03:04:05 caf\u00e9 \ufffd\r\nsecond");
    EXPECT_EQ(ReadLogText(test_support::WidePath(LogFile())), L"2026-01-02 03:04:05 caf\u00e9 \ufffd\r\nsecond");
    EXPECT_EQ(ReadLogText(test_support::WidePath(data_.folder() / "missing.log")), L"");
}

TEST_F(LogWindow, RefreshShowsLinesAddedSinceOpening) {
    AppendLogLine("first");
    HWND window = OpenToolWindow(kLogWindow);
    const std::wstring shown = TextOf(LogView(window));
    AppendLogLine("second");
    EXPECT_EQ(TextOf(LogView(window)), shown) << "the view must not update by itself";
    EXPECT_EQ(OpenToolWindow(kLogWindow), window);
    EXPECT_EQ(TextOf(LogView(window)), shown) << "bringing it to the front must not reload";
    Command(window, kLogRefreshId);
    EXPECT_EQ(TextOf(LogView(window)), Utf8ToUtf16(ReadBytes(LogFile())));
    EXPECT_NE(TextOf(LogView(window)).find(L"second\r\n"), std::wstring::npos);
}

TEST_F(LogWindow, ClearDeletesReloadsThenLogsTheClearing) {
    AppendLogLine("old one");
    AppendLogLine("old two");
    HWND window = OpenToolWindow(kLogWindow);
    ASSERT_NE(TextOf(LogView(window)).find(L"old two"), std::wstring::npos);

    Command(window, kLogClearId);
    EXPECT_EQ(TextOf(LogView(window)), L"(no log yet)");
    EXPECT_EQ(Log(), std::vector<std::string>{"Log cleared"});

    Command(window, kLogRefreshId);
    const std::wstring shown = TextOf(LogView(window));
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
    HWND window = OpenToolWindow(kLogWindow);
    Command(window, kLogClearId);
    EXPECT_NE(TextOf(LogView(window)).find(L"kept"), std::wstring::npos);
    CloseHandle(holder);
    EXPECT_EQ(Log(), (std::vector<std::string>{"kept", "Log cleared"}));
}

}  // namespace
