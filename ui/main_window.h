#pragma once

#include <windows.h>

// The main window: status lamp, start/stop button, the buttons that open the
// tool windows and the fold-out status panel.

extern const wchar_t kMainWindowClass[];

enum MainWindowControlId {
    kStartStopButtonId = 1001,
    kRecordsEditorButtonId = 1002,
    kForwardingButtonId = 1003,
    kLogButtonId = 1004,
    kStatusButtonId = 1005,
    kStatusPanelId = 1101,
};

constexpr int kMainWindowWidth = 696;
constexpr int kMainWindowFoldedHeight = 90;
constexpr int kMainWindowUnfoldedHeight = 360;

// Registers "Tarnwick_Main"; the result is not checked by the program.
void RegisterMainWindowClass(HINSTANCE instance);

// Creates the main window (which starts the DNS server while it is created).
// Returns null when the window could not be made.
HWND CreateMainWindow(HINSTANCE instance);

// When the main window could not be created: tells the user and leaves the
// server stopped with no worker thread left behind.
void ReportMainWindowFailure();

// Sets the start/stop caption from the run state, rebuilds the status report
// and repaints the lamp.
void RefreshServerControls();

// Puts a fresh status report into the status panel (shown or hidden).
void RefreshStatusReport();

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
