#include "core/path_bytes.h"
#include "core/utf8.h"

// A file name on POSIX need not be UTF-8 (a home folder named in Latin-1, say),
// yet it must come back from its wide form byte for byte, or every file under
// it is lost. Valid UTF-8 becomes its code points, as in the text conversions;
// each byte that is not part of valid UTF-8 becomes U+DC00 plus the byte. Such
// bytes are 0x80 or above, so these are lone surrogates U+DC80..U+DCFF, which
// no valid UTF-8 decodes to: a path that came from bytes holds them for no
// other reason, and they turn back into the very bytes they stand for.

namespace {

constexpr char32_t kEscapeBase = 0xDC00;

bool IsEscapedByte(char32_t codePoint) {
    return codePoint >= kEscapeBase + 0x80 && codePoint <= kEscapeBase + 0xFF;
}

}  // namespace

std::wstring PathFromBytes(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    std::wstring path;
    path.reserve(bytes.size());
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t start = at;
        char32_t codePoint = 0;
        if (DecodeUtf8(bytes, at, codePoint)) {
            path.push_back(static_cast<wchar_t>(codePoint));
            continue;
        }
        // The bytes after the lead of a bad sequence are continuation bytes,
        // which are no valid start either, so each is held on its own.
        for (size_t i = start; i < at; ++i) {
            path.push_back(static_cast<wchar_t>(kEscapeBase + static_cast<unsigned char>(bytes[i])));
        }
    }
    return path;
}

std::string PathToBytes(std::wstring_view path) {
    path = path.substr(0, path.find(L'\0'));
    std::string bytes;
    bytes.reserve(path.size());
    for (const wchar_t character : path) {
        const auto codePoint = static_cast<char32_t>(character);
        if (IsEscapedByte(codePoint)) {
            bytes.push_back(static_cast<char>(codePoint - kEscapeBase));
        } else {
            AppendUtf8(bytes, codePoint);
        }
    }
    return bytes;
}
