#pragma once
// Opening archives for reading with the leniency of the common unzip tools.
//
// libzip refuses a whole archive ("Zip archive inconsistent") for things that do not change
// a single extracted byte: an entry's extra fields in the central directory that end in
// a few padding bytes too short to form a field (as alignment tools write them) or in a
// field whose stated size runs past the block, comments it cannot read as text, and an
// archive comment length that runs past the end of the file. When libzip refuses an
// archive as inconsistent, it is opened again through a view of the file in which the
// central directory and end records are rebuilt in memory: extra blocks end after their
// last whole field, and the comments (which nothing here reads) are left out. Everything
// before the central directory, the entries' data, is read from the file as it is, and
// the names, sizes, CRC-32s and offsets the directory records are kept; the file itself is
// never changed.

#include <zip.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace pnvzip {

// zip_open(path, ZIP_RDONLY), then the corrected view where that fails as inconsistent.
// Returns nullptr with `*error` set to libzip's error code from the first attempt.
zip_t *openArchiveLeniently(const char *path, int *error);

// An archive's central directory read a part at a time, so that memory stays bounded
// however many entries the archive holds: its records are walked straight from the file,
// and the library is shown the archive with a directory holding only some of them (the
// file as it is, then, past a gap, those records with the same leniency as above and a
// matching end record), so it builds only those entries.
class ArchiveDirectory
{
public:
    ArchiveDirectory();
    ~ArchiveDirectory();
    ArchiveDirectory(const ArchiveDirectory &) = delete;
    ArchiveDirectory &operator=(const ArchiveDirectory &) = delete;

    // Opens the file and finds the end records. False when no end record leads to a
    // directory that can be walked here; the library then has to read the whole archive.
    bool open(const char *path);
    uint64_t count() const; // entries the end record announces (without ZIP64 records, modulo 65,536)
    // Back to the first record.
    void rewind();
    // Where an entry's local header and data lie in the file, from `start` up to `end`.
    struct DataRange
    {
        uint64_t start = 0;
        uint64_t end = 0;
    };
    // The file offsets of the next records, in directory order: at most `maxRecords` and
    // about `maxBytes` of directory, none at the end; with `ranges`, where each one's data
    // lies. Without ZIP64 end records the directory is walked to its end, however often
    // the 16-bit count wrapped. False when a record is not where and what the directory
    // says, or the directory does not end where the records do.
    bool next(std::vector<uint64_t> *records, size_t maxRecords, size_t maxBytes,
              std::vector<DataRange> *ranges = nullptr);
    // Whether every record has been walked.
    bool atEnd() const;
    // Walks the whole directory for two entries whose data overlaps, whatever their
    // order in the file; their numbers (from 0) in `*first` and `*second`. Rewinds.
    // `stop` is asked every few thousand records and between the steps of the sort; when
    // it answers true, the walk ends there (no overlap found).
    bool findOverlap(uint64_t *first, uint64_t *second, const std::function<bool()> &stop = {});
    // The archive with a directory of just `records` (offsets from next(), in the order
    // given), opened read-only; nullptr with `*error` set to the library's error code.
    zip_t *openWith(const std::vector<uint64_t> &records, int *error);

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace pnvzip
