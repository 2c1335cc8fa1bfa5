#include "log/event_log.h"

#include <cstdio>
#include <mutex>

#include "config/data_folder.h"
#include "core/file_io.h"

std::wstring LogFilePath() {
    std::wstring path = DataFolderPath();
    path += kPathSeparator;
    path += L"dns.log";
    return path;
}

std::string FormatLogTimestamp(const LocalTimeFields& time) {
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%u-%02d-%02d %02d:%02d:%02d", static_cast<unsigned>(time.year),
                                     time.month, time.day, time.hour, time.minute, time.second);
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

std::string FormatLogTimestamp() {
    return FormatLogTimestamp(ReadLocalTime());
}

void AppendLogLine(std::string_view message) {
    const std::wstring path = LogFilePath();
    std::string line = FormatLogTimestamp();
    line.reserve(line.size() + 1 + message.size() + 2);
    line += ' ';
    line += message;
    line += "\r\n";
    // The worker and the window thread both append; one line is one write, and
    // the lock keeps this process's own lines from interleaving on any system.
    static std::mutex appendLock;
    std::lock_guard<std::mutex> hold(appendLock);
    AppendToFile(path, line);
}
