// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
// clang-format on

#include "config/config_storage.h"
#include "ui/main_window.h"
#include "ui/ui_shared.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    Ui().instance = instance;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX commonControls{};
    commonControls.dwSize = sizeof commonControls;
    commonControls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&commonControls);
    LoadConfigAtStartup();

    RegisterMainWindowClass(instance);
    const HWND mainWindow = CreateMainWindow(instance);
    if (mainWindow == nullptr) {
        // Without a window nobody would ever post the quit message.
        ReportMainWindowFailure();
        CoUninitialize();
        return 0;
    }
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    CoUninitialize();
    return 0;
}
