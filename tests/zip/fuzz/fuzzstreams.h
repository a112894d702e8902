#pragma once
// What the fuzz targets of the engine's stream decoders share: an input's first bytes set
// how it is read (in reads of 1 byte up to all at once), a choice of decoder or options,
// and the entry's recorded size; the rest is the compressed stream. Every decoder must
// never crash, read or write outside its buffers or hang, and must decode the same
// stream to the same result however it is handed over.

#include "streamdecoder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace fuzzstreams {

using pnvzip::stream::Result;

// Decoded output is kept up to this size (eight times the output window of the decoders
// written here, twice the output slice of the LZMA decoder); a decoder going beyond it is
// stopped.
constexpr size_t OutputCap = size_t(512) << 10;

struct Input
{
    size_t readSize = 0;
    unsigned choice = 0; // bits 3 to 7 of the first byte
    uint64_t size = 0;   // the recorded size: three bytes, little-endian
    const uint8_t *data = nullptr;
    size_t length = 0;
};

inline bool parse(const uint8_t *data, size_t size, Input *in)
{
    static const size_t readSizes[8] = {1, 3, 8, 15, 16, 17, 4096, SIZE_MAX};
    if (size < 4)
        return false;
    in->readSize = readSizes[data[0] & 7];
    in->choice = data[0] >> 3;
    in->size = uint64_t(data[1]) | uint64_t(data[2]) << 8 | uint64_t(data[3]) << 16;
    in->data = data + 4;
    in->length = size - 4;
    return true;
}

struct Run
{
    Result result = Result::Finished;
    std::vector<unsigned char> out;
};

using Decode = std::function<Result(const pnvzip::stream::Reader &, const pnvzip::stream::Writer &)>;

inline Run decode(const Decode &decoder, const Input &in, size_t readSize)
{
    Run run;
    size_t done = 0;
    const pnvzip::stream::Reader reader = [&](unsigned char *to, size_t capacity) {
        const size_t n = std::min({in.length - done, capacity, readSize});
        std::memcpy(to, in.data + done, n);
        done += n;
        return std::ptrdiff_t(n);
    };
    const pnvzip::stream::Writer writer = [&](const unsigned char *bytes, size_t n) {
        if (run.out.size() + n > OutputCap)
            return false;
        run.out.insert(run.out.end(), bytes, bytes + n);
        return true;
    };
    run.result = decoder(reader, writer);
    return run;
}

// Decodes in reads of the input's size and all at once; aborts when they differ or the
// reader (which never fails) is said to have failed. Not `exact`: a stream both cut short
// and damaged may be found damaged, cut short or unsupported depending on the reads
// (libzstd does that), but a finished stream must be finished, with the same bytes, both
// ways.
inline Run check(const Decode &decoder, const Input &in, bool exact = true)
{
    const Run piecewise = decode(decoder, in, in.readSize);
    if (piecewise.result == Result::ReadFailed)
        std::abort();
    if (piecewise.result != Result::Stopped) {
        const Run whole = decode(decoder, in, SIZE_MAX);
        const auto failed = [](Result r) {
            return r == Result::Damaged || r == Result::Truncated || r == Result::Unsupported;
        };
        const bool same = whole.result == piecewise.result || (!exact && failed(whole.result) && failed(piecewise.result));
        if (!same || (whole.result == Result::Finished && whole.out != piecewise.out))
            std::abort();
    }
    return piecewise;
}

} // namespace fuzzstreams
