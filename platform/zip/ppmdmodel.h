#pragma once
// The context model of PPMd variant I, revision 1, as zip method 98 uses it; the decoder
// (ppmd.h) drives it one symbol at a time.
//
// The model predicts each byte from the bytes before it, up to `order` of them. Its
// memory is one arena of the size the stream's header gives: the text seen so far grows
// from the bottom, the contexts and their symbol lists (12-byte units) live above it,
// handed out by an allocator with free lists of blocks of 1 to 128 units. Each context
// holds its symbols with their frequencies and, for each, the successor: the context one
// order higher that follows it, or (a "raw" successor) the place in the text where it
// was seen, from which that context is made when it is next needed. A context of one
// symbol keeps it in place of the list. When the arena is full the model starts again
// (restore method 0) or prunes itself to the contexts that still have successors, down
// to three quarters of the arena (method 1, "cut off").
//
// Every step follows the published algorithm exactly, so that the encoder's model and
// this one stay the same. Every reference the model follows is checked against the
// arena first, and every walk along suffixes or free lists is bounded: a model that is
// found inconsistent throws Fault, which the decoder reports as damaged data, and never
// reads or writes outside the arena.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace pnvzip::ppmd {

constexpr unsigned MinOrder = 2;
constexpr unsigned MaxOrder = 16;
constexpr unsigned UnitSize = 12;
constexpr unsigned IndexCount = 38;   // sizes of free blocks: 1 to 4, 6 to 12, 15 to 24, 28 to 128 units
constexpr unsigned MaxFrequency = 124;
constexpr unsigned IntBits = 7;
constexpr unsigned PeriodBits = 7;
constexpr unsigned BinScale = 1u << (IntBits + PeriodBits);

// The model was found inconsistent: the data is damaged.
struct Fault
{
};

// A symbol of a context (6 bytes in the arena).
struct State
{
    uint8_t symbol;
    uint8_t freq;
    uint8_t successorBytes[4];

    uint32_t successor() const
    {
        uint32_t v;
        std::memcpy(&v, successorBytes, 4);
        return v;
    }
    void setSuccessor(uint32_t v) { std::memcpy(successorBytes, &v, 4); }
};
static_assert(sizeof(State) == 6);

// A context (one unit). With one symbol, its state takes the place of the symbol
// frequency total and the list: bytes 2 to 7.
struct Context
{
    uint8_t numStats; // symbols less one
    uint8_t flags;    // 0x04 rescaled, 0x08 a symbol >= 0x40, 0x10 the symbol before was >= 0x40
    uint8_t summBytes[2];
    uint8_t statsBytes[4];
    uint8_t suffixBytes[4];

    // Read as the encoder does on the little-endian machines that write zip archives,
    // also where the context holds one symbol (see Model::updateModel).
    unsigned summFreq() const { return unsigned(summBytes[0]) | unsigned(summBytes[1]) << 8; }
    void setSummFreq(unsigned v)
    {
        summBytes[0] = uint8_t(v);
        summBytes[1] = uint8_t(v >> 8);
    }
    uint32_t stats() const
    {
        uint32_t v;
        std::memcpy(&v, statsBytes, 4);
        return v;
    }
    void setStats(uint32_t v) { std::memcpy(statsBytes, &v, 4); }
    uint32_t suffix() const
    {
        uint32_t v;
        std::memcpy(&v, suffixBytes, 4);
        return v;
    }
    void setSuffix(uint32_t v) { std::memcpy(suffixBytes, &v, 4); }
    State *oneState() { return reinterpret_cast<State *>(summBytes); }
};
static_assert(sizeof(Context) == UnitSize);

// Secondary escape estimation: the adaptive escape frequency of a class of contexts.
struct See
{
    uint16_t summ;
    uint8_t shift;
    uint8_t count;

    void update()
    {
        if (shift < PeriodBits && --count == 0) {
            summ = uint16_t(summ << 1);
            count = uint8_t(3 << shift++);
        }
    }
};

class Model
{
public:
    Model();
    ~Model();
    Model(const Model &) = delete;
    Model &operator=(const Model &) = delete;

    // Makes the arena `size` bytes (kept when it already is); false when memory is short.
    bool allocate(uint32_t size);
    // Starts the model afresh.
    void start(unsigned order, unsigned restoreMethod);
    // Overwrites every part of the arena the model wrote (it holds the decoded text).
    void wipe();

    // What the decoder reads and updates between the model's steps.
    Context *minContext = nullptr;
    Context *maxContext = nullptr;
    State *foundState = nullptr;
    unsigned orderFall = 0;
    unsigned initEsc = 0;
    unsigned prevSuccess = 0;
    int32_t runLength = 0;

    Context *context(uint32_t ref) const
    {
        if (ref > m_size - UnitSize)
            throw Fault();
        return reinterpret_cast<Context *>(m_base.get() + ref);
    }
    // The symbol list of a context of more than one symbol.
    State *stats(const Context *c) const
    {
        const uint32_t ref = c->stats();
        if (ref > m_size || m_size - ref < (uint32_t(c->numStats) + 1) * sizeof(State))
            throw Fault();
        return reinterpret_cast<State *>(m_base.get() + ref);
    }
    Context *suffix(const Context *c) const { return context(c->suffix()); }

    // The probability of the symbol of a one-symbol context.
    uint16_t *binaryProbability();
    // The escape frequency of the current context after an escape from one with
    // `numMasked` + 1 symbols, and the estimator to update with the result.
    See *escapeFrequency(unsigned numMasked, uint32_t *escFreq);
    static unsigned expEscape(unsigned probability) { return ExpEscape[probability >> 10]; }

    // After the first symbol of a context of several was decoded.
    void updateFirst();
    // After another symbol of the first context was decoded.
    void updateOther();
    // After the symbol of a one-symbol context was decoded.
    void updateBinary();
    // After a symbol was decoded in a context reached by escapes.
    void updateAfterEscape();

private:
    static const uint8_t ExpEscape[16];

    // The arena and its allocator (ppmdarena.cpp).
    struct Node;
    uint8_t *at(uint32_t ref) const { return m_base.get() + ref; }
    uint32_t ref(const void *p) const { return uint32_t(static_cast<const uint8_t *>(p) - m_base.get()); }
    Node *node(uint32_t ref) const;

    void insertNode(void *block, unsigned index);
    void *removeNode(unsigned index);
    void splitBlock(void *block, unsigned oldIndex, unsigned newIndex);
    void glueFreeBlocks();
    void *allocUnitsRare(unsigned index);
    void *allocUnits(unsigned index);
    void *allocContext();
    void *shrinkUnits(void *block, unsigned oldUnits, unsigned newUnits);
    void freeUnits(void *block, unsigned units) { insertNode(block, unitsToIndex(units)); }
    void specialFreeUnit(void *block);
    void expandTextArea();
    uint32_t usedMemory() const;
    void markWritten();
    unsigned unitsToIndex(unsigned units) const;
    void copyUnits(void *to, const void *from, unsigned units);

    // The model (ppmdmodel.cpp).
    State *find(Context *c, uint8_t symbol) const;
    Context *walkSuffix(Context *c, unsigned *steps) const;
    void restart();
    State *keepOnly(Context *c, const State &only, unsigned freq);
    void refresh(Context *c, unsigned oldUnits, unsigned scale);
    uint32_t cutOff(Context *c, unsigned order);
    void restore(Context *ctxError);
    Context *createSuccessors(bool skip, State *s1, Context *c);
    Context *reduceOrder(State *s1, Context *c);
    void updateModel();
    void rescale();
    void nextContext();

    struct Release
    {
        void operator()(uint8_t *p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t[], Release> m_base;
    uint32_t m_size = 0;
    unsigned m_maxOrder = 0;
    unsigned m_restoreMethod = 0;
    int32_t m_initRunLength = 0;
    uint32_t m_glueCount = 0;
    // Offsets in the arena: the text's end, the start of the units (it moves down into
    // the text's room when the free lists run dry), and the untouched room between
    // loUnit and hiUnit that symbol lists take from below and contexts from above.
    uint32_t m_text = 0;
    uint32_t m_unitsStart = 0;
    uint32_t m_loUnit = 0;
    uint32_t m_hiUnit = 0;
    // The parts of the arena ever written, for wipe(): [0, m_textMark) and from
    // m_unitsMark to m_loMark, and from m_hiMark to the end.
    uint32_t m_textMark = 0;
    uint32_t m_unitsMark = UINT32_MAX;
    uint32_t m_loMark = 0;
    uint32_t m_hiMark = UINT32_MAX;

    uint32_t m_freeList[IndexCount] = {};
    uint32_t m_stamps[IndexCount] = {};
    uint8_t m_indexToUnits[IndexCount];
    uint8_t m_unitsToIndex[128];
    uint8_t m_ns2BsIndex[256];
    uint8_t m_ns2Index[260];
    See m_see[24][32];
    See m_dummySee;
    uint16_t m_binSumm[25][64];
};

} // namespace pnvzip::ppmd
