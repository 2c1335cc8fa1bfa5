#include "ui/ui_shared.h"

#include <string>

#include "config/config_storage.h"
#include "log/event_log.h"

const wchar_t kConfigNotWrittenMessage[] =
    L"Could not write the configuration file. The change applies until Tarnwick is closed.";

UiShared& Ui() {
    static UiShared shared;
    return shared;
}

void ApplySharedFont(HWND control) {
    if (control != nullptr && Ui().sharedFont != nullptr) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(Ui().sharedFont), TRUE);
    }
}

void RegisterWindowClass(HINSTANCE instance, const wchar_t* className, WNDPROC procedure) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
}

LRESULT SharedDefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_CTLCOLOREDIT && message != WM_CTLCOLORSTATIC) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    const HDC dc = reinterpret_cast<HDC>(wParam);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, RGB(255, 255, 255));
    return reinterpret_cast<LRESULT>(Ui().whiteBrush);
}

HWND MakeControl(HWND parent,
                 DWORD extendedStyle,
                 const wchar_t* className,
                 const wchar_t* text,
                 DWORD style,
                 ControlPlace place,
                 int id) {
    const HWND control = CreateWindowExW(extendedStyle, className, text, WS_CHILD | WS_VISIBLE | style, place.x,
                                         place.y, place.width, place.height, parent,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Ui().instance, nullptr);
    ApplySharedFont(control);
    return control;
}

HWND OpenToolWindow(HWND& slot, const ToolWindowClass& kind, HWND owner) {
    if (slot != nullptr) {
        SetForegroundWindow(slot);
        return slot;
    }
    // Registered again at every opening, which costs nothing once the class
    // exists and keeps the tool windows free of a start-up step.
    RegisterWindowClass(Ui().instance, kind.className, kind.procedure);

    slot = CreateWindowExW(0, kind.className, kind.title, kind.style, CW_USEDEFAULT, CW_USEDEFAULT, kind.width,
                           kind.height, owner, nullptr, Ui().instance, nullptr);
    if (slot != nullptr) {
        ShowWindow(slot, SW_SHOW);
    }
    return slot;
}

MessageBoxFunction& ToolMessageBox() {
    static MessageBoxFunction show = MessageBoxW;
    return show;
}

void ShowError(HWND owner, const wchar_t* text, const wchar_t* caption) {
    ToolMessageBox()(owner, text, caption, MB_OK | MB_ICONERROR);
}

bool SaveSettings(HWND window, const wchar_t* caption, const char* what) {
    if (!SaveConfig()) {
        ShowError(window, kConfigNotWrittenMessage, caption);
        AppendLogLine("Settings not saved (" + std::string(what) + ")");
        return false;
    }
    AppendLogLine("Settings saved (" + std::string(what) + ")");
    return true;
}
