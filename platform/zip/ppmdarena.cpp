// The arena of the PPMd model: its allocation and wiping, and the allocator of 12-byte
// units that the contexts and their symbol lists take (see ppmdmodel.h).

#include "ppmdmodel.h"

#include <openssl/crypto.h>

#include <algorithm>

namespace pnvzip::ppmd {

namespace {
constexpr uint32_t EmptyNode = 0xffffffff;
} // namespace

// A free block: the stamp marks it free (a context's or a state's first four bytes never
// are all ones), then the next block of its list and its size in units.
struct Model::Node
{
    uint8_t stampBytes[4];
    uint8_t nextBytes[4];
    uint8_t unitsBytes[4];

    static uint32_t get(const uint8_t *b)
    {
        uint32_t v;
        std::memcpy(&v, b, 4);
        return v;
    }
    static void put(uint8_t *b, uint32_t v) { std::memcpy(b, &v, 4); }
    uint32_t stamp() const { return get(stampBytes); }
    void setStamp(uint32_t v) { put(stampBytes, v); }
    uint32_t next() const { return get(nextBytes); }
    void setNext(uint32_t v) { put(nextBytes, v); }
    uint32_t units() const { return get(unitsBytes); }
    void setUnits(uint32_t v) { put(unitsBytes, v); }
};

bool Model::allocate(uint32_t size)
{
    if (m_base && m_size == size)
        return true;
    wipe();
    m_base.reset();
    m_size = 0;
    // Zeroed (free where the pages are fresh), so that it holds nothing of what the
    // memory held before: the model reads only what it wrote, and wipe() clears that.
    m_base.reset(static_cast<uint8_t *>(std::calloc(size, 1)));
    if (!m_base)
        return false;
    m_size = size;
    return true;
}

void Model::markWritten()
{
    if (!m_base || m_hiUnit == 0)
        return; // not started since the last wipe
    m_textMark = std::max(m_textMark, std::min(m_text + 1, m_size));
    m_unitsMark = std::min(m_unitsMark, m_unitsStart);
    m_loMark = std::max(m_loMark, m_loUnit);
    m_hiMark = std::min(m_hiMark, m_hiUnit);
}

void Model::wipe()
{
    if (!m_base)
        return;
    markWritten();
    if (m_unitsMark != UINT32_MAX) {
        OPENSSL_cleanse(m_base.get(), std::min(m_textMark, m_size));
        if (m_unitsMark < m_loMark && m_loMark <= m_size)
            OPENSSL_cleanse(at(m_unitsMark), m_loMark - m_unitsMark);
        if (m_hiMark < m_size)
            OPENSSL_cleanse(at(m_hiMark), m_size - m_hiMark);
    }
    m_textMark = m_loMark = 0;
    m_unitsMark = m_hiMark = UINT32_MAX;
    m_text = m_unitsStart = m_loUnit = m_hiUnit = 0;
}

unsigned Model::unitsToIndex(unsigned units) const
{
    if (units < 1 || units > 128)
        throw Fault();
    return m_unitsToIndex[units - 1];
}

Model::Node *Model::node(uint32_t ref) const
{
    static_assert(sizeof(Node) == UnitSize);
    if (ref == 0 || ref > m_size - UnitSize)
        throw Fault();
    return reinterpret_cast<Node *>(at(ref));
}

void Model::insertNode(void *block, unsigned index)
{
    Node *n = node(ref(block));
    n->setStamp(EmptyNode);
    n->setNext(m_freeList[index]);
    n->setUnits(m_indexToUnits[index]);
    m_freeList[index] = ref(block);
    ++m_stamps[index];
}

void *Model::removeNode(unsigned index)
{
    const uint32_t r = m_freeList[index];
    Node *n = node(r);
    if (m_size - r < uint32_t(m_indexToUnits[index]) * UnitSize)
        throw Fault();
    m_freeList[index] = n->next();
    --m_stamps[index];
    return n;
}

void Model::splitBlock(void *block, unsigned oldIndex, unsigned newIndex)
{
    const unsigned units = m_indexToUnits[oldIndex] - m_indexToUnits[newIndex];
    uint8_t *rest = static_cast<uint8_t *>(block) + m_indexToUnits[newIndex] * UnitSize;
    unsigned i = unitsToIndex(units);
    if (m_indexToUnits[i] != units) {
        const unsigned k = m_indexToUnits[--i];
        insertNode(rest + k * UnitSize, units - k - 1);
    }
    insertNode(rest, i);
}

// Joins neighbouring free blocks and sorts them into the lists again.
void Model::glueFreeBlocks()
{
    m_glueCount = 1 << 13;
    std::fill(std::begin(m_stamps), std::end(m_stamps), 0);
    // A block that is not free stops the joining: the order-0 context at the top of the
    // arena, and this stamp where the untouched room begins.
    if (m_loUnit != m_hiUnit)
        node(m_loUnit)->setStamp(0);

    uint64_t budget = uint64_t(m_size) / UnitSize + IndexCount;
    uint32_t head = 0;
    Node *last = nullptr; // whose next is set as blocks are chained; the head before any
    auto chain = [&](uint32_t r) { last ? last->setNext(r) : void(head = r); };
    for (unsigned i = 0; i < IndexCount; ++i) {
        uint32_t next = m_freeList[i];
        m_freeList[i] = 0;
        while (next != 0) {
            if (budget-- == 0)
                throw Fault();
            Node *n = node(next);
            uint32_t units = n->units();
            chain(next);
            next = n->next();
            if (units == 0)
                continue;
            last = n;
            for (;;) {
                const uint64_t following = uint64_t(ref(n)) + uint64_t(units) * UnitSize;
                if (following > m_size - UnitSize)
                    throw Fault();
                Node *n2 = reinterpret_cast<Node *>(at(uint32_t(following)));
                if (n2->stamp() != EmptyNode)
                    break;
                units += n2->units();
                n2->setUnits(0);
                n->setUnits(units);
            }
        }
    }
    chain(0);

    budget = uint64_t(m_size) / UnitSize + IndexCount;
    while (head != 0) {
        if (budget-- == 0)
            throw Fault();
        Node *n = node(head);
        head = n->next();
        uint32_t units = n->units();
        if (units == 0)
            continue;
        if (uint64_t(ref(n)) + uint64_t(units) * UnitSize > m_size)
            throw Fault();
        for (; units > 128; units -= 128, n += 128)
            insertNode(n, IndexCount - 1);
        unsigned i = unitsToIndex(units);
        if (m_indexToUnits[i] != units) {
            const unsigned k = m_indexToUnits[--i];
            insertNode(n + k, units - k - 1);
        }
        insertNode(n, i);
    }
}

void *Model::allocUnitsRare(unsigned index)
{
    if (m_glueCount == 0) {
        glueFreeBlocks();
        if (m_freeList[index] != 0)
            return removeNode(index);
    }
    unsigned i = index;
    do {
        if (++i == IndexCount) {
            // Out of free blocks: take room from the text's side.
            const uint32_t bytes = m_indexToUnits[index] * UnitSize;
            --m_glueCount;
            if (m_unitsStart - m_text <= bytes)
                return nullptr;
            m_unitsStart -= bytes;
            m_unitsMark = std::min(m_unitsMark, m_unitsStart);
            return at(m_unitsStart);
        }
    } while (m_freeList[i] == 0);
    void *block = removeNode(i);
    splitBlock(block, i, index);
    return block;
}

void *Model::allocUnits(unsigned index)
{
    if (m_freeList[index] != 0)
        return removeNode(index);
    const uint32_t bytes = m_indexToUnits[index] * UnitSize;
    if (m_hiUnit - m_loUnit >= bytes) {
        void *block = at(m_loUnit);
        m_loUnit += bytes;
        return block;
    }
    return allocUnitsRare(index);
}

void *Model::allocContext()
{
    if (m_hiUnit != m_loUnit) {
        m_hiUnit -= UnitSize;
        return at(m_hiUnit);
    }
    if (m_freeList[0] != 0)
        return removeNode(0);
    return allocUnitsRare(0);
}

void *Model::shrinkUnits(void *block, unsigned oldUnits, unsigned newUnits)
{
    const unsigned i0 = unitsToIndex(oldUnits), i1 = unitsToIndex(newUnits);
    if (i0 == i1)
        return block;
    if (m_size - ref(block) < oldUnits * UnitSize)
        throw Fault();
    if (m_freeList[i1] != 0) {
        void *moved = removeNode(i1);
        copyUnits(moved, block, newUnits);
        insertNode(block, i0);
        return moved;
    }
    splitBlock(block, i0, i1);
    return block;
}

void Model::specialFreeUnit(void *block)
{
    if (ref(block) != m_unitsStart)
        insertNode(block, 0);
    else
        m_unitsStart += UnitSize;
}

void Model::copyUnits(void *to, const void *from, unsigned units)
{
    const uint32_t bytes = units * UnitSize;
    if (bytes > m_size || ref(to) > m_size - bytes || ref(from) > m_size - bytes)
        throw Fault();
    std::memmove(to, from, bytes);
}

// Gives the free blocks at the bottom of the units back to the text.
void Model::expandTextArea()
{
    uint32_t count[IndexCount] = {};
    if (m_loUnit != m_hiUnit)
        node(m_loUnit)->setStamp(0);
    uint32_t r = m_unitsStart;
    for (;;) {
        if (r > m_size - UnitSize)
            throw Fault();
        Node *n = reinterpret_cast<Node *>(at(r));
        if (n->stamp() != EmptyNode)
            break;
        const uint32_t units = n->units();
        n->setStamp(0);
        ++count[unitsToIndex(units)];
        r += units * UnitSize;
    }
    m_unitsStart = r;

    for (unsigned i = 0; i < IndexCount; ++i) {
        uint32_t left = count[i];
        if (left == 0)
            continue;
        m_stamps[i] -= left;
        Node *last = nullptr;
        uint32_t next = m_freeList[i];
        for (uint64_t budget = uint64_t(m_size) / UnitSize;; --budget) {
            if (budget == 0)
                throw Fault();
            Node *n = node(next);
            next = n->next();
            if (n->stamp() != 0) {
                last = n;
                continue;
            }
            last ? last->setNext(next) : void(m_freeList[i] = next);
            if (--left == 0)
                break;
        }
    }
}

uint32_t Model::usedMemory() const
{
    uint32_t units = 0;
    for (unsigned i = 0; i < IndexCount; ++i)
        units += m_stamps[i] * m_indexToUnits[i];
    return m_size - (m_hiUnit - m_loUnit) - (m_unitsStart - m_text) - units * UnitSize;
}

} // namespace pnvzip::ppmd
