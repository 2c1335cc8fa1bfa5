#pragma once

#include <string>
#include <string_view>

// Files are always addressed by their full wide path; every character of the
// path is preserved (wide-character APIs on Windows, UTF-8 on POSIX).

// Reads the whole file as raw bytes. False only when the file cannot be opened.
bool ReadWholeFile(const std::wstring& path, std::string& contents);

// Appends the bytes at the end of the file in one write, creating it when
// missing. Other handles may read and write the file meanwhile. False when the
// file cannot be opened.
bool AppendToFile(const std::wstring& path, std::string_view bytes);

// Writes the complete contents to a temporary file beside the target, flushes
// it to disk and then replaces the target in one step. On any failure the
// target is left exactly as it was and the temporary file is removed.
bool ReplaceFileContents(const std::wstring& path, std::string_view contents);

// Deletes a file. False when it could not be deleted (or did not exist).
bool DeleteFileAtPath(const std::wstring& path);

// Creates one folder level; an existing folder or a failure is not reported.
void CreateFolder(const std::wstring& path);

// Separator used when joining paths: '\\' on Windows, '/' elsewhere.
extern const wchar_t kPathSeparator;
