#pragma once

#include <string>
#include <string_view>

struct LocalTimeFields {
    int year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
};

// dns.log inside the data folder (creating the folder if it is missing).
std::wstring LogFilePath();

// "YYYY-MM-DD hh:mm:ss" of the local time now; the year is not padded.
std::string FormatLogTimestamp();
std::string FormatLogTimestamp(const LocalTimeFields& time);

// Appends one line: timestamp, blank, the message bytes unchanged, CR LF.
// A line that cannot be written is dropped silently.
void AppendLogLine(std::string_view message);

// Implemented per platform.
LocalTimeFields ReadLocalTime();
