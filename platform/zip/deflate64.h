#pragma once
// Decodes Deflate64 streams (zip method 9, also called "enhanced deflate").
//
// Deflate64 is deflate with three changes: the window holds 64 KiB instead of 32 KiB;
// length symbol 285 stands for lengths 3 to 65538 (base 3 and 16 extra bits) instead of
// the single length 258; and distance symbols 30 and 31 are used (bases 32769 and 49153,
// 14 extra bits each), reaching back over the whole window. Block types, Huffman codes,
// the fixed code and stored blocks are those of deflate. The same decoder reads plain
// deflate as well (Format::Deflate), which lets it be checked against other inflaters.
//
// The decoder streams: it pulls compressed bytes through a reader and hands what it
// decodes to a writer in slices of about OutputSlice bytes. Its memory is fixed whatever
// the stream (the window, one output slice, an input buffer and the code tables, about
// 1.4 MiB). Whatever the input, it reads and writes nothing outside its buffers and it
// always ends: every symbol consumes input, and running past the input's end stops it.

#include <cstddef>
#include <functional>
#include <memory>

namespace pnvzip {

class Deflate64Decoder
{
public:
    enum class Format { Deflate64, Deflate };

    enum class Result {
        Finished,   // the final block ended (bytes after it are left unread)
        Truncated,  // the input ended before the final block did
        Damaged,    // the data is not a valid stream
        ReadFailed, // the reader reported an error
        Stopped,    // the writer asked to stop
    };

    // Fills `to` with up to `capacity` bytes of the compressed stream and returns how many
    // it wrote: 0 at the end of the stream, a negative number on an error.
    using Reader = std::function<std::ptrdiff_t(unsigned char *to, size_t capacity)>;
    // Takes the next `size` decoded bytes; false stops the decoding.
    using Writer = std::function<bool(const unsigned char *data, size_t size)>;

    static constexpr size_t OutputSlice = size_t(1) << 20;

    explicit Deflate64Decoder(Format format = Format::Deflate64);
    ~Deflate64Decoder();
    Deflate64Decoder(const Deflate64Decoder &) = delete;
    Deflate64Decoder &operator=(const Deflate64Decoder &) = delete;

    // Decodes one whole stream. The decoder can be used again for the next one. On any
    // result but Finished, what was written is incomplete and must not be trusted.
    Result decode(const Reader &read, const Writer &write);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace pnvzip
