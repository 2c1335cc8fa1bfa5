#include "ui/status_report.h"

#include "config/config_storage.h"
#include "core/server_state.h"
#include "log/event_log.h"
#include "log/text_convert.h"

const char kAuthorCredit[] = "The Tarnwick developers";
const char kDeveloperUrl[] = "https://tarnwick.example/";

std::string BuildStatusReport() {
    ServerState& state = GetServerState();
    std::string report;
    // The labels are deliberately not aligned to one column; the panel shows
    // them exactly like this.
    report += "Server:           ";
    const bool running = state.running.load();
    report += running ? "RUNNING" : "STOPPED";
    report += "\r\n";
    const int32_t lastError = state.lastSocketError.load();
    if (!running && lastError != 0) {
        report += "Last socket error: ";
        report += std::to_string(lastError);
        report += " (bind UDP/53 often needs admin)\r\n";
    }
    report += "Port:              53 UDP\r\n";
    report += "\r\nRequests:       ";
    report += std::to_string(state.stats.requests.load());
    report += "\r\n";
    report += "Local hits:       ";
    report += std::to_string(state.stats.localHits.load());
    report += "\r\n";
    report += "Forwarded:     ";
    report += std::to_string(state.stats.forwarded.load());
    report += "\r\n";
    report += "\r\nConfig:\r\n    ";
    report += Utf16ToUtf8(ConfigFilePath());
    report += "\r\n";
    report += "Log:\r\n    ";
    report += Utf16ToUtf8(LogFilePath());
    report += "\r\n\r\n";
    report += "Developer:           ";
    report += kAuthorCredit;
    report += "\r\n";
    report += "Developer URL:    ";
    report += kDeveloperUrl;
    report += "\r\n";
    return report;
}
