#pragma once

// clang-format off
// Winsock (for ui_test_support.h) must come before the other Windows headers.
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "config/config_storage.h"
#include "config/config_xml.h"
#include "core/server_state.h"
#include "log/event_log.h"
#include "log/text_convert.h"
#include "test_support.h"
#include "ui/forwarding_window.h"
#include "ui/import_export.h"
#include "ui/log_window.h"
#include "ui/records_editor.h"
#include "ui/ui_shared.h"
#include "ui_test_support.h"

namespace tool_test {

using test_support::LiveConfig;
using test_support::ReadBytes;
using test_support::SetLiveConfig;
using ui_test::Box;
using ui_test::ChildrenOf;
using ui_test::ClassName;
using ui_test::ControlSpec;
using ui_test::ExpectChildren;
using ui_test::ExpectControls;
using ui_test::kAnyLength;
using ui_test::kFlatEdge;
using ui_test::kScrollsSideways;
using ui_test::kSunkenEdge;
using ui_test::PumpMessages;
using ui_test::WindowText;

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

inline void Command(HWND window, int id) {
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    ASSERT_TRUE(out.good()) << "could not write " << path.string();
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
// Windows are opened through the program's own Open functions, as the main
// window's buttons do.
class ToolWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(Owner(), nullptr);
        // A real main window destroyed by an earlier test takes the shared
        // font and brush with it.
        EnsureSharedResources();
        ASSERT_NE(Ui().sharedFont, nullptr);
        ASSERT_NE(Ui().whiteBrush, nullptr);
        DataFolderPath();  // creates the folder, as the program's start-up does
        ASSERT_TRUE(std::filesystem::is_directory(data_.folder()));
        SetLiveConfig(ServerConfig{});
        Recorded() = DialogRecord{};
        savedMessageBox_ = ToolMessageBox();
        savedChoosers_ = FileDialogs();
        ToolMessageBox() = RecordMessage;
        FileDialogs().chooseImportFile = PickImportPath;
        FileDialogs().chooseExportFile = PickExportPath;
    }

    void TearDown() override {
        for (HWND window : OwnedWindows()) {
            DestroyWindow(window);
        }
        PumpMessages();
        ToolMessageBox() = savedMessageBox_;
        FileDialogs() = savedChoosers_;
        Unblock(test_support::WidePath(ConfigFile()), blocker_);
    }

    static HWND Owner() {
        static const HWND owner = CreateOwner();
        return owner;
    }

    // The top-level windows of this thread that the stand-in owner owns.
    static std::vector<HWND> OwnedWindows() {
        std::vector<HWND> owned;
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND window, LPARAM list) -> BOOL {
                if (GetWindow(window, GW_OWNER) == Owner()) {
                    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&owned));
        return owned;
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

    MessageBoxFunction savedMessageBox_ = nullptr;
    FileChoosers savedChoosers_;
    HANDLE blocker_ = INVALID_HANDLE_VALUE;
};

}  // namespace tool_test
