#include "lenientopen.h"

#include "fsutil.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
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

// Reads a file through a window that moves forward as records are walked.
class Window
{
public:
    Window(int fd, uint64_t fileSize) : m_fd(fd), m_fileSize(fileSize) {}
    const uint8_t *at(uint64_t offset, size_t size)
    {
        if (offset < m_start || offset + size > m_start + m_bytes.size()) {
            if (offset + size > m_fileSize)
                return nullptr;
            const size_t length = size_t(std::min<uint64_t>(std::max<size_t>(size, 1 << 20), m_fileSize - offset));
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

// The file up to its central directory, then a central directory and end records
// rebuilt in memory, as a seekable libzip source.
struct View
{
    UniqueFd fd;
    uint64_t prefix = 0; // bytes taken from the file
    std::vector<uint8_t> tail;
    uint64_t position = 0;
    zip_error_t error;

    uint64_t size() const { return prefix + tail.size(); }

    zip_int64_t read(uint8_t *buffer, uint64_t length)
    {
        const uint64_t n = std::min(length, size() - std::min(position, size()));
        uint64_t done = 0;
        if (position < prefix) {
            done = std::min(n, prefix - position);
            if (!readAt(fd.get(), position, buffer, size_t(done))) {
                zip_error_set(&error, ZIP_ER_READ, errno);
                return -1;
            }
        }
        if (done < n)
            std::memcpy(buffer + done, tail.data() + (position + done - prefix), size_t(n - done));
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
};

// Finds the end records and the central directory and rebuilds them into `view`: extra
// blocks cut after their last whole field, entry comments and the archive comment left
// out (nothing here reads them). False when no end record leads to a sane directory.
bool rebuild(View *view, uint64_t fileSize)
{
    const int fd = view->fd.get();
    if (fileSize < EndSize)
        return false;
    const uint64_t tailStart = fileSize - std::min<uint64_t>(fileSize, 0xffff + EndSize + Zip64LocatorSize);
    std::vector<uint8_t> tail(size_t(fileSize - tailStart));
    if (!readAt(fd, tailStart, tail.data(), tail.size()))
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
            const uint8_t *extra = header + CentralSize + nameLength;
            size_t good = 0;
            while (good + 4 <= extraLength && good + 4 + u16(extra + good + 2) <= extraLength)
                good += 4 + u16(extra + good + 2);
            const size_t start = out.size();
            out.insert(out.end(), header, extra + good);
            put16(out, start + 30, good);
            put16(out, start + 32, 0);
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
        view->tail = std::move(out);
        return true;
    }
    return false;
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
    view->fd.reset(::open(path, O_RDONLY | O_CLOEXEC));
    struct stat st{};
    if (!view->fd.valid() || ::fstat(view->fd.get(), &st) != 0)
        return nullptr;
    if (!rebuild(view.get(), uint64_t(st.st_size)))
        return nullptr;
    zip_error_init(&view->error);
    zip_error_t sourceError;
    zip_error_init(&sourceError);
    View *raw = view.release();
    zip_source_t *source = zip_source_function_create(&View::callback, raw, &sourceError);
    if (!source) {
        zip_error_fini(&raw->error);
        delete raw;
        zip_error_fini(&sourceError);
        return nullptr;
    }
    zip_t *za = zip_open_from_source(source, ZIP_RDONLY, &sourceError);
    zip_error_fini(&sourceError);
    if (!za)
        zip_source_free(source); // frees the view too
    return za;
}

} // namespace pnvzip
