#include "config/config_xml.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>

#include "config/number_text.h"
#include "config/ttl_text.h"

namespace {

struct Entity {
    char character;
    std::string_view text;
};

// The five entities of the format, for escaping and unescaping alike.
constexpr Entity kEntities[] = {
    {'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&apos;"},
};

// The blanks that the C library's number parsers skip before a number.
bool IsLeadingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c) {
    return c >= '0' && c <= '9' ? c - '0' : -1;
}

// A number as the C library's strtol/strtoul read it, from ASCII blanks and
// digits only.
ScannedNumber ScanConfigNumber(std::string_view text) {
    return ScanNumber(text, IsLeadingSpace, DigitValue);
}

// Slot index: a signed decimal that must land in 0..19. A saturated or
// negative non-zero value is out of range either way.
bool ReadSlotIndex(std::string_view text, size_t& slot) {
    const ScannedNumber number = ScanConfigNumber(text);
    if (number.saturated || (number.negative && number.magnitude != 0) || number.magnitude >= kRecordSlotCount) {
        return false;
    }
    slot = static_cast<size_t>(number.magnitude);
    return true;
}

// TTL text read like strtoul with a 32-bit unsigned long. Empty text and
// text without digits read as 0 and so become the default.
uint32_t ReadTtl(std::string_view text) {
    return TtlFromNumber(ScanConfigNumber(text));
}

// Built by appending: GCC 12 at -O3 warns falsely on "<" + std::string.
std::string Joined(std::string_view a, std::string_view b, std::string_view c = {}) {
    std::string out;
    out.reserve(a.size() + b.size() + c.size());
    out.append(a);
    out.append(b);
    out.append(c);
    return out;
}

std::string ElementTextOrEmpty(std::string_view element, std::string_view tag) {
    std::string text;
    FindElementText(element, tag, text);
    return text;
}

void AppendLine(std::string& out, int indent, std::string_view text) {
    out.append(static_cast<size_t>(indent), ' ');
    out.append(text);
    out.push_back('\n');
}

void AppendElementLine(std::string& out, int indent, std::string_view tag, std::string_view content) {
    out.append(static_cast<size_t>(indent), ' ');
    out.push_back('<');
    out.append(tag);
    out.push_back('>');
    out.append(content);
    out.append("</");
    out.append(tag);
    out.append(">\n");
}

}  // namespace

std::string XmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const Entity* entity = std::find_if(std::begin(kEntities), std::end(kEntities),
                                            [c](const Entity& candidate) { return candidate.character == c; });
        if (entity != std::end(kEntities)) {
            out.append(entity->text);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string XmlUnescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        bool decoded = false;
        if (text[at] == '&') {
            for (const Entity& entity : kEntities) {
                if (text.substr(at, entity.text.size()) == entity.text) {
                    // Continue after the entity, so the produced character is
                    // never read again as the start of another entity.
                    out.push_back(entity.character);
                    at += entity.text.size();
                    decoded = true;
                    break;
                }
            }
        }
        if (!decoded) {
            out.push_back(text[at]);
            ++at;
        }
    }
    return out;
}

bool FindElementText(std::string_view text, std::string_view tag, std::string& result) {
    const std::string opening = Joined("<", tag, ">");
    const std::string closing = Joined("</", tag, ">");
    const size_t open = text.find(opening);
    if (open == std::string_view::npos) {
        return false;
    }
    const size_t contentStart = open + opening.size();
    const size_t close = text.find(closing, contentStart);
    if (close == std::string_view::npos) {
        return false;
    }
    result.assign(text.substr(contentStart, close - contentStart));
    return true;
}

std::vector<std::string> FindElements(std::string_view text, std::string_view tag) {
    const std::string openerPrefix = Joined("<", tag);
    const std::string closing = Joined("</", tag, ">");
    std::vector<std::string> elements;
    size_t position = 0;
    for (;;) {
        const size_t opener = text.find(openerPrefix, position);
        if (opener == std::string_view::npos) {
            break;
        }
        const size_t openerEnd = text.find('>', opener);
        if (openerEnd == std::string_view::npos) {
            break;
        }
        const size_t close = text.find(closing, openerEnd);
        if (close == std::string_view::npos) {
            break;
        }
        const size_t end = close + closing.size();
        elements.emplace_back(text.substr(opener, end - opener));
        position = end;
    }
    return elements;
}

bool FindAttribute(std::string_view text, std::string_view name, std::string& result) {
    const std::string key = Joined(name, "=\"");
    const size_t keyAt = text.find(key);
    if (keyAt == std::string_view::npos) {
        return false;
    }
    const size_t valueStart = keyAt + key.size();
    const size_t quote = text.find('"', valueStart);
    if (quote == std::string_view::npos) {
        return false;
    }
    result.assign(text.substr(valueStart, quote - valueStart));
    return true;
}

std::string WithoutTrailingDots(std::string text) {
    while (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

std::string BuildConfigXml(const ServerConfig& config) {
    std::string out;
    out.reserve(3200);
    AppendLine(out, 0, "<?xml version=\"1.0\" encoding=\"utf-8\"?>");
    AppendLine(out, 0, "<config>");
    AppendLine(out, 2, "<forwarding>");
    AppendElementLine(out, 4, "dns1", XmlEscape(config.forwarding.dns1));
    AppendElementLine(out, 4, "dns2", XmlEscape(config.forwarding.dns2));
    AppendElementLine(out, 4, "dns3", XmlEscape(config.forwarding.dns3));
    AppendLine(out, 2, "</forwarding>");
    AppendLine(out, 2, "<records>");
    for (size_t slot = 0; slot < config.records.size(); ++slot) {
        const DnsRecord& record = config.records[slot];
        AppendLine(out, 4, Joined("<record index=\"", std::to_string(slot), "\">"));
        AppendElementLine(out, 6, "enabled", record.enabled ? "1" : "0");
        // Every type but A is written as MX; only A and MX exist in the format.
        AppendElementLine(out, 6, "type", record.type == kTypeA ? "A" : "MX");
        AppendElementLine(out, 6, "name", XmlEscape(record.name));
        AppendElementLine(out, 6, "value", XmlEscape(record.value));
        AppendElementLine(out, 6, "ttl", std::to_string(record.ttl));
        AppendLine(out, 4, "</record>");
    }
    AppendLine(out, 2, "</records>");
    AppendLine(out, 0, "</config>");
    return out;
}

ServerConfig ParseConfigXml(std::string_view text, ConfigXmlFindings* findings) {
    ServerConfig config;
    ConfigXmlFindings found;
    // Forwarders: the first occurrence anywhere in the document counts, with
    // its content taken untrimmed.
    std::string forwarder;
    const std::pair<const char*, std::string*> forwarders[] = {
        {"dns1", &config.forwarding.dns1}, {"dns2", &config.forwarding.dns2}, {"dns3", &config.forwarding.dns3}};
    for (const auto& [tag, entry] : forwarders) {
        if (FindElementText(text, tag, forwarder)) {
            *entry = XmlUnescape(forwarder);
            found.forwarderElement = true;
        }
    }

    // In a written document the first "record" element starts at the
    // <records> wrapper and runs to slot 0's closer; slot 0's attribute and
    // children are still the first ones found inside it.
    for (const std::string& element : FindElements(text, "record")) {
        std::string indexText;
        size_t slot = 0;
        if (!FindAttribute(element, "index", indexText) || !ReadSlotIndex(indexText, slot)) {
            continue;
        }
        DnsRecord record;
        record.enabled = ElementTextOrEmpty(element, "enabled") == "1";
        record.type = ElementTextOrEmpty(element, "type") == "MX" ? kTypeMx : kTypeA;
        record.name = WithoutTrailingDots(XmlUnescape(ElementTextOrEmpty(element, "name")));
        record.value = WithoutTrailingDots(XmlUnescape(ElementTextOrEmpty(element, "value")));
        record.ttl = ReadTtl(ElementTextOrEmpty(element, "ttl"));
        // A later element for the same slot replaces an earlier one.
        config.records[slot] = std::move(record);
        found.placedRecord = true;
    }
    if (findings != nullptr) {
        *findings = found;
    }
    return config;
}
