// ZELKOR_THREADS and ZELKOR_MEMORY: what is read, what is warned, and that a
// run on any number of threads packs the same.
#include <gtest/gtest.h>

#include "driver/run_settings.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace zelkor {
namespace {

TEST(RunSettingsTest, ValuesAreReadOrWarnedAndTakenAsTheDefault)
{
    static const char* threads = nullptr;
    static const char* memory = nullptr;
    const auto lookup = [](const char* name) -> const char* {
        return std::string_view(name) == "ZELKOR_THREADS" ? threads
               : std::string_view(name) == "ZELKOR_MEMORY" ? memory
                                                           : nullptr;
    };
    const std::string badThreads = "\" is not a number of threads, taken as one per hardware thread!";
    const std::string badMemory = "\" is not a size, taken as half the memory!";
    // Each row: ZELKOR_THREADS, ZELKOR_MEMORY (null: unset), the threads of a
    // machine with 8, the budget of one with 16 GiB, the warnings.
    const struct {
        const char* threads;
        const char* memory;
        unsigned threadsOn8;
        std::uint64_t budgetOf16G;
        std::vector<std::string> warnings;
    } cases[] = {
        {nullptr, nullptr, 8, 8ull << 30, {}},
        {"", "", 8, 8ull << 30, {}},
        {"0", "512M", 8, 512ull << 20, {}},
        {"1", "3g", 1, 3ull << 30, {}},
        {"32", "1048576", 32, 1ull << 20, {}},
        {"4096", "1K", 4096, 1024, {}},
        {"4097", "0", 8, 8ull << 30, {"ZELKOR_THREADS=\"4097" + badThreads, "ZELKOR_MEMORY=\"0" + badMemory}},
        {"-1", "lots", 8, 8ull << 30, {"ZELKOR_THREADS=\"-1" + badThreads, "ZELKOR_MEMORY=\"lots" + badMemory}},
        {"2 ", "50%", 8, 8ull << 30, {"ZELKOR_THREADS=\"2 " + badThreads, "ZELKOR_MEMORY=\"50%" + badMemory}},
        {"all", nullptr, 8, 8ull << 30, {"ZELKOR_THREADS=\"all" + badThreads}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.threads ? c.threads : "unset") + " " + (c.memory ? c.memory : "unset"));
        threads = c.threads;
        memory = c.memory;
        const RunSettings settings = RunSettings::FromEnvironment(lookup);
        EXPECT_EQ(settings.Threads(8), c.threadsOn8);
        EXPECT_EQ(settings.MemoryBudget(16ull << 30), c.budgetOf16G);
        EXPECT_EQ(settings.Warnings(), c.warnings);
    }
    // A machine that does not tell its memory is taken to have 4 GiB.
    EXPECT_EQ(RunSettings{}.MemoryBudget(0), 2ull << 30);
}

TEST(RunSettingsTest, ABadValueWarnsAndTheRunGoesOn)
{
    testing::TempDir dir;
    dir.Write("src/a", "aaaa");
    dir.Write("s.xml", "<ScriptFile><CreateOrvanPack ArchivePath=\"a.pak\">"
                       "<File ArchivedPath=\"a\">src/a</File></CreateOrvanPack></ScriptFile>");
    const testing::ToolRun run = testing::RunProgram(
        "/usr/bin/env", {"ZELKOR_THREADS=many", "ZELKOR_MEMORY=1T", ZELKOR_BINARY, "s.xml"}, dir.path());
    EXPECT_EQ(run.err, "ZELKOR_THREADS=\"many\" is not a number of threads, taken as one per hardware thread!\n"
                       "ZELKOR_MEMORY=\"1T\" is not a size, taken as half the memory!\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(std::filesystem::exists(dir / "a.pak"));
}

}  // namespace
}  // namespace zelkor
