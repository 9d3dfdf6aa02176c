// Generated scripts read back exactly: names of any bytes from 0x20 to 0xFF
// (with &, ", <, ]]> and apostrophes in them) are written by ScriptWriter, loaded
// again, and must give back the same values.
//
// The input holds up to four values separated by 0x00 bytes: the archive path,
// the key path, then added paths. Bytes below 0x20 are dropped.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <boost/property_tree/detail/xml_parser_error.hpp>

#include "generate/directory_scanner.h"
#include "generate/script_writer.h"
#include "scratch_dir.h"
#include "script/script_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static zelkor::fuzz::ScratchDir scratch;
    static const std::string source = (scratch.path() / "empty").string() + "/";
    static const std::string output = (scratch.path() / "out.xml").string();
    static const bool made = std::filesystem::create_directory(source);
    (void)made;

    std::vector<std::string> values(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            values.emplace_back();
        else if (data[i] >= 0x20)
            values.back() += static_cast<char>(data[i]);
    }
    values.resize(std::max<std::size_t>(values.size(), 2));
    const std::string archivePath = values[0];
    const std::string keyPath = values[1];
    const std::vector<std::string> added(values.begin() + 2, values.end());

    // The key path doubles as the key seed path.
    zelkor::GenerateCommand generate{.outputPath = output,
                                     .sourceDirectory = source,
                                     .archivePrefix = "p/",
                                     .archivePath = archivePath,
                                     .addedPaths = added,
                                     .buildKeyfile = true,
                                     .keyPath = keyPath,
                                     .keySeedPath = keyPath};
    generate.Normalize();
    const zelkor::DirectoryScanner::Result scan = zelkor::DirectoryScanner::Scan(generate.sourceDirectory);
    if (!scan.paths.empty() || !scan.unreadable.empty() || !zelkor::ScriptWriter::Write(generate, scan.paths))
        std::abort();

    boost::property_tree::ptree tree;
    zelkor::ScriptLoader::Load(output, tree);  // must load: a failure here is a finding
    const auto& command = tree.get_child("ScriptFile.CreateOrvanPack");
    if (command.get<std::string>("<xmlattr>.ArchivePath") != archivePath ||
        command.get<std::string>("<xmlattr>.KeyPath") != keyPath ||
        command.get<std::string>("<xmlattr>.KeySeedPath") != keyPath ||
        command.get<std::string>("<xmlattr>.BuildKeyfile") != "true")
        std::abort();

    std::size_t index = 0;
    for (const auto& [name, file] : command) {
        if (name != "File")
            continue;
        if (index >= added.size())
            std::abort();
        std::string entry = added[index++];
        for (char& c : entry)
            if (c == '\\')
                c = '/';
        const std::string archived = "p/" + (entry.starts_with('/') ? entry.substr(1) : entry);
        if (file.get<std::string>("<xmlattr>.ArchivedPath") != archived || file.data() != source + entry)
            std::abort();
    }
    if (index != added.size())
        std::abort();
    return 0;
}
