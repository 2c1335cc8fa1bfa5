#pragma once

#include <filesystem>

// Platform pieces of the configuration storage tests.
namespace config_test {

// The id this process puts into its temporary file names.
unsigned long CurrentProcessId();

// The file system's number for the file at `path` (inode, file index), which
// stays when the file is rewritten in place and changes when a new file is
// moved over it.
unsigned long long FileIdentity(const std::filesystem::path& path);

// While it exists, saving the file at `target` fails part-way: on POSIX the
// file size limit makes the write of the temporary file fail (as a full disk
// would); on Windows an open handle that shares neither writing nor deleting
// makes both the replacement and a write in place fail.
class SaveObstacle {
  public:
    explicit SaveObstacle(const std::filesystem::path& target);
    ~SaveObstacle();
    SaveObstacle(const SaveObstacle&) = delete;
    SaveObstacle& operator=(const SaveObstacle&) = delete;
};

}  // namespace config_test
