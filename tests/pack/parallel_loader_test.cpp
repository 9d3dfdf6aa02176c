// Loading a pack command's files several at a time while handing them over in
// document order.
#include "pack/parallel_loader.h"

#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <lz4.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>
#include <xxhash.h>

#include "archive/archive_format.h"
#include "pack/file_job_pool.h"
#include "support/temp_dir.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

using testing::CompressibleText;

// What the consumer saw of one file.
struct Seen {
    std::string source;
    bool loaded = false;
    std::string content;  // decoded from the stored bytes
    bool hashMatches = false;
};

class ParallelLoaderTest : public ::testing::Test {
protected:
    // Appends a source for `name` below the temporary directory; with `content`,
    // the file is written first, otherwise it stays missing.
    void AddFile(const std::string& name, const std::string* content)
    {
        const std::string path = content ? dir_.Write(name, *content).string() : (dir_ / name).string();
        sources_.push_back({path, name, path});
        if (content)
            contents_[path] = *content;
    }

    // Large files first, tiny ones last, with missing sources and a directory in
    // between.
    void AddMixedFiles()
    {
        for (unsigned i = 0; i < 3; ++i) {
            const std::string large = CompressibleText((3 - i) * 512 * 1024, i);
            AddFile("large" + std::to_string(i), &large);
        }
        for (unsigned i = 0; i < 120; ++i) {
            if (i % 17 == 5) {
                AddFile("missing" + std::to_string(i), nullptr);
                continue;
            }
            const std::string content = CompressibleText(i % 3 == 0 ? 20000 + i * 100 : i * 7, 100 + i);
            AddFile("small" + std::to_string(i), &content);
        }
        sources_.push_back({dir_.path().string(), std::nullopt, dir_.path().string()});
        for (unsigned i = 0; i < 40; ++i) {
            const std::string tiny(i % 5, static_cast<char>('a' + i % 26));
            AddFile("tiny" + std::to_string(i), &tiny);
        }
    }

    std::vector<std::string> Sources() const
    {
        std::vector<std::string> sources;
        for (const PackSource& source : sources_)
            sources.push_back(source.path);
        return sources;
    }

    // Runs a loader on `threads` threads; the consumer records each file and
    // throws std::runtime_error at the file with index `throwAt`.
    void Run(int threads, std::size_t jobs, std::size_t waitingBytes, std::size_t throwAt = SIZE_MAX,
             MemoryBudget* budget = nullptr)
    {
        FileJobPool pool(jobs, 64 * 1024, nullptr, budget);
        ParallelLoader loader(pool, waitingBytes);
        tbb::task_arena arena(threads);
        std::exception_ptr failure;
        arena.execute([&] {
            try {
                loader.Run(sources_, [&](const PackSource& source, std::optional<LoadedFile>& loaded) {
                    Record(source, loaded);
                    if (seen_.size() - 1 == throwAt)
                        throw std::runtime_error("stop at " + source.path);
                });
            } catch (...) {
                failure = std::current_exception();
            }
        });
        // Every job has come back, after a failure too.
        std::vector<FileJobPool::Lease> leases;
        for (std::size_t i = 0; i < jobs; ++i)
            leases.push_back(pool.Take());
        for (const auto& lease : leases)
            EXPECT_TRUE(lease);
        if (failure)
            std::rethrow_exception(failure);
    }

    void Record(const PackSource& source, std::optional<LoadedFile>& loaded)
    {
        Seen seen{source.path, loaded.has_value(), {}, false};
        if (loaded) {
            const std::span<std::uint8_t> stored = loaded->stored;
            seen.content.resize(static_cast<std::size_t>(loaded->rawSize));
            if (!loaded->IsCompressed()) {
                if (!stored.empty())
                    std::memcpy(seen.content.data(), stored.data(), stored.size());
            } else {
                LZ4_decompress_safe(reinterpret_cast<const char*>(stored.data()), seen.content.data(),
                                    static_cast<int>(stored.size()), static_cast<int>(loaded->rawSize));
            }
            seen.hashMatches =
                XXH32(seen.content.data(), seen.content.size(), ArchiveMagic) == loaded->contentHash;
            // The consumer may overwrite the bytes, as the archive writer does.
            if (!stored.empty())
                std::memset(stored.data(), 0xEE, stored.size());
        }
        seen_.push_back(seen);
    }

    // Checks that the consumer saw exactly the first `count` File children, in
    // order, each as a lone load would have shown it.
    void ExpectSeenInOrder(std::size_t count)
    {
        const std::vector<std::string> sources = Sources();
        ASSERT_EQ(seen_.size(), count);
        for (std::size_t i = 0; i < count; ++i) {
            SCOPED_TRACE(sources[i]);
            ASSERT_EQ(seen_[i].source, sources[i]);
            const auto known = contents_.find(sources[i]);
            ASSERT_EQ(seen_[i].loaded, known != contents_.end());
            if (seen_[i].loaded) {
                EXPECT_TRUE(seen_[i].content == known->second);
                EXPECT_TRUE(seen_[i].hashMatches);
            }
        }
    }

    testing::TempDir dir_;
    std::vector<PackSource> sources_;
    std::map<std::string, std::string> contents_;
    std::vector<Seen> seen_;
};

TEST_F(ParallelLoaderTest, EveryFileIsHandedOverOnceInDocumentOrder)
{
    AddMixedFiles();
    // A generous window, a tight one (every waiting file blocks the next), and a
    // single job on a single thread (plain sequential loading).
    const int all = tbb::this_task_arena::max_concurrency();
    for (auto [threads, jobs, window] : {std::tuple{all, 8, std::size_t{64} << 20},
                                         std::tuple{all, 3, std::size_t{1}}, std::tuple{1, 1, std::size_t{0}}}) {
        SCOPED_TRACE(::testing::Message() << threads << " threads, " << jobs << " jobs, window " << window);
        seen_.clear();
        Run(threads, jobs, window);
        ExpectSeenInOrder(Sources().size());
    }
}

TEST_F(ParallelLoaderTest, AMemoryBudgetAdmitsFilesWhileTheyFitAndLargerOnesAlone)
{
    AddMixedFiles();
    // What the largest file needs: more than the smaller budgets, so that it
    // runs alone there.
    const std::uint64_t largest = FileJob::MemoryNeeded(3 * 512 * 1024, false);
    const int all = tbb::this_task_arena::max_concurrency();
    for (const std::uint64_t bytes : {std::uint64_t{1} << 20, std::uint64_t{4} << 20, std::uint64_t{64} << 20}) {
        SCOPED_TRACE(bytes);
        MemoryBudget budget(bytes);
        seen_.clear();
        Run(std::max(all, 4), 8, std::size_t{64} << 20, SIZE_MAX, &budget);
        ExpectSeenInOrder(Sources().size());
        EXPECT_LE(budget.Peak(), std::max(bytes, largest));
        EXPECT_TRUE(budget.Reserve(bytes, false));  // every byte came back
    }
}

TEST_F(ParallelLoaderTest, NothingToLoadCallsNoConsumer)
{
    Run(2, 2, 1 << 20);
    EXPECT_TRUE(seen_.empty());
}

// --- Failures -------------------------------------------------------------------

TEST_F(ParallelLoaderTest, AConsumerFailureEndsTheRunAtThatFile)
{
    AddMixedFiles();
    const std::vector<std::string> sources = Sources();
    for (std::size_t stop : {std::size_t{0}, std::size_t{1}, std::size_t{60}, sources.size() - 1}) {
        SCOPED_TRACE(stop);
        seen_.clear();
        try {
            Run(tbb::this_task_arena::max_concurrency(), 4, 8 << 20, stop);
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()), "stop at " + sources[stop]);
        }
        // Files after it may have been loaded, but none reached the consumer.
        ExpectSeenInOrder(stop + 1);
    }
}

TEST_F(ParallelLoaderTest, ARunGoesOnWhenTheWorkAroundItIsCancelled)
{
    // When another script fails, the driver's loop is cancelled; a command that
    // has started must still load and hand over every one of its files.
    AddMixedFiles();
    FileJobPool pool(4, 0);
    ParallelLoader loader(pool, 64 << 20);
    tbb::task_arena arena;
    arena.execute([&] {
        tbb::task_group_context context;
        tbb::task_group outer(context);
        outer.run([&] {
            loader.Run(sources_, [&](const PackSource& source, std::optional<LoadedFile>& loaded) {
                if (seen_.empty())
                    context.cancel_group_execution();
                Record(source, loaded);
            });
        });
        outer.wait();
    });
    ExpectSeenInOrder(Sources().size());
}

}  // namespace
}  // namespace zelkor
