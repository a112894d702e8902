#include "ppmd.h"

#include "ppmdmodel.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <vector>

namespace pnvzip {

using stream::Result;

namespace {
constexpr size_t InputSize = 64 * 1024;
constexpr size_t OutputSize = 64 * 1024;
// The range coder keeps the top byte of low and low + range apart, and range at least
// Bottom; one normalisation shifts in a few bytes at most.
constexpr uint32_t Top = 1u << 24;
constexpr uint32_t Bottom = 1u << 15;
constexpr unsigned MaxShifts = 8;
constexpr int EndMarker = -1;
constexpr int NoSymbol = -2; // a code beyond every symbol and the escape
} // namespace

struct PpmdDecoder::Impl
{
    ppmd::Model model;
    uint32_t memoryLimit = MaxMemory;

    // The input, read in slices; bytes asked for past its end read as zeros and are
    // counted in `overrun`.
    std::vector<uint8_t> input = std::vector<uint8_t>(InputSize);
    std::vector<uint8_t> output = std::vector<uint8_t>(OutputSize);
    const stream::Reader *read = nullptr;
    size_t pos = 0;
    size_t end = 0;
    bool ended = false;
    bool failed = false;
    unsigned overrun = 0;

    uint32_t range = 0;
    uint32_t code = 0;
    uint32_t low = 0;

    // For the symbol being decoded, 0 for the symbols of the contexts escaped from and
    // 0xff for the others, so that `freq & open[symbol]` counts only the others.
    uint8_t open[256] = {};

    ~Impl()
    {
        // Decrypted data.
        OPENSSL_cleanse(input.data(), input.size());
        OPENSSL_cleanse(output.data(), output.size());
    }

    void begin(const stream::Reader &reader)
    {
        read = &reader;
        pos = end = 0;
        ended = failed = false;
        overrun = 0;
    }
    uint8_t nextByte()
    {
        if (pos == end) {
            const std::ptrdiff_t n = ended ? 0 : (*read)(input.data(), input.size());
            if (n <= 0) {
                ended = true;
                failed = failed || n < 0;
                ++overrun;
                return 0;
            }
            pos = 0;
            end = size_t(n);
        }
        return input[pos++];
    }

    bool startRange()
    {
        low = 0;
        range = 0xffffffff;
        code = 0;
        for (int i = 0; i < 4; ++i)
            code = code << 8 | nextByte();
        return code < 0xffffffff;
    }
    // A total the range cannot divide is cut to the range, as the encoder does too.
    uint32_t fitted(uint32_t total) const { return std::min(total, range); }
    // Where the code lies among `total` equal parts of the range.
    uint32_t threshold(uint32_t total)
    {
        if (total == 0 || (range /= total) == 0)
            throw ppmd::Fault();
        return code / range;
    }
    // Takes the part [start, start + size) of those found by threshold().
    void take(uint32_t start, uint32_t size)
    {
        start *= range;
        low += start;
        code -= start;
        range *= size;
        for (unsigned shifts = 0;; ++shifts) {
            if ((low ^ (low + range)) >= Top) {
                if (range >= Bottom)
                    return;
                range = (0 - low) & (Bottom - 1);
            }
            if (shifts == MaxShifts)
                throw ppmd::Fault();
            code = code << 8 | nextByte();
            range <<= 8;
            low <<= 8;
        }
    }

    // Rules out the symbols of `list` (of `count` states) for the symbol being decoded.
    void mask(const ppmd::State *list, unsigned count)
    {
        for (unsigned i = 0; i < count; ++i)
            open[list[i].symbol] = 0;
    }

    // Takes the part of the range of the symbol of `s` (its frequency, or `size`), then
    // lets the model learn it.
    int found(ppmd::State *s, uint32_t start, void (ppmd::Model::*update)(), uint32_t size = 0)
    {
        take(start, size ? size : s->freq);
        model.foundState = s;
        const int symbol = s->symbol;
        (model.*update)();
        return symbol;
    }

    // The next byte, EndMarker or NoSymbol.
    int decodeSymbol()
    {
        ppmd::Model &m = model;
        ppmd::Context *mc = m.minContext;
        if (mc->numStats != 0) {
            ppmd::State *s = m.stats(mc);
            const uint32_t summ = fitted(mc->summFreq());
            const uint32_t count = threshold(summ);
            uint32_t hiCnt = s->freq;
            if (count < hiCnt)
                return found(s, 0, &ppmd::Model::updateFirst);
            m.prevSuccess = 0;
            for (unsigned i = mc->numStats; i > 0; --i) {
                hiCnt += (++s)->freq;
                if (hiCnt > count)
                    return found(s, hiCnt - s->freq, &ppmd::Model::updateOther);
            }
            if (count >= summ)
                return NoSymbol;
            take(hiCnt, summ - hiCnt);
            std::fill(std::begin(open), std::end(open), 0xff);
            mask(m.stats(mc), mc->numStats + 1u);
        } else {
            ppmd::State *one = mc->oneState();
            uint16_t *probability = m.binaryProbability();
            const unsigned p = *probability;
            if ((range >>= 14) == 0)
                throw ppmd::Fault();
            const unsigned mean = (p + (1 << (ppmd::PeriodBits - 2))) >> ppmd::PeriodBits;
            if (code / range < p) {
                *probability = uint16_t(p + (1 << ppmd::IntBits) - mean);
                return found(one, 0, &ppmd::Model::updateBinary, p);
            }
            take(p, ppmd::BinScale - p);
            *probability = uint16_t(p - mean);
            m.initEsc = ppmd::Model::expEscape(*probability);
            std::fill(std::begin(open), std::end(open), 0xff);
            open[one->symbol] = 0;
            m.prevSuccess = 0;
        }

        // Escapes: down the suffixes, each with the symbols not yet ruled out.
        unsigned steps = 0;
        for (;;) {
            const unsigned numMasked = mc->numStats;
            do {
                ++m.orderFall;
                if (mc->suffix() == 0)
                    return EndMarker;
                if (++steps > 1024)
                    throw ppmd::Fault();
                mc = m.suffix(mc);
            } while (mc->numStats == numMasked);
            m.minContext = mc;
            if (mc->numStats < numMasked)
                throw ppmd::Fault(); // a suffix holds every symbol of the contexts above it

            ppmd::State *list = m.stats(mc);
            const unsigned count = mc->numStats + 1u;
            uint32_t hiCnt = 0;
            for (unsigned i = 0; i < count; ++i)
                hiCnt += list[i].freq & open[list[i].symbol]; // no branch: masks are hard to predict

            uint32_t freqSum;
            ppmd::See *see = m.escapeFrequency(numMasked, &freqSum);
            freqSum += hiCnt;
            const uint32_t total = fitted(freqSum);
            const uint32_t at = threshold(total);
            if (at < hiCnt) {
                // The symbol whose part holds `at`: it lies within the list, as at < hiCnt.
                uint32_t upTo = 0;
                ppmd::State *s = list;
                for (;; ++s) {
                    upTo += s->freq & open[s->symbol];
                    if (upTo > at)
                        break;
                }
                see->update();
                return found(s, upTo - s->freq, &ppmd::Model::updateAfterEscape);
            }
            if (at >= total)
                return NoSymbol;
            take(hiCnt, total - hiCnt);
            see->summ = uint16_t(see->summ + freqSum);
            mask(list, count);
        }
    }
};

PpmdDecoder::PpmdDecoder() : d(std::make_unique<Impl>()) {}
PpmdDecoder::~PpmdDecoder() = default;

void PpmdDecoder::setMemoryLimit(uint32_t bytes)
{
    d->memoryLimit = std::min(bytes, MaxMemory);
}

Result PpmdDecoder::decode(uint64_t size, const stream::Reader &read, const stream::Writer &write)
{
    Impl &s = *d;
    s.begin(read);
    size_t filled = 0;
    auto end = [&](Result result) {
        if (filled > 0 && !write(s.output.data(), filled))
            return Result::Stopped;
        if (s.failed)
            return Result::ReadFailed;
        return result;
    };
    if (size == 0)
        return Result::Finished; // nothing is stored for an empty entry but perhaps an end marker

    const unsigned word = s.nextByte() | unsigned(s.nextByte()) << 8;
    if (s.overrun)
        return end(Result::Truncated);
    const unsigned order = (word & 0xf) + 1;
    const uint32_t memory = (((word >> 4) & 0xff) + 1) << 20;
    const unsigned restoreMethod = word >> 12;
    if (order < ppmd::MinOrder || restoreMethod > 1 || memory > s.memoryLimit)
        return Result::Damaged;
    if (!s.model.allocate(memory))
        return Result::Unsupported;
    const bool started = s.startRange();
    if (s.overrun)
        return end(Result::Truncated);
    if (!started)
        return Result::Damaged;
    s.model.start(order, restoreMethod);

    try {
        for (uint64_t done = 0; done < size; ++done) {
            const int symbol = s.decodeSymbol();
            if (s.overrun)
                return end(Result::Truncated); // the symbol needed bytes the input does not have
            if (symbol < 0)
                return end(Result::Damaged); // no symbol, or the end before the recorded size
            s.output[filled++] = uint8_t(symbol);
            if (filled == OutputSize) {
                filled = 0;
                if (!write(s.output.data(), OutputSize))
                    return Result::Stopped;
            }
        }
    } catch (const ppmd::Fault &) {
        return end(Result::Damaged);
    }
    return end(Result::Finished);
}

} // namespace pnvzip
