// Directory: a name within it is one component by the system's rule, and the
// files it creates for writing have names nobody can guess.
#include "platform/directory.h"
#include "platform/random_name.h"

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/system_tests.h"
#include "support/temp_dir.h"

namespace zelkor {
namespace {

using testing::TempDir;

TEST(DirectoryTest, ANameIsOneComponent)
{
    TempDir dir;
    const std::optional<Directory> d = Directory::Open(dir.path().string());
    ASSERT_TRUE(d);
    // Each row: a name, and whether it is taken as one on POSIX systems and on
    // Windows, where a backslash also leads down and a colon names a drive or
    // a stream.
    struct Case {
        std::string name;
        bool posix;
        bool windows;
    };
    const std::vector<Case> cases = {
        {"plain", true, true},
        {".hidden", true, true},
        {"a\\b", true, false},
        {"a:b", true, false},
        {"", false, false},
        {".", false, false},
        {"..", false, false},
        {"a/b", false, false},
        {std::string("a\0b", 3), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool taken = testing::OnWindows ? c.windows : c.posix;
        errno = 0;
        EXPECT_EQ(d->MakeDirectory(c.name), taken);
        EXPECT_EQ(d->Enter(c.name).has_value(), taken);
        if (!taken) {
            EXPECT_EQ(errno, EINVAL);
            EXPECT_FALSE(d->OpenForReading(c.name).IsOpen());
            EXPECT_FALSE(d->Remove(c.name));
            EXPECT_FALSE(d->Rename("plain", c.name));
        }
    }
}

TEST(DirectoryTest, UniqueFilesAreNewAndNamedByTheirPrefixAndTwelveLettersOrDigits)
{
    TempDir dir;
    const std::optional<Directory> d = Directory::Open(dir.path().string());
    ASSERT_TRUE(d);
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        std::string name;
        std::vector<std::string> covered;
        File file = d->CreateUnique(".out.zelkor-", name, [&](const std::string& path) { covered.push_back(path); });
        ASSERT_TRUE(file.IsOpen());
        // Covered from before it existed, by its path.
        EXPECT_EQ(covered, std::vector<std::string>{d->PathOf(name)});
        ASSERT_EQ(name.size(), 12 + 12u);
        EXPECT_EQ(name.substr(0, 12), ".out.zelkor-");
        EXPECT_EQ(name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", 12),
                  std::string::npos);
        EXPECT_TRUE(file.WriteAll("x", 1));
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 20u);
    EXPECT_EQ(d->List()->size(), 20u);
    std::string name;
    std::vector<std::string> covered;
    EXPECT_FALSE(d->CreateUnique("a/", name, [&](const std::string& path) { covered.push_back(path); }).IsOpen());
    EXPECT_EQ(errno, EINVAL);
    EXPECT_TRUE(covered.empty());
}

TEST(DirectoryTest, AFailedUniqueFileIsLeftUncovered)
{
    ZELKOR_POSIX_ONLY("a directory that is open cannot be removed on Windows");
    TempDir dir;
    const std::filesystem::path gone = dir.path() / "gone";
    std::filesystem::create_directory(gone);
    const std::optional<Directory> d = Directory::Open(gone.string());
    ASSERT_TRUE(d);
    std::filesystem::remove(gone);
    std::string name;
    std::vector<std::string> covered;
    EXPECT_FALSE(d->CreateUnique(".out.zelkor-", name, [&](const std::string& path) { covered.push_back(path); })
                     .IsOpen());
    EXPECT_EQ(errno, ENOENT);
    // The path tried, then nothing: a signal removes no file of that name.
    ASSERT_EQ(covered.size(), 2u);
    EXPECT_EQ(covered[0].rfind(d->PathOf(".out.zelkor-"), 0), 0u);
    EXPECT_EQ(covered[1], "");
    EXPECT_TRUE(name.empty());
}

TEST(RandomNameTest, EveryLetterAndDigitComesUp)
{
    std::set<std::string> names;
    std::set<char> letters;
    for (int i = 0; i < 400; ++i) {
        const std::string name = RandomName(12);
        ASSERT_EQ(name.size(), 12u);
        letters.insert(name.begin(), name.end());
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 400u);
    // 4,800 draws from 62: missing any one of them has a chance below 1e-30.
    EXPECT_EQ(letters.size(), 62u);
    for (const char c : letters)
        EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) << c;
    EXPECT_EQ(RandomName(0), "");
    EXPECT_EQ(RandomName(100).size(), 100u);
}

}  // namespace
}  // namespace zelkor
