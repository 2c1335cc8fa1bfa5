#include "ui/forwarding_window.h"

#include <mutex>
#include <string>

#include "core/server_state.h"
#include "log/text_convert.h"
#include "ui/ui_shared.h"

namespace {

// Read into 256 units with a count of 255: at most 254 characters are kept.
constexpr int kForwarderBufferUnits = 256;
constexpr int kForwarderReadCount = 255;

// The open window, or null.
HWND forwardingWindow = nullptr;
std::array<HWND, 3> edits{};

void CreateControls(HWND window) {
    static const wchar_t* const labels[] = {L"Forwarding DNS 1 IPv4:", L"Forwarding DNS 2 IPv4:",
                                            L"Forwarding DNS 3 IPv4:"};
    for (int i = 0; i < 3; ++i) {
        MakeControl(window, 0, L"STATIC", labels[i], 0, {20, 20 + 40 * i, 200, 20}, 0);
        // Scrolling sideways lets the box take more than it can show; without
        // it typed characters past the edge would be dropped.
        edits[static_cast<size_t>(i)] =
            MakeControl(window, WS_EX_CLIENTEDGE, L"EDIT", L"", ES_AUTOHSCROLL, {220, 16 + 40 * i, 260, 26}, 0);
    }
    MakeControl(window, 0, L"BUTTON", L"Save", 0, {220, 150, 120, 34}, kForwardingSaveId);
    MakeControl(window, 0, L"BUTTON", L"Cancel", 0, {360, 150, 120, 34}, kForwardingCancelId);
}

void FillForwarderEdits() {
    ServerState& state = GetServerState();
    std::lock_guard<std::mutex> hold(state.stateLock);
    const ForwarderSettings& forwarding = state.config.forwarding;
    SetWindowTextW(edits[0], Utf8ToUtf16(forwarding.dns1).c_str());
    SetWindowTextW(edits[1], Utf8ToUtf16(forwarding.dns2).c_str());
    SetWindowTextW(edits[2], Utf8ToUtf16(forwarding.dns3).c_str());
}

std::string ReadForwarder(HWND edit) {
    wchar_t buffer[kForwarderBufferUnits] = {};
    GetWindowTextW(edit, buffer, kForwarderReadCount);
    return Utf16ToUtf8(buffer);
}

// Reads the three edits into the live configuration, saves and logs. Returns
// false when the configuration file could not be written (the user has then
// been told).
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
    return SaveSettings(window, L"Forwarding", "forwarding");
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

void OnDestroy() {
    forwardingWindow = nullptr;
    edits = {};
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
            OnDestroy();
            break;
        default:
            break;
    }
    return SharedDefWindowProc(window, message, wParam, lParam);
}

const ToolWindowClass kForwardingWindowClass = {
    L"DNS_Forward_Wnd", L"Forwarding", WS_CAPTION | WS_SYSMENU, 540, 260, ForwardingWindowProc,
};

}  // namespace

HWND OpenForwardingWindow(HWND owner) {
    return OpenToolWindow(forwardingWindow, kForwardingWindowClass, owner);
}

const std::array<HWND, 3>& ForwarderEdits() {
    return edits;
}
