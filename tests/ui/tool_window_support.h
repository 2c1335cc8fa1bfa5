#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "config/config_storage.h"
#include "config/config_xml.h"
#include "core/server_state.h"
#include "log/event_log.h"
#include "log/text_convert.h"
#include "test_support.h"
#include "ui/tool_windows.h"
#include "ui/ui_shared.h"

namespace tool_test {

struct ShownMessage {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
};

// What the replaced dialogs did during one test.
struct DialogRecord {
    std::vector<ShownMessage> messages;
    std::optional<std::wstring> importPath;
    std::optional<std::wstring> exportPath;
    int importChoices = 0;
    int exportChoices = 0;
};

inline DialogRecord& Recorded() {
    static DialogRecord record;
    return record;
}

inline int WINAPI RecordMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    Recorded().messages.push_back({owner, text, caption, type});
    return IDOK;
}

inline std::optional<std::wstring> PickImportPath(HWND) {
    ++Recorded().importChoices;
    return Recorded().importPath;
}

inline std::optional<std::wstring> PickExportPath(HWND) {
    ++Recorded().exportChoices;
    return Recorded().exportPath;
}

struct ToolWindowAttributes {
    const wchar_t* className;
    const wchar_t* title;
    DWORD style;
    int width;
    int height;
    WNDPROC procedure;
};

inline ToolWindowAttributes AttributesOf(ToolWindowKind kind) {
    switch (kind) {
        case kRecordsEditorWindow:
            return {L"DNS_Settings_Wnd", L"DNS Settings", WS_CAPTION | WS_SYSMENU, 660, 730, RecordsEditorProc};
        case kForwardingWindow:
            return {L"DNS_Forward_Wnd", L"Forwarding", WS_CAPTION | WS_SYSMENU, 540, 260, ForwardingWindowProc};
        default:
            return {L"DNS_Log_Wnd", L"DNS Log", WS_CAPTION | WS_SYSMENU | WS_THICKFRAME, 720, 520, LogWindowProc};
    }
}

// Opens a tool window the way the main window's buttons do: an open one is
// brought to the front, otherwise the class is registered (again) and a new
// window is created, remembered in its slot and shown.
inline HWND OpenToolWindow(ToolWindowKind kind) {
    HWND& slot = Ui().toolWindows[kind];
    if (slot != nullptr) {
        SetForegroundWindow(slot);
        return slot;
    }
    const ToolWindowAttributes attributes = AttributesOf(kind);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = attributes.procedure;
    windowClass.hInstance = Ui().instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = attributes.className;
    RegisterClassW(&windowClass);
    HWND window =
        CreateWindowExW(0, attributes.className, attributes.title, attributes.style, CW_USEDEFAULT, CW_USEDEFAULT,
                        attributes.width, attributes.height, Ui().mainWindow, nullptr, Ui().instance, nullptr);
    slot = window;
    if (window != nullptr) {
        ShowWindow(window, SW_SHOW);
    }
    return window;
}

inline void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

inline void Command(HWND window, int id) {
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

inline std::wstring TextOf(HWND control) {
    const int length = GetWindowTextLengthW(control);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(control, text.data(), length + 1);
    text.resize(wcslen(text.c_str()));
    return text;
}

inline std::wstring ClassOf(HWND control) {
    wchar_t name[64] = {};
    GetClassNameW(control, name, 64);
    return name;
}

// A control's rectangle in its parent's client coordinates.
inline RECT PlaceOf(HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

inline std::vector<HWND> ChildrenOf(HWND window) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    ASSERT_TRUE(out.good()) << "could not write " << path.string();
}

inline ServerConfig LiveConfig() {
    ServerState& state = GetServerState();
    std::lock_guard<std::mutex> hold(state.stateLock);
    return state.config;
}

inline void SetLiveConfig(const ServerConfig& config) {
    ServerState& state = GetServerState();
    std::lock_guard<std::mutex> hold(state.stateLock);
    state.config = config;
}

inline bool SameConfig(const ServerConfig& a, const ServerConfig& b) {
    return BuildConfigXml(a) == BuildConfigXml(b);
}

// Log lines without their timestamps ("YYYY-MM-DD hh:mm:ss "), each checked
// to carry one and to end in CR LF.
inline std::vector<std::string> LogMessages(const std::filesystem::path& logFile) {
    const std::string bytes = ReadBytes(logFile);
    std::vector<std::string> messages;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "log line without CR LF: " << bytes.substr(start);
            break;
        }
        const std::string line = bytes.substr(start, end - start);
        if (line.size() < 20 || line[4] != '-' || line[10] != ' ' || line[13] != ':' || line[19] != ' ') {
            ADD_FAILURE() << "log line without timestamp: " << line;
            messages.push_back(line);
        } else {
            messages.push_back(line.substr(20));
        }
        start = end + 2;
    }
    return messages;
}

// A sample configuration touching every field.
inline ServerConfig SampleConfig() {
    ServerConfig config;
    config.forwarding = {"192.0.2.53", "198.51.100.53", ""};
    config.records[0] = {1, "nas.home.test", "192.0.2.10", 300, true};
    config.records[1] = {15, "home.test", "mail.home.test", 600, true};
    config.records[7] = {1, "caf\xC3\xA9.test", "192.0.2.77", 4294967295u, false};
    config.records[19] = {15, "last.test", "", 1, true};
    return config;
}

// Every test gets its own data folder, a default live configuration, a
// stand-in main window as owner of the tool windows and recording dialogs.
class ToolWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static HWND owner = CreateOwner();
        ASSERT_NE(owner, nullptr);
        Ui().mainWindow = owner;
        // A real main window destroyed by an earlier test takes the shared
        // font and brush with it.
        EnsureSharedResources();
        ASSERT_NE(Ui().sharedFont, nullptr);
        ASSERT_NE(Ui().whiteBrush, nullptr);
        DataFolderPath();  // creates the folder, as the program's start-up does
        ASSERT_TRUE(std::filesystem::is_directory(data_.folder()));
        SetLiveConfig(ServerConfig{});
        Recorded() = DialogRecord{};
        savedDialogs_ = ToolDialogs();
        ToolDialogs().messageBox = RecordMessage;
        ToolDialogs().chooseImportFile = PickImportPath;
        ToolDialogs().chooseExportFile = PickExportPath;
    }

    void TearDown() override {
        for (HWND window : Ui().toolWindows) {
            if (window != nullptr) {
                DestroyWindow(window);
            }
        }
        PumpMessages();
        for (HWND window : Ui().toolWindows) {
            EXPECT_EQ(window, nullptr) << "a destroyed tool window kept its slot";
        }
        ToolDialogs() = savedDialogs_;
        Unblock(test_support::WidePath(ConfigFile()), blocker_);
    }

    std::filesystem::path ConfigFile() const { return data_.folder() / "config.xml"; }
    std::filesystem::path LogFile() const { return data_.folder() / "dns.log"; }
    std::vector<std::string> Log() const { return LogMessages(LogFile()); }

    // Makes config.xml unwritable: read-only, and held open without sharing
    // the way another program might hold it (Wine running as root ignores the
    // read-only attribute, the sharing rules it keeps).
    void BlockConfigWrites() { blocker_ = BlockWrites(test_support::WidePath(ConfigFile())); }
    void UnblockConfigWrites() { Unblock(test_support::WidePath(ConfigFile()), blocker_); }

    static HANDLE BlockWrites(const std::wstring& path) {
        EXPECT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
        HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(holder, INVALID_HANDLE_VALUE);
        HANDLE probe = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(probe, INVALID_HANDLE_VALUE) << "the file still opens for writing";
        if (probe != INVALID_HANDLE_VALUE) {
            CloseHandle(probe);
        }
        return holder;
    }

    static void Unblock(const std::wstring& path, HANDLE& holder) {
        if (holder != INVALID_HANDLE_VALUE && holder != nullptr) {
            CloseHandle(holder);
        }
        holder = INVALID_HANDLE_VALUE;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }

    test_support::ScopedDataFolder data_{"-ui"};

  private:
    static void EnsureSharedResources() {
        if (Ui().whiteBrush == nullptr) {
            Ui().whiteBrush = CreateSolidBrush(RGB(255, 255, 255));
        }
        if (Ui().sharedFont == nullptr) {
            LOGFONTW font{};
            font.lfHeight = -13;
            wcscpy(font.lfFaceName, L"Segoe UI");
            Ui().sharedFont = CreateFontIndirectW(&font);
        }
    }

    static HWND CreateOwner() {
        Ui().instance = GetModuleHandleW(nullptr);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = Ui().instance;
        windowClass.lpszClassName = L"Tarnwick_Test_Owner";
        RegisterClassW(&windowClass);
        return CreateWindowExW(0, L"Tarnwick_Test_Owner", L"owner", WS_CAPTION | WS_SYSMENU, 0, 0, 696, 90, nullptr,
                               nullptr, Ui().instance, nullptr);
    }

    ToolWindowDialogs savedDialogs_;
    HANDLE blocker_ = INVALID_HANDLE_VALUE;
};

}  // namespace tool_test
