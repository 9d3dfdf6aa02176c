#include "commands/command_warnings.h"

#include "runtime/messages.h"

namespace zelkor {

std::vector<const std::string*> ArchivedNames(const PackCommand& pack)
{
    std::vector<const std::string*> names;
    names.reserve(pack.sources.size());
    for (const PackSource& source : pack.sources)
        names.push_back(source.archivedPath ? &*source.archivedPath : nullptr);
    return names;
}

std::string ClashWarning(const std::string& script, const PackCommand& pack, std::size_t i,
                         const NameClashes::Clash& clash)
{
    const PackSource& source = pack.sources[i];
    const PackSource& earlier = pack.sources[clash.earlier];
    return message::InScript(message::At(script, source.line),
                             clash.sameName
                                 ? message::SameEntryAs(*source.archivedPath, earlier.line)
                                 : message::NameHashOf(*source.archivedPath, *earlier.archivedPath, earlier.line));
}

std::vector<std::string> ScanWarnings(const std::string& script, const GenerateCommand& generate,
                                      const DirectoryScanner::Result& scan, const std::vector<bool>& used)
{
    std::vector<std::string> lines;
    for (const std::string& directory : scan.unreadable)
        lines.push_back(message::CannotScan(directory));
    for (std::size_t k = 0; k < used.size(); ++k) {
        if (!used[k]) {
            const unsigned long line = k < generate.ignoreLines.size() ? generate.ignoreLines[k] : 0;
            lines.push_back(message::InScript(message::At(script, line),
                                              message::IgnoreMatchedNothing(generate.ignorePatterns[k])));
        }
    }
    return lines;
}

}  // namespace zelkor
