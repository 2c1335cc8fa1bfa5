// clang-format off
// Winsock must come before the other Windows headers.
#include <winsock2.h>
#include "ui/main_window.h"
// clang-format on

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/file_io.h"
#include "core/server_state.h"
#include "dns/server.h"
#include "log/event_log.h"
#include "log/text_convert.h"
#include "test_support.h"
#include "ui/forwarding_window.h"
#include "ui/records_editor.h"
#include "ui/status_report.h"
#include "ui/ui_shared.h"
#include "ui_test_support.h"

namespace {

using ui_test::Box;
using ui_test::ClassName;
using ui_test::ControlSpec;
using ui_test::ExpectControlsById;
using ui_test::PlaceOf;
using ui_test::PumpMessages;
using ui_test::StyleBits;
using ui_test::WaitUntil;
using ui_test::WindowText;

// The five buttons in their row, then the status panel, folded away.
std::vector<ControlSpec> MainWindowControls() {
    const StyleBits pushButton{BS_TYPEMASK, BS_PUSHBUTTON};  // no default-button or other type bits
    const LONG panelBits = WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY;
    return {
        // The server started while the window was created.
        {L"Button", L"Stop server", kStartStopButtonId, std::nullopt, pushButton},
        {L"Button", L"DNS Settings", kRecordsEditorButtonId, std::nullopt, pushButton},
        {L"Button", L"Forwarding", kForwardingButtonId, std::nullopt, pushButton},
        {L"Button", L"Log", kLogButtonId, std::nullopt, pushButton},
        {L"Button", L"Status", kStatusButtonId, std::nullopt, pushButton},
        {L"Edit", nullptr, kStatusPanelId, std::nullopt, {panelBits, panelBits}, ui_test::kSunkenEdge, nullptr, false},
    };
}

// Creates the real main window through the program's own code, in a data
// folder of its own and with the server on a port the system assigns.
class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseAnyListenPortForTesting();
        Ui().statusPanelShown = false;
    }

    void TearDown() override {
        if (window_ != nullptr && IsWindow(window_)) {
            DestroyWindow(window_);
        }
        DrainQuit();
        StopServer();
        JoinFinishedWorker();
        SetServerPortsForTesting(0, 0);
    }

    void OpenMainWindow() {
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        RegisterMainWindowClass(instance);
        window_ = CreateMainWindow(instance);
        ASSERT_NE(window_, nullptr);
        ShowWindow(window_, SW_SHOWNORMAL);
        UpdateWindow(window_);
        PumpMessages();
    }

    // The quit message of a destroyed main window must not end the next test.
    static int DrainQuit() {
        int exitCode = -1;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                exitCode = static_cast<int>(message.wParam);
            } else {
                DispatchMessageW(&message);
            }
        }
        return exitCode;
    }

    HWND Control(int id) const { return GetDlgItem(window_, id); }

    void Press(int id) {
        SendMessageW(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
        PumpMessages();
    }

    int ClientWidth() const {
        RECT client{};
        GetClientRect(window_, &client);
        return client.right;
    }

    int ClientHeight() const {
        RECT client{};
        GetClientRect(window_, &client);
        return client.bottom;
    }

    // Resizes the frame so that the client area gets the wanted width.
    void SetClientWidth(int width) {
        RECT frame{};
        GetWindowRect(window_, &frame);
        const int extra = (frame.right - frame.left) - ClientWidth();
        SetWindowPos(window_, nullptr, 0, 0, width + extra, frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
        PumpMessages();
    }

    SIZE WindowSize() const {
        RECT frame{};
        GetWindowRect(window_, &frame);
        return {frame.right - frame.left, frame.bottom - frame.top};
    }

    // Repaints the whole client area now and reads one pixel back from the
    // window's own device context.
    COLORREF PixelAfterRepaint(int x, int y) {
        RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        PumpMessages();
        const HDC dc = GetDC(window_);
        const COLORREF colour = GetPixel(dc, x, y);
        ReleaseDC(window_, dc);
        return colour;
    }

    // One pixel of the window as it was last painted.
    COLORREF PixelAsPainted(int x, int y) {
        PumpMessages();
        const HDC dc = GetDC(window_);
        const COLORREF colour = GetPixel(dc, x, y);
        ReleaseDC(window_, dc);
        return colour;
    }

    bool LogHas(const std::string& text) const {
        std::string log;
        ReadWholeFile(LogFilePath(), log);
        return log.find(text) != std::string::npos;
    }

    test_support::ScopedDataFolder data_;
    HWND window_ = nullptr;
};

TEST_F(MainWindowTest, FrameTitleAndClassAreFixed) {
    OpenMainWindow();
    EXPECT_EQ(ClassName(window_), L"Tarnwick_Main");
    EXPECT_EQ(WindowText(window_), L"Tarnwick v1.0  -  The Tarnwick developers");
    const SIZE size = WindowSize();
    EXPECT_EQ(size.cx, 696);
    EXPECT_EQ(size.cy, 90);
    const LONG style = GetWindowLongW(window_, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX), WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
    EXPECT_EQ(GetWindowLongW(window_, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
    EXPECT_EQ(GetParent(window_), nullptr);
    EXPECT_EQ(GetMenu(window_), nullptr);
}

TEST_F(MainWindowTest, ControlsHaveTheirIdsTextsStylesAndTheSharedFont) {
    OpenMainWindow();
    ASSERT_NO_FATAL_FAILURE(ExpectControlsById(window_, MainWindowControls()));

    ASSERT_NE(Ui().sharedFont, nullptr);
    LOGFONTW font{};
    ASSERT_NE(GetObjectW(Ui().sharedFont, sizeof font, &font), 0);
    EXPECT_STREQ(font.lfFaceName, L"Segoe UI");
    const HDC dc = GetDC(window_);
    const int pointsToPixels = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window_, dc);
    EXPECT_EQ(font.lfHeight, -MulDiv(10, pointsToPixels, 72));
    EXPECT_EQ(font.lfWeight, 0);
    EXPECT_EQ(font.lfItalic, 0);
}

TEST_F(MainWindowTest, ButtonsFollowTheClientWidth) {
    OpenMainWindow();
    struct Case {
        int clientWidth;
        Box buttons[5];  // in the order of MainWindowControls()
    };
    const Case cases[] = {
        // s = 584, w1 = 133, w2 = 91
        {680, {{42, 8, 139, 30}, {191, 8, 142, 30}, {343, 8, 142, 30}, {494, 8, 81, 30}, {582, 8, 81, 30}}},
        // s = 540 (the floor), w1 = 123, w2 = 90 (84 would be too narrow)
        {600, {{42, 8, 129, 30}, {181, 8, 132, 30}, {323, 8, 132, 30}, {464, 8, 80, 30}, {551, 8, 80, 30}}},
        // Narrower still: the floor holds.
        {500, {{42, 8, 129, 30}, {181, 8, 132, 30}, {323, 8, 132, 30}, {464, 8, 80, 30}, {551, 8, 80, 30}}},
        // s = 699: 159.77 and 109.84 are truncated, not rounded.
        {795, {{42, 8, 165, 30}, {217, 8, 168, 30}, {395, 8, 168, 30}, {572, 8, 99, 30}, {678, 8, 99, 30}}},
        // From 796 on the widths are fixed.
        {796, {{42, 8, 166, 30}, {218, 8, 169, 30}, {397, 8, 169, 30}, {575, 8, 100, 30}, {682, 8, 100, 30}}},
        {1000, {{42, 8, 166, 30}, {218, 8, 169, 30}, {397, 8, 169, 30}, {575, 8, 100, 30}, {682, 8, 100, 30}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clientWidth);
        SetClientWidth(c.clientWidth);
        ASSERT_EQ(ClientWidth(), c.clientWidth);
        std::vector<ControlSpec> table = MainWindowControls();
        for (size_t button = 0; button < 5; ++button) {
            table[button].place = c.buttons[button];
        }
        table[5].place = Box{14, 50, c.clientWidth - 28, std::max(ClientHeight() - 60, 60)};
        ExpectControlsById(window_, table);
    }
}

TEST_F(MainWindowTest, LampShowsTheRunStateOnWhite) {
    OpenMainWindow();
    ASSERT_TRUE(GetServerState().running.load());
    EXPECT_EQ(PixelAfterRepaint(23, 23), RGB(0, 180, 0));
    // The outline is one pixel of dark grey at the top of the circle; the
    // corners of its box and the rest of the client area stay white.
    EXPECT_EQ(PixelAfterRepaint(23, 14), RGB(60, 60, 60));
    EXPECT_EQ(PixelAfterRepaint(14, 14), RGB(255, 255, 255));
    EXPECT_EQ(PixelAfterRepaint(5, 5), RGB(255, 255, 255));
    EXPECT_EQ(PixelAfterRepaint(36, 44), RGB(255, 255, 255));

    Press(kStartStopButtonId);
    ASSERT_FALSE(GetServerState().running.load());
    EXPECT_EQ(PixelAfterRepaint(23, 23), RGB(200, 0, 0));
    EXPECT_EQ(PixelAfterRepaint(23, 14), RGB(60, 60, 60));

    Press(kStartStopButtonId);
    ASSERT_TRUE(GetServerState().running.load());
    EXPECT_EQ(PixelAfterRepaint(23, 23), RGB(0, 180, 0));
}

TEST_F(MainWindowTest, StartStopButtonFollowsTheServer) {
    OpenMainWindow();
    EXPECT_TRUE(GetServerState().running.load());
    EXPECT_EQ(WindowText(Control(kStartStopButtonId)), L"Stop server");
    EXPECT_TRUE(WaitUntil([&] { return LogHas("DNS server started on UDP/53"); }));

    Press(kStartStopButtonId);
    EXPECT_FALSE(GetServerState().running.load());
    EXPECT_FALSE(GetServerState().worker.joinable());
    EXPECT_EQ(WindowText(Control(kStartStopButtonId)), L"Start server");
    EXPECT_TRUE(LogHas("DNS server stopped"));
    // The status report was rebuilt by the stop, even with the panel hidden.
    EXPECT_EQ(WindowText(Control(kStatusPanelId)), Utf8ToUtf16(BuildStatusReport()));
    EXPECT_NE(WindowText(Control(kStatusPanelId)).find(L"STOPPED"), std::wstring::npos);

    Press(kStartStopButtonId);
    EXPECT_TRUE(GetServerState().running.load());
    EXPECT_EQ(WindowText(Control(kStartStopButtonId)), L"Stop server");
    EXPECT_NE(WindowText(Control(kStatusPanelId)).find(L"RUNNING"), std::wstring::npos);
}

TEST_F(MainWindowTest, FailedBindIsShownAtOnceWithoutUserInput) {
    // Another program holds the server's port (one the system assigned).
    ui_test::PortHolder holder(0);
    ASSERT_TRUE(holder.bound());
    ASSERT_NE(holder.port(), 0);
    SetServerPortsForTesting(holder.port(), 0);
    OpenMainWindow();
    // The worker gives up after the window was drawn as running; only its
    // message tells the window, which is all that the pumping delivers here.
    ASSERT_TRUE(WaitUntil([&] { return WindowText(Control(kStartStopButtonId)) == L"Start server"; }))
        << "the caption still reads " << Utf16ToUtf8(WindowText(Control(kStartStopButtonId)));
    PumpMessages();
    EXPECT_FALSE(GetServerState().running.load());
    EXPECT_EQ(GetServerState().lastSocketError.load(), WSAEADDRINUSE);
    // The lamp as last painted, without forcing a repaint here.
    EXPECT_EQ(PixelAsPainted(23, 23), RGB(200, 0, 0));
    // The hidden panel holds a report rebuilt after the failure.
    const std::wstring report = WindowText(Control(kStatusPanelId));
    EXPECT_EQ(report.rfind(L"Server:           STOPPED\r\nLast socket error: 10048 (bind UDP/53 often needs admin)\r\n"
                           L"Port:              53 UDP\r\n",
                           0),
              0u)
        << Utf16ToUtf8(report);
    EXPECT_FALSE(LogHas("DNS server started on UDP/53"));

    // With the port free again the button starts the server.
    holder.Release();
    Press(kStartStopButtonId);
    EXPECT_TRUE(GetServerState().running.load());
    EXPECT_EQ(WindowText(Control(kStartStopButtonId)), L"Stop server");
    EXPECT_TRUE(WaitUntil([&] { return LogHas("DNS server started on UDP/53"); }));
    EXPECT_EQ(GetServerState().lastSocketError.load(), 0);
    EXPECT_EQ(PixelAsPainted(23, 23), RGB(0, 180, 0));
}

TEST_F(MainWindowTest, ClosingAfterAFailedBindJoinsTheWorker) {
    ui_test::PortHolder holder(0);
    ASSERT_TRUE(holder.bound());
    SetServerPortsForTesting(holder.port(), 0);
    OpenMainWindow();
    ASSERT_TRUE(WaitUntil([] { return !GetServerState().running.load(); }));
    DestroyWindow(window_);
    EXPECT_FALSE(GetServerState().worker.joinable());
    EXPECT_EQ(DrainQuit(), 0);
}

TEST_F(MainWindowTest, StatusButtonFoldsThePanelOutAndInWithFreshFigures) {
    OpenMainWindow();
    ServerState& state = GetServerState();
    const uint64_t requests = state.stats.requests.load();

    state.stats.requests = 5000000000ULL;
    Press(kStatusButtonId);
    EXPECT_TRUE(Ui().statusPanelShown);
    SIZE size = WindowSize();
    EXPECT_EQ(size.cx, 696);
    EXPECT_EQ(size.cy, 360);
    EXPECT_TRUE(IsWindowVisible(Control(kStatusPanelId)));
    EXPECT_EQ(PlaceOf(Control(kStatusPanelId)), (Box{14, 50, ClientWidth() - 28, ClientHeight() - 60}));
    EXPECT_EQ(WindowText(Control(kStatusPanelId)), Utf8ToUtf16(BuildStatusReport()));
    EXPECT_NE(WindowText(Control(kStatusPanelId)).find(L"Requests:       5000000000\r\n"), std::wstring::npos);

    state.stats.requests = 5000000001ULL;
    Press(kStatusButtonId);
    EXPECT_FALSE(Ui().statusPanelShown);
    size = WindowSize();
    EXPECT_EQ(size.cx, 696);
    EXPECT_EQ(size.cy, 90);
    EXPECT_FALSE(IsWindowVisible(Control(kStatusPanelId)));
    // Rebuilt at the second press as well.
    EXPECT_NE(WindowText(Control(kStatusPanelId)).find(L"Requests:       5000000001\r\n"), std::wstring::npos);
    // The folded panel keeps its minimum height.
    EXPECT_EQ(PlaceOf(Control(kStatusPanelId)).height, 60);

    state.stats.requests = requests;
}

// Counts the top-level windows of this thread with the given class.
std::vector<HWND> ThreadWindowsOfClass(const wchar_t* className) {
    struct Search {
        const wchar_t* className;
        std::vector<HWND> found;
    } search{className, {}};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            if (ClassName(window) == s->className) {
                s->found.push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

TEST_F(MainWindowTest, EachToolWindowOpensAtMostOnce) {
    OpenMainWindow();
    struct Tool {
        int buttonId;
        const wchar_t* className;
        const wchar_t* title;
        int width, height;
        bool resizable;
    };
    const Tool tools[] = {
        {kRecordsEditorButtonId, L"DNS_Settings_Wnd", L"DNS Settings", 660, 730, false},
        {kForwardingButtonId, L"DNS_Forward_Wnd", L"Forwarding", 540, 260, false},
        {kLogButtonId, L"DNS_Log_Wnd", L"DNS Log", 720, 520, true},
    };
    for (const Tool& tool : tools) {
        SCOPED_TRACE(testing::Message() << tool.buttonId);
        Press(tool.buttonId);
        std::vector<HWND> open = ThreadWindowsOfClass(tool.className);
        ASSERT_EQ(open.size(), 1u);
        const HWND first = open[0];
        EXPECT_EQ(WindowText(first), tool.title);
        EXPECT_TRUE(IsWindowVisible(first));
        EXPECT_EQ(GetWindow(first, GW_OWNER), window_);
        RECT frame{};
        GetWindowRect(first, &frame);
        EXPECT_EQ(frame.right - frame.left, tool.width);
        EXPECT_EQ(frame.bottom - frame.top, tool.height);
        const LONG style = GetWindowLongW(first, GWL_STYLE);
        EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
        EXPECT_EQ((style & WS_THICKFRAME) != 0, tool.resizable);

        // A second press brings the open one to the front instead of making
        // another.
        SetForegroundWindow(window_);
        PumpMessages();
        Press(tool.buttonId);
        open = ThreadWindowsOfClass(tool.className);
        ASSERT_EQ(open.size(), 1u);
        EXPECT_EQ(open[0], first);
        EXPECT_EQ(GetForegroundWindow(), first);

        // Once closed, the next press makes a new one.
        DestroyWindow(first);
        PumpMessages();
        Press(tool.buttonId);
        open = ThreadWindowsOfClass(tool.className);
        ASSERT_EQ(open.size(), 1u);
        EXPECT_TRUE(IsWindowVisible(open[0]));
    }
    // All three at once, one of each.
    for (const Tool& tool : tools) {
        EXPECT_EQ(ThreadWindowsOfClass(tool.className).size(), 1u);
    }
}

TEST_F(MainWindowTest, LongTextTypedIntoTheToolWindowsIsKeptWhole) {
    OpenMainWindow();
    // Each text is wider than its box.
    const std::wstring name = L"fileserver.branch-office.region.example.org";  // 44 characters
    const std::wstring mailHost = L"mailhost.branch-office.example.org";       // 34 characters
    const std::wstring ttl = L"4294967295";
    Press(kRecordsEditorButtonId);
    const std::vector<HWND> editors = ThreadWindowsOfClass(L"DNS_Settings_Wnd");
    ASSERT_EQ(editors.size(), 1u);
    const HWND editor = editors[0];
    const RecordRowControls& row = RecordRows()[19];
    SendMessageW(row.enabled, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(row.type, CB_SETCURSEL, 1, 0);
    SetWindowTextW(row.name, L"");
    SetWindowTextW(row.value, L"");
    SetWindowTextW(row.ttl, L"");
    ui_test::TypeAtEnd(row.name, name);
    ui_test::TypeAtEnd(row.value, mailHost);
    ui_test::TypeAtEnd(row.ttl, ttl);
    EXPECT_EQ(WindowText(row.name), name);
    EXPECT_EQ(WindowText(row.value), mailHost);
    EXPECT_EQ(WindowText(row.ttl), ttl);
    SendMessageW(editor, WM_COMMAND, MAKEWPARAM(kRecordsSaveId, BN_CLICKED), 0);
    PumpMessages();
    EXPECT_FALSE(IsWindow(editor));

    // The forwarders hold IPv4 addresses, yet a box takes whatever is typed;
    // the first one gets more than the 254 characters that are kept.
    std::wstring longest;
    while (longest.size() < 300) {
        longest += L"198.51.100.";
        longest += std::to_wstring(longest.size() % 250);
        longest += L' ';
    }
    const std::wstring typed[3] = {longest, L"192.0.2.53 (the branch office's own resolver)",
                                   L"203.0.113.1, 203.0.113.2, 203.0.113.3, 203.0.113.4"};
    Press(kForwardingButtonId);
    const std::vector<HWND> forwardingWindows = ThreadWindowsOfClass(L"DNS_Forward_Wnd");
    ASSERT_EQ(forwardingWindows.size(), 1u);
    const HWND forwarding = forwardingWindows[0];
    for (size_t i = 0; i < 3; ++i) {
        SetWindowTextW(ForwarderEdits()[i], L"");
        ui_test::TypeAtEnd(ForwarderEdits()[i], typed[i]);
        EXPECT_EQ(WindowText(ForwarderEdits()[i]), typed[i]) << i;
    }
    SendMessageW(forwarding, WM_COMMAND, MAKEWPARAM(kForwardingSaveId, BN_CLICKED), 0);
    PumpMessages();
    EXPECT_FALSE(IsWindow(forwarding));

    const ServerConfig saved = test_support::LiveConfig();
    const DnsRecord& record = saved.records[19];
    EXPECT_TRUE(record.enabled);
    EXPECT_EQ(record.type, 15);
    EXPECT_EQ(record.name, Utf16ToUtf8(name));
    EXPECT_EQ(record.value, Utf16ToUtf8(mailHost));
    EXPECT_EQ(record.ttl, 4294967295u);
    EXPECT_EQ(saved.forwarding.dns1, Utf16ToUtf8(longest.substr(0, 254)));
    EXPECT_EQ(saved.forwarding.dns2, Utf16ToUtf8(typed[1]));
    EXPECT_EQ(saved.forwarding.dns3, Utf16ToUtf8(typed[2]));
}

TEST_F(MainWindowTest, DestroyingTheWindowStopsTheServerAndTearsDown) {
    OpenMainWindow();
    Press(kRecordsEditorButtonId);
    Press(kLogButtonId);
    ASSERT_EQ(ThreadWindowsOfClass(L"DNS_Settings_Wnd").size(), 1u);
    ASSERT_EQ(ThreadWindowsOfClass(L"DNS_Log_Wnd").size(), 1u);
    ASSERT_TRUE(GetServerState().running.load());

    DestroyWindow(window_);
    EXPECT_FALSE(GetServerState().running.load());
    EXPECT_FALSE(GetServerState().worker.joinable());
    EXPECT_TRUE(LogHas("DNS server stopped"));
    EXPECT_EQ(Ui().sharedFont, nullptr);
    EXPECT_EQ(Ui().whiteBrush, nullptr);
    // The owned tool windows went with it.
    EXPECT_TRUE(ThreadWindowsOfClass(L"DNS_Settings_Wnd").empty());
    EXPECT_TRUE(ThreadWindowsOfClass(L"DNS_Log_Wnd").empty());
    EXPECT_EQ(DrainQuit(), 0);

    // They gave up their slots as they went: the next main window opens new ones.
    OpenMainWindow();
    Press(kRecordsEditorButtonId);
    Press(kLogButtonId);
    EXPECT_EQ(ThreadWindowsOfClass(L"DNS_Settings_Wnd").size(), 1u);
    EXPECT_EQ(ThreadWindowsOfClass(L"DNS_Log_Wnd").size(), 1u);
}

TEST_F(MainWindowTest, ControlsAreColouredBlackOnWhite) {
    OpenMainWindow();
    const HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    SetBkColor(dc, RGB(4, 5, 6));
    for (UINT message : {WM_CTLCOLORSTATIC, WM_CTLCOLOREDIT}) {
        SCOPED_TRACE(message);
        const LRESULT brush = SendMessageW(window_, message, reinterpret_cast<WPARAM>(dc),
                                           reinterpret_cast<LPARAM>(Control(kStatusPanelId)));
        EXPECT_EQ(reinterpret_cast<HBRUSH>(brush), Ui().whiteBrush);
        EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
        EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255));
        SetTextColor(dc, RGB(1, 2, 3));
        SetBkColor(dc, RGB(4, 5, 6));
    }
    DeleteDC(dc);
    ASSERT_NE(Ui().whiteBrush, nullptr);
    LOGBRUSH brush{};
    GetObjectW(Ui().whiteBrush, sizeof brush, &brush);
    EXPECT_EQ(brush.lbColor, RGB(255, 255, 255));
}

TEST_F(MainWindowTest, ShutdownWithoutAWindowJoinsAWorkerThatGaveUp) {
    // The way out when the main window cannot be made: the server may have
    // been started and its worker may have ended by itself; it must be joined.
    ui_test::PortHolder holder(0);
    ASSERT_TRUE(holder.bound());
    SetServerPortsForTesting(holder.port(), 0);
    StartServer();
    ASSERT_TRUE(WaitUntil([] { return !GetServerState().running.load(); }));
    ASSERT_TRUE(GetServerState().worker.joinable());
    StopServer();
    EXPECT_FALSE(GetServerState().running.load());
    EXPECT_FALSE(GetServerState().worker.joinable());

    holder.Release();
    StartServer();
    ASSERT_TRUE(GetServerState().running.load());
    ASSERT_TRUE(WaitUntil([&] { return LogHas("DNS server started on UDP/53"); }));
    StopServer();
    EXPECT_FALSE(GetServerState().running.load());
    EXPECT_FALSE(GetServerState().worker.joinable());
    EXPECT_TRUE(LogHas("DNS server stopped"));
}

// What the failure report showed, read from inside its modal loop.
struct ReportedBox {
    bool seen = false;
    std::wstring caption;
    std::wstring text;
};
ReportedBox reportedBox;

void CALLBACK AnswerMessageBox(HWND, UINT, UINT_PTR timer, DWORD) {
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM) -> BOOL {
            if (ClassName(window) != L"#32770" || !IsWindowVisible(window)) {
                return TRUE;
            }
            reportedBox.seen = true;
            reportedBox.caption = WindowText(window);
            wchar_t text[512] = {};
            GetDlgItemTextW(window, 0xFFFF, text, 512);
            reportedBox.text = text;
            PostMessageW(window, WM_COMMAND, IDOK, 0);
            return FALSE;
        },
        0);
    if (reportedBox.seen) {
        KillTimer(nullptr, timer);
    }
}

TEST_F(MainWindowTest, FailureReportIsShownEvenWithAQuitPending) {
    // A main window destroyed while it was being created has posted the quit
    // message and stopped the server already; the report must still stay up
    // until the user answers it.
    StartServer();
    ASSERT_TRUE(WaitUntil([&] { return LogHas("DNS server started on UDP/53"); }));
    PostQuitMessage(0);
    reportedBox = ReportedBox{};
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, AnswerMessageBox);
    ASSERT_NE(timer, 0u);
    ReportMainWindowFailure();
    KillTimer(nullptr, timer);
    EXPECT_TRUE(reportedBox.seen);
    EXPECT_EQ(reportedBox.caption, L"Tarnwick");
    EXPECT_EQ(reportedBox.text, L"The main window could not be created.");
    EXPECT_FALSE(GetServerState().running.load());
    EXPECT_FALSE(GetServerState().worker.joinable());
    EXPECT_TRUE(LogHas("DNS server stopped"));
}

}  // namespace
