#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "core/file_io.h"

const wchar_t kPathSeparator = L'\\';

namespace {

constexpr int kTemporaryNameAttempts = 1000;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Five tries within about 200 ms: long enough for a scanner's look at a fresh
// file, short enough for a save that holds the state lock.
constexpr int kReplaceAttempts = 5;
constexpr DWORD kReplacePauseMs = 50;
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool WriteAll(HANDLE file, std::string_view bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - written, 1u << 30));
        DWORD done = 0;
        if (!WriteFile(file, bytes.data() + written, chunk, &done, nullptr) || done == 0) {
            return false;
        }
        written += done;
    }
    return true;
}

// The target itself rewritten, the way a plain save does: it keeps its
// identity, attributes, permissions and streams, and programs that hold it
// open with write sharing do not stand in the way. The new bytes go over the
// old ones before the rest is cut off, so where the old file was as long, a
// full disk cannot stop the write.
bool WriteInPlace(const std::wstring& path, std::string_view contents) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = WriteAll(file, contents);
    ok = ok && SetEndOfFile(file);
    ok = ok && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    return ok;
}

enum class Temporary { kCreated, kNotAllowed, kFailed };

// A temporary file left by a process that was killed mid-save may carry the
// name this process would pick (process ids are reused), so names are tried
// until one is free. A name that a program without long-path support could
// not open, or a folder in which this user may not create files, leaves
// writing in place as the only way.
Temporary CreateTemporaryBeside(const std::wstring& path, std::wstring& temporary, HANDLE& file) {
    static std::atomic<unsigned> sequence{0};
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        temporary =
            path + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(sequence.fetch_add(1));
        if (!FitsShortPathLimits(temporary)) {
            return Temporary::kNotAllowed;
        }
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            return Temporary::kCreated;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_FILENAME_EXCED_RANGE) {
            return Temporary::kNotAllowed;
        }
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            return Temporary::kFailed;
        }
    }
    return Temporary::kFailed;
}

// ReplaceFileW keeps the replaced file's attributes, but not every
// implementation carries them all, so the user's hidden or system mark is put
// on the new file beforehand. The archive mark is not carried: the content
// has changed, so the file is due for the next backup.
void CarryAttributes(DWORD attributes, const std::wstring& temporary) {
    const DWORD carried = attributes & kCarriedAttributes;
    const DWORD current = GetFileAttributesW(temporary.c_str());
    if (carried != 0 && current != INVALID_FILE_ATTRIBUTES) {
        SetFileAttributesW(temporary.c_str(), current | carried);
    }
}

// Errors that come from another program holding the target open without
// delete sharing (an editor, a backup or sync tool, the C runtime's own
// _wfopen), or from a virus scanner or indexer that opens a freshly closed
// file for a moment.
bool IsHeldOpenError(DWORD error) {
    switch (error) {
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_ACCESS_DENIED:
        case ERROR_UNABLE_TO_REMOVE_REPLACED:
        case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
            return true;
        default:
            return false;
    }
}

// Whether the target can be replaced now: a handle that another program holds
// without delete sharing makes this fail as the replacement itself would,
// without starting a replacement that fails half-way (Wine's ReplaceFileW
// leaves a stray file of its own behind when it does).
bool CanBeReplaced(const std::wstring& path) {
    HANDLE probe = CreateFileW(path.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(probe);
    return true;
}

// An existing target is replaced with ReplaceFileW, which keeps its
// attributes, access-control list, streams and creation time; a new one (or
// one that a failed replacement has already removed) is moved in place. A
// target held open is tried again for a short, bounded time.
bool MoveIntoPlace(const std::wstring& path, const std::wstring& temporary) {
    for (int attempt = 1;; ++attempt) {
        const bool exists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
        const bool moved = exists ? CanBeReplaced(path) &&
                                        ReplaceFileW(path.c_str(), temporary.c_str(), nullptr, 0, nullptr, nullptr) != 0
                                  : MoveFileExW(temporary.c_str(), path.c_str(),
                                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        if (moved) {
            return true;
        }
        if (attempt == kReplaceAttempts || !IsHeldOpenError(GetLastError())) {
            return false;
        }
        Sleep(kReplacePauseMs);
    }
}

}  // namespace

bool ReadWholeFile(const std::wstring& path, std::string& contents) {
    uint64_t fileSize = 0;
    return ReadFileTail(path, UINT64_MAX, contents, fileSize);
}

bool ReadFileTail(const std::wstring& path, uint64_t limit, std::string& contents, uint64_t& fileSize) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    contents.clear();
    LARGE_INTEGER size{};
    fileSize = GetFileSizeEx(file, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    if (fileSize > limit) {
        LARGE_INTEGER start{};
        start.QuadPart = static_cast<LONGLONG>(fileSize - limit);
        if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
            CloseHandle(file);
            return false;
        }
    }
    char buffer[65536];
    DWORD got = 0;
    while (contents.size() < limit &&
           ReadFile(file, buffer, static_cast<DWORD>(std::min<uint64_t>(sizeof buffer, limit - contents.size())), &got,
                    nullptr) &&
           got > 0) {
        contents.append(buffer, got);
    }
    CloseHandle(file);
    return true;
}

bool AppendToFile(const std::wstring& path, std::string_view bytes) {
    // FILE_APPEND_DATA without FILE_WRITE_DATA makes every write land at the
    // current end of file, so concurrent lines never overwrite each other.
    HANDLE file =
        CreateFileW(path.c_str(), FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD done = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    CloseHandle(file);
    return ok && done == bytes.size();
}

bool ReplaceFileContents(const std::wstring& path, std::string_view contents) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return false;
    }
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    switch (CreateTemporaryBeside(path, temporary, file)) {
        case Temporary::kCreated:
            break;
        case Temporary::kNotAllowed:
            return WriteInPlace(path, contents);
        case Temporary::kFailed:
            return false;
    }
    bool ok = WriteAll(file, contents);
    ok = ok && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    if (!ok) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    if (exists) {
        CarryAttributes(attributes, temporary);
    }
    if (MoveIntoPlace(path, temporary)) {
        return true;
    }
    const bool written = WriteInPlace(path, contents);
    DeleteFileW(temporary.c_str());
    return written;
}

bool DeleteFileAtPath(const std::wstring& path) {
    return DeleteFileW(path.c_str()) != 0;
}

void CreateFolder(const std::wstring& path) {
    CreateDirectoryW(path.c_str(), nullptr);
}
