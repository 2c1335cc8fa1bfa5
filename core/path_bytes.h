#pragma once

#include <string>
#include <string_view>

// POSIX only: a file name there is a byte string, which the wide paths of the
// file layer hold without loss. Both directions stop at the first NUL.
std::wstring PathFromBytes(std::string_view bytes);
std::string PathToBytes(std::wstring_view path);
