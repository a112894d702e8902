#pragma once
// The archive's entries a part at a time, as the extraction walks them.
//
// Guarantees: memory does not grow with the number of entries. The central directory is
// walked straight from the file (ArchiveDirectory, which also walks on past a 16-bit count
// that older writers let wrap) and the library is shown only a part of it at a time, at
// most PartRecords records and about PartBytes bytes; only where the directory cannot be
// walked here does the library read the whole archive, as one part. Every entry of a part
// is scanned the same way in either case: its name read in the code page chosen from all
// unmarked names of the archive together, split into checked components (never "..", an
// absolute name or a drive letter), its kind, sizes, method and cipher known, and an entry
// this program cannot extract refused with the reason.

#include "namecodepage.h"
#include "unzipentry.h"

#include <QByteArray>

#include <zip.h>

#include <optional>
#include <vector>

struct ZipResult;

namespace pnvzip::unzip {

// Some of the archive's entries, as the library has them open.
struct Part
{
    zip_t *za = nullptr;
    bool owned = false;
    quint64 first = 0;              // the archive number of its first entry
    std::vector<uint64_t> records;  // where their central records are, when read in parts
    std::vector<ArchiveDirectory::DataRange> ranges; // where their data lies, likewise
    std::vector<quint64> numbers;   // their archive numbers, when not in a row
    std::vector<Entry> entries;     // as scanned: the target folder's own entry left out
    Part() = default;
    Part(const Part &) = delete;
    Part &operator=(const Part &) = delete;
    ~Part();
};

// A link entry, kept from the check to the end, where links are made.
struct LinkRecord
{
    uint64_t record = 0;
    quint64 number = 0;
};

// Why the archive (or a part of its directory) could not be opened, from the library's
// error code.
ZipResult openFailure(int openError, const QString &archiveShown);

// The best modification time the entry records: the Unix extended timestamp (UTC,
// seconds), the NTFS field (UTC, 100 ns) and only then the two-second local DOS time.
// Read just before the entry is extracted: the local header is read then anyway.
void readTimes(zip_t *za, Entry &e);

class DirectoryParts
{
public:
    enum class Next { Part, End, Failed };

    DirectoryParts(QByteArray archivePath, QString archiveShown);
    ~DirectoryParts();
    DirectoryParts(const DirectoryParts &) = delete;
    DirectoryParts &operator=(const DirectoryParts &) = delete;

    // Reads the directory in parts from here on. False when no end record leads to a
    // directory that can be walked here.
    bool openInParts();
    // Has the library read the whole archive from here on; false with the library's error
    // code in `*openError` when it cannot.
    bool openWhole(int *openError);
    bool inParts() const { return m_directory.has_value(); }
    // The directory walked in parts (inParts() only).
    ArchiveDirectory &directory() { return *m_directory; }

    // Back to the first part.
    void rewind();
    // The next part, scanned when `scanIt` (the targets of links that are not encrypted
    // read and checked too when `readLinks`).
    Next next(Part *part, bool readLinks, bool scanIt, Failure *f);
    // Whether `part`, the first, holds every entry of the archive.
    bool holdsAll(const Part &part) const;
    // The directory could not be read in parts: the library has to judge the whole archive.
    bool partUnreadable() const { return m_partUnreadable; }
    void clearPartUnreadable() { m_partUnreadable = false; }
    // A part of the `count` links from `links[from]` on, scanned.
    bool linkPart(const std::vector<LinkRecord> &links, size_t from, size_t count, Part *part, Failure *f);

    // Reads every name stored without the UTF-8 mark before any of them is split into
    // folders, so that one code page, chosen from all of them together, reads them all;
    // or takes the one the query asks for. A cancel is heard at every part.
    bool chooseNames(ZipQuery *query, Failure *f);
    const NameCodePage &names() const { return m_names; }

    Failure directoryFailure(int code) const;

private:
    bool scan(Part &part, bool readLinks, Failure *f);
    bool classifyEncryption(Entry &e, const zip_stat_t &st, Failure *f);
    std::string entryName(zip_t *za, zip_uint64_t index, const char *guessed) const;

    QByteArray m_archivePath;
    QString m_archiveShown;
    // The archive is read a part at a time through its directory, or, where the library
    // has to read its directory itself, as a whole.
    std::optional<ArchiveDirectory> m_directory;
    zip_t *m_whole = nullptr;
    quint64 m_walked = 0; // records of the directory in the parts so far
    bool m_partUnreadable = false;
    NameCodePage m_names; // how the names stored without the UTF-8 mark are read
};

} // namespace pnvzip::unzip
