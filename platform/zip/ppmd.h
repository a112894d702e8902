#pragma once
// Decodes PPMd (zip method 98): PPMd variant I, revision 1, a context-modelling
// compressor whose model (ppmdmodel.h) predicts each byte from the ones before it and
// whose range coder spends on each byte what that prediction leaves.
//
// The data starts with a 16-bit little-endian word: bits 0 to 3 hold the model's order
// less one (2 to 16), bits 4 to 11 its memory in MiB less one (1 to 256 MiB), bits 12
// to 15 what the model does when that memory is full (0: it starts again, 1: it prunes
// itself). The range-coded symbols follow. The stream ends once the recorded size is
// decoded; 7-Zip also writes an end marker (an escape past the order-0 context) after
// the last byte, which is not needed and not read. An end marker before the recorded
// size, a code no symbol has and a header outside those bounds are damage.
//
// Memory: the model's arena as the header asks (at most MaxMemory, allocated once and
// kept for entries of the same size) and 128 KiB of buffers. The arena holds the decoded
// text; what of it the model wrote is wiped before it is freed or given another size.

#include "streamdecoder.h"

#include <cstdint>
#include <memory>

namespace pnvzip {

class PpmdDecoder
{
public:
    // The most memory the format can ask for.
    static constexpr uint32_t MaxMemory = uint32_t(256) << 20;

    PpmdDecoder();
    ~PpmdDecoder();
    PpmdDecoder(const PpmdDecoder &) = delete;
    PpmdDecoder &operator=(const PpmdDecoder &) = delete;

    // Streams asking for more memory than `bytes` are refused as damaged (MaxMemory
    // unless lowered, as the fuzz target does to stay quick).
    void setMemoryLimit(uint32_t bytes);

    // Decodes data that unpacks to `size` bytes.
    stream::Result decode(uint64_t size, const stream::Reader &read, const stream::Writer &write);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace pnvzip
