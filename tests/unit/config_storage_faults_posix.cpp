#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "config/config_storage.h"
#include "config_storage_faults.h"
#include "core/file_io.h"
#include "core/server_state.h"
#include "test_support.h"

namespace config_test {

namespace {

rlimit savedSizeLimit{};
struct sigaction savedSignal {};

}  // namespace

unsigned long CurrentProcessId() {
    return static_cast<unsigned long>(::getpid());
}

unsigned long long FileIdentity(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return static_cast<unsigned long long>(info.st_ino);
}

SaveObstacle::SaveObstacle(const std::filesystem::path&) {
    // Writing past the limit raises SIGXFSZ, which would end the process;
    // ignored, the write fails with EFBIG instead, like a full disk.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &savedSignal);
    ::getrlimit(RLIMIT_FSIZE, &savedSizeLimit);
    rlimit small = savedSizeLimit;
    small.rlim_cur = 1000;
    ::setrlimit(RLIMIT_FSIZE, &small);
}

SaveObstacle::~SaveObstacle() {
    ::setrlimit(RLIMIT_FSIZE, &savedSizeLimit);
    ::sigaction(SIGXFSZ, &savedSignal, nullptr);
}

}  // namespace config_test

namespace {

using test_support::InCi;
using test_support::ReadBytes;

mode_t ModeOf(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mode & 07777;
}

TEST(ConfigStoragePosix, NewFileHonoursTheUmaskAndReplacedFileKeepsItsMode) {
    test_support::ScopedDataFolder data;
    const std::filesystem::path file = data.folder() / "config.xml";
    const mode_t previous = ::umask(027);
    const bool first = SaveConfig();
    ::umask(previous);
    ASSERT_TRUE(first);
    EXPECT_EQ(ModeOf(file), 0640u) << "as a plain create would make it";

    ASSERT_EQ(::chmod(file.c_str(), 0604), 0);
    ASSERT_TRUE(SaveConfig());
    EXPECT_EQ(ModeOf(file), 0604u);
}

// The owner's write bit alone does not say whether this process may write a
// file: another user's file with that bit set, in a folder where anyone may
// add and rename files, must still be refused rather than replaced.
TEST(ConfigStoragePosix, FileThisProcessMayNotWriteIsRefused) {
    if (::geteuid() != 0) {
        if (InCi()) {
            FAIL() << "acting as another user needs root";
        }
        GTEST_SKIP() << "acting as another user needs root";
    }
    constexpr uid_t kNobody = 65534;
    test_support::ScratchFolder folder;
    ASSERT_EQ(::chmod(folder.path().c_str(), 0777), 0);
    const std::filesystem::path ownersOnly = folder.path() / "owners-only.xml";
    const std::filesystem::path shared = folder.path() / "shared.xml";
    for (const auto& [file, mode] : {std::pair{ownersOnly, 0644}, std::pair{shared, 0666}}) {
        std::ofstream(file, std::ios::binary) << "old";
        ASSERT_EQ(::chmod(file.c_str(), static_cast<mode_t>(mode)), 0);
    }

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(10);
        }
        int outcome = 0;
        outcome |= ReplaceFileContents(test_support::WidePath(ownersOnly), "new") ? 1 : 0;
        outcome |= ReplaceFileContents(test_support::WidePath(shared), "new") ? 0 : 2;
        ::_exit(outcome);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: another user's file was replaced, 2: a file open to everyone was "
                                         "refused, 10: could not act as another user";
    EXPECT_EQ(ReadBytes(ownersOnly), "old");
    EXPECT_EQ(ReadBytes(shared), "new");
    struct stat info {};
    ASSERT_EQ(::stat(ownersOnly.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u) << "the refused file is still root's own";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 2) << "no temporary file left";
}

}  // namespace
