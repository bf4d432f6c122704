// Small helpers shared by the tests.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace quorlane::test {

// A fresh folder under /tmp, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorlane-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string() + "/"; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// The folder holding the project's own libmyutil.so (the media libraries come from the system).
inline const char* DllDir() { return QUORLANE_DLL_DIR; }

// Output of a shell command and its exit status.
struct CommandResult {
    std::string out;
    int status = -1;
};
CommandResult RunCommand(const std::string& command);

}  // namespace quorlane::test
