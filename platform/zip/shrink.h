#pragma once
// Decodes Shrink (zip method 1), the LZW of the oldest zip writers.
//
// Codes are read least significant bit first, 9 bits wide at the start and at most 13.
// Codes 0 to 255 stand for their byte; code 256 is followed by a second code: 1 widens
// the codes by one bit, 2 clears the table partly (every entry that is not the prefix of
// another becomes free again). After each code but the first, the table gains an entry:
// the previous code's string followed by the first byte of this code's string, at the
// lowest free code from 257 up (none while the table is full). A code may name the entry
// about to be added, whose string is then the previous one followed by its own first byte.
//
// The stream ends with the input or once the entry's recorded size is reached. Memory is
// fixed (the table of 8192 codes, a string buffer and the output window, about 170 KiB).

#include "streamdecoder.h"

#include <cstdint>
#include <memory>

namespace pnvzip {

class ShrinkDecoder
{
public:
    ShrinkDecoder();
    ~ShrinkDecoder();
    ShrinkDecoder(const ShrinkDecoder &) = delete;
    ShrinkDecoder &operator=(const ShrinkDecoder &) = delete;

    stream::Result decode(uint64_t size, const stream::Reader &read, const stream::Writer &write);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace pnvzip
