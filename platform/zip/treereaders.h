#pragma once
// The workers of a tree zip: threads that read the walked tree's files and deflate them,
// a unit at a time (a batch of small files, or one piece of a big file), into a ring of
// slots that the writer empties in the walk's order.
//
// Guarantees: units are taken in the walk's order and handed to the writer in that order,
// whichever worker made each; at most two units per worker are in memory at once, however
// many files the tree holds; a file that cannot be opened, is no longer a file or changes
// while it is read is marked with why and never read in part; a stop is heard before each
// file and each piece, and by the writer every StopPoll while it waits for a unit.

#include "callmonitor.h"
#include "deflatepieces.h"
#include "zipwalk.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace pnvzip {

// Why a file read by a worker is left out: an errno value, or one of these.
constexpr int NotAFileAnyMore = -1;
constexpr int ChangedWhileRead = -2;

// A growable block of bytes that is not cleared when it grows.
struct Bytes
{
    std::unique_ptr<unsigned char[]> data;
    size_t size = 0;
    size_t capacity = 0;

    void reserveMore(size_t more)
    {
        if (size + more <= capacity)
            return;
        const size_t wanted = std::max(size + more, capacity * 2);
        std::unique_ptr<unsigned char[]> grown(new unsigned char[wanted]);
        if (size)
            std::memcpy(grown.get(), data.get(), size);
        data = std::move(grown);
        capacity = wanted;
    }
};

// The work a worker takes: a batch of items (small files, folders and links, which need
// nothing from a worker), or one piece of a big file.
struct Unit
{
    size_t first = 0;
    size_t last = 0; // one past
    bool piece = false;
    uint64_t pieceIndex = 0;
};

struct FileOut
{
    size_t item = 0;
    size_t at = 0; // in the slot's bytes
    size_t length = 0;
    uint64_t size = 0;
    uint32_t crc = 0;
    uint16_t method = 0;
    uint32_t mode = 0;
    int64_t mtime = 0;
    int error = 0;
};

struct Slot
{
    Unit unit;
    uint64_t seq = 0;
    bool ready = false;
    Bytes bytes;
    std::vector<FileOut> files; // a batch's files; a piece's single result
};

class TreeReaders
{
public:
    TreeReaders(const TreeList &list, CallMonitor &monitor, unsigned workers);
    ~TreeReaders() { stop(); }
    TreeReaders(const TreeReaders &) = delete;
    TreeReaders &operator=(const TreeReaders &) = delete;

    // Starts the workers; false when not one could be started.
    bool start();
    enum class Wait { Ready, Done, Failed };
    // Waits for unit `seq` (from 0, in order): Ready with its slot, Done when every unit was
    // handed out already, or Failed with `*error` (a worker's, or ECANCELED on a cancel).
    Wait await(uint64_t seq, Slot **slot, int *error);
    // The writer is done with the slot: a worker may fill it again.
    void release(Slot &slot);
    // Ends the workers (they finish the unit they are at).
    void stop();

    // Opens the item's file for reading; on failure returns -1 with `error` set.
    int openFile(const TreeItem &item, int *error, struct stat *st) const;
    // Reads up to `want` bytes at `offset`; returns the count, or -1 with `error` set.
    static ssize_t readAt(int fd, unsigned char *into, size_t want, uint64_t offset, int *error);

private:
    // The next unit, or false when the tree is done. Under m_mutex.
    bool nextUnit(Unit *unit);
    void work();
    void readBatch(const Unit &unit, Slot &slot, Bytes &in, PieceCompressor &compressor);
    // A small file as one entry: deflated, or stored when deflate does not shrink it.
    static void encodeWhole(const unsigned char *data, size_t size, Bytes &bytes, PieceCompressor &compressor,
                            FileOut *out);
    void readPiece(const Unit &unit, Slot &slot, Bytes &in, PieceCompressor &compressor);

    const TreeList &m_list;
    CallMonitor &m_monitor;
    const unsigned m_workers;
    std::vector<Slot> m_slots;
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    size_t m_cursor = 0;        // the next item a worker takes
    uint64_t m_cursorPiece = 0; // and its next piece, for a big file
    uint64_t m_produced = 0;    // units taken by workers
    uint64_t m_consumed = 0;    // units written
    bool m_allProduced = false;
    bool m_stopping = false;
    int m_workerError = 0;
};

} // namespace pnvzip
