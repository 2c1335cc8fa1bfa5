#pragma once

#include <windows.h>

#include <optional>
#include <string>

// The records editor's Import and Export: the configuration to and from an
// XML file that the user picks.

void RunImportFlow(HWND editor);
void RunExportFlow(HWND editor);

// The Open and Save dialogs: the chosen full path, or nothing when the user
// cancelled or the dialog failed.
std::optional<std::wstring> ChooseImportFile(HWND owner);
std::optional<std::wstring> ChooseExportFile(HWND owner);

// The whole file as raw bytes; nothing when it cannot be opened.
std::optional<std::string> ReadFileText(const std::wstring& path);

// The dialogs that the flows use. Tests replace them to pick files without a
// modal loop.
struct FileChoosers {
    std::optional<std::wstring> (*chooseImportFile)(HWND owner) = ChooseImportFile;
    std::optional<std::wstring> (*chooseExportFile)(HWND owner) = ChooseExportFile;
};
FileChoosers& FileDialogs();
