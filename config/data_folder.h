#pragma once

#include <string>

// The per-user folder that holds config.xml and dns.log, without a trailing
// separator. Looked up and created (last level) on every call; never fails.
std::wstring DataFolderPath();

// Tests point the data folder somewhere of their own: a non-empty base is used
// instead of the user's local application-data folder. Empty restores it.
void SetDataFolderBaseForTesting(const std::wstring& base);
