#include "entryencoder.h"

#include <libdeflate.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace pnvzip {

namespace {

constexpr int DeflateLevel = 6;

class LibzipEncoder final : public EntryEncoder
{
public:
    zip_int64_t addEntry(zip_t *archive, const char *name, int fd, const struct stat &,
                         EntryMethod method) override
    {
        // libzip closes the stream when it frees the source; give it its own descriptor.
        const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) {
            zip_error_set(zip_get_error(archive), ZIP_ER_OPEN, errno);
            return -1;
        }
        // The copy shares the file position: start from the top whatever read it last.
        if (::lseek(copy, 0, SEEK_SET) != 0) {
            zip_error_set(zip_get_error(archive), ZIP_ER_SEEK, errno);
            ::close(copy);
            return -1;
        }
        FILE *stream = ::fdopen(copy, "rb");
        if (!stream) {
            zip_error_set(zip_get_error(archive), ZIP_ER_OPEN, errno);
            ::close(copy);
            return -1;
        }
        zip_source_t *source = zip_source_filep(archive, stream, 0, -1);
        if (!source) {
            std::fclose(stream);
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

} // namespace

std::unique_ptr<EntryEncoder> makeLibzipEncoder()
{
    return std::make_unique<LibzipEncoder>();
}

bool looksIncompressible(int fd, unsigned long long size)
{
    constexpr size_t SampleSize = 128 * 1024;
    constexpr int Samples = 16;
    if (size < 8ull * SampleSize)
        return false; // small: just deflate it and compare
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)>
        compressor(libdeflate_alloc_compressor(1), &libdeflate_free_compressor);
    if (!compressor)
        return false;
    std::vector<char> in(SampleSize);
    std::vector<char> out(libdeflate_deflate_compress_bound(compressor.get(), SampleSize));
    for (int i = 0; i < Samples; ++i) {
        const unsigned long long offset = (size - SampleSize) / (Samples - 1) * unsigned(i);
        const ssize_t got = ::pread(fd, in.data(), SampleSize, off_t(offset));
        if (got != ssize_t(SampleSize))
            return false;
        const size_t packed = libdeflate_deflate_compress(compressor.get(), in.data(), SampleSize,
                                                          out.data(), out.size());
        // Any sample that shrinks by more than 1% means deflate is worth a try.
        if (packed != 0 && packed < SampleSize - SampleSize / 100)
            return false;
    }
    return true;
}

} // namespace pnvzip
