#include "deflatepieces.h"

#include "deflatewalk.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace pnvzip {

namespace {

constexpr size_t MaxStoredBlock = 65535;
constexpr size_t StoredHeader = 5;    // BFINAL/BTYPE byte, LEN, NLEN
constexpr size_t JoinTrailer = 5;     // the empty stored block, at most 5 bytes
constexpr size_t SmallText = 256 * 1024;

size_t storedSize(size_t size)
{
    const size_t blocks = size == 0 ? 1 : (size + MaxStoredBlock - 1) / MaxStoredBlock;
    return size + blocks * StoredHeader;
}

// Stored blocks, starting on a byte boundary; the last one is final when `last` is set.
size_t writeStored(const unsigned char *data, size_t size, bool last, unsigned char *out)
{
    size_t written = 0;
    size_t done = 0;
    do {
        const size_t n = std::min(MaxStoredBlock, size - done);
        const bool final = last && done + n == size;
        out[written++] = final ? 1 : 0;
        out[written++] = static_cast<unsigned char>(n & 0xff);
        out[written++] = static_cast<unsigned char>(n >> 8);
        out[written++] = static_cast<unsigned char>(~n & 0xff);
        out[written++] = static_cast<unsigned char>((~n >> 8) & 0xff);
        if (n)
            std::memcpy(out + written, data + done, n);
        written += n;
        done += n;
    } while (done < size);
    return written;
}

// The sum of c * log2(c) over the byte counts of a window, in bits; a table holds the
// terms for the counts of a window of ScanWindow bytes.
double countBits(const uint32_t *counts)
{
    constexpr size_t Table = ShrinkScanner::ScanWindow + 1;
    static const std::vector<float> terms = [] {
        std::vector<float> t(Table, 0.0f);
        for (size_t c = 2; c < Table; ++c)
            t[c] = float(double(c) * std::log2(double(c)));
        return t;
    }();
    double sum = 0;
    for (int i = 0; i < 256; ++i) {
        const uint32_t c = counts[i];
        sum += c < Table ? double(terms[c]) : double(c) * std::log2(double(c));
    }
    return sum;
}

uint32_t load32(const unsigned char *p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

} // namespace

bool ShrinkScanner::mayShrink(const unsigned char *data, size_t size)
{
    if (size < 64 * 1024)
        return true; // small enough to just compress and compare
    const double budget = double(size) / BudgetShare; // bytes
    // Literals: a block of literals with its own codes gains at most the entropy its
    // bytes fall short of 8 bits a byte, less the codes' description (HeaderBits). The
    // shortfall of a block is at most the sum of its windows' (entropy is concave), each
    // taken less what chance alone leaves in random bytes (ChanceBits, 255 / (2 ln 2)).
    // The best set of blocks over whole windows is a running maximum: `gain` is the most
    // the windows so far can give, `open` the best start of a block still open.
    constexpr double ChanceBits = 186;
    constexpr double HeaderBits = 256; // about what the code lengths of 256 bytes of varied
                                       // frequencies take in a block header
    double gain = 0;
    double shortfall = 0; // sum over the windows so far
    double open = 0;      // max over block starts of gain there less shortfall there
    const size_t windows = size / ScanWindow; // the last one takes the rest
    for (size_t w = 0; w < windows; ++w) {
        const size_t begin = w * ScanWindow;
        const size_t end = w + 1 == windows ? size : begin + ScanWindow;
        uint32_t counts[4][256] = {};
        size_t i = begin;
        for (; i + 4 <= end; i += 4) {
            ++counts[0][data[i]];
            ++counts[1][data[i + 1]];
            ++counts[2][data[i + 2]];
            ++counts[3][data[i + 3]];
        }
        for (; i < end; ++i)
            ++counts[0][data[i]];
        for (int b = 0; b < 256; ++b)
            counts[0][b] += counts[1][b] + counts[2][b] + counts[3][b];
        const double n = double(end - begin);
        const double entropyBits = n * std::log2(n) - countBits(counts[0]);
        shortfall += 8 * n - entropyBits - ChanceBits;
        gain = std::max(gain, shortfall + open - HeaderBits);
        open = std::max(open, gain - shortfall);
        if (gain / 8 > budget)
            return true;
    }
    const double literalBits = gain;

    // Repeats: strings seen again within deflate's 32 KiB. Every position's 4 bytes go
    // into a table, every fourth position looks its own up, so any repeat of 7 bytes or
    // more is met (shorter ones hardly pay in data of this entropy); a match of L bytes
    // counts L - 2, as its length and distance take 2 bytes or more. The table keeps the
    // low 16 bits of the last position of each hash, enough to reach back 32 KiB; the
    // bytes are compared, so a stale or colliding entry is harmless.
    m_last.assign(size_t(1) << HashBits, 0);
    auto hash = [](uint32_t v) { return (v * 0x9E3779B1u) >> (32 - HashBits); };
    const double limit = budget - literalBits / 8;
    size_t repeated = 0;
    size_t i = 4;
    while (i + 8 <= size) {
        const uint32_t v = load32(data + i);
        uint16_t &slot = m_last[hash(v)];
        size_t distance = (i - slot) & 0xffff;
        distance = distance <= i ? distance : 0;
        slot = uint16_t(i);
        m_last[hash(load32(data + i + 1))] = uint16_t(i + 1);
        m_last[hash(load32(data + i + 2))] = uint16_t(i + 2);
        m_last[hash(load32(data + i + 3))] = uint16_t(i + 3);
        // No branch but the rare one of a hit: random data would mispredict the others.
        if ((distance - 1 < 32768) & (load32(data + i - distance) == v)) {
            const unsigned char *from = data + i - distance;
            size_t length = 4;
            while (i + length < size && length < 258 && from[length] == data[i + length])
                ++length;
            repeated += length - 2; // a match costs 2 bytes at least this far back
            if (double(repeated) > limit)
                return true;
            i += length;
            i += 4 - i % 4;
            continue;
        }
        i += 4;
    }
    return false;
}

bool looksLikeText(const unsigned char *data, size_t size)
{
    static const std::array<unsigned char, 256> printable = [] {
        std::array<unsigned char, 256> t{};
        for (int c = 0x20; c < 0x7f; ++c)
            t[size_t(c)] = 1;
        t['\t'] = t['\n'] = t['\r'] = t['\f'] = 1;
        return t;
    }();
    size_t count[4] = {};
    size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        count[0] += printable[data[i]];
        count[1] += printable[data[i + 1]];
        count[2] += printable[data[i + 2]];
        count[3] += printable[data[i + 3]];
    }
    for (; i < size; ++i)
        count[0] += printable[data[i]];
    return size > 0 && (count[0] + count[1] + count[2] + count[3]) * 10 >= size * 9;
}

size_t pieceBound(size_t size)
{
    // libdeflate's own bound does not depend on the compressor's level; a piece written as
    // two parts may take both parts' bounds.
    auto bound = [](size_t n) {
        return std::max(libdeflate_deflate_compress_bound(nullptr, n), storedSize(n)) + JoinTrailer;
    };
    return size > PartSize ? std::max(bound(size), bound(PartSize) + bound(size - PartSize)) : bound(size);
}

struct PieceCompressor::Private
{
    libdeflate_compressor *compressor = nullptr;
    libdeflate_compressor *text = nullptr;
    ShrinkScanner scanner;
    std::vector<unsigned char> scratch;
};

PieceCompressor::PieceCompressor(int level) : d(std::make_unique<Private>())
{
    d->compressor = libdeflate_alloc_compressor(level);
    d->text = libdeflate_alloc_compressor(std::max(level, TextLevel));
}

PieceCompressor::~PieceCompressor()
{
    if (d->compressor)
        libdeflate_free_compressor(d->compressor);
    if (d->text)
        libdeflate_free_compressor(d->text);
}

bool PieceCompressor::valid() const
{
    return d->compressor && d->text;
}

size_t PieceCompressor::compress(const unsigned char *data, size_t size, bool last, unsigned char *out,
                                 bool *stored)
{
    if (looksLikeText(data, size))
        return compressPart(data, size, last, out, stored, true);
    if (size <= PartSize)
        return compressPart(data, size, last, out, stored, false);
    bool firstStored = false;
    bool secondStored = false;
    const size_t first = compressPart(data, PartSize, false, out, &firstStored, false);
    const size_t second = compressPart(data + PartSize, size - PartSize, last, out + first, &secondStored, false);
    if (stored)
        *stored = firstStored && secondStored;
    return first + second;
}

size_t PieceCompressor::compressPart(const unsigned char *data, size_t size, bool last, unsigned char *out,
                                     bool *stored, bool text)
{
    if (stored)
        *stored = false;
    if (size == 0) {
        if (!last)
            return 0;
        out[0] = 0x03; // an empty final block with the fixed codes
        out[1] = 0x00;
        return 2;
    }
    const size_t asStored = storedSize(size);
    // Compressed whenever the scan cannot rule out a gain; then what deflate made decides.
    size_t n = d->scanner.mayShrink(data, size)
                   ? libdeflate_deflate_compress(text ? d->text : d->compressor, data, size, out, asStored)
                   : 0;
    // On a short text level 7 now and then loses to level 6 (its blocks split otherwise);
    // trying both costs little there.
    if (text && size <= SmallText && n != 0) {
        d->scratch.resize(asStored);
        const size_t other = libdeflate_deflate_compress(d->compressor, data, size, d->scratch.data(), n);
        if (other != 0 && other < n) {
            std::memcpy(out, d->scratch.data(), other);
            n = other;
        }
    }
    if (n != 0 && last)
        return n;
    FinalBlock final;
    if (n != 0 && n + JoinTrailer < asStored && findFinalBlock(out, n, &final)) {
        const size_t lastHeaderBit = final.headerBit;
        const unsigned pad = final.padBits;
        out[lastHeaderBit / 8] &= static_cast<unsigned char>(~(1u << (lastHeaderBit % 8)));
        size_t length = n;
        if (pad < 3) // the empty block's 3 header bits do not fit in the padding
            out[length++] = 0;
        else
            out[length - 1] &= static_cast<unsigned char>((1u << (8 - pad)) - 1);
        out[length++] = 0x00;
        out[length++] = 0x00;
        out[length++] = 0xff;
        out[length++] = 0xff;
        return length;
    }
    if (stored)
        *stored = true;
    return writeStored(data, size, last, out);
}

} // namespace pnvzip
