// ZipPaths: files and folders, whole trees, into one new archive.
//
// The tree is walked first (zipwalk.h), so the list of names and the total of bytes are
// known; then worker threads, one per core, read and deflate the files (treereaders.h)
// while this thread writes the archive in the walk's order. Small files go to the workers
// in batches (many to a batch, so a worker seldom waits for the writer), each deflated
// whole and stored when deflate does not make it smaller; a big file goes as pieces of
// PieceSize (deflatepieces.h), joined into one stream, and is written again stored when
// the pieces together did not shrink. At most two batches or pieces per worker are in
// memory at once, however many files the tree holds: what grows with the tree is the list
// of names and, for each entry written, where it is and what it holds (the archive's
// directory, written last).
//
// The archive is written by this unit itself rather than through libzip, which keeps every
// entry's source open until the archive is closed and then compresses one entry after the
// other on one thread. Sizes and CRC-32 are known before an entry's header is written
// (small files), or patched into it once its last piece is written (big files), so entries
// carry no data descriptors. ZIP64 records are added where sizes, offsets or the number of
// entries need them.
//
// A file that cannot be read, or changes while it is read, is left out and named in the
// result; so are sockets, pipes and devices. A stop or a failure to write removes the
// unfinished archive; an older archive of that name stays as it was until the new one is
// complete and takes its name.

#include "zipengine.h"

#include "callmonitor.h"
#include "deflatepieces.h"
#include "fsutil.h"
#include "treereaders.h"
#include "zipwalk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pnvzip {

namespace {

constexpr size_t OutBufferSize = size_t(1) << 20;
// Big files from this size on get ZIP64 sizes in their local header: their stored size is
// only known once written, and may pass 4 GiB a little where the file's size does not.
constexpr uint64_t Zip64LocalFrom = 0xF0000000ull;
constexpr uint32_t Max32 = 0xFFFFFFFFu;

QString readProblem(int err)
{
    if (err == NotAFileAnyMore)
        return QStringLiteral("it was replaced by something other than a file while it was zipped");
    if (err == ChangedWhileRead)
        return QStringLiteral("it changed while it was zipped");
    if (err == ELOOP)
        return QStringLiteral("it was replaced by a link while it was zipped");
    return errnoText(err);
}

ZipResult failure(ZipError number, const QString &text)
{
    return ZipResult{int(number), text};
}

QString shownPath(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// What the archive's directory needs of an entry written.
struct Written
{
    uint64_t offset = 0;
    uint64_t compressed = 0;
    uint64_t size = 0;
    uint32_t crc = 0;
    uint16_t method = 0;
    bool done = false;
    bool zip64Local = false;
};

void put16(unsigned char *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(unsigned char *p, uint32_t v)
{
    put16(p, uint16_t(v));
    put16(p + 2, uint16_t(v >> 16));
}
void put64(unsigned char *p, uint64_t v)
{
    put32(p, uint32_t(v));
    put32(p + 4, uint32_t(v >> 32));
}

void dosTime(int64_t mtime, uint16_t *time, uint16_t *date)
{
    const time_t t = time_t(mtime);
    struct tm local{};
    if (!::localtime_r(&t, &local) || local.tm_year < 80) {
        *time = 0;
        *date = (1 << 5) | 1; // 1980-01-01
        return;
    }
    if (local.tm_year > 207) {
        local.tm_year = 207;
        local.tm_mon = 11;
        local.tm_mday = 31;
        local.tm_hour = 23;
        local.tm_min = 59;
        local.tm_sec = 58;
    }
    *time = uint16_t((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    *date = uint16_t(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
}

// Names of bytes 0x80 and above that read as UTF-8 are flagged as UTF-8 (bit 11).
bool flagUtf8(std::string_view name)
{
    if (std::all_of(name.begin(), name.end(), [](char c) { return uchar(c) < 0x80; }))
        return false;
    const QString decoded = QString::fromUtf8(name.data(), qsizetype(name.size()));
    return !decoded.contains(QChar::ReplacementCharacter);
}

bool hasTime(int64_t mtime)
{
    return mtime >= 0 && mtime <= INT32_MAX;
}

class TreeWriter
{
public:
    TreeWriter(TreeList &list, int fd, CallMonitor &monitor, unsigned workers)
        : m_list(list), m_fd(fd), m_monitor(monitor), m_readers(list, monitor, workers),
          m_written(list.items.size()), m_out(new unsigned char[OutBufferSize])
    {
    }

    // Writes the whole archive; false with `error` set (an errno value, or ECANCELED).
    bool write(int *error)
    {
        if (!m_readers.start()) {
            *error = ENOMEM;
            return false;
        }
        const bool ok = writeEntries() && writeDirectory() && flush();
        m_readers.stop();
        *error = ok ? 0 : m_error;
        return ok;
    }

    size_t files() const { return m_files; }
    size_t folders() const { return m_folders; }
    size_t links() const { return m_links; }
    uint64_t fileBytes() const { return m_fileBytes; }

private:
    // ---- the writer (the calling thread)

    bool writeEntries()
    {
        for (uint64_t seq = 0;; ++seq) {
            if (m_monitor.cancelled())
                return fail(ECANCELED);
            Slot *slot = nullptr;
            int error = 0;
            switch (m_readers.await(seq, &slot, &error)) {
            case TreeReaders::Wait::Done:
                return true;
            case TreeReaders::Wait::Failed:
                return fail(error);
            case TreeReaders::Wait::Ready:
                break;
            }
            if (m_monitor.stopRequested())
                return fail(ECANCELED);
            const bool ok = slot->unit.piece ? writePiece(*slot) : writeBatch(*slot);
            m_readers.release(*slot);
            if (!ok)
                return false;
        }
    }

    bool writeBatch(const Slot &slot)
    {
        auto file = slot.files.begin();
        for (size_t i = slot.unit.first; i < slot.unit.last; ++i) {
            const TreeItem &item = m_list.items[i];
            const std::string_view name = m_list.name(item);
            if (item.kind == TreeItem::Folder) {
                if (!writeLocal(i, item.mode, item.mtime, 0, 0, 0, 0, nullptr, 0))
                    return false;
                ++m_folders;
                continue;
            }
            if (item.kind == TreeItem::Link) {
                const std::string_view target = m_list.target(item);
                const auto *data = reinterpret_cast<const unsigned char *>(target.data());
                const auto crc = uint32_t(libdeflate_crc32(0, data, target.size()));
                if (!writeLocal(i, item.mode, item.mtime, 0, crc, target.size(), target.size(), data, target.size()))
                    return false;
                ++m_links;
                continue;
            }
            const FileOut &out = *file++;
            const uint64_t doneBefore = m_done;
            m_done += item.size;
            if (out.error) {
                m_list.leaveOut(std::string(name), readProblem(out.error));
                continue;
            }
            m_monitor.startEntryAt(QString::fromUtf8(name.data(), qsizetype(name.size())), qint64(doneBefore));
            if (!writeLocal(i, out.mode, out.mtime, out.method, out.crc, out.length, out.size,
                            slot.bytes.data.get() + out.at, out.length))
                return false;
            ++m_files;
            m_fileBytes += out.size;
        }
        return true;
    }

    bool writePiece(const Slot &slot)
    {
        const size_t index = slot.unit.first;
        const TreeItem &item = m_list.items[index];
        const std::string_view name = m_list.name(item);
        const FileOut &out = slot.files.front();
        const uint64_t pieces = (item.size + PieceSize - 1) / PieceSize;
        Written &w = m_written[index];
        if (slot.unit.pieceIndex == 0) {
            m_bigFailed = false;
            m_monitor.startEntryAt(QString::fromUtf8(name.data(), qsizetype(name.size())), qint64(m_done));
            m_done += item.size;
            m_bigHeaderAt = m_offset;
            w.zip64Local = item.size >= Zip64LocalFrom;
            if (!writeLocal(index, out.error ? item.mode : out.mode, out.error ? item.mtime : out.mtime, 8, 0, 0, 0,
                            nullptr, 0))
                return false;
            m_bigDataAt = m_offset;
            w.done = false; // until its last piece is in
            w.size = w.compressed = 0;
            w.crc = 0;
        }
        if (m_bigFailed)
            return true;
        if (out.error) {
            // Left out: the archive goes back to where the entry began.
            m_bigFailed = true;
            m_list.leaveOut(std::string(name), readProblem(out.error));
            return truncateTo(m_bigHeaderAt);
        }
        if (!put(slot.bytes.data.get(), out.length))
            return false;
        w.crc = uint32_t(crc32_combine64(w.crc, out.crc, z_off64_t(out.size)));
        w.size += out.size;
        w.compressed += out.length;
        m_monitor.advance(qint64(out.size));
        if (slot.unit.pieceIndex + 1 < pieces)
            return true;
        if (w.compressed >= w.size && !storeAgain(item, &w))
            return false;
        if (m_bigFailed)
            return true;
        // The sizes and CRC-32 go into the header written before the data.
        if (!flush())
            return false;
        unsigned char fields[12];
        put32(fields, w.crc);
        put32(fields + 4, w.zip64Local ? Max32 : uint32_t(w.compressed));
        put32(fields + 8, w.zip64Local ? Max32 : uint32_t(w.size));
        if (!pwriteAll(fields, sizeof fields, w.offset + 14))
            return false;
        if (w.zip64Local) {
            unsigned char sizes[16];
            put64(sizes, w.size);
            put64(sizes + 8, w.compressed);
            const uint64_t extraAt = w.offset + 30 + name.size() + 4;
            if (!pwriteAll(sizes, sizeof sizes, extraAt))
                return false;
        }
        m_written[index].done = true;
        ++m_files;
        m_fileBytes += w.size;
        return true;
    }

    // The pieces of a big file did not shrink it: its data is written again as it is.
    bool storeAgain(const TreeItem &item, Written *w)
    {
        if (!truncateTo(m_bigDataAt))
            return false;
        int error = 0;
        struct stat st{};
        const int fd = m_readers.openFile(item, &error, &st);
        uint64_t copied = 0;
        uint32_t crc = 0;
        if (fd >= 0) {
            for (;;) {
                if (m_monitor.cancelled()) {
                    ::close(fd);
                    return fail(ECANCELED);
                }
                // Written straight from the output buffer, which is empty after the truncation.
                const ssize_t got = TreeReaders::readAt(fd, m_out.get(), OutBufferSize, copied, &error);
                if (got <= 0)
                    break;
                if (copied + uint64_t(got) > w->size) {
                    error = ChangedWhileRead;
                    break;
                }
                crc = uint32_t(libdeflate_crc32(crc, m_out.get(), size_t(got)));
                if (int err = writeAll(m_fd, reinterpret_cast<const char *>(m_out.get()), size_t(got))) {
                    ::close(fd);
                    return fail(err);
                }
                copied += uint64_t(got);
                m_offset += uint64_t(got);
            }
            ::close(fd);
        }
        if (error == 0 && (copied != w->size || crc != w->crc))
            error = ChangedWhileRead;
        if (error) {
            m_bigFailed = true;
            m_list.leaveOut(std::string(m_list.name(item)), readProblem(error));
            return truncateTo(m_bigHeaderAt);
        }
        w->compressed = w->size;
        w->method = 0;
        const unsigned char method[2] = {0, 0};
        return pwriteAll(method, 2, w->offset + 8);
    }

    // The local header and the data of entry `index`.
    bool writeLocal(size_t index, uint32_t mode, int64_t mtime, uint16_t method, uint32_t crc, uint64_t compressed,
                    uint64_t size, const unsigned char *data, size_t length)
    {
        const TreeItem &item = m_list.items[index];
        const std::string_view name = m_list.name(item);
        Written &w = m_written[index];
        w.offset = m_offset;
        w.compressed = compressed;
        w.size = size;
        w.crc = crc;
        w.method = method;
        w.done = true;
        // The file's state when it was read, for the directory.
        m_list.items[index].mode = mode;
        m_list.items[index].mtime = mtime;
        unsigned char head[30 + 9 + 20];
        uint16_t time = 0, date = 0;
        dosTime(mtime, &time, &date);
        const bool zip64 = w.zip64Local;
        put32(head, 0x04034b50);
        put16(head + 4, zip64 ? 45 : 20);
        put16(head + 6, flagUtf8(name) ? 0x0800 : 0);
        put16(head + 8, method);
        put16(head + 10, time);
        put16(head + 12, date);
        put32(head + 14, crc);
        put32(head + 18, zip64 ? Max32 : uint32_t(compressed));
        put32(head + 22, zip64 ? Max32 : uint32_t(size));
        put16(head + 26, uint16_t(name.size()));
        size_t extra = 0;
        unsigned char *e = head + 30;
        if (zip64) {
            put16(e, 0x0001);
            put16(e + 2, 16);
            put64(e + 4, size);
            put64(e + 12, compressed);
            extra += 20;
        }
        if (hasTime(mtime)) {
            put16(e + extra, 0x5455);
            put16(e + extra + 2, 5);
            e[extra + 4] = 1;
            put32(e + extra + 5, uint32_t(mtime));
            extra += 9;
        }
        put16(head + 28, uint16_t(extra));
        return put(head, 30) && put(reinterpret_cast<const unsigned char *>(name.data()), name.size())
               && put(e, extra) && put(data, length);
    }

    bool writeDirectory()
    {
        const uint64_t start = m_offset;
        uint64_t entries = 0;
        for (size_t i = 0; i < m_list.items.size(); ++i) {
            const Written &w = m_written[i];
            if (!w.done)
                continue;
            const TreeItem &item = m_list.items[i];
            const TreeItem &mt = item;
            const std::string_view name = m_list.name(item);
            const bool bigSize = w.zip64Local || w.size >= Max32 || w.compressed >= Max32;
            const bool bigOffset = w.offset >= Max32;
            unsigned char head[46];
            unsigned char extra[28 + 9];
            size_t extraLength = 0;
            if (bigSize || bigOffset) {
                const uint16_t fields = uint16_t((bigSize ? 16 : 0) + (bigOffset ? 8 : 0));
                put16(extra, 0x0001);
                put16(extra + 2, fields);
                extraLength = 4;
                if (bigSize) {
                    put64(extra + extraLength, w.size);
                    put64(extra + extraLength + 8, w.compressed);
                    extraLength += 16;
                }
                if (bigOffset) {
                    put64(extra + extraLength, w.offset);
                    extraLength += 8;
                }
            }
            if (hasTime(mt.mtime)) {
                put16(extra + extraLength, 0x5455);
                put16(extra + extraLength + 2, 5);
                extra[extraLength + 4] = 1;
                put32(extra + extraLength + 5, uint32_t(mt.mtime));
                extraLength += 9;
            }
            uint16_t time = 0, date = 0;
            dosTime(mt.mtime, &time, &date);
            const bool zip64 = bigSize || bigOffset;
            put32(head, 0x02014b50);
            put16(head + 4, (3 << 8) | 63); // made on Unix, to version 6.3 of the format
            put16(head + 6, zip64 || w.zip64Local ? 45 : 20);
            put16(head + 8, flagUtf8(name) ? 0x0800 : 0);
            put16(head + 10, w.method);
            put16(head + 12, time);
            put16(head + 14, date);
            put32(head + 16, w.crc);
            put32(head + 20, bigSize ? Max32 : uint32_t(w.compressed));
            put32(head + 24, bigSize ? Max32 : uint32_t(w.size));
            put16(head + 28, uint16_t(name.size()));
            put16(head + 30, uint16_t(extraLength));
            put16(head + 32, 0); // comment
            put16(head + 34, 0); // disk
            put16(head + 36, 0); // internal attributes
            put32(head + 38, (uint32_t(mt.mode & 0xffff) << 16) | (item.kind == TreeItem::Folder ? 0x10 : 0));
            put32(head + 42, bigOffset ? Max32 : uint32_t(w.offset));
            if (!put(head, sizeof head) || !put(reinterpret_cast<const unsigned char *>(name.data()), name.size())
                || !put(extra, extraLength))
                return false;
            ++entries;
        }
        const uint64_t end = m_offset;
        const uint64_t size = end - start;
        const bool zip64 = entries >= 0xFFFF || start >= Max32 || size >= Max32;
        if (zip64) {
            unsigned char record[56 + 20];
            put32(record, 0x06064b50);
            put64(record + 4, 44);
            put16(record + 12, (3 << 8) | 63);
            put16(record + 14, 45);
            put32(record + 16, 0);
            put32(record + 20, 0);
            put64(record + 24, entries);
            put64(record + 32, entries);
            put64(record + 40, size);
            put64(record + 48, start);
            put32(record + 56, 0x07064b50); // the locator
            put32(record + 60, 0);
            put64(record + 64, end);
            put32(record + 72, 1);
            if (!put(record, sizeof record))
                return false;
        }
        unsigned char tail[22];
        put32(tail, 0x06054b50);
        put16(tail + 4, 0);
        put16(tail + 6, 0);
        put16(tail + 8, zip64 ? 0xFFFF : uint16_t(entries));
        put16(tail + 10, zip64 ? 0xFFFF : uint16_t(entries));
        put32(tail + 12, zip64 ? Max32 : uint32_t(size));
        put32(tail + 16, zip64 ? Max32 : uint32_t(start));
        put16(tail + 20, 0);
        return put(tail, sizeof tail);
    }

    // ---- output

    bool put(const unsigned char *data, size_t length)
    {
        if (length == 0)
            return true;
        if (m_pending + length > OutBufferSize) {
            if (!flush())
                return false;
            if (length > OutBufferSize / 2) {
                if (int err = writeAll(m_fd, reinterpret_cast<const char *>(data), length))
                    return fail(err);
                m_offset += length;
                return true;
            }
        }
        std::memcpy(m_out.get() + m_pending, data, length);
        m_pending += length;
        m_offset += length;
        return true;
    }

    bool flush()
    {
        if (m_pending == 0)
            return true;
        const size_t pending = m_pending;
        m_pending = 0;
        if (int err = writeAll(m_fd, reinterpret_cast<const char *>(m_out.get()), pending))
            return fail(err);
        return true;
    }

    bool truncateTo(uint64_t offset)
    {
        if (!flush())
            return false;
        if (::ftruncate(m_fd, off_t(offset)) != 0 || ::lseek(m_fd, off_t(offset), SEEK_SET) < 0)
            return fail(errno);
        m_offset = offset;
        return true;
    }

    bool pwriteAll(const unsigned char *data, size_t length, uint64_t offset)
    {
        size_t done = 0;
        while (done < length) {
            const ssize_t n = ::pwrite(m_fd, data + done, length - done, off_t(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return fail(errno);
            done += size_t(n);
        }
        return true;
    }

    bool fail(int err)
    {
        m_error = err;
        return false;
    }

    TreeList &m_list;
    const int m_fd;
    CallMonitor &m_monitor;
    TreeReaders m_readers;
    std::vector<Written> m_written;
    std::unique_ptr<unsigned char[]> m_out;
    size_t m_pending = 0;
    uint64_t m_offset = 0;
    uint64_t m_bigHeaderAt = 0;
    uint64_t m_bigDataAt = 0;
    bool m_bigFailed = false;
    int m_error = 0;
    size_t m_files = 0;
    size_t m_folders = 0;
    size_t m_links = 0;
    uint64_t m_fileBytes = 0;
    uint64_t m_done = 0; // bytes of the files handled, as walked, for the progress
};

QString counted(size_t n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(groupedNumber(n), QString::fromLatin1(n == 1 ? one : many));
}

QString sizeText(unsigned long long bytes)
{
    if (bytes < 1000)
        return readableSize(bytes);
    return QStringLiteral("%1 (%2 bytes)").arg(readableSize(bytes), groupedNumber(bytes));
}

QString summary(const QString &archive, const TreeWriter &writer, const TreeList &list, unsigned long long packed)
{
    QStringList parts{counted(writer.files(), "file", "files"), counted(writer.folders(), "folder", "folders")};
    if (writer.links())
        parts << counted(writer.links(), "link", "links");
    QString text = QStringLiteral("Created %1\n").arg(archive);
    text += parts.size() == 2 ? parts.join(QStringLiteral(" and "))
                              : QStringLiteral("%1, %2 and %3").arg(parts[0], parts[1], parts[2]);
    const unsigned long long original = writer.fileBytes();
    text += QStringLiteral(" zipped: %1 of data").arg(sizeText(original));
    if (original > 0) {
        QString change;
        if (packed >= original) {
            change = QStringLiteral("no smaller");
        } else {
            const unsigned long long saved = (original - packed) * 100 / original;
            change = saved == 0 ? QStringLiteral("less than 1% smaller") : QStringLiteral("%1% smaller").arg(saved);
        }
        text += QStringLiteral(", an archive of %1, %2.").arg(sizeText(packed), change);
    } else {
        text += QStringLiteral(", an archive of %1.").arg(sizeText(packed));
    }
    if (list.leftOutCount) {
        text += QStringLiteral("\n\n%1 left out:").arg(list.leftOutCount == 1 ? QStringLiteral("1 item was")
                                                                              : QStringLiteral("%1 items were").arg(groupedNumber(list.leftOutCount)));
        constexpr size_t Shown = 20;
        for (size_t i = 0; i < list.leftOut.size() && i < Shown; ++i)
            text += QStringLiteral("\n  %1 (%2)").arg(QString::fromUtf8(list.leftOut[i].name.data(), qsizetype(list.leftOut[i].name.size())),
                                                      list.leftOut[i].reason);
        if (list.leftOutCount > Shown)
            text += QStringLiteral("\n  and %1 more").arg(groupedNumber(list.leftOutCount - Shown));
    }
    return text;
}

} // namespace

ZipResult zipPaths(const QStringList &paths, const QString &archive, ZipQuery *query, unsigned workers)
{
    if (paths.isEmpty() || std::any_of(paths.begin(), paths.end(), [](const QString &p) { return p.isEmpty(); }))
        return failure(EmptyPath, QStringLiteral("No file or folder to compress was given (a source path is empty)."));
    if (archive.isEmpty())
        return failure(EmptyPath, QStringLiteral("No archive name was given (the archive path is empty)."));
    if (workers == 0)
        workers = std::max(1u, std::thread::hardware_concurrency());

    const QString archiveShown = shownPath(archive);
    const QString folder = QFileInfo(archive).absolutePath();
    UniqueFd dirFd;
    QByteArray leaf;
    if (ZipResult refused = openArchiveFolder(archive, archiveShown, &dirFd, &leaf); !refused.ok())
        return refused;
    struct stat existing{};
    const bool exists = ::fstatat(dirFd.get(), leaf.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        return failure(CannotWrite, QStringLiteral("Cannot write “%1”: a folder of that name exists.").arg(archiveShown));

    std::string tempName;
    UniqueFd tempFd;
    if (ZipResult refused = createArchiveTemp(dirFd.get(), leaf, archiveShown, &tempName, &tempFd); !refused.ok())
        return refused;
    auto removeTemp = [&] { ::unlinkat(dirFd.get(), tempName.c_str(), 0); };

    // Neither the archive being written nor the one it replaces goes into it.
    std::vector<FileId> skip;
    struct stat tempInfo{};
    if (::fstat(tempFd.get(), &tempInfo) == 0)
        skip.push_back({tempInfo.st_dev, tempInfo.st_ino});
    if (exists && S_ISREG(existing.st_mode))
        skip.push_back({existing.st_dev, existing.st_ino});

    TreeList list;
    QString problem;
    if (!walkTree(paths, skip, &list, &problem)) {
        removeTemp();
        return failure(SourceUnreadable, problem);
    }
    const QString what = paths.size() == 1 ? QStringLiteral("“%1”").arg(shownPath(paths.first()))
                                            : QStringLiteral("%1 items").arg(paths.size());
    CallMonitor monitor(query, qint64(list.fileBytes));
    TreeWriter writer(list, tempFd.get(), monitor, workers);
    int writeError = 0;
    if (!writer.write(&writeError)) {
        removeTemp();
        if (writeError == ECANCELED)
            return failure(Cancelled, QStringLiteral("Compressing %1 was cancelled; nothing was written.").arg(what));
        if (writeError == ENOSPC || writeError == EDQUOT)
            return failure(WriteFailed, QStringLiteral("The disk is full: “%1” could not be written (%2). "
                                                       "Nothing was changed.")
                                            .arg(archiveShown, errnoText(writeError)));
        if (writeError == ENOMEM)
            return failure(InternalError, QStringLiteral("Out of memory while compressing %1.").arg(what));
        return failure(WriteFailed, QStringLiteral("Writing “%1” failed: %2. Nothing was changed.")
                                        .arg(archiveShown, errnoText(writeError)));
    }
    struct stat written{};
    if (::fstat(tempFd.get(), &written) != 0 || ::fchmod(tempFd.get(), 0666 & ~processUmask()) != 0) {
        const int e = errno;
        removeTemp();
        return failure(WriteFailed, QStringLiteral("Writing “%1” failed: %2. Nothing was changed.").arg(archiveShown, errnoText(e)));
    }
    tempFd.reset();
    if (monitor.cancelled()) {
        removeTemp();
        return failure(Cancelled, QStringLiteral("Compressing %1 was cancelled; nothing was written.").arg(what));
    }
    if (::renameat(dirFd.get(), tempName.c_str(), dirFd.get(), leaf.constData()) != 0) {
        const int e = errno;
        removeTemp();
        return failure(CannotWrite, QStringLiteral("Cannot write “%1”: %2.").arg(archiveShown, errnoText(e)));
    }
    monitor.finish();
    return ZipResult{0, summary(archiveShown, writer, list, (unsigned long long)written.st_size)};
}

} // namespace pnvzip
