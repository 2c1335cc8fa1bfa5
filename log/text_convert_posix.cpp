#include <cstdint>

#include "log/text_convert.h"

// On POSIX a wide character holds a whole code point (UTF-32). Malformed UTF-8
// and lone surrogates become U+FFFD, one replacement per maximal bad sequence,
// which is what the Windows converter does as well.

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = kReplacement;
    }
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes one UTF-8 sequence starting at text[i]; advances i past it.
char32_t DecodeOne(const unsigned char* text, size_t size, size_t& i) {
    const unsigned char lead = text[i++];
    if (lead < 0x80) {
        return lead;
    }
    int trailing = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailing = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailing = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailing = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return kReplacement;
    }
    for (int k = 0; k < trailing; ++k) {
        if (i >= size || (text[i] & 0xC0) != 0x80) {
            return kReplacement;
        }
        cp = (cp << 6) | (text[i] & 0x3F);
        ++i;
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return kReplacement;
    }
    return cp;
}

}  // namespace

std::wstring Utf8ToUtf16(const std::string& text) {
    std::wstring result;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
    size_t size = 0;
    while (size < text.size() && bytes[size] != 0) {
        ++size;
    }
    // Paths and log texts are mostly ASCII: copy that prefix in one sweep,
    // through plain pointers so that the stores cannot be taken to alias the
    // input and force it to be read again.
    result.resize(size);
    wchar_t* out = result.data();
    size_t i = 0;
    while (i < size && bytes[i] < 0x80) {
        out[i] = static_cast<wchar_t>(bytes[i]);
        ++i;
    }
    result.resize(i);
    while (i < size) {
        result.push_back(static_cast<wchar_t>(DecodeOne(bytes, size, i)));
    }
    return result;
}

std::string Utf16ToUtf8(const std::wstring& text) {
    std::string result;
    // Paths are converted on every log line; their ASCII prefix (usually all
    // of them) is copied in one sweep, through plain pointers so that the
    // byte stores cannot be taken to alias the input's length.
    const wchar_t* in = text.data();
    const size_t size = text.size();
    result.resize(size);
    char* out = result.data();
    size_t i = 0;
    while (i < size && in[i] > 0 && in[i] < 0x80) {
        out[i] = static_cast<char>(in[i]);
        ++i;
    }
    result.resize(i);
    for (; i < text.size() && text[i] != 0; ++i) {
        char32_t cp = static_cast<char32_t>(text[i]);
        // Accept a surrogate pair should one arrive in a wide string.
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
            const char32_t low = static_cast<char32_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(result, cp);
    }
    return result;
}
