#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "config/config_storage.h"
#include "config/config_xml.h"
#include "config_storage_faults.h"
#include "config_test_support.h"
#include "core/file_io.h"
#include "core/server_state.h"
#include "test_support.h"

namespace config_test {

namespace {

HANDLE blocker = INVALID_HANDLE_VALUE;

}  // namespace

unsigned long CurrentProcessId() {
    return GetCurrentProcessId();
}

unsigned long long FileIdentity(const std::filesystem::path& path) {
    HANDLE file =
        CreateFileW(path.wstring().c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    BY_HANDLE_FILE_INFORMATION info{};
    EXPECT_TRUE(GetFileInformationByHandle(file, &info));
    CloseHandle(file);
    return (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

SaveObstacle::SaveObstacle(const std::filesystem::path& target) {
    // Another program reading config.xml and letting nobody else write it or
    // delete it meanwhile.
    blocker = CreateFileW(target.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
}

SaveObstacle::~SaveObstacle() {
    if (blocker != INVALID_HANDLE_VALUE) {
        CloseHandle(blocker);
        blocker = INVALID_HANDLE_VALUE;
    }
}

}  // namespace config_test

namespace {

namespace fs = std::filesystem;
using config_test::FileIdentity;
using config_test::WorkedExampleConfig;
using test_support::ReadBytes;
using test_support::SetLiveConfig;

ServerConfig Changed() {
    ServerConfig config = WorkedExampleConfig();
    config.records[5] = {1, "changed.test", "192.0.2.55", 55, true};
    return config;
}

size_t EntriesIn(const fs::path& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
}

class ConfigStorageWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLiveConfig(WorkedExampleConfig());
        ASSERT_TRUE(SaveConfig());
        SetLiveConfig(Changed());
    }
    void TearDown() override { SetLiveConfig(ServerConfig{}); }

    fs::path File() const { return data_.folder() / "config.xml"; }

    test_support::ScopedDataFolder data_;
};

// Editors, sync tools and the C runtime's own _wfopen open a file with read
// and write sharing but no delete sharing: it cannot be replaced, but it can
// be written, which is what the save then does.
TEST_F(ConfigStorageWindows, FileHeldOpenWithoutDeleteSharingIsWrittenInPlace) {
    const unsigned long long identity = FileIdentity(File());
    HANDLE holder = CreateFileW(File().wstring().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const bool saved = SaveConfig();

    // The holder sees the new document in the very file it holds.
    const std::string expected = BuildConfigXml(Changed());
    std::string seen(expected.size() + 16, '\0');
    DWORD got = 0;
    SetFilePointer(holder, 0, nullptr, FILE_BEGIN);
    ReadFile(holder, seen.data(), static_cast<DWORD>(seen.size()), &got, nullptr);
    seen.resize(got);
    CloseHandle(holder);
    EXPECT_TRUE(saved);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(ReadBytes(File()), expected);
    EXPECT_EQ(FileIdentity(File()), identity);
    EXPECT_EQ(EntriesIn(data_.folder()), 1u) << "the temporary file is removed";
}

TEST_F(ConfigStorageWindows, HiddenAndSystemMarksSurviveASave) {
    const std::wstring path = File().wstring();
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SaveConfig());
    EXPECT_EQ(ReadBytes(File()), BuildConfigXml(Changed()));
    const DWORD attributes = GetFileAttributesW(path.c_str());
    EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_SYSTEM, 0u);
    EXPECT_EQ(EntriesIn(data_.folder()), 1u);

    // Read-only as well: refused before anything is written.
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY));
    SetLiveConfig(WorkedExampleConfig());
    EXPECT_FALSE(SaveConfig());
    EXPECT_EQ(ReadBytes(File()), BuildConfigXml(Changed()));
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A program without long-path support cannot open a path of 260 units or
// more; where the temporary file's path would reach that, the target itself
// is written. Wine opens such paths, so only the file's identity shows which
// way was taken.
TEST(FileIoWindows, TemporaryPathReachingTheLimitWritesInPlace) {
    test_support::ScratchFolder folder;
    const auto targetOfLength = [&](size_t units) {
        const std::wstring start = folder.wide() + L"\\";
        return start + std::wstring(units - start.size() - 4, L'x') + L".xml";
    };
    const struct {
        size_t targetUnits;
        bool inPlace;
    } cases[] = {{kShortPathLimitUnits - 5, true}, {kShortPathLimitUnits - 60, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.targetUnits);
        const std::wstring target = targetOfLength(c.targetUnits);
        ASSERT_EQ(target.size(), c.targetUnits);
        ASSERT_TRUE(ReplaceFileContents(target, "first"));
        const unsigned long long identity = FileIdentity(target);
        ASSERT_TRUE(ReplaceFileContents(target, "second"));
        EXPECT_EQ(ReadBytes(target), "second");
        EXPECT_EQ(FileIdentity(target) == identity, c.inPlace);
        EXPECT_TRUE(DeleteFileAtPath(target));
    }
    EXPECT_EQ(EntriesIn(folder.path()), 0u);
}

}  // namespace
