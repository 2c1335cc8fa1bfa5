// TEMPORARY stand-ins for pieces other branches deliver (configuration reader,
// writer and storage; shared window state). Removed as soon as they land.
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "config/config_storage.h"
#include "config/config_xml.h"
#include "config/data_folder.h"
#include "core/file_io.h"
#include "core/server_state.h"
#include "ui/ui_shared.h"

UiShared& Ui() {
    static UiShared shared;
    return shared;
}

void ApplySharedFont(HWND control) {
    if (Ui().sharedFont != nullptr) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(Ui().sharedFont), TRUE);
    }
}

LRESULT PaintControlWhite(WPARAM deviceContext) {
    HDC dc = reinterpret_cast<HDC>(deviceContext);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, RGB(255, 255, 255));
    return reinterpret_cast<LRESULT>(Ui().whiteBrush);
}

std::string XmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string XmlUnescape(const std::string& text) {
    static const char* const entities[][2] = {
        {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}};
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        bool matched = false;
        for (const auto& entity : entities) {
            const std::string name = entity[0];
            if (text.compare(i, name.size(), name) == 0) {
                out += entity[1];
                i += name.size();
                matched = true;
                break;
            }
        }
        if (!matched) {
            out += text[i++];
        }
    }
    return out;
}

std::string BuildConfigXml(const ServerConfig& config) {
    std::string x = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<config>\n  <forwarding>\n";
    x += "    <dns1>" + XmlEscape(config.forwarding.dns1) + "</dns1>\n";
    x += "    <dns2>" + XmlEscape(config.forwarding.dns2) + "</dns2>\n";
    x += "    <dns3>" + XmlEscape(config.forwarding.dns3) + "</dns3>\n";
    x += "  </forwarding>\n  <records>\n";
    for (size_t i = 0; i < config.records.size(); ++i) {
        const DnsRecord& r = config.records[i];
        x += "    <record index=\"" + std::to_string(i) + "\">\n";
        x += std::string("      <enabled>") + (r.enabled ? "1" : "0") + "</enabled>\n";
        x += std::string("      <type>") + (r.type == 1 ? "A" : "MX") + "</type>\n";
        x += "      <name>" + XmlEscape(r.name) + "</name>\n";
        x += "      <value>" + XmlEscape(r.value) + "</value>\n";
        x += "      <ttl>" + std::to_string(r.ttl) + "</ttl>\n";
        x += "    </record>\n";
    }
    x += "  </records>\n</config>\n";
    return x;
}

bool FindElementText(const std::string& text, const std::string& tag, std::string& result) {
    const std::string open = "<" + tag + ">";
    const std::string close = "</" + tag + ">";
    const size_t start = text.find(open);
    if (start == std::string::npos) {
        return false;
    }
    const size_t end = text.find(close, start + open.size());
    if (end == std::string::npos) {
        return false;
    }
    result = text.substr(start + open.size(), end - start - open.size());
    return true;
}

std::vector<std::string> FindElements(const std::string& text, const std::string& tag) {
    std::vector<std::string> found;
    const std::string open = "<" + tag;
    const std::string close = "</" + tag + ">";
    size_t position = 0;
    for (;;) {
        const size_t start = text.find(open, position);
        if (start == std::string::npos)
            break;
        const size_t gt = text.find('>', start);
        if (gt == std::string::npos)
            break;
        const size_t end = text.find(close, gt);
        if (end == std::string::npos)
            break;
        found.push_back(text.substr(start, end + close.size() - start));
        position = end + close.size();
    }
    return found;
}

bool FindAttribute(const std::string& text, const std::string& name, std::string& result) {
    const std::string key = name + "=\"";
    const size_t start = text.find(key);
    if (start == std::string::npos)
        return false;
    const size_t end = text.find('"', start + key.size());
    if (end == std::string::npos)
        return false;
    result = text.substr(start + key.size(), end - start - key.size());
    return true;
}

namespace {
long long ReadSigned(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        if (value < 10000000000LL)
            value = value * 10 + (text[i] - '0');
        ++i;
    }
    return negative ? -value : value;
}
std::string StripDots(std::string text) {
    while (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}
}  // namespace

ServerConfig ParseConfigXml(const std::string& text) {
    ServerConfig config;
    std::string found;
    if (FindElementText(text, "dns1", found))
        config.forwarding.dns1 = XmlUnescape(found);
    if (FindElementText(text, "dns2", found))
        config.forwarding.dns2 = XmlUnescape(found);
    if (FindElementText(text, "dns3", found))
        config.forwarding.dns3 = XmlUnescape(found);
    for (const std::string& element : FindElements(text, "record")) {
        std::string indexText;
        if (!FindAttribute(element, "index", indexText))
            continue;
        const long long index = ReadSigned(indexText);
        if (index < 0 || index > 19)
            continue;
        std::string enabled, type, name, value, ttl;
        FindElementText(element, "enabled", enabled);
        FindElementText(element, "type", type);
        FindElementText(element, "name", name);
        FindElementText(element, "value", value);
        FindElementText(element, "ttl", ttl);
        DnsRecord record;
        record.enabled = enabled == "1";
        record.type = type == "MX" ? 15 : 1;
        record.name = StripDots(XmlUnescape(name));
        record.value = StripDots(XmlUnescape(value));
        long long t = ttl.empty() ? 60 : ReadSigned(ttl);
        if (t > 4294967295LL)
            t = 4294967295LL;
        if (t < -4294967295LL)
            t = 4294967295LL;
        uint32_t v = static_cast<uint32_t>(t);
        record.ttl = v == 0 ? 60 : v;
        config.records[static_cast<size_t>(index)] = record;
    }
    return config;
}

std::wstring ConfigFilePath() {
    return DataFolderPath() + L"\\config.xml";
}

void ApplyConfigXml(const std::string& text) {
    ServerConfig parsed = ParseConfigXml(text);
    ServerState& state = GetServerState();
    std::lock_guard<std::mutex> hold(state.stateLock);
    state.config = parsed;
}

void LoadConfigAtStartup() {
    std::string text;
    if (ReadWholeFile(ConfigFilePath(), text)) {
        ApplyConfigXml(text);
    }
}

bool SaveConfig() {
    ServerState& state = GetServerState();
    std::lock_guard<std::mutex> hold(state.stateLock);
    const std::string text = BuildConfigXml(state.config);
    HANDLE file =
        CreateFileW(ConfigFilePath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD done = 0;
    const bool ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) && done == text.size();
    return CloseHandle(file) && ok;
}
