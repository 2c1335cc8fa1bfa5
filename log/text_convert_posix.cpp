#include "core/utf8.h"
#include "log/text_convert.h"

// On POSIX a wide character holds a whole code point (UTF-32). Malformed UTF-8
// and lone surrogates become U+FFFD, one replacement per maximal bad sequence,
// which is what the Windows converter does as well.

namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

std::wstring Utf8ToUtf16(const std::string& text) {
    const std::string_view bytes(text.c_str());  // up to the first NUL
    std::wstring result;
    result.reserve(bytes.size());
    size_t at = 0;
    while (at < bytes.size()) {
        char32_t codePoint = 0;
        result.push_back(static_cast<wchar_t>(DecodeUtf8(bytes, at, codePoint) ? codePoint : kReplacement));
    }
    return result;
}

std::string Utf16ToUtf8(const std::wstring& text) {
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size() && text[i] != 0; ++i) {
        char32_t codePoint = static_cast<char32_t>(text[i]);
        // Accept a surrogate pair should one arrive in a wide string.
        if (codePoint >= 0xD800 && codePoint <= 0xDBFF && i + 1 < text.size()) {
            const char32_t low = static_cast<char32_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(result, codePoint);
    }
    return result;
}
