#pragma once

#include <string>

// Temporary declarations until the configuration storage lands.
std::wstring ConfigFilePath();
void LoadConfigAtStartup();
void ApplyConfigXml(const std::string& text);
bool SaveConfig();
