#include "inspect/inspect_command_line.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "inspect/cache_command.h"
#include "inspect/check_command.h"
#include "inspect/diff_command.h"
#include "inspect/extract_command.h"
#include "inspect/inspect_messages.h"
#include "inspect/list_command.h"
#include "inspect/report_command.h"
#include "inspect/verify_command.h"
#include "runtime/exit_status.h"

namespace zelkor {

namespace {

struct CommandRow {
    std::string_view name;
    std::string_view summary;  // its line in --help
    std::unique_ptr<InspectCommand> (*make)();
};

template <typename Command>
std::unique_ptr<InspectCommand> Make()
{
    return std::make_unique<Command>();
}

// Every subcommand, in the order --help lists them; a new one is a row here.
constexpr CommandRow Commands[] = {
    {"list", "One row per entry: sizes, method, content hash, name", Make<ListCommand>},
    {"verify", "Decode and hash every entry, check every record, report shared name hashes", Make<VerifyCommand>},
    {"extract", "Write every entry below a directory", Make<ExtractCommand>},
    {"diff", "What changed between two builds: entries added, removed, changed or moved", Make<DiffCommand>},
    {"cache", "The compression cache: entries, bytes, cap, hits, misses and compression saved", Make<CacheCommand>},
    {"check", "What zelkor would say of scripts, found without packing or writing anything", Make<CheckCommand>},
    {"report", "One HTML page of what takes space: totals, a size map, tables", Make<ReportCommand>},
};

// The first argument that is not an option must name a command; the parser would
// only say that one is required. Nothing when it does.
std::optional<std::string> UnknownCommand(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.empty() || argument[0] == '-')
            continue;
        std::vector<std::string_view> names;
        for (const CommandRow& row : Commands) {
            if (row.name == argument)
                return std::nullopt;
            names.push_back(row.name);
        }
        return inspect_message::UnknownCommand(argument, names);
    }
    return std::nullopt;
}

}  // namespace

InspectCommandLine::Parsed InspectCommandLine::Parse(int argc, const char* const* argv, std::ostream& out,
                                                     std::ostream& err)
{
    CommandOptions options;
    std::vector<std::pair<const CommandOptions::Verb*, std::unique_ptr<InspectCommand>>> commands;
    for (const CommandRow& row : Commands) {
        CommandOptions::Verb& part = options.AddVerb(std::string(row.name), std::string(row.summary));
        std::unique_ptr<InspectCommand> command = row.make();
        command->AddOptions(part);
        commands.emplace_back(&part, std::move(command));
    }

    if (const std::optional<std::string> unknown = UnknownCommand(argc, argv)) {
        err << inspect_message::Tool << *unknown << '\n' << inspect_message::RunWithHelp << '\n';
        return {nullptr, ExitFailure};
    }
    if (const std::optional<int> status = options.Parse(argc, argv, out, err))
        return {nullptr, *status};
    for (auto& [part, command] : commands) {
        if (part->Given())
            return {std::move(command), ExitSuccess};
    }
    return {nullptr, ExitFailure};  // the parser has refused a run without a verb already
}

}  // namespace zelkor
