#pragma once
// The step that turns the source file into the entry's data inside the archive.
// ZipFile asks an encoder to add the single entry; everything else (metadata, the
// temporary archive, the choice between stored and deflated, the final rename) stays
// in the writer, so a faster encoder can replace this one without touching it.

#include <zip.h>

#include <memory>
#include <sys/stat.h>

namespace pnvzip {

class CallMonitor;

enum class EntryMethod { Store, Deflate };

class EntryEncoder
{
public:
    virtual ~EntryEncoder() = default;

    // Adds an entry called `name` (UTF-8) to `archive`, whose data is the content of
    // the open regular file `fd` described by `info`. The encoder must stream: the file
    // may be far larger than memory. Returns the entry index, or -1 with the error
    // recorded in `archive`. The data is produced when the archive is closed.
    virtual zip_int64_t addEntry(zip_t *archive, const char *name, int fd,
                                 const struct stat &info, EntryMethod method) = 0;

    // Where the entries added from now on report the source bytes they read and ask whether
    // to stop (nullptr: nobody). A stop makes the data's read fail with ZIP_ER_CANCELLED.
    void setMonitor(CallMonitor *monitor) { m_monitor = monitor; }

protected:
    CallMonitor *m_monitor = nullptr;
};

// libzip's own deflate (zlib, level 6) reading the file as libzip writes the archive.
std::unique_ptr<EntryEncoder> makeLibzipEncoder();

// Deflate (libdeflate; level 6, text at level 7) in pieces of PieceSize on `workers` threads (0: one per core),
// joined into one stream that libzip copies into the archive as it is. At most two
// pieces per worker are in memory at once, whatever the file's size. Storing is left to
// libzip's copy.
std::unique_ptr<EntryEncoder> makeParallelEncoder(unsigned workers = 0);

// What a scan of every piece of the file (ShrinkScanner, on every core) says before any
// deflating: Store when deflate would not make it smaller, so the writer can store it
// without deflating; Deflate as soon as one piece might shrink; Stopped when `monitor`
// (if any) says to stop, which it is asked every few dozen milliseconds of the scan. The
// bytes scanned are reported to the monitor as a pass of their own.
enum class ScanVerdict { Store, Deflate, Stopped };
ScanVerdict scanBeforeDeflate(int fd, unsigned long long size, CallMonitor *monitor = nullptr);

} // namespace pnvzip
