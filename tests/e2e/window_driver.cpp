// Drives a running Tarnwick.exe from outside, for the end-to-end test and the
// screenshot script:
//   tarnwick_window_driver wait [ms]        waits until the main window is shown
//   tarnwick_window_driver press <id> [ms]  sends the main window a button command
//   tarnwick_window_driver close [ms]       asks the main window to close
// Exits 0 on success, 1 when the main window did not appear in time, 2 on bad
// arguments.
#include <windows.h>

#include <cwchar>
#include <cwctype>

namespace {

HWND FindMainWindow(DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const HWND window = FindWindowW(L"Tarnwick_Main", nullptr);
        if (window != nullptr && IsWindowVisible(window)) {
            return window;
        }
        if (GetTickCount64() > deadline) {
            return nullptr;
        }
        Sleep(50);
    }
}

bool ParseNumber(const wchar_t* text, unsigned long& number) {
    if (text == nullptr || !std::iswdigit(text[0])) {
        return false;
    }
    wchar_t* end = nullptr;
    number = std::wcstoul(text, &end, 10);
    return *end == L'\0';
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return 2;
    }
    const bool press = std::wcscmp(argv[1], L"press") == 0;
    unsigned long id = 0;
    if (press && (argc < 3 || !ParseNumber(argv[2], id))) {
        return 2;
    }
    const int timeoutArgument = press ? 3 : 2;
    unsigned long timeoutMs = 20000;
    if (argc > timeoutArgument && !ParseNumber(argv[timeoutArgument], timeoutMs)) {
        return 2;
    }

    const HWND window = FindMainWindow(timeoutMs);
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
    if (std::wcscmp(argv[1], L"close") == 0) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    }
    return 2;
}
