#pragma once
// LZMA (zip method 14) and XZ (method 95) entries, decoded by liblzma.
//
// An LZMA entry starts with a small header of its own (the encoder's version, the size of
// the properties, then the 5 bytes of properties: the literal and position bits and the
// dictionary size); the raw LZMA data follows, with or without an end marker. The
// uncompressed size the archive records tells the decoder where the data ends, and the
// dictionary is never made larger than that size. An XZ entry holds one or more whole
// .xz streams, checked by liblzma against their own check field. Memory stays within
// MemoryLimit; an entry that needs more is refused as Unsupported.

#include "streamdecoder.h"

#include <cstdint>
#include <memory>

namespace pnvzip {

class LzmaEntryDecoder
{
public:
    enum class Format { Lzma, Xz };
    static constexpr uint64_t MemoryLimit = uint64_t(512) << 20;

    LzmaEntryDecoder();
    ~LzmaEntryDecoder();
    LzmaEntryDecoder(const LzmaEntryDecoder &) = delete;
    LzmaEntryDecoder &operator=(const LzmaEntryDecoder &) = delete;

    // Decodes one entry's data; `size` is its uncompressed size as recorded.
    stream::Result decode(Format format, uint64_t size, const stream::Reader &read, const stream::Writer &write);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace pnvzip
