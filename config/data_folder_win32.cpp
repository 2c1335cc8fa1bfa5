#include <shlobj.h>
#include <windows.h>

#include <string>

#include "config/data_folder.h"

std::wstring PlatformDataFolderBase() {
    PWSTR known = nullptr;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known)) && known != nullptr) {
        std::wstring base(known);
        CoTaskMemFree(known);
        return base;
    }
    if (known != nullptr) {
        CoTaskMemFree(known);
    }
    // The temporary path ends in a backslash, so the caller's own separator
    // doubles it; the file system accepts that.
    wchar_t buffer[260] = {};
    GetTempPathW(260, buffer);
    return buffer;
}
