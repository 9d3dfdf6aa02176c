#include "support/temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace zelkor::testing {

namespace fs = std::filesystem;

TempDir::TempDir(const fs::path& base)
{
    const fs::path parent = base.empty() ? fs::temp_directory_path() : base;
#ifdef _WIN32
    // No mkdtemp: a random name, taken only when nothing has it yet.
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        std::string name = "zelkor-test-";
        for (int i = 0; i < 6; ++i)
            name += letters[random() % (sizeof letters - 1)];
        std::error_code error;
        if (fs::create_directory(parent / name, error))
            path_ = parent / name;
    }
    if (path_.empty())
        throw std::runtime_error("cannot create a temporary directory");
#else
    std::string pattern = (parent / "zelkor-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary directory");
    path_ = pattern;
#endif
}

TempDir::~TempDir()
{
    const char* keep = std::getenv("ZELKOR_KEEP_TEMP");
    if (keep && *keep && std::string(keep) != "0")
        return;
    std::error_code ignored;
    // Tests may leave directories without permissions behind; give them back first.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ignored);
         !ignored && it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

fs::path TempDir::Write(std::string_view relative, std::string_view content) const
{
    fs::path target = path_ / Utf8Path(relative);
    if (target.has_parent_path())
        fs::create_directories(target.parent_path());
    WriteFile(target, content);
    return target;
}

std::string TempDir::Read(std::string_view relative) const
{
    return ReadFile(path_ / Utf8Path(relative));
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, std::string_view content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void CopyOver(const std::filesystem::path& from, const std::filesystem::path& to)
{
    std::filesystem::remove(to);
    std::filesystem::copy_file(from, to);
}

}  // namespace zelkor::testing
