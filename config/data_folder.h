#pragma once

#include <string>

// The per-user folder that holds config.xml and dns.log, without a trailing
// separator. Looked up and created (last level) on every call; never fails.
std::wstring DataFolderPath();

// Puts the data folder under another base: a non-empty base is used instead of
// the user's local application-data folder (tests, and the headless server's
// --data-folder-base). Empty restores it.
void SetDataFolderBase(const std::wstring& base);

// The user's local application-data folder, or the temporary folder when that
// cannot be had (empty when neither can); one definition per platform.
std::wstring PlatformDataFolderBase();
