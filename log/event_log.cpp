#include "log/event_log.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "config/data_folder.h"
#include "core/file_io.h"

std::wstring LogFilePath() {
    std::wstring path = DataFolderPath();
    path += kPathSeparator;
    path += L"dns.log";
    return path;
}

namespace {

// Room for the widest text the general format can give: a 10-digit year and
// five separated fields of up to 11 characters each, and the terminator.
constexpr size_t kTimestampCapacity = 72;
constexpr size_t kStackLineCapacity = 512;

// Writes the timestamp into out (kTimestampCapacity bytes) and returns its
// length. Fields outside 0..99, which the clock never gives, go through the
// general format so that they are written whole.
size_t WriteTimestamp(const LocalTimeFields& time, char* out) {
    const int fields[] = {time.month, time.day, time.hour, time.minute, time.second};
    for (const int field : fields) {
        if (field < 0 || field > 99) {
            const int length =
                std::snprintf(out, kTimestampCapacity, "%u-%02d-%02d %02d:%02d:%02d", static_cast<unsigned>(time.year),
                              time.month, time.day, time.hour, time.minute, time.second);
            return length > 0 ? std::min(static_cast<size_t>(length), kTimestampCapacity - 1) : 0;
        }
    }
    char reversed[10];
    size_t yearDigits = 0;
    unsigned year = static_cast<unsigned>(time.year);
    do {
        reversed[yearDigits++] = static_cast<char>('0' + year % 10);
        year /= 10;
    } while (year != 0);
    size_t length = 0;
    while (yearDigits > 0) {
        out[length++] = reversed[--yearDigits];
    }
    const char separators[] = {'-', '-', ' ', ':', ':'};
    for (size_t i = 0; i < 5; ++i) {
        out[length++] = separators[i];
        out[length++] = static_cast<char>('0' + fields[i] / 10);
        out[length++] = static_cast<char>('0' + fields[i] % 10);
    }
    return length;
}

}  // namespace

std::string FormatLogTimestamp(const LocalTimeFields& time) {
    char text[kTimestampCapacity];
    return std::string(text, WriteTimestamp(time, text));
}

std::string FormatLogTimestamp() {
    return FormatLogTimestamp(ReadLocalTime());
}

void AppendLogLine(std::string_view message) {
    const std::wstring path = LogFilePath();
    // The whole line is assembled in one buffer and goes out in one write.
    const size_t capacity = kTimestampCapacity + 1 + message.size() + 2;
    char stackLine[kStackLineCapacity];
    std::string heapLine;
    char* line = stackLine;
    if (capacity > sizeof stackLine) {
        heapLine.resize(capacity);
        line = heapLine.data();
    }
    // The worker and the window thread both append; one line is one write, and
    // the lock keeps this process's own lines from interleaving on any system.
    // The clock is read under it too, so the lines land in time order.
    static std::mutex appendLock;
    std::lock_guard<std::mutex> hold(appendLock);
    size_t length = WriteTimestamp(ReadLocalTime(), line);
    line[length++] = ' ';
    std::memcpy(line + length, message.data(), message.size());
    length += message.size();
    line[length++] = '\r';
    line[length++] = '\n';
    AppendToFile(path, std::string_view(line, length));
}
