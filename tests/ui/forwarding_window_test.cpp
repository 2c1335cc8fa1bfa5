#include "tool_window_support.h"

namespace {

using namespace tool_test;

class ForwardingWindow : public ToolWindowTest {};

void SetEdits(const std::wstring& first, const std::wstring& second, const std::wstring& third) {
    SetWindowTextW(ForwarderEdits()[0], first.c_str());
    SetWindowTextW(ForwarderEdits()[1], second.c_str());
    SetWindowTextW(ForwarderEdits()[2], third.c_str());
}

TEST_F(ForwardingWindow, BuildsLabelsEditsAndButtonsAtTheirPlaces) {
    HWND window = OpenForwardingWindow(Owner());
    ASSERT_NE(window, nullptr);
    const std::vector<HWND> children = ChildrenOf(window);
    const std::array<HWND, 3>& edits = ForwarderEdits();
    ASSERT_NO_FATAL_FAILURE(
        ExpectControls(children, {
                                     {L"Static", L"Forwarding DNS 1 IPv4:", 0, Box{20, 20, 200, 20}, {}, kFlatEdge},
                                     {L"Edit", L"", 0, Box{220, 16, 260, 26}, kScrollsSideways, kSunkenEdge, edits[0]},
                                     {L"Static", L"Forwarding DNS 2 IPv4:", 0, Box{20, 60, 200, 20}, {}, kFlatEdge},
                                     {L"Edit", L"", 0, Box{220, 56, 260, 26}, kScrollsSideways, kSunkenEdge, edits[1]},
                                     {L"Static", L"Forwarding DNS 3 IPv4:", 0, Box{20, 100, 200, 20}, {}, kFlatEdge},
                                     {L"Edit", L"", 0, Box{220, 96, 260, 26}, kScrollsSideways, kSunkenEdge, edits[2]},
                                     {L"Button", L"Save", kForwardingSaveId, Box{220, 150, 120, 34}, {}, kFlatEdge},
                                     {L"Button", L"Cancel", kForwardingCancelId, Box{360, 150, 120, 34}, {}, kFlatEdge},
                                 }));

    HDC dc = GetDC(window);
    EXPECT_EQ(
        SendMessageW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(children[0])),
        reinterpret_cast<LRESULT>(Ui().whiteBrush));
    EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
    EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255));
    ReleaseDC(window, dc);
}

TEST_F(ForwardingWindow, ShowsAndSavesTheThreeServersAsTyped) {
    ServerConfig config = SampleConfig();
    config.forwarding.dns3 = "\xC3\xA9t\xC3\xA9";
    SetLiveConfig(config);
    HWND window = OpenForwardingWindow(Owner());
    EXPECT_EQ(WindowText(ForwarderEdits()[0]), L"192.0.2.53");
    EXPECT_EQ(WindowText(ForwarderEdits()[1]), L"198.51.100.53");
    EXPECT_EQ(WindowText(ForwarderEdits()[2]), L"\u00e9t\u00e9");

    std::wstring tooLong(300, L'1');
    tooLong[253] = L'\u00e9';  // the last unit kept
    tooLong[254] = L'x';       // the first unit cut
    SetEdits(L" 192.0.2.1", tooLong, L"");
    Command(window, kForwardingSaveId);
    EXPECT_FALSE(IsWindow(window));

    const ServerConfig live = LiveConfig();
    EXPECT_EQ(live.forwarding.dns1, " 192.0.2.1");
    EXPECT_EQ(live.forwarding.dns2, std::string(253, '1').append("\xC3\xA9"));
    EXPECT_EQ(live.forwarding.dns3, "");
    // The records are left alone.
    EXPECT_EQ(BuildConfigXml(ServerConfig{live.forwarding, config.records}), BuildConfigXml(live));
    EXPECT_EQ(ReadBytes(ConfigFile()), BuildConfigXml(live));
    EXPECT_EQ(Log(), std::vector<std::string>{"Settings saved (forwarding)"});
    EXPECT_TRUE(Recorded().messages.empty());
}

TEST_F(ForwardingWindow, CancelAndTheCloseBoxDiscardEdits) {
    SetLiveConfig(SampleConfig());
    for (int way = 0; way < 2; ++way) {
        SCOPED_TRACE(way);
        HWND window = OpenForwardingWindow(Owner());
        SetEdits(L"203.0.113.1", L"203.0.113.2", L"203.0.113.3");
        if (way == 0) {
            Command(window, kForwardingCancelId);
        } else {
            SendMessageW(window, WM_CLOSE, 0, 0);
        }
        EXPECT_FALSE(IsWindow(window));
    }
    // Ids of the other windows and the high word do nothing here.
    HWND window = OpenForwardingWindow(Owner());
    for (int id : {0, int{kRecordsSaveId}, kForwardingSaveId - 1, kForwardingCancelId + 1, int{kLogCloseId}}) {
        Command(window, id);
    }
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(0, kForwardingSaveId), 0);
    EXPECT_TRUE(IsWindow(window));

    EXPECT_TRUE(SameConfig(LiveConfig(), SampleConfig()));
    EXPECT_FALSE(std::filesystem::exists(ConfigFile()));
    EXPECT_FALSE(std::filesystem::exists(LogFile()));
}

TEST_F(ForwardingWindow, OpeningAgainKeepsUnsavedEdits) {
    HWND first = OpenForwardingWindow(Owner());
    SetEdits(L"typed", L"", L"");
    EXPECT_EQ(OpenForwardingWindow(Owner()), first);
    EXPECT_EQ(WindowText(ForwarderEdits()[0]), L"typed");
}

TEST_F(ForwardingWindow, UnwritableConfigFileIsReportedAndTheChangeStaysLive) {
    SetLiveConfig(SampleConfig());
    ASSERT_TRUE(SaveConfig());
    const std::string before = ReadBytes(ConfigFile());
    BlockConfigWrites();
    HWND window = OpenForwardingWindow(Owner());
    SetEdits(L"203.0.113.9", L"", L"");
    Command(window, kForwardingSaveId);

    ASSERT_EQ(Recorded().messages.size(), 1u);
    EXPECT_EQ(Recorded().messages[0].owner, window);
    EXPECT_EQ(Recorded().messages[0].caption, L"Forwarding");
    EXPECT_EQ(Recorded().messages[0].text,
              L"Could not write the configuration file. The change applies until Tarnwick is closed.");
    EXPECT_EQ(Recorded().messages[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(Log(), std::vector<std::string>{"Settings not saved (forwarding)"});
    EXPECT_EQ(LiveConfig().forwarding.dns1, "203.0.113.9");
    EXPECT_FALSE(IsWindow(window));
    UnblockConfigWrites();
    EXPECT_EQ(ReadBytes(ConfigFile()), before);
}

TEST_F(ForwardingWindow, IsNotRefreshedByAnImportAndItsSaveWins) {
    SetLiveConfig(SampleConfig());
    HWND forwarding = OpenForwardingWindow(Owner());
    HWND editor = OpenRecordsEditor(Owner());
    const std::filesystem::path file = data_.base() / "import.xml";
    WriteBytes(file, "<dns1>203.0.113.1</dns1><dns2>203.0.113.2</dns2>");
    Recorded().importPath = test_support::WidePath(file);
    Command(editor, kRecordsImportId);
    ASSERT_EQ(LiveConfig().forwarding.dns1, "203.0.113.1");
    EXPECT_EQ(WindowText(ForwarderEdits()[0]), L"192.0.2.53");
    EXPECT_EQ(WindowText(ForwarderEdits()[1]), L"198.51.100.53");

    Command(forwarding, kForwardingSaveId);
    EXPECT_EQ(LiveConfig().forwarding.dns1, "192.0.2.53");
    EXPECT_EQ(LiveConfig().forwarding.dns2, "198.51.100.53");
    EXPECT_EQ(LiveConfig().forwarding.dns3, "");
}

}  // namespace
