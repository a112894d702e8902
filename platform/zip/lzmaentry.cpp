#include "lzmaentry.h"

#include <lzma.h>

#include <cstdlib>
#include <vector>

namespace pnvzip {

using stream::Result;

namespace {
constexpr size_t InputSize = 64 * 1024;
constexpr size_t OutputSize = 256 * 1024;
constexpr size_t PropertiesSize = 5;
} // namespace

struct LzmaEntryDecoder::Impl
{
    std::vector<unsigned char> input = std::vector<unsigned char>(InputSize);
    std::vector<unsigned char> output = std::vector<unsigned char>(OutputSize);
    lzma_stream strm = LZMA_STREAM_INIT;
    ~Impl() { lzma_end(&strm); }

    // Reads exactly `n` bytes into `to`: 1 when read, 0 when the input ended, -1 on error.
    static int readExactly(const stream::Reader &read, unsigned char *to, size_t n)
    {
        while (n > 0) {
            const std::ptrdiff_t got = read(to, n);
            if (got <= 0)
                return got < 0 ? -1 : 0;
            to += got;
            n -= size_t(got);
        }
        return 1;
    }

    Result startLzma(uint64_t size, const stream::Reader &read)
    {
        unsigned char header[4 + PropertiesSize];
        switch (readExactly(read, header, sizeof header)) {
        case -1: return Result::ReadFailed;
        case 0: return Result::Truncated;
        default: break;
        }
        if (header[2] != PropertiesSize || header[3] != 0)
            return Result::Damaged;
        lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
        if (lzma_properties_decode(&filters[0], nullptr, header + 4, PropertiesSize) != LZMA_OK)
            return Result::Damaged;
        auto *options = static_cast<lzma_options_lzma *>(filters[0].options);
        // No match reaches back further than the data is long.
        options->dict_size = uint32_t(std::max<uint64_t>(std::min<uint64_t>(options->dict_size, size), LZMA_DICT_SIZE_MIN));
        options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
        options->ext_size_low = uint32_t(size);
        options->ext_size_high = uint32_t(size >> 32);
        Result result = Result::Finished;
        if (lzma_raw_decoder_memusage(filters) > MemoryLimit)
            result = Result::Unsupported;
        else if (lzma_raw_decoder(&strm, filters) != LZMA_OK)
            result = Result::Unsupported;
        std::free(options);
        return result;
    }
};

LzmaEntryDecoder::LzmaEntryDecoder() : d(std::make_unique<Impl>()) {}
LzmaEntryDecoder::~LzmaEntryDecoder() = default;

Result LzmaEntryDecoder::decode(Format format, uint64_t size, const stream::Reader &read, const stream::Writer &write)
{
    lzma_stream &strm = d->strm;
    if (format == Format::Lzma) {
        const Result started = d->startLzma(size, read);
        if (started != Result::Finished)
            return started;
    } else if (lzma_stream_decoder(&strm, MemoryLimit, LZMA_CONCATENATED) != LZMA_OK) {
        return Result::Unsupported;
    }
    strm.next_in = nullptr;
    strm.avail_in = 0;
    bool ended = false;
    for (;;) {
        if (strm.avail_in == 0 && !ended) {
            const std::ptrdiff_t n = read(d->input.data(), d->input.size());
            if (n < 0)
                return Result::ReadFailed;
            ended = n == 0;
            strm.next_in = d->input.data();
            strm.avail_in = size_t(n);
        }
        strm.next_out = d->output.data();
        strm.avail_out = d->output.size();
        const lzma_ret r = lzma_code(&strm, ended ? LZMA_FINISH : LZMA_RUN);
        const size_t produced = d->output.size() - strm.avail_out;
        if (produced > 0 && !write(d->output.data(), produced))
            return Result::Stopped;
        switch (r) {
        case LZMA_OK:
            if (ended && produced == 0)
                return Result::Truncated;
            break;
        case LZMA_STREAM_END:
            return Result::Finished;
        case LZMA_BUF_ERROR:
            return Result::Truncated;
        case LZMA_MEMLIMIT_ERROR:
        case LZMA_MEM_ERROR:
        case LZMA_OPTIONS_ERROR:
        case LZMA_UNSUPPORTED_CHECK:
            return Result::Unsupported;
        default: // LZMA_FORMAT_ERROR, LZMA_DATA_ERROR
            return Result::Damaged;
        }
    }
}

} // namespace pnvzip
