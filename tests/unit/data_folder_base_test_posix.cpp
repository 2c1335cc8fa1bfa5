// Where the data folder lies on POSIX systems: XDG_DATA_HOME, else
// ~/.local/share, else TMPDIR (or /tmp), each followed by "Tarnwick".
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "config/config_storage.h"
#include "config/config_xml.h"
#include "config/data_folder.h"
#include "core/path_bytes.h"
#include "core/server_state.h"
#include "log/event_log.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::FromWide;
using test_support::ReadBytes;
using test_support::ScratchFolder;

// Sets (or, with nullopt, removes) one environment variable for the scope.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        Apply(value);
    }
    ~ScopedEnvironment() { Apply(old_); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    void Apply(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_, value->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    const char* name_;
    std::optional<std::string> old_;
};

class DataFolderBase : public ::testing::Test {
  protected:
    void SetUp() override { SetDataFolderBase(L""); }
    ScratchFolder scratch_;
};

TEST_F(DataFolderBase, MissingXdgBaseIsCreatedLevelByLevel) {
    const fs::path base = scratch_.path() / "a" / "b" / "c";
    ScopedEnvironment xdg("XDG_DATA_HOME", base.string());
    EXPECT_EQ(FromWide(DataFolderPath()), base / "Tarnwick");
    EXPECT_TRUE(fs::is_directory(base / "Tarnwick"));

    // Removed while running: the next call brings back every level.
    fs::remove_all(scratch_.path() / "a");
    EXPECT_EQ(FromWide(DataFolderPath()), base / "Tarnwick");
    EXPECT_TRUE(fs::is_directory(base / "Tarnwick"));
}

TEST_F(DataFolderBase, ExistingXdgBaseKeepsItsContents) {
    const fs::path base = scratch_.path() / "share";
    fs::create_directories(base / "Tarnwick");
    std::ofstream(base / "Tarnwick" / "dns.log") << "kept";
    ScopedEnvironment xdg("XDG_DATA_HOME", base.string());
    EXPECT_EQ(FromWide(DataFolderPath()), base / "Tarnwick");
    std::ifstream log(base / "Tarnwick" / "dns.log");
    std::string text;
    std::getline(log, text);
    EXPECT_EQ(text, "kept");
}

TEST_F(DataFolderBase, RelativeXdgBaseFallsBackToHome) {
    ScopedEnvironment xdg("XDG_DATA_HOME", std::string("relative/share"));
    ScopedEnvironment home("HOME", (scratch_.path() / "home").string());
    EXPECT_EQ(FromWide(DataFolderPath()), scratch_.path() / "home" / ".local" / "share" / "Tarnwick");
    EXPECT_TRUE(fs::is_directory(scratch_.path() / "home" / ".local" / "share" / "Tarnwick"));
    EXPECT_FALSE(fs::exists("relative"));
}

TEST_F(DataFolderBase, BaseThatIsAFileFallsBackToTheTemporaryFolder) {
    const fs::path file = scratch_.path() / "not-a-folder";
    std::ofstream(file) << "x";
    fs::create_directories(scratch_.path() / "tmp");
    ScopedEnvironment xdg("XDG_DATA_HOME", file.string());
    ScopedEnvironment tmp("TMPDIR", (scratch_.path() / "tmp").string());
    EXPECT_EQ(FromWide(DataFolderPath()), scratch_.path() / "tmp" / "Tarnwick");
    EXPECT_TRUE(fs::is_directory(scratch_.path() / "tmp" / "Tarnwick"));
    EXPECT_TRUE(fs::is_regular_file(file));
}

TEST_F(DataFolderBase, NoUsableBaseAtAllUsesSlashTmp) {
    ScopedEnvironment xdg("XDG_DATA_HOME", std::nullopt);
    ScopedEnvironment home("HOME", std::nullopt);
    ScopedEnvironment tmp("TMPDIR", std::string("not/absolute"));
    const bool existed = fs::exists("/tmp/Tarnwick");
    EXPECT_EQ(FromWide(DataFolderPath()), fs::path("/tmp/Tarnwick"));
    EXPECT_TRUE(fs::is_directory("/tmp/Tarnwick"));
    if (!existed) {
        std::error_code ignored;
        fs::remove("/tmp/Tarnwick", ignored);
    }
}

// A home folder named in Latin-1 is not UTF-8; the data folder under it keeps
// its bytes, so the log and config.xml land there and nowhere else.
TEST_F(DataFolderBase, BaseThatIsNotUtf8KeepsItsBytes) {
    const fs::path home = scratch_.path() / "J\xF6rg";  // "Jörg" in Latin-1
    const fs::path folder = home / ".local" / "share" / "Tarnwick";
    ScopedEnvironment xdg("XDG_DATA_HOME", std::nullopt);
    ScopedEnvironment homeVariable("HOME", home.string());
    EXPECT_EQ(PathToBytes(DataFolderPath()), folder.string());

    AppendLogLine("Log cleared");
    ASSERT_TRUE(SaveConfig());
    EXPECT_EQ(ReadBytes(folder / "config.xml"), BuildConfigXml(test_support::LiveConfig()));
    const std::string log = ReadBytes(folder / "dns.log");
    EXPECT_EQ(log.substr(std::min<size_t>(log.size(), 19)), " Log cleared\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.path()), {}), 1) << "no second, renamed home";
}

}  // namespace
