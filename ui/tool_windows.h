#pragma once

#include <windows.h>

#include <array>
#include <optional>
#include <string>

#include "core/server_state.h"

// Records editor ("DNS_Settings_Wnd").
enum RecordsEditorControlId {
    kRecordsSaveId = 2001,
    kRecordsCancelId = 2002,
    kRecordsImportId = 2003,
    kRecordsExportId = 2004,
};

// The controls of one editor row, by column.
struct RecordRowControls {
    HWND enabled = nullptr;
    HWND type = nullptr;
    HWND name = nullptr;
    HWND value = nullptr;
    HWND ttl = nullptr;
};

// The 20 rows of the open editor (all null while it is closed).
const std::array<RecordRowControls, kRecordSlotCount>& RecordRows();

// Copies the live record slots into the rows, holding the state lock for the
// whole pass. Valid only while the editor exists.
void FillRecordRows();

// Reads the rows back into the live record slots, saves and logs. Returns
// false when the configuration file could not be written (the user has then
// been told).
bool SaveRecordRows(HWND editor);

// Forwarding window ("DNS_Forward_Wnd").
enum ForwardingControlId {
    kForwardingSaveId = 3001,
    kForwardingCancelId = 3002,
};

// The three edits of the open forwarding window (null while it is closed).
const std::array<HWND, 3>& ForwarderEdits();

void FillForwarderEdits();
bool SaveForwarderEdits(HWND window);

// Log window ("DNS_Log_Wnd").
enum LogWindowControlId {
    kLogRefreshId = 4001,
    kLogCloseId = 4002,
    kLogViewId = 4003,
    kLogClearId = 4004,
};

// The log file as text; empty when it cannot be opened. A file of up to 1 MiB
// comes whole; a larger one by the lines that start in its last 1 MiB, after
// one line that says how much is shown and where the whole file is.
std::wstring ReadLogText(const std::wstring& path);
void ReloadLogView();

// Import and export.
std::optional<std::wstring> ChooseImportFile(HWND owner);
std::optional<std::wstring> ChooseExportFile(HWND owner);
std::optional<std::string> ReadFileText(const std::wstring& path);

// The Open (import) and Save (export) dialog structures; `buffer` must hold
// kFileDialogBufferUnits units and start empty.
constexpr DWORD kFileDialogBufferUnits = 260;
OPENFILENAMEW ImportDialogFields(HWND owner, wchar_t* buffer);
OPENFILENAMEW ExportDialogFields(HWND owner, wchar_t* buffer);

void RunImportFlow(HWND editor);
void RunExportFlow(HWND editor);

// The modal pieces of the tool windows. Tests replace them to pick files and
// to record message boxes without blocking.
struct ToolWindowDialogs {
    std::optional<std::wstring> (*chooseImportFile)(HWND owner) = ChooseImportFile;
    std::optional<std::wstring> (*chooseExportFile)(HWND owner) = ChooseExportFile;
    int(WINAPI* messageBox)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) = MessageBoxW;
};
ToolWindowDialogs& ToolDialogs();

// Shown (with the window's caption) when a save could not write config.xml.
extern const wchar_t kConfigNotWrittenMessage[];
