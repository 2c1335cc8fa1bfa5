#pragma once

#include <windows.h>

// What the main window and the tool windows share. Touched only on the window
// thread.

struct UiShared {
    HINSTANCE instance = nullptr;
    HWND mainWindow = nullptr;
    HFONT sharedFont = nullptr;
    HBRUSH whiteBrush = nullptr;
    bool statusPanelShown = false;
};

UiShared& Ui();

// Sends the shared font to a control (if the font exists).
void ApplySharedFont(HWND control);

// Registers a window class with the arrow cursor and the system window
// colour as background. The result is not checked: registering a class that
// exists already fails harmlessly.
void RegisterWindowClass(HINSTANCE instance, const wchar_t* className, WNDPROC procedure);

// What every window of the program does with a message its own procedure
// leaves: WM_CTLCOLOREDIT and WM_CTLCOLORSTATIC are answered with black text on
// the shared white brush, every other message goes to DefWindowProcW.
LRESULT SharedDefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct ControlPlace {
    int x;
    int y;
    int width;
    int height;
};

// A visible child control (WS_CHILD | WS_VISIBLE and `style`) with the shared
// font.
HWND MakeControl(HWND parent,
                 DWORD extendedStyle,
                 const wchar_t* className,
                 const wchar_t* text,
                 DWORD style,
                 ControlPlace place,
                 int id);

// One kind of tool window: its class and the frame it is created with.
struct ToolWindowClass {
    const wchar_t* className;
    const wchar_t* title;
    DWORD style;
    int width;
    int height;
    WNDPROC procedure;
};

// Opens a tool window at most once: while `slot` holds one, that one is
// brought to the front; otherwise a new one owned by `owner` is created, kept
// in `slot` and shown. Returns the window in the slot, null when creation
// failed. The window's procedure empties the slot when it is destroyed.
HWND OpenToolWindow(HWND& slot, const ToolWindowClass& kind, HWND owner);

// The message box of the tool windows. Tests replace it to record messages
// without a modal loop.
using MessageBoxFunction = int(WINAPI*)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
MessageBoxFunction& ToolMessageBox();

// An error message (OK button, error icon) owned by a tool window.
void ShowError(HWND owner, const wchar_t* text, const wchar_t* caption);

// Shown (with the window's caption) when a save could not write config.xml.
extern const wchar_t kConfigNotWrittenMessage[];

// Writes config.xml after a change made in a tool window and logs "Settings
// saved (<what>)". When the file cannot be written the user is told, with the
// window's caption, and "Settings not saved (<what>)" is logged instead; the
// change stays live either way. False in that case.
bool SaveSettings(HWND window, const wchar_t* caption, const char* what);
