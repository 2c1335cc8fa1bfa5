#include "ui/records_editor.h"

#include <cwchar>
#include <mutex>
#include <string>

#include "config/config_xml.h"
#include "config/ttl_text.h"
#include "log/text_convert.h"
#include "ui/import_export.h"
#include "ui/ui_shared.h"

namespace {

constexpr int kHeaderTop = 10;
constexpr int kFirstRowTop = 36;
constexpr int kRowPitch = 28;
constexpr int kButtonTop = kFirstRowTop + static_cast<int>(kRecordSlotCount) * kRowPitch + 10;
// Text boxes are read into 512 units with a count of 511, so at most 510
// characters of a name or value are kept.
constexpr int kRowTextBufferUnits = 512;
constexpr int kRowTextReadCount = 511;

// The type box lists A, then MX, so its selection is the row's type.
constexpr int kTypeChoiceA = 0;
constexpr int kTypeChoiceMx = 1;

// The open editor, or null.
HWND editorWindow = nullptr;
std::array<RecordRowControls, kRecordSlotCount> rows;

void CreateHeaderLabels(HWND window) {
    struct Header {
        const wchar_t* text;
        int x;
        int width;
    };
    static const Header headers[] = {
        {L"On", 10, 30}, {L"Type", 50, 70}, {L"DNS name", 130, 220}, {L"IPv4/value", 360, 170}, {L"TTL (s)", 540, 70},
    };
    for (const Header& header : headers) {
        MakeControl(window, 0, L"STATIC", header.text, 0, {header.x, kHeaderTop, header.width, 20}, 0);
    }
}

void CreateRow(HWND window, size_t row) {
    const int y = kFirstRowTop + kRowPitch * static_cast<int>(row);
    RecordRowControls& controls = rows[row];
    controls.enabled = MakeControl(window, 0, L"BUTTON", L"", BS_AUTOCHECKBOX, {10, y + 2, 30, 22}, 0);
    controls.type = MakeControl(window, 0, L"COMBOBOX", L"", CBS_DROPDOWNLIST, {50, y, 70, 200}, 0);
    SendMessageW(controls.type, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"A"));
    SendMessageW(controls.type, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"MX"));
    SendMessageW(controls.type, CB_SETCURSEL, kTypeChoiceA, 0);
    // Without automatic scrolling an edit refuses what does not fit, and a
    // long name would lose its typed end.
    controls.name = MakeControl(window, WS_EX_CLIENTEDGE, L"EDIT", L"", ES_AUTOHSCROLL, {130, y, 220, 24}, 0);
    controls.value = MakeControl(window, WS_EX_CLIENTEDGE, L"EDIT", L"", ES_AUTOHSCROLL, {360, y, 170, 24}, 0);
    controls.ttl = MakeControl(window, WS_EX_CLIENTEDGE, L"EDIT", std::to_wstring(kDefaultTtl).c_str(), ES_AUTOHSCROLL,
                               {540, y, 70, 24}, 0);
}

void CreateButtons(HWND window) {
    MakeControl(window, 0, L"BUTTON", L"Import", 0, {90, kButtonTop, 120, 34}, kRecordsImportId);
    MakeControl(window, 0, L"BUTTON", L"Export", 0, {220, kButtonTop, 120, 34}, kRecordsExportId);
    MakeControl(window, 0, L"BUTTON", L"Save", 0, {350, kButtonTop, 120, 34}, kRecordsSaveId);
    MakeControl(window, 0, L"BUTTON", L"Cancel", 0, {480, kButtonTop, 120, 34}, kRecordsCancelId);
}

std::wstring ReadRowText(HWND control) {
    wchar_t buffer[kRowTextBufferUnits] = {};
    GetWindowTextW(control, buffer, kRowTextReadCount);
    return buffer;
}

DnsRecord ReadRow(const RecordRowControls& controls) {
    DnsRecord record;
    record.enabled = SendMessageW(controls.enabled, BM_GETCHECK, 0, 0) == BST_CHECKED;
    record.type = SendMessageW(controls.type, CB_GETCURSEL, 0, 0) == kTypeChoiceMx ? kTypeMx : kTypeA;
    record.name = WithoutTrailingDots(Utf16ToUtf8(ReadRowText(controls.name)));
    record.value = WithoutTrailingDots(Utf16ToUtf8(ReadRowText(controls.value)));
    record.ttl = TtlFromText(ReadRowText(controls.ttl));
    return record;
}

// Reads the rows back into the live record slots, saves and logs. Returns
// false when the configuration file could not be written (the user has then
// been told).
bool SaveRecordRows(HWND editor) {
    ServerConfig edited;
    for (size_t row = 0; row < kRecordSlotCount; ++row) {
        edited.records[row] = ReadRow(rows[row]);
    }
    {
        ServerState& state = GetServerState();
        std::lock_guard<std::mutex> hold(state.stateLock);
        state.config.records = edited.records;
    }
    return SaveSettings(editor, L"DNS Settings", "records");
}

void OnCreate(HWND window) {
    CreateHeaderLabels(window);
    for (size_t row = 0; row < kRecordSlotCount; ++row) {
        CreateRow(window, row);
    }
    CreateButtons(window);
    FillRecordRows();
}

void OnCommand(HWND window, WORD id) {
    switch (id) {
        case kRecordsSaveId:
            SaveRecordRows(window);
            DestroyWindow(window);
            break;
        case kRecordsCancelId:
            DestroyWindow(window);
            break;
        case kRecordsImportId:
            RunImportFlow(window);
            break;
        case kRecordsExportId:
            RunExportFlow(window);
            break;
        default:
            break;
    }
}

void OnDestroy() {
    editorWindow = nullptr;
    rows = {};
}

LRESULT CALLBACK RecordsEditorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            OnCreate(window);
            break;
        case WM_COMMAND:
            OnCommand(window, LOWORD(wParam));
            break;
        case WM_DESTROY:
            OnDestroy();
            break;
        default:
            break;
    }
    return SharedDefWindowProc(window, message, wParam, lParam);
}

const ToolWindowClass kRecordsEditorClass = {
    L"DNS_Settings_Wnd", L"DNS Settings", WS_CAPTION | WS_SYSMENU, 660, 730, RecordsEditorProc,
};

}  // namespace

HWND OpenRecordsEditor(HWND owner) {
    return OpenToolWindow(editorWindow, kRecordsEditorClass, owner);
}

const std::array<RecordRowControls, kRecordSlotCount>& RecordRows() {
    return rows;
}

void FillRecordRows() {
    ServerState& state = GetServerState();
    // The lock stays held while the controls are updated, so the rows show
    // one consistent table even if an import or the worker runs meanwhile.
    std::lock_guard<std::mutex> hold(state.stateLock);
    for (size_t row = 0; row < kRecordSlotCount; ++row) {
        const DnsRecord& record = state.config.records[row];
        const RecordRowControls& controls = rows[row];
        SendMessageW(controls.enabled, BM_SETCHECK, record.enabled ? BST_CHECKED : BST_UNCHECKED, 0);
        SendMessageW(controls.type, CB_SETCURSEL, record.type == kTypeA ? kTypeChoiceA : kTypeChoiceMx, 0);
        SetWindowTextW(controls.name, Utf8ToUtf16(record.name).c_str());
        SetWindowTextW(controls.value, Utf8ToUtf16(record.value).c_str());
        wchar_t ttl[16];
        std::swprintf(ttl, 16, L"%u", static_cast<unsigned>(record.ttl));
        SetWindowTextW(controls.ttl, ttl);
    }
}
