#include "entryencoder.h"

#include "callmonitor.h"
#include "deflatepieces.h"
#include "stopworkers.h"

#include <QtGlobal>

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace pnvzip {

namespace {

constexpr int DeflateLevel = 6;
// How often a reader waiting for compressed pieces asks whether to stop.
constexpr std::chrono::milliseconds StopPoll(40);

// The source file as libzip reads it when it stores or deflates the data itself: read
// from the start to its end, whatever its size was when it was opened, telling the monitor
// of every read and stopping when it says so.
class FileReader
{
public:
    FileReader(int fd, unsigned long long size, CallMonitor *monitor)
        : m_fd(fd), m_size(size), m_monitor(monitor)
    {
    }
    ~FileReader() { ::close(m_fd); }

    static zip_int64_t callback(void *userdata, void *data, zip_uint64_t len, zip_source_cmd_t cmd)
    {
        return static_cast<FileReader *>(userdata)->handle(data, len, cmd);
    }

private:
    zip_int64_t handle(void *data, zip_uint64_t len, zip_source_cmd_t cmd)
    {
        switch (cmd) {
        case ZIP_SOURCE_OPEN:
            m_offset = 0;
            m_finished = false;
            return 0;
        case ZIP_SOURCE_READ:
            return read(static_cast<char *>(data), len);
        case ZIP_SOURCE_CLOSE:
            return 0;
        case ZIP_SOURCE_STAT: {
            auto *st = static_cast<zip_stat_t *>(data);
            zip_stat_init(st);
            st->valid |= ZIP_STAT_SIZE;
            st->size = m_finished ? m_offset : m_size;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&m_error, data, len);
        case ZIP_SOURCE_FREE:
            delete this;
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                                  ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
            zip_error_set(&m_error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }

    zip_int64_t read(char *data, zip_uint64_t len)
    {
        if (m_monitor && m_monitor->cancelled()) {
            zip_error_set(&m_error, ZIP_ER_CANCELLED, 0);
            return -1;
        }
        const size_t want = size_t(std::min<zip_uint64_t>(len, zip_uint64_t(1) << 30));
        for (;;) {
            const ssize_t n = ::pread(m_fd, data, want, off_t(m_offset));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                zip_error_set(&m_error, ZIP_ER_READ, errno);
                return -1;
            }
            if (n == 0)
                m_finished = true;
            m_offset += (unsigned long long)n;
            if (m_monitor)
                m_monitor->advance(qint64(n));
            return n;
        }
    }

    const int m_fd;
    const unsigned long long m_size;
    CallMonitor *const m_monitor;
    unsigned long long m_offset = 0;
    bool m_finished = false;
    zip_error_t m_error{};
};

class LibzipEncoder final : public EntryEncoder
{
public:
    zip_int64_t addEntry(zip_t *archive, const char *name, int fd, const struct stat &info,
                         EntryMethod method) override
    {
        // libzip frees the source when it is done with it; give it its own descriptor.
        const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) {
            zip_error_set(zip_get_error(archive), ZIP_ER_OPEN, errno);
            return -1;
        }
        auto *reader = new (std::nothrow) FileReader(copy, (unsigned long long)info.st_size, m_monitor);
        if (!reader) {
            ::close(copy);
            zip_error_set(zip_get_error(archive), ZIP_ER_MEMORY, 0);
            return -1;
        }
        zip_source_t *source = zip_source_function(archive, &FileReader::callback, reader);
        if (!source) {
            delete reader;
            return -1;
        }
        const zip_int64_t index = zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            return -1;
        }
        const zip_int32_t libzipMethod = method == EntryMethod::Store ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
        if (zip_set_file_compression(archive, zip_uint64_t(index), libzipMethod,
                                     method == EntryMethod::Store ? 0 : DeflateLevel) < 0)
            return -1;
        return index;
    }
};


// The entry's data, deflated by worker threads piece by piece and handed to libzip in
// order through a zip_source_function. The source reports the method as deflate, so
// libzip writes the bytes verbatim; the CRC-32 and the size become known at the end.
class PieceSource
{
public:
    PieceSource(int fd, unsigned long long size, unsigned workers, CallMonitor *monitor)
        : m_fd(fd), m_size(size), m_workers(workers), m_monitor(monitor),
          m_pieces(size == 0 ? 1 : (size + PieceSize - 1) / PieceSize),
          m_slots(std::min<unsigned long long>(2ull * workers, m_pieces))
    {
    }
    ~PieceSource() { stop(); ::close(m_fd); }

    static zip_int64_t callback(void *userdata, void *data, zip_uint64_t len, zip_source_cmd_t cmd)
    {
        return static_cast<PieceSource *>(userdata)->handle(data, len, cmd);
    }

private:
    struct Slot
    {
        std::vector<unsigned char> out;
        size_t length = 0;
        size_t sent = 0;
        unsigned long long piece = 0;
        size_t inputBytes = 0;
        quint32 crc = 0;
        bool ready = false;
    };

    zip_int64_t handle(void *data, zip_uint64_t len, zip_source_cmd_t cmd)
    {
        switch (cmd) {
        case ZIP_SOURCE_OPEN:
            return start() ? 0 : -1;
        case ZIP_SOURCE_READ:
            return read(static_cast<unsigned char *>(data), len);
        case ZIP_SOURCE_CLOSE:
            stop();
            return 0;
        case ZIP_SOURCE_STAT: {
            auto *st = static_cast<zip_stat_t *>(data);
            zip_stat_init(st);
            st->valid |= ZIP_STAT_COMP_METHOD | ZIP_STAT_SIZE;
            st->comp_method = ZIP_CM_DEFLATE;
            st->size = m_size;
            if (m_finished) {
                st->valid |= ZIP_STAT_CRC | ZIP_STAT_COMP_SIZE;
                // A file that grew meanwhile is reported one byte longer than what was
                // read, so that the writer's size check refuses the archive.
                st->size = m_readTotal + (m_grew ? 1 : 0);
                st->crc = m_crc;
                st->comp_size = m_written;
            }
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&m_error, data, len);
        case ZIP_SOURCE_FREE:
            delete this;
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                                  ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
            zip_error_set(&m_error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }

    bool start()
    {
        stop();
        m_pieces = m_size == 0 ? 1 : (m_size + PieceSize - 1) / PieceSize;
        m_next = 0;
        m_consumed = 0;
        m_failed = 0;
        m_stopping = false;
        m_finished = false;
        m_grew = false;
        m_crc = 0;
        m_readTotal = 0;
        m_written = 0;
        m_slots.assign(m_slots.size(), Slot{});
        try {
            for (unsigned i = 0; i < m_workers; ++i)
                m_threads.emplace_back([this] { work(); });
        } catch (...) {
            stop();
            zip_error_set(&m_error, ZIP_ER_MEMORY, 0);
            return false;
        }
        return true;
    }

    void stop()
    {
        stopWorkers(m_mutex, m_stopping, m_wake, m_threads);
    }

    void work()
    {
        PieceCompressor compressor;
        std::vector<unsigned char> in(PieceSize);
        for (;;) {
            unsigned long long piece = 0;
            bool last = false;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [&] {
                    return m_stopping || m_failed || m_next >= m_pieces || m_next < m_consumed + m_slots.size();
                });
                if (m_stopping || m_failed || m_next >= m_pieces)
                    return;
                piece = m_next++;
                last = piece + 1 == m_pieces;
            }
            Slot &slot = m_slots[piece % m_slots.size()];
            const unsigned long long offset = piece * PieceSize;
            const size_t want = size_t(std::min<unsigned long long>(PieceSize, m_size - offset));
            size_t got = 0;
            int err = compressor.valid() ? 0 : ENOMEM;
            while (err == 0 && got < want) {
                const ssize_t n = ::pread(m_fd, in.data() + got, want - got, off_t(offset + got));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    err = n < 0 ? errno : 0;
                    break; // a file that shrank: the size check of the writer reports it
                }
                got += size_t(n);
            }
            if (err == 0 && got < want)
                last = true;
            else if (err == 0 && last && grewPastEnd())
                m_grew = true;
            if (err == 0) {
                try {
                    slot.out.resize(pieceBound(got));
                } catch (...) {
                    err = ENOMEM;
                }
            }
            if (err == 0) {
                slot.length = compressor.compress(in.data(), got, last, slot.out.data());
                slot.crc = quint32(libdeflate_crc32(0, in.data(), got));
            }
            {
                std::lock_guard lock(m_mutex);
                if (err != 0) {
                    m_failed = err;
                } else {
                    slot.piece = piece;
                    slot.inputBytes = got;
                    slot.sent = 0;
                    slot.ready = true;
                    if (got < want) // the file shrank: it ends with this piece
                        m_pieces = std::min(m_pieces, piece + 1);
                }
            }
            m_wake.notify_all();
        }
    }

    // The caller asked to stop: the workers take no further piece and the read fails.
    zip_int64_t cancel()
    {
        {
            std::lock_guard lock(m_mutex);
            m_failed = ECANCELED;
        }
        m_wake.notify_all();
        zip_error_set(&m_error, ZIP_ER_CANCELLED, 0);
        return -1;
    }

    // True when the file holds more than its size said when it was opened.
    bool grewPastEnd()
    {
        unsigned char probe;
        return ::pread(m_fd, &probe, 1, off_t(m_size)) == 1;
    }

    zip_int64_t read(unsigned char *data, zip_uint64_t len)
    {
        if (m_monitor && m_monitor->cancelled())
            return cancel();
        zip_uint64_t copied = 0;
        while (copied < len) {
            std::unique_lock lock(m_mutex);
            if (m_consumed >= m_pieces) {
                m_finished = true;
                break;
            }
            Slot &slot = m_slots[m_consumed % m_slots.size()];
            // Waits in short steps, so that a stop is seen while the workers compress.
            while (!m_wake.wait_for(lock, StopPoll, [&] { return m_failed || (slot.ready && slot.piece == m_consumed); })) {
                lock.unlock();
                if (m_monitor && m_monitor->cancelled())
                    return cancel();
                lock.lock();
            }
            if (m_failed) {
                zip_error_set(&m_error, m_failed == ENOMEM ? ZIP_ER_MEMORY : ZIP_ER_READ, m_failed);
                return -1;
            }
            lock.unlock();
            const size_t n = size_t(std::min<zip_uint64_t>(len - copied, slot.length - slot.sent));
            std::memcpy(data + copied, slot.out.data() + slot.sent, n);
            slot.sent += n;
            copied += n;
            if (slot.sent == slot.length) {
                m_crc = quint32(crc32_combine64(m_crc, slot.crc, z_off64_t(slot.inputBytes)));
                m_readTotal += slot.inputBytes;
                m_written += slot.length;
                if (m_monitor)
                    m_monitor->advance(qint64(slot.inputBytes));
                lock.lock();
                slot.ready = false;
                ++m_consumed;
                lock.unlock();
                m_wake.notify_all();
            }
        }
        return zip_int64_t(copied);
    }

    const int m_fd;
    const unsigned long long m_size;
    const unsigned m_workers;
    CallMonitor *const m_monitor;
    unsigned long long m_pieces;
    std::vector<Slot> m_slots;
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    unsigned long long m_next = 0;     // the next piece a worker takes
    unsigned long long m_consumed = 0; // pieces handed to libzip in full
    int m_failed = 0;                  // errno of a failed read
    bool m_stopping = false;
    bool m_finished = false;
    std::atomic<bool> m_grew = false;
    quint32 m_crc = 0;
    unsigned long long m_readTotal = 0;
    unsigned long long m_written = 0;
    zip_error_t m_error{};
};

class ParallelEncoder final : public EntryEncoder
{
public:
    explicit ParallelEncoder(unsigned workers) : m_workers(workers) {}

    zip_int64_t addEntry(zip_t *archive, const char *name, int fd, const struct stat &info,
                         EntryMethod method) override
    {
        if (method == EntryMethod::Store)
        {
            LibzipEncoder plain;
            plain.setMonitor(m_monitor);
            return plain.addEntry(archive, name, fd, info, method);
        }
        const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) {
            zip_error_set(zip_get_error(archive), ZIP_ER_OPEN, errno);
            return -1;
        }
        auto *pieces = new (std::nothrow) PieceSource(copy, (unsigned long long)info.st_size, m_workers, m_monitor);
        if (!pieces) {
            ::close(copy);
            zip_error_set(zip_get_error(archive), ZIP_ER_MEMORY, 0);
            return -1;
        }
        zip_source_t *source = zip_source_function(archive, &PieceSource::callback, pieces);
        if (!source) {
            delete pieces;
            return -1;
        }
        const zip_int64_t index = zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8);
        if (index < 0)
            zip_source_free(source);
        return index;
    }

private:
    unsigned m_workers;
};

} // namespace

std::unique_ptr<EntryEncoder> makeLibzipEncoder()
{
    return std::make_unique<LibzipEncoder>();
}

std::unique_ptr<EntryEncoder> makeParallelEncoder(unsigned workers)
{
    if (workers == 0)
        workers = std::max(1u, std::thread::hardware_concurrency());
    return std::make_unique<ParallelEncoder>(workers);
}

ScanVerdict scanBeforeDeflate(int fd, unsigned long long size, CallMonitor *monitor)
{
    if (size < PieceSize)
        return ScanVerdict::Deflate; // small: just deflate it and compare
    // Every piece is scanned, on every core, in order; the first that deflate might
    // shrink ends the scan, so a file that compresses costs next to nothing here. A file
    // that does not is read whole (seconds for gigabytes), so the calling thread asks the
    // monitor whether to stop between its pieces, and a stop ends every thread's scan.
    const unsigned long long pieces = (size + PieceSize - 1) / PieceSize;
    std::atomic<unsigned long long> next = 0;
    std::atomic<unsigned long long> scanned = 0; // bytes of the pieces scanned whole
    unsigned long long shown = 0;                // of which the monitor was told
    std::atomic<bool> mayShrink = false;
    std::atomic<bool> stopped = false;
    auto scan = [&](bool caller) {
        ShrinkScanner scanner;
        std::vector<unsigned char> in;
        try {
            in.resize(PieceSize);
        } catch (...) {
            mayShrink = true; // the pieces will tell
            return;
        }
        auto polled = std::chrono::steady_clock::now();
        while (!mayShrink.load(std::memory_order_relaxed) && !stopped.load(std::memory_order_relaxed)) {
            if (caller && monitor && std::chrono::steady_clock::now() - polled >= StopPoll) {
                polled = std::chrono::steady_clock::now();
                const unsigned long long now = scanned.load(std::memory_order_relaxed);
                monitor->advance(qint64(now - shown));
                shown = now;
                if (monitor->cancelled()) {
                    stopped = true;
                    return;
                }
            }
            const unsigned long long piece = next++;
            if (piece >= pieces)
                return;
            // A short last piece is scanned as the file's last PieceSize bytes.
            const unsigned long long offset = std::min(piece * PieceSize, size - PieceSize);
            size_t got = 0;
            while (got < PieceSize) {
                const ssize_t n = ::pread(fd, in.data() + got, PieceSize - got, off_t(offset + got));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                got += size_t(n);
            }
            if (got < PieceSize || scanner.mayShrink(in.data(), PieceSize)) {
                mayShrink = true; // a read problem is left to the pieces to report
                return;
            }
            scanned += PieceSize;
        }
    };
    std::vector<std::thread> helpers;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    try {
        for (unsigned i = 1; i < cores && i < pieces; ++i)
            helpers.emplace_back(scan, false);
    } catch (...) {
        // fewer helpers, same answer
    }
    scan(true);
    for (std::thread &t : helpers)
        t.join();
    if (stopped || (monitor && monitor->cancelled()))
        return ScanVerdict::Stopped;
    return mayShrink ? ScanVerdict::Deflate : ScanVerdict::Store;
}

} // namespace pnvzip
