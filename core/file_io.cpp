#include "core/file_io.h"

bool FitsShortPathLimits(std::wstring_view path) {
    // Counted in UTF-16 units, the units Windows counts, also where a wide
    // character holds a whole code point (beyond 16 bits: a surrogate pair).
    size_t pathUnits = 0;
    size_t nameUnits = 0;
    for (const wchar_t c : path) {
        const size_t units = (static_cast<uint32_t>(c) >> 16) != 0 ? 2 : 1;
        pathUnits += units;
        nameUnits = (c == L'\\' || c == L'/') ? 0 : nameUnits + units;
        if (pathUnits > kShortPathLimitUnits || nameUnits > kFileNameLimitUnits) {
            return false;
        }
    }
    return true;
}
