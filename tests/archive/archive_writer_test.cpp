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

#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <gtest/gtest.h>
#include <xxhash.h>

#include "archive/archive_reader.h"
#include "platform/file.h"
#include "script/file_job.h"
#include "support/temp_dir.h"

namespace zelkor {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

using Bytes = std::vector<std::uint8_t>;

struct Source {
    std::string archivedPath;
    std::string content;
};

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator());
    return bytes;
}

class ArchiveWriterTest : public ::testing::Test {
protected:
    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

    // Loads `content` as a FileJob does and adds it to `writer`.
    bool Add(ArchiveWriter& writer, const Source& source)
    {
        EXPECT_TRUE(job_.Load(dir_.Write("source.bin", source.content).string()));
        return writer.AddFile(source.archivedPath, job_.rawSize, job_.storedSize, job_.contentHash,
                              job_.storedBytes.data());
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
        ASSERT_EQ(reader.Entries().size(), sources.size());
        std::uint64_t offset = ArchiveHeader::Size;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const auto& entry = reader.Entries()[i];
            const std::string& content = sources[i].content;
            EXPECT_EQ(entry.offset, offset);
            EXPECT_EQ(entry.fields.dataOffset, offset + FileEntry::Size);
            EXPECT_EQ(entry.fields.rawSize, content.size());
            EXPECT_EQ(entry.fields.contentHash, XXH32(content.data(), content.size(), ArchiveMagic));
            EXPECT_EQ(entry.fields.nameHash, NameHash(sources[i].archivedPath));
            EXPECT_EQ(entry.name, keyName.empty() ? "" : sources[i].archivedPath);
            Bytes read;
            EXPECT_EQ(reader.ReadContent(i, read), ArchiveReader::ContentStatus::Ok) << i;
            EXPECT_TRUE(read == Bytes(content.begin(), content.end())) << i;
            offset = entry.fields.dataOffset + entry.fields.storedSize;
        }
        EXPECT_EQ(offset, fs::file_size(PathOf(archiveName)));
    }

    TempDir dir_;
    FileJob job_;
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
        {"empty-again.txt", ""},
        {"last.txt", "the end"},
    };
    for (const char* key : {"a.zlk", ""}) {
        SCOPED_TRACE(key);
        Build("a.zpk", key, sources);
        ExpectArchive("a.zpk", key, sources);
    }
    // An empty file's entry is followed directly by the next entry.
    ArchiveReader reader(PathOf("a.zpk"), nullptr);
    const auto& entries = reader.Entries();
    EXPECT_EQ(entries[0].fields.dataOffset, 88u);
    EXPECT_EQ(entries[0].fields.storedSize, 0u);
    EXPECT_EQ(entries[1].offset, 88u);
    EXPECT_LT(entries[2].fields.storedSize, entries[2].fields.rawSize);
    EXPECT_EQ(entries[3].fields.storedSize, entries[3].fields.rawSize);
}

TEST_F(ArchiveWriterTest, KeyFileHoldsTheNamesAsGiven)
{
    // Case and separator variants, and a path added twice.
    const std::vector<Source> sources = {
        {"Textures\\Stone.PNG", "a"}, {"textures/stone.png", "bb"}, {"Textures\\Stone.PNG", "ccc"}};
    Build("a.zpk", "a.zlk", sources);
    ExpectArchive("a.zpk", "a.zlk", sources);

    ArchiveReader reader(PathOf("a.zpk"), nullptr);
    EXPECT_EQ(reader.Entries()[0].fields.nameHash, reader.Entries()[1].fields.nameHash);
    EXPECT_EQ(reader.Entries()[0].fields.nameHash, reader.Entries()[2].fields.nameHash);

    std::string expected = dir_.Read("a.zlk").substr(0, KeyFileHeader::Size);
    for (const Source& source : sources) {
        const Bytes record =
            NameRecord{source.archivedPath, XXH32(source.content.data(), source.content.size(),
                                                  ArchiveMagic)}.Encode();
        expected.append(record.begin(), record.end());
    }
    EXPECT_EQ(dir_.Read("a.zlk"), expected);
}

TEST_F(ArchiveWriterTest, EntriesAreEncryptedWithTheXorOfTheShares)
{
    const std::string content = RandomBytes(1000, 5);  // stored raw
    ArchiveWriter writer;
    const std::string keyPath = PathOf("a.zlk");
    ASSERT_TRUE(writer.Create(PathOf("a.zpk"), &keyPath));
    ASSERT_TRUE(Add(writer, {"first", content}));
    // The caller's buffer now holds what was written.
    const Bytes encrypted(job_.storedBytes.data(), job_.storedBytes.data() + job_.storedSize);
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
    EXPECT_NE(reader.ReadContent(0, read), ArchiveReader::ContentStatus::Ok);
}

TEST_F(ArchiveWriterTest, WithoutKeyFileTheArchiveSharesAreTheKey)
{
    const std::string content = RandomBytes(100, 6);
    Build("a.zpk", "", {{"f", content}});
    const std::string archive = dir_.Read("a.zpk");
    EXPECT_TRUE(DecryptByHand(archive, nullptr, 88, content.size()) ==
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
    std::uint8_t byte = 'x';
    const std::string tooLong(MaxNameLength + 1, 'n');
    EXPECT_FALSE(writer.AddFile(tooLong, 1, 1, 0, &byte));
    EXPECT_FALSE(writer.AddFile("big", ArchiveAddressLimit, 0, 0, nullptr));
    EXPECT_FALSE(writer.AddFile("odd", 1, 2, 0, &byte));
    EXPECT_EQ(byte, 'x');  // not encrypted either
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

TEST_F(ArchiveWriterTest, ArchiveThatCannotBeCreatedLeavesTheKeyFileAsItWas)
{
    ArchiveWriter writer;
    const std::string keyPath = PathOf("a.zlk");
    EXPECT_FALSE(writer.Create(PathOf("missing/a.zpk"), &keyPath));
    EXPECT_EQ(writer.FailedPath(), PathOf("missing/a.zpk"));
    EXPECT_EQ(dir_.Read("a.zlk"), "");  // created for it, so it stays, empty

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

    // Someone else still holds the archive (a writer that is closing it).
    File holder = File::Open(PathOf("a.zpk"), O_RDONLY);
    ASSERT_EQ(::flock(holder.Descriptor(), LOCK_EX | LOCK_NB), 0);
    ArchiveWriter writer;
    const std::string keyPath = PathOf("a.zlk");
    EXPECT_FALSE(writer.Create(PathOf("a.zpk"), &keyPath));
    EXPECT_EQ(writer.FailedPath(), PathOf("a.zpk"));
    holder.Close();

    EXPECT_EQ(dir_.Read("a.zlk"), keyFileBefore);
    ExpectArchive("a.zpk", "a.zlk", sources);
}

// --- Failed writes -----------------------------------------------------------------

// Runs `body` in a child process whose files cannot grow beyond `limit` bytes,
// and returns the text of the exception it ended with ("" when none).
std::string RunWithFileSizeLimit(rlim_t limit, const std::function<void()>& body)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        std::string message;
        const rlimit rl{limit, limit};
        ::signal(SIGXFSZ, SIG_IGN);  // so that writing past the limit fails with EFBIG
        if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) {
            message = "no limit";
        } else {
            try {
                body();
            } catch (const std::exception& error) {
                message = error.what();
            }
        }
        const ssize_t written = ::write(channel[1], message.data(), message.size());
        ::_exit(written == static_cast<ssize_t>(message.size()) ? 0 : 1);
    }
    ::close(channel[1]);
    std::string message;
    char buffer[512];
    ssize_t got;
    while ((got = ::read(channel[0], buffer, sizeof buffer)) > 0)
        message.append(buffer, static_cast<std::size_t>(got));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return message;
}

TEST_F(ArchiveWriterTest, AFullDiskIsAFailureNotASuccess)
{
    const std::string archivePath = PathOf("a.zpk");
    const std::string keyPath = PathOf("a.zlk");
    const std::string noise = RandomBytes(4096, 9);
    ASSERT_TRUE(job_.Load(dir_.Write("noise", noise).string()));
    // Writes one entry of the loaded file under `name` into a new archive.
    auto writeEntry = [&](const std::string& name) {
        return [&, name] {
            ArchiveWriter writer;
            if (writer.Create(archivePath, &keyPath) &&
                writer.AddFile(name, job_.rawSize, job_.storedSize, job_.contentHash,
                               job_.storedBytes.data()))
                writer.Close();
        };
    };

    // The archive's stored bytes do not fit.
    EXPECT_EQ(RunWithFileSizeLimit(1024, writeEntry("f")), "Cannot write " + archivePath + "!");
    // The key file's name record does not fit.
    EXPECT_EQ(RunWithFileSizeLimit(1024, writeEntry(std::string(2000, 'n'))),
              "Cannot write " + keyPath + "!");
    // Not even the header fits.
    EXPECT_EQ(RunWithFileSizeLimit(10, [&] { ArchiveWriter().Create(archivePath, nullptr); }),
              "Cannot write " + archivePath + "!");

    // Below the limit all is well.
    EXPECT_EQ(RunWithFileSizeLimit(1 << 20, writeEntry("f")), "");
    ExpectArchive("a.zpk", "a.zlk", {{"f", noise}});
}

// --- Several writers at once ---------------------------------------------------------

TEST_F(ArchiveWriterTest, WritersWorkInParallel)
{
    // Each thread builds its own archive from its own FileJob, as the script
    // processor's workers do. Run alone (as under ThreadSanitizer), the threads
    // also reach the crypto library's one-time set-up together, through Create.
    constexpr int Threads = 4;
    std::vector<std::vector<Source>> sources(Threads);
    for (int t = 0; t < Threads; ++t) {
        for (int f = 0; f < 3; ++f)
            sources[t].push_back({"t" + std::to_string(t) + "/f" + std::to_string(f),
                                  f == 1 ? RandomBytes(3000, t) : std::string(20000 + t, char('a' + f))});
        for (int f = 0; f < 3; ++f)
            dir_.Write("t" + std::to_string(t) + "-" + std::to_string(f), sources[t][f].content);
    }
    std::vector<int> added(Threads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            FileJob job;
            ArchiveWriter writer;
            const std::string keyPath = PathOf("t" + std::to_string(t) + ".zlk");
            if (!writer.Create(PathOf("t" + std::to_string(t) + ".zpk"), &keyPath))
                return;
            for (int f = 0; f < 3; ++f) {
                if (job.Load(PathOf("t" + std::to_string(t) + "-" + std::to_string(f))) &&
                    writer.AddFile(sources[t][f].archivedPath, job.rawSize, job.storedSize,
                                   job.contentHash, job.storedBytes.data()))
                    ++added[t];
            }
            writer.Close();
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < Threads; ++t) {
        EXPECT_EQ(added[t], 3);
        ExpectArchive("t" + std::to_string(t) + ".zpk", "t" + std::to_string(t) + ".zlk", sources[t]);
    }
}

}  // namespace
}  // namespace zelkor
