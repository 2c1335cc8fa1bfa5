#pragma once

#include <cstdint>

// A socket handle wide enough for a Winsock SOCKET and a POSIX descriptor.
using SocketHandle = std::uintptr_t;
constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};
