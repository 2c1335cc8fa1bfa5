#pragma once

#include <string>

// config.xml inside the data folder.
std::wstring ConfigFilePath();

// Resets the live configuration to defaults and loads config.xml over it.
void LoadConfigAtStartup();
