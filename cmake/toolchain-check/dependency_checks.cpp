#include "dependency_checks.h"

#include <atomic>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <cryptopp/sha.h>
#include <lz4.h>
#include <lz4hc.h>
#include <nlohmann/json.hpp>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>
#include <xxhash.h>

namespace toolchain_check {

Bytes FromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) throw std::invalid_argument("odd number of hex digits");
    Bytes bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

std::string ToHex(const Bytes& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0x0f];
    }
    return hex;
}

Bytes Lz4Compress(const Bytes& raw) {
    Bytes compressed(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(raw.size()))));
    const int size = LZ4_compress_HC(reinterpret_cast<const char*>(raw.data()),
                                     reinterpret_cast<char*>(compressed.data()), static_cast<int>(raw.size()),
                                     static_cast<int>(compressed.size()), LZ4HC_CLEVEL_MAX);
    if (size <= 0) throw std::runtime_error("LZ4_compress_HC failed");
    compressed.resize(static_cast<std::size_t>(size));
    return compressed;
}

Bytes Lz4Decompress(const Bytes& compressed, std::size_t raw_size) {
    Bytes raw(raw_size);
    const int size = LZ4_decompress_safe(reinterpret_cast<const char*>(compressed.data()),
                                         reinterpret_cast<char*>(raw.data()), static_cast<int>(compressed.size()),
                                         static_cast<int>(raw.size()));
    if (size < 0 || static_cast<std::size_t>(size) != raw_size) throw std::runtime_error("LZ4_decompress_safe failed");
    return raw;
}

Bytes AesCfbEncrypt(const Bytes& key, const Bytes& iv, const Bytes& plain) {
    Bytes out(plain.size());
    CryptoPP::CFB_Mode<CryptoPP::AES>::Encryption cipher(key.data(), key.size(), iv.data());
    cipher.ProcessData(out.data(), plain.data(), plain.size());
    return out;
}

Bytes AesCfbDecrypt(const Bytes& key, const Bytes& iv, const Bytes& cipher_text) {
    Bytes out(cipher_text.size());
    CryptoPP::CFB_Mode<CryptoPP::AES>::Decryption cipher(key.data(), key.size(), iv.data());
    cipher.ProcessData(out.data(), cipher_text.data(), cipher_text.size());
    return out;
}

std::string Sha256Hex(std::string_view text) {
    Bytes digest(CryptoPP::SHA256::DIGESTSIZE);
    CryptoPP::SHA256().CalculateDigest(digest.data(), reinterpret_cast<const CryptoPP::byte*>(text.data()),
                                       text.size());
    return ToHex(digest);
}

std::uint32_t Xxh32(std::string_view text, std::uint32_t seed) {
    return XXH32(text.data(), text.size(), seed);
}

std::uint64_t ParallelSum(std::uint64_t count) {
    std::atomic<std::uint64_t> sum{0};
    tbb::parallel_for(tbb::blocked_range<std::uint64_t>(0, count), [&](const tbb::blocked_range<std::uint64_t>& range) {
        std::uint64_t part = 0;
        for (std::uint64_t i = range.begin(); i != range.end(); ++i) part += i;
        sum += part;
    });
    return sum;
}

int WorkerCount() { return tbb::this_task_arena::max_concurrency(); }

std::string FirstArchivedPath(const std::string& xml) {
    std::istringstream in(xml);
    boost::property_tree::ptree tree;
    boost::property_tree::read_xml(in, tree);
    return tree.get<std::string>("ScriptFile.CreateOrvanPack.File.<xmlattr>.ArchivedPath");
}

std::string JsonRoundTrip(const std::string& name, std::uint64_t size) {
    const nlohmann::json written = {{"name", name}, {"size", size}};
    return nlohmann::json::parse(written.dump()).dump();
}

std::vector<std::string> FailedChecks() {
    std::vector<std::string> failed;
    auto check = [&](const char* name, auto&& passes) {
        try {
            if (!passes()) failed.emplace_back(name);
        } catch (const std::exception&) {
            failed.emplace_back(name);
        }
    };
    check("lz4", [] {
        Bytes raw(100000);
        for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>((i * i) % 251 / 16);
        const Bytes compressed = Lz4Compress(raw);
        return compressed.size() < raw.size() / 2 && Lz4Decompress(compressed, raw.size()) == raw;
    });
    check("crypto++", [] {
        const Bytes key = FromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
        const Bytes iv = FromHex("000102030405060708090a0b0c0d0e0f");
        const Bytes plain = FromHex("6bc1bee22e409f96e93d7e117393172a");
        const Bytes cipher = AesCfbEncrypt(key, iv, plain);
        return ToHex(cipher) == "dc7e84bfda79164b7ecd8486985d3860" && AesCfbDecrypt(key, iv, cipher) == plain &&
               Sha256Hex("abc") == "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    });
    check("xxhash", [] { return Xxh32("", 0) == 0x02cc5d05u; });
    check("onetbb", [] { return ParallelSum(1000000) == 499999500000u && WorkerCount() >= 1; });
    check("boost-property-tree", [] {
        return FirstArchivedPath(R"(<ScriptFile><CreateOrvanPack><File ArchivedPath="a/b.png">b.png</File>)"
                                 R"(</CreateOrvanPack></ScriptFile>)") == "a/b.png";
    });
    check("nlohmann-json", [] { return JsonRoundTrip("a", 7) == R"({"name":"a","size":7})"; });
    check("std-thread", [] {
        int value = 0;
        std::thread([&] { value = 1; }).join();
        return value == 1;
    });
    return failed;
}

}  // namespace toolchain_check
