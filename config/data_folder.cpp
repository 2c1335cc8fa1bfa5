#include "config/data_folder.h"

#include <mutex>

#include "core/file_io.h"

namespace {

std::mutex baseOverrideLock;
std::wstring baseOverride;

}  // namespace

void SetDataFolderBase(const std::wstring& base) {
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
    // Room for "\\Tarnwick" and the file name that callers append.
    path.reserve(path.size() + 24);
    path += kPathSeparator;
    path += L"Tarnwick";
    CreateFolder(path);
    return path;
}
