// Known answers for every library as built for the target system. The expected
// bytes are the published test vectors (NIST SP 800-38A, FIPS 180-2) and what
// the Linux build's libraries give, so a pass also means that both systems
// produce the same archive bytes.
#include "dependency_checks.h"

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <CLI/CLI.hpp>
#include <gtest/gtest.h>
#include <xxhash.h>

namespace toolchain_check {
namespace {

Bytes FixedInput() {
    Bytes raw(100000);
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>((i * i) % 251 / 16);
    return raw;
}

TEST(Lz4Check, CompressesToTheSameBytesAsOnLinux) {
    const Bytes raw = FixedInput();
    const Bytes compressed = Lz4Compress(raw);
    EXPECT_EQ(compressed.size(), 647u);
    EXPECT_EQ(XXH32(compressed.data(), compressed.size(), 0), 0xb89683c7u);
    EXPECT_EQ(Lz4Decompress(compressed, raw.size()), raw);
}

TEST(Lz4Check, RefusesATruncatedBlock) {
    const Bytes raw = FixedInput();
    Bytes compressed = Lz4Compress(raw);
    compressed.resize(compressed.size() / 2);
    EXPECT_THROW(Lz4Decompress(compressed, raw.size()), std::runtime_error);
}

constexpr char kNistKey[] = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
constexpr char kNistIv[] = "000102030405060708090a0b0c0d0e0f";
constexpr char kNistPlain[] =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
constexpr char kNistCipher[] =
    "dc7e84bfda79164b7ecd8486985d386039ffed143b28b1c832113c6331e5407b"
    "df10132415e54b92a13ed0a8267ae2f975a385741ab9cef82031623d55b1e471";

TEST(CryptoppCheck, AesCfbMatchesTheNistVectorsForWholeAndPartialBlocks) {
    const Bytes key = FromHex(kNistKey), iv = FromHex(kNistIv), all = FromHex(kNistPlain);
    for (std::size_t length : {64u, 20u, 1u}) {
        SCOPED_TRACE(length);
        const Bytes plain(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(length));
        const Bytes cipher = AesCfbEncrypt(key, iv, plain);
        EXPECT_EQ(ToHex(cipher), std::string(kNistCipher, 2 * length));
        EXPECT_EQ(AesCfbDecrypt(key, iv, cipher), plain);
    }
}

TEST(CryptoppCheck, Sha256MatchesTheFipsVectors) {
    const struct {
        const char* text;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const auto& c : cases) EXPECT_EQ(Sha256Hex(c.text), c.digest) << '"' << c.text << '"';
}

TEST(XxhashCheck, Xxh32MatchesLinux) {
    EXPECT_EQ(Xxh32("", 0), 0x02cc5d05u);
    EXPECT_EQ(Xxh32("abc", 0), 0x32d153ffu);
    EXPECT_EQ(Xxh32("Zelkor Archiver", 0x5a454c4bu), 0x882981e7u);
}

TEST(OnetbbCheck, ParallelForCoversEveryIndexOnce) {
    EXPECT_EQ(ParallelSum(0), 0u);
    EXPECT_EQ(ParallelSum(1), 0u);
    EXPECT_EQ(ParallelSum(1000000), 499999500000u);
    EXPECT_GE(WorkerCount(), 1);
}

TEST(BoostPropertyTreeCheck, ReadsAttributesAndThrowsItsErrorsAcrossLibraries) {
    EXPECT_EQ(FirstArchivedPath("<ScriptFile><CreateOrvanPack><File ArchivedPath=\"t\\logo.png\">x</File>"
                                "</CreateOrvanPack></ScriptFile>"),
              "t\\logo.png");
    EXPECT_THROW(FirstArchivedPath("<ScriptFile><CreateOrvanPack>"), boost::property_tree::xml_parser_error);
    EXPECT_THROW(FirstArchivedPath("<ScriptFile/>"), boost::property_tree::ptree_bad_path);
}

TEST(NlohmannJsonCheck, RoundTripsUtf8Names) {
    EXPECT_EQ(JsonRoundTrip("caf\xc3\xa9/a.png", 7), "{\"name\":\"caf\xc3\xa9/a.png\",\"size\":7}");
}

TEST(Cli11Check, ParsesFlagsAndRejectsUnknownOptions) {
    CLI::App app;
    bool quiet = false;
    app.add_flag("-q,--quiet", quiet);
    app.parse("--quiet", false);
    EXPECT_TRUE(quiet);
    EXPECT_THROW(app.parse("--loud", false), CLI::ExtrasError);
}

TEST(DependencyChecks, AllPass) { EXPECT_TRUE(FailedChecks().empty()); }

}  // namespace
}  // namespace toolchain_check
