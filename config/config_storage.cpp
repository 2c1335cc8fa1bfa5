#include "config/config_storage.h"

#include <mutex>
#include <utility>

#include "config/config_xml.h"
#include "config/data_folder.h"
#include "core/file_io.h"
#include "core/server_state.h"

std::wstring ConfigFilePath() {
    return DataFolderPath() + kPathSeparator + L"config.xml";
}

void LoadConfigAtStartup() {
    ServerState& state = GetServerState();
    {
        std::lock_guard<std::mutex> hold(state.stateLock);
        state.config.forwarding = ForwarderSettings{};
        state.config.records.fill(DnsRecord{});
    }
    // The file is read and parsed without the lock; a missing or unreadable
    // file leaves the defaults and is not created here.
    std::string text;
    if (!ReadWholeFile(ConfigFilePath(), text)) {
        return;
    }
    ApplyConfigXml(text);
}

void ApplyConfigXml(std::string_view text) {
    ServerConfig parsed = ParseConfigXml(text);
    ServerState& state = GetServerState();
    // Forwarders and records change together, so the DNS worker sees either
    // the old configuration or the new one, never a mixture.
    std::lock_guard<std::mutex> hold(state.stateLock);
    state.config.forwarding = std::move(parsed.forwarding);
    state.config.records = std::move(parsed.records);
}

bool SaveConfig() {
    ServerState& state = GetServerState();
    // Held across building and writing, so the file is a snapshot of one
    // consistent configuration and two saves cannot interleave.
    std::lock_guard<std::mutex> hold(state.stateLock);
    const std::string document = BuildConfigXml(state.config);
    // Written to a temporary file and moved over config.xml: a save cut short
    // by a crash or a full disk leaves the previous file whole. Where that is
    // not possible but a plain write is, the file is written in place.
    return ReplaceFileContents(ConfigFilePath(), document);
}
