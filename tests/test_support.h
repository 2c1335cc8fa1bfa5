#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <utility>

#include "config/data_folder.h"
#include "core/server_state.h"
#include "log/text_convert.h"

namespace test_support {

inline std::wstring WidePath(const std::filesystem::path& path) {
    if constexpr (sizeof(wchar_t) == 2) {
        return path.wstring();
    } else {
        return Utf8ToUtf16(path.string());
    }
}

inline std::filesystem::path FromWide(const std::wstring& path) {
    if constexpr (sizeof(wchar_t) == 2) {
        return std::filesystem::path(path);
    } else {
        return std::filesystem::path(Utf16ToUtf8(path));
    }
}

// Whether the tests run in continuous integration, where a test that cannot
// run here (no root, say) fails instead of skipping.
inline bool InCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

// A fresh folder under the system temporary folder, removed again at the end
// of the scope. The name may carry extra text (non-ASCII, say).
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& suffixUtf8 = "") {
        static std::atomic<unsigned> sequence{0};
        const std::string leaf = "tarnwick-test-" + std::to_string(std::random_device{}()) + "-" +
                                 std::to_string(sequence.fetch_add(1)) + suffixUtf8;
        path_ = std::filesystem::temp_directory_path() / FromWide(Utf8ToUtf16(leaf));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::wstring wide() const { return WidePath(path_); }

  private:
    std::filesystem::path path_;
};

// Points DataFolderPath() at a scratch folder for the scope.
class ScopedDataFolder {
  public:
    explicit ScopedDataFolder(const std::string& suffixUtf8 = "") : base_(suffixUtf8) {
        SetDataFolderBase(base_.wide());
    }
    ~ScopedDataFolder() { SetDataFolderBase(L""); }

    std::filesystem::path base() const { return base_.path(); }
    std::filesystem::path folder() const { return base_.path() / "Tarnwick"; }

  private:
    ScratchFolder base_;
};

// The whole file, byte for byte; empty when it cannot be read.
inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An enabled record slot; the TTL is a fresh slot's unless given.
inline DnsRecord Record(int32_t type, std::string name, std::string value, uint32_t ttl = DnsRecord{}.ttl) {
    DnsRecord record;
    record.type = type;
    record.name = std::move(name);
    record.value = std::move(value);
    record.ttl = ttl;
    record.enabled = true;
    return record;
}

inline DnsRecord Disabled(DnsRecord record) {
    record.enabled = false;
    return record;
}

// The live configuration, read and replaced whole under its lock as the
// program's own readers and writers do.
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

}  // namespace test_support
