#include <mutex>
#include <thread>

#include "tool_window_support.h"

namespace {

using namespace tool_test;

class RecordsEditor : public ToolWindowTest {};

void SetRow(size_t row,
            bool enabled,
            int typeItem,
            const std::wstring& name,
            const std::wstring& value,
            const std::wstring& ttl) {
    const RecordRowControls& controls = RecordRows()[row];
    SendMessageW(controls.enabled, BM_SETCHECK, enabled ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageW(controls.type, CB_SETCURSEL, static_cast<WPARAM>(typeItem), 0);
    SetWindowTextW(controls.name, name.c_str());
    SetWindowTextW(controls.value, value.c_str());
    SetWindowTextW(controls.ttl, ttl.c_str());
}

TEST_F(RecordsEditor, BuildsHeadersRowsAndButtonsAtTheirPlaces) {
    HWND editor = OpenRecordsEditor(Owner());
    ASSERT_NE(editor, nullptr);
    // 5 headers, 20 rows of 5 controls, 4 buttons, in creation order.
    std::vector<ControlSpec> table = {
        {L"Static", L"On", 0, Box{10, 10, 30, 20}},         {L"Static", L"Type", 0, Box{50, 10, 70, 20}},
        {L"Static", L"DNS name", 0, Box{130, 10, 220, 20}}, {L"Static", L"IPv4/value", 0, Box{360, 10, 170, 20}},
        {L"Static", L"TTL (s)", 0, Box{540, 10, 70, 20}},
    };
    for (size_t row = 0; row < kRecordSlotCount; ++row) {
        const int y = 36 + 28 * static_cast<int>(row);
        const RecordRowControls& controls = RecordRows()[row];
        table.insert(
            table.end(),
            {
                {L"Button", nullptr, 0, Box{10, y + 2, 30, 22}, {BS_TYPEMASK, BS_AUTOCHECKBOX}, {}, controls.enabled},
                {L"ComboBox", nullptr, 0, Box{50, y, kAnyLength, kAnyLength}, {3, CBS_DROPDOWNLIST}, {}, controls.type},
                {L"Edit", nullptr, 0, Box{130, y, 220, 24}, kScrollsSideways, kSunkenEdge, controls.name},
                {L"Edit", nullptr, 0, Box{360, y, 170, 24}, kScrollsSideways, kSunkenEdge, controls.value},
                {L"Edit", L"60", 0, Box{540, y, 70, 24}, kScrollsSideways, kSunkenEdge, controls.ttl},
            });
    }
    table.insert(table.end(), {
                                  {L"Button", L"Import", kRecordsImportId, Box{90, 606, 120, 34}},
                                  {L"Button", L"Export", kRecordsExportId, Box{220, 606, 120, 34}},
                                  {L"Button", L"Save", kRecordsSaveId, Box{350, 606, 120, 34}},
                                  {L"Button", L"Cancel", kRecordsCancelId, Box{480, 606, 120, 34}},
                              });
    ASSERT_NO_FATAL_FAILURE(ExpectChildren(editor, table));

    // Every row starts unticked, as an A record.
    for (size_t row = 0; row < kRecordSlotCount; ++row) {
        SCOPED_TRACE(row);
        const RecordRowControls& controls = RecordRows()[row];
        EXPECT_EQ(SendMessageW(controls.enabled, BM_GETCHECK, 0, 0), BST_UNCHECKED);
        EXPECT_EQ(SendMessageW(controls.type, CB_GETCOUNT, 0, 0), 2);
        wchar_t item[8] = {};
        SendMessageW(controls.type, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(item));
        EXPECT_STREQ(item, L"A");
        SendMessageW(controls.type, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(item));
        EXPECT_STREQ(item, L"MX");
        EXPECT_EQ(SendMessageW(controls.type, CB_GETCURSEL, 0, 0), 0);
    }

    // Edits and labels paint black on the shared white brush.
    HDC dc = GetDC(editor);
    SetTextColor(dc, RGB(1, 2, 3));
    EXPECT_EQ(SendMessageW(editor, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                           reinterpret_cast<LPARAM>(RecordRows()[0].name)),
              reinterpret_cast<LRESULT>(Ui().whiteBrush));
    EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
    EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255));
    ReleaseDC(editor, dc);
}

TEST_F(RecordsEditor, RowsShowTheLiveSlots) {
    ServerConfig config = SampleConfig();
    config.records[3] = {7, "odd.type", "x", 9, false};  // any code but 1 shows as MX
    SetLiveConfig(config);
    OpenRecordsEditor(Owner());
    const auto& rows = RecordRows();
    EXPECT_EQ(SendMessageW(rows[0].enabled, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(rows[0].type, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(WindowText(rows[0].name), L"nas.home.test");
    EXPECT_EQ(WindowText(rows[0].value), L"192.0.2.10");
    EXPECT_EQ(WindowText(rows[0].ttl), L"300");
    EXPECT_EQ(SendMessageW(rows[1].type, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(SendMessageW(rows[3].type, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(SendMessageW(rows[7].enabled, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(WindowText(rows[7].name), L"caf\u00e9.test");
    EXPECT_EQ(WindowText(rows[7].ttl), L"4294967295");
    EXPECT_EQ(WindowText(rows[19].value), L"");
    EXPECT_EQ(WindowText(rows[19].ttl), L"1");
    EXPECT_EQ(WindowText(rows[12].ttl), L"60");
}

TEST_F(RecordsEditor, SaveStoresEveryRowAsTypedButForTtlAndTrailingDots) {
    SetLiveConfig(SampleConfig());
    HWND editor = OpenRecordsEditor(Owner());
    const struct {
        const wchar_t* text;
        uint32_t ttl;
    } ttls[] = {{L"", 60},
                {L"0", 60},
                {L"abc", 60},
                {L" 300", 300},
                {L"12abc", 12},
                {L"-1", 4294967295u},
                {L"99999999999", 4294967295u},
                {L"+7", 7},
                {L"4294967295", 4294967295u},
                {L"\t 42 ", 42}};
    for (size_t row = 0; row < std::size(ttls); ++row) {
        SetRow(row, row % 2 == 0, static_cast<int>(row % 2), L"h" + std::to_wstring(row), L"v", ttls[row].text);
    }
    const std::wstring longName(600, L'n');
    std::wstring longValue(505, L'v');
    longValue += L"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9";  // units 506..511: only 5 of them fit
    SetRow(10, true, 0, L"nas.home.", L"192.0.2.10.", L"60");
    SetRow(11, false, 1, L"a.b...", L"mx.test...", L"60");
    SetRow(12, true, 0, L"...", L".", L"60");
    SetRow(13, true, 0, longName, longValue, L"60");
    SetRow(14, true, 0, L" spaced name ", L" 192.0.2.1 ", L"60");
    SetRow(15, true, 0, L"\u65e5\u672c.test", L"\u00e9.", L"60");
    SetRow(16, false, -1, L"", L"", L"");  // nothing selected reads as A
    SetRow(17, true, 1, L"", L"", L"5");
    SetRow(18, false, 1, L"kept.when.off", L"mail.kept", L"77");
    ASSERT_EQ(WindowText(RecordRows()[13].name).size(), 600u) << "the edit should hold the whole text";

    Command(editor, kRecordsSaveId);
    EXPECT_FALSE(IsWindow(editor));

    const ServerConfig live = LiveConfig();
    for (size_t row = 0; row < std::size(ttls); ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(live.records[row].ttl, ttls[row].ttl);
        EXPECT_EQ(live.records[row].enabled, row % 2 == 0);
        EXPECT_EQ(live.records[row].type, row % 2 == 0 ? 1 : 15);
        EXPECT_EQ(live.records[row].name, std::string("h").append(std::to_string(row)));
    }
    EXPECT_EQ(live.records[10].name, "nas.home");
    EXPECT_EQ(live.records[10].value, "192.0.2.10");
    EXPECT_EQ(live.records[11].name, "a.b");
    EXPECT_EQ(live.records[11].value, "mx.test");
    EXPECT_EQ(live.records[12].name, "");
    EXPECT_EQ(live.records[12].value, "");
    EXPECT_EQ(live.records[13].name, std::string(510, 'n'));
    std::string expectedValue(505, 'v');
    expectedValue.append("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");
    EXPECT_EQ(live.records[13].value, expectedValue);
    EXPECT_EQ(live.records[14].name, " spaced name ");
    EXPECT_EQ(live.records[14].value, " 192.0.2.1 ");
    EXPECT_EQ(live.records[15].name, "\xE6\x97\xA5\xE6\x9C\xAC.test");
    EXPECT_EQ(live.records[15].value, "\xC3\xA9");
    EXPECT_EQ(live.records[16].type, 1);
    EXPECT_FALSE(live.records[16].enabled);
    EXPECT_EQ(live.records[16].ttl, 60u);
    EXPECT_EQ(live.records[17].type, 15);
    EXPECT_TRUE(live.records[17].enabled);
    EXPECT_EQ(live.records[17].ttl, 5u);
    EXPECT_FALSE(live.records[18].enabled);
    EXPECT_EQ(live.records[18].type, 15);
    EXPECT_EQ(live.records[18].name, "kept.when.off");
    EXPECT_EQ(live.records[18].ttl, 77u);
    // Row 19 was not touched and keeps the slot it showed.
    EXPECT_EQ(live.records[19].name, "last.test");
    EXPECT_EQ(live.records[19].type, 15);
    // The forwarders are not the editor's business.
    EXPECT_EQ(live.forwarding.dns1, "192.0.2.53");

    EXPECT_EQ(ReadBytes(ConfigFile()), BuildConfigXml(live));
    EXPECT_EQ(Log(), std::vector<std::string>{"Settings saved (records)"});
    EXPECT_TRUE(Recorded().messages.empty());

    // A fresh editor shows what was stored.
    OpenRecordsEditor(Owner());
    EXPECT_EQ(WindowText(RecordRows()[0].ttl), L"60");
    EXPECT_EQ(WindowText(RecordRows()[5].ttl), L"4294967295");
    EXPECT_EQ(WindowText(RecordRows()[10].value), L"192.0.2.10");
    EXPECT_EQ(SendMessageW(RecordRows()[18].enabled, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(WindowText(RecordRows()[18].name), L"kept.when.off");
}

TEST_F(RecordsEditor, SavingUnchangedRowsRewritesTheSameFile) {
    SetLiveConfig(SampleConfig());
    ASSERT_TRUE(SaveConfig());
    const std::string before = ReadBytes(ConfigFile());
    WriteBytes(ConfigFile(), "stale");
    Command(OpenRecordsEditor(Owner()), kRecordsSaveId);
    EXPECT_EQ(ReadBytes(ConfigFile()), before);
    EXPECT_TRUE(SameConfig(LiveConfig(), SampleConfig()));
    EXPECT_EQ(Log(), std::vector<std::string>{"Settings saved (records)"});
}

TEST_F(RecordsEditor, CancelAndTheCloseBoxDiscardEdits) {
    SetLiveConfig(SampleConfig());
    for (int way = 0; way < 2; ++way) {
        SCOPED_TRACE(way);
        HWND editor = OpenRecordsEditor(Owner());
        ASSERT_TRUE(IsWindow(editor)) << "the closed editor kept its slot";
        SetRow(0, false, 1, L"changed", L"changed", L"1");
        if (way == 0) {
            Command(editor, kRecordsCancelId);
        } else {
            SendMessageW(editor, WM_CLOSE, 0, 0);
        }
        EXPECT_FALSE(IsWindow(editor));
    }
    EXPECT_TRUE(SameConfig(LiveConfig(), SampleConfig()));
    EXPECT_FALSE(std::filesystem::exists(ConfigFile()));
    EXPECT_FALSE(std::filesystem::exists(LogFile()));
}

TEST_F(RecordsEditor, OtherCommandsDoNothing) {
    HWND editor = OpenRecordsEditor(Owner());
    SetRow(2, true, 1, L"typed", L"", L"");
    for (int id : {0, 1, kRecordsSaveId - 1, kRecordsExportId + 1, int{kForwardingSaveId}, int{kLogCloseId}}) {
        Command(editor, id);
    }
    // Only the low word picks the command.
    SendMessageW(editor, WM_COMMAND, MAKEWPARAM(0, kRecordsCancelId), 0);
    ASSERT_TRUE(IsWindow(editor));
    EXPECT_EQ(WindowText(RecordRows()[2].name), L"typed");
    EXPECT_FALSE(std::filesystem::exists(LogFile()));
    EXPECT_TRUE(SameConfig(LiveConfig(), ServerConfig{}));
}

TEST_F(RecordsEditor, OpeningAgainBringsTheSameEditorWithItsEdits) {
    HWND first = OpenRecordsEditor(Owner());
    SetRow(4, true, 1, L"unsaved.test", L"mx.unsaved", L"123");
    SetLiveConfig(SampleConfig());  // a change elsewhere must not refill the open editor
    HWND second = OpenRecordsEditor(Owner());
    EXPECT_EQ(first, second);
    EXPECT_EQ(WindowText(RecordRows()[4].name), L"unsaved.test");
    EXPECT_EQ(WindowText(RecordRows()[0].name), L"");
    Command(second, kRecordsCancelId);
    HWND third = OpenRecordsEditor(Owner());
    EXPECT_EQ(WindowText(RecordRows()[4].name), L"");
    EXPECT_EQ(WindowText(RecordRows()[0].name), L"nas.home.test");
    EXPECT_TRUE(IsWindow(third));
}

TEST_F(RecordsEditor, UnwritableConfigFileIsReportedAndTheChangeStaysLive) {
    SetLiveConfig(SampleConfig());
    ASSERT_TRUE(SaveConfig());
    const std::string before = ReadBytes(ConfigFile());
    BlockConfigWrites();
    HWND editor = OpenRecordsEditor(Owner());
    SetRow(0, true, 0, L"new.test", L"192.0.2.99", L"30");
    Command(editor, kRecordsSaveId);

    ASSERT_EQ(Recorded().messages.size(), 1u);
    const ShownMessage& shown = Recorded().messages[0];
    EXPECT_EQ(shown.owner, editor);
    EXPECT_EQ(shown.caption, L"DNS Settings");
    EXPECT_EQ(shown.text, L"Could not write the configuration file. The change applies until Tarnwick is closed.");
    EXPECT_EQ(shown.type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(Log(), std::vector<std::string>{"Settings not saved (records)"});
    UnblockConfigWrites();
    EXPECT_EQ(ReadBytes(ConfigFile()), before);
    EXPECT_EQ(LiveConfig().records[0].name, "new.test");
    EXPECT_EQ(LiveConfig().records[0].ttl, 30u);
    EXPECT_FALSE(IsWindow(editor));
}

// The runtime under the program must not matter: Wine's wcstoul, for one,
// reads "-4294967296" as 1 where Windows' reads 4294967295.
TEST_F(RecordsEditor, TtlTextsAreReadByTheProgramsOwnRules) {
    const struct {
        const wchar_t* text;
        uint32_t ttl;
    } ttls[] = {{L"-4294967296", 4294967295u},
                {L"-99999999999", 4294967295u},
                {L"+5", 5},
                {L" \t7", 7},
                {L"4294967296", 4294967295u},
                {L"-4294967295", 1},
                {L"\xFF13\xFF10", 30},
                {L"\x3000"
                 L"9",
                 9}};
    HWND editor = OpenRecordsEditor(Owner());
    for (size_t row = 0; row < std::size(ttls); ++row) {
        SetRow(row, true, 0, L"t" + std::to_wstring(row), L"192.0.2.1", ttls[row].text);
    }
    Command(editor, kRecordsSaveId);
    const ServerConfig saved = ParseConfigXml(ReadBytes(ConfigFile()));
    for (size_t row = 0; row < std::size(ttls); ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(LiveConfig().records[row].ttl, ttls[row].ttl);
        EXPECT_EQ(saved.records[row].ttl, ttls[row].ttl);
    }
}

// Another program reading config.xml with read and write sharing but no
// delete sharing, and the user's hidden mark on the file: Save still writes
// it, and it stays hidden.
TEST_F(RecordsEditor, SaveWritesAConfigFileHeldOpenOrHidden) {
    SetLiveConfig(SampleConfig());
    ASSERT_TRUE(SaveConfig());
    const std::wstring path = test_support::WidePath(ConfigFile());
    for (const bool held : {true, false}) {
        SCOPED_TRACE(held ? "held open" : "hidden");
        Recorded().messages.clear();
        HANDLE holder = INVALID_HANDLE_VALUE;
        if (held) {
            holder = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 0, nullptr);
            ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        } else {
            ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
        }
        const std::wstring name = held ? L"held.test" : L"hidden.test";
        HWND editor = OpenRecordsEditor(Owner());
        ASSERT_TRUE(IsWindow(editor));
        SetRow(0, true, 0, name, L"192.0.2.99", L"30");
        Command(editor, kRecordsSaveId);
        if (holder != INVALID_HANDLE_VALUE) {
            CloseHandle(holder);
        }
        EXPECT_TRUE(Recorded().messages.empty());
        EXPECT_EQ(Log().back(), "Settings saved (records)");
        EXPECT_EQ(ReadBytes(ConfigFile()), BuildConfigXml(LiveConfig()));
        EXPECT_EQ(LiveConfig().records[0].name, Utf16ToUtf8(name));
    }
    EXPECT_NE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(data_.folder()), {}), 2) << "config.xml and dns.log";
}

}  // namespace

namespace {

using namespace tool_test;

WNDPROC originalEditProc = nullptr;
int updatesSeen = 0;
int updatesWithoutLock = 0;

// Sees each update of a subclassed row control and checks that the state
// lock is held (by this thread, inside the fill) at that moment.
LRESULT CALLBACK WatchLock(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT || message == BM_SETCHECK) {
        ++updatesSeen;
        // Asked from another thread: trying a mutex that this thread holds
        // is not allowed.
        bool free = false;
        std::thread probe([&free] {
            std::mutex& lock = GetServerState().stateLock;
            free = lock.try_lock();
            if (free) {
                lock.unlock();
            }
        });
        probe.join();
        updatesWithoutLock += free ? 1 : 0;
    }
    return CallWindowProcW(originalEditProc, control, message, wParam, lParam);
}

TEST_F(RecordsEditor, FillHoldsTheStateLockForTheWholePass) {
    OpenRecordsEditor(Owner());
    // The first and the last control that a fill pass updates.
    HWND first = RecordRows()[0].enabled;
    HWND last = RecordRows()[kRecordSlotCount - 1].ttl;
    WNDPROC buttonProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(first, GWLP_WNDPROC));
    originalEditProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(last, GWLP_WNDPROC));
    SetWindowLongPtrW(last, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchLock));
    updatesSeen = 0;
    updatesWithoutLock = 0;
    FillRecordRows();
    EXPECT_EQ(updatesSeen, 1);
    EXPECT_EQ(updatesWithoutLock, 0);
    SetWindowLongPtrW(last, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(originalEditProc));

    originalEditProc = buttonProc;
    SetWindowLongPtrW(first, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchLock));
    updatesSeen = 0;
    FillRecordRows();
    EXPECT_EQ(updatesSeen, 1);
    EXPECT_EQ(updatesWithoutLock, 0);
    SetWindowLongPtrW(first, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(buttonProc));
    // And the lock is free again afterwards.
    ASSERT_TRUE(GetServerState().stateLock.try_lock());
    GetServerState().stateLock.unlock();
}

}  // namespace
