#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>

#include "core/file_io.h"
#include "core/path_bytes.h"

const wchar_t kPathSeparator = L'/';

namespace {

constexpr int kTemporaryNameAttempts = 1000;

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

// Whether this process may write the file. access() answers that for every
// user but root, whom it lets write any file (short of a read-only file
// system); for root a file without the owner's write bit counts as made
// read-only on purpose and stays untouched.
bool MayWrite(const std::string& target, const struct stat& existing) {
    if (::access(target.c_str(), W_OK) != 0) {
        return false;
    }
    return ::getuid() != 0 || (existing.st_mode & S_IWUSR) != 0;
}

// Errors that stop the temporary file or the rename but not a plain write: a
// name too long for the file system, a folder this user may not add files to,
// a file mounted on its own.
bool IsNotAllowed(int error) {
    return error == ENAMETOOLONG || error == EACCES || error == EPERM || error == EBUSY;
}

// The target itself rewritten, the way a plain save does: it keeps its inode,
// owner, mode and links. The new bytes go over the old ones before the rest is
// cut off.
bool WriteInPlace(const std::string& target, std::string_view contents) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAll(fd, contents);
    ok = ok && ::ftruncate(fd, static_cast<off_t>(contents.size())) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    return ok;
}

}  // namespace

bool ReadWholeFile(const std::wstring& path, std::string& contents) {
    uint64_t fileSize = 0;
    return ReadFileTail(path, UINT64_MAX, contents, fileSize);
}

bool ReadFileTail(const std::wstring& path, uint64_t limit, std::string& contents, uint64_t& fileSize) {
    const int fd = ::open(PathToBytes(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0;
    if (known && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return false;
    }
    fileSize = known ? static_cast<uint64_t>(info.st_size) : 0;
    if (fileSize > limit && ::lseek(fd, static_cast<off_t>(fileSize - limit), SEEK_SET) < 0) {
        ::close(fd);
        return false;
    }
    contents.clear();
    char buffer[65536];
    while (contents.size() < limit) {
        const ssize_t n =
            ::read(fd, buffer, static_cast<size_t>(std::min<uint64_t>(sizeof buffer, limit - contents.size())));
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
    const int fd = ::open(PathToBytes(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    // O_APPEND with a single write keeps concurrent lines whole.
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
    return n == static_cast<ssize_t>(bytes.size());
}

bool ReplaceFileContents(const std::wstring& path, std::string_view contents) {
    const std::string target = PathToBytes(path);
    bool targetExists = false;
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode) || !MayWrite(target, existing)) {
            return false;
        }
        targetExists = true;
    }
    // A temporary file left by a process that was killed mid-save may carry
    // the name this process would pick (pids are reused), so names are tried
    // until one is free. A new target gets the mode a plain create would give
    // (0666 less the umask); a replaced one keeps its mode.
    static std::atomic<unsigned> sequence{0};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && fd < 0; ++attempt) {
        temporary = target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(sequence.fetch_add(1));
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, targetExists ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) {
            // A name too long for the file system or a folder that this user
            // may not add files to still lets a plain write through.
            return IsNotAllowed(errno) ? WriteInPlace(target, contents) : false;
        }
    }
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAll(fd, contents);
    ok = ok && (!targetExists || ::fchmod(fd, existing.st_mode & 07777) == 0);
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        // A target that cannot be renamed over (a file mounted on its own,
        // say) is written the way a plain save would.
        const bool written = IsNotAllowed(errno) && WriteInPlace(target, contents);
        ::unlink(temporary.c_str());
        return written;
    }
    // The rename itself lives in the folder; flush it too so the new name
    // survives a power cut. A folder that cannot be flushed changes nothing.
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return true;
}

bool DeleteFileAtPath(const std::wstring& path) {
    return ::unlink(PathToBytes(path).c_str()) == 0;
}

void CreateFolder(const std::wstring& path) {
    ::mkdir(PathToBytes(path).c_str(), 0777);
}
