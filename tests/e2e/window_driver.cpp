// Drives a running Tarnwick.exe from outside, for the end-to-end test and the
// screenshot script:
//   tarnwick_window_driver wait [ms]        waits until the main window is shown
//   tarnwick_window_driver press <id> [ms]  sends the main window a button command
//   tarnwick_window_driver close [ms]       asks the main window to close
//   tarnwick_window_driver gone [ms]        waits until the window is no longer there
//   tarnwick_window_driver type <n> <text> [ms]
//                                           replaces the text of the window's edit number n
//                                           (in reading order, from 0) by typing: selects it
//                                           all, sends one WM_CHAR per character, and prints
//                                           what the edit then holds
//   tarnwick_window_driver rect [ms]        prints "x y width height" of the main window
//   tarnwick_window_driver time-log [ms]    presses "Log" and prints how long it took until the
//                                           log window was shown with its view filled
// A first argument "--desktop NAME" looks for the window on that desktop
// (Wine's virtual desktop started with "explorer /desktop=NAME,..."); then
// "--class NAME" drives the top-level window of that class instead of the
// main window (a tool window such as "DNS_Settings_Wnd").
// Exits 0 on success, 1 when the main window did not appear in time (or, for
// gone, did not go), 2 on bad arguments, 3 when the edit to type into is
// missing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "ui/log_window.h"
#include "ui/main_window.h"

namespace {

HWND FindTopWindow(const wchar_t* className, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const HWND window = FindWindowW(className, nullptr);
        if (window != nullptr && IsWindowVisible(window)) {
            return window;
        }
        if (GetTickCount64() > deadline) {
            return nullptr;
        }
        Sleep(50);
    }
}

bool WaitUntilGone(const wchar_t* className, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const HWND window = FindWindowW(className, nullptr);
        if (window == nullptr || !IsWindowVisible(window)) {
            return true;
        }
        if (GetTickCount64() > deadline) {
            return false;
        }
        Sleep(50);
    }
}

// The window's own edit controls, top to bottom and left to right, found by
// their places relative to each other rather than by assumed pixels.
std::vector<HWND> EditsInReadingOrder(HWND window) {
    std::vector<HWND> edits;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[16] = {};
        GetClassNameW(child, className, 16);
        if (_wcsicmp(className, L"Edit") == 0) {
            edits.push_back(child);
        }
    }
    std::sort(edits.begin(), edits.end(), [](HWND a, HWND b) {
        RECT ra{};
        RECT rb{};
        GetWindowRect(a, &ra);
        GetWindowRect(b, &rb);
        return ra.top != rb.top ? ra.top < rb.top : ra.left < rb.left;
    });
    return edits;
}

// Typing as the keyboard does it, sent to the edit itself, so that it does
// not depend on which window has the focus.
int TypeIntoEdit(HWND window, unsigned long index, const wchar_t* text) {
    const std::vector<HWND> edits = EditsInReadingOrder(window);
    if (index >= edits.size()) {
        return 3;
    }
    const HWND edit = edits[index];
    SendMessageW(edit, EM_SETSEL, 0, -1);
    for (const wchar_t* character = text; *character != L'\0'; ++character) {
        SendMessageW(edit, WM_CHAR, *character, 1);
    }
    // GetWindowText does not read another process's controls; WM_GETTEXT does.
    const LRESULT length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
    std::wstring typed(static_cast<size_t>(length) + 1, L'\0');
    typed.resize(
        static_cast<size_t>(SendMessageW(edit, WM_GETTEXT, typed.size(), reinterpret_cast<LPARAM>(typed.data()))));
    std::printf("%ls\n", typed.c_str());
    return 0;
}

bool ParseNumber(const wchar_t* text, unsigned long& number) {
    if (text == nullptr || !std::iswdigit(text[0])) {
        return false;
    }
    wchar_t* end = nullptr;
    number = std::wcstoul(text, &end, 10);
    return *end == L'\0';
}

// The virtual desktop appears a moment after its explorer starts.
bool EnterDesktop(const wchar_t* name, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const HDESK desktop = OpenDesktopW(name, 0, FALSE, GENERIC_ALL);
        if (desktop != nullptr) {
            return SetThreadDesktop(desktop) != FALSE;
        }
        if (GetTickCount64() > deadline) {
            return false;
        }
        Sleep(50);
    }
}

// The log view is filled while the log window is being created, on the
// program's window thread; a message sent to the view is answered only once
// that thread is free again, so the view's length arrives after the fill.
int TimeLogWindow(HWND mainWindow, DWORD timeoutMs) {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER start{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    PostMessageW(mainWindow, WM_COMMAND, MAKEWPARAM(kLogButtonId, BN_CLICKED), 0);
    for (;;) {
        const HWND logWindow = FindWindowW(L"DNS_Log_Wnd", nullptr);
        const HWND view = logWindow != nullptr ? GetDlgItem(logWindow, kLogViewId) : nullptr;
        DWORD_PTR length = 0;
        if (view != nullptr && IsWindowVisible(logWindow) &&
            SendMessageTimeoutW(view, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, timeoutMs, &length) && length > 0) {
            LARGE_INTEGER end{};
            QueryPerformanceCounter(&end);
            const double ms = static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
            std::printf("log_window_ms=%.1f view_length=%lu\n", ms, static_cast<unsigned long>(length));
            return 0;
        }
        if (GetTickCount64() > deadline) {
            return 1;
        }
        Sleep(5);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const wchar_t* desktopName = nullptr;
    if (argc >= 3 && std::wcscmp(argv[1], L"--desktop") == 0) {
        desktopName = argv[2];
        argc -= 2;
        argv += 2;
    }
    const wchar_t* className = L"Tarnwick_Main";
    if (argc >= 3 && std::wcscmp(argv[1], L"--class") == 0) {
        className = argv[2];
        argc -= 2;
        argv += 2;
    }
    if (argc < 2) {
        return 2;
    }
    const bool press = std::wcscmp(argv[1], L"press") == 0;
    const bool type = std::wcscmp(argv[1], L"type") == 0;
    unsigned long id = 0;
    if ((press || type) && (argc < 3 || !ParseNumber(argv[2], id))) {
        return 2;
    }
    if (type && argc < 4) {
        return 2;
    }
    const int timeoutArgument = press ? 3 : type ? 4 : 2;
    unsigned long timeoutMs = 20000;
    if (argc > timeoutArgument && !ParseNumber(argv[timeoutArgument], timeoutMs)) {
        return 2;
    }
    if (desktopName != nullptr && !EnterDesktop(desktopName, timeoutMs)) {
        return 1;
    }

    if (std::wcscmp(argv[1], L"gone") == 0) {
        return WaitUntilGone(className, timeoutMs) ? 0 : 1;
    }
    const HWND window = FindTopWindow(className, timeoutMs);
    if (window == nullptr) {
        return 1;
    }
    if (std::wcscmp(argv[1], L"wait") == 0) {
        return 0;
    }
    if (press) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        return 0;
    }
    if (type) {
        return TypeIntoEdit(window, id, argv[3]);
    }
    if (std::wcscmp(argv[1], L"rect") == 0) {
        RECT frame{};
        GetWindowRect(window, &frame);
        std::printf("%ld %ld %ld %ld\n", frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top);
        return 0;
    }
    if (std::wcscmp(argv[1], L"time-log") == 0) {
        return TimeLogWindow(window, timeoutMs);
    }
    if (std::wcscmp(argv[1], L"close") == 0) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    }
    return 2;
}
