#include <windows.h>
// psapi.h needs the types of windows.h first.
#include <psapi.h>

#include <thread>

#include "bench/headless_platform.h"
#include "log/text_convert.h"

void WatchForStopRequests(void (*onStop)()) {
    // A manual-reset event that a controlling process may open and set.
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, L"TarnwickHeadlessStop");
    if (event == nullptr) {
        return;
    }
    std::thread([event, onStop] {
        if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) {
            onStop();
        }
        CloseHandle(event);
    }).detach();
}

std::wstring PathArgument(const char* argument) {
    return Utf8ToUtf16(argument);
}

uint64_t PeakResidentKilobytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        return 0;
    }
    return counters.PeakWorkingSetSize / 1024;
}
