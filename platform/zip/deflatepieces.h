#pragma once
// Deflate in independent pieces that join into one stream.
//
// A file is cut into pieces of PieceSize bytes, each compressed on its own (so on any
// core) with libdeflate. libdeflate always ends its output with a final block, so a piece
// that is not the file's last gets that block's "final" bit cleared and an empty stored
// block appended, which brings the stream to a byte boundary (where that block starts is
// found by walking the blocks, deflatewalk.h): the pieces' encodings,
// laid one after the other, are then a single valid deflate stream. A piece that deflate
// would not shrink, or whose samples at level 1 do not shrink (data compressed already),
// is written as stored blocks instead.

#include <cstddef>
#include <memory>

namespace pnvzip {

inline constexpr size_t PieceSize = size_t(1) << 20;

// The most bytes PieceCompressor::compress writes for `size` input bytes.
size_t pieceBound(size_t size);

class PieceCompressor
{
public:
    explicit PieceCompressor(int level = 6);
    ~PieceCompressor();
    PieceCompressor(const PieceCompressor &) = delete;
    PieceCompressor &operator=(const PieceCompressor &) = delete;

    bool valid() const;

    // Encodes `size` bytes into `out` (room for pieceBound(size) bytes) and returns the
    // length written. With `last` false the result has no final block and ends on a byte
    // boundary; with `last` true it ends the stream (an empty last piece is an empty
    // final block). `stored` tells whether the piece was kept as stored blocks.
    size_t compress(const unsigned char *data, size_t size, bool last, unsigned char *out,
                    bool *stored = nullptr);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace pnvzip
