#include "core/file_io.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "config_storage_faults.h"
#include "log/text_convert.h"
#include "test_support.h"

namespace {

using test_support::ReadBytes;

// A path of exactly `units` characters whose names stay short.
std::wstring PathOfUnits(size_t units) {
    std::wstring path = L"C:";
    while (path.size() < units) {
        path += path.size() % 100 == 2 ? L'\\' : L'p';
    }
    return path;
}

TEST(FileIo, ShortPathLimitsCountUtf16Units) {
    const std::wstring pair = Utf8ToUtf16("\xF0\x9F\x98\x80");  // one character, two UTF-16 units
    const std::wstring name(kFileNameLimitUnits, L'n');
    const struct {
        const char* what;
        std::wstring path;
        bool fits;
    } cases[] = {
        {"empty", L"", true},
        {"259 units", PathOfUnits(259), true},
        {"260 units", PathOfUnits(260), false},
        {"259 units ending in a pair", PathOfUnits(257) + pair, true},
        {"260 units ending in a pair", PathOfUnits(258) + pair, false},
        {"a name of 255 units", L"C:\\" + name, true},
        {"a name of 256 units", L"C:\\" + name + L"n", false},
        {"a name of 256 units after a slash", L"C:/" + name + L"n", false},
        {"a name of 253 units and a pair", L"C:\\" + name.substr(2) + pair, true},
        {"a name of 254 units and a pair", L"C:\\" + name.substr(1) + pair, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(FitsShortPathLimits(c.path), c.fits);
    }
}

// The temporary name adds to the file's own name; where the result would be
// too long a name, the target is written in place like a plain save.
TEST(FileIo, TemporaryNameTooLongWritesTheTargetInPlace) {
    test_support::ScratchFolder folder;
    const std::wstring name(kFileNameLimitUnits - 4, L'n');
    const std::wstring target = folder.wide() + kPathSeparator + name + L".xml";
    const std::filesystem::path file = test_support::FromWide(target);
    ASSERT_TRUE(ReplaceFileContents(target, "a longer first text"));
    EXPECT_EQ(ReadBytes(file), "a longer first text");
    const unsigned long long identity = config_test::FileIdentity(file);
    ASSERT_TRUE(ReplaceFileContents(target, "second"));
    EXPECT_EQ(ReadBytes(file), "second") << "the old tail is cut off";
    EXPECT_EQ(config_test::FileIdentity(file), identity) << "rewritten in place, not replaced";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

// Only the tail is read (the rest is sought past), and the size is the whole
// file's; a limit at or above the size reads everything.
TEST(FileIo, ReadFileTailReadsTheLastBytesAndTheWholeSize) {
    test_support::ScratchFolder folder;
    const std::wstring path = folder.wide() + kPathSeparator + L"tail.txt";
    ASSERT_TRUE(ReplaceFileContents(path, "0123456789"));
    std::string bytes = "stale";
    uint64_t size = 0;
    ASSERT_TRUE(ReadFileTail(path, 4, bytes, size));
    EXPECT_EQ(bytes, "6789");
    EXPECT_EQ(size, 10u);
    for (const uint64_t limit : {uint64_t{10}, uint64_t{11}}) {
        ASSERT_TRUE(ReadFileTail(path, limit, bytes, size));
        EXPECT_EQ(bytes, "0123456789");
    }
    EXPECT_FALSE(ReadFileTail(path + L".missing", 4, bytes, size));
}

}  // namespace
