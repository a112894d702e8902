#include "shrink.h"

#include <vector>

namespace pnvzip {

using stream::Result;

namespace {
constexpr unsigned Codes = 8192;
constexpr unsigned FirstFree = 257;
constexpr unsigned Control = 256;
constexpr unsigned MinWidth = 9;
constexpr unsigned MaxWidth = 13;
constexpr uint16_t Free = 0xffff; // the prefix of a free code
} // namespace

struct ShrinkDecoder::Impl
{
    uint16_t prefix[Codes];
    unsigned char last[Codes]; // the last byte of each code's string
    unsigned char first[Codes]; // the first byte of each code's string
    std::vector<unsigned char> text = std::vector<unsigned char>(Codes + 1);

    void reset()
    {
        for (unsigned c = 0; c < Codes; ++c) {
            prefix[c] = c < Control ? uint16_t(Control) : Free;
            last[c] = first[c] = c < Control ? static_cast<unsigned char>(c) : 0;
        }
        prefix[Control] = Free - 1; // never free, never a string
    }
    bool isString(unsigned code) const { return code != Control && prefix[code] != Free; }

    // Frees every entry that is not the prefix of another.
    void partialClear()
    {
        std::vector<bool> parent(Codes, false);
        for (unsigned c = FirstFree; c < Codes; ++c) {
            if (prefix[c] != Free && prefix[c] >= FirstFree)
                parent[prefix[c]] = true;
        }
        for (unsigned c = FirstFree; c < Codes; ++c) {
            if (!parent[c])
                prefix[c] = Free;
        }
    }

    // The string of `code` into `text`, ending before `at`; its start, or -1 when the
    // chain of prefixes does not end (a damaged stream).
    long spell(unsigned code, size_t at)
    {
        for (unsigned steps = 0; code != Control; ++steps) {
            if (steps == Codes || code >= Codes || prefix[code] == Free)
                return -1;
            text[--at] = last[code];
            code = prefix[code];
        }
        return long(at);
    }
};

ShrinkDecoder::ShrinkDecoder() : d(std::make_unique<Impl>()) {}
ShrinkDecoder::~ShrinkDecoder() = default;

Result ShrinkDecoder::decode(uint64_t size, const stream::Reader &read, const stream::Writer &write)
{
    d->reset();
    stream::BitInput in(read);
    stream::OutputWindow out(write, ~uint64_t(0));
    unsigned width = MinWidth;
    unsigned nextFree = FirstFree;
    long previous = -1;
    auto end = [&](Result result) {
        if (!out.flush())
            return Result::Stopped;
        if (in.failed())
            return Result::ReadFailed;
        return result;
    };
    while (out.written() < size) {
        uint32_t code = 0;
        if (!in.bits(width, &code))
            return end(Result::Truncated);
        if (code == Control) {
            if (!in.bits(width, &code))
                return end(Result::Truncated);
            if (code == 1 && width < MaxWidth) {
                ++width;
            } else if (code == 2) {
                d->partialClear();
                nextFree = FirstFree;
                while (nextFree < Codes && d->prefix[nextFree] != Free)
                    ++nextFree;
            } else {
                return end(Result::Damaged);
            }
            continue;
        }
        long start;
        if (d->isString(code)) {
            start = d->spell(code, d->text.size());
        } else if (code == nextFree && previous >= 0) {
            // The entry about to be added: the previous string and its own first byte.
            d->text.back() = d->first[previous];
            start = d->spell(unsigned(previous), d->text.size() - 1);
        } else {
            return end(Result::Damaged);
        }
        if (start < 0)
            return end(Result::Damaged);
        const unsigned char head = d->text[size_t(start)];
        if (previous >= 0 && nextFree < Codes) {
            d->prefix[nextFree] = uint16_t(previous);
            d->last[nextFree] = head;
            d->first[nextFree] = d->first[previous];
            while (nextFree < Codes && d->prefix[nextFree] != Free)
                ++nextFree;
        }
        for (size_t i = size_t(start); i < d->text.size(); ++i) {
            if (!out.put(d->text[i]))
                return Result::Stopped;
        }
        previous = long(code);
    }
    return end(Result::Finished);
}

} // namespace pnvzip
