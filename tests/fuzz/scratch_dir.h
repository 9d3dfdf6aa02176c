#pragma once

// A private directory for one fuzz target process, removed at exit. Fuzz inputs
// that write files only ever write below it.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace zelkor::fuzz {

class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "zelkor-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        path_ = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Removes everything below the directory, keeping the directory itself.
    void Clear() const
    {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(path_, ignored))
            std::filesystem::remove_all(entry.path(), ignored);
    }

private:
    std::filesystem::path path_;
};

}  // namespace zelkor::fuzz
