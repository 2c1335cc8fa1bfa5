#include "core/utf8.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t codePoint) {
    return codePoint >= 0xD800 && codePoint <= 0xDFFF;
}

}  // namespace

// Shortest form only, no surrogates, nothing beyond U+10FFFF (RFC 3629). A bad
// sequence is consumed up to the first byte that cannot continue it, so the
// text conversions replace it once, as the Windows converter does.
bool DecodeUtf8(std::string_view text, size_t& at, char32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[at++]);
    if (lead < 0x80) {
        codePoint = lead;
        return true;
    }
    int trailing = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailing = 1, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailing = 2, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailing = 3, value = lead & 0x07, minimum = 0x10000;
    } else {
        return false;
    }
    for (int k = 0; k < trailing; ++k) {
        if (at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) {
            return false;
        }
        value = (value << 6) | (static_cast<unsigned char>(text[at]) & 0x3F);
        ++at;
    }
    if (value < minimum || value > 0x10FFFF || IsSurrogate(value)) {
        return false;
    }
    codePoint = value;
    return true;
}

void AppendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint > 0x10FFFF || IsSurrogate(codePoint)) {
        codePoint = kReplacement;
    }
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}
