// Archives written by ArchiveWriter and read back: layouts, encryption, the
// locking of the output paths, refused entries and failed writes.
#include "archive/archive_writer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <gtest/gtest.h>
#include <xxhash.h>

#include "archive/archive_write_error.h"
#include "pack/file_job.h"
#include "platform/file.h"
#include "reader/archive_reader.h"
#include "support/archive_contents.h"
#include "support/temp_dir.h"
#include "support/test_data.h"

namespace zelkor {
namespace {

using testing::RandomBytes;

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

using Bytes = std::vector<std::uint8_t>;

struct Source {
    std::string archivedPath;
    std::string content;
};

class ArchiveWriterTest : public ::testing::Test {
protected:
    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

    // Loads `content` as a FileJob does and adds it to `writer`.
    bool Add(ArchiveWriter& writer, const Source& source)
    {
        loaded_ = job_.Load(dir_.Write("source.bin", source.content).string());
        EXPECT_TRUE(loaded_);
        return loaded_ && writer.AddFile(source.archivedPath, *loaded_);
    }

    // Writes an archive of `sources`, with a key file unless `keyName` is empty.
    void Build(const std::string& archiveName, const std::string& keyName,
               const std::vector<Source>& sources)
    {
        const std::string keyPath = PathOf(keyName);
        ArchiveWriter writer;
        ASSERT_TRUE(writer.Create(PathOf(archiveName), keyName.empty() ? nullptr : &keyPath));
        for (const Source& source : sources)
            ASSERT_TRUE(Add(writer, source));
        writer.Close();
    }

    // Reads the archive back and checks every entry against `sources`.
    void ExpectArchive(const std::string& archiveName, const std::string& keyName,
                       const std::vector<Source>& sources)
    {
        const std::string keyPath = PathOf(keyName);
        ArchiveReader reader(PathOf(archiveName), keyName.empty() ? nullptr : &keyPath);
        const std::vector<ArchiveReader::Entry> entries = testing::AllEntries(reader);
        ASSERT_EQ(entries.size(), sources.size());
        ASSERT_EQ(reader.EntryCount(), sources.size());
        std::uint64_t offset = ArchiveHeader::Size;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const auto& entry = entries[i];
            const std::string& content = sources[i].content;
            EXPECT_EQ(entry.position.offset, offset);
            EXPECT_EQ(entry.fields.dataOffset, offset + FileEntry::Size);
            EXPECT_EQ(entry.fields.rawSize, content.size());
            EXPECT_EQ(entry.fields.contentHash, XXH32(content.data(), content.size(), ArchiveMagic));
            EXPECT_EQ(entry.fields.nameHash, NameHash(sources[i].archivedPath));
            EXPECT_EQ(entry.name, keyName.empty() ? "" : sources[i].archivedPath);
            Bytes read;
            EXPECT_EQ(reader.ReadContent(entry, read), ArchiveReader::ContentStatus::Ok) << i;
            EXPECT_TRUE(read == Bytes(content.begin(), content.end())) << i;
            offset = entry.fields.dataOffset + entry.fields.storedSize;
        }
        EXPECT_EQ(offset, fs::file_size(PathOf(archiveName)));
    }

    TempDir dir_;
    FileJob job_;
    std::optional<LoadedFile> loaded_;
};

// Decrypts `size` bytes at `offset` of the archive with a key and IV formed
// straight from the bytes of the two files, independently of the writer's and
// the reader's code.
Bytes DecryptByHand(const std::string& archive, const std::string* keyFile, std::size_t offset,
                    std::size_t size)
{
    std::uint8_t key[32];
    std::uint8_t iv[16];
    for (int i = 0; i < 32; ++i)
        key[i] = static_cast<std::uint8_t>(archive[4 + i] ^ (keyFile ? (*keyFile)[i] : 0));
    for (int i = 0; i < 16; ++i)
        iv[i] = static_cast<std::uint8_t>(archive[36 + i] ^ (keyFile ? (*keyFile)[32 + i] : 0));
    Bytes bytes(archive.begin() + offset, archive.begin() + offset + size);
    CryptoPP::CFB_Mode<CryptoPP::AES>::Decryption cipher(key, sizeof key, iv);
    cipher.ProcessData(bytes.data(), bytes.data(), bytes.size());
    return bytes;
}

TEST_F(ArchiveWriterTest, EmptyArchiveIsJustTheHeaders)
{
    Build("a.zpk", "a.zpk.zlk", {});
    EXPECT_EQ(fs::file_size(PathOf("a.zpk")), ArchiveHeader::Size);
    EXPECT_EQ(fs::file_size(PathOf("a.zpk.zlk")), KeyFileHeader::Size);
    EXPECT_EQ(dir_.Read("a.zpk").substr(0, 4), "\x0C\xED\x0F\x0A");
    ExpectArchive("a.zpk", "a.zpk.zlk", {});

    Build("b.zpk", "", {});
    EXPECT_EQ(fs::file_size(PathOf("b.zpk")), ArchiveHeader::Size);
    EXPECT_FALSE(fs::exists(PathOf("b.zpk.zlk")));
    ExpectArchive("b.zpk", "", {});
}

TEST_F(ArchiveWriterTest, EntriesRoundTripInOrder)
{
    const std::vector<Source> sources = {
        {"empty.txt", ""},
        {"one.txt", "x"},
        {"Data\\zeros.bin", std::string(100000, '\0')},
        {"noise.bin", RandomBytes(10000, 11)},
        {"Textures\\Stone.PNG", "a"},  // a case and separator variant,
        {"textures/stone.png", ""},     // an empty file,
        {"Textures\\Stone.PNG", "b"},  // the same path again
    };
    for (const char* key : {"a.zlk", ""}) {
        SCOPED_TRACE(key);
        Build("a.zpk", key, sources);
        ExpectArchive("a.zpk", key, sources);
    }
    // An empty file's entry is followed directly by the next one. The names kept
    // each path's own bytes (ExpectArchive compared them); the variants share a
    // nameHash.
    ArchiveReader reader(PathOf("a.zpk"), nullptr);
    const auto entries = testing::AllEntries(reader);
    EXPECT_EQ(entries[0].fields.dataOffset, 88u);
    EXPECT_EQ(entries[0].fields.storedSize, 0u);
    EXPECT_EQ(entries[1].position.offset, 88u);
    EXPECT_LT(entries[2].fields.storedSize, entries[2].fields.rawSize);
    EXPECT_EQ(entries[3].fields.storedSize, entries[3].fields.rawSize);
    EXPECT_EQ(entries[4].fields.nameHash, entries[5].fields.nameHash);
    EXPECT_EQ(entries[4].fields.nameHash, entries[6].fields.nameHash);
}

TEST_F(ArchiveWriterTest, EntriesAreEncryptedWithTheKeyFormedFromTheShares)
{
    const std::string content = RandomBytes(1000, 5);  // stored raw
    ArchiveWriter writer;
    const std::string keyPath = PathOf("a.zlk");
    ASSERT_TRUE(writer.Create(PathOf("a.zpk"), &keyPath));
    ASSERT_TRUE(Add(writer, {"first", content}));
    // The caller's buffer now holds what was written.
    const Bytes encrypted(loaded_->stored.begin(), loaded_->stored.end());
    ASSERT_TRUE(Add(writer, {"second", content}));
    writer.Close();

    const std::string archive = dir_.Read("a.zpk");
    const std::string keyFile = dir_.Read("a.zlk");
    const std::size_t first = ArchiveHeader::Size + FileEntry::Size;
    const std::size_t second = first + content.size() + FileEntry::Size;
    EXPECT_TRUE(Bytes(archive.begin() + first, archive.begin() + first + content.size()) == encrypted);
    EXPECT_NE(encrypted, Bytes(content.begin(), content.end()));
    EXPECT_TRUE(DecryptByHand(archive, &keyFile, first, content.size()) ==
                Bytes(content.begin(), content.end()));
    // Every entry starts the cipher afresh.
    EXPECT_EQ(archive.substr(first, content.size()), archive.substr(second, content.size()));

    // The archive alone does not decrypt it.
    ArchiveReader reader(PathOf("a.zpk"), nullptr);
    Bytes read;
    EXPECT_NE(reader.ReadContent(testing::AllEntries(reader).at(0), read), ArchiveReader::ContentStatus::Ok);

    // Without a key file, the archive's own shares are the key and IV.
    Build("b.zpk", "", {{"f", content}});
    EXPECT_TRUE(DecryptByHand(dir_.Read("b.zpk"), nullptr, first, content.size()) ==
                Bytes(content.begin(), content.end()));
}

TEST_F(ArchiveWriterTest, EveryArchiveGetsFreshKeyMaterial)
{
    const std::vector<Source> sources = {{"f", std::string(5000, 'a')}};
    Build("a.zpk", "a.zlk", sources);
    Build("b.zpk", "b.zlk", sources);
    const std::string a = dir_.Read("a.zpk");
    const std::string b = dir_.Read("b.zpk");
    ASSERT_EQ(a.size(), b.size());
    EXPECT_NE(a.substr(4, 64), b.substr(4, 64));
    EXPECT_NE(dir_.Read("a.zlk").substr(0, 64), dir_.Read("b.zlk").substr(0, 64));
    EXPECT_EQ(a.substr(68, 20), b.substr(68, 20));  // the same FileEntry
    EXPECT_NE(a.substr(88), b.substr(88));
}

TEST_F(ArchiveWriterTest, GivenKeyMaterialGivesTheSameBytesEveryTime)
{
    KeyMaterial material;
    for (std::size_t i = 0; i < ShareSize; ++i) {
        material.archiveKeyShare[i] = static_cast<std::uint8_t>(i);
        material.archiveIvShare[i] = static_cast<std::uint8_t>(0x40 + i);
        material.keyFileKeyShare[i] = static_cast<std::uint8_t>(0x80 + i);
        material.keyFileIvShare[i] = static_cast<std::uint8_t>(0xC0 + i);
    }
    const std::vector<Source> sources = {{"f", std::string(5000, 'a')}, {"g", RandomBytes(3000, 2)}};
    for (const std::string name : {"a", "b"}) {
        const std::string keyPath = PathOf(name + ".zlk");
        ArchiveWriter writer;
        ASSERT_TRUE(writer.Create(PathOf(name + ".zpk"), &keyPath, material));
        for (const Source& source : sources)
            ASSERT_TRUE(Add(writer, source));
        writer.Close();
        ExpectArchive(name + ".zpk", name + ".zlk", sources);
    }
    // The shares are the ones given, each in its place.
    const std::string archive = dir_.Read("a.zpk");
    const std::string keyFile = dir_.Read("a.zlk");
    EXPECT_TRUE(std::equal(material.archiveKeyShare.begin(), material.archiveKeyShare.end(), archive.begin() + 4,
                           [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }));
    EXPECT_EQ(static_cast<std::uint8_t>(archive[36]), 0x40);
    EXPECT_EQ(static_cast<std::uint8_t>(keyFile[0]), 0x80);
    EXPECT_EQ(static_cast<std::uint8_t>(keyFile[32]), 0xC0);
    EXPECT_EQ(archive, dir_.Read("b.zpk"));
    EXPECT_EQ(keyFile, dir_.Read("b.zlk"));
}

TEST_F(ArchiveWriterTest, ExistingFilesAreReplaced)
{
    dir_.Write("a.zpk", std::string(1000, 'o'));
    dir_.Write("a.zlk", std::string(1000, 'o'));
    Build("a.zpk", "a.zlk", {{"f", "new"}});
    ExpectArchive("a.zpk", "a.zlk", {{"f", "new"}});
}

TEST_F(ArchiveWriterTest, CreateAgainFinishesTheFirstArchive)
{
    ArchiveWriter writer;
    const std::string keyPath = PathOf("a.zlk");
    ASSERT_TRUE(writer.Create(PathOf("a.zpk"), &keyPath));
    ASSERT_TRUE(Add(writer, {"f", "first"}));
    ASSERT_TRUE(writer.Create(PathOf("b.zpk"), nullptr));
    ASSERT_TRUE(Add(writer, {"g", "second"}));
    writer.Close();
    ExpectArchive("a.zpk", "a.zlk", {{"f", "first"}});
    ExpectArchive("b.zpk", "", {{"g", "second"}});
}

TEST_F(ArchiveWriterTest, EntriesTheFormatCannotHoldAreRefusedWhole)
{
    ArchiveWriter writer;
    const std::string keyPath = PathOf("a.zlk");
    ASSERT_TRUE(writer.Create(PathOf("a.zpk"), &keyPath));
    std::uint8_t bytes[2] = {'x', 'y'};
    LoadedFile one{std::span(bytes, 1), 1, 0};
    LoadedFile big{{}, ArchiveAddressLimit, 0};
    LoadedFile odd{std::span(bytes, 2), 1, 0};
    const std::string tooLong(MaxNameLength + 1, 'n');
    EXPECT_FALSE(writer.AddFile(tooLong, one));
    EXPECT_FALSE(writer.AddFile("big", big));
    EXPECT_FALSE(writer.AddFile("odd", odd));
    EXPECT_EQ(bytes[0], 'x');  // not encrypted either
    const std::string longest(MaxNameLength, 'n');
    ASSERT_TRUE(Add(writer, {longest, "kept"}));
    writer.Close();
    ExpectArchive("a.zpk", "a.zlk", {{longest, "kept"}});
}

// --- Paths that cannot be created --------------------------------------------------

TEST_F(ArchiveWriterTest, KeyFileThatCannotBeCreatedLeavesTheArchiveAlone)
{
    dir_.Write("a.zpk", "old archive");
    ArchiveWriter writer;
    const std::string keyPath = PathOf("missing/a.zlk");
    EXPECT_FALSE(writer.Create(PathOf("a.zpk"), &keyPath));
    EXPECT_EQ(writer.FailedPath(), keyPath);
    EXPECT_EQ(dir_.Read("a.zpk"), "old archive");
}

TEST_F(ArchiveWriterTest, KeyFileSharesOfZeroAreNeverWritten)
{
    // Readers refuse such a key file as planted; only the bytes of the IV share
    // that take part count.
    KeyMaterial material;
    material.archiveKeyShare.fill(0x11);
    material.archiveIvShare.fill(0x22);
    material.keyFileIvShare[IvSize] = 0x33;
    dir_.Write("a.zpk", "old archive");
    const std::string keyPath = PathOf("a.zlk");
    ArchiveWriter writer;
    EXPECT_FALSE(writer.Create(PathOf("a.zpk"), &keyPath, material));
    EXPECT_EQ(writer.FailedPath(), keyPath);
    EXPECT_FALSE(writer.FailedHeld());
    EXPECT_EQ(dir_.Read("a.zpk"), "old archive");
    EXPECT_FALSE(std::filesystem::exists(keyPath));

    // Without a key file they take no part; with one IV byte set they do.
    ASSERT_TRUE(writer.Create(PathOf("a.zpk"), nullptr, material));
    writer.Close();
    ExpectArchive("a.zpk", "", {});
    material.keyFileIvShare[IvSize - 1] = 0x44;
    ASSERT_TRUE(writer.Create(PathOf("a.zpk"), &keyPath, material));
    writer.Close();
    ExpectArchive("a.zpk", "a.zlk", {});
}

TEST_F(ArchiveWriterTest, ArchiveThatCannotBeCreatedLeavesTheKeyFileAsItWas)
{
    ArchiveWriter writer;
    const std::string keyPath = PathOf("a.zlk");
    EXPECT_FALSE(writer.Create(PathOf("missing/a.zpk"), &keyPath));
    EXPECT_EQ(writer.FailedPath(), PathOf("missing/a.zpk"));
    EXPECT_TRUE(fs::is_empty(dir_.path()));  // not even a key file was left behind

    dir_.Write("a.zlk", "someone's key file");
    EXPECT_FALSE(writer.Create(PathOf("missing/a.zpk"), &keyPath));
    EXPECT_EQ(dir_.Read("a.zlk"), "someone's key file");
}

TEST_F(ArchiveWriterTest, SpecialFilesAreNotOutputs)
{
    ArchiveWriter writer;
    fs::create_directory(dir_ / "directory");
    EXPECT_FALSE(writer.Create(PathOf("directory"), nullptr));
    ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(writer.Create(PathOf("fifo"), nullptr));  // and does not wait for a reader
    EXPECT_EQ(writer.FailedPath(), PathOf("fifo"));
    // One path for both files: the second open finds the first one's lock.
    const std::string same = PathOf("same");
    EXPECT_FALSE(writer.Create(same, &same));
    // A FIFO at the name of the archive's commit record: refused at once,
    // before anything is written (the commit would fail, or once hung).
    ASSERT_EQ(::mkfifo(PathOf(".a.pak.zelkor-commit").c_str(), 0600), 0);
    const std::string key = PathOf("a.pak.zlk");
    EXPECT_FALSE(writer.Create(PathOf("a.pak"), &key));
    EXPECT_EQ(writer.FailedPath(), PathOf("a.pak"));
    EXPECT_FALSE(fs::exists(dir_ / "a.pak.zlk"));
}

TEST_F(ArchiveWriterTest, HeldPathsRefuseASecondWriter)
{
    ArchiveWriter first;
    const std::string keyPath = PathOf("a.zlk");
    ASSERT_TRUE(first.Create(PathOf("a.zpk"), &keyPath));
    ASSERT_TRUE(Add(first, {"f", "first writer's"}));

    ArchiveWriter second;
    const std::string otherKey = PathOf("b.zlk");
    EXPECT_FALSE(second.Create(PathOf("a.zpk"), &otherKey));
    EXPECT_EQ(second.FailedPath(), PathOf("a.zpk"));
    EXPECT_FALSE(second.Create(PathOf("b.zpk"), &keyPath));
    EXPECT_EQ(second.FailedPath(), keyPath);
    EXPECT_FALSE(fs::exists(PathOf("b.zpk")));
    EXPECT_FALSE(fs::exists(otherKey));

    ASSERT_TRUE(Add(first, {"g", "undisturbed"}));
    first.Close();
    ExpectArchive("a.zpk", "a.zlk", {{"f", "first writer's"}, {"g", "undisturbed"}});
    // Released on Close.
    EXPECT_TRUE(second.Create(PathOf("a.zpk"), &keyPath));
}

TEST_F(ArchiveWriterTest, AFailedCreateNeverEmptiesAFinishedKeyFile)
{
    const std::vector<Source> sources = {{"f", "finished build"}};
    Build("a.zpk", "a.zlk", sources);
    const std::string keyFileBefore = dir_.Read("a.zlk");

    // Someone else is building the same archive (without a key file) and gives
    // up; meanwhile another writer's Create, with the key file, cannot have it.
    {
        ArchiveWriter holder;
        ASSERT_TRUE(holder.Create(PathOf("a.zpk"), nullptr));
        ArchiveWriter writer;
        const std::string keyPath = PathOf("a.zlk");
        EXPECT_FALSE(writer.Create(PathOf("a.zpk"), &keyPath));
        EXPECT_EQ(writer.FailedPath(), PathOf("a.zpk"));
        EXPECT_TRUE(writer.FailedHeld());
    }

    EXPECT_EQ(dir_.Read("a.zlk"), keyFileBefore);
    ExpectArchive("a.zpk", "a.zlk", sources);
}

// --- Failed writes -----------------------------------------------------------------

// Runs `body` in a child process whose files cannot grow beyond `limit` bytes;
// true when it ended with an exception whose text is `expected` ("" for none).
bool ThrowsUnderFileSizeLimit(rlim_t limit, const std::string& expected,
                              const std::function<void()>& body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        std::string message;
        const rlimit rl{limit, limit};
        ::signal(SIGXFSZ, SIG_IGN);  // so that writing past the limit fails with EFBIG
        if (::setrlimit(RLIMIT_FSIZE, &rl) != 0)
            ::_exit(2);
        try {
            body();
        } catch (const ArchiveWriteError& error) {
            message = "Cannot write " + error.ShownPath() + "!";
        } catch (const std::exception& error) {
            message = error.what();
        }
        ::_exit(message == expected ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

TEST_F(ArchiveWriterTest, AFullDiskIsAFailureNotASuccess)
{
    const std::string archivePath = PathOf("a.zpk");
    const std::string keyPath = PathOf("a.zlk");
    const std::string noise = RandomBytes(4096, 9);
    const std::string noisePath = dir_.Write("noise", noise).string();
    // Writes one entry of the loaded file under `name` into a new archive.
    auto writeEntry = [&](const std::string& name) {
        return [&, name] {
            ArchiveWriter writer;
            std::optional<LoadedFile> loaded = job_.Load(noisePath);
            if (writer.Create(archivePath, &keyPath) && loaded && writer.AddFile(name, *loaded))
                writer.Close();
        };
    };

    // The archive's stored bytes do not fit; the key file's name record does not
    // fit; not even the header fits; below the limit all is well.
    const std::string archiveFailure = "Cannot write " + archivePath + "!";
    EXPECT_TRUE(ThrowsUnderFileSizeLimit(1024, archiveFailure, writeEntry("f")));
    // Nothing is left behind, not even a temporary file.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), {}), 1);  // the source alone
    EXPECT_TRUE(ThrowsUnderFileSizeLimit(1 << 20, "", writeEntry("f")));
    ExpectArchive("a.zpk", "a.zlk", {{"f", noise}});

    // Failed rebuilds leave the archive and key file of the last good build whole.
    EXPECT_TRUE(ThrowsUnderFileSizeLimit(1024, "Cannot write " + keyPath + "!",
                                         writeEntry(std::string(2000, 'n'))));
    EXPECT_TRUE(ThrowsUnderFileSizeLimit(10, archiveFailure,
                                         [&] { ArchiveWriter().Create(archivePath, nullptr); }));
    ExpectArchive("a.zpk", "a.zlk", {{"f", noise}});
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), {}), 3);
}

// --- Several writers at once ---------------------------------------------------------

TEST_F(ArchiveWriterTest, WritersWorkInParallel)
{
    // Each thread builds its own archive from its own FileJob, as the script
    // processor's workers do. Run alone (as under ThreadSanitizer), the threads
    // also reach the crypto library's one-time set-up together, through Create.
    const std::vector<std::string> names = {"t0", "t1", "t2", "t3"};
    std::vector<std::vector<Source>> sources(names.size());
    for (std::size_t t = 0; t < names.size(); ++t) {
        sources[t] = {{names[t] + "/zeros", std::string(20000 + t, '\0')},
                      {names[t] + "/noise", RandomBytes(3000, static_cast<unsigned>(t))},
                      {names[t] + "/text", "thread " + names[t]}};
        for (const Source& source : sources[t])
            dir_.Write(source.archivedPath, source.content);
    }
    std::vector<int> added(names.size(), 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < names.size(); ++t) {
        threads.emplace_back([&, t] {
            FileJob job;
            ArchiveWriter writer;
            const std::string keyPath = PathOf(names[t] + ".zlk");
            if (!writer.Create(PathOf(names[t] + ".zpk"), &keyPath))
                return;
            for (const Source& source : sources[t]) {
                std::optional<LoadedFile> loaded = job.Load(PathOf(source.archivedPath));
                if (loaded && writer.AddFile(source.archivedPath, *loaded))
                    ++added[t];
            }
            writer.Close();
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (std::size_t t = 0; t < names.size(); ++t) {
        EXPECT_EQ(added[t], 3);
        ExpectArchive(names[t] + ".zpk", names[t] + ".zlk", sources[t]);
    }
}

}  // namespace
}  // namespace zelkor
