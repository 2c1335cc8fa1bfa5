#include "config/config_storage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config/config_xml.h"
#include "config_storage_faults.h"
#include "config_test_support.h"
#include "core/server_state.h"
#include "log/text_convert.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using config_test::DescribeDifference;
using config_test::WorkedExampleConfig;
using test_support::LiveConfig;
using test_support::ReadBytes;
using test_support::SetLiveConfig;

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::set<std::string> FolderEntries(const fs::path& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.insert(Utf16ToUtf8(test_support::WidePath(entry.path().filename())));
    }
    return names;
}

// A configuration that differs from the defaults in every part, so a load that
// fails to reset something shows.
ServerConfig Scribbled() {
    ServerConfig config;
    config.forwarding = {"203.0.113.1", "203.0.113.2", "203.0.113.3"};
    for (size_t slot = 0; slot < config.records.size(); ++slot) {
        config.records[slot] = {15, "stale" + std::to_string(slot), "x", 5, true};
    }
    return config;
}

// Every test starts and ends with the default live configuration.
class ConfigStorage : public ::testing::Test {
  protected:
    void SetUp() override { SetLiveConfig(ServerConfig{}); }
    void TearDown() override { SetLiveConfig(ServerConfig{}); }
};

TEST_F(ConfigStorage, FirstStartCreatesTheFolderButNoFile) {
    test_support::ScopedDataFolder data;
    ASSERT_FALSE(fs::exists(data.folder()));
    SetLiveConfig(Scribbled());
    LoadConfigAtStartup();
    EXPECT_TRUE(fs::is_directory(data.folder()));
    EXPECT_EQ(DescribeDifference(ServerConfig{}, LiveConfig()), "");
    EXPECT_TRUE(FolderEntries(data.folder()).empty()) << "no config.xml, no log line";
    EXPECT_EQ(test_support::FromWide(ConfigFilePath()), data.folder() / "config.xml");
}

TEST_F(ConfigStorage, UnreadableOrForeignFilesGiveDefaultsAndStayAsTheyAre) {
    struct Case {
        const char* what;
        std::string content;
        ServerConfig expected;
    };
    ServerConfig onlyDns1;
    onlyDns1.forwarding.dns1 = "192.0.2.53";
    const Case cases[] = {
        {"empty file", "", ServerConfig{}},
        {"unrelated text", "hello, world\r\n\x01\x02\xFF", ServerConfig{}},
        {"some other XML", "<?xml version=\"1.0\"?><settings><port>53</port></settings>", ServerConfig{}},
        {"only a forwarder", "<dns1>192.0.2.53</dns1>", onlyDns1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test_support::ScopedDataFolder data;
        fs::create_directories(data.folder());
        WriteBytes(data.folder() / "config.xml", c.content);
        SetLiveConfig(Scribbled());
        LoadConfigAtStartup();
        EXPECT_EQ(DescribeDifference(c.expected, LiveConfig()), "");
        // Start-up never writes: the file keeps its bytes and nothing appears
        // beside it.
        EXPECT_EQ(ReadBytes(data.folder() / "config.xml"), c.content);
        EXPECT_EQ(FolderEntries(data.folder()), std::set<std::string>{"config.xml"});
    }

    // A config.xml that cannot be opened as a file still resets everything.
    test_support::ScopedDataFolder data;
    fs::create_directories(data.folder() / "config.xml");
    SetLiveConfig(Scribbled());
    LoadConfigAtStartup();
    EXPECT_EQ(DescribeDifference(ServerConfig{}, LiveConfig()), "");
    EXPECT_TRUE(fs::is_directory(data.folder() / "config.xml"));
}

TEST_F(ConfigStorage, SaveWritesTheDocumentAndLoadReadsItBack) {
    test_support::ScopedDataFolder data;
    SetLiveConfig(WorkedExampleConfig());
    ASSERT_TRUE(SaveConfig());
    const std::string first = ReadBytes(data.folder() / "config.xml");
    EXPECT_EQ(first, BuildConfigXml(WorkedExampleConfig()));
    EXPECT_EQ(first.size(), 3190u);
    ASSERT_TRUE(SaveConfig());
    EXPECT_EQ(ReadBytes(data.folder() / "config.xml"), first) << "saving twice gives identical files";
    EXPECT_EQ(FolderEntries(data.folder()), std::set<std::string>{"config.xml"}) << "no temporary file left";

    SetLiveConfig(Scribbled());
    LoadConfigAtStartup();
    EXPECT_EQ(DescribeDifference(WorkedExampleConfig(), LiveConfig()), "");
    EXPECT_EQ(ReadBytes(data.folder() / "config.xml"), first);
}

TEST_F(ConfigStorage, ApplyReplacesEverySlotAndWritesNothing) {
    test_support::ScopedDataFolder data;
    SetLiveConfig(Scribbled());
    ApplyConfigXml("<dns2>192.0.2.2</dns2><record index=\"7\"><enabled>1</enabled><name>seven.</name></record>");
    const ServerConfig live = LiveConfig();
    ServerConfig expected;
    expected.forwarding.dns2 = "192.0.2.2";
    expected.records[7].enabled = true;
    expected.records[7].name = "seven";
    EXPECT_EQ(DescribeDifference(expected, live), "");
    EXPECT_TRUE(FolderEntries(data.base()).empty()) << "not even the data folder is touched";
}

TEST_F(ConfigStorage, CarriageReturnFileLoadsAndIsRewrittenWithLineFeeds) {
    test_support::ScopedDataFolder data;
    fs::create_directories(data.folder());
    std::string crlf;
    for (const char c : BuildConfigXml(WorkedExampleConfig())) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    WriteBytes(data.folder() / "config.xml", crlf);
    LoadConfigAtStartup();
    EXPECT_EQ(DescribeDifference(WorkedExampleConfig(), LiveConfig()), "");
    ASSERT_TRUE(SaveConfig());
    EXPECT_EQ(ReadBytes(data.folder() / "config.xml"), BuildConfigXml(WorkedExampleConfig()));
}

TEST_F(ConfigStorage, ReadOnlyFileIsLeftUnchanged) {
    test_support::ScopedDataFolder data;
    SetLiveConfig(WorkedExampleConfig());
    ASSERT_TRUE(SaveConfig());
    const fs::path file = data.folder() / "config.xml";
    const std::string before = ReadBytes(file);
    fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);

    SetLiveConfig(Scribbled());
    EXPECT_FALSE(SaveConfig());
    EXPECT_EQ(ReadBytes(file), before);
    EXPECT_EQ(FolderEntries(data.folder()), std::set<std::string>{"config.xml"});
    // The live configuration keeps the change until the next start.
    EXPECT_EQ(DescribeDifference(Scribbled(), LiveConfig()), "");
    LoadConfigAtStartup();
    EXPECT_EQ(DescribeDifference(WorkedExampleConfig(), LiveConfig()), "");

    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(ConfigStorage, SaveFailsWhenTheDataFolderCannotBeMade) {
    test_support::ScopedDataFolder data;
    // A plain file where the folder should be.
    WriteBytes(data.folder(), "in the way");
    SetLiveConfig(WorkedExampleConfig());
    EXPECT_FALSE(SaveConfig());
    EXPECT_EQ(ReadBytes(data.folder()), "in the way");
    LoadConfigAtStartup();
    EXPECT_EQ(DescribeDifference(ServerConfig{}, LiveConfig()), "");
}

TEST_F(ConfigStorage, TemporaryFilesLeftByAKilledSaveChangeNothing) {
    test_support::ScopedDataFolder data;
    SetLiveConfig(WorkedExampleConfig());
    ASSERT_TRUE(SaveConfig());
    const std::string good = ReadBytes(data.folder() / "config.xml");

    // A save killed after writing part of its temporary file leaves that file
    // behind. Its name may be the one this process would pick next, since
    // process ids are reused: cover the names of this process's next saves.
    const std::string cutShort = good.substr(0, 1000);
    std::set<std::string> expected = {"config.xml"};
    const std::string prefix = "config.xml.tmp-" + std::to_string(config_test::CurrentProcessId()) + "-";
    constexpr int kStrayFiles = 500;
    for (int sequence = 0; sequence < kStrayFiles; ++sequence) {
        const std::string name = prefix + std::to_string(sequence);
        WriteBytes(data.folder() / name, cutShort);
        expected.insert(name);
    }
    WriteBytes(data.folder() / "config.xml.tmp-99999-0", "<dns1>192.0.2.99</dns1>");
    expected.insert("config.xml.tmp-99999-0");

    SetLiveConfig(Scribbled());
    LoadConfigAtStartup();
    EXPECT_EQ(DescribeDifference(WorkedExampleConfig(), LiveConfig()), "");

    SetLiveConfig(Scribbled());
    ASSERT_TRUE(SaveConfig()) << "a stray temporary file must not block saving";
    EXPECT_EQ(ReadBytes(data.folder() / "config.xml"), BuildConfigXml(Scribbled()));
    EXPECT_EQ(FolderEntries(data.folder()), expected) << "others' temporary files are left alone";
    EXPECT_EQ(ReadBytes(data.folder() / (prefix + "0")), cutShort);
}

TEST_F(ConfigStorage, SaveInterruptedBeforeReplacingKeepsTheOldFile) {
    test_support::ScopedDataFolder data;
    SetLiveConfig(WorkedExampleConfig());
    ASSERT_TRUE(SaveConfig());
    const std::string good = ReadBytes(data.folder() / "config.xml");

    SetLiveConfig(Scribbled());
    bool saved = true;
    {
        // Makes the next write fail part-way (full disk), or both the final
        // replacement and a write in place fail, depending on the platform.
        config_test::SaveObstacle obstacle(test_support::FromWide(ConfigFilePath()));
        saved = SaveConfig();
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(ReadBytes(data.folder() / "config.xml"), good);
    EXPECT_EQ(FolderEntries(data.folder()), std::set<std::string>{"config.xml"}) << "temporary file removed";
    LoadConfigAtStartup();
    EXPECT_EQ(DescribeDifference(WorkedExampleConfig(), LiveConfig()), "");

    // Once the obstacle is gone, saving works again.
    SetLiveConfig(Scribbled());
    ASSERT_TRUE(SaveConfig());
    EXPECT_EQ(ReadBytes(data.folder() / "config.xml"), BuildConfigXml(Scribbled()));
}

TEST_F(ConfigStorage, NonAsciiDataFolderPathWorks) {
    const std::string suffix = "-J\xC3\xBCrgen-\xC3\x89loi\xC3\xAFse-\xE6\x97\xA5\xE6\x9C\xAC";  // -Jürgen-Éloïse-日本
    test_support::ScopedDataFolder data(suffix);
    const std::wstring path = ConfigFilePath();
    EXPECT_NE(Utf16ToUtf8(path).find(suffix), std::string::npos);
    SetLiveConfig(WorkedExampleConfig());
    ASSERT_TRUE(SaveConfig());
    EXPECT_TRUE(fs::exists(data.folder() / "config.xml"));
    EXPECT_EQ(ReadBytes(data.folder() / "config.xml"), BuildConfigXml(WorkedExampleConfig()));
    SetLiveConfig(Scribbled());
    LoadConfigAtStartup();
    EXPECT_EQ(DescribeDifference(WorkedExampleConfig(), LiveConfig()), "");
}

// A save started while another thread holds the lock must wait for it: while
// the holder keeps the lock no file appears, and the holder's last change
// before letting go is what the file holds. The holder gives a save that
// ignores the lock every chance to get ahead (a few thousand turns of the
// processor, ended early by the file); a correct save waits whatever that
// takes, so the outcome never depends on timing.
TEST_F(ConfigStorage, SaveWaitsForTheLockBeforeReading) {
    test_support::ScopedDataFolder data;
    const fs::path file = data.folder() / "config.xml";
    ServerState& state = GetServerState();
    const ServerConfig before = WorkedExampleConfig();
    const ServerConfig after = Scribbled();
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        SetLiveConfig(before);
        std::error_code ignored;
        fs::remove(file, ignored);
        std::atomic<bool> saving{false};
        bool saved = false;
        bool writtenWhileHeld = false;
        std::thread saver;
        {
            std::lock_guard<std::mutex> hold(state.stateLock);
            saver = std::thread([&] {
                saving = true;
                saved = SaveConfig();
            });
            while (!saving.load()) std::this_thread::yield();
            for (int turn = 0; turn < 2000 && !writtenWhileHeld; ++turn) {
                std::this_thread::yield();
                writtenWhileHeld = fs::exists(file);
            }
            state.config = after;
        }
        saver.join();
        EXPECT_FALSE(writtenWhileHeld) << "saved while another thread held the lock";
        EXPECT_TRUE(saved);
        EXPECT_EQ(ReadBytes(file), BuildConfigXml(after)) << "the save read the configuration before the lock was free";
    }
}

TEST_F(ConfigStorage, EverySavedFileIsOneWholeConfiguration) {
    test_support::ScopedDataFolder data;
    const ServerConfig a = WorkedExampleConfig();
    const ServerConfig b = Scribbled();
    const std::string documentA = BuildConfigXml(a);
    const std::string documentB = BuildConfigXml(b);
    ServerState& state = GetServerState();
    SetLiveConfig(a);

    // One thread swaps whole configurations in, the way the windows do, while
    // saves run; each file on disk must be exactly one of the two.
    std::atomic<bool> stop{false};
    std::thread editor([&] {
        for (int i = 0; i < 20000 && !stop.load(); ++i) {
            std::lock_guard<std::mutex> hold(state.stateLock);
            state.config.forwarding = (i % 2 == 0 ? a : b).forwarding;
            state.config.records = (i % 2 == 0 ? a : b).records;
        }
    });
    // Judged once the editor is joined, so that a failed check reports
    // instead of ending the test program.
    constexpr int kSaves = 40;
    int failedSaves = 0;
    std::vector<std::string> savedFiles;
    for (int i = 0; i < kSaves; ++i) {
        failedSaves += SaveConfig() ? 0 : 1;
        savedFiles.push_back(ReadBytes(data.folder() / "config.xml"));
    }
    stop = true;
    editor.join();
    EXPECT_EQ(failedSaves, 0);
    for (const std::string& saved : savedFiles) {
        if (saved != documentA && saved != documentB) {
            ADD_FAILURE() << "mixed configuration saved: " << DescribeDifference(a, ParseConfigXml(saved));
        }
    }
}

TEST_F(ConfigStorage, ApplySwapsForwardersAndRecordsTogether) {
    const ServerConfig a = WorkedExampleConfig();
    const ServerConfig b = Scribbled();
    const std::string documentA = BuildConfigXml(a);
    const std::string documentB = BuildConfigXml(b);
    ServerState& state = GetServerState();
    SetLiveConfig(b);
    std::atomic<int> reads{0};
    std::atomic<bool> stop{false};
    std::thread importer([&] {
        // Each swap waits until the reader has looked at least once more.
        for (int i = 0; i < 400 && !stop.load(); ++i) {
            const int seen = reads.load();
            ApplyConfigXml(i % 2 == 0 ? documentA : documentB);
            while (reads.load() == seen && !stop.load()) std::this_thread::yield();
        }
        stop = true;
    });
    // Reads as the DNS worker does, under the lock: forwarders and records
    // must always come from the same document.
    int mixtures = 0;
    for (int i = 0; i < 1000000 && !stop.load(); ++i) {
        {
            std::lock_guard<std::mutex> hold(state.stateLock);
            const bool forwardersFromA = state.config.forwarding.dns1 == a.forwarding.dns1;
            const bool recordsFromA = state.config.records[19].name == a.records[19].name;
            if (forwardersFromA != recordsFromA)
                ++mixtures;
        }
        ++reads;
    }
    stop = true;
    importer.join();
    EXPECT_GE(reads.load(), 400);
    EXPECT_EQ(mixtures, 0);
}

}  // namespace
