#include "archive/lz4_block_reader.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include <lz4.h>

namespace zelkor {

namespace {

// The block format's rules, with the limits LZ4's own safe decoder applies.
constexpr std::size_t MinMatch = 4;
constexpr std::size_t LastLiterals = 5;   // no match ends closer to the end of the raw bytes
constexpr std::size_t MatchLimit = 12;    // no literal run but the last ends closer than this
constexpr std::size_t LiteralRoom = 8;    // input a literal run that is not the last leaves behind it
constexpr unsigned RunMask = 15;

// Decoded bytes pass through the window; when it is full, what has not been
// handed on goes to the sink, and its last History bytes stay for the matches
// that reach back (an offset is at most 65,535).
constexpr std::size_t WindowSize = std::size_t{1} << 20;
constexpr std::size_t History = 64 * 1024;
// Short copies move 16 bytes at a time and may write this far past their end.
constexpr std::size_t Slack = 32;

// Copies `count` bytes to `to` from `offset` bytes before it, byte by byte in
// effect: when the two overlap, the bytes repeat with that period, and each copy
// doubles the stretch that repeats.
void CopyMatch(std::uint8_t* to, std::size_t offset, std::size_t count)
{
    std::size_t period = offset;
    while (count > 0) {
        const std::size_t piece = std::min(period, count);
        std::memcpy(to, to - period, piece);
        to += piece;
        count -= piece;
        period += piece;
    }
}

// The same for an offset below eight, far from the window's end (up to 16 bytes
// past the match are written): the first repetitions byte by byte, up to a
// multiple of the period of at least eight, and from there eight at a time.
void CopyShortPeriod(std::uint8_t* to, std::size_t offset, std::size_t count)
{
    std::size_t period = offset;
    while (period < 8)
        period += offset;
    std::size_t done = 0;
    for (; done < period && done < count; ++done)
        to[done] = (to - offset)[done];
    for (; done < count; done += 8)
        std::memcpy(to + done, to + done - period, 8);
}

class Decoder {
public:
    Decoder(std::span<const std::uint8_t> block, std::uint64_t rawSize, std::uint8_t* window,
            const Lz4BlockReader::Sink& sink)
        : in_(block.data()), size_(block.size()), rawSize_(rawSize), window_(window), sink_(sink)
    {
    }

    // The hot loop keeps its positions in locals, which the window's stores
    // cannot alias; the slow paths work on the members, set around them.
    bool Run()
    {
        const std::uint8_t* const in = in_;
        const std::size_t size = size_;
        const std::uint64_t rawSize = rawSize_;
        std::uint8_t* const window = window_;
        std::size_t at = 0;
        std::size_t op = 0;
        std::uint64_t base = 0;
        const auto save = [&] {
            at_ = at;
            op_ = op;
            base_ = base;
        };
        const auto load = [&] {
            at = at_;
            op = op_;
            base = base_;
        };
        for (;;) {
            if (at >= size)
                return false;
            // Short literals and a short match, far from every end: nothing there
            // can break a rule of the format but the offset.
            if (const unsigned token = in[at]; (token >> 4) < RunMask && (token & RunMask) < RunMask &&
                                               at + 32 <= size && base + op + 64 <= rawSize && op + 64 <= WindowSize) {
                std::memcpy(window + op, in + at + 1, 16);
                op += token >> 4;
                at += 1 + (token >> 4);
                const std::size_t offset = in[at] | std::size_t{in[at + 1]} << 8;
                at += 2;
                if (offset == 0 || offset > base + op)
                    return false;
                const std::size_t length = (token & RunMask) + MinMatch;
                std::uint8_t* const to = window + op;
                if (offset >= 16) {
                    std::memcpy(to, to - offset, 16);
                    std::memcpy(to + 16, to + 16 - offset, 16);
                } else if (offset >= 8) {
                    std::memcpy(to, to - offset, 8);
                    std::memcpy(to + 8, to + 8 - offset, 8);
                    std::memcpy(to + 16, to + 16 - offset, 8);
                } else {
                    CopyShortPeriod(to, offset, length);
                }
                op += length;
                continue;
            }
            const unsigned token = in[at++];
            std::size_t literals = token >> 4;
            if (literals == RunMask) {
                // A long length needs room for its bytes and the literals it counts.
                save();
                if (at + RunMask >= size || !Extend(literals, RunMask))
                    return false;
                load();
            }
            if (literals > size - at || base + op + literals > rawSize)
                return false;
            if (at + literals == size) {
                save();
                return base + op + literals == rawSize && Put(in + at, literals) && Flush();
            }
            if (base + op + literals + MatchLimit > rawSize || at + literals + LiteralRoom > size)
                return false;
            if (literals < RunMask && at + 16 <= size && op + 16 <= WindowSize) {
                std::memcpy(window + op, in + at, 16);
                op += literals;
            } else {
                save();
                if (!Put(in + at, literals))
                    return false;
                load();
            }
            at += literals;

            const std::size_t offset = in[at] | std::size_t{in[at + 1]} << 8;
            at += 2;
            if (offset == 0 || offset > base + op)
                return false;
            std::size_t length = token & RunMask;
            if (length == RunMask) {
                save();
                if (!Extend(length, LastLiterals - 1))
                    return false;
                load();
            }
            length += MinMatch;
            if (base + op + length + LastLiterals > rawSize)
                return false;
            // Far from the window's end, in steps no longer than the offset, each
            // from before where it goes (which repeats the bytes when they overlap).
            std::uint8_t* const to = window + op;
            if (offset >= 16 && op + length + 16 <= WindowSize) {
                std::memcpy(to, to - offset, 16);
                for (std::size_t done = 16; done < length; done += 16)
                    std::memcpy(to + done, to + done - offset, 16);
                op += length;
            } else if (offset >= 8 && op + length + 8 <= WindowSize) {
                for (std::size_t done = 0; done < length; done += 8)
                    std::memcpy(to + done, to + done - offset, 8);
                op += length;
            } else if (op + length + 16 <= WindowSize) {
                CopyShortPeriod(to, offset, length);
                op += length;
            } else {
                save();
                if (!Repeat(offset, length))
                    return false;
                load();
            }
        }
    }

private:
    // Adds the bytes of 255 that continue a length, as long as at most `room`
    // bytes of input would be left after them.
    bool Extend(std::size_t& length, std::size_t room)
    {
        unsigned byte;
        do {
            byte = in_[at_++];
            length += byte;
            if (at_ + room > size_)
                return false;
        } while (byte == 255);
        return true;
    }

    // Hands on what the window holds and keeps its last History bytes.
    bool Flush()
    {
        if (op_ > sent_ && !sink_(std::span<const std::uint8_t>(window_ + sent_, op_ - sent_)))
            return false;
        const std::size_t keep = std::min(op_, History);
        std::memmove(window_, window_ + op_ - keep, keep);
        base_ += op_ - keep;
        op_ = keep;
        sent_ = keep;
        return true;
    }

    bool Put(const std::uint8_t* from, std::size_t count)
    {
        while (count > 0) {
            if (op_ == WindowSize && !Flush())
                return false;
            const std::size_t piece = std::min(count, WindowSize - op_);
            std::memcpy(window_ + op_, from, piece);
            op_ += piece;
            from += piece;
            count -= piece;
        }
        return true;
    }

    // The window always holds the History bytes before op_ (or all so far), so
    // the source of a match never lies before it.
    bool Repeat(std::size_t offset, std::size_t count)
    {
        while (count > 0) {
            if (op_ == WindowSize && !Flush())
                return false;
            const std::size_t piece = std::min(count, WindowSize - op_);
            CopyMatch(window_ + op_, offset, piece);
            op_ += piece;
            count -= piece;
        }
        return true;
    }

    const std::uint8_t* in_;
    std::size_t size_;
    std::size_t at_ = 0;
    std::uint64_t rawSize_;
    std::uint8_t* window_;
    const Lz4BlockReader::Sink& sink_;
    std::size_t op_ = 0;     // where the next byte goes in the window
    std::size_t sent_ = 0;   // the window's bytes before this went to the sink
    std::uint64_t base_ = 0; // how many raw bytes lie before the window's start
};

}  // namespace

bool Lz4BlockReader::Decode(std::span<const std::uint8_t> block, std::uint64_t rawSize, const Sink& sink)
{
    if (block.empty() || rawSize == 0)
        return false;
    if (window_.size() < WindowSize + Slack)
        window_.Reallocate(WindowSize + Slack);
    // Raw bytes that fit the window whole are decoded by LZ4 itself, which is
    // faster; the pieces are for those that do not.
    if (rawSize <= WindowSize && !alwaysInPieces_) {
        const int produced = LZ4_decompress_safe(reinterpret_cast<const char*>(block.data()),
                                                 reinterpret_cast<char*>(window_.data()),
                                                 static_cast<int>(std::min<std::size_t>(block.size(), INT_MAX)),
                                                 static_cast<int>(rawSize));
        return produced >= 0 && static_cast<std::uint64_t>(produced) == rawSize &&
               sink(std::span<const std::uint8_t>(window_.data(), static_cast<std::size_t>(rawSize)));
    }
    return Decoder(block, rawSize, window_.data(), sink).Run();
}

}  // namespace zelkor
