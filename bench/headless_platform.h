#pragma once

#include <cstdint>
#include <string>

// Calls onStop once, from a thread of its own, when a stop request that only
// this platform has arrives: the named event "TarnwickHeadlessStop" on
// Windows; nothing elsewhere (signals are handled in headless.cpp).
void WatchForStopRequests(void (*onStop)());

// A path given on the command line, as the file layer takes it: its bytes
// kept as they are on POSIX, read as UTF-8 on Windows.
std::wstring PathArgument(const char* argument);

// Peak resident memory of this process in kilobytes; 0 when unknown.
uint64_t PeakResidentKilobytes();
