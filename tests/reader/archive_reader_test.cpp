// The reader's checks on damaged, truncated and mismatched archives and key files.
#include "reader/archive_reader.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/archive_writer.h"
#include "platform/hex.h"
#include "pack/file_job.h"
#include "support/archive_contents.h"
#include "support/system_tests.h"
#include "support/temp_dir.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

using testing::TempDir;
using Status = ArchiveReader::ContentStatus;

// Offsets in the test archive of ArchiveReaderTest.
constexpr std::size_t FirstEntry = ArchiveHeader::Size;
constexpr std::size_t RawSizeField = 0;
constexpr std::size_t DataOffsetField = 8;
constexpr std::size_t StoredSizeField = 12;

void Patch32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    EncodeFixed32(reinterpret_cast<std::uint8_t*>(&bytes[at]), value);
}

class ArchiveReaderTest : public ::testing::Test {
protected:
    // An archive of three entries: compressed, raw, empty; and its key file.
    void SetUp() override
    {
        const std::vector<std::string> contents = {std::string(2000, 'z'), testing::RandomBytes(300, 17), ""};
        const std::string keyPath = KeyPath();
        FileJob job;
        ArchiveWriter writer;
        ASSERT_TRUE(writer.Create(ArchivePath(), &keyPath));
        for (std::size_t i = 0; i < contents.size(); ++i) {
            std::optional<LoadedFile> loaded = job.Load(dir_.Write("source", contents[i]).string());
            ASSERT_TRUE(loaded);
            ASSERT_TRUE(writer.AddFile("file" + std::to_string(i), *loaded));
        }
        writer.Close();
        archive_ = dir_.Read("a.zpk");
        keyFile_ = dir_.Read("a.zlk");
    }

    std::string ArchivePath() const { return (dir_ / "a.zpk").string(); }
    std::string KeyPath() const { return (dir_ / "a.zlk").string(); }

    // Where the second entry (stored raw) starts.
    std::size_t SecondEntry() const
    {
        return FirstEntry + FileEntry::Size + DecodeFixed32(Bytes(FirstEntry + StoredSizeField));
    }

    const std::uint8_t* Bytes(std::size_t at) const
    {
        return reinterpret_cast<const std::uint8_t*>(archive_.data() + at);
    }

    // Writes the (altered) files and expects the reader to refuse them with a
    // message that contains `fault`, for the given cause.
    void ExpectStructuralError(const std::string& archive, const std::string& keyFile,
                               const std::string& fault,
                               ArchiveFormatError::Cause cause = ArchiveFormatError::Cause::Damage)
    {
        dir_.Write("a.zpk", archive);
        dir_.Write("a.zlk", keyFile);
        const std::string keyPath = KeyPath();
        try {
            ArchiveReader reader(ArchivePath(), &keyPath);
            ADD_FAILURE() << "no error, expected " << fault;
        } catch (const ArchiveFormatError& error) {
            EXPECT_NE(std::string(error.what()).find(fault), std::string::npos) << error.what();
            EXPECT_EQ(error.WhatCause(), cause) << error.what();
        }
    }

    // The key file of an archive of `contents` named "file0", "file1"...
    std::string OtherKeyFile(const std::vector<std::string>& contents)
    {
        const std::string keyPath = (dir_ / "other.zlk").string();
        FileJob job;
        ArchiveWriter writer;
        EXPECT_TRUE(writer.Create((dir_ / "other.zpk").string(), &keyPath));
        for (std::size_t i = 0; i < contents.size(); ++i) {
            std::optional<LoadedFile> loaded = job.Load(dir_.Write("source", contents[i]).string());
            EXPECT_TRUE(loaded && writer.AddFile("file" + std::to_string(i), *loaded));
        }
        writer.Close();
        return dir_.Read("other.zlk");
    }

    TempDir dir_;
    std::string archive_;
    std::string keyFile_;
};

TEST_F(ArchiveReaderTest, ArchiveStructureFaults)
{
    std::string badMagic = archive_;
    badMagic[0] ^= 1;
    ExpectStructuralError(badMagic, keyFile_, "bad magic");
    ExpectStructuralError("", keyFile_, "truncated ArchiveHeader");
    ExpectStructuralError(archive_.substr(0, ArchiveHeader::Size - 1), keyFile_, "truncated ArchiveHeader");
    ExpectStructuralError(archive_.substr(0, FirstEntry + FileEntry::Size - 1), keyFile_,
                          "truncated FileEntry at offset 68");
    ExpectStructuralError(archive_.substr(0, archive_.size() - 1), keyFile_, "truncated FileEntry");
    ExpectStructuralError(archive_.substr(0, SecondEntry() - 1), keyFile_, "past the end of the file");

    std::string wrongOffset = archive_;
    Patch32(wrongOffset, FirstEntry + DataOffsetField, FirstEntry + FileEntry::Size + 1);
    ExpectStructuralError(wrongOffset, keyFile_, "dataOffset 89 instead of 88");

    std::string overstored = archive_;
    Patch32(overstored, SecondEntry() + StoredSizeField, 301);
    ExpectStructuralError(overstored, keyFile_, "stores more bytes (301) than its raw size (300)");

    // Sizes that would make a careless reader allocate or read 4 GiB.
    std::string huge = archive_;
    Patch32(huge, SecondEntry() + RawSizeField, 0xFFFFFFFF);
    Patch32(huge, SecondEntry() + StoredSizeField, 0xFFFFFFFF);
    ExpectStructuralError(huge, keyFile_, "past the end of the file");
}

TEST_F(ArchiveReaderTest, KeyFileStructureFaults)
{
    const std::size_t firstRecord = KeyFileHeader::Size;
    const std::size_t recordSize = 2 + 5 + 4;  // "file0"
    ExpectStructuralError(archive_, keyFile_.substr(0, KeyFileHeader::Size - 1), "truncated KeyFileHeader");
    ExpectStructuralError(archive_, keyFile_.substr(0, firstRecord + 1), "truncated NameRecord at offset 64");
    ExpectStructuralError(archive_, keyFile_.substr(0, keyFile_.size() - 1), "truncated NameRecord");
    ExpectStructuralError(archive_, keyFile_.substr(0, firstRecord + recordSize),
                          "holds 1 NameRecords for the archive's 3 entries");
    ExpectStructuralError(archive_, keyFile_ + keyFile_.substr(firstRecord, recordSize),
                          "more NameRecords than the archive's 3 entries");

    std::string longName = keyFile_;
    longName[firstRecord] = '\xFF';
    longName[firstRecord + 1] = '\xFF';
    ExpectStructuralError(archive_, longName, "truncated NameRecord at offset 64");

    // A damaged content hash in a key file whose shares decode the archive.
    std::string otherHash = keyFile_;
    otherHash[firstRecord + recordSize - 1] ^= 1;
    const std::uint32_t entryHash = DecodeFixed32(Bytes(FirstEntry + 4));
    ExpectStructuralError(archive_, otherHash,
                          "a.zlk: NameRecord at offset 64 has content hash " + Hex32(entryHash ^ 0x01000000) +
                              ", but its entry 0 has " + Hex32(entryHash));
}

TEST_F(ArchiveReaderTest, AKeyFileOfAnotherArchiveIsToldFromADamagedOne)
{
    using Cause = ArchiveFormatError::Cause;
    const std::string foreign = "a.zlk is not the key file of " + ArchivePath() + " (";
    // Other files altogether.
    ExpectStructuralError(archive_, OtherKeyFile({"x", "y", "z"}), foreign + "NameRecord at offset 64 has",
                          Cause::ForeignKeyFile);
    // Another build of the same names in which one file changed: the names fit
    // their entries, but the shares do not decode them.
    ExpectStructuralError(archive_, OtherKeyFile({std::string(2000, 'z'), "changed", ""}),
                          foreign + "NameRecord at offset 75 has", Cause::ForeignKeyFile);
    // Another archive with fewer entries, all of whose records fit.
    ExpectStructuralError(archive_, OtherKeyFile({std::string(2000, 'z')}),
                          foreign + "holds 1 NameRecords for the archive's 3 entries)", Cause::ForeignKeyFile);
    // Zero shares would read the archive with its own shares alone, as one built
    // without a key file, under the names the file gives: refused whatever its
    // records, also with the IV share's unused bytes set.
    const std::string zeroShares(KeyFileHeader::Size, '\0');
    const std::string planted = foreign + "its key and IV shares are zero";
    ExpectStructuralError(archive_, zeroShares + keyFile_.substr(KeyFileHeader::Size), planted, Cause::ForeignKeyFile);
    ExpectStructuralError(archive_, zeroShares, planted, Cause::ForeignKeyFile);
    ExpectStructuralError(archive_, zeroShares.substr(0, 48) + std::string(16, '\x7f'), planted,
                          Cause::ForeignKeyFile);
    // The archive's own key file, cut at a record: damage, not another archive.
    ExpectStructuralError(archive_, keyFile_.substr(0, KeyFileHeader::Size + 2 + 5 + 4),
                          "a.zlk: holds 1 NameRecords for the archive's 3 entries", Cause::Damage);
}

TEST_F(ArchiveReaderTest, WalksReadEveryEntryAndEntriesCanBeReadAgain)
{
    const std::string keyPath = KeyPath();
    const ArchiveReader reader(ArchivePath(), &keyPath);
    EXPECT_EQ(reader.EntryCount(), 3u);
    const std::vector<ArchiveReader::Entry> entries = testing::AllEntries(reader);
    ASSERT_EQ(entries.size(), 3u);
    std::uint64_t nameOffset = KeyFileHeader::Size;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ArchiveReader::Entry& entry = entries[i];
        EXPECT_EQ(entry.position.index, i);
        EXPECT_EQ(entry.position.nameOffset, nameOffset);
        EXPECT_EQ(entry.name, "file" + std::to_string(i));
        nameOffset += 2 + entry.name.size() + 4;
        const ArchiveReader::Entry again = reader.ReadEntry(entry.position);
        EXPECT_EQ(again.position.offset, entry.position.offset);
        EXPECT_EQ(again.fields.contentHash, entry.fields.contentHash);
        EXPECT_EQ(again.name, entry.name);
    }
    // Two walks do not disturb each other.
    ArchiveReader::Walk first = reader.Entries();
    ArchiveReader::Walk second = reader.Entries();
    ArchiveReader::Entry a;
    ArchiveReader::Entry b;
    ASSERT_TRUE(first.Next(a) && first.Next(a) && second.Next(b));
    EXPECT_EQ(a.name, "file1");
    EXPECT_EQ(b.name, "file0");

    // A position that no walk gave is refused, not trusted.
    EXPECT_THROW(reader.ReadEntry({0, ArchiveHeader::Size + 1, KeyFileHeader::Size}), ArchiveFormatError);
    EXPECT_THROW(reader.ReadEntry({0, archive_.size(), KeyFileHeader::Size}), ArchiveFormatError);
    // A walk of the records alone gives no name offset to come back to.
    ArchiveReader::Walk records = reader.Records();
    ASSERT_TRUE(records.Next(a));
    EXPECT_EQ(a.name, "");
    EXPECT_THROW(reader.ReadEntry(a.position), ArchiveFormatError);
}

TEST_F(ArchiveReaderTest, AnArchiveThatChangesAfterOpeningIsRefusedWhenWalked)
{
    const std::string keyPath = KeyPath();
    const ArchiveReader reader(ArchivePath(), &keyPath);
    const std::vector<ArchiveReader::Entry> entries = testing::AllEntries(reader);
    if (testing::OnWindows) {
        // There nobody can write the archive while the reader holds it open.
        EXPECT_THROW(dir_.Write("a.zpk", "changed"), std::runtime_error);
        std::vector<std::uint8_t> content;
        EXPECT_EQ(reader.ReadContent(entries[1], content), Status::Ok);
        return;
    }
    dir_.Write("a.zpk", archive_.substr(0, SecondEntry() + 10));
    ArchiveReader::Walk walk = reader.Entries();
    ArchiveReader::Entry entry;
    EXPECT_TRUE(walk.Next(entry));
    EXPECT_THROW(walk.Next(entry), ArchiveFormatError);
    std::vector<std::uint8_t> content;
    EXPECT_EQ(reader.ReadContent(entries[0], content), Status::Ok);
    EXPECT_THROW(reader.ReadContent(entries[1], content), ArchiveFormatError);
}

TEST_F(ArchiveReaderTest, DamagedContentIsAnEntryFault)
{
    const std::string keyPath = KeyPath();
    auto statusOf = [&](const std::string& archive, std::size_t index) {
        dir_.Write("a.zpk", archive);
        ArchiveReader reader(ArchivePath(), &keyPath);
        std::vector<std::uint8_t> content;
        return reader.ReadContent(testing::AllEntries(reader).at(index), content);
    };

    std::string flipped = archive_;
    flipped[SecondEntry() + FileEntry::Size + 100] ^= 1;
    EXPECT_EQ(statusOf(flipped, 1), Status::HashMismatch);
    EXPECT_EQ(statusOf(flipped, 0), Status::Ok);

    // A compressed entry whose raw size no LZ4 block of its length could reach is
    // refused before rawSize bytes are allocated for it.
    std::string inflated = archive_;
    Patch32(inflated, FirstEntry + RawSizeField, 0xFFFFFFFF);
    EXPECT_EQ(statusOf(inflated, 0), Status::BadCompression);
    Patch32(inflated, FirstEntry + RawSizeField, 2001);
    EXPECT_EQ(statusOf(inflated, 0), Status::BadCompression);

    // Changing one byte of the compressed block: never Ok, never a crash.
    const std::size_t storedSize = DecodeFixed32(Bytes(FirstEntry + StoredSizeField));
    for (std::size_t i = 0; i < storedSize; ++i) {
        std::string damaged = archive_;
        damaged[FirstEntry + FileEntry::Size + i] ^= 0x40;
        EXPECT_NE(statusOf(damaged, 0), Status::Ok) << i;
    }
}

TEST_F(ArchiveReaderTest, EveryTruncationIsRefusedOrReadSafely)
{
    // Only the cuts at an entry boundary leave a valid, shorter archive; reading
    // its entries (without the key file, so they are noise) must stay in bounds.
    std::size_t valid = 0;
    for (std::size_t length = 0; length <= archive_.size(); ++length) {
        dir_.Write("a.zpk", archive_.substr(0, length));
        try {
            ArchiveReader reader(ArchivePath(), nullptr);
            ++valid;
            std::vector<std::uint8_t> content;
            for (const ArchiveReader::Entry& entry : testing::AllEntries(reader))
                reader.ReadContent(entry, content);
        } catch (const ArchiveFormatError&) {
        }
    }
    EXPECT_EQ(valid, 4u);  // 0, 1, 2 or 3 entries
}

TEST_F(ArchiveReaderTest, FilesThatCannotBeOpened)
{
    const std::string missing = (dir_ / "missing").string();
    EXPECT_THROW(ArchiveReader(missing, nullptr), std::runtime_error);
    try {
        ArchiveReader reader(ArchivePath(), &missing);
        ADD_FAILURE();
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot open " + missing + "!");
    }
    EXPECT_THROW(ArchiveReader(dir_.path().string(), nullptr), std::runtime_error);
}

}  // namespace
}  // namespace zelkor
