// TEMPORARY stand-ins for the shared window state that the main-window branch
// delivers. Removed as soon as it lands.
#include <windows.h>

#include "ui/ui_shared.h"

UiShared& Ui() {
    static UiShared shared;
    return shared;
}

void ApplySharedFont(HWND control) {
    if (Ui().sharedFont != nullptr) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(Ui().sharedFont), TRUE);
    }
}

LRESULT PaintControlWhite(WPARAM deviceContext) {
    HDC dc = reinterpret_cast<HDC>(deviceContext);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, RGB(255, 255, 255));
    return reinterpret_cast<LRESULT>(Ui().whiteBrush);
}
