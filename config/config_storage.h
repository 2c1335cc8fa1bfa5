#pragma once

#include <string>
#include <string_view>

// Moves the configuration between config.xml in the data folder and the live
// configuration of GetServerState(). All of these run on the window thread and
// must be called without stateLock held.

// The data folder (created when missing) followed by "config.xml".
std::wstring ConfigFilePath();

// Resets the live configuration to the defaults, then applies config.xml when
// it can be read. Never writes anything.
void LoadConfigAtStartup();

// Parses the document and swaps forwarders and all 20 slots into the live
// configuration in one hold of stateLock. Accepts any bytes.
void ApplyConfigXml(std::string_view text);

// Writes the live configuration to config.xml, holding stateLock throughout.
// The file is normally replaced in one step, so it is either the old or the
// new document; held open by another program or at a very long path it is
// written in place (see ReplaceFileContents). False when it could not be
// written (read-only file, no folder, disk full); config.xml then keeps its
// old content.
bool SaveConfig();
