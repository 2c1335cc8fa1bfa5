#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

#include "config/config_storage.h"
#include "config_storage_faults.h"
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

}  // namespace
