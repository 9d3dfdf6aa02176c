#pragma once

#include <span>
#include <string>
#include <string_view>

// The messages that zelkor-inspect writes about a run as a whole (docs/messages.md
// lists them under "zelkor-inspect's messages"). Arguments are bytes as given; each
// message shows them with control characters as \xNN (InspectedArchive::Printable).
// Lines about single entries are made where the entry is judged.
namespace zelkor::inspect_message {

// The start of every such line on standard error.
inline constexpr std::string_view Tool = "zelkor-inspect: ";
// The line after a bad command line, as the option parser writes it too.
inline constexpr std::string_view RunWithHelp = "Run with --help for more information.";

std::string UnknownCommand(std::string_view argument, std::span<const std::string_view> commands);
std::string NoEntryMatches(std::string_view pattern);
std::string PatternsWithoutNames(std::string_view archive);
// An archive of a merged view (--mount) read without a key file.
std::string MergedViewWithoutNames(std::string_view archive);
// Appended to the reader's message about another archive's key file.
inline constexpr std::string_view ForeignKeyFileAdvice =
    "; read the archive alone with --no-key if it was built without a key file, or name its own key file with"
    " --key FILE";
inline constexpr std::string_view OutOfMemory = "out of memory";
inline constexpr std::string_view CannotWriteOutput = "cannot write the output";

// The page of report: it cannot be made at `page`, or `page` is one of the
// files it describes (`what`: "the archive itself", "the archive's key file").
std::string CannotCreatePage(std::string_view page);
std::string CannotWritePage(std::string_view page);
std::string PageOverInput(std::string_view page, std::string_view what);

// The `hint:` of verify and extract when every entry failed to decode: the
// entry decodes without the key file read; the key file read is likely another
// build's; none was read, and the archive likely has one.
std::string DecodesWithoutKeyFile(std::string_view keyPath);
std::string LikelyAnotherKeyFile(std::string_view keyPath);
std::string LikelyBuiltWithKeyFile();

}  // namespace zelkor::inspect_message
