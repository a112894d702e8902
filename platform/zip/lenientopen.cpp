#include "lenientopen.h"

#include "fsutil.h"
#include "stepsort.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pnvzip {

namespace {

constexpr uint32_t EndSignature = 0x06054b50;
constexpr uint32_t Zip64EndSignature = 0x06064b50;
constexpr uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr uint32_t CentralSignature = 0x02014b50;
constexpr size_t EndSize = 22;
constexpr size_t Zip64LocatorSize = 20;
constexpr size_t Zip64EndSize = 56;
constexpr size_t CentralSize = 46;

uint16_t u16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t *p) { return uint32_t(u16(p)) | uint32_t(u16(p + 2)) << 16; }
uint64_t u64(const uint8_t *p) { return uint64_t(u32(p)) | uint64_t(u32(p + 4)) << 32; }

bool readAt(int fd, uint64_t offset, uint8_t *buffer, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::pread(fd, buffer, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buffer += n;
        offset += uint64_t(n);
        size -= size_t(n);
    }
    return true;
}

// The file's last bytes, as far back as an end record with the longest comment (and the
// zip64 locator before it) can start: every end record is searched for in there.
bool readTail(int fd, uint64_t fileSize, uint64_t *tailStart, std::vector<uint8_t> *tail)
{
    *tailStart = fileSize - std::min<uint64_t>(fileSize, 0xffff + EndSize + Zip64LocatorSize);
    tail->resize(size_t(fileSize - *tailStart));
    return readAt(fd, *tailStart, tail->data(), tail->size());
}

// Reads a file through a window that moves forward as records are walked.
class Window
{
public:
    Window(int fd, uint64_t fileSize, size_t chunk = 256 << 10) : m_fd(fd), m_fileSize(fileSize), m_chunk(chunk) {}
    const uint8_t *at(uint64_t offset, size_t size)
    {
        if (offset < m_start || offset + size > m_start + m_bytes.size()) {
            if (offset + size > m_fileSize)
                return nullptr;
            const size_t length = size_t(std::min<uint64_t>(std::max(size, m_chunk), m_fileSize - offset));
            m_bytes.resize(length);
            m_start = offset;
            if (!readAt(m_fd, offset, m_bytes.data(), length)) {
                m_bytes.clear();
                return nullptr;
            }
        }
        return m_bytes.data() + (offset - m_start);
    }

private:
    int m_fd;
    uint64_t m_fileSize;
    size_t m_chunk;
    uint64_t m_start = 0;
    std::vector<uint8_t> m_bytes;
};

void put16(std::vector<uint8_t> &out, size_t at, uint64_t v)
{
    out[at] = uint8_t(v & 0xff);
    out[at + 1] = uint8_t(v >> 8 & 0xff);
}
void put32(std::vector<uint8_t> &out, size_t at, uint64_t v)
{
    put16(out, at, v & 0xffff);
    put16(out, at + 2, v >> 16);
}
void put64(std::vector<uint8_t> &out, size_t at, uint64_t v)
{
    put32(out, at, v & 0xffffffff);
    put32(out, at + 4, v >> 32);
}

// Bytes of the file, then a central directory and end records rebuilt in memory, as a
// seekable libzip source. Either the tail replaces the file's own directory (it starts
// where that did), or it follows the whole file after a gap: then the entries' data reads
// as in the file itself, whatever part of the directory is shown, up to the file's end,
// and the file's own end record lies outside the stretch the library searches for one.
struct View
{
    std::shared_ptr<const UniqueFd> fd;
    uint64_t prefix = 0;    // bytes taken from the file
    uint64_t tailStart = 0; // where the tail starts: `prefix`, or past a gap after it
    std::vector<uint8_t> tail;
    uint64_t position = 0;
    zip_error_t error;
    // Small reads (local headers, small entries) are served from one larger read ahead.
    static constexpr size_t ReadAhead = 128 * 1024;
    std::vector<uint8_t> ahead;
    uint64_t aheadStart = 0;

    uint64_t size() const { return tailStart + tail.size(); }

    bool readFile(uint64_t at, uint8_t *buffer, size_t n)
    {
        if (n >= ReadAhead)
            return readAt(fd->get(), at, buffer, n);
        if (at < aheadStart || at + n > aheadStart + ahead.size()) {
            ahead.resize(size_t(std::min<uint64_t>(ReadAhead, prefix - at)));
            aheadStart = at;
            if (!readAt(fd->get(), at, ahead.data(), ahead.size())) {
                ahead.clear();
                return false;
            }
        }
        std::memcpy(buffer, ahead.data() + (at - aheadStart), n);
        return true;
    }

    zip_int64_t read(uint8_t *buffer, uint64_t length)
    {
        const uint64_t end = size();
        uint64_t n = std::min(length, end - std::min(position, end));
        uint64_t done = 0;
        if (position < prefix) {
            done = std::min(n, prefix - position);
            if (!readFile(position, buffer, size_t(done))) {
                zip_error_set(&error, ZIP_ER_READ, errno);
                return -1;
            }
            if (tailStart > prefix)
                n = done; // the end of the file ends a read, as in the file itself
        } else if (position < tailStart) {
            // The gap: only the search for the end record, which reads to the very end, sees
            // it (as zeros); anything else finds the end of the file there.
            if (position + n < end)
                return 0;
            done = tailStart - position;
            std::memset(buffer, 0, size_t(done));
        }
        if (done < n)
            std::memcpy(buffer + done, tail.data() + (position + done - tailStart), size_t(n - done));
        position += n;
        return zip_int64_t(n);
    }

    static zip_int64_t callback(void *userdata, void *data, zip_uint64_t length, zip_source_cmd_t command)
    {
        View *view = static_cast<View *>(userdata);
        switch (command) {
        case ZIP_SOURCE_OPEN:
            view->position = 0;
            return 0;
        case ZIP_SOURCE_READ:
            return view->read(static_cast<uint8_t *>(data), length);
        case ZIP_SOURCE_CLOSE:
            return 0;
        case ZIP_SOURCE_STAT: {
            zip_stat_t *st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &view->error);
            if (!st)
                return -1;
            zip_stat_init(st);
            st->size = view->size();
            st->valid |= ZIP_STAT_SIZE;
            return sizeof(*st);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&view->error, data, length);
        case ZIP_SOURCE_FREE:
            zip_error_fini(&view->error);
            delete view;
            return 0;
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t to = zip_source_seek_compute_offset(view->position, view->size(), data, length, &view->error);
            if (to < 0)
                return -1;
            view->position = zip_uint64_t(to);
            return 0;
        }
        case ZIP_SOURCE_TELL:
            return zip_int64_t(view->position);
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                                  ZIP_SOURCE_SUPPORTS, -1);
        default:
            zip_error_set(&view->error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }

    // The library's archive over this view, which it then owns; nullptr with `*error` set.
    static zip_t *open(std::unique_ptr<View> view, int *error)
    {
        zip_error_init(&view->error);
        zip_error_t sourceError;
        zip_error_init(&sourceError);
        View *raw = view.release();
        zip_source_t *source = zip_source_function_create(&View::callback, raw, &sourceError);
        if (!source) {
            *error = zip_error_code_zip(&sourceError);
            zip_error_fini(&raw->error);
            delete raw;
            zip_error_fini(&sourceError);
            return nullptr;
        }
        zip_t *za = zip_open_from_source(source, ZIP_RDONLY, &sourceError);
        if (!za) {
            *error = zip_error_code_zip(&sourceError);
            zip_source_free(source); // frees the view too
        }
        zip_error_fini(&sourceError);
        return za;
    }
};

// Appends one central record (at `header`, whole) with its extra block cut after the last
// whole field and without its comment.
void appendTrimmed(std::vector<uint8_t> &out, const uint8_t *header)
{
    const uint16_t nameLength = u16(header + 28);
    const uint16_t extraLength = u16(header + 30);
    const uint8_t *extra = header + CentralSize + nameLength;
    size_t good = 0;
    while (good + 4 <= extraLength && good + 4 + u16(extra + good + 2) <= extraLength)
        good += 4 + u16(extra + good + 2);
    const size_t start = out.size();
    out.insert(out.end(), header, extra + good);
    put16(out, start + 30, good);
    put16(out, start + 32, 0);
}

// Finds the end records and the central directory and rebuilds them into `view`: extra
// blocks cut after their last whole field, entry comments and the archive comment left
// out (nothing here reads them). False when no end record leads to a sane directory.
bool rebuild(View *view, uint64_t fileSize)
{
    const int fd = view->fd->get();
    if (fileSize < EndSize)
        return false;
    uint64_t tailStart = 0;
    std::vector<uint8_t> tail;
    if (!readTail(fd, fileSize, &tailStart, &tail))
        return false;
    // The last end record whose central directory makes sense.
    for (size_t i = tail.size() - EndSize + 1; i-- > 0;) {
        const uint8_t *end = tail.data() + i;
        if (u32(end) != EndSignature)
            continue;
        const uint64_t endOffset = tailStart + i;
        uint64_t count = u16(end + 10);
        uint64_t cdSize = u32(end + 12);
        uint64_t cdOffset = u32(end + 16);
        uint64_t cdLimit = endOffset;
        uint8_t zip64[Zip64EndSize];
        const bool hasZip64 = i >= Zip64LocatorSize && u32(end - Zip64LocatorSize) == Zip64LocatorSignature;
        if (hasZip64) {
            const uint64_t zip64End = u64(end - Zip64LocatorSize + 8);
            if (zip64End > endOffset || endOffset - zip64End < Zip64EndSize || !readAt(fd, zip64End, zip64, sizeof zip64)
                || u32(zip64) != Zip64EndSignature)
                continue;
            count = u64(zip64 + 32);
            cdSize = u64(zip64 + 40);
            cdOffset = u64(zip64 + 48);
            cdLimit = zip64End;
        }
        if (cdOffset > cdLimit || cdSize > cdLimit - cdOffset)
            continue;
        std::vector<uint8_t> out;
        out.reserve(size_t(std::min<uint64_t>(cdSize, 64 << 20)) + Zip64EndSize + Zip64LocatorSize + EndSize);
        Window window(fd, fileSize);
        uint64_t at = cdOffset;
        bool sane = true;
        for (uint64_t n = 0; n < count; ++n) {
            const uint8_t *header = window.at(at, CentralSize);
            if (!header || u32(header) != CentralSignature || at + CentralSize > cdOffset + cdSize) {
                sane = false;
                break;
            }
            const uint16_t nameLength = u16(header + 28);
            const uint16_t extraLength = u16(header + 30);
            const uint16_t commentLength = u16(header + 32);
            header = window.at(at, CentralSize + nameLength + extraLength);
            if (!header) {
                sane = false;
                break;
            }
            appendTrimmed(out, header);
            at += CentralSize + nameLength + extraLength + commentLength;
        }
        if (!sane || at != cdOffset + cdSize) // every byte of the directory accounted for
            continue;
        const uint64_t newCdSize = out.size();
        if (hasZip64) {
            const size_t z = out.size();
            out.insert(out.end(), zip64, zip64 + Zip64EndSize);
            put64(out, z + 4, Zip64EndSize - 12);
            put64(out, z + 40, newCdSize);
            const size_t l = out.size();
            out.insert(out.end(), end - Zip64LocatorSize, end);
            put64(out, l + 8, cdOffset + z);
        }
        const size_t e = out.size();
        out.insert(out.end(), end, end + EndSize);
        if (u32(end + 12) != 0xffffffff)
            put32(out, e + 12, newCdSize);
        put16(out, e + 20, 0);
        view->prefix = cdOffset;
        view->tailStart = cdOffset;
        view->tail = std::move(out);
        return true;
    }
    return false;
}


// The stretch of the file an entry's local header and data take, from its central record
// (whole): the local header's fixed part and name as the central record gives them, and
// the compressed data, with the sizes and offset of a ZIP64 field where the record says so.
ArchiveDirectory::DataRange dataRange(const uint8_t *header)
{
    uint64_t compressed = u32(header + 20);
    const uint64_t uncompressed = u32(header + 24);
    uint64_t offset = u32(header + 42);
    const uint16_t nameLength = u16(header + 28);
    const uint16_t extraLength = u16(header + 30);
    const uint8_t *extra = header + CentralSize + nameLength;
    for (size_t at = 0; at + 4 <= extraLength;) {
        const uint16_t id = u16(extra + at), size = u16(extra + at + 2);
        if (at + 4 + size > extraLength)
            break;
        if (id == 0x0001) {
            size_t pos = at + 4;
            const size_t fieldEnd = pos + size;
            auto take = [&](uint64_t *value) {
                if (pos + 8 <= fieldEnd) {
                    *value = u64(extra + pos);
                    pos += 8;
                }
            };
            uint64_t ignored = 0;
            if (uncompressed == 0xffffffff)
                take(&ignored);
            if (compressed == 0xffffffff)
                take(&compressed);
            if (offset == 0xffffffff)
                take(&offset);
            break;
        }
        at += 4 + size;
    }
    const uint64_t start = offset;
    uint64_t stop = start + 30 + nameLength;
    stop = compressed > UINT64_MAX - stop ? UINT64_MAX : stop + compressed;
    return {start, stop < start ? UINT64_MAX : stop};
}

} // namespace

zip_t *openArchiveLeniently(const char *path, int *error)
{
    *error = 0;
    if (zip_t *za = zip_open(path, ZIP_RDONLY, error))
        return za;
    if (*error != ZIP_ER_INCONS)
        return nullptr;
    auto view = std::make_unique<View>();
    auto fd = std::make_shared<UniqueFd>(::open(path, O_RDONLY | O_CLOEXEC));
    view->fd = fd;
    struct stat st{};
    if (!fd->valid() || ::fstat(fd->get(), &st) != 0)
        return nullptr;
    if (!rebuild(view.get(), uint64_t(st.st_size)))
        return nullptr;
    const int firstError = *error;
    zip_t *za = View::open(std::move(view), error);
    if (!za)
        *error = firstError;
    return za;
}

struct ArchiveDirectory::State
{
    std::shared_ptr<UniqueFd> fd;
    uint64_t fileSize = 0;
    uint64_t cdOffset = 0;
    uint64_t cdSize = 0;
    uint64_t count = 0;
    // No ZIP64 end records: the short end record keeps only the low 16 bits of the count,
    // which older writers let wrap past 65,535 entries, so the directory is walked to
    // its end and the count only has to agree in those bits.
    bool countMayWrap = false;
    uint64_t at = 0;     // the next record
    uint64_t walked = 0; // records before it
    std::optional<Window> walker;  // reads the directory in order
    std::optional<Window> builder; // reads the records of one part again
};

ArchiveDirectory::ArchiveDirectory() : d(std::make_unique<State>()) {}

ArchiveDirectory::~ArchiveDirectory() = default;

bool ArchiveDirectory::open(const char *path)
{
    d->fd = std::make_shared<UniqueFd>(::open(path, O_RDONLY | O_CLOEXEC));
    struct stat st{};
    if (!d->fd->valid() || ::fstat(d->fd->get(), &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) < EndSize)
        return false;
    const int fd = d->fd->get();
    const uint64_t fileSize = uint64_t(st.st_size);
    uint64_t tailStart = 0;
    std::vector<uint8_t> tail;
    if (!readTail(fd, fileSize, &tailStart, &tail))
        return false;
    // The last end record that describes a directory on one disk, starting with a record.
    for (size_t i = tail.size() - EndSize + 1; i-- > 0;) {
        const uint8_t *end = tail.data() + i;
        if (u32(end) != EndSignature || u16(end + 4) != 0 || u16(end + 6) != 0 || u16(end + 8) != u16(end + 10))
            continue;
        const uint64_t endOffset = tailStart + i;
        uint64_t count = u16(end + 10);
        uint64_t cdSize = u32(end + 12);
        uint64_t cdOffset = u32(end + 16);
        uint64_t cdLimit = endOffset;
        bool countMayWrap = true;
        if (i >= Zip64LocatorSize && u32(end - Zip64LocatorSize) == Zip64LocatorSignature) {
            countMayWrap = false;
            const uint8_t *locator = end - Zip64LocatorSize;
            const uint64_t zip64End = u64(locator + 8);
            uint8_t zip64[Zip64EndSize];
            if (u32(locator + 4) != 0 || u32(locator + 16) != 1 || zip64End > endOffset - Zip64LocatorSize
                || endOffset - Zip64LocatorSize - zip64End < Zip64EndSize || !readAt(fd, zip64End, zip64, sizeof zip64)
                || u32(zip64) != Zip64EndSignature || u32(zip64 + 16) != 0 || u32(zip64 + 20) != 0
                || u64(zip64 + 24) != u64(zip64 + 32))
                continue;
            // Where the short record holds a value, the long one agrees with it.
            const uint64_t count64 = u64(zip64 + 32), size64 = u64(zip64 + 40), offset64 = u64(zip64 + 48);
            if ((count != 0xffff && count != count64) || (cdSize != 0xffffffff && cdSize != size64)
                || (cdOffset != 0xffffffff && cdOffset != offset64))
                continue;
            count = count64;
            cdSize = size64;
            cdOffset = offset64;
            cdLimit = zip64End;
        }
        const bool wrapped = countMayWrap && cdSize / CentralSize > 0xffff; // room for more than the count says
        if (cdOffset > cdLimit || cdSize > cdLimit - cdOffset || ((count == 0) != (cdSize == 0) && !wrapped)
            || count > cdSize / CentralSize)
            continue;
        uint8_t first[4];
        if (cdSize > 0 && (!readAt(fd, cdOffset, first, sizeof first) || u32(first) != CentralSignature))
            continue;
        d->fileSize = fileSize;
        d->cdOffset = cdOffset;
        d->cdSize = cdSize;
        d->count = count;
        d->countMayWrap = wrapped;
        d->walker.emplace(fd, fileSize);
        d->builder.emplace(fd, fileSize, 64 << 10);
        rewind();
        return true;
    }
    return false;
}

uint64_t ArchiveDirectory::count() const
{
    return d->count;
}

void ArchiveDirectory::rewind()
{
    d->at = d->cdOffset;
    d->walked = 0;
}

bool ArchiveDirectory::atEnd() const
{
    return d->countMayWrap ? d->at == d->cdOffset + d->cdSize : d->walked == d->count;
}

bool ArchiveDirectory::next(std::vector<uint64_t> *records, size_t maxRecords, size_t maxBytes,
                            std::vector<DataRange> *ranges)
{
    records->clear();
    if (ranges)
        ranges->clear();
    const uint64_t end = d->cdOffset + d->cdSize;
    size_t bytes = 0;
    while (!atEnd() && records->size() < maxRecords && (records->empty() || bytes < maxBytes)) {
        const uint8_t *header = d->walker->at(d->at, CentralSize);
        if (!header || u32(header) != CentralSignature || end - d->at < CentralSize)
            return false;
        const uint64_t length = CentralSize + u16(header + 28) + u16(header + 30) + u16(header + 32);
        if (end - d->at < length)
            return false;
        if (ranges) {
            header = d->walker->at(d->at, size_t(length));
            if (!header)
                return false;
            ranges->push_back(dataRange(header));
        }
        records->push_back(d->at);
        d->at += length;
        bytes += size_t(length);
        ++d->walked;
    }
    if (d->countMayWrap)
        return d->at < end || (d->walked & 0xffff) == d->count;
    return d->walked < d->count || d->at == end; // every byte of the directory accounted for
}

bool ArchiveDirectory::findOverlap(uint64_t *first, uint64_t *second, const std::function<bool()> &stop)
{
    struct Placed
    {
        DataRange range;
        uint64_t number;
    };
    std::vector<Placed> all;
    // Room for every record at once: growing a list of millions would copy it whole, a
    // long step between two questions whether to stop.
    all.reserve(size_t(d->countMayWrap ? d->cdSize / CentralSize : std::min(d->count, d->cdSize / CentralSize)));
    std::vector<uint64_t> records;
    std::vector<DataRange> ranges;
    rewind();
    while (next(&records, 4096, 1 << 20, &ranges) && !records.empty()) {
        for (const DataRange &r : ranges)
            all.push_back({r, all.size()});
        if (stop && stop()) {
            rewind();
            return false;
        }
    }
    rewind();
    const auto earlier = [](const Placed &a, const Placed &b) {
        return a.range.start < b.range.start || (a.range.start == b.range.start && a.number < b.number);
    };
    if (!sortInSteps(all, earlier, stop))
        return false;
    for (size_t i = 1; i < all.size(); ++i) {
        if (all[i].range.start < all[i - 1].range.end) {
            *first = std::min(all[i - 1].number, all[i].number);
            *second = std::max(all[i - 1].number, all[i].number);
            return true;
        }
        if (all[i].range.end < all[i - 1].range.end)
            all[i].range.end = all[i - 1].range.end; // the furthest end so far
    }
    return false;
}

zip_t *ArchiveDirectory::openWith(const std::vector<uint64_t> &records, int *error)
{
    auto view = std::make_unique<View>();
    view->fd = d->fd;
    // The whole file, then the gap: more than the library searches for an end record in.
    constexpr uint64_t Gap = 0xffff + EndSize + Zip64LocatorSize + 1024;
    view->prefix = d->fileSize;
    view->tailStart = d->fileSize + Gap;
    std::vector<uint8_t> &out = view->tail;
    for (const uint64_t at : records) {
        const uint8_t *header = d->builder->at(at, CentralSize);
        if (header)
            header = d->builder->at(at, CentralSize + u16(header + 28) + u16(header + 30));
        if (!header || u32(header) != CentralSignature) {
            *error = ZIP_ER_READ;
            return nullptr;
        }
        appendTrimmed(out, header);
    }
    // The end records of a directory that follows the entries' data.
    const uint64_t cdSize = out.size();
    const uint64_t count = records.size();
    const uint64_t cdOffset = view->tailStart;
    const bool zip64 = count >= 0xffff || cdSize >= 0xffffffff || cdOffset >= 0xffffffff;
    if (zip64) {
        const size_t z = out.size();
        out.resize(z + Zip64EndSize + Zip64LocatorSize);
        put32(out, z, Zip64EndSignature);
        put64(out, z + 4, Zip64EndSize - 12);
        put16(out, z + 12, 45);
        put16(out, z + 14, 45);
        put64(out, z + 24, count);
        put64(out, z + 32, count);
        put64(out, z + 40, cdSize);
        put64(out, z + 48, cdOffset);
        const size_t l = z + Zip64EndSize;
        put32(out, l, Zip64LocatorSignature);
        put64(out, l + 8, cdOffset + z);
        put32(out, l + 16, 1);
    }
    const size_t e = out.size();
    out.resize(e + EndSize);
    put32(out, e, EndSignature);
    put16(out, e + 8, zip64 ? 0xffff : count);
    put16(out, e + 10, zip64 ? 0xffff : count);
    put32(out, e + 12, zip64 ? 0xffffffff : cdSize);
    put32(out, e + 16, zip64 ? 0xffffffff : cdOffset);
    *error = 0;
    return View::open(std::move(view), error);
}
} // namespace pnvzip
