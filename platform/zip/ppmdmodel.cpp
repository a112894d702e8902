#include "ppmdmodel.h"

#include <algorithm>
#include <utility>

namespace pnvzip::ppmd {

namespace {
constexpr uint16_t InitBinEsc[8] = {0x3cdd, 0x1f3f, 0x59bf, 0x48f3, 0x64a1, 0x5abc, 0x6632, 0x6051};
// Far more than any chain of suffixes (one per order) or any pass of pruning needs.
constexpr unsigned MaxSteps = 1024;

// 0x08 (0x10 for the flag of the symbol before) when the symbol is 0x40 or above.
unsigned highFlag3(unsigned symbol) { return symbol >= 0x40 ? 0x08 : 0; }
unsigned highFlag4(unsigned symbol) { return symbol >= 0x40 ? 0x10 : 0; }
} // namespace

const uint8_t Model::ExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

Model::Model()
{
    for (unsigned i = 0, k = 0; i < IndexCount; ++i) {
        unsigned step = i >= 12 ? 4 : (i >> 2) + 1;
        do {
            m_unitsToIndex[k++] = uint8_t(i);
        } while (--step);
        m_indexToUnits[i] = uint8_t(k);
    }
    m_ns2BsIndex[0] = 0 << 1;
    m_ns2BsIndex[1] = 1 << 1;
    std::fill(m_ns2BsIndex + 2, m_ns2BsIndex + 11, uint8_t(2 << 1));
    std::fill(m_ns2BsIndex + 11, m_ns2BsIndex + 256, uint8_t(3 << 1));
    unsigned i = 0;
    for (; i < 5; ++i)
        m_ns2Index[i] = uint8_t(i);
    for (unsigned m = i, k = 1; i < 260; ++i) {
        m_ns2Index[i] = uint8_t(m);
        if (--k == 0)
            k = ++m - 4;
    }
}

Model::~Model()
{
    wipe();
}

State *Model::find(Context *c, uint8_t symbol) const
{
    State *s = stats(c);
    for (unsigned i = 0; i <= c->numStats; ++i) {
        if (s[i].symbol == symbol)
            return s + i;
    }
    throw Fault(); // every symbol of a context is in its suffix
}

Context *Model::walkSuffix(Context *c, unsigned *steps) const
{
    if (++*steps > MaxSteps || c->suffix() == 0)
        throw Fault();
    return suffix(c);
}

void Model::start(unsigned order, unsigned restoreMethod)
{
    m_maxOrder = order;
    m_restoreMethod = restoreMethod;
    restart();
}

void Model::restart()
{
    markWritten();
    std::fill(std::begin(m_freeList), std::end(m_freeList), 0);
    std::fill(std::begin(m_stamps), std::end(m_stamps), 0);
    m_text = 0;
    m_hiUnit = m_size;
    m_loUnit = m_unitsStart = m_hiUnit - m_size / 8 / UnitSize * 7 * UnitSize;
    m_unitsMark = std::min(m_unitsMark, m_unitsStart);
    m_glueCount = 0;

    orderFall = m_maxOrder;
    runLength = m_initRunLength = -int32_t(std::min(m_maxOrder, 12u)) - 1;
    prevSuccess = 0;

    m_hiUnit -= UnitSize;
    Context *root = context(m_hiUnit);
    State *s = reinterpret_cast<State *>(at(m_loUnit));
    m_loUnit += 256 / 2 * UnitSize;
    maxContext = minContext = root;
    foundState = s;
    root->flags = 0;
    root->numStats = 255;
    root->setSummFreq(256 + 1);
    root->setStats(ref(s));
    root->setSuffix(0);
    for (unsigned i = 0; i < 256; ++i) {
        s[i].symbol = uint8_t(i);
        s[i].freq = 1;
        s[i].setSuccessor(0);
    }

    for (unsigned i = 0, m = 0; m < 25; ++m) {
        while (m_ns2Index[i] == m)
            ++i;
        for (unsigned k = 0; k < 8; ++k) {
            const uint16_t value = uint16_t(BinScale - InitBinEsc[k] / (i + 1));
            for (unsigned r = 0; r < 64; r += 8)
                m_binSumm[m][k + r] = value;
        }
    }
    for (unsigned i = 0, m = 0; m < 24; ++m) {
        while (m_ns2Index[i + 3] == m + 3)
            ++i;
        for (See &see : m_see[m]) {
            see.summ = uint16_t((2 * i + 5) << (PeriodBits - 4));
            see.shift = PeriodBits - 4;
            see.count = 7;
        }
    }
    m_dummySee.summ = 0;
    m_dummySee.shift = PeriodBits;
    m_dummySee.count = 64;
}

// Turns `c` into a context of one symbol, `only` with frequency `freq`.
State *Model::keepOnly(Context *c, const State &only, unsigned freq)
{
    const State kept = only; // `only` may lie where the state goes
    c->flags = uint8_t((c->flags & 0x10) + highFlag3(kept.symbol));
    State *one = c->oneState();
    *one = kept;
    one->freq = uint8_t(freq);
    return one;
}

// After symbols were removed from a context: its list shrunk to fit, the frequencies
// halved when `scale` is 1, the escape frequency raised by what the removed ones had.
void Model::refresh(Context *c, unsigned oldUnits, unsigned scale)
{
    unsigned i = c->numStats;
    if (i == 0)
        throw Fault();
    State *s = static_cast<State *>(shrinkUnits(stats(c), oldUnits, (i + 2) >> 1));
    c->setStats(ref(s));
    scale |= c->summFreq() >= 0x8000;
    unsigned high = highFlag3(s->symbol);
    unsigned escFreq = c->summFreq() - s->freq;
    unsigned freq = (s->freq + scale) >> scale;
    unsigned sumFreq = freq;
    s->freq = uint8_t(freq);
    do {
        freq = (++s)->freq;
        escFreq -= freq;
        freq = (freq + scale) >> scale;
        sumFreq += freq;
        s->freq = uint8_t(freq);
        high |= highFlag3(s->symbol);
    } while (--i);
    c->setSummFreq(sumFreq + ((escFreq + scale) >> scale));
    c->flags = uint8_t((c->flags & (0x10 + 0x04 * scale)) + high);
}

// Prunes the contexts above `c`: successors in the text and those beyond the maximum
// order go, and so do contexts left without successors above order 9. Returns `c`, or 0
// when it was freed.
uint32_t Model::cutOff(Context *c, unsigned order)
{
    int ns = c->numStats;
    if (ns == 0) {
        State *s = c->oneState();
        uint32_t successor = s->successor();
        if (successor >= m_unitsStart) {
            successor = order < m_maxOrder ? cutOff(context(successor), order + 1) : 0;
            s->setSuccessor(successor);
            if (successor || order <= 9)
                return ref(c);
        }
        specialFreeUnit(c);
        return 0;
    }

    const unsigned units = (unsigned(ns) + 2) >> 1;
    State *list = stats(c);
    {
        // A list near the bottom of the units moves up into a free block, if one lies above.
        const unsigned index = unitsToIndex(units);
        if (ref(list) - m_unitsStart <= (1u << 14) && c->stats() <= m_freeList[index]) {
            void *moved = removeNode(index);
            c->setStats(ref(moved));
            copyUnits(moved, list, units);
            if (ref(list) != m_unitsStart)
                insertNode(list, index);
            else
                m_unitsStart += m_indexToUnits[index] * UnitSize;
            list = static_cast<State *>(moved);
        }
    }

    for (int k = c->numStats; k >= 0; --k) {
        State *s = list + k;
        const uint32_t successor = s->successor();
        if (successor < m_unitsStart) {
            State *last = list + ns--;
            if (order) {
                if (s != last)
                    *s = *last;
            } else {
                std::swap(*s, *last);
                last->setSuccessor(0);
            }
        } else {
            s->setSuccessor(order < m_maxOrder ? cutOff(context(successor), order + 1) : 0);
        }
    }

    if (ns != c->numStats && order) {
        if (ns < 0) {
            freeUnits(list, units);
            specialFreeUnit(c);
            return 0;
        }
        c->numStats = uint8_t(ns);
        if (ns == 0) {
            keepOnly(c, *list, (unsigned(list->freq) + 11) >> 3);
            freeUnits(list, units);
        } else {
            refresh(c, units, c->summFreq() > 16 * unsigned(ns));
        }
    }
    return ref(c);
}

// When the arena is full: the symbols added to the contexts from maxContext down to
// `ctxError` are taken back, then the model starts again or is pruned.
void Model::restore(Context *ctxError)
{
    markWritten();
    m_text = 0;
    unsigned steps = 0;
    Context *c = maxContext;
    for (; c != ctxError; c = walkSuffix(c, &steps)) {
        if (c->numStats == 0)
            throw Fault();
        if (--c->numStats == 0) {
            State *s = stats(c);
            keepOnly(c, *s, (unsigned(s->freq) + 11) >> 3);
            specialFreeUnit(s);
        } else {
            refresh(c, (unsigned(c->numStats) + 3) >> 1, 0);
        }
    }
    for (; c != minContext; c = walkSuffix(c, &steps)) {
        if (c->numStats == 0) {
            State *one = c->oneState();
            one->freq = uint8_t((unsigned(one->freq) + 1) >> 1);
        } else {
            const unsigned summ = (c->summFreq() + 4) & 0xffff;
            c->setSummFreq(summ);
            if (summ > 128 + 4 * unsigned(c->numStats))
                refresh(c, (unsigned(c->numStats) + 2) >> 1, 1);
        }
    }

    if (m_restoreMethod == 0 || usedMemory() < (m_size >> 1)) {
        restart();
    } else {
        steps = 0;
        while (maxContext->suffix() != 0)
            maxContext = walkSuffix(maxContext, &steps);
        uint32_t used = usedMemory();
        do {
            cutOff(maxContext, 0);
            expandTextArea();
            const uint32_t now = usedMemory();
            if (now >= used || ++steps > MaxSteps)
                throw Fault(); // pruning that frees nothing would never end
            used = now;
        } while (used > 3 * (m_size >> 2));
        m_glueCount = 0;
        orderFall = m_maxOrder;
    }
    minContext = maxContext;
}

// Makes the contexts that follow the found symbol from the suffixes of `c` down to the
// first that has one (`s1`: the found symbol's state in the first suffix, if known).
// Returns the highest one made, or null when the arena is full.
Context *Model::createSuccessors(bool skip, State *s1, Context *c)
{
    uint32_t upBranch = foundState->successor();
    State *ps[MaxOrder + 1];
    unsigned numPs = 0;
    if (!skip)
        ps[numPs++] = foundState;
    unsigned steps = 0;
    while (c->suffix() != 0) {
        c = walkSuffix(c, &steps);
        State *s;
        if (s1) {
            s = s1;
            s1 = nullptr;
        } else if (c->numStats != 0) {
            s = find(c, foundState->symbol);
            if (s->freq < MaxFrequency - 9) {
                ++s->freq;
                c->setSummFreq(c->summFreq() + 1);
            }
        } else {
            s = c->oneState();
            s->freq = uint8_t(s->freq + (suffix(c)->numStats == 0 && s->freq < 24));
        }
        const uint32_t successor = s->successor();
        if (successor != upBranch) {
            c = context(successor);
            if (numPs == 0)
                return c;
            break;
        }
        if (numPs == std::size(ps))
            throw Fault();
        ps[numPs++] = s;
    }
    if (numPs == 0 || upBranch >= m_size)
        throw Fault();

    const uint8_t newSymbol = *at(upBranch++);
    const uint8_t flags = uint8_t(highFlag4(foundState->symbol) + highFlag3(newSymbol));
    uint8_t newFreq;
    if (c->numStats == 0) {
        newFreq = c->oneState()->freq;
    } else {
        const State *s = find(c, newSymbol);
        const uint32_t cf = uint32_t(s->freq) - 1;
        const uint32_t s0 = uint32_t(c->summFreq()) - c->numStats - cf;
        if (2 * cf > s0 && s0 == 0)
            throw Fault();
        newFreq = uint8_t(1 + (2 * cf <= s0 ? uint32_t(5 * cf > s0) : (cf + 2 * s0 - 3) / s0));
    }

    do {
        Context *c1 = static_cast<Context *>(allocContext());
        if (!c1)
            return nullptr;
        c1->flags = flags;
        c1->numStats = 0;
        State *one = c1->oneState();
        one->symbol = newSymbol;
        one->freq = newFreq;
        one->setSuccessor(upBranch);
        c1->setSuffix(ref(c));
        ps[--numPs]->setSuccessor(ref(c1));
        c = c1;
    } while (numPs != 0);
    return c;
}

// When the found symbol has no successor: the suffixes without one get the text as
// theirs, down to the first that has one.
Context *Model::reduceOrder(State *s1, Context *c)
{
    State *s = nullptr;
    Context *const from = c;
    const uint32_t upBranch = m_text;
    foundState->setSuccessor(upBranch);
    ++orderFall;
    unsigned steps = 0;
    for (;;) {
        if (s1) {
            c = walkSuffix(c, &steps);
            s = s1;
            s1 = nullptr;
        } else {
            if (c->suffix() == 0)
                return c;
            c = walkSuffix(c, &steps);
            if (c->numStats != 0) {
                s = find(c, foundState->symbol);
                if (s->freq < MaxFrequency - 9) {
                    s->freq = uint8_t(s->freq + 2);
                    c->setSummFreq(c->summFreq() + 2);
                }
            } else {
                s = c->oneState();
                s->freq = uint8_t(s->freq + (s->freq < 32));
            }
        }
        if (s->successor() != 0)
            break;
        s->setSuccessor(upBranch);
        ++orderFall;
    }

    if (s->successor() <= upBranch) {
        State *const found = foundState;
        foundState = s;
        Context *successor = createSuccessors(false, nullptr, c);
        s->setSuccessor(successor ? ref(successor) : 0);
        foundState = found;
    }
    const uint32_t successor = s->successor();
    if (orderFall == 1 && from == maxContext) {
        foundState->setSuccessor(successor);
        if (m_text == 0)
            throw Fault();
        --m_text;
    }
    return successor ? context(successor) : nullptr;
}

void Model::updateModel()
{
    State *const found = foundState;
    uint32_t minSuccessor = found->successor();
    const unsigned fFreq = found->freq;
    const uint8_t fSymbol = found->symbol;
    uint32_t maxSuccessor;
    State *s = nullptr;

    if (fFreq < MaxFrequency / 4 && minContext->suffix() != 0) {
        // The symbol gains in the suffix context too.
        Context *c = suffix(minContext);
        if (c->numStats == 0) {
            s = c->oneState();
            if (s->freq < 32)
                ++s->freq;
        } else {
            State *first = stats(c);
            s = find(c, fSymbol);
            if (s != first && s[0].freq >= s[-1].freq) {
                std::swap(s[0], s[-1]);
                --s;
            }
            if (s->freq < MaxFrequency - 9) {
                s->freq = uint8_t(s->freq + 2);
                c->setSummFreq(c->summFreq() + 2);
            }
        }
    }

    Context *c = maxContext;
    if (orderFall == 0 && minSuccessor) {
        Context *cs = createSuccessors(true, s, minContext);
        if (!cs) {
            found->setSuccessor(0);
            restore(c);
            return;
        }
        found->setSuccessor(ref(cs));
        minContext = maxContext = cs;
        return;
    }

    if (m_text >= m_unitsStart)
        throw Fault();
    *at(m_text++) = fSymbol;
    if (m_text >= m_unitsStart) {
        restore(c);
        return;
    }
    maxSuccessor = m_text;

    if (!minSuccessor) {
        Context *cs = reduceOrder(s, minContext);
        if (!cs) {
            restore(c);
            return;
        }
        minSuccessor = ref(cs);
    } else if (minSuccessor < m_unitsStart) {
        Context *cs = createSuccessors(false, s, minContext);
        if (!cs) {
            restore(c);
            return;
        }
        minSuccessor = ref(cs);
    }

    if (--orderFall == 0) {
        maxSuccessor = minSuccessor;
        m_text -= maxContext != minContext;
    }

    const unsigned flag = highFlag3(fSymbol);
    const unsigned ns = minContext->numStats;
    // With one symbol the "total" read here is that symbol and its frequency, as the
    // encoder reads it too.
    const unsigned s0 = minContext->summFreq() - ns - fFreq;
    unsigned steps = 0;
    for (; c != minContext; c = walkSuffix(c, &steps)) {
        const unsigned ns1 = c->numStats;
        uint32_t sum;
        if (ns1 != 0) {
            if (ns1 == 255)
                throw Fault();
            if (ns1 & 1) {
                // The list is full: it grows by a unit.
                const unsigned oldUnits = (ns1 + 1) >> 1;
                const unsigned i = unitsToIndex(oldUnits);
                if (i != unitsToIndex(oldUnits + 1)) {
                    State *old = stats(c);
                    void *grown = allocUnits(i + 1);
                    if (!grown) {
                        restore(c);
                        return;
                    }
                    copyUnits(grown, old, oldUnits);
                    insertNode(old, i);
                    c->setStats(ref(grown));
                }
            }
            sum = c->summFreq() + (3 * ns1 + 1 < ns);
        } else {
            State *list = static_cast<State *>(allocUnits(0));
            if (!list) {
                restore(c);
                return;
            }
            const State one = *c->oneState();
            *list = one;
            c->setStats(ref(list));
            const unsigned freq = one.freq < MaxFrequency / 4 - 1 ? one.freq * 2u : MaxFrequency - 4;
            list->freq = uint8_t(freq);
            sum = freq + initEsc + (ns > 2);
        }

        c->numStats = uint8_t(ns1 + 1);
        State *added = stats(c) + ns1 + 1;
        uint32_t cf = 2 * (sum + 6) * uint32_t(fFreq);
        const uint32_t sf = uint32_t(s0) + sum;
        added->symbol = fSymbol;
        added->setSuccessor(maxSuccessor);
        c->flags = uint8_t(c->flags | flag);
        if (cf < 6 * sf) {
            cf = 1 + (cf > sf) + (cf >= 4 * sf);
            sum += 4;
        } else {
            cf = 4 + (cf > 9 * sf) + (cf > 12 * sf) + (cf > 15 * sf);
            sum += cf;
        }
        c->setSummFreq(sum);
        added->freq = uint8_t(cf);
    }
    maxContext = minContext = context(minSuccessor);
}

// Halves the frequencies of the current context (the found symbol first), dropping the
// symbols left at zero.
void Model::rescale()
{
    Context *mc = minContext;
    State *list = stats(mc);
    State *s = foundState;
    if (s != list) {
        const State found = *s;
        for (; s != list; --s)
            s[0] = s[-1];
        *s = found;
    }
    unsigned sumFreq = s->freq;
    unsigned escFreq = mc->summFreq() - sumFreq;
    const unsigned adder = orderFall != 0;
    sumFreq = (sumFreq + 4 + adder) >> 1;
    s->freq = uint8_t(sumFreq);
    for (unsigned i = 1; i <= mc->numStats; ++i) {
        s = list + i;
        unsigned freq = s->freq;
        escFreq -= freq;
        freq = (freq + adder) >> 1;
        sumFreq += freq;
        s->freq = uint8_t(freq);
        if (freq > s[-1].freq) {
            const State moved = *s;
            State *to = s;
            do {
                to[0] = to[-1];
            } while (--to != list && freq > to[-1].freq);
            *to = moved;
        }
    }

    if (s->freq == 0) {
        unsigned zeros = 0;
        do {
            ++zeros;
        } while ((--s)->freq == 0);
        escFreq += zeros;
        const unsigned numStats = mc->numStats;
        const unsigned numStatsNew = numStats - zeros;
        mc->numStats = uint8_t(numStatsNew);
        const unsigned n0 = (numStats + 2) >> 1;
        if (numStatsNew == 0) {
            if (escFreq == 0)
                throw Fault();
            foundState = keepOnly(mc, *list, std::min((2 * unsigned(list->freq) + escFreq - 1) / escFreq, MaxFrequency / 3));
            insertNode(list, unitsToIndex(n0));
            return;
        }
        const unsigned n1 = (numStatsNew + 2) >> 1;
        if (n0 != n1)
            mc->setStats(ref(shrinkUnits(list, n0, n1)));
    }
    mc->setSummFreq(sumFreq + escFreq - (escFreq >> 1));
    mc->flags |= 0x04;
    foundState = stats(mc);
}

void Model::nextContext()
{
    const uint32_t successor = foundState->successor();
    if (orderFall == 0 && successor >= m_unitsStart)
        maxContext = minContext = context(successor);
    else
        updateModel();
}

uint16_t *Model::binaryProbability()
{
    Context *mc = minContext;
    const unsigned freq = mc->oneState()->freq;
    if (freq == 0)
        throw Fault();
    const unsigned row = m_ns2Index[freq - 1];
    const unsigned column = m_ns2BsIndex[suffix(mc)->numStats] + prevSuccess + mc->flags + ((runLength >> 26) & 0x20);
    if (row >= 25 || column >= 64)
        throw Fault();
    return &m_binSumm[row][column];
}

See *Model::escapeFrequency(unsigned numMasked, uint32_t *escFreq)
{
    const Context *mc = minContext;
    const unsigned numStats = mc->numStats;
    if (numStats == 0xff) {
        *escFreq = 1;
        return &m_dummySee;
    }
    const unsigned column = (mc->summFreq() > 11 * (numStats + 1)) + 2 * (2 * numStats < suffix(mc)->numStats + numMasked)
                          + mc->flags;
    if (column >= 32)
        throw Fault();
    See *see = &m_see[m_ns2Index[numStats + 2] - 3][column];
    const unsigned r = see->summ >> see->shift;
    see->summ = uint16_t(see->summ - r);
    *escFreq = r + (r == 0);
    return see;
}

void Model::updateFirst()
{
    State *s = foundState;
    Context *mc = minContext;
    unsigned freq = s->freq;
    const unsigned summ = mc->summFreq();
    prevSuccess = 2 * freq >= summ;
    runLength = int32_t(uint32_t(runLength) + prevSuccess);
    mc->setSummFreq(summ + 4);
    freq += 4;
    s->freq = uint8_t(freq);
    if (freq > MaxFrequency)
        rescale();
    nextContext();
}

void Model::updateOther()
{
    State *s = foundState;
    const unsigned freq = s->freq + 4u;
    minContext->setSummFreq(minContext->summFreq() + 4);
    s->freq = uint8_t(freq);
    if (freq > s[-1].freq) {
        std::swap(s[0], s[-1]);
        foundState = --s;
        if (freq > MaxFrequency)
            rescale();
    }
    nextContext();
}

void Model::updateBinary()
{
    State *s = foundState;
    s->freq = uint8_t(s->freq + (s->freq < 196));
    prevSuccess = 1;
    runLength = int32_t(uint32_t(runLength) + 1);
    nextContext();
}

void Model::updateAfterEscape()
{
    State *s = foundState;
    const unsigned freq = s->freq + 4u;
    runLength = m_initRunLength;
    minContext->setSummFreq(minContext->summFreq() + 4);
    s->freq = uint8_t(freq);
    if (freq > MaxFrequency)
        rescale();
    updateModel();
}

} // namespace pnvzip::ppmd
