#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zelkor::testing {

// A fresh, empty directory below the system's temporary directory, removed with
// everything in it on destruction. Set ZELKOR_KEEP_TEMP=1 to keep it for a look.
class TempDir {
public:
    // Below `base`, or when it is empty the system's temporary directory.
    explicit TempDir(const std::filesystem::path& base = {});
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // `relative` (UTF-8) below this directory.
    std::filesystem::path operator/(std::string_view relative) const { return path_ / Utf8Path(relative); }

    // A path from UTF-8 text, on every system (Windows' standard library
    // would read a std::string in the system's code page).
    static std::filesystem::path Utf8Path(std::string_view text)
    {
        return std::filesystem::path(std::u8string(text.begin(), text.end()));
    }

    // Writes `content` to `relative`, creating parent directories; returns the full path.
    std::filesystem::path Write(std::string_view relative, std::string_view content) const;

    // The whole content of `relative`; fails the test when it cannot be read.
    std::string Read(std::string_view relative) const;

private:
    std::filesystem::path path_;
};

// Reads a whole file; throws std::runtime_error when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// Writes a whole file, replacing it; throws std::runtime_error on failure.
void WriteFile(const std::filesystem::path& path, std::string_view content);

// Copies `from` over `to`, which may exist. (copy_file's overwrite_existing
// fails on an existing target with the Windows build's standard library.)
void CopyOver(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace zelkor::testing
