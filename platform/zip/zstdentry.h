#pragma once
// Zstandard entries (zip method 93, and 20 as early writers numbered it), decoded by
// libzstd. An entry holds one or more frames. The window a frame may ask for is limited
// to 2^WindowLogMax bytes (128 MiB, what the zstd tool accepts without being told); a
// frame that asks for more is refused as Unsupported. Frames with a checksum are checked.

#include "streamdecoder.h"

#include <memory>

namespace pnvzip {

class ZstdEntryDecoder
{
public:
    static constexpr int WindowLogMax = 27;

    ZstdEntryDecoder();
    ~ZstdEntryDecoder();
    ZstdEntryDecoder(const ZstdEntryDecoder &) = delete;
    ZstdEntryDecoder &operator=(const ZstdEntryDecoder &) = delete;

    stream::Result decode(const stream::Reader &read, const stream::Writer &write);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace pnvzip
