#include "implode.h"

#include <algorithm>
#include <array>

namespace pnvzip {

using stream::Result;

namespace {

constexpr unsigned MaxLength = 16;

// A Shannon-Fano code, decoded a bit at a time: the codes of one length are consecutive
// numbers, so a length's first code and its symbols, in code order, are all it takes.
struct Code
{
    std::array<uint32_t, MaxLength + 1> firstCode{};
    std::array<uint16_t, MaxLength + 1> count{};
    std::array<uint16_t, MaxLength + 1> offset{}; // where a length's symbols start in `symbols`
    std::array<uint16_t, 256> symbols{};

    // From the bit length of every symbol; false when the lengths do not form a code.
    bool build(const uint8_t *lengths, unsigned n)
    {
        count.fill(0);
        for (unsigned s = 0; s < n; ++s)
            ++count[lengths[s]];
        // Codes go out from the longest length down, in steps of 2^(16 - length) of a
        // 16-bit number; within a length, the last symbol gets the lowest code.
        uint32_t next = 0;
        unsigned at = 0;
        for (unsigned length = MaxLength; length >= 1; --length) {
            if (count[length] == 0)
                continue;
            if (next & ((uint32_t(1) << (MaxLength - length)) - 1))
                return false; // the shorter codes would start inside longer ones
            firstCode[length] = next >> (MaxLength - length);
            offset[length] = uint16_t(at);
            for (unsigned s = n; s-- > 0;) {
                if (lengths[s] == length)
                    symbols[at++] = uint16_t(s);
            }
            next += uint32_t(count[length]) << (MaxLength - length);
            if (next > (uint32_t(1) << MaxLength))
                return false; // more codes than the lengths leave room for
        }
        return true;
    }

    // The next symbol, or -1 at the input's end (or no symbol has the bits read).
    int decode(stream::BitInput &in, bool *damaged) const
    {
        uint32_t code = 0;
        for (unsigned length = 1; length <= MaxLength; ++length) {
            uint32_t bit;
            if (!in.bits(1, &bit))
                return -1;
            code = code << 1 | bit;
            if (count[length] && code >= firstCode[length] && code - firstCode[length] < count[length])
                return symbols[offset[length] + (code - firstCode[length])];
        }
        *damaged = true;
        return -1;
    }
};

} // namespace

struct ImplodeDecoder::Impl
{
    Code literals, lengths, distances;

    // Reads one code description of `n` symbols; false on damage or the input's end.
    static bool readCode(stream::BitInput &in, unsigned n, Code *code, bool *damaged)
    {
        uint32_t bytes;
        if (!in.bits(8, &bytes))
            return false;
        uint8_t lengths[256];
        unsigned filled = 0;
        for (uint32_t i = 0; i <= bytes; ++i) {
            uint32_t run;
            if (!in.bits(8, &run))
                return false;
            const unsigned count = (run >> 4) + 1, length = (run & 15) + 1;
            if (filled + count > n) {
                *damaged = true;
                return false;
            }
            std::fill_n(lengths + filled, count, uint8_t(length));
            filled += count;
        }
        if (filled != n || !code->build(lengths, n)) {
            *damaged = true;
            return false;
        }
        return true;
    }
};

ImplodeDecoder::ImplodeDecoder() : d(std::make_unique<Impl>()) {}
ImplodeDecoder::~ImplodeDecoder() = default;

Result ImplodeDecoder::decode(Options options, uint64_t size, const stream::Reader &read, const stream::Writer &write)
{
    stream::BitInput in(read);
    stream::OutputWindow out(write, size);
    bool damaged = false;
    auto end = [&](Result result) {
        if (!out.flush())
            return Result::Stopped;
        if (in.failed())
            return Result::ReadFailed;
        if (damaged)
            return Result::Damaged;
        return result;
    };
    if (size == 0)
        return Result::Finished; // no codes are stored for an empty entry
    if ((options.literalTree && !Impl::readCode(in, 256, &d->literals, &damaged))
        || !Impl::readCode(in, 64, &d->lengths, &damaged) || !Impl::readCode(in, 64, &d->distances, &damaged))
        return end(Result::Truncated);
    const unsigned lowBits = options.largeWindow ? 7 : 6;
    const unsigned minMatch = options.literalTree ? 3 : 2;
    while (!out.full()) {
        uint32_t value;
        if (!in.bits(1, &value))
            return end(Result::Truncated);
        if (value) {
            int literal;
            if (options.literalTree) {
                literal = d->literals.decode(in, &damaged);
            } else {
                literal = in.bits(8, &value) ? int(value) : -1;
            }
            if (literal < 0)
                return end(Result::Truncated);
            if (!out.put(static_cast<unsigned char>(literal)))
                return Result::Stopped;
            continue;
        }
        uint32_t low;
        if (!in.bits(lowBits, &low))
            return end(Result::Truncated);
        const int high = d->distances.decode(in, &damaged);
        if (high < 0)
            return end(Result::Truncated);
        const size_t distance = (size_t(high) << lowBits | low) + 1;
        int length = d->lengths.decode(in, &damaged);
        if (length < 0)
            return end(Result::Truncated);
        if (length == 63) {
            if (!in.bits(8, &value))
                return end(Result::Truncated);
            length += int(value);
        }
        if (!out.copy(distance, size_t(length) + minMatch))
            return Result::Stopped;
    }
    return end(Result::Finished);
}

} // namespace pnvzip
