// libFuzzer target of the Deflate64 decoder. The first byte of an input chooses how the
// stream is handed to the decoder (in reads of 1 byte up to all at once); the rest is the
// stream. The decoder must never crash, read or write outside its buffers, or hang. Read
// as plain deflate, it must also agree with zlib's inflate: the same bytes from a stream
// zlib inflates, a refusal of any other.

#include "deflate64.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using pnvzip::Deflate64Decoder;

// Decoded output is kept up to this size (beyond two of the decoder's output slices, so that
// matches reach back across them); a decoder going beyond it is stopped.
constexpr size_t OutputCap = size_t(3) << 20;

struct Run
{
    Deflate64Decoder::Result result;
    std::vector<unsigned char> out;
};

Run decode(Deflate64Decoder &decoder, const uint8_t *data, size_t size, size_t readSize)
{
    Run run;
    size_t done = 0;
    run.result = decoder.decode(
        [&](unsigned char *to, size_t capacity) {
            const size_t n = std::min({size - done, capacity, readSize});
            std::memcpy(to, data + done, n);
            done += n;
            return std::ptrdiff_t(n);
        },
        [&](const unsigned char *bytes, size_t n) {
            if (run.out.size() + n > OutputCap)
                return false;
            run.out.insert(run.out.end(), bytes, bytes + n);
            return true;
        });
    return run;
}

// zlib's inflate of a raw stream: true when it reaches the end within OutputCap bytes.
bool inflateRaw(const uint8_t *data, size_t size, std::vector<unsigned char> *out, bool *capped)
{
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        std::abort();
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = uInt(size);
    int r = Z_OK;
    *capped = false;
    while (r == Z_OK) {
        unsigned char chunk[65536];
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        r = inflate(&z, Z_NO_FLUSH);
        out->insert(out->end(), chunk, chunk + (sizeof chunk - z.avail_out));
        if (out->size() > OutputCap) {
            *capped = true;
            break;
        }
    }
    inflateEnd(&z);
    return r == Z_STREAM_END;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Deflate64Decoder deflate64(Deflate64Decoder::Format::Deflate64);
    static Deflate64Decoder deflate(Deflate64Decoder::Format::Deflate);
    static const size_t readSizes[8] = {1, 3, 8, 15, 16, 17, 4096, SIZE_MAX};
    if (size == 0)
        return 0;
    const size_t readSize = readSizes[data[0] & 7];
    ++data;
    --size;

    const Run wide = decode(deflate64, data, size, readSize);
    if (wide.result == Deflate64Decoder::Result::ReadFailed)
        std::abort(); // the reader never fails here
    if (wide.result != Deflate64Decoder::Result::Stopped) {
        // Handed over at once, the same stream decodes to the same result.
        const Run whole = decode(deflate64, data, size, SIZE_MAX);
        // A cut stream hands over the same bytes, however it was read.
        if (whole.result != wide.result
            || ((whole.result == Deflate64Decoder::Result::Finished
                 || whole.result == Deflate64Decoder::Result::Truncated)
                && whole.out != wide.out))
            std::abort();
    }

    const Run plain = decode(deflate, data, size, readSize);
    std::vector<unsigned char> expected;
    bool capped = false;
    const bool inflated = inflateRaw(data, size, &expected, &capped);
    if (capped || plain.result == Deflate64Decoder::Result::Stopped)
        return 0;
    const bool finished = plain.result == Deflate64Decoder::Result::Finished;
    if (finished != inflated || (finished && plain.out != expected))
        std::abort();
    // What a cut stream hands over is what zlib decoded from it, or the start of it.
    if (plain.result == Deflate64Decoder::Result::Truncated
        && (plain.out.size() > expected.size() || !std::equal(plain.out.begin(), plain.out.end(), expected.begin())))
        std::abort();
    return 0;
}
