#include <windows.h>

#include <string>

#include "core/file_io.h"
#include "log/event_log.h"
#include "log/text_convert.h"
#include "ui/tool_windows.h"
#include "ui/ui_shared.h"

namespace {

HWND logView = nullptr;

struct Placement {
    int x;
    int y;
    int width;
    int height;
};

// The view fills the window but for a 10-pixel margin and a 70-pixel strip
// at the bottom that holds the buttons, 50 pixels above the bottom edge.
Placement ViewPlacement(const RECT& client) {
    return {10, 10, client.right - 20, client.bottom - 70};
}

Placement ButtonPlacement(const RECT& client, int x) {
    return {x, client.bottom - 50, 140, 34};
}

HWND MakeControl(HWND parent,
                 DWORD extendedStyle,
                 const wchar_t* className,
                 const wchar_t* text,
                 DWORD style,
                 Placement at,
                 int id) {
    HWND control =
        CreateWindowExW(extendedStyle, className, text, WS_CHILD | WS_VISIBLE | style, at.x, at.y, at.width, at.height,
                        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Ui().instance, nullptr);
    ApplySharedFont(control);
    return control;
}

void OnCreate(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    logView = MakeControl(window, WS_EX_CLIENTEDGE, L"EDIT", L"",
                          WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, ViewPlacement(client), kLogViewId);
    MakeControl(window, 0, L"BUTTON", L"Refresh", 0, ButtonPlacement(client, 10), kLogRefreshId);
    MakeControl(window, 0, L"BUTTON", L"Clear log", 0, ButtonPlacement(client, 160), kLogClearId);
    MakeControl(window, 0, L"BUTTON", L"Close", 0, ButtonPlacement(client, 310), kLogCloseId);
    ReloadLogView();
}

void MoveControl(HWND window, int id, Placement at) {
    HWND control = GetDlgItem(window, id);
    if (control != nullptr) {
        MoveWindow(control, at.x, at.y, at.width, at.height, TRUE);
    }
}

void OnSize(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    MoveControl(window, kLogViewId, ViewPlacement(client));
    MoveControl(window, kLogRefreshId, ButtonPlacement(client, 10));
    MoveControl(window, kLogClearId, ButtonPlacement(client, 160));
    MoveControl(window, kLogCloseId, ButtonPlacement(client, 310));
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

}  // namespace

std::wstring ReadLogText(const std::wstring& path) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        return std::wstring();
    }
    return Utf8ToUtf16(bytes);
}

void ReloadLogView() {
    std::wstring text = ReadLogText(LogFilePath());
    if (text.empty()) {
        text = L"(no log yet)";
    }
    SetWindowTextW(logView, text.c_str());
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
            Ui().toolWindows[kLogWindow] = nullptr;
            logView = nullptr;
            break;
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
            return PaintControlWhite(wParam);
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
