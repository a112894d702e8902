#include "treereaders.h"
#include "stopworkers.h"

#include <libdeflate.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace pnvzip {

namespace {

constexpr size_t BatchBytes = size_t(1) << 20; // the most file data a batch of small files holds
constexpr size_t BatchItems = 512;
constexpr std::chrono::milliseconds StopPoll(40);

} // namespace

TreeReaders::TreeReaders(const TreeList &list, CallMonitor &monitor, unsigned workers)
    : m_list(list), m_monitor(monitor), m_workers(workers), m_slots(size_t(2) * workers)
{
}

bool TreeReaders::start()
{
    try {
        for (unsigned i = 0; i < m_workers; ++i)
            m_threads.emplace_back([this] { work(); });
    } catch (...) {
        if (m_threads.empty())
            return false;
    }
    return true;
}

TreeReaders::Wait TreeReaders::await(uint64_t seq, Slot **slot, int *error)
{
    Slot &s = m_slots[seq % m_slots.size()];
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, StopPoll, [&] {
        return (s.ready && s.seq == seq) || (m_allProduced && seq >= m_produced) || m_workerError;
    })) {
        lock.unlock();
        if (m_monitor.cancelled()) {
            *error = ECANCELED;
            return Wait::Failed;
        }
        lock.lock();
    }
    if (m_workerError) {
        *error = m_workerError;
        return Wait::Failed;
    }
    if (!(s.ready && s.seq == seq))
        return Wait::Done; // every unit is written
    *slot = &s;
    return Wait::Ready;
}

void TreeReaders::release(Slot &slot)
{
    {
        std::lock_guard lock(m_mutex);
        slot.ready = false;
        ++m_consumed;
    }
    m_wake.notify_all();
}

bool TreeReaders::nextUnit(Unit *unit)
{
    const std::vector<TreeItem> &items = m_list.items;
    if (m_cursor >= items.size())
        return false;
    const TreeItem &item = items[m_cursor];
    if (item.kind == TreeItem::File && item.size > PieceSize) {
        const uint64_t pieces = (item.size + PieceSize - 1) / PieceSize;
        *unit = Unit{m_cursor, m_cursor + 1, true, m_cursorPiece};
        if (++m_cursorPiece == pieces) {
            m_cursorPiece = 0;
            ++m_cursor;
        }
        return true;
    }
    unit->first = m_cursor;
    unit->piece = false;
    size_t bytes = 0;
    while (m_cursor < items.size() && m_cursor - unit->first < BatchItems) {
        const TreeItem &next = items[m_cursor];
        if (next.kind == TreeItem::File) {
            if (next.size > PieceSize || (bytes > 0 && bytes + next.size > BatchBytes))
                break;
            bytes += next.size;
        }
        ++m_cursor;
    }
    unit->last = m_cursor;
    return true;
}

void TreeReaders::work()
{
    PieceCompressor compressor;
    Bytes in;
    try {
        in.reserveMore(PieceSize + 1);
    } catch (const std::bad_alloc &) {
        std::lock_guard lock(m_mutex);
        m_workerError = ENOMEM;
        m_wake.notify_all();
        return;
    }
    for (;;) {
        Unit unit;
        uint64_t seq = 0;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stopping || m_produced < m_consumed + m_slots.size(); });
            if (m_stopping || !nextUnit(&unit)) {
                m_allProduced = m_allProduced || !m_stopping;
                m_wake.notify_all();
                return;
            }
            seq = m_produced++;
        }
        Slot &slot = m_slots[seq % m_slots.size()];
        slot.unit = unit;
        slot.seq = seq;
        slot.bytes.size = 0;
        slot.files.clear();
        try {
            if (unit.piece)
                readPiece(unit, slot, in, compressor);
            else
                readBatch(unit, slot, in, compressor);
        } catch (const std::bad_alloc &) {
            std::lock_guard lock(m_mutex);
            m_workerError = ENOMEM;
        }
        {
            std::lock_guard lock(m_mutex);
            slot.ready = true;
        }
        m_wake.notify_all();
    }
}

int TreeReaders::openFile(const TreeItem &item, int *error, struct stat *st) const
{
    const std::string path = m_list.path(item);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        *error = S_ISREG(st->st_mode) ? errno : NotAFileAnyMore;
        ::close(fd);
        return -1;
    }
    return fd;
}

ssize_t TreeReaders::readAt(int fd, unsigned char *into, size_t want, uint64_t offset, int *error)
{
    size_t got = 0;
    while (got < want) {
        const ssize_t n = ::pread(fd, into + got, want - got, off_t(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *error = errno;
            return -1;
        }
        if (n == 0)
            break;
        got += size_t(n);
    }
    return ssize_t(got);
}

void TreeReaders::readBatch(const Unit &unit, Slot &slot, Bytes &in, PieceCompressor &compressor)
{
    for (size_t i = unit.first; i < unit.last; ++i) {
        const TreeItem &item = m_list.items[i];
        if (item.kind != TreeItem::File)
            continue;
        if (m_monitor.stopRequested())
            return;
        FileOut out;
        out.item = i;
        struct stat st{};
        const int fd = openFile(item, &out.error, &st);
        if (fd >= 0) {
            // One byte more than a piece tells a file that grew past what a batch takes.
            const ssize_t got = readAt(fd, in.data.get(), PieceSize + 1, 0, &out.error);
            ::close(fd);
            if (got > ssize_t(PieceSize))
                out.error = ChangedWhileRead;
            else if (got >= 0)
                encodeWhole(in.data.get(), size_t(got), slot.bytes, compressor, &out);
            out.mode = uint32_t(st.st_mode);
            out.mtime = int64_t(st.st_mtime);
        }
        slot.files.push_back(out);
    }
}

void TreeReaders::encodeWhole(const unsigned char *data, size_t size, Bytes &bytes, PieceCompressor &compressor,
                        FileOut *out)
{
    out->size = size;
    out->crc = uint32_t(libdeflate_crc32(0, data, size));
    bytes.reserveMore(pieceBound(size));
    out->at = bytes.size;
    bool stored = true;
    size_t length = size;
    if (size > 0 && compressor.valid())
        length = compressor.compress(data, size, true, bytes.data.get() + bytes.size, &stored);
    if (stored || length >= size) {
        if (size)
            std::memcpy(bytes.data.get() + bytes.size, data, size);
        out->method = 0;
        out->length = size;
    } else {
        out->method = 8;
        out->length = length;
    }
    bytes.size += out->length;
}

void TreeReaders::readPiece(const Unit &unit, Slot &slot, Bytes &in, PieceCompressor &compressor)
{
    const TreeItem &item = m_list.items[unit.first];
    const uint64_t pieces = (item.size + PieceSize - 1) / PieceSize;
    const uint64_t offset = unit.pieceIndex * PieceSize;
    const size_t want = size_t(std::min<uint64_t>(PieceSize, item.size - offset));
    const bool last = unit.pieceIndex + 1 == pieces;
    FileOut out;
    out.item = unit.first;
    struct stat st{};
    const int fd = m_monitor.stopRequested() ? -1 : openFile(item, &out.error, &st);
    if (fd >= 0) {
        // The last piece reads a byte more, which tells a file that grew.
        const ssize_t got = readAt(fd, in.data.get(), want + (last ? 1 : 0), offset, &out.error);
        ::close(fd);
        if (got >= 0 && size_t(got) != want)
            out.error = ChangedWhileRead;
        if (out.error == 0 && compressor.valid()) {
            slot.bytes.reserveMore(pieceBound(want));
            out.length = compressor.compress(in.data.get(), want, last, slot.bytes.data.get());
            slot.bytes.size = out.length;
            out.size = want;
            out.crc = uint32_t(libdeflate_crc32(0, in.data.get(), want));
            out.mode = uint32_t(st.st_mode);
            out.mtime = int64_t(st.st_mtime);
        } else if (out.error == 0) {
            out.error = ENOMEM;
        }
    }
    slot.files.push_back(out);
}

void TreeReaders::stop()
{
    stopWorkers(m_mutex, m_stopping, m_wake, m_threads);
}

} // namespace pnvzip
