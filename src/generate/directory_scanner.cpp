#include "generate/directory_scanner.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "platform/ascii.h"

namespace zelkor {

namespace {

unsigned char UpperAscii(unsigned char c)
{
    return static_cast<unsigned char>(AsciiUpper(static_cast<char>(c)));
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
    // The directories on the way from the root to a pending one, by identity,
    // nearest first; shared by siblings.
    struct Ancestor {
        std::uint64_t device;
        std::uint64_t inode;
        std::shared_ptr<const Ancestor> parent;
    };
    struct Pending {
        std::string relative;  // "" is the root
        std::shared_ptr<const Ancestor> ancestors;
    };

    Result result;
    // Last in, first out.
    std::vector<Pending> pending{{std::string(), nullptr}};
    while (!pending.empty()) {
        const Pending directory = std::move(pending.back());
        pending.pop_back();

        const std::string path = DirectoryPath(root, directory.relative);
        std::optional<DirectoryListing> listing = list(path);
        if (!listing) {
            result.unreadable.push_back(path);
            continue;
        }
        // A link back to a directory on its own way from the root would lead
        // round forever. A directory reached again by another way is listed there
        // as well.
        bool cycle = false;
        for (const Ancestor* up = directory.ancestors.get(); up && !cycle; up = up->parent.get())
            cycle = up->device == listing->device && up->inode == listing->inode;
        if (cycle)
            continue;
        const auto self = std::make_shared<const Ancestor>(
            Ancestor{listing->device, listing->inode, directory.ancestors});

        std::vector<DirectoryEntry>& entries = listing->entries;
        std::sort(entries.begin(), entries.end(),
                  [](const DirectoryEntry& a, const DirectoryEntry& b) { return NameLess(a.name, b.name); });
        for (const DirectoryEntry& entry : entries) {
            if (entry.name == "." || entry.name == "..")
                continue;
            std::string child = directory.relative.empty() ? entry.name : directory.relative + "/" + entry.name;
            if (entry.isDirectory)
                pending.push_back({std::move(child), self});
            else
                result.paths.push_back(std::move(child));
        }
    }
    return result;
}

}  // namespace zelkor
