#include "config/data_folder.h"

#include <mutex>

#include "core/file_io.h"

// Implemented per platform: the user's local application-data folder, or the
// temporary folder when that cannot be had (empty when neither can).
std::wstring PlatformDataFolderBase();

namespace {

std::mutex baseOverrideLock;
std::wstring baseOverride;

}  // namespace

void SetDataFolderBaseForTesting(const std::wstring& base) {
    std::lock_guard<std::mutex> hold(baseOverrideLock);
    baseOverride = base;
}

std::wstring DataFolderPath() {
    std::wstring path;
    {
        std::lock_guard<std::mutex> hold(baseOverrideLock);
        path = baseOverride;
    }
    if (path.empty()) {
        path = PlatformDataFolderBase();
    }
    // Room for the file name that callers append ("\\config.xml"), so that
    // neither step reallocates.
    path.reserve(path.size() + 24);
    path += kPathSeparator;
    path += L"Tarnwick";
    CreateFolder(path);
    return path;
}
