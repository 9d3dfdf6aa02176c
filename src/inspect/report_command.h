#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "inspect/archive_command.h"
#include "inspect/entry_selector.h"
#include "inspect/inspected_archive.h"
#include "report/report_contents.h"

namespace zelkor {

// `report ARCHIVE [PATTERN...] [-o FILE]`: the page at FILE (default:
// ARCHIVE.html); exit status 0.
//
// One self-contained HTML page (ReportPage) of what takes space in an archive,
// drawn from the ReportContents gathered here. Like `list`, it reads only the
// records, so any key file choice works, and it walks the entries without holding them: what it
// keeps is bounded whatever their number (the size map's tree, see SizeMap;
// LargestCount and IncompressibleRows entries with names of at most
// KeptNameLimit bytes; ExtensionLimit extensions), and the shared name hashes
// are found as verify finds them (SharedNameHashes).
class ReportCommand : public ArchiveCommand {
public:
    ReportCommand() : ArchiveCommand(false) {}

    void AddOptions(CommandOptions::Verb& command) override;

private:
    int RunOn(const InspectedArchive& archive, EntrySelector& selector, std::ostream& out,
              std::ostream& err) override;

    std::string page_;

public:
    static constexpr std::size_t LargestCount = ReportContents::LargestCount;
    static constexpr std::uint64_t IncompressibleFrom = ReportContents::IncompressibleFrom;
    static constexpr std::size_t IncompressibleRows = ReportContents::IncompressibleRows;
    static constexpr std::size_t ExtensionLimit = ReportContents::ExtensionLimit;
    static constexpr std::size_t KeptNameLimit = ReportContents::KeptNameLimit;

    using Listed = ReportContents::Listed;
    using Contents = ReportContents;

    // Walks the selected entries.
    static Contents Gather(const InspectedArchive& archive, EntrySelector& selector);

    // The extension of an archived name as the report groups it: what follows
    // the last "." of its last component, in ASCII lower case, when the dot is
    // not the component's first character and 1 to 16 bytes follow; otherwise "".
    static std::string Extension(std::string_view name);

    // Gathers, renders and writes the page to `outputPath` (beside it, renamed
    // into place), then prints one line on `out`. Throws std::runtime_error when
    // the page cannot be written, and when `outputPath` is the archive or its key
    // file, which are never replaced.
    static void Write(const InspectedArchive& archive, EntrySelector& selector, const std::string& outputPath,
                      std::ostream& out);
};

}  // namespace zelkor
