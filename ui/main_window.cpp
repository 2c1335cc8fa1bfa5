#include "ui/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "core/server_state.h"
#include "dns/server.h"
#include "log/text_convert.h"
#include "ui/forwarding_window.h"
#include "ui/log_window.h"
#include "ui/records_editor.h"
#include "ui/status_report.h"
#include "ui/ui_shared.h"

const wchar_t kMainWindowClass[] = L"Tarnwick_Main";

namespace {

const COLORREF kLampRunning = RGB(0, 180, 0);
const COLORREF kLampStopped = RGB(200, 0, 0);
const COLORREF kLampOutline = RGB(60, 60, 60);
const RECT kLampBox = {14, 14, 32, 32};

// Posted by the worker thread when its socket could not be created or bound.
constexpr UINT kWorkerFailedMessage = WM_APP + 1;

// Read by the worker thread, so it is kept apart from the window thread's
// own state.
std::atomic<HWND> workerFailedTarget{nullptr};

// The child windows, in the order they are created. Handles stay valid for the
// life of the main window.
struct MainControls {
    HWND startStop = nullptr;
    HWND recordsEditor = nullptr;
    HWND forwarding = nullptr;
    HWND log = nullptr;
    HWND status = nullptr;
    HWND statusPanel = nullptr;
};

MainControls controls;

struct ButtonSpec {
    const wchar_t* text;
    int id;
    HWND MainControls::*slot;
};

const ButtonSpec kButtons[] = {
    {L"Start server", kStartStopButtonId, &MainControls::startStop},
    {L"DNS Settings", kRecordsEditorButtonId, &MainControls::recordsEditor},
    {L"Forwarding", kForwardingButtonId, &MainControls::forwarding},
    {L"Log", kLogButtonId, &MainControls::log},
    {L"Status", kStatusButtonId, &MainControls::status},
};

void MoveControl(HWND control, int x, int y, int width, int height) {
    if (control != nullptr) {
        MoveWindow(control, x, y, width, height, TRUE);
    }
}

// The buttons share the width between them in fixed proportions, with a floor
// so that narrow windows still show readable captions.
void LayoutMainWindow(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    const int width = client.right - client.left;
    const int bottom = client.bottom;
    int w1 = 160;
    int w2 = 110;
    if (width < 796) {
        const int share = std::max(width - 96, 540);
        w1 = static_cast<int>(share * 160.0 / 700.0);
        w2 = static_cast<int>(share * 110.0 / 700.0);
        w2 = std::max(w2, 90);
    }
    MoveControl(controls.startStop, 42, 8, w1 + 6, 30);
    MoveControl(controls.recordsEditor, w1 + 58, 8, w1 + 9, 30);
    MoveControl(controls.forwarding, 2 * w1 + 77, 8, w1 + 9, 30);
    MoveControl(controls.log, 3 * w1 + 95, 8, w2 - 10, 30);
    MoveControl(controls.status, 3 * w1 + w2 + 92, 8, w2 - 10, 30);
    MoveControl(controls.statusPanel, 14, 50, width - 28, std::max(bottom - 60, 60));
}

// Runs on the worker thread, which never touches windows: the refresh itself
// happens on the window thread when the message arrives.
void PostWorkerFailed() {
    const HWND target = workerFailedTarget.load();
    if (target != nullptr) {
        PostMessageW(target, kWorkerFailedMessage, 0, 0);
    }
}

HFONT CreateSharedFont(HWND window) {
    LOGFONTW font{};
    const HDC dc = GetDC(window);
    font.lfHeight = -MulDiv(10, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(window, dc);
    lstrcpynW(font.lfFaceName, L"Segoe UI", LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

void OnCreate(HWND window) {
    UiShared& ui = Ui();
    ui.mainWindow = window;
    SetRefreshServerControlsHook(RefreshServerControls);
    workerFailedTarget.store(window);
    SetWorkerFailedHook(PostWorkerFailed);
    if (ui.whiteBrush == nullptr) {
        ui.whiteBrush = CreateSolidBrush(RGB(255, 255, 255));
    }
    ui.sharedFont = CreateSharedFont(window);

    controls = MainControls{};
    for (const ButtonSpec& button : kButtons) {
        controls.*button.slot = MakeControl(window, 0, L"BUTTON", button.text, 0, {0, 0, 0, 0}, button.id);
    }
    controls.statusPanel = CreateWindowExW(
        WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 0, 0, 0, 0,
        window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusPanelId)), ui.instance, nullptr);
    ApplySharedFont(controls.statusPanel);
    ShowWindow(controls.statusPanel, SW_HIDE);

    LayoutMainWindow(window);
    RefreshStatusReport();
    StartServer();
}

void OnPaint(HWND window) {
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(window, &paint);
    const bool running = GetServerState().running.load();
    const HBRUSH brush = CreateSolidBrush(running ? kLampRunning : kLampStopped);
    const HGDIOBJ oldBrush = SelectObject(dc, brush);
    const HPEN pen = CreatePen(PS_SOLID, 1, kLampOutline);
    const HGDIOBJ oldPen = SelectObject(dc, pen);
    Ellipse(dc, kLampBox.left, kLampBox.top, kLampBox.right, kLampBox.bottom);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
    EndPaint(window, &paint);
}

LRESULT OnEraseBackground(HWND window, HDC dc) {
    RECT client{};
    GetClientRect(window, &client);
    const HBRUSH brush = Ui().whiteBrush != nullptr ? Ui().whiteBrush : GetSysColorBrush(COLOR_WINDOW);
    FillRect(dc, &client, brush);
    return 1;
}

void ToggleStatusPanel(HWND window) {
    UiShared& ui = Ui();
    ui.statusPanelShown = !ui.statusPanelShown;
    SetWindowPos(window, nullptr, 0, 0, kMainWindowWidth,
                 ui.statusPanelShown ? kMainWindowUnfoldedHeight : kMainWindowFoldedHeight, SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(controls.statusPanel, ui.statusPanelShown ? SW_SHOW : SW_HIDE);
    LayoutMainWindow(window);
    RefreshStatusReport();
}

void OnCommand(HWND window, int id) {
    switch (id) {
        case kStartStopButtonId:
            // Acts on the run state, not on the caption, which can be stale
            // after the worker gave up by itself.
            if (GetServerState().running.load()) {
                StopServer();
            } else {
                StartServer();
            }
            break;
        case kRecordsEditorButtonId:
            OpenRecordsEditor(window);
            break;
        case kForwardingButtonId:
            OpenForwardingWindow(window);
            break;
        case kLogButtonId:
            OpenLogWindow(window);
            break;
        case kStatusButtonId:
            ToggleStatusPanel(window);
            break;
        default:
            break;
    }
}

void OnDestroy() {
    // Also joins a worker that ended by itself (its bind failed), so no
    // worker thread outlives the window thread.
    StopServer();
    // Nothing is left to refresh once the window is gone; StopServer has
    // joined every worker, so none can be posting now.
    SetRefreshServerControlsHook(nullptr);
    SetWorkerFailedHook(nullptr);
    workerFailedTarget.store(nullptr);
    UiShared& ui = Ui();
    if (ui.sharedFont != nullptr) {
        DeleteObject(ui.sharedFont);
        ui.sharedFont = nullptr;
    }
    if (ui.whiteBrush != nullptr) {
        DeleteObject(ui.whiteBrush);
        ui.whiteBrush = nullptr;
    }
    PostQuitMessage(0);
}

}  // namespace

void RegisterMainWindowClass(HINSTANCE instance) {
    RegisterWindowClass(instance, kMainWindowClass, MainWindowProc);
}

HWND CreateMainWindow(HINSTANCE instance) {
    Ui().instance = instance;
    const std::wstring title = L"Tarnwick v1.0  -  " + Utf8ToUtf16(kAuthorCredit);
    return CreateWindowExW(0, kMainWindowClass, title.c_str(), WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                           CW_USEDEFAULT, kMainWindowWidth, kMainWindowFoldedHeight, nullptr, nullptr, instance,
                           nullptr);
}

void ReportMainWindowFailure() {
    StopServer();
    // A window that was destroyed during its own creation has already posted
    // the quit message, which would end the message box at once.
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    MessageBoxW(nullptr, L"The main window could not be created.", L"Tarnwick", MB_OK | MB_ICONERROR);
}

void RefreshStatusReport() {
    if (controls.statusPanel != nullptr) {
        SetWindowTextW(controls.statusPanel, Utf8ToUtf16(BuildStatusReport()).c_str());
    }
}

void RefreshServerControls() {
    if (Ui().mainWindow == nullptr) {
        return;
    }
    SetWindowTextW(controls.startStop, GetServerState().running.load() ? L"Stop server" : L"Start server");
    RefreshStatusReport();
    InvalidateRect(Ui().mainWindow, nullptr, TRUE);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            OnCreate(window);
            break;
        case WM_SIZE:
            LayoutMainWindow(window);
            InvalidateRect(window, nullptr, TRUE);
            break;
        case WM_PAINT:
            OnPaint(window);
            break;
        case WM_ERASEBKGND:
            return OnEraseBackground(window, reinterpret_cast<HDC>(wParam));
        case WM_COMMAND:
            OnCommand(window, LOWORD(wParam));
            break;
        case WM_DESTROY:
            OnDestroy();
            break;
        case kWorkerFailedMessage:
            RefreshServerControls();
            return 0;
        default:
            break;
    }
    return SharedDefWindowProc(window, message, wParam, lParam);
}
