#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"

// The config.xml document: a fixed 150-line layout written byte for byte, and a
// tolerant substring scanner that reads it back. Neither direction can fail.

// The whole document for one configuration, LF line ends, UTF-8 as stored.
std::string BuildConfigXml(const ServerConfig& config);

// What the reader recognised of ours in a document: a forwarder element (even
// an empty one), and a record element that it placed in a slot.
struct ConfigXmlFindings {
    bool forwarderElement = false;
    bool placedRecord = false;
};

// Any bytes at all; every field that is missing or does not read keeps its
// default, and record elements that cannot be placed are ignored. `findings`,
// when given, tells what was recognised.
ServerConfig ParseConfigXml(std::string_view text, ConfigXmlFindings* findings = nullptr);

// The text with every trailing dot removed: names and values are stored
// without them, whether read from a document or typed into the editor.
std::string WithoutTrailingDots(std::string text);

// The five entities &amp; &lt; &gt; &quot; &apos;, and nothing else.
std::string XmlEscape(std::string_view text);
std::string XmlUnescape(std::string_view text);

// Content between the first "<tag>" and the next "</tag>", untrimmed. When not
// found, false and `result` is left untouched.
bool FindElementText(std::string_view text, std::string_view tag, std::string& result);

// Every "<tag...>...</tag>" in document order, opener and closer included. The
// opener only has to start with "<tag", so "<records>" opens a "record".
std::vector<std::string> FindElements(std::string_view text, std::string_view tag);

// Bytes between the first `name="` anywhere in the text and the next '"'. When
// not found, false and `result` is left untouched.
bool FindAttribute(std::string_view text, std::string_view name, std::string& result);
