#pragma once
// Which compression methods the engine decodes itself, and the one place that sends an
// entry's data to the decoder of its method.
//
// Stored and deflated entries are read by the extraction itself, bzip2 by libzip; every
// other method read goes through here: Deflate64 (9), LZMA (14), XZ (95) and Zstandard
// (93, and 20 as early writers numbered it) with their libraries or decoders, Shrink (1),
// Implode (6) and PPMd (98) with decoders of the component's own. Each streams with a
// fixed amount of memory, and what it decodes is checked against the recorded size and
// CRC-32 by the caller, as for any other method.

#include "streamdecoder.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <optional>

namespace pnvzip {

class EntryDecoder
{
public:
    EntryDecoder();
    ~EntryDecoder();
    EntryDecoder(const EntryDecoder &) = delete;
    EntryDecoder &operator=(const EntryDecoder &) = delete;

    // Whether `method` is decoded here.
    static bool reads(int method);
    // Whether the method's decoder needs the entry's general purpose flags (Implode: the
    // size of its window and whether literals are coded).
    static bool needsFlags(int method);

    // Decodes the data of one entry compressed with `method`; `size` is its uncompressed
    // size as recorded (Implode, LZMA and PPMd stop there), `flags` its general purpose flags.
    stream::Result decode(int method, uint16_t flags, uint64_t size, const stream::Reader &read,
                          const stream::Writer &write);

private:
    struct Decoders;
    std::unique_ptr<Decoders> d;
};

// The general purpose flags of the central directory record at `offset` in the archive
// file at `path`; nothing when it cannot be read there.
std::optional<uint16_t> centralRecordFlags(const QByteArray &path, uint64_t offset);

} // namespace pnvzip
