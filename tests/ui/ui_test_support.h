#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include <chrono>
#include <climits>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ui/ui_shared.h"

// Helpers for driving real windows in-process from the window tests.
namespace ui_test {

// Dispatches everything queued for this thread.
inline void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Pumps messages until the condition holds or the time is up; returns the
// condition's last value. The limit only ends a wait for something that never
// comes, so it is generous.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        PumpMessages();
        Sleep(10);
    }
    return true;
}

// The whole text, however long (a log view may hold a mebibyte).
inline std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(window, text.data(), length + 1);
    text.resize(wcslen(text.c_str()));
    return text;
}

// Types the text at the end of an edit the way the keyboard does: one
// WM_CHAR per character, each subject to the edit's own rules.
inline void TypeAtEnd(HWND edit, const std::wstring& text) {
    const LPARAM end = GetWindowTextLengthW(edit);
    SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(end), end);
    for (wchar_t character : text) {
        SendMessageW(edit, WM_CHAR, character, 1);
    }
}

inline std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

// A control's place: its top left corner in the parent's client area, and
// its size.
struct Box {
    int x, y, width, height;
    bool operator==(const Box&) const = default;
};

// A length the layout leaves to the control itself (a drop-down list's
// height, say), not compared.
constexpr int kAnyLength = INT_MIN;

inline std::ostream& operator<<(std::ostream& out, const Box& box) {
    const auto length = [](int value) { return value == kAnyLength ? std::string("any") : std::to_string(value); };
    return out << "(" << length(box.x) << ", " << length(box.y) << ", " << length(box.width) << " x "
               << length(box.height) << ")";
}

inline Box PlaceOf(HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

inline std::vector<HWND> ChildrenOf(HWND window) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

// The style bits under mask must be exactly these; an empty mask checks none.
struct StyleBits {
    LONG mask = 0;
    LONG bits = 0;
};

constexpr StyleBits kFlatEdge{WS_EX_CLIENTEDGE, 0};
constexpr StyleBits kSunkenEdge{WS_EX_CLIENTEDGE, WS_EX_CLIENTEDGE};
constexpr StyleBits kScrollsSideways{ES_AUTOHSCROLL, ES_AUTOHSCROLL};

// One row of a window's control table. Every control is checked for its
// class, id, visibility and the shared font; the rest where the row says.
struct ControlSpec {
    const wchar_t* className;
    const wchar_t* text = nullptr;  // null: the text is not compared
    int id = 0;
    std::optional<Box> place{};
    StyleBits style{};
    StyleBits exStyle{};
    HWND handle = nullptr;  // set: the control must be this very window
    bool visible = true;
};

inline void ExpectStyle(HWND control, int which, StyleBits expected, const char* what) {
    if (expected.mask == 0) {
        return;
    }
    const LONG actual = GetWindowLongW(control, which);
    EXPECT_EQ(actual & expected.mask, expected.bits)
        << std::hex << what << " 0x" << actual << ": under mask 0x" << expected.mask << " wanted 0x" << expected.bits;
}

// Checks controls[i] against table[i] for every row, after checking that
// there are as many controls as rows. Each failure names its row.
inline void ExpectControls(const std::vector<HWND>& controls, const std::vector<ControlSpec>& table) {
    ASSERT_EQ(controls.size(), table.size()) << "controls and table rows";
    for (size_t row = 0; row < table.size(); ++row) {
        const ControlSpec& spec = table[row];
        const HWND control = controls[row];
        ::testing::Message which;
        which << "control " << row << ": " << spec.className << " id " << spec.id;
        if (spec.text != nullptr) {
            which << " \"" << spec.text << "\"";
        }
        SCOPED_TRACE(which);
        ASSERT_NE(control, nullptr);
        if (spec.handle != nullptr) {
            EXPECT_EQ(control, spec.handle);
        }
        EXPECT_EQ(ClassName(control), spec.className);
        if (spec.text != nullptr) {
            EXPECT_EQ(WindowText(control), spec.text);
        }
        EXPECT_EQ(GetDlgCtrlID(control), spec.id);
        if (spec.place.has_value()) {
            Box actual = PlaceOf(control);
            for (int Box::*length : {&Box::x, &Box::y, &Box::width, &Box::height}) {
                if ((*spec.place).*length == kAnyLength) {
                    actual.*length = kAnyLength;
                }
            }
            EXPECT_EQ(actual, *spec.place) << "place";
        }
        ExpectStyle(control, GWL_STYLE, spec.style, "style");
        ExpectStyle(control, GWL_EXSTYLE, spec.exStyle, "extended style");
        EXPECT_EQ(IsWindowVisible(control) != FALSE, spec.visible);
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), Ui().sharedFont) << "font";
    }
}

// The window's child controls in creation order, checked against the table.
inline void ExpectChildren(HWND window, const std::vector<ControlSpec>& table) {
    ExpectControls(ChildrenOf(window), table);
}

// The controls with the ids of the table's rows, checked against it.
inline void ExpectControlsById(HWND window, const std::vector<ControlSpec>& table) {
    std::vector<HWND> controls;
    for (const ControlSpec& spec : table) {
        controls.push_back(GetDlgItem(window, spec.id));
    }
    ExpectControls(controls, table);
}

// A UDP socket bound to 0.0.0.0:port for as long as it lives, so that the
// server's own bind on that port fails. Port 0 takes one that the system
// assigns; port() tells which.
class PortHolder {
  public:
    explicit PortHolder(unsigned short port) {
        WSADATA data;
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        bound_ = socket_ != INVALID_SOCKET && bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        int length = sizeof address;
        if (bound_ && getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~PortHolder() { Release(); }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

    bool bound() const { return bound_; }
    unsigned short port() const { return port_; }
    void Release() {
        if (socket_ != INVALID_SOCKET) {
            closesocket(socket_);
            socket_ = INVALID_SOCKET;
        }
        if (started_) {
            WSACleanup();
            started_ = false;
        }
    }

  private:
    bool started_ = false;
    bool bound_ = false;
    unsigned short port_ = 0;
    SOCKET socket_ = INVALID_SOCKET;
};

}  // namespace ui_test
