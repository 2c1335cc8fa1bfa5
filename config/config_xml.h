#pragma once

#include <string>
#include <vector>

#include "core/server_state.h"

// Temporary declarations until the configuration reader and writer land.
std::string BuildConfigXml(const ServerConfig& config);
ServerConfig ParseConfigXml(const std::string& text);
std::string XmlEscape(const std::string& text);
std::string XmlUnescape(const std::string& text);
bool FindElementText(const std::string& text, const std::string& tag, std::string& result);
std::vector<std::string> FindElements(const std::string& text, const std::string& tag);
bool FindAttribute(const std::string& text, const std::string& name, std::string& result);
