// One small use of each library that the programs link, so that a cross build
// proves its toolchain before any of our own code runs on the target: each call
// goes through the static library as built for that system, and the tests
// compare the results with known answers (the same bytes on every system).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace toolchain_check {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(std::string_view hex);
std::string ToHex(const Bytes& bytes);

// LZ4 high compression of `raw` and the decompression of it; the round trip
// throws std::runtime_error when either call fails.
Bytes Lz4Compress(const Bytes& raw);
Bytes Lz4Decompress(const Bytes& compressed, std::size_t raw_size);

// Crypto++: AES-256 in CFB mode (the archives' cipher) and SHA-256.
Bytes AesCfbEncrypt(const Bytes& key, const Bytes& iv, const Bytes& plain);
Bytes AesCfbDecrypt(const Bytes& key, const Bytes& iv, const Bytes& cipher);
std::string Sha256Hex(std::string_view text);

// xxHash's 32-bit hash (the archives' content hash).
std::uint32_t Xxh32(std::string_view text, std::uint32_t seed);

// The sum of 0..count-1 computed by a oneTBB parallel_for on every worker, and
// the workers the default arena offers.
std::uint64_t ParallelSum(std::uint64_t count);
int WorkerCount();

// Boost.PropertyTree: the ArchivedPath attribute of the first File element of an
// XML document; a malformed one throws boost's parser error through our frames.
std::string FirstArchivedPath(const std::string& xml);

// nlohmann-json: a document written and read back, as its text.
std::string JsonRoundTrip(const std::string& name, std::uint64_t size);

// Every check above with known answers; the names of those that failed.
std::vector<std::string> FailedChecks();

}  // namespace toolchain_check
