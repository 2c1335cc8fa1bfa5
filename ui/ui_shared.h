#pragma once

#include <windows.h>

// User-interface state shared by the main window and the tool windows. Touched
// only on the window thread.

enum ToolWindowKind {
    kRecordsEditorWindow = 0,
    kForwardingWindow = 1,
    kLogWindow = 2,
    kToolWindowKindCount = 3,
};

struct UiShared {
    HINSTANCE instance = nullptr;
    HWND mainWindow = nullptr;
    HFONT sharedFont = nullptr;
    HBRUSH whiteBrush = nullptr;
    bool statusPanelShown = false;
    HWND toolWindows[kToolWindowKindCount] = {};
};

UiShared& Ui();

// Window procedures of the tool windows, registered by the main window when it
// opens them.
LRESULT CALLBACK RecordsEditorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ForwardingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK LogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Sends the shared font to a control (if the font exists).
void ApplySharedFont(HWND control);

// Black text on the shared white brush, for WM_CTLCOLOREDIT / WM_CTLCOLORSTATIC.
LRESULT PaintControlWhite(WPARAM deviceContext);
