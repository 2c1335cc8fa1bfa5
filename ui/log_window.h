#pragma once

#include <windows.h>

#include <string>

// The log window "DNS Log": the log file in a read-only view, and the buttons
// Refresh, Clear log and Close.

enum LogWindowControlId {
    kLogRefreshId = 4001,
    kLogCloseId = 4002,
    kLogViewId = 4003,
    kLogClearId = 4004,
};

// Opens the window, owned by `owner`, showing the log as it is now; when it is
// open already, brings it to the front without reloading it. Returns the
// window, null when it could not be created.
HWND OpenLogWindow(HWND owner);

// The log file as text; empty when it cannot be opened. A file of up to 1 MiB
// comes whole; a larger one by the lines that start in its last 1 MiB, after
// one line that says how much is shown and where the whole file is.
std::wstring ReadLogText(const std::wstring& path);
