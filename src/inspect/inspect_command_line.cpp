#include "inspect/inspect_command_line.h"

#include <CLI/CLI.hpp>

namespace zelkor {

namespace {

// The key file choice for one archive: --key FILE or --no-key, or with a prefix
// for the second archive of diff (--new-key, --new-no-key).
struct KeyOptions {
    CLI::Option* key = nullptr;
    CLI::Option* noKey = nullptr;

    InspectedArchive::KeyChoice Choice() const
    {
        if (key->count() > 0)
            return InspectedArchive::KeyChoice::Given;
        if (noKey->count() > 0)
            return InspectedArchive::KeyChoice::None;
        return InspectedArchive::KeyChoice::Default;
    }
};

KeyOptions AddKeyOptions(CLI::App& command, const std::string& prefix, const std::string& archive,
                         std::string& keyPath)
{
    KeyOptions added;
    added.key = command
                    .add_option("--" + prefix + "key", keyPath,
                                "The key file of " + archive +
                                    ", which holds the names and the second key share (default: " + archive +
                                    ".zlk when that file exists, otherwise none)")
                    ->type_name("FILE");
    added.noKey = command.add_flag("--" + prefix + "no-key")
                      ->description("Read " + archive + " alone, without a key file");
    added.key->excludes(added.noKey);
    return added;
}

// The options of the commands that read one archive.
KeyOptions AddArchiveOptions(CLI::App& command, InspectOptions& options)
{
    command.add_option("ARCHIVE", options.archive, "The archive file")->required();
    command.add_option("PATTERN", options.patterns,
                       "Only the entries whose names match one of these (* any run, ? one character;"
                       " letter case and \\ against / do not count)");
    return AddKeyOptions(command, "", "ARCHIVE", options.keyPath);
}

// The first argument that is not an option must name a command; CLI11 would only
// say that one is required. Nothing when it does.
std::optional<std::string> UnknownCommand(const CLI::App& app, int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.empty() || argument[0] == '-')
            continue;
        std::vector<std::string> names;
        for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
            if (command->get_name() == argument)
                return std::nullopt;
            names.push_back(command->get_name());
        }
        std::string message = "unknown command " + InspectedArchive::Printable(argument) + "; the commands are ";
        for (std::size_t k = 0; k < names.size(); ++k)
            message += (k == 0 ? "" : k + 1 == names.size() ? " and " : ", ") + names[k];
        return message;
    }
    return std::nullopt;
}

}  // namespace

std::optional<InspectOptions> InspectCommandLine::Parse(int argc, const char* const* argv,
                                                        std::ostream& out, std::ostream& err, int& status)
{
    InspectOptions options;
    CLI::App app{"Lists, verifies, compares, extracts and reports on Zelkor archives, and shows the compression cache.",
                 "zelkor-inspect"};
    app.set_version_flag("--version", std::string("zelkor-inspect ") + ZELKOR_VERSION);
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 all good; 1 some entries bad (verify), not written (extract), a pattern that "
        "matched nothing, or archives that differ (diff); 2 an archive or key file cannot be read or "
        "is malformed.");

    CLI::App* list = app.add_subcommand("list", "One row per entry: sizes, method, content hash, name");
    const KeyOptions listKey = AddArchiveOptions(*list, options);
    list->add_flag("--json", options.json, "Write one JSON document");

    CLI::App* verify = app.add_subcommand(
        "verify", "Decode and hash every entry, check every record, report shared name hashes");
    const KeyOptions verifyKey = AddArchiveOptions(*verify, options);
    verify->add_flag("--json", options.json, "Write one JSON document");

    CLI::App* extract = app.add_subcommand("extract", "Write every entry below a directory");
    const KeyOptions extractKey = AddArchiveOptions(*extract, options);
    extract->add_option("-o,--output", options.directory, "The directory to write below")
        ->capture_default_str()
        ->type_name("DIR");
    extract->add_flag("--force", options.force,
                      "Overwrite existing files; a later entry of the same name wins");

    CLI::App* diff = app.add_subcommand(
        "diff", "What changed between two builds: entries added, removed, changed or moved");
    diff->add_option("OLD", options.archive, "The archive of the earlier build")->required();
    diff->add_option("NEW", options.newArchive, "The archive of the later build")->required();
    const KeyOptions oldKey = AddKeyOptions(*diff, "", "OLD", options.keyPath);
    const KeyOptions newKey = AddKeyOptions(*diff, "new-", "NEW", options.newKeyPath);
    diff->add_flag("--json", options.json, "Write one JSON document");

    CLI::App* cache = app.add_subcommand(
        "cache", "The compression cache: entries, bytes, cap, hits, misses and compression saved");
    cache->add_option("DIR", options.cacheDirectory, "The cache directory (default: $ZELKOR_CACHE_DIR)");
    CLI::Option* reset = cache->add_flag("--reset", options.resetCounters, "Set the hit and miss counters to zero");
    cache->add_flag("--clear", options.clearCache, "Remove every entry, and set the counters to zero")
        ->excludes(reset);
    cache->add_flag("--json", options.json, "Write one JSON document");

    CLI::App* report = app.add_subcommand("report", "One HTML page of what takes space: totals, a size map, tables");
    const KeyOptions reportKey = AddArchiveOptions(*report, options);
    report->add_option("-o,--output", options.output, "The page to write; default ARCHIVE.html")->type_name("FILE");

    if (const std::optional<std::string> unknown = UnknownCommand(app, argc, argv)) {
        err << "zelkor-inspect: " << *unknown << "\nRun with --help for more information.\n";
        status = static_cast<int>(CLI::ExitCodes::RequiredError);
        return std::nullopt;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        status = app.exit(error, out, err);
        return std::nullopt;
    }

    KeyOptions chosen;
    if (list->parsed()) {
        options.command = InspectOptions::Command::List;
        chosen = listKey;
    } else if (verify->parsed()) {
        options.command = InspectOptions::Command::Verify;
        chosen = verifyKey;
    } else if (extract->parsed()) {
        options.command = InspectOptions::Command::Extract;
        chosen = extractKey;
    } else if (report->parsed()) {
        options.command = InspectOptions::Command::Report;
        chosen = reportKey;
    } else if (cache->parsed()) {
        options.command = InspectOptions::Command::Cache;
    } else {
        options.command = InspectOptions::Command::Diff;
        chosen = oldKey;
        options.newKeyChoice = newKey.Choice();
    }
    if (chosen.key)
        options.keyChoice = chosen.Choice();
    status = ExitSuccess;
    return options;
}

}  // namespace zelkor
