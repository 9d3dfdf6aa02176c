#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace zelkor::testing {

// End-to-end runs of zelkor-inspect in a fresh directory, on archives packed by
// the built archiver or written directly with hostile names.
class InspectTest : public ::testing::Test {
protected:
    using Entries = std::vector<std::pair<std::string, std::string>>;  // name, content

    // A small tree below src/: compressible, incompressible, empty, nested files.
    // Archived names are the paths relative to src/.
    void WriteSources();

    // Packs the sources into `archive` with the archiver, with its default key
    // file (archive + ".zlk") when `keyFile`, and further `attributes`.
    void Pack(const std::string& archive, bool keyFile, const std::string& attributes = "");

    // Writes `entries` into `archive` with the archive writer, stored raw, with
    // the key file `archive` + ".zlk" when `keyFile`. Names are taken as given.
    void Craft(const std::string& archive, const Entries& entries, bool keyFile);

    // Writes `archive` and its key file byte by byte: `count` empty entries named
    // "e/0", "e/1"... (the writer would take far longer for millions of them).
    void CraftEmptyEntries(const std::string& archive, std::size_t count);

    // The records of one crafted entry; its stored bytes are zeros, so only
    // commands that read records alone (list, report) see it as intended.
    struct Record {
        std::string name;
        std::uint32_t rawSize = 0;
        std::uint32_t storedSize = 0;
    };
    // Writes `archive` and its key file byte by byte with `count` entries, the
    // i-th as `describe(i)` gives it.
    void CraftRecords(const std::string& archive, std::size_t count,
                      const std::function<Record(std::size_t)>& describe);

    ToolRun Inspect(const std::vector<std::string>& args) { return RunInspect(args, dir_.path()); }

    // Every regular file below `relative`, as paths relative to it, with contents.
    std::map<std::string, std::string> Tree(const std::string& relative) const;

    TempDir dir_;
    std::map<std::string, std::string> sources_;  // archived name -> content
};

// Occurrences of `needle` in `text`.
std::size_t Count(const std::string& text, const std::string& needle);

}  // namespace zelkor::testing
