#include "ui/import_export.h"

#include <mutex>

#include "config/config_storage.h"
#include "config/config_xml.h"
#include "core/file_io.h"
#include "core/server_state.h"
#include "log/event_log.h"
#include "log/text_convert.h"
#include "ui/records_editor.h"
#include "ui/ui_shared.h"

namespace {

// A full path longer than 259 units makes the dialog fail.
constexpr DWORD kFileDialogBufferUnits = 260;
// Description and pattern alternate; the block ends with an extra NUL.
constexpr wchar_t kXmlFilter[] = L"XML Files (*.xml)\0*.xml\0All Files (*.*)\0*.*\0";

using FileDialogFunction = BOOL(WINAPI*)(LPOPENFILENAMEW);

// The Open and Save dialogs differ only in the function that shows them and in
// their flags. Cancelling and a failing dialog (a path longer than the buffer,
// say) both give nothing.
std::optional<std::wstring> ChooseXmlFile(HWND owner, FileDialogFunction showDialog, DWORD flags) {
    wchar_t buffer[kFileDialogBufferUnits] = {};
    OPENFILENAMEW dialog;
    ZeroMemory(&dialog, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = kXmlFilter;
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = buffer;
    dialog.nMaxFile = kFileDialogBufferUnits;
    dialog.lpstrDefExt = L"xml";
    dialog.Flags = flags;
    if (!showDialog(&dialog)) {
        return std::nullopt;
    }
    return std::wstring(buffer);
}

}  // namespace

FileChoosers& FileDialogs() {
    static FileChoosers choosers;
    return choosers;
}

std::optional<std::wstring> ChooseImportFile(HWND owner) {
    return ChooseXmlFile(owner, GetOpenFileNameW, OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST);
}

std::optional<std::wstring> ChooseExportFile(HWND owner) {
    return ChooseXmlFile(owner, GetSaveFileNameW, OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT);
}

std::optional<std::string> ReadFileText(const std::wstring& path) {
    std::string text;
    if (!ReadWholeFile(path, text)) {
        return std::nullopt;
    }
    return text;
}

void RunImportFlow(HWND editor) {
    const std::optional<std::wstring> path = FileDialogs().chooseImportFile(editor);
    if (!path) {
        return;
    }
    const std::optional<std::string> text = ReadFileText(*path);
    if (!text) {
        ShowError(editor, L"Could not read the selected XML file.", L"Import");
        return;
    }
    // A file in which the reader finds nothing of ours would silently reset
    // every setting; it is refused before anything changes. The reader tells
    // what it recognised, and ApplyConfigXml reads the text again.
    ConfigXmlFindings found;
    ParseConfigXml(*text, &found);
    if (!found.forwarderElement && !found.placedRecord) {
        ShowError(editor, L"Could not parse/apply the selected XML file.", L"Import");
        return;
    }
    ApplyConfigXml(*text);
    const bool saved = SaveConfig();
    FillRecordRows();
    if (!saved) {
        ShowError(editor, kConfigNotWrittenMessage, L"Import");
        AppendLogLine("Settings imported but not saved from: " + Utf16ToUtf8(*path));
        return;
    }
    AppendLogLine("Settings imported from: " + Utf16ToUtf8(*path));
}

void RunExportFlow(HWND editor) {
    const std::optional<std::wstring> path = FileDialogs().chooseExportFile(editor);
    if (!path) {
        return;
    }
    std::string text;
    {
        ServerState& state = GetServerState();
        std::lock_guard<std::mutex> hold(state.stateLock);
        text = BuildConfigXml(state.config);
    }
    // The file is written beside the target and swapped in only when every
    // byte reached the disk, so a failed export never leaves a damaged file;
    // a target held open by another program is written in place instead.
    if (!ReplaceFileContents(*path, text)) {
        ShowError(editor, L"Could not write the XML file.", L"Export");
        return;
    }
    AppendLogLine("Settings exported to: " + Utf16ToUtf8(*path));
}
