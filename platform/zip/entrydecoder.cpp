#include "entrydecoder.h"

#include "deflate64.h"
#include "implode.h"
#include "lzmaentry.h"
#include "ppmd.h"
#include "shrink.h"
#include "zstdentry.h"

#include <fcntl.h>
#include <unistd.h>

namespace pnvzip {

namespace {
enum Method : int {
    Shrunk = 1,
    Imploded = 6,
    Deflated64 = 9,
    Lzma = 14,
    ZstdEarly = 20,
    Zstd = 93,
    Xz = 95,
    Ppmd = 98,
};
} // namespace

struct EntryDecoder::Decoders
{
    std::unique_ptr<Deflate64Decoder> deflate64;
    std::unique_ptr<LzmaEntryDecoder> lzma;
    std::unique_ptr<ZstdEntryDecoder> zstd;
    std::unique_ptr<ShrinkDecoder> shrink;
    std::unique_ptr<ImplodeDecoder> implode;
    std::unique_ptr<PpmdDecoder> ppmd;
};

template<typename T>
T &made(std::unique_ptr<T> &decoder)
{
    if (!decoder)
        decoder = std::make_unique<T>();
    return *decoder;
}

EntryDecoder::EntryDecoder() : d(std::make_unique<Decoders>()) {}
EntryDecoder::~EntryDecoder() = default;

bool EntryDecoder::reads(int method)
{
    switch (method) {
    case Shrunk: case Imploded: case Deflated64: case Lzma: case ZstdEarly: case Zstd: case Xz: case Ppmd:
        return true;
    default:
        return false;
    }
}

bool EntryDecoder::needsFlags(int method)
{
    return method == Imploded;
}

stream::Result EntryDecoder::decode(int method, uint16_t flags, uint64_t size, const stream::Reader &read,
                                    const stream::Writer &write)
{
    using stream::Result;
    switch (method) {
    case Deflated64:
        switch (made(d->deflate64).decode(read, write)) {
        case Deflate64Decoder::Result::Finished: return Result::Finished;
        case Deflate64Decoder::Result::Truncated: return Result::Truncated;
        case Deflate64Decoder::Result::Damaged: return Result::Damaged;
        case Deflate64Decoder::Result::ReadFailed: return Result::ReadFailed;
        case Deflate64Decoder::Result::Stopped: return Result::Stopped;
        }
        return Result::Damaged;
    case Lzma:
        return made(d->lzma).decode(LzmaEntryDecoder::Format::Lzma, size, read, write);
    case Xz:
        return made(d->lzma).decode(LzmaEntryDecoder::Format::Xz, size, read, write);
    case ZstdEarly:
    case Zstd:
        return made(d->zstd).decode(read, write);
    case Shrunk:
        return made(d->shrink).decode(size, read, write);
    case Imploded: {
        ImplodeDecoder::Options options;
        options.largeWindow = flags & 0x2;
        options.literalTree = flags & 0x4;
        return made(d->implode).decode(options, size, read, write);
    }
    case Ppmd:
        return made(d->ppmd).decode(size, read, write);
    default:
        return Result::Unsupported;
    }
}

std::optional<uint16_t> centralRecordFlags(const QByteArray &path, uint64_t offset)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    unsigned char record[10];
    const bool read = ::pread(fd, record, sizeof record, off_t(offset)) == ssize_t(sizeof record);
    ::close(fd);
    if (!read || record[0] != 'P' || record[1] != 'K' || record[2] != 1 || record[3] != 2)
        return std::nullopt;
    return uint16_t(record[8] | record[9] << 8);
}

} // namespace pnvzip
