// Entries written from a stream (ArchiveWriter::AddStreamed) are the entries
// AddFile writes for the same bytes, and a stream whose bytes changed since
// they were measured leaves the archive as it was.
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "archive/archive_writer.h"
#include "archive/entry_codec.h"
#include "support/archive_contents.h"
#include "support/temp_dir.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

// A stream over bytes in memory; `tamper` may change them before each read.
class MemoryStream final : public EntryStream {
public:
    explicit MemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}

    bool Measure(std::uint64_t& size, std::uint32_t& contentHash) override
    {
        size = bytes_.size();
        contentHash = EntryCodec::ContentHash(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes_.data()), bytes_.size()));
        return true;
    }
    std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> piece) override
    {
        if (tamper)
            tamper(bytes_, offset);
        if (offset >= bytes_.size())
            return 0;
        const std::size_t got = std::min<std::size_t>(piece.size(), bytes_.size() - offset);
        std::memcpy(piece.data(), bytes_.data() + offset, got);
        return got;
    }

    std::function<void(std::string& bytes, std::uint64_t offset)> tamper;

private:
    std::string bytes_;
};

class StreamedEntryTest : public ::testing::Test {
protected:
    // Writes `first`, `second` (streamed when `stream` is given, otherwise
    // added whole when given) and "last" into NAME.pak and its key file from
    // a seed; returns how adding the streamed one went.
    ArchiveWriter::Streamed Write(const std::string& name, const std::string& first,
                                  const std::optional<std::string>& second, MemoryStream* stream)
    {
        ArchiveWriter writer;
        const std::string keyPath = (dir_ / (name + ".pak.zlk")).string();
        EXPECT_TRUE(writer.Create((dir_ / (name + ".pak")).string(), &keyPath,
                                  KeyMaterial::FromSeed(std::span(seed_))));
        std::string firstBytes = first;
        LoadedFile whole{std::span(reinterpret_cast<std::uint8_t*>(firstBytes.data()), firstBytes.size()),
                         firstBytes.size(), Hash(firstBytes)};
        EXPECT_TRUE(writer.AddFile("first", whole));
        ArchiveWriter::Streamed result = ArchiveWriter::Streamed::Added;
        if (stream) {
            LoadedFile streamed;
            streamed.stream = stream;
            EXPECT_TRUE(stream->Measure(streamed.rawSize, streamed.contentHash));
            result = writer.AddStreamed("second", streamed);
        } else if (second) {
            std::string secondBytes = *second;
            LoadedFile added{std::span(reinterpret_cast<std::uint8_t*>(secondBytes.data()), secondBytes.size()),
                             secondBytes.size(), Hash(secondBytes)};
            EXPECT_TRUE(writer.AddFile("second", added));
        }
        std::string lastBytes = "last";
        LoadedFile last{std::span(reinterpret_cast<std::uint8_t*>(lastBytes.data()), lastBytes.size()), 4,
                        Hash(lastBytes)};
        EXPECT_TRUE(writer.AddFile("last", last));
        writer.Close();
        return result;
    }

    static std::uint32_t Hash(const std::string& bytes)
    {
        return EntryCodec::ContentHash(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    }

    std::string Read(const std::string& relative) const { return dir_.Read(relative); }

    testing::TempDir dir_;
    std::vector<std::uint8_t> seed_ = std::vector<std::uint8_t>(32, 7);
};

TEST_F(StreamedEntryTest, AStreamedEntryIsTheEntryAddFileWrites)
{
    // Sizes around the writer's piece of 1 MiB, and none at all.
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{1} << 20, (std::size_t{5} << 20) + 3}) {
        SCOPED_TRACE(size);
        const std::string bytes = testing::RandomBytes(size, static_cast<unsigned>(size));
        MemoryStream stream(bytes);
        ASSERT_EQ(Write("streamed", "head", bytes, &stream), ArchiveWriter::Streamed::Added);
        Write("whole", "head", bytes, nullptr);
        EXPECT_TRUE(Read("streamed.pak") == Read("whole.pak"));
        EXPECT_TRUE(Read("streamed.pak.zlk") == Read("whole.pak.zlk"));
    }
}

TEST_F(StreamedEntryTest, BytesChangedSinceTheyWereMeasuredAreTakenBack)
{
    const std::string bytes = testing::RandomBytes((3 << 20) + 5, 9);
    Write("without", "head", std::nullopt, nullptr);
    const std::string without = Read("without.pak");
    // Each row changes the source once its writing has begun: a byte in the
    // last piece, a shorter file, a longer one.
    const std::function<void(std::string&)> changes[] = {
        [](std::string& b) { b[b.size() - 1] ^= 1; },
        [](std::string& b) { b.resize(b.size() - 1); },
        [](std::string& b) { b.push_back('x'); },
    };
    for (const auto& change : changes) {
        MemoryStream stream(bytes);
        stream.tamper = [&, done = false](std::string& b, std::uint64_t offset) mutable {
            if (offset > 0 && !done) {
                change(b);
                done = true;
            }
        };
        ASSERT_EQ(Write("changed", "head", bytes, &stream), ArchiveWriter::Streamed::Changed);
        // The archive goes on as though the entry had never been started.
        EXPECT_TRUE(Read("changed.pak") == without);
        EXPECT_TRUE(Read("changed.pak.zlk") == Read("without.pak.zlk"));
        EXPECT_EQ(testing::ArchivedNames(testing::ReadArchive(dir_ / "changed.pak", dir_ / "changed.pak.zlk")),
                  (std::vector<std::string>{"first", "last"}));
    }
}

}  // namespace
}  // namespace zelkor
