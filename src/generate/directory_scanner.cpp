#include "generate/directory_scanner.h"

#include <algorithm>
#include <set>
#include <utility>

namespace zelkor {

namespace {

unsigned char UpperAscii(unsigned char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// The order of an NTFS listing: letters compared as upper case, so "B" and "b"
// sit together, and names equal but for case ordered by their bytes.
bool NameLess(const std::string& a, const std::string& b)
{
    const auto folded = std::lexicographical_compare_three_way(
        a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return UpperAscii(static_cast<unsigned char>(x)) <=>
                   UpperAscii(static_cast<unsigned char>(y));
        });
    if (folded != 0)
        return folded < 0;
    return a < b;  // std::char_traits<char> compares bytes as unsigned
}

// The path of the directory `relative` below `root`, as handed to the listing
// and shown in messages.
std::string DirectoryPath(const std::string& root, const std::string& relative)
{
    if (relative.empty())
        return root.empty() ? "." : root;
    if (root.empty())
        return relative;
    if (root.back() == '/')
        return root + relative;
    return root + "/" + relative;
}

}  // namespace

DirectoryScanner::Result DirectoryScanner::Scan(const std::string& root)
{
    return Scan(root, &DirectoryListing::Read);
}

DirectoryScanner::Result DirectoryScanner::Scan(const std::string& root, const Lister& list)
{
    Result result;
    // Directories still to list, by their path relative to the root ("" is the
    // root). Last in, first out.
    std::vector<std::string> pending{std::string()};
    std::set<std::pair<std::uint64_t, std::uint64_t>> entered;

    while (!pending.empty()) {
        const std::string relative = std::move(pending.back());
        pending.pop_back();

        const std::string path = DirectoryPath(root, relative);
        std::optional<DirectoryListing> listing = list(path);
        if (!listing) {
            result.unreadable.push_back(path);
            continue;
        }
        // Reached a second time through a link: its files are already listed, and
        // entering it again could go on forever.
        if (!entered.emplace(listing->device, listing->inode).second)
            continue;

        std::vector<DirectoryEntry>& entries = listing->entries;
        std::sort(entries.begin(), entries.end(),
                  [](const DirectoryEntry& a, const DirectoryEntry& b) { return NameLess(a.name, b.name); });
        for (const DirectoryEntry& entry : entries) {
            if (entry.name == "." || entry.name == "..")
                continue;
            std::string child = relative.empty() ? entry.name : relative + "/" + entry.name;
            if (entry.isDirectory)
                pending.push_back(std::move(child));
            else
                result.paths.push_back(std::move(child));
        }
    }
    return result;
}

}  // namespace zelkor
