#include "inspect/inspector.h"


#include <algorithm>
#include <iostream>
#include <memory>
#include <optional>
#include <streambuf>
#include <exception>
#include <new>

#include "inspect/archive_differ.h"
#include "inspect/archive_extractor.h"
#include "inspect/archive_lister.h"
#include "inspect/archive_report.h"
#include "inspect/archive_verifier.h"
#include "inspect/cache_report.h"
#include "inspect/entry_selector.h"
#include "inspect/inspect_command_line.h"
#include "inspect/inspected_archive.h"
#include "inspect/json_document.h"
#include "inspect/output_tree.h"
#include "platform/progress_line.h"

namespace zelkor {

namespace {

// Lines written to it appear above a progress line.
class AboveProgress : public std::streambuf {
public:
    explicit AboveProgress(ProgressLine& progress) : progress_(progress) {}

protected:
    int overflow(int c) override
    {
        if (c == traits_type::eof())
            return traits_type::not_eof(c);
        line_ += static_cast<char>(c);
        if (c == '\n') {
            progress_.WriteAbove(line_);
            line_.clear();
        }
        return c;
    }

private:
    ProgressLine& progress_;
    std::string line_;
};

// Archives from this size on show a status line while they are verified or
// extracted, when standard error is the terminal.
constexpr std::uint64_t ProgressFrom = 64 * 1024 * 1024;

std::unique_ptr<ProgressLine> StartProgress(const InspectOptions& options, const InspectedArchive& archive,
                                            const std::ostream& err)
{
    const bool longRun =
        options.command == InspectOptions::Command::Verify || options.command == InspectOptions::Command::Extract;
    if (!longRun || archive.Reader().ArchiveSize() <= ProgressFrom || err.rdbuf() != std::cerr.rdbuf())
        return nullptr;
    return ProgressLine::ForStandardError("entries", archive.Reader().EntryCount(),
                                     archive.Reader().ArchiveSize());
}

int RunCommand(const InspectOptions& options, const InspectedArchive& archive, EntrySelector& selector,
               std::ostream& out, std::ostream& plainErr)
{
    std::unique_ptr<ProgressLine> progress = StartProgress(options, archive, plainErr);
    std::optional<AboveProgress> above;
    std::ostream aboveStream(progress ? &above.emplace(*progress) : plainErr.rdbuf());
    std::ostream& err = aboveStream;
    // The status line goes before anything is printed on the terminal below it.
    const auto done = [&] {
        aboveStream.flush();
        progress.reset();
    };
    switch (options.command) {
    case InspectOptions::Command::List:
        if (options.json)
            ArchiveLister::PrintJson(archive, selector, out);
        else
            ArchiveLister::PrintText(archive, selector, out);
        return ExitSuccess;
    case InspectOptions::Command::Verify: {
        const ArchiveVerifier::Report report = ArchiveVerifier::Verify(archive, selector, progress.get());
        done();
        if (options.json)
            ArchiveVerifier::PrintJson(archive, report, out);
        else
            ArchiveVerifier::PrintText(archive, selector, report, out);
        return report.Ok() ? ExitSuccess : ExitWarnings;
    }
    case InspectOptions::Command::Extract: {
        OutputTree tree(options.directory);
        const ArchiveExtractor::Summary summary =
            ArchiveExtractor::Extract(archive, selector, tree, options.force, err, progress.get());
        done();
        ArchiveExtractor::PrintSummary(archive, selector, summary, options.directory, out);
        return summary.refused == 0 ? ExitSuccess : ExitWarnings;
    }
    case InspectOptions::Command::Report:
        ArchiveReport::Write(archive, selector, options.output.empty() ? options.archive + ".html" : options.output,
                             out);
        return ExitSuccess;
    case InspectOptions::Command::Diff:
    case InspectOptions::Command::Cache:
        break;
    }
    return ExitSuccess;
}

int Diff(const InspectOptions& options, std::ostream& out)
{
    const InspectedArchive older(options.archive, options.keyChoice, options.keyPath);
    const InspectedArchive newer(options.newArchive, options.newKeyChoice, options.newKeyPath);
    const ArchiveDiffer::Report report = ArchiveDiffer::Compare(older, newer);
    if (options.json)
        ArchiveDiffer::PrintJson(older, newer, report, out);
    else
        ArchiveDiffer::PrintText(older, newer, report, out);
    return report.Same() ? ExitSuccess : ExitWarnings;
}

int Cache(const InspectOptions& options, std::ostream& out)
{
    std::string badSize;
    const std::optional<CompressionCache::Settings> settings = CompressionCache::FromEnvironment(badSize);
    const std::string directory =
        !options.cacheDirectory.empty() ? options.cacheDirectory : settings ? settings->directory : std::string();
    if (directory.empty())
        throw std::runtime_error("no cache directory: name one, or set ZELKOR_CACHE_DIR");
    if ((options.resetCounters || options.clearCache) && !CompressionCache::Reset(directory, options.clearCache))
        throw std::runtime_error("cannot reset the cache " + InspectedArchive::Printable(directory));
    const std::optional<CompressionCache::Statistics> statistics = CompressionCache::Inspect(directory);
    if (!statistics)
        throw std::runtime_error("no cache at " + InspectedArchive::Printable(directory));
    const std::uint64_t capacity = settings ? settings->capacity : CompressionCache::DefaultCapacity;
    if (options.json)
        CacheReport::PrintJson(directory, *statistics, capacity, out);
    else
        CacheReport::PrintText(directory, *statistics, capacity, out);
    return ExitSuccess;
}

int Execute(const InspectOptions& options, std::ostream& out, std::ostream& err)
{
    if (options.command == InspectOptions::Command::Diff)
        return Diff(options, out);
    if (options.command == InspectOptions::Command::Cache)
        return Cache(options, out);
    const InspectedArchive archive(options.archive, options.keyChoice, options.keyPath);
    EntrySelector selector(options.patterns);
    if (!selector.SelectsAll() && !archive.HasNames())
        throw std::runtime_error("patterns select entries by name, and " +
                                 InspectedArchive::Printable(options.archive) +
                                 " is read without a key file, which holds the names: name it with --key FILE");
    int status = RunCommand(options, archive, selector, out, err);
    for (const std::string& pattern : selector.Unmatched()) {
        err << "zelkor-inspect: no entry matches " << InspectedArchive::Printable(pattern) << '\n';
        status = std::max<int>(status, ExitWarnings);
    }
    return status;
}

// A run that cannot go on: the message on `err` and, for --json, a document that
// says so on `out`, so that a script reading the output always gets JSON.
int Fail(const InspectOptions& options, const std::string& message, std::ostream& out, std::ostream& err)
{
    err << "zelkor-inspect: " << message << '\n';
    if (options.json) {
        JsonDocument json(out);
        if (options.command == InspectOptions::Command::Cache) {
            json.Member("directory", JsonDocument::Text(options.cacheDirectory));
        } else if (options.command == InspectOptions::Command::Diff) {
            json.Member("old", JsonDocument::Text(options.archive));
            json.Member("new", JsonDocument::Text(options.newArchive));
        } else {
            json.Member("archive", JsonDocument::Text(options.archive));
        }
        json.Member("error", JsonDocument::Text(message));
        json.End();
    }
    return ExitFailure;
}

}  // namespace

int RunInspector(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    int status = ExitSuccess;
    const std::optional<InspectOptions> options = InspectCommandLine::Parse(argc, argv, out, err, status);
    if (!options)
        return status;
    try {
        status = Execute(*options, out, err);
    } catch (const ArchiveFormatError& error) {
        std::string message = error.what();
        if (error.WhatCause() == ArchiveFormatError::Cause::ForeignKeyFile)
            message += "; read the archive alone with --no-key if it was built without a key file, or name"
                       " its own key file with --key FILE";
        return Fail(*options, message, out, err);
    } catch (const std::bad_alloc&) {
        return Fail(*options, "out of memory", out, err);
    } catch (const std::exception& error) {
        return Fail(*options, error.what(), out, err);
    }
    if (!out.flush()) {
        err << "zelkor-inspect: cannot write the output\n";
        return ExitFailure;
    }
    return status;
}

}  // namespace zelkor
