#include <windows.h>

#include <filesystem>

#include "config_storage_faults.h"

namespace config_test {

namespace {

HANDLE blocker = INVALID_HANDLE_VALUE;

}  // namespace

unsigned long CurrentProcessId() {
    return GetCurrentProcessId();
}

SaveObstacle::SaveObstacle(const std::filesystem::path& target) {
    // Another program reading config.xml without delete sharing (an editor or
    // a virus scanner, say) makes replacing it fail.
    blocker = CreateFileW(target.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

SaveObstacle::~SaveObstacle() {
    if (blocker != INVALID_HANDLE_VALUE) {
        CloseHandle(blocker);
        blocker = INVALID_HANDLE_VALUE;
    }
}

}  // namespace config_test
