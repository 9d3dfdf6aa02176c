#include "inspect/inspect_messages.h"

#include "inspect/inspected_archive.h"

namespace zelkor::inspect_message {

std::string UnknownCommand(std::string_view argument, std::span<const std::string_view> commands)
{
    std::string message = "unknown command " + InspectedArchive::Printable(argument) + "; the commands are ";
    for (std::size_t k = 0; k < commands.size(); ++k) {
        message += k == 0 ? "" : k + 1 == commands.size() ? " and " : ", ";
        message += commands[k];
    }
    return message;
}

std::string NoEntryMatches(std::string_view pattern)
{
    return "no entry matches " + InspectedArchive::Printable(pattern);
}

std::string PatternsWithoutNames(std::string_view archive)
{
    return "patterns select entries by name, and " + InspectedArchive::Printable(archive) +
           " is read without a key file, which holds the names: name it with --key FILE";
}

std::string MergedViewWithoutNames(std::string_view archive)
{
    return "the merged view of several archives is a tree of names, and " + InspectedArchive::Printable(archive) +
           " is read without a key file, which holds the names: give it its key file";
}

std::string CannotCreatePage(std::string_view page)
{
    return "cannot create " + InspectedArchive::Printable(page);
}

std::string CannotWritePage(std::string_view page)
{
    return "cannot write " + InspectedArchive::Printable(page);
}

std::string PageOverInput(std::string_view page, std::string_view what)
{
    return "not writing the page over " + InspectedArchive::Printable(page) + ", " + std::string(what) +
           "; name another file with -o";
}

std::string DecodesWithoutKeyFile(std::string_view keyPath)
{
    return "every entry failed to decode with the key file " + InspectedArchive::Printable(keyPath) +
           ", and decodes without it: the archive was built without a key file; use --no-key";
}

std::string LikelyAnotherKeyFile(std::string_view keyPath)
{
    return "every entry failed to decode; the key file " + InspectedArchive::Printable(keyPath) +
           " is likely not the one this archive was built with (an archive does not record its key file): name"
           " the right one with --key FILE, or use --no-key if the archive was built without one";
}

std::string LikelyBuiltWithKeyFile()
{
    return "every entry failed to decode; the archive was likely built with a key file (an archive does not"
           " record whether it has one): name it with --key FILE";
}

}  // namespace zelkor::inspect_message
