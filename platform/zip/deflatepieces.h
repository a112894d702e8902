#pragma once
// Deflate in independent pieces that join into one stream.
//
// A file is cut into pieces of PieceSize bytes, each compressed on its own (so on any
// core) with libdeflate. libdeflate always ends its output with a final block, so a piece
// that is not the file's last gets that block's "final" bit cleared and an empty stored
// block appended, which brings the stream to a byte boundary (where that block starts is
// found by walking the blocks, deflatewalk.h): the pieces' encodings,
// laid one after the other, are then a single valid deflate stream. A piece that deflate
// does not shrink is written as stored blocks instead; so is, without a deflate pass, a
// piece that a scan of all its bytes shows deflate could not shrink (ShrinkScanner).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace pnvzip {

// The unit of work: a piece is read, scanned and compressed on one core.
inline constexpr size_t PieceSize = size_t(2) << 20;
// A piece that is not text is handled as two parts of this size, each stored when the
// scan rules out a gain and deflated at level 6 otherwise; a piece of text is deflated
// whole at level 7, which on text matches what zlib's level 6 makes of a whole stream
// (libdeflate's level 6 on 1 MiB pieces gives text 0.8% larger archives).
inline constexpr size_t PartSize = PieceSize / 2;
inline constexpr int TextLevel = 7;

// Whether at least 90% of the bytes are printable ASCII (with tab and line ends).
bool looksLikeText(const unsigned char *data, size_t size);

// The most bytes PieceCompressor::compress writes for `size` input bytes.
size_t pieceBound(size_t size);

// Tells, from every byte of a piece but several times faster than deflate, whether
// deflate could make it smaller by more than 1/BudgetShare (0.25%). Where it says no,
// storing the piece loses about that much at most against deflate (libdeflate level 6
// gains a half to a third of the estimate on gzip data); the estimate adds two parts:
//  - literals: a block with its own codes spends at least the entropy of its bytes, and
//    the description of those codes. Entropy is taken per window of ScanWindow bytes,
//    less what chance alone leaves random bytes short of 8 bits; since the entropy of
//    a union of windows is at least the sum of theirs, the best blocks over whole
//    windows bound what literal codes gain. Small windows keep a stretch of text
//    inside compressed data from being averaged away.
//  - repeats: strings of 7 bytes or more found again within deflate's 32 KiB window,
//    less what their matches cost.
// Data compressed already (archives, images, video) is mostly stored at scanning speed;
// gzip streams, whose bytes are not quite even, often take a deflate pass.
class ShrinkScanner
{
public:
    static constexpr size_t ScanWindow = 4096;
    static constexpr size_t BudgetShare = 400;

    // False only when deflate cannot gain more than 1/BudgetShare of `size`.
    bool mayShrink(const unsigned char *data, size_t size);

private:
    static constexpr int HashBits = 15;
    std::vector<uint16_t> m_last; // per 4-byte hash: its last position, low 16 bits
};

class PieceCompressor
{
public:
    // `level` for parts that are not text; text takes TextLevel.
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
    size_t compressPart(const unsigned char *data, size_t size, bool last, unsigned char *out, bool *stored,
                        bool text);

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace pnvzip
