// The test's own encoders of Shrink and Implode, written straight from the methods'
// description and kept simple: greedy matching, codes built from counted symbols. Their
// archives are checked against Info-ZIP unzip as well as against the engine.

#include "ziptestkit.h"

#include <algorithm>
#include <array>
#include <functional>
#include <queue>
#include <unordered_map>
#include <vector>

namespace ziptest {

namespace {

// Bits, least significant first.
class BitOutput
{
public:
    void put(quint32 value, unsigned count)
    {
        for (unsigned i = 0; i < count; ++i)
            bit((value >> i) & 1);
    }
    // A code's bits from its most significant down, as Implode stores them.
    void putCode(quint32 code, unsigned length)
    {
        for (unsigned i = length; i-- > 0;)
            bit((code >> i) & 1);
    }
    QByteArray finish()
    {
        if (m_count)
            m_out += char(m_byte);
        m_byte = 0;
        m_count = 0;
        return m_out;
    }

private:
    void bit(unsigned b)
    {
        m_byte |= b << m_count;
        if (++m_count == 8) {
            m_out += char(m_byte);
            m_byte = 0;
            m_count = 0;
        }
    }
    QByteArray m_out;
    unsigned m_byte = 0;
    unsigned m_count = 0;
};

// ---- Shrink ----

constexpr unsigned ShrinkCodes = 8192;

} // namespace

QByteArray shrinkBytes(const QByteArray &data, bool clears)
{
    BitOutput out;
    if (data.isEmpty())
        return out.finish();
    std::vector<int> prefix(ShrinkCodes, -1); // -1: free (for codes from 257)
    std::vector<unsigned char> last(ShrinkCodes, 0);
    std::unordered_map<quint32, unsigned> child; // prefix << 8 | byte -> code
    std::vector<unsigned> children(ShrinkCodes, 0);
    unsigned width = 9;
    unsigned nextFree = 257;
    auto send = [&](unsigned code) {
        while (code >= (1u << width)) {
            out.put(256, width);
            out.put(1, width);
            ++width;
        }
        out.put(code, width);
    };
    auto partialClear = [&] {
        std::vector<bool> parent(ShrinkCodes, false);
        for (unsigned c = 257; c < ShrinkCodes; ++c) {
            if (prefix[c] >= 257)
                parent[size_t(prefix[c])] = true;
        }
        for (unsigned c = 257; c < ShrinkCodes; ++c) {
            if (prefix[c] >= 0 && !parent[c]) {
                child.erase(quint32(prefix[c]) << 8 | last[c]);
                --children[size_t(prefix[c])];
                prefix[c] = -1;
            }
        }
        nextFree = 257;
        while (nextFree < ShrinkCodes && prefix[nextFree] >= 0)
            ++nextFree;
    };
    unsigned current = static_cast<unsigned char>(data[0]);
    for (qsizetype i = 1; i < data.size(); ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        const auto found = child.find(quint32(current) << 8 | byte);
        if (found != child.end()) {
            current = found->second;
            continue;
        }
        send(current);
        // A full table is cleared before the decoder would add to it (Info-ZIP refuses
        // a stream that goes on with a full table). Cleared early where it can be, after
        // the code of a single byte or of a prefix of others: the entry the decoder adds
        // next then never starts with a code the clearing freed.
        const bool kept = current < 256 || children[current] > 0;
        if (clears && (nextFree == ShrinkCodes || (nextFree >= ShrinkCodes - 256 && kept))) {
            out.put(256, width);
            out.put(2, width);
            partialClear();
        }
        if (nextFree < ShrinkCodes) {
            prefix[nextFree] = int(current);
            last[nextFree] = byte;
            child[quint32(current) << 8 | byte] = nextFree;
            ++children[current];
            while (nextFree < ShrinkCodes && prefix[nextFree] >= 0)
                ++nextFree;
        }
        current = byte;
    }
    send(current);
    return out.finish();
}

namespace {

// ---- Implode ----

// Code lengths of at most 16 bits for symbols that all get a code (Huffman's, with the
// counts halved until the longest fits).
std::vector<unsigned> codeLengths(std::vector<quint64> counts)
{
    const size_t n = counts.size();
    for (;;) {
        using Node = std::pair<quint64, int>;
        std::priority_queue<Node, std::vector<Node>, std::greater<>> queue;
        std::vector<int> parent(2 * n, -1);
        for (size_t s = 0; s < n; ++s)
            queue.push({std::max<quint64>(counts[s], 1), int(s)});
        int next = int(n);
        while (queue.size() > 1) {
            const Node a = queue.top();
            queue.pop();
            const Node b = queue.top();
            queue.pop();
            parent[size_t(a.second)] = parent[size_t(b.second)] = next;
            queue.push({a.first + b.first, next++});
        }
        std::vector<unsigned> lengths(n, 0);
        unsigned longest = 0;
        for (size_t s = 0; s < n; ++s) {
            for (int p = parent[s]; p >= 0; p = parent[size_t(p)])
                ++lengths[s];
            longest = std::max(longest, lengths[s]);
        }
        if (longest <= 16)
            return lengths;
        for (quint64 &c : counts)
            c = c / 2 + 1;
    }
}

// The codes the lengths give: from the longest length down, the last symbol of a
// length first, each the next number of that length.
std::vector<quint32> codesOf(const std::vector<unsigned> &lengths)
{
    std::vector<quint32> codes(lengths.size());
    quint32 next = 0;
    for (unsigned length = 16; length >= 1; --length) {
        for (size_t s = lengths.size(); s-- > 0;) {
            if (lengths[s] == length) {
                codes[s] = next >> (16 - length);
                next += 1u << (16 - length);
            }
        }
    }
    return codes;
}

void putCodeLengths(BitOutput &out, const std::vector<unsigned> &lengths)
{
    std::vector<quint8> runs;
    for (size_t s = 0; s < lengths.size();) {
        size_t count = 1;
        while (s + count < lengths.size() && lengths[s + count] == lengths[s] && count < 16)
            ++count;
        runs.push_back(quint8((count - 1) << 4 | (lengths[s] - 1)));
        s += count;
    }
    out.put(quint32(runs.size() - 1), 8);
    for (quint8 r : runs)
        out.put(r, 8);
}

struct Token
{
    unsigned length = 0; // 0: a literal
    unsigned value = 0;  // the literal, or the distance
};

} // namespace

QByteArray implodeBytes(const QByteArray &data, bool largeWindow, bool literalCodes)
{
    const unsigned window = largeWindow ? 8192 : 4096;
    const unsigned lowBits = largeWindow ? 7 : 6;
    const unsigned minMatch = literalCodes ? 3 : 2;
    const unsigned maxMatch = minMatch + 63 + 255;
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    const auto size = size_t(data.size());

    // Greedy matching through chains of earlier places with the same first bytes.
    std::vector<Token> tokens;
    std::unordered_map<quint32, std::vector<size_t>> places;
    auto keyAt = [&](size_t i) { return quint32(bytes[i]) << 8 | bytes[i + 1]; };
    for (size_t i = 0; i < size;) {
        unsigned bestLength = 0, bestDistance = 0;
        if (i + 1 < size) {
            std::vector<size_t> &chain = places[keyAt(i)];
            int tried = 0;
            for (size_t k = chain.size(); k-- > 0 && tried < 64; ++tried) {
                const size_t from = chain[k];
                if (i - from > window)
                    break;
                unsigned length = 0;
                while (i + length < size && length < maxMatch && bytes[from + length] == bytes[i + length])
                    ++length;
                if (length > bestLength) {
                    bestLength = length;
                    bestDistance = unsigned(i - from);
                }
            }
        }
        const size_t step = bestLength >= minMatch ? bestLength : 1;
        tokens.push_back(bestLength >= minMatch ? Token{bestLength, bestDistance} : Token{0, bytes[i]});
        for (size_t k = i; k < i + step && k + 1 < size; ++k)
            places[keyAt(k)].push_back(k);
        i += step;
    }

    std::vector<quint64> literalCounts(256), lengthCounts(64), distanceCounts(64);
    for (const Token &t : tokens) {
        if (t.length == 0) {
            ++literalCounts[t.value];
        } else {
            ++lengthCounts[std::min(t.length - minMatch, 63u)];
            ++distanceCounts[(t.value - 1) >> lowBits];
        }
    }
    const std::vector<unsigned> literalLengths = codeLengths(literalCounts);
    const std::vector<unsigned> lengthLengths = codeLengths(lengthCounts);
    const std::vector<unsigned> distanceLengths = codeLengths(distanceCounts);
    const std::vector<quint32> literalCodesOf = codesOf(literalLengths);
    const std::vector<quint32> lengthCodes = codesOf(lengthLengths);
    const std::vector<quint32> distanceCodes = codesOf(distanceLengths);

    BitOutput out;
    if (literalCodes)
        putCodeLengths(out, literalLengths);
    putCodeLengths(out, lengthLengths);
    putCodeLengths(out, distanceLengths);
    for (const Token &t : tokens) {
        if (t.length == 0) {
            out.put(1, 1);
            if (literalCodes)
                out.putCode(literalCodesOf[t.value], literalLengths[t.value]);
            else
                out.put(t.value, 8);
            continue;
        }
        out.put(0, 1);
        const unsigned d = t.value - 1;
        out.put(d & ((1u << lowBits) - 1), lowBits);
        out.putCode(distanceCodes[d >> lowBits], distanceLengths[d >> lowBits]);
        const unsigned l = t.length - minMatch;
        out.putCode(lengthCodes[std::min(l, 63u)], lengthLengths[std::min(l, 63u)]);
        if (l >= 63)
            out.put(l - 63, 8);
    }
    return out.finish();
}

} // namespace ziptest
