#pragma once

#include <windows.h>

#include <array>

// The forwarding window "Forwarding": one edit for each of the three upstream
// servers, and the buttons Save and Cancel.

enum ForwardingControlId {
    kForwardingSaveId = 3001,
    kForwardingCancelId = 3002,
};

// Opens the window, owned by `owner` and filled from the live configuration;
// when it is open already, brings it to the front with its unsaved edits.
// Returns the window, null when it could not be created.
HWND OpenForwardingWindow(HWND owner);

// The three edits of the open window (null while it is closed).
const std::array<HWND, 3>& ForwarderEdits();
