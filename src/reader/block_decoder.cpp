#include "reader/block_decoder.h"

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

// The hot path takes a sequence whole when the window holds this much of the
// block and the raw bytes have this much room left, so that no rule of the
// format but the offset can be broken there.
constexpr std::size_t FastInput = 32;
constexpr std::size_t FastOutput = 64;

// Copies `count` bytes to `to` from `offset` bytes before it, byte by byte in
// effect: when the two overlap, the bytes repeat with that period, and each copy
// doubles the stretch that repeats. Writes nothing past the end.
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

// The same for an offset below eight with room behind the match (up to 16 bytes
// past it are written): the first repetitions byte by byte, up to a multiple of
// the period of at least eight, and from there eight at a time.
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

// A match of `length` bytes at `to`, `offset` back, with at least 16 bytes of
// room behind it: in steps no longer than the offset, each from before where
// it goes, which repeats the bytes when they overlap.
[[gnu::always_inline]] inline void CopyMatchWithRoom(std::uint8_t* to, std::size_t offset, std::size_t length)
{
    if (offset >= 16) {
        for (std::size_t done = 0; done < length; done += 16)
            std::memcpy(to + done, to + done - offset, 16);
    } else if (offset >= 8) {
        for (std::size_t done = 0; done < length; done += 8)
            std::memcpy(to + done, to + done - offset, 8);
    } else {
        CopyShortPeriod(to, offset, length);
    }
}

// Where decoding stands in the block's bytes: the unread bytes in the window,
// and how many of the block's bytes the window has taken in so far. Kept in
// locals and passed by value, so that no store into the raw bytes can be taken
// to change it and it stays in registers through the hot loop.
struct Cursor {
    const std::uint8_t* ip = nullptr;
    const std::uint8_t* iend = nullptr;
    std::uint64_t fetched = 0;

    std::size_t Available() const { return static_cast<std::size_t>(iend - ip); }
};

class Decoding {
public:
    Decoding(BlockDecoder::Input& input, std::uint64_t size, std::span<std::uint8_t> raw,
             std::span<std::uint8_t> window, std::size_t granule, BlockDecoder::Progress* progress)
        : input_(input), size_(size), out_(raw.data()), rawSize_(raw.size()), window_(window.data()),
          capacity_(window.size()), granule_(granule), progress_(progress)
    {
    }

    bool Run()
    {
        std::uint8_t* const out = out_;
        const std::size_t rawSize = rawSize_;
        const std::uint64_t size = size_;
        Cursor c;
        std::size_t op = 0;
        for (;;) {
            if (c.Available() < FastInput && c.fetched < size)
                c = Refill(c, op);

            // Sequences with short literals, far from every end of the window
            // and of the raw bytes, where nothing can break a rule of the
            // format but the offset and a long match's length.
            if (c.Available() >= FastInput && op + FastOutput <= rawSize) {
                const std::uint8_t* ip = c.ip;
                const std::uint8_t* const ilimit = c.iend - FastInput;
                const std::size_t olimit = rawSize - FastOutput;
                bool moved = false;
                bool longLiterals = false;
                do {
                    const unsigned token = *ip;
                    if ((token >> 4) == RunMask) {
                        longLiterals = true;
                        break;
                    }
                    std::memcpy(out + op, ip + 1, 16);
                    op += token >> 4;
                    ip += 1 + (token >> 4);
                    const std::size_t offset = ip[0] | std::size_t{ip[1]} << 8;
                    ip += 2;
                    if (offset == 0 || offset > op)
                        return false;
                    std::uint8_t* const to = out + op;
                    std::size_t length = token & RunMask;
                    if (length < RunMask) {
                        length += MinMatch;
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
                    // At least 14 bytes of the window are left behind the offset.
                    unsigned byte;
                    do {
                        if (ip == c.iend) {
                            c.ip = ip;
                            c = Refill(c, op);
                            if (c.ip == c.iend)
                                return false;
                            ip = c.ip;
                            moved = true;
                        }
                        byte = *ip++;
                        length += byte;
                        if (c.iend - ip < static_cast<std::ptrdiff_t>(LastLiterals) &&
                            size - c.fetched + static_cast<std::uint64_t>(c.iend - ip) < LastLiterals - 1)
                            return false;
                    } while (byte == 255);
                    length += MinMatch;
                    if (op + length + LastLiterals > rawSize)
                        return false;
                    if (op + length + 16 <= rawSize)
                        CopyMatchWithRoom(to, offset, length);
                    else
                        CopyMatch(to, offset, length);
                    op += length;
                    // A refill above moved the window, and the limit with it.
                    if (moved)
                        break;
                } while (ip <= ilimit && op <= olimit);
                c.ip = ip;
                if (!longLiterals)
                    continue;
            }
            if (c.Available() == 0)
                return false;
            const unsigned token = *c.ip;
            ++c.ip;
            std::size_t literals = token >> 4;
            // A long length needs room for its bytes and the literals it counts.
            if (literals == RunMask && (Left(c) <= RunMask || !Extend(c, op, literals, RunMask)))
                return false;
            if (literals > Left(c) || op + literals > rawSize)
                return false;
            if (literals == Left(c)) {
                if (op + literals != rawSize || CopyLiterals(c, op, literals).fetched > size)
                    return false;
                return Finish(rawSize);
            }
            if (op + literals + MatchLimit > rawSize || literals + LiteralRoom > Left(c))
                return false;
            if (c.Available() >= literals + 16 && op + literals + 16 <= rawSize) {
                for (std::size_t done = 0; done < literals; done += 16)
                    std::memcpy(out + op + done, c.ip + done, 16);
                op += literals;
                c.ip += literals;
            } else {
                c = CopyLiterals(c, op, literals);
                if (c.fetched > size)
                    return false;
                op += literals;
            }

            // LiteralRoom guarantees the offset's two bytes and more.
            if (c.Available() < 2)
                c = Refill(c, op);
            const std::size_t offset = c.ip[0] | std::size_t{c.ip[1]} << 8;
            c.ip += 2;
            if (offset == 0 || offset > op)
                return false;
            std::size_t length = token & RunMask;
            if (length == RunMask && !Extend(c, op, length, LastLiterals - 1))
                return false;
            length += MinMatch;
            if (op + length + LastLiterals > rawSize)
                return false;
            if (op + length + 16 <= rawSize)
                CopyMatchWithRoom(out + op, offset, length);
            else
                CopyMatch(out + op, offset, length);
            op += length;
        }
    }

private:
    // The block's bytes after the cursor.
    std::uint64_t Left(const Cursor& c) const { return size_ - c.fetched + c.Available(); }

    // Moves the bytes not yet read to the window's start and reads more behind
    // them, a whole number of granules unless the block ends first. The `op`
    // raw bytes written so far are final, and progress hears of them.
    [[gnu::noinline]] Cursor Refill(Cursor c, std::size_t op)
    {
        if (progress_ != nullptr && op > reported_) {
            progress_->Final(op);
            reported_ = op;
        }
        const std::size_t kept = c.Available();
        // Before the first fill the cursor points nowhere, and memmove may not
        // be handed a null pointer even for no bytes.
        if (kept > 0)
            std::memmove(window_, c.ip, kept);
        c.ip = window_;
        c.iend = window_ + kept;
        if (c.fetched >= size_)
            return c;
        const std::size_t room = (capacity_ - kept) / granule_ * granule_;
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(room, size_ - c.fetched));
        input_.Fill(std::span<std::uint8_t>(window_ + kept, count));
        c.iend += count;
        c.fetched += count;
        return c;
    }

    // Adds the bytes of 255 that continue a length, as long as at least `room`
    // bytes of the block are left after each of them.
    [[gnu::always_inline]] bool Extend(Cursor& c, std::size_t op, std::size_t& length, std::size_t room)
    {
        unsigned byte;
        do {
            if (c.ip == c.iend) {
                c = Refill(c, op);
                if (c.ip == c.iend)
                    return false;
            }
            byte = *c.ip++;
            length += byte;
            if (Left(c) < room)
                return false;
        } while (byte == 255);
        return true;
    }

    // Literals that run past the window, or too close to the end of the raw
    // bytes for whole 16-byte steps. The cursor comes back with `fetched`
    // beyond the block's size when the block ends first.
    [[gnu::noinline]] Cursor CopyLiterals(Cursor c, std::size_t op, std::size_t count)
    {
        while (count > 0) {
            if (c.ip == c.iend) {
                c = Refill(c, op);
                if (c.ip == c.iend) {
                    c.fetched = size_ + 1;
                    return c;
                }
            }
            const std::size_t piece = std::min(count, c.Available());
            std::memcpy(out_ + op, c.ip, piece);
            op += piece;
            c.ip += piece;
            count -= piece;
        }
        return c;
    }

    bool Finish(std::size_t op)
    {
        if (progress_ != nullptr && op > reported_)
            progress_->Final(op);
        return true;
    }

    BlockDecoder::Input& input_;
    const std::uint64_t size_;
    std::uint8_t* const out_;
    const std::size_t rawSize_;
    std::uint8_t* const window_;
    const std::size_t capacity_;
    const std::size_t granule_;
    BlockDecoder::Progress* const progress_;
    std::size_t reported_ = 0;
};

}  // namespace

BlockDecoder::BlockDecoder(std::span<std::uint8_t> window, std::size_t granule)
    : window_(window), granule_(granule)
{
}

bool BlockDecoder::Decode(Input& input, std::uint64_t blockSize, std::span<std::uint8_t> raw, Progress* progress)
{
    if (blockSize == 0 || raw.empty() || window_.size() < MinWindow)
        return false;
    return Decoding(input, blockSize, raw, window_, granule_, progress).Run();
}

}  // namespace zelkor
