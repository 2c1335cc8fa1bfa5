#include "ui/log_window.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "core/file_io.h"
#include "log/event_log.h"
#include "log/text_convert.h"
#include "ui/ui_shared.h"

namespace {

// The log gains a line per query and is never trimmed. An edit control
// filled with tens of megabytes keeps the window thread busy for tens of
// seconds, so a larger log is shown by its newest mebibyte only.
constexpr uint64_t kLogViewLimitBytes = 1024 * 1024;

// The shown part from its first whole line. The part was read with one byte
// before it, to tell whether it begins with a whole line.
std::string FromFirstWholeLine(const std::string& bytes) {
    const size_t newline = bytes.find('\n');
    if (newline != std::string::npos && newline + 1 < bytes.size()) {
        return bytes.substr(newline + 1);
    }
    // No line starts in the range (one line longer than all of it): show the
    // range from its first whole character.
    size_t first = std::min<size_t>(1, bytes.size());
    while (first < bytes.size() && first < 4 && (static_cast<unsigned char>(bytes[first]) & 0xC0) == 0x80) {
        ++first;
    }
    return bytes.substr(first);
}

// Whole kilobytes, rounded, with a comma between groups of three digits:
// 41,943,040 bytes read "40,960".
std::wstring KilobytesText(uint64_t bytes) {
    const std::wstring digits = std::to_wstring((bytes + 512) / 1024);
    std::wstring grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) {
            grouped += L',';
        }
        grouped += digits[i];
    }
    return grouped;
}

std::wstring OmissionLine(uint64_t shownBytes, uint64_t fileBytes, const std::wstring& path) {
    return L"(showing the last " + KilobytesText(shownBytes) + L" KB of " + KilobytesText(fileBytes) +
           L" KB; the whole log is " + path + L")\r\n";
}

}  // namespace

std::wstring ReadLogText(const std::wstring& path) {
    std::string bytes;
    uint64_t fileSize = 0;
    if (!ReadFileTail(path, kLogViewLimitBytes + 1, bytes, fileSize)) {
        return std::wstring();
    }
    if (fileSize <= kLogViewLimitBytes) {
        return Utf8ToUtf16(bytes);
    }
    bytes = FromFirstWholeLine(bytes);
    return OmissionLine(bytes.size(), fileSize, path) + Utf8ToUtf16(bytes);
}

namespace {

// The open window, or null.
HWND logWindow = nullptr;
HWND logView = nullptr;

// The view fills the window but for a 10-pixel margin and a 70-pixel strip
// at the bottom that holds the buttons, 50 pixels above the bottom edge.
ControlPlace ViewPlace(const RECT& client) {
    return {10, 10, client.right - 20, client.bottom - 70};
}

ControlPlace ButtonPlace(const RECT& client, int x) {
    return {x, client.bottom - 50, 140, 34};
}

void ReloadLogView() {
    std::wstring text = ReadLogText(LogFilePath());
    if (text.empty()) {
        text = L"(no log yet)";
    }
    SetWindowTextW(logView, text.c_str());
}

void OnCreate(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    logView = MakeControl(window, WS_EX_CLIENTEDGE, L"EDIT", L"",
                          WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, ViewPlace(client), kLogViewId);
    MakeControl(window, 0, L"BUTTON", L"Refresh", 0, ButtonPlace(client, 10), kLogRefreshId);
    MakeControl(window, 0, L"BUTTON", L"Clear log", 0, ButtonPlace(client, 160), kLogClearId);
    MakeControl(window, 0, L"BUTTON", L"Close", 0, ButtonPlace(client, 310), kLogCloseId);
    ReloadLogView();
}

void MoveControl(HWND window, int id, ControlPlace at) {
    HWND control = GetDlgItem(window, id);
    if (control != nullptr) {
        MoveWindow(control, at.x, at.y, at.width, at.height, TRUE);
    }
}

void OnSize(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    MoveControl(window, kLogViewId, ViewPlace(client));
    MoveControl(window, kLogRefreshId, ButtonPlace(client, 10));
    MoveControl(window, kLogClearId, ButtonPlace(client, 160));
    MoveControl(window, kLogCloseId, ButtonPlace(client, 310));
}

void OnCommand(HWND window, WORD id) {
    switch (id) {
        case kLogRefreshId:
            ReloadLogView();
            break;
        case kLogCloseId:
            DestroyWindow(window);
            break;
        case kLogClearId:
            // The view is reloaded before the new line is written, so it
            // shows the empty log; the next Refresh shows "Log cleared".
            DeleteFileAtPath(LogFilePath());
            ReloadLogView();
            AppendLogLine("Log cleared");
            break;
        default:
            break;
    }
}

void OnDestroy() {
    logWindow = nullptr;
    logView = nullptr;
}

LRESULT CALLBACK LogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            OnCreate(window);
            break;
        case WM_SIZE:
            OnSize(window);
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

const ToolWindowClass kLogWindowClass = {
    L"DNS_Log_Wnd", L"DNS Log", WS_CAPTION | WS_SYSMENU | WS_THICKFRAME, 720, 520, LogWindowProc,
};

}  // namespace

HWND OpenLogWindow(HWND owner) {
    return OpenToolWindow(logWindow, kLogWindowClass, owner);
}
