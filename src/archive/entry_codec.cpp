#include "archive/entry_codec.h"

#include <algorithm>
#include <climits>

#include <lz4.h>
#include <lz4hc.h>

#include "archive/archive_format.h"
#include "archive/content_hasher.h"

namespace zelkor {

namespace {

static_assert(CompressionLevel == LZ4HC_CLEVEL_DEFAULT);
static_assert(MinCompressionLevel == 1 && MaxCompressionLevel == LZ4HC_CLEVEL_MAX);

// Bytes that compression may write behind the end of its result.
constexpr std::size_t CompressionSlack = 64;

}  // namespace

EntryCodec::EntryCodec() : state_(static_cast<std::size_t>(LZ4_sizeofStateHC()))
{
    LZ4_initStreamHC(state_.data(), state_.size());
}

std::uint32_t EntryCodec::ContentHash(std::span<const std::uint8_t> raw)
{
    return ContentHasher::Of(raw);
}

LoadedFile EntryCodec::Encode(std::span<std::uint8_t> raw, std::span<std::uint8_t> out, int level)
{
    return Encode(raw, out, ContentHash(raw), level);
}

LoadedFile EntryCodec::Encode(std::span<std::uint8_t> raw, std::span<std::uint8_t> out, std::uint32_t contentHash,
                              int level)
{
    LoadedFile file;
    file.rawSize = raw.size();
    file.contentHash = contentHash;
    file.stored = raw;
    outputTouched_ = 0;
    if (raw.empty() || raw.size() > static_cast<std::size_t>(LZ4_MAX_INPUT_SIZE))
        return file;

    // The same block as LZ4_compress_HC, bounded by the output. The working state
    // is reset the fast way: instead of clearing its tables for every file, it
    // moves its window past every entry that an earlier file left there, so no
    // match can reach back into that file.
    const int capacity = static_cast<int>(std::min<std::size_t>(out.size(), INT_MAX));
    auto* stream = static_cast<LZ4_streamHC_t*>(static_cast<void*>(state_.data()));
    LZ4_resetStreamHC_fast(stream, level);
    const int produced = LZ4_compress_HC_continue(stream, reinterpret_cast<const char*>(raw.data()),
                                                  reinterpret_cast<char*>(out.data()),
                                                  static_cast<int>(raw.size()), capacity);
    outputTouched_ = produced > 0 ? static_cast<std::size_t>(produced) + CompressionSlack
                                  : static_cast<std::size_t>(capacity);
    // A result that did not fit (0) or is not strictly smaller keeps the raw bytes.
    if (produced > 0 && static_cast<std::size_t>(produced) < raw.size())
        file.stored = out.first(static_cast<std::size_t>(produced));
    return file;
}

}  // namespace zelkor
