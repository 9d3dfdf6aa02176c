#include "driver/driver.h"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/property_tree/ptree.hpp>

#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>

#include "archive/archive_crypto.h"
#include "archive/archive_write_error.h"
#include "cache/compression_cache.h"
#include "commands/command_reader.h"
#include "commands/script_processor.h"
#include "driver/run_settings.h"
#include "output/signal_cleanup.h"
#include "pack/file_job_pool.h"
#include "pack/memory_budget.h"
#include "platform/command_line.h"
#include "platform/file_system.h"
#include "platform/memory_pages.h"
#include "platform/race_annotations.h"
#include "platform/terminal.h"
#include "platform/utf8.h"
#include "runtime/cache_warnings.h"
#include "runtime/messages.h"
#include "runtime/progress_line.h"
#include "runtime/warning_log.h"
#include "script/script_grammar.h"
#include "script/script_loader.h"
#include "script/script_vocabulary.h"

namespace zelkor {

namespace {

// The loaded scripts of a run: element k holds the script named by command-line
// argument k + 1. Sized once before loading begins and never resized while the
// stages run, so each element is written by exactly one loading task and read by
// exactly one executing task, without a lock.
using ScriptTrees = std::vector<boost::property_tree::ptree>;

// Loop body of the loading stage: argument positions 1 to argc - 1, position i
// loaded into element i - 1. A load failure leaves the body as an exception.
struct LoadStage {
    ScriptTrees* trees;
    char** argv;

    void operator()(const tbb::blocked_range<unsigned>& positions) const
    {
        HandOffScope handOff(trees);
        for (unsigned i = positions.begin(); i != positions.end(); ++i)
            ScriptLoader::Load(argv[i], (*trees)[i - 1]);
    }
};

// Loop body of the executing stage: each script index of the range in ascending
// order, named in warnings by its argument. One pool of load buffers per call,
// reused for every file of every script of the range.
struct ExecuteStage {
    const ScriptTrees* trees;
    char** argv;
    WarningLog* warnings;
    CompressionCache* cache;
    MemoryBudget* budget;
    ScriptProcessor::Options options;

    void operator()(const tbb::blocked_range<unsigned>& indexes) const
    {
        HandOffScope handOff(trees);
        FileJobPool jobs(cache, budget);
        ScriptProcessor processor(jobs, *warnings, options);
        for (unsigned i = indexes.begin(); i != indexes.end(); ++i)
            processor.Run((*trees)[i], argv[i + 1]);
    }
};

constexpr const char* Usage =
    "Usage: zelkor [SCRIPT ...]\n"
    "       zelkor --help | -h | --version\n"
    "\n"
    "Runs every SCRIPT: an XML file whose root element is ScriptFile and whose\n"
    "children are commands, run in document order. All scripts are loaded, then\n"
    "all are executed, at the same time.\n"
    "\n"
    "Commands:\n"
    "  CreateOrvanPack     builds an archive (and, with BuildKeyfile=\"true\", its key\n"
    "                      file) from the File elements it lists\n"
    "  CreateOrvanPackXml  scans a directory and writes a script that packs it\n"
    "\n"
    "Manual: man zelkor. docs/scripts.md, docs/messages.md and docs/format.md (in\n"
    "the sources, or in /usr/share/doc/zelkor when installed from the package)\n"
    "describe the script language, every message and the archive layout.\n"
    "zelkor-inspect lists, verifies and extracts archives.\n"
    "\n"
    "Exit status: 0 done without warnings; 1 done, every output written, with\n"
    "warnings on standard error; 2 a failure ended the run; 3 done, but an output\n"
    "asked for was not written (Cannot create, Cannot write, none of a command's\n"
    "files stored).\n"
    "\n"
    "Any other argument is a script path; a script named --help is run as ./--help.\n";

// What the tool prints for a request for help or its version as the only
// argument; nothing for any other argument.
const char* InformationFor(int argc, char** argv)
{
    if (argc != 2)
        return nullptr;
    const std::string_view argument = argv[1];
    if (argument == "--help" || argument == "-h")
        return Usage;
    if (argument == "--version")
        return "zelkor " ZELKOR_VERSION "\n";
    return nullptr;
}

void PrintBanner(int argc)
{
    std::cout << "--- Zelkor Archiver v2.5 ---" << std::endl;
    if (argc > 5)
        std::cout << "Take a cup of coffee, this could take a while" << std::endl << std::endl;
    else
        std::cout << "\"Sheeeeesh!\" - Tamblor 2014" << std::endl << std::endl;
}

// The compression cache that the environment asks for, if any and if usable.
std::unique_ptr<CompressionCache> OpenCache(CacheWarnings& problems, WarningLog& warnings)
{
    const CacheSettings settings = CacheSettings::FromEnvironment();
    for (const std::string& warning : CacheWarnings::OfSettings(settings))
        warnings.Warn(warning);
    return CompressionCache::Open(settings, problems);
}

// On a terminal, a status line for the whole run: the File elements of every
// pack command of every script, and their sizes as they are now.
std::unique_ptr<ProgressLine> StartProgress(const ScriptTrees& trees)
{
    if (!StandardErrorIsTerminal())
        return nullptr;
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    for (const auto& tree : trees) {
        const auto root = tree.get_child_optional(std::string(vocabulary::ScriptFile));
        if (!root)
            continue;
        for (const auto& [name, command] : *root) {
            if (grammar::CommandOf(name) != grammar::Command::Pack)
                continue;
            for (const PackSource& source : ReadPackSources(command)) {
                ++files;
                const std::optional<FileStatus> status = StatusOf(source.path);
                if (status && status->IsRegular())
                    bytes += status->size;
            }
        }
    }
    if (files == 0)
        return nullptr;
    return ProgressLine::ForStandardError("files", files, bytes);
}

// Both stages run on the arena of the run's threads (RunSettings), one script
// being the smallest piece of work. An exception from a body cancels the rest
// of its loop and is rethrown here, with its own type, once every thread has
// left the loop.
void LoadAndExecute(int argc, char** argv, WarningLog& warnings, const RunSettings& settings)
{
    ScriptTrees trees(static_cast<std::size_t>(argc - 1));
    // The bodies' work, and an exception one of them throws, is taken up here
    // when the loops return or throw.
    struct TakeUpBodies {
        const ScriptTrees* trees;
        ~TakeUpBodies() { AcceptHandOff(trees); }
    } takeUp{&trees};

    AnnounceHandOff(&trees);
    tbb::parallel_for(tbb::blocked_range<unsigned>(1, static_cast<unsigned>(argc), 1),
                      LoadStage{&trees, argv}, tbb::auto_partitioner());

    // Executing starts only after every script has been loaded.
    for (const std::string& warning : settings.Warnings())
        warnings.Warn(warning);
    CacheWarnings cacheProblems(warnings);
    const std::unique_ptr<CompressionCache> cache = OpenCache(cacheProblems, warnings);
    struct FlushCache {
        CompressionCache* cache;
        ~FlushCache()
        {
            if (cache)
                cache->Flush();
        }
    } flush{cache.get()};
    // Warnings print above the status line while there is one.
    struct Progress {
        WarningLog& warnings;
        std::unique_ptr<ProgressLine> line;
        ~Progress() { warnings.SetProgress(nullptr); }
    } progress{warnings, StartProgress(trees)};
    warnings.SetProgress(progress.line.get());
    // What a patch holds goes to standard output, a whole line at a time; it is
    // no warning.
    WarningLog notes(std::cout);
    const ScriptProcessor::Options options{progress.line.get(), ScriptProcessor::StrictFromEnvironment(), cache.get(),
                                           &notes};
    MemoryBudget budget(settings.MemoryBudget(PhysicalMemory()));
    tbb::parallel_for(tbb::blocked_range<unsigned>(0, static_cast<unsigned>(trees.size()), 1),
                      ExecuteStage{&trees, argv, &warnings, cache.get(), &budget, options}, tbb::auto_partitioner());
}

// Runs LoadAndExecute on as many threads as the settings ask for: an arena of
// that many, and the library allowed that many (it allows one per hardware
// thread unless told otherwise).
void RunOnThreads(int argc, char** argv, WarningLog& warnings)
{
    const RunSettings settings = RunSettings::FromEnvironment();
    const int threads = static_cast<int>(settings.Threads(static_cast<unsigned>(tbb::info::default_concurrency())));
    tbb::global_control parallelism(tbb::global_control::max_allowed_parallelism, static_cast<std::size_t>(threads));
    tbb::task_arena arena(threads);
    arena.execute([&] { LoadAndExecute(argc, argv, warnings, settings); });
}

}  // namespace

int RunArchiver(int argc, char** argv)
{
    // Standard output carries only what is asked for here; when it cannot be
    // written (a full disk, a closed pipe) the run fails instead of going on
    // mute.
    const auto outputFailed = [] {
        std::cerr << message::CannotWrite("standard output") << std::endl;
        return ExitFailure;
    };
    if (const char* information = InformationFor(argc, argv)) {
        std::cout << information << std::flush;
        return std::cout ? ExitSuccess : outputFailed();
    }
    PrintBanner(argc);
    if (!std::cout)
        return outputFailed();
    if (argc < 1)
        return ExitSuccess;

    WarningLog warnings;
    std::string failure;
    bool failed = false;
    // The trees live inside LoadAndExecute, so they are released before the
    // failure message is printed.
    try {
        PrepareCrypto();
        RunOnThreads(argc, argv, warnings);
    } catch (const ArchiveWriteError& error) {
        failed = true;
        failure = message::CannotWrite(error.ShownPath());
    } catch (const std::exception& error) {
        failed = true;
        failure = error.what();
    } catch (...) {
        failed = true;
        failure = message::UnknownException;
    }

    if (failed) {
        std::cerr << ShowControls(failure, true) << std::endl;
        return ExitFailure;
    }
    if (warnings.NotWrittenCount() != 0)
        return ExitNotWritten;
    return warnings.Any() ? ExitWarnings : ExitSuccess;
}

int RunArchiverAsMain(int argc, char** argv)
{
    SignalCleanup::Install();
    UseBinaryStandardStreams();
    std::vector<std::string> arguments = CommandLineArguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return RunArchiver(static_cast<int>(arguments.size()), pointers.data());
}

}  // namespace zelkor
