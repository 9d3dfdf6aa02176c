#include "archive/lz4_block_reader.h"

#include <algorithm>
#include <cstring>

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

class Decoder {
public:
    Decoder(std::span<const std::uint8_t> block, std::uint64_t rawSize, std::uint8_t* window,
            const Lz4BlockReader::Sink& sink)
        : in_(block.data()), size_(block.size()), rawSize_(rawSize), window_(window), sink_(sink)
    {
    }

    bool Run()
    {
        for (;;) {
            if (at_ >= size_)
                return false;
            const unsigned token = in_[at_++];
            std::size_t literals = token >> 4;
            // A long length needs room for its bytes and the literals it counts.
            if (literals == RunMask && (at_ + RunMask >= size_ || !Extend(literals, RunMask)))
                return false;
            if (literals > size_ - at_ || Produced() + literals > rawSize_)
                return false;
            const bool last = at_ + literals == size_;
            if (last) {
                return Produced() + literals == rawSize_ && Put(in_ + at_, literals) && Flush();
            }
            if (Produced() + literals + MatchLimit > rawSize_ || at_ + literals + LiteralRoom > size_)
                return false;
            if (literals < RunMask && at_ + 16 <= size_ && op_ + 16 <= WindowSize) {
                std::memcpy(window_ + op_, in_ + at_, 16);
                op_ += literals;
            } else if (!Put(in_ + at_, literals)) {
                return false;
            }
            at_ += literals;

            const std::size_t offset = in_[at_] | std::size_t{in_[at_ + 1]} << 8;
            at_ += 2;
            if (offset == 0 || offset > Produced())
                return false;
            std::size_t length = token & RunMask;
            if (length == RunMask && !Extend(length, LastLiterals - 1))
                return false;
            length += MinMatch;
            if (Produced() + length + LastLiterals > rawSize_ || !Repeat(offset, length))
                return false;
        }
    }

private:
    std::uint64_t Produced() const { return base_ + op_; }

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
        if (offset >= 16 && op_ + count + 16 <= WindowSize) {
            // Sixteen bytes at a time, each from before where it goes.
            std::uint8_t* to = window_ + op_;
            for (std::size_t done = 0; done < count; done += 16)
                std::memcpy(to + done, to + done - offset, 16);
            op_ += count;
            return true;
        }
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
    return Decoder(block, rawSize, window_.data(), sink).Run();
}

}  // namespace zelkor
