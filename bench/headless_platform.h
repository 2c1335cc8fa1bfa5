#pragma once

#include <cstdint>

// Calls onStop once, from a thread of its own, when a stop request that only
// this platform has arrives: the named event "TarnwickHeadlessStop" on
// Windows; nothing elsewhere (signals are handled in headless.cpp).
void WatchForStopRequests(void (*onStop)());

// Peak resident memory of this process in kilobytes; 0 when unknown.
uint64_t PeakResidentKilobytes();
