#include <windows.h>

#include <mutex>
#include <string>

#include "config/config_storage.h"
#include "log/event_log.h"
#include "log/text_convert.h"
#include "ui/tool_windows.h"
#include "ui/ui_shared.h"

namespace {

// Read into 256 units with a count of 255: at most 254 characters are kept.
constexpr int kForwarderBufferUnits = 256;
constexpr int kForwarderReadCount = 255;

std::array<HWND, 3> edits{};

HWND MakeControl(HWND parent,
                 DWORD extendedStyle,
                 const wchar_t* className,
                 const wchar_t* text,
                 DWORD style,
                 int x,
                 int y,
                 int width,
                 int height,
                 int id) {
    HWND control = CreateWindowExW(extendedStyle, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                                   parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Ui().instance, nullptr);
    ApplySharedFont(control);
    return control;
}

void CreateControls(HWND window) {
    static const wchar_t* const labels[] = {L"Forwarding DNS 1 IPv4:", L"Forwarding DNS 2 IPv4:",
                                            L"Forwarding DNS 3 IPv4:"};
    for (int i = 0; i < 3; ++i) {
        MakeControl(window, 0, L"STATIC", labels[i], 0, 20, 20 + 40 * i, 200, 20, 0);
        // Scrolling sideways lets the box take more than it can show; without
        // it typed characters past the edge would be dropped.
        edits[static_cast<size_t>(i)] =
            MakeControl(window, WS_EX_CLIENTEDGE, L"EDIT", L"", ES_AUTOHSCROLL, 220, 16 + 40 * i, 260, 26, 0);
    }
    MakeControl(window, 0, L"BUTTON", L"Save", 0, 220, 150, 120, 34, kForwardingSaveId);
    MakeControl(window, 0, L"BUTTON", L"Cancel", 0, 360, 150, 120, 34, kForwardingCancelId);
}

std::string ReadForwarder(HWND edit) {
    wchar_t buffer[kForwarderBufferUnits] = {};
    GetWindowTextW(edit, buffer, kForwarderReadCount);
    return Utf16ToUtf8(buffer);
}

void OnCommand(HWND window, WORD id) {
    switch (id) {
        case kForwardingSaveId:
            SaveForwarderEdits(window);
            DestroyWindow(window);
            break;
        case kForwardingCancelId:
            DestroyWindow(window);
            break;
        default:
            break;
    }
}

}  // namespace

const std::array<HWND, 3>& ForwarderEdits() {
    return edits;
}

void FillForwarderEdits() {
    ServerState& state = GetServerState();
    std::lock_guard<std::mutex> hold(state.stateLock);
    const ForwarderSettings& forwarding = state.config.forwarding;
    SetWindowTextW(edits[0], Utf8ToUtf16(forwarding.dns1).c_str());
    SetWindowTextW(edits[1], Utf8ToUtf16(forwarding.dns2).c_str());
    SetWindowTextW(edits[2], Utf8ToUtf16(forwarding.dns3).c_str());
}

bool SaveForwarderEdits(HWND window) {
    ForwarderSettings typed;
    typed.dns1 = ReadForwarder(edits[0]);
    typed.dns2 = ReadForwarder(edits[1]);
    typed.dns3 = ReadForwarder(edits[2]);
    {
        ServerState& state = GetServerState();
        std::lock_guard<std::mutex> hold(state.stateLock);
        state.config.forwarding = typed;
    }
    if (!SaveConfig()) {
        ToolDialogs().messageBox(window, kConfigNotWrittenMessage, L"Forwarding", MB_OK | MB_ICONERROR);
        AppendLogLine("Settings not saved (forwarding)");
        return false;
    }
    AppendLogLine("Settings saved (forwarding)");
    return true;
}

LRESULT CALLBACK ForwardingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            CreateControls(window);
            FillForwarderEdits();
            break;
        case WM_COMMAND:
            OnCommand(window, LOWORD(wParam));
            break;
        case WM_DESTROY:
            Ui().toolWindows[kForwardingWindow] = nullptr;
            edits = {};
            break;
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC:
            return PaintControlWhite(wParam);
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
