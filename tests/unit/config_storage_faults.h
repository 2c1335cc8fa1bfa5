#pragma once

#include <filesystem>

// Platform pieces of the configuration storage tests.
namespace config_test {

// The id this process puts into its temporary file names.
unsigned long CurrentProcessId();

// While it exists, replacing the file at `target` fails part-way: on POSIX the
// file size limit makes the write of the temporary file fail (as a full disk
// would); on Windows an open handle without delete sharing makes the final
// replacement fail.
class SaveObstacle {
  public:
    explicit SaveObstacle(const std::filesystem::path& target);
    ~SaveObstacle();
    SaveObstacle(const SaveObstacle&) = delete;
    SaveObstacle& operator=(const SaveObstacle&) = delete;
};

}  // namespace config_test
