#pragma once
// What the zip component's streaming decoders share: how they report, how they pull
// compressed bytes and hand on what they decode, and, for the decoders written here, a
// bit reader (least significant bit first, as zip's own methods pack their codes) and an
// output window that hands decoded bytes on in fixed slices.
//
// Every decoder built on these keeps a fixed amount of memory whatever the stream, reads
// and writes nothing outside its buffers, and always ends: each step consumes input, and
// running past the input's end stops it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace pnvzip::stream {

enum class Result {
    Finished,    // the stream ended where it should (bytes after it are left unread)
    Truncated,   // the input ended before the stream did
    Damaged,     // the data is not a valid stream
    ReadFailed,  // the reader reported an error
    Stopped,     // the writer asked to stop
    Unsupported, // valid, but asks for more memory or a feature this program does not have
};

// Fills `to` with up to `capacity` bytes of the compressed stream and returns how many it
// wrote: 0 at the end of the stream, a negative number on an error.
using Reader = std::function<std::ptrdiff_t(unsigned char *to, size_t capacity)>;
// Takes the next `size` decoded bytes; false stops the decoding.
using Writer = std::function<bool(const unsigned char *data, size_t size)>;

// Bits of the input, least significant first.
class BitInput
{
public:
    explicit BitInput(const Reader &read) : m_read(read) { m_buffer.resize(BufferSize); }

    // The next `count` bits (at most 24) as a number; false when the input ended first
    // or the reader failed (failed() tells which).
    bool bits(unsigned count, uint32_t *value)
    {
        while (m_count < count) {
            if (m_pos == m_end && !refill())
                return false;
            m_bits |= uint32_t(m_buffer[m_pos++]) << m_count;
            m_count += 8;
        }
        *value = m_bits & ((uint32_t(1) << count) - 1);
        m_bits >>= count;
        m_count -= count;
        return true;
    }
    bool failed() const { return m_failed; }

private:
    static constexpr size_t BufferSize = 64 * 1024;
    bool refill()
    {
        if (m_ended)
            return false;
        const std::ptrdiff_t n = m_read(m_buffer.data(), m_buffer.size());
        if (n <= 0) {
            m_ended = true;
            m_failed = n < 0;
            return false;
        }
        m_pos = 0;
        m_end = size_t(n);
        return true;
    }
    const Reader &m_read;
    std::vector<unsigned char> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;
    uint32_t m_bits = 0;
    unsigned m_count = 0;
    bool m_ended = false;
    bool m_failed = false;
};

// Decoded bytes, kept in a ring of Size bytes (a power of two) so that the last Size / 2
// bytes can be copied from, and handed to the writer half a ring at a time.
class OutputWindow
{
public:
    static constexpr size_t Size = 64 * 1024;
    static constexpr size_t Reach = Size / 2; // how far back a copy may reach

    OutputWindow(const Writer &write, uint64_t limit) : m_write(write), m_limit(limit) { m_ring.resize(Size); }

    uint64_t written() const { return m_pos; }
    bool full() const { return m_pos >= m_limit; }
    // Adds one byte; false when the writer stopped.
    bool put(unsigned char byte)
    {
        m_ring[m_pos & (Size - 1)] = byte;
        ++m_pos;
        return (m_pos & (Reach - 1)) != 0 || flush();
    }
    // Copies `length` bytes from `distance` back (1 to Reach); what lies before the
    // start of the data reads as zeros. Stops at the limit. False when the writer stopped.
    bool copy(size_t distance, size_t length)
    {
        for (; length > 0 && m_pos < m_limit; --length) {
            const unsigned char byte = distance > m_pos ? 0 : m_ring[(m_pos - distance) & (Size - 1)];
            if (!put(byte))
                return false;
        }
        return true;
    }
    // Hands on what is not yet written; false when the writer stopped.
    bool flush()
    {
        const size_t from = size_t(m_flushed & (Size - 1));
        const size_t n = size_t(m_pos - m_flushed);
        m_flushed = m_pos;
        return n == 0 || m_write(m_ring.data() + from, n);
    }

private:
    const Writer &m_write;
    std::vector<unsigned char> m_ring;
    uint64_t m_limit;
    uint64_t m_pos = 0;
    uint64_t m_flushed = 0;
};

} // namespace pnvzip::stream
