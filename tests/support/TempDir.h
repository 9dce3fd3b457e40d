#pragma once
// A temporary folder for one test, removed with everything in it afterwards;
// a file's bytes written and read as they are; and what du says of them.

#include <cstdint>
#include <filesystem>
#include <string>

namespace corvina::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Writes bytes to a file, replacing it.
void WriteFile(const std::string& path, const std::string& bytes);
// Overwrites the bytes of a file from offset on, in place, as a stray write
// or a failing disk would.
void WriteAt(const std::string& path, std::uint64_t offset, const std::string& bytes);
// A whole file, empty when there is none.
std::string ReadFile(const std::string& path);
// What the real du -sB1 -x says of path: its bytes on disk, each file once; -1 when du fails.
std::int64_t DuBytes(const std::string& path);

}  // namespace corvina::test
