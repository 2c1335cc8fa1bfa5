#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Files are always addressed by their full wide path; every character of the
// path is preserved (wide-character APIs on Windows, UTF-8 on POSIX).

// Reads the whole file as raw bytes. False only when the file cannot be opened.
bool ReadWholeFile(const std::wstring& path, std::string& contents);

// Reads the last `limit` bytes of the file (all of it when it is no longer),
// seeking past the rest, and reports the file's size. False only when the file
// cannot be opened.
bool ReadFileTail(const std::wstring& path, uint64_t limit, std::string& contents, uint64_t& fileSize);

// Appends the bytes at the end of the file in one write, creating it when
// missing. Other handles may read and write the file meanwhile. False when the
// file cannot be opened.
bool AppendToFile(const std::wstring& path, std::string_view bytes);

// Saves the complete contents to the file. Normally they go to a temporary
// file beside the target, are flushed to disk and then replace the target in
// one step, keeping the target's attributes and permissions; a failure up to
// that point leaves the target exactly as it was. Where that way is closed but
// a plain write is not (the target held open by another program without
// delete sharing beyond a short wait, a temporary name too long or not
// allowed), the target is written in place instead, the way a plain save does.
// A read-only target is refused before anything is written. The temporary file
// never outlives the call.
bool ReplaceFileContents(const std::wstring& path, std::string_view contents);

// The longest path, in UTF-16 units without the terminating NUL, that a program
// that is not long-path aware can open on Windows, and the longest single name
// in it.
constexpr size_t kShortPathLimitUnits = 259;
constexpr size_t kFileNameLimitUnits = 255;

// True when the path keeps within both limits above.
bool FitsShortPathLimits(std::wstring_view path);

// Deletes a file. False when it could not be deleted (or did not exist).
bool DeleteFileAtPath(const std::wstring& path);

// Creates one folder level; an existing folder or a failure is not reported.
void CreateFolder(const std::wstring& path);

// Separator used when joining paths: '\\' on Windows, '/' elsewhere.
extern const wchar_t kPathSeparator;
