#include "deflatepieces.h"

#include "deflatewalk.h"

#include <libdeflate.h>

#include <cstring>
#include <algorithm>

namespace pnvzip {

namespace {

constexpr size_t MaxStoredBlock = 65535;
constexpr size_t StoredHeader = 5;    // BFINAL/BTYPE byte, LEN, NLEN
constexpr size_t JoinTrailer = 5;     // the empty stored block, at most 5 bytes

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

} // namespace

size_t pieceBound(size_t size)
{
    // libdeflate's own bound does not depend on the compressor's level.
    return std::max(libdeflate_deflate_compress_bound(nullptr, size), storedSize(size)) + JoinTrailer;
}

struct PieceCompressor::Private
{
    libdeflate_compressor *compressor = nullptr;
    libdeflate_compressor *quick = nullptr; // level 1, for the samples

    // True when samples spread over the piece all stay within 2% of their size at
    // level 1: data compressed already, which level 6 would only spend time on.
    bool samplesIncompressible(const unsigned char *data, size_t size)
    {
        constexpr size_t Sample = 16 * 1024;
        constexpr int Samples = 4;
        if (size < 16 * Sample || !quick)
            return false;
        unsigned char out[Sample];
        for (int i = 0; i < Samples; ++i) {
            const size_t offset = (size - Sample) / (Samples - 1) * size_t(i);
            const size_t n = libdeflate_deflate_compress(quick, data + offset, Sample, out, Sample);
            if (n != 0 && n < Sample - Sample / 50)
                return false;
        }
        return true;
    }
};

PieceCompressor::PieceCompressor(int level) : d(std::make_unique<Private>())
{
    d->compressor = libdeflate_alloc_compressor(level);
    d->quick = libdeflate_alloc_compressor(1);
}

PieceCompressor::~PieceCompressor()
{
    if (d->compressor)
        libdeflate_free_compressor(d->compressor);
    if (d->quick)
        libdeflate_free_compressor(d->quick);
}

bool PieceCompressor::valid() const
{
    return d->compressor;
}

size_t PieceCompressor::compress(const unsigned char *data, size_t size, bool last, unsigned char *out,
                                 bool *stored)
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
    const size_t n = d->samplesIncompressible(data, size)
                         ? 0
                         : libdeflate_deflate_compress(d->compressor, data, size, out, asStored);
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
