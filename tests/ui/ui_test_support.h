#pragma once

#include <windows.h>
#include <winsock2.h>

#include <chrono>
#include <functional>
#include <string>

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
