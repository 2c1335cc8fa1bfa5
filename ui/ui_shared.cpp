#include "ui/ui_shared.h"

UiShared& Ui() {
    static UiShared shared;
    return shared;
}

void ApplySharedFont(HWND control) {
    if (control != nullptr && Ui().sharedFont != nullptr) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(Ui().sharedFont), TRUE);
    }
}

LRESULT PaintControlWhite(WPARAM deviceContext) {
    const HDC dc = reinterpret_cast<HDC>(deviceContext);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, RGB(255, 255, 255));
    return reinterpret_cast<LRESULT>(Ui().whiteBrush);
}
