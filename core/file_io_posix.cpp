#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "core/file_io.h"
#include "log/text_convert.h"

const wchar_t kPathSeparator = L'/';

namespace {

std::string NarrowPath(const std::wstring& path) {
    return Utf16ToUtf8(path);
}

bool WriteAll(int fd, std::string_view bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool ReadWholeFile(const std::wstring& path, std::string& contents) {
    const int fd = ::open(NarrowPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return false;
    }
    contents.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        contents.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

bool AppendToFile(const std::wstring& path, std::string_view bytes) {
    const int fd = ::open(NarrowPath(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    // O_APPEND with a single write keeps concurrent lines whole.
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
    return n == static_cast<ssize_t>(bytes.size());
}

bool ReplaceFileContents(const std::wstring& path, std::string_view contents) {
    const std::string target = NarrowPath(path);
    mode_t mode = 0666;
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        // A file the user made read-only stays untouched, even for root, who
        // could otherwise rename over it.
        if (!S_ISREG(existing.st_mode) || (existing.st_mode & S_IWUSR) == 0) {
            return false;
        }
        mode = existing.st_mode & 07777;
    }
    static std::atomic<unsigned> sequence{0};
    const std::string temporary =
        target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(sequence.fetch_add(1));
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAll(fd, contents);
    ok = ok && ::fchmod(fd, mode) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
    }
    return ok;
}

bool DeleteFileAtPath(const std::wstring& path) {
    return ::unlink(NarrowPath(path).c_str()) == 0;
}

void CreateFolder(const std::wstring& path) {
    ::mkdir(NarrowPath(path).c_str(), 0777);
}
