#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "config/data_folder.h"
#include "core/path_bytes.h"

namespace {

// Unlike the Windows known folder, ~/.local/share may not exist yet on a fresh
// account, so its levels are created here.
void CreateFolderChain(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0777);
    }
    ::mkdir(path.c_str(), 0777);
}

}  // namespace

std::wstring PlatformDataFolderBase() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        base = std::string(home) + "/.local/share";
    }
    if (!base.empty()) {
        // Every log line asks for the folder: a base that exists is only
        // looked at, and its levels are created when it is missing.
        struct stat info {};
        bool found = ::stat(base.c_str(), &info) == 0;
        if (!found) {
            CreateFolderChain(base);
            found = ::stat(base.c_str(), &info) == 0;
        }
        if (found && S_ISDIR(info.st_mode)) {
            return PathFromBytes(base);
        }
    }
    const char* temporary = std::getenv("TMPDIR");
    return PathFromBytes(temporary != nullptr && temporary[0] == '/' ? temporary : "/tmp");
}
