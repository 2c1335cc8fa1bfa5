#pragma once

#include <windows.h>

#include <array>

#include "core/server_state.h"

// The records editor "DNS Settings": one row for each of the 20 record slots,
// and the buttons Import, Export, Save and Cancel.

enum RecordsEditorControlId {
    kRecordsSaveId = 2001,
    kRecordsCancelId = 2002,
    kRecordsImportId = 2003,
    kRecordsExportId = 2004,
};

// Opens the editor, owned by `owner` and filled from the live configuration;
// when it is open already, brings it to the front with its unsaved edits.
// Returns the editor, null when it could not be created.
HWND OpenRecordsEditor(HWND owner);

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
