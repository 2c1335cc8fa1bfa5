// TEMPORARY stand-ins for the tool windows, which are built on another
// branch; this file goes away as soon as they are merged.
#include "ui/ui_shared.h"

namespace {

LRESULT ToolWindowStandIn(ToolWindowKind kind, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        Ui().toolWindows[kind] = nullptr;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK RecordsEditorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ToolWindowStandIn(kRecordsEditorWindow, window, message, wParam, lParam);
}
LRESULT CALLBACK ForwardingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ToolWindowStandIn(kForwardingWindow, window, message, wParam, lParam);
}
LRESULT CALLBACK LogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ToolWindowStandIn(kLogWindow, window, message, wParam, lParam);
}
