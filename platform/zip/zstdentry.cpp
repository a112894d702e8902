#include "zstdentry.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <vector>

namespace pnvzip {

using stream::Result;

struct ZstdEntryDecoder::Impl
{
    ZSTD_DCtx *ctx = ZSTD_createDCtx();
    std::vector<unsigned char> input = std::vector<unsigned char>(ZSTD_DStreamInSize());
    std::vector<unsigned char> output = std::vector<unsigned char>(ZSTD_DStreamOutSize());
    ~Impl() { ZSTD_freeDCtx(ctx); }
};

ZstdEntryDecoder::ZstdEntryDecoder() : d(std::make_unique<Impl>()) {}
ZstdEntryDecoder::~ZstdEntryDecoder() = default;

Result ZstdEntryDecoder::decode(const stream::Reader &read, const stream::Writer &write)
{
    if (!d->ctx)
        return Result::Unsupported;
    ZSTD_DCtx_reset(d->ctx, ZSTD_reset_session_and_parameters);
    if (ZSTD_isError(ZSTD_DCtx_setParameter(d->ctx, ZSTD_d_windowLogMax, WindowLogMax)))
        return Result::Unsupported;
    ZSTD_inBuffer in{d->input.data(), 0, 0};
    size_t hint = 1;     // 0 once a frame is complete and flushed
    bool anyFrame = false;
    for (;;) {
        bool ended = false;
        if (in.pos == in.size) {
            const std::ptrdiff_t n = read(d->input.data(), d->input.size());
            if (n < 0)
                return Result::ReadFailed;
            ended = n == 0;
            in = {d->input.data(), size_t(n), 0};
        }
        // Without input left, what the decoder still holds is drained.
        for (;;) {
            ZSTD_outBuffer out{d->output.data(), d->output.size(), 0};
            const size_t r = ZSTD_decompressStream(d->ctx, &out, &in);
            if (ZSTD_isError(r)) {
                switch (ZSTD_getErrorCode(r)) {
                case ZSTD_error_frameParameter_windowTooLarge:
                case ZSTD_error_memory_allocation:
                case ZSTD_error_frameParameter_unsupported:
                    return Result::Unsupported;
                default:
                    return Result::Damaged;
                }
            }
            hint = r;
            if (r == 0)
                anyFrame = true;
            if (out.pos > 0 && !write(d->output.data(), out.pos))
                return Result::Stopped;
            if (out.pos < out.size || in.pos < in.size)
                break;
        }
        if (ended)
            return hint == 0 && anyFrame ? Result::Finished : Result::Truncated;
    }
}

} // namespace pnvzip
