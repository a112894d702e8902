// UnzipFile: every entry of an archive into a folder, and nothing outside it.
//
// How it stays inside the folder:
//  * every entry name is checked before anything is written (no "..", no absolute
//    name, no drive letter; backslashes count as separators);
//  * folders are walked one component at a time with openat(O_NOFOLLOW | O_DIRECTORY)
//    from a descriptor of the target folder, so an existing link is never followed: a
//    link (or file) where a folder is needed makes a new folder "name (2)" instead;
//  * files are created unnamed (O_TMPFILE) and linked into place once complete, or, where
//    the file system cannot, under a fresh temporary name with O_EXCL and renamed into
//    place with RENAME_NOREPLACE; neither ever replaces or follows anything already there;
//  * small files are read and inflated here while other threads write the ones before
//    them; folders are made, and large, encrypted and link entries handled, only once
//    those are written, so every name is taken as in a plain pass in archive order;
//  * symbolic links are made last, only with relative targets whose ".." components
//    come first and do not climb above the folder, and a link that resolves outside
//    the folder through something already on disk is removed again.
//
// Memory does not grow with the number of entries: the archive's directory is read a part
// at a time (ArchiveDirectory), every entry is checked in a first walk before anything is
// written, folders are kept as a tree of names, links as the places of their records, and
// the report only as what it shows.

#include "zipengine.h"

#include "entrydecoder.h"
#include "entrynames.h"
#include "fsutil.h"
#include "lenientopen.h"
#include "unzipsecrets.h"
#include "unzipfolders.h"
#include "unziplinks.h"
#include "namecodepage.h"
#include "winzipaes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <openssl/crypto.h>
#include <zip.h>

#include <algorithm>
#include <limits>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace pnvzip {

namespace {

constexpr int MaxNumberedNames = 10000;
constexpr size_t MaxLinkTarget = 4095;
constexpr int ListedInFull = 20; // longer lists are summarised
constexpr int ListedInSummary = 10;
// The directory is read in parts of at most this many records and about this many bytes.
constexpr size_t PartRecords = 4096;
constexpr size_t PartBytes = 1024 * 1024;
// Small files read ahead of the writers, at most.
constexpr size_t MaxQueuedBytes = 8 * 1024 * 1024;
constexpr size_t MaxQueuedFiles = 512;
// What a writer takes from the queue at once (at least one file).
constexpr size_t BatchFiles = 16;
constexpr size_t BatchBytes = 256 * 1024;

enum class Kind { File, Folder, Link };
enum class Cipher { None, Traditional, Aes };

constexpr quint64 NoEntry = ~quint64(0);
// Files up to this size are read (and checked) whole before they are written.
constexpr zip_uint64_t MaxInMemory = 1024 * 1024;

struct Entry
{
    zip_uint64_t index = 0;  // in the part of the archive the library has open
    quint64 number = 0;      // in the whole archive, from 0
    quint64 record = 0;      // where its central record is in the file, when read in parts
    QString name; // as stored, for messages
    std::vector<std::string> parts;
    Kind kind = Kind::File;
    std::optional<mode_t> mode; // permission bits recorded by a Unix-like system
    bool dosReadOnly = false;
    timespec mtime{0, 0};
    timespec atime{0, 0};
    bool hasTime = false;
    std::optional<time_t> dosTime; // the two-second local time of the central record
    zip_uint64_t size = 0;
    zip_uint32_t crc = 0;
    zip_int32_t method = -1; // as recorded, -1 if unknown
    quint16 flags = 0;       // the general purpose flags, read only where a decoder needs them
    zip_uint64_t compressedSize = 0;
    Cipher cipher = Cipher::None;
    int aesStrength = 0; // 1, 2, 3: AES-128, -192, -256
    bool aesCrc = true;  // AE-1 records the CRC-32 as well; AE-2 only the authentication code
    std::string linkTarget;
    bool targetRead = false;
    ArchiveDirectory::DataRange data; // where its local header and data lie, when read in parts
};

// What became of one attempt at an entry's data.
enum class Outcome {
    Done,        // complete and checked
    Rejected,    // the password check says the password is wrong
    Unconfirmed, // the password passed its check but the data did not: under traditional
                 // encryption a wrong password does that once in 256 tries, under AES
                 // (authentication code) once in 65,536
    Failed,      // the failure is set
};

struct Failure
{
    ZipError number = NoError;
    QString text;
};

// One line of the report.
struct Done
{
    QString shown;       // the path written, relative to the folder ("docs/readme.txt")
    QString renamedFrom; // the entry's own name when it had to change
    Kind kind = Kind::File;
    bool merged = false; // a folder that was already there
    bool settled = false; // final: written, or dropped with `shown` empty
};

// The report as its lines settle in archive order: the counts, and only the lines and
// renamed items it can show, however many entries the archive holds.
struct Tally
{
    quint64 files = 0;
    quint64 folders = 0;
    quint64 links = 0;
    std::vector<Done> first; // the first lines, as many as a report lists in full
    quint64 renamed = 0;
    QStringList firstRenamed; // the first renamed items, as many as a summary lists
    quint64 leftOut = 0;      // links not made, as they would lead outside the folder
    QStringList firstLeftOut; // the first of them
    quint64 lines() const { return files + folders + links; }
};

// An open folder, shared by the reading side and the thread that writes files into it.
using FolderRef = std::shared_ptr<const UniqueFd>;

// A small file read and checked in memory, waiting to be written.
struct WriteJob
{
    Entry entry; // its own copy: the part of the archive it came from may be gone
    FolderRef folder;
    std::string diskParent;
    bool renamed = false;
    mode_t mode = 0;
    std::string data;
    Done *slot = nullptr; // its line of the report, filled in once the file is in place
    quint64 number = 0;   // in archive order

    WriteJob() = default;
    WriteJob(WriteJob &&) = default;
    WriteJob &operator=(WriteJob &&) = default;
    ~WriteJob()
    {
        if (entry.cipher != Cipher::None)
            wipeString(data); // decrypted data
    }
};

QString methodName(zip_int32_t method)
{
    switch (method) {
    case 1: return QStringLiteral("Shrink");
    case 2: case 3: case 4: case 5: return QStringLiteral("Reduce");
    case 6: return QStringLiteral("Implode");
    case 9: return QStringLiteral("Deflate64");
    case 10: return QStringLiteral("PKWARE DCL Implode");
    case 12: return QStringLiteral("BZIP2");
    case 14: return QStringLiteral("LZMA");
    case 18: return QStringLiteral("IBM TERSE");
    case 19: return QStringLiteral("IBM LZ77");
    case 20: case 93: return QStringLiteral("Zstandard");
    case 94: return QStringLiteral("MP3");
    case 95: return QStringLiteral("XZ");
    case 96: return QStringLiteral("JPEG");
    case 97: return QStringLiteral("WavPack");
    case 98: return QStringLiteral("PPMd");
    default: return QStringLiteral("an unknown method");
    }
}

bool isAllZero(const char *data, size_t size)
{
    return size > 0 && data[0] == 0 && std::memcmp(data, data + 1, size - 1) == 0;
}

// Writes `size` bytes at the file's position; runs of zeros of HoleSlice bytes or more
// become holes, as in disk images: no space taken, the same bytes read back.
// `*endsInHole` tells whether the bytes end in a hole, which only a truncate can place.
int writeWithHoles(int fd, const char *data, size_t size, bool *endsInHole)
{
    constexpr size_t HoleSlice = 64 * 1024;
    size_t pending = 0; // bytes from `data` not yet written, before `pos`
    size_t pos = 0;
    while (pos < size) {
        const size_t n = std::min(HoleSlice, size - pos);
        if (n == HoleSlice && isAllZero(data + pos, n)) {
            if (pending) {
                if (const int err = writeAll(fd, data + pos - pending, pending))
                    return err;
                pending = 0;
            }
            if (::lseek(fd, off_t(n), SEEK_CUR) < 0)
                return errno;
            *endsInHole = true;
        } else {
            pending += n;
        }
        pos += n;
    }
    if (!pending)
        return 0;
    *endsInHole = false;
    return writeAll(fd, data + size - pending, pending);
}

QString fromStd(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

quint32 le32(const zip_uint8_t *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint64 le64(const zip_uint8_t *p)
{
    return quint64(le32(p)) | quint64(le32(p + 4)) << 32;
}

// Windows FILETIME (100 ns steps since 1601) to a Unix time.
timespec fromFileTime(quint64 ft)
{
    constexpr quint64 Steps = 10000000ull;
    constexpr qint64 EpochDiff = 11644473600ll;
    return timespec{time_t(qint64(ft / Steps) - EpochDiff), long(ft % Steps) * 100};
}

// The best modification time the entry records: the Unix extended timestamp (UTC,
// seconds), the NTFS field (UTC, 100 ns) and only then the two-second local DOS time.
// Read just before the entry is extracted: the local header is read then anyway.
void readTimes(zip_t *za, Entry &e)
{
    for (zip_flags_t where : {ZIP_FL_CENTRAL, ZIP_FL_LOCAL}) {
        zip_uint16_t len = 0;
        if (const zip_uint8_t *ut = zip_file_extra_field_get_by_id(za, e.index, 0x5455, 0, &len, where)) {
            if (len >= 5 && (ut[0] & 1)) {
                e.mtime = {time_t(le32(ut + 1)), 0};
                e.atime = e.mtime;
                if (where == ZIP_FL_LOCAL && len >= 9 && (ut[0] & 2))
                    e.atime = {time_t(le32(ut + 5)), 0};
                e.hasTime = true;
                return;
            }
        }
        if (const zip_uint8_t *nt = zip_file_extra_field_get_by_id(za, e.index, 0x000a, 0, &len, where)) {
            // 4 reserved bytes, then tagged attributes; tag 1 holds three FILETIMEs.
            zip_uint16_t pos = 4;
            while (pos + 4 <= len) {
                const unsigned tag = nt[pos] | nt[pos + 1] << 8;
                const unsigned size = nt[pos + 2] | nt[pos + 3] << 8;
                pos += 4;
                if (pos + size > len)
                    break;
                if (tag == 1 && size >= 24 && le64(nt + pos) != 0) {
                    e.mtime = fromFileTime(le64(nt + pos));
                    const quint64 at = le64(nt + pos + 8);
                    e.atime = at ? fromFileTime(at) : e.mtime;
                    e.hasTime = true;
                    return;
                }
                pos += zip_uint16_t(size);
            }
        }
    }
    if (e.dosTime) {
        e.mtime = {*e.dosTime, 0};
        e.atime = e.mtime;
        e.hasTime = true;
    }
}

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
    ~Part()
    {
        if (owned && za)
            zip_discard(za);
    }
};

// A link entry, kept from the check to the end, where links are made.
struct LinkRecord
{
    uint64_t record = 0;
    quint64 number = 0;
};

// Why the archive (or a part of its directory) could not be opened, from the library's
// error code.
ZipResult openFailure(int openError, const QString &archiveShown)
{
    zip_error_t error;
    zip_error_init_with_code(&error, openError);
    const QString reason = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    switch (openError) {
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
        return {int(SourceUnreadable), QStringLiteral("The archive %1 cannot be read: %2. Nothing was extracted.")
                                           .arg(archiveShown, reason)};
    // The file is there and was opened: a position it does not have, or an entry's data
    // that is not where its record says, is damage to the archive.
    case ZIP_ER_NOENT:
    case ZIP_ER_SEEK:
        return {int(NotAnArchive), QStringLiteral("%1 is damaged: its directory points to data that is not in the file "
                                                  "(%2). Nothing was extracted.")
                                       .arg(archiveShown, reason)};
    case ZIP_ER_ENCRNOTSUPP:
        return {int(UnsupportedEncryption), QStringLiteral("%1 holds an entry encrypted with a method this program "
                                                           "cannot decrypt (AES with a key length or version it does not know). Nothing was "
                                                           "extracted.")
                                                .arg(archiveShown)};
    case ZIP_ER_MEMORY:
        return {int(InternalError), QStringLiteral("Out of memory while opening %1.").arg(archiveShown)};
    case ZIP_ER_MULTIDISK:
        return {int(NotAnArchive), QStringLiteral("%1 is one part of a split archive; such archives cannot be extracted.")
                                       .arg(archiveShown)};
    default:
        return {int(NotAnArchive), QStringLiteral("%1 is not a zip archive, or it is damaged or truncated (%2). "
                                                  "Nothing was extracted.")
                                       .arg(archiveShown, reason)};
    }
}

class Extractor
{
public:
    Extractor(QByteArray archivePath, int rootFd, std::string rootReal, QString archiveShown, QString folderShown,
              ZipQuery *query)
        : m_archivePath(std::move(archivePath)), m_root(rootFd), m_rootReal(std::move(rootReal)),
          m_archiveShown(std::move(archiveShown)), m_folderShown(std::move(folderShown)),
          m_umask(processUmask()), m_query(query)
    {
    }

    ~Extractor()
    {
        stopWriter(true);
        if (m_whole)
            zip_discard(m_whole);
        // They may hold decrypted data.
        wipeVector(m_buffer);
        wipeVector(m_input);
        if (m_inflate)
            wipeBytes(m_inflate.get(), sizeof(inflate_state));
    }
    ZipResult run();

private:
    enum class Next { Part, End, Failed };
    void rewind();
    Next nextPart(Part *part, bool readLinks, bool scanIt, Failure *f);
    bool scan(Part &part, bool readLinks, Failure *f);
    bool chooseNames(Failure *f);
    std::string entryName(zip_t *za, zip_uint64_t index, const char *guessed) const;
    bool check(Failure *f, bool *unreadable);
    bool extractPart(const std::shared_ptr<Part> &part, bool links, Failure *f);
    bool extractAll(Failure *f);
    bool extractLinks(Failure *f);
    void settleReport(bool all);
    Failure directoryFailure(int code) const;
    bool classifyEncryption(Entry &e, const zip_stat_t &st, Failure *f);
    bool extractFile(const Entry &e, Failure *f);
    bool readEntry(const Entry &e, int out, std::string *memory, Failure *f);
    Outcome attempt(const Entry &e, int out, std::string *memory, zip_uint64_t *total, Failure *f);
    bool askPassword(const Entry &e, bool wrongBefore, Failure *f);
    bool extractFolder(const Entry &e, Failure *f);
    bool extractLink(Entry &e, Failure *f);
    int folderFor(const std::vector<std::string> &parts, size_t count, std::string *diskPath, bool *renamed,
                  Failure *f, FolderRef *ref = nullptr, uint32_t *node = nullptr);
    UniqueFd openFolder(const std::vector<std::string> &parts, size_t count, uint32_t *node, std::string *diskPath,
                        Failure *f);
    mode_t fileMode(const Entry &e) const;
    UniqueFd createFile(int dir, const std::string &leaf, mode_t mode, std::string *tempName, int *err) const;
    bool storeFile(const Entry &e, int dir, const std::string &diskParent, bool renamed, mode_t mode,
                   const std::function<bool(int, bool *)> &fill, Done *line, Failure *f,
                   const std::function<bool()> &mayPlace = {}) const;
    bool queueFile(const Entry &e, Failure *f);
    void writerLoop();
    void writeJob(WriteJob &job, std::unique_lock<std::mutex> &lock);
    // With m_lock held: whether a full queue has been written down far enough to add to it.
    bool roomAgain() const
    {
        return m_writeFailure || m_jobs.empty()
            || (m_jobs.size() <= MaxQueuedFiles / 2 && m_queuedBytes <= MaxQueuedBytes / 2);
    }
    void drainWriter();
    bool writerFailed(Failure *f);
    void stopWriter(bool discard);
    bool placeFolder(int parentFd, const std::string &name, const std::string &diskParent,
                     std::string *placed, bool *created, Failure *f);
    bool place(int dirFd, const std::string &diskParent, const std::string &tempName, const std::string &name,
               std::string *placed,
               Failure *f, int unnamedFd = -1) const;
    bool leaveOut(const Entry &e, const QString &why);
    bool finishFolders(Failure *f);
    QString report() const;
    QString keptNote(bool cancelled) const;
    Failure writeFailure(int err, const QString &what) const;
    Failure readFailure(zip_error_t *error, const Entry &e) const;
    bool stopRequested(Failure *f);
    void startEntry(const Entry &e);
    void advance(const Entry &e, size_t n);

    QByteArray m_archivePath;
    // The archive is read a part at a time through its directory, or, where the library
    // has to read its directory itself, as a whole.
    std::optional<ArchiveDirectory> m_directory;
    zip_t *m_whole = nullptr;
    zip_t *m_za = nullptr; // the part being extracted
    // When the check found the whole archive in one part: kept for the extraction.
    std::shared_ptr<Part> m_kept;
    quint64 m_walked = 0; // records of the directory in the parts so far
    bool m_partUnreadable = false;
    int m_root;
    std::string m_rootReal;
    QString m_archiveShown;
    QString m_folderShown;
    mode_t m_umask;
    ZipQuery *m_query;

    // Progress: bytes of file data handled of the total, reported as the contract says
    // (never going down, at most every ProgressStep bytes within an entry).
    qint64 m_total = 0;
    qint64 m_entryStart = 0; // bytes done before the current entry
    qint64 m_doneBytes = 0;
    qint64 m_reported = -1;

    // The password that opened the last encrypted entry (tried first on the next one), and
    // the entry it was asked for when it is the query's fresh answer.
    Secret m_password;
    quint64 m_answerFor = NoEntry;
    // The query's last answer has opened only empty entries under traditional encryption,
    // whose one-byte check lets some wrong passwords through: it is not proven yet, so a
    // failure on the next entry still tells the user that the answer was wrong.
    bool m_answerUnproven = false;

    // What the check gathers: every entry is checked before anything is written.
    std::optional<Entry> m_firstEncrypted; // its password is asked for first
    std::vector<LinkRecord> m_linkRecords;
    std::vector<size_t> m_nameHashes;
    bool m_numberedNames = false;
    NameCodePage m_names; // how the names stored without the UTF-8 mark are read
    QString m_lastName;

    // The archive's folders met so far.
    FolderTree m_folders;
    // Lines not settled yet, in archive order; they stay where they are while the writers
    // fill them in, and go into the tally once settled.
    std::deque<Done> m_done;
    Tally m_tally;
    struct OpenFolder
    {
        FolderRef fd;
        std::string disk;
        bool renamed = false;
    };
    // Folder node -> its open descriptor; a bounded set, as entries of one folder mostly
    // come together.
    std::unordered_map<uint32_t, OpenFolder> m_openFolders;
    // The next number to try for names already taken (files are placed on several threads).
    mutable NumberHints m_numberHints;
    bool m_anonymousFiles = false; // files are made unnamed (O_TMPFILE) and linked into place
    bool m_namesInTurn = true; // two entries may compete for a name: name files in archive order

    // Small files are written by a second thread while the next entries are read and
    // inflated here; it writes them in archive order, so names and the report come out as
    // one thread would make them. Everything else (large or encrypted entries, folders that
    // must be made, links) waits until the queue is empty.
    std::mutex m_lock;
    std::condition_variable m_wake;    // the writer: work or the end
    std::condition_variable m_settled; // the reader: the queue empty; the writers: their turn
    std::condition_variable m_room;    // the reader: a full queue written down to half
    bool m_waitingRoom = false;
    std::vector<std::thread> m_writers;
    std::deque<WriteJob> m_jobs;
    size_t m_queuedBytes = 0;
    int m_writing = 0; // jobs the writers hold outside the queue
    int m_idleWriters = 0;     // waiting on m_wake
    int m_waitingSettled = 0;  // waiting on m_settled: woken only when someone waits
    quint64 m_queuedCount = 0; // jobs ever queued: the next one's number
    quint64 m_placeTurn = 0;   // the number of the job whose turn it is to take its name
    quint64 m_failedJob = 0;   // with m_writeFailure: the job that failed
    bool m_writerEnds = false;
    bool m_writerDiscards = false;
    std::optional<Failure> m_writeFailure;
    bool m_endsInHole = false; // the file being written
    std::vector<char> m_buffer;
    std::vector<unsigned char> m_input;
    std::unique_ptr<inflate_state> m_inflate;
    std::unique_ptr<EntryDecoder> m_decoder; // methods other than store, deflate and bzip2
};

Failure Extractor::writeFailure(int err, const QString &what) const
{
    if (err == ENOSPC || err == EDQUOT)
        return {WriteFailed, QStringLiteral("The disk is full: %1 could not be written (%2).").arg(what, errnoText(err))};
    if (err == EFBIG || err == EIO)
        return {WriteFailed, QStringLiteral("Writing %1 failed: %2.").arg(what, errnoText(err))};
    return {CannotWrite, QStringLiteral("Cannot write %1 in “%2”: %3.").arg(what, m_folderShown, errnoText(err))};
}

Failure Extractor::readFailure(zip_error_t *error, const Entry &e) const
{
    const int code = zip_error_code_zip(error);
    const QString reason = QString::fromUtf8(zip_error_strerror(error));
    switch (code) {
    case ZIP_ER_CRC:
        return {ChecksumMismatch, QStringLiteral("“%1” in the archive is damaged: its CRC-32 does not match.").arg(e.name)};
    case ZIP_ER_COMPNOTSUPP:
        return {UnsupportedMethod, QStringLiteral("“%1” uses a compression method this program cannot read.").arg(e.name)};
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
        return {EncryptedEntry, QStringLiteral("“%1” is encrypted.").arg(e.name)};
    case ZIP_ER_MEMORY:
        return {InternalError, QStringLiteral("Out of memory while extracting “%1”.").arg(e.name)};
    default:
        return {NotAnArchive, QStringLiteral("“%1” in the archive is damaged or truncated (%2).").arg(e.name, reason)};
    }
}

bool Extractor::stopRequested(Failure *f)
{
    if (!m_query || !m_query->cancelRequested())
        return false;
    *f = {Cancelled, QStringLiteral("The extraction was cancelled.")};
    return true;
}

void Extractor::startEntry(const Entry &e)
{
    m_doneBytes = m_entryStart;
    if (m_query && m_entryStart >= m_reported) {
        m_reported = m_entryStart;
        m_query->progress(m_entryStart, m_total, e.name);
    }
}

void Extractor::advance(const Entry &e, size_t n)
{
    constexpr qint64 ProgressStep = 4 * 1024 * 1024;
    m_doneBytes += qint64(n);
    if (m_query && m_doneBytes >= m_reported + ProgressStep && m_doneBytes <= m_total) {
        m_reported = m_doneBytes;
        m_query->progress(m_doneBytes, m_total, e.name);
    }
}

bool Extractor::classifyEncryption(Entry &e, const zip_stat_t &st, Failure *f)
{
    switch (st.encryption_method) {
    case ZIP_EM_TRAD_PKWARE:
        e.cipher = Cipher::Traditional;
        return true;
    case ZIP_EM_AES_128:
    case ZIP_EM_AES_192:
    case ZIP_EM_AES_256: {
        e.cipher = Cipher::Aes;
        e.aesStrength = st.encryption_method - ZIP_EM_AES_128 + 1;
        // AE-2 records a CRC-32 of zero and relies on the authentication code alone (libzip
        // keeps its 0x9901 field to itself, so the version is known from that zero).
        e.aesCrc = e.crc != 0;
        // Data decrypted here goes to the inflater of this file; other methods would need
        // the library's decoders, which only read what the library decrypted itself.
        if (e.method != ZIP_CM_STORE && e.method != ZIP_CM_DEFLATE && !EntryDecoder::reads(e.method)) {
            *f = {UnsupportedMethod, QStringLiteral("“%1” in the archive is encrypted with AES and compressed with %2 "
                                                    "(method %3); this program reads such entries only when stored, "
                                                    "deflated or compressed with a method it decodes itself.")
                                         .arg(e.name, methodName(e.method))
                                         .arg(e.method)};
            return false;
        }
        return true;
    }
    default:
        *f = {UnsupportedEncryption,
              QStringLiteral("“%1” in the archive is encrypted with %2, which this program cannot decrypt. "
                             "Nothing was extracted.")
                  .arg(e.name, st.encryption_method == ZIP_EM_UNKNOWN ? QStringLiteral("PKWARE strong encryption")
                                                                       : QStringLiteral("an unknown method (%1)")
                                                                             .arg(st.encryption_method))};
        return false;
    }
}

// Reads the entries of `part` as the library has them, refusing what cannot be extracted;
// the targets of links that are not encrypted are read and checked when `readLinks`.
bool Extractor::scan(Part &part, bool readLinks, Failure *f)
{
    const zip_int64_t count = zip_get_num_entries(part.za, 0);
    part.entries.clear();
    part.entries.reserve(size_t(std::max<zip_int64_t>(count, 0)));
    for (zip_int64_t i = 0; i < count; ++i) {
        const quint64 number = part.numbers.empty() ? part.first + quint64(i) : part.numbers[size_t(i)];
        zip_stat_t st;
        if (zip_stat_index(part.za, zip_uint64_t(i), 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME)) {
            *f = {NotAnArchive, QStringLiteral("“%1” is damaged: entry %2 cannot be read.").arg(m_archiveShown).arg(number + 1)};
            return false;
        }
        Entry e;
        e.index = zip_uint64_t(i);
        e.number = number;
        if (size_t(i) < part.records.size())
            e.record = part.records[size_t(i)];
        if (size_t(i) < part.ranges.size())
            e.data = part.ranges[size_t(i)];
        if (st.valid & ZIP_STAT_MTIME)
            e.dosTime = st.mtime;
        const std::string name = entryName(part.za, e.index, st.name);
        e.name = QString::fromStdString(name);
        e.size = st.size;
        e.crc = st.crc;
        if (st.valid & ZIP_STAT_COMP_METHOD)
            e.method = st.comp_method;
        if (st.valid & ZIP_STAT_COMP_SIZE)
            e.compressedSize = st.comp_size;
        if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE
            && !classifyEncryption(e, st, f))
            return false;
        if ((st.valid & ZIP_STAT_COMP_METHOD) && EntryDecoder::needsFlags(st.comp_method)) {
            const std::optional<uint16_t> flags = part.records.empty() ? std::nullopt
                                                : centralRecordFlags(m_archivePath, e.record);
            if (!flags) {
                *f = {UnsupportedMethod, QStringLiteral("“%1” in the archive is compressed with %2 (method %3), whose "
                                                        "settings could not be read from the archive's directory.")
                                             .arg(e.name, methodName(st.comp_method))
                                             .arg(st.comp_method)};
                return false;
            }
            e.flags = *flags;
        }
        if ((st.valid & ZIP_STAT_COMP_METHOD) && !EntryDecoder::reads(st.comp_method)
            && !zip_compression_method_supported(st.comp_method, 0)) {
            *f = {UnsupportedMethod, QStringLiteral("“%1” in the archive is compressed with %2 (method %3), "
                                                    "which this program cannot read.")
                                         .arg(e.name, methodName(st.comp_method))
                                         .arg(st.comp_method)};
            return false;
        }

        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        zip_file_get_external_attributes(part.za, e.index, 0, &system, &attributes);
        mode_t unixMode = 0;
        if (system == ZIP_OPSYS_UNIX || system == ZIP_OPSYS_OS_X)
            unixMode = mode_t(attributes >> 16);
        const size_t nameLength = name.size();
        const char last = nameLength ? name[nameLength - 1] : '\0';
        if (last == '/' || last == '\\' || S_ISDIR(unixMode)
            || (system == ZIP_OPSYS_DOS && (attributes & 0x10) && st.size == 0))
            e.kind = Kind::Folder;
        else if (S_ISLNK(unixMode))
            e.kind = Kind::Link;
        if (unixMode & 07777)
            e.mode = unixMode & 07777;
        e.dosReadOnly = system == ZIP_OPSYS_DOS && (attributes & 0x01);

        EntryPath path = splitEntryName(name);
        if (!path.problem.isEmpty()) {
            *f = {path.outside ? OutsideFolder : NotAnArchive,
                  QStringLiteral("The archive contains an entry that would be written outside the folder: %1. "
                                 "Nothing was extracted.")
                      .arg(path.problem)};
            return false;
        }
        if (path.parts.empty()) {
            if (e.kind == Kind::Folder)
                continue; // the target folder itself
            *f = {NotAnArchive, QStringLiteral("The archive contains a file without a name (“%1”).").arg(e.name)};
            return false;
        }
        e.parts = std::move(path.parts);

        if (e.kind == Kind::Folder)
            e.cipher = Cipher::None; // nothing to decrypt
        if (readLinks && e.kind == Kind::Link && e.cipher == Cipher::None) {
            if (e.size > MaxLinkTarget) {
                *f = {NotAnArchive, QStringLiteral("The link “%1” in the archive is damaged.").arg(e.name)};
                return false;
            }
            zip_file_t *zf = zip_fopen_index(part.za, e.index, 0);
            if (!zf) {
                *f = readFailure(zip_get_error(part.za), e);
                return false;
            }
            char target[MaxLinkTarget + 1];
            const zip_int64_t n = zip_fread(zf, target, sizeof target);
            if (n < 0) {
                *f = readFailure(zip_file_get_error(zf), e);
                zip_fclose(zf);
                return false;
            }
            zip_fclose(zf);
            e.linkTarget.assign(target, size_t(n));
            e.targetRead = true; // where it leads is judged when the link is made
        }
        part.entries.push_back(std::move(e));
    }
    return true;
}

namespace {

// The name as stored when it has bytes past ASCII and neither the UTF-8 mark nor a
// Unicode path field (which the library reads in its place when its CRC-32 matches);
// nullptr otherwise. The library reads such names as CP437 unless told to keep them raw.
const char *unmarkedName(zip_t *za, zip_uint64_t index)
{
    const char *raw = zip_get_name(za, index, ZIP_FL_ENC_RAW);
    if (!raw)
        return nullptr;
    const char *p = raw;
    while (*p && static_cast<unsigned char>(*p) < 0x80)
        ++p;
    if (!*p)
        return nullptr;
    const char *strict = zip_get_name(za, index, ZIP_FL_ENC_STRICT);
    return strict && std::strcmp(strict, raw) != 0 ? raw : nullptr;
}

} // namespace

// Reads every name stored without the UTF-8 mark before any of them is split into folders,
// so that one code page, chosen from all of them together, reads them all.
bool Extractor::chooseNames(Failure *f)
{
    m_names = NameCodePage();
    const QString forced = m_query ? m_query->namesCodePage() : QString();
    if (!forced.isEmpty()) {
        CodePage page;
        if (!codePageNamed(forced, &page)) {
            *f = {UnknownCodePage, QStringLiteral("Names cannot be read in the code page “%1”; the code pages known "
                                                  "are %2. Nothing was extracted.")
                                       .arg(forced, knownCodePages())};
            return false;
        }
        m_names.force(page);
        m_names.decide();
        return true;
    }
    rewind();
    for (;;) {
        Part part;
        Failure ignored; // the check walks the same parts and reports it
        if (nextPart(&part, false, false, &ignored) != Next::Part)
            break;
        const zip_int64_t count = zip_get_num_entries(part.za, 0);
        for (zip_int64_t i = 0; i < count; ++i) {
            const char *raw = unmarkedName(part.za, zip_uint64_t(i));
            if (!raw)
                continue;
            zip_uint8_t system = 0;
            zip_uint32_t attributes = 0;
            zip_file_get_external_attributes(part.za, zip_uint64_t(i), 0, &system, &attributes);
            m_names.add(raw, system);
        }
    }
    m_names.decide();
    return true;
}

// The entry's name in UTF-8: as the library has it (`guessed`), unless it is stored
// without the UTF-8 mark, when it is read in the archive's code page.
std::string Extractor::entryName(zip_t *za, zip_uint64_t index, const char *guessed) const
{
    const char *raw = unmarkedName(za, index);
    return raw ? m_names.decode(raw) : std::string(guessed);
}

void Extractor::rewind()
{
    m_walked = 0;
    if (m_directory)
        m_directory->rewind();
}

// The next part of the archive, scanned when `scanIt`: the whole archive at once when
// the library reads its directory itself.
Extractor::Next Extractor::nextPart(Part *part, bool readLinks, bool scanIt, Failure *f)
{
    if (part->owned && part->za)
        zip_discard(part->za);
    part->za = nullptr;
    part->owned = false;
    part->entries.clear();
    part->numbers.clear();
    part->first = m_walked;
    if (!m_directory) {
        if (m_walked > 0)
            return Next::End;
        part->records.clear();
        part->za = m_whole;
        m_walked = 1; // served
    } else {
        if (!m_directory->next(&part->records, PartRecords, PartBytes, &part->ranges)) {
            m_partUnreadable = true;
            *f = directoryFailure(ZIP_ER_INCONS);
            return Next::Failed;
        }
        if (part->records.empty())
            return Next::End;
        int error = 0;
        part->za = m_directory->openWith(part->records, &error);
        if (!part->za) {
            m_partUnreadable = true;
            *f = directoryFailure(error);
            return Next::Failed;
        }
        part->owned = true;
        m_walked += part->records.size();
    }
    if (scanIt && !scan(*part, readLinks, f))
        return Next::Failed;
    return Next::Part;
}

// Checks every entry before anything is written, and gathers what the extraction needs
// to know of the whole archive. `*unreadable` when the directory could not be read in
// parts (whatever else was found): the library is then left to judge the whole archive.
bool Extractor::check(Failure *f, bool *unreadable)
{
    *unreadable = false;
    m_total = 0;
    m_firstEncrypted.reset();
    m_linkRecords.clear();
    m_nameHashes.clear();
    m_numberedNames = false;
    m_lastName.clear();
    if (!chooseNames(f))
        return false;
    m_kept.reset();
    rewind();
    m_partUnreadable = false;
    std::optional<Failure> refused; // by an entry; the rest of the directory is still walked
    // Entries whose data overlaps, as in archives built to fill the disk with one piece of
    // data written many times: in an archive in file order, each entry's data starts after
    // the end of the one before; otherwise the whole directory is sorted at the end.
    bool dataSeen = false;
    uint64_t dataStart = 0, dataEnd = 0;
    QString dataOwner;
    bool dataInOrder = true;
    const auto overlapping = [&](const QString &which) {
        return Failure{NotAnArchive, QStringLiteral("The archive %1 is refused: %2 share their data in the file (their "
                                                    "data overlaps), as in archives built to fill the disk. Nothing "
                                                    "was extracted.")
                                         .arg(m_archiveShown, which)};
    };
    for (;;) {
        if (stopRequested(f)) {
            f->text += QStringLiteral(" Nothing was extracted.");
            return false;
        }
        auto part = std::make_unique<Part>();
        Failure failure;
        const Next next = nextPart(part.get(), true, !refused, &failure);
        if (next == Next::End)
            break;
        if (next == Next::Failed) {
            if (m_partUnreadable) {
                *unreadable = true;
                return false;
            }
            refused = failure;
            continue;
        }
        if (refused)
            continue;
        for (const Entry &e : part->entries) {
            if (m_directory && dataInOrder) {
                if (dataSeen && e.data.start < dataEnd) {
                    if (e.data.start < dataStart) {
                        dataInOrder = false;
                    } else {
                        refused = overlapping(QStringLiteral("the entries “%1” and “%2”").arg(dataOwner, e.name));
                        break;
                    }
                }
                dataSeen = true;
                dataStart = e.data.start;
                dataEnd = e.data.end;
                dataOwner = e.name;
            }
            if (e.kind != Kind::Folder) {
                // Sizes no archive can hold (the progress total would overflow): refused.
                if (e.size > quint64(std::numeric_limits<qint64>::max())
                    || qint64(e.size) > std::numeric_limits<qint64>::max() - m_total) {
                    refused = Failure{NotAnArchive,
                                      QStringLiteral("“%1” is damaged: its entries claim more than 8 EiB "
                                                     "(2^63 bytes) in all, with “%2”. Nothing was extracted.")
                                          .arg(m_archiveShown, e.name)};
                    break;
                }
                m_total += qint64(e.size);
            }
            if (!m_firstEncrypted && e.cipher != Cipher::None)
                m_firstEncrypted = e;
            // Whether two entries could end up wanting the same name: a path given twice,
            // or any name that looks numbered ("a (2).txt"), which a taken name may turn into.
            size_t h = e.parts.size();
            for (const std::string &name : e.parts) {
                if (name.find(" (") != std::string::npos)
                    m_numberedNames = true;
                h = h * 1000003u ^ std::hash<std::string>()(name);
            }
            m_nameHashes.push_back(h);
            if (e.kind == Kind::Link)
                m_linkRecords.push_back({e.record, e.number});
            m_lastName = e.name;
        }
        if (!m_directory || (part->first == 0 && m_directory->atEnd()))
            m_kept = std::move(part); // the whole archive: kept for the extraction
    }
    uint64_t a = 0, b = 0;
    if (!refused && m_directory && !dataInOrder && m_directory->findOverlap(&a, &b))
        refused = overlapping(QStringLiteral("entries %1 and %2").arg(a + 1).arg(b + 1));
    if (refused) {
        *f = *refused;
        return false;
    }
    std::sort(m_nameHashes.begin(), m_nameHashes.end());
    // Otherwise the files of different entries never meet and may be named in any order.
    m_namesInTurn = m_numberedNames || std::adjacent_find(m_nameHashes.begin(), m_nameHashes.end()) != m_nameHashes.end();
    std::vector<size_t>().swap(m_nameHashes);
    return true;
}

// Extracts the entries of `part` in archive order: its links only when `links`, all the
// rest otherwise.
bool Extractor::extractPart(const std::shared_ptr<Part> &part, bool links, Failure *f)
{
    m_za = part->za;
    for (Entry &e : part->entries) {
        if ((e.kind == Kind::Link) != links)
            continue;
        if (stopRequested(f))
            return false;
        startEntry(e);
        readTimes(m_za, e);
        bool ok;
        if (e.kind == Kind::Folder)
            ok = extractFolder(e, f);
        else if (e.kind == Kind::Link)
            ok = extractLink(e, f);
        else if (e.cipher == Cipher::None && e.size <= MaxInMemory)
            ok = queueFile(e, f);
        else
            ok = extractFile(e, f);
        if (e.kind != Kind::Folder)
            m_entryStart += qint64(e.size);
        constexpr size_t MaxUnsettled = 1024; // lines; settled in a batch, as the writers share the lock
        if (m_done.size() >= MaxUnsettled)
            settleReport(false);
        if (!ok)
            return false;
    }
    return true;
}

// Folders and files in archive order.
bool Extractor::extractAll(Failure *f)
{
    if (m_kept)
        return extractPart(m_kept, false, f);
    rewind();
    for (;;) {
        auto part = std::make_shared<Part>();
        switch (nextPart(part.get(), false, true, f)) {
        case Next::End:
            return true;
        case Next::Failed:
            return false;
        case Next::Part:
            break;
        }
        if (!extractPart(part, false, f))
            return false;
    }
}

// The links, last, so that none can be in the way of a file or folder.
bool Extractor::extractLinks(Failure *f)
{
    if (m_kept)
        return extractPart(m_kept, true, f);
    constexpr size_t LinksPerPart = 1024;
    for (size_t at = 0; at < m_linkRecords.size(); at += LinksPerPart) {
        auto part = std::make_shared<Part>();
        for (size_t i = at; i < std::min(at + LinksPerPart, m_linkRecords.size()); ++i) {
            part->records.push_back(m_linkRecords[i].record);
            part->numbers.push_back(m_linkRecords[i].number);
        }
        int error = 0;
        part->za = m_directory->openWith(part->records, &error);
        if (!part->za) {
            *f = directoryFailure(error);
            return false;
        }
        part->owned = true;
        if (!scan(*part, true, f) || !extractPart(part, true, f))
            return false;
    }
    return true;
}

// Moves the settled lines at the front (or, at the end, all of them) into the tally.
void Extractor::settleReport(bool all)
{
    std::lock_guard lock(m_lock);
    while (!m_done.empty() && (all || m_done.front().settled)) {
        Done d = std::move(m_done.front());
        m_done.pop_front();
        if (d.shown.isEmpty())
            continue; // queued, never written
        ++(d.kind == Kind::File ? m_tally.files : d.kind == Kind::Folder ? m_tally.folders : m_tally.links);
        if (!d.renamedFrom.isEmpty()) {
            ++m_tally.renamed;
            if (m_tally.firstRenamed.size() < ListedInSummary)
                m_tally.firstRenamed << QStringLiteral("%1 (the name “%2” was taken)").arg(d.shown, d.renamedFrom);
        }
        if (m_tally.first.size() < size_t(ListedInFull))
            m_tally.first.push_back(std::move(d));
    }
}

Failure Extractor::directoryFailure(int code) const
{
    const ZipResult r = openFailure(code, m_archiveShown);
    return {ZipError(r.number), r.text};
}

bool Extractor::placeFolder(int parentFd, const std::string &name, const std::string &diskParent,
                            std::string *placed, bool *created, Failure *f)
{
    // A file queued for this folder may take the name first, as it would have in archive order.
    drainWriter();
    for (int n = 1; n <= MaxNumberedNames; n = n == 1 ? m_numberHints.next(diskParent, name) : n + 1) {
        const std::string candidate = n == 1 ? name : numberedName(name, n);
        if (::mkdirat(parentFd, candidate.c_str(), 0700) == 0) {
            *placed = candidate;
            *created = true;
            if (n > 1)
                m_numberHints.given(diskParent, name, n);
            return true;
        }
        const int err = errno;
        if (err != EEXIST) {
            *f = writeFailure(err, QStringLiteral("the folder “%1”").arg(fromStd(diskParent.empty() ? candidate : diskParent + "/" + candidate)));
            return false;
        }
        // The entry's own name is merged into when it is a real folder; a link, a file
        // or a numbered name that someone else made is never used.
        struct stat existing{};
        if (n == 1 && ::fstatat(parentFd, candidate.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISDIR(existing.st_mode)) {
            *placed = candidate;
            *created = false;
            return true;
        }
    }
    *f = {CannotWrite, QStringLiteral("No free name is left for the folder “%1”.").arg(fromStd(name))};
    return false;
}

// The folder of the first `count` parts, open. Folders stay open for the next entries
// (entries of one folder mostly come together, and a deeper folder is opened from the
// nearest one already open).
int Extractor::folderFor(const std::vector<std::string> &parts, size_t count, std::string *diskPath, bool *renamed,
                         Failure *f, FolderRef *ref, uint32_t *node)
{
    if (count == 0) {
        diskPath->clear();
        if (ref)
            ref->reset(); // the target folder
        if (node)
            *node = 0;
        return m_root;
    }
    uint32_t at = 0;
    size_t known = 0;
    for (; known < count; ++known) {
        const uint32_t found = m_folders.find(at, parts[known]);
        if (found == 0)
            break;
        at = found;
    }
    auto found = known == count ? m_openFolders.find(at) : m_openFolders.end();
    if (found == m_openFolders.end()) {
        OpenFolder folder;
        UniqueFd fd = openFolder(parts, count, &at, &folder.disk, f);
        if (!fd.valid())
            return -1;
        folder.renamed = m_folders[at].renamed;
        constexpr size_t MaxOpenFolders = 128;
        if (m_openFolders.size() >= MaxOpenFolders)
            m_openFolders.clear(); // the files queued for writing keep theirs open
        folder.fd = std::make_shared<const UniqueFd>(std::move(fd));
        found = m_openFolders.emplace(at, std::move(folder)).first;
    }
    *diskPath = found->second.disk;
    *renamed = *renamed || found->second.renamed;
    if (ref)
        *ref = found->second.fd;
    if (node)
        *node = at;
    return found->second.fd->get();
}

// Opens the folder of the first `count` parts, making what is missing; `*node` is that
// of the deepest part already known and becomes that of the folder.
UniqueFd Extractor::openFolder(const std::vector<std::string> &parts, size_t count, uint32_t *node,
                               std::string *diskPath, Failure *f)
{
    // The nodes of the path, as far as they are known.
    std::vector<uint32_t> path;
    for (uint32_t at = *node; at != 0; at = m_folders[at].parent)
        path.push_back(at);
    std::reverse(path.begin(), path.end());
    // From the deepest ancestor already open, or from the target folder.
    size_t first = std::min(path.size(), count - 1);
    const OpenFolder *ancestor = nullptr;
    for (; first > 0; --first) {
        auto open = m_openFolders.find(path[first - 1]);
        if (open != m_openFolders.end()) {
            ancestor = &open->second;
            break;
        }
    }
    UniqueFd current;
    int base = m_root;
    uint32_t parent = first > 0 ? path[first - 1] : 0;
    diskPath->clear();
    if (ancestor) {
        base = ancestor->fd->get();
        *diskPath = ancestor->disk;
    }
    for (size_t i = first; i < count; ++i) {
        const bool isKnown = i < path.size();
        std::string name;
        bool created = false;
        if (isKnown)
            name = m_folders[path[i]].disk;
        else if (!placeFolder(base, parts[i], *diskPath, &name, &created, f))
            return {};
        const int next = ::openat(base, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            const int err = errno;
            *f = {CannotWrite, QStringLiteral("The folder “%1” in “%2” changed during extraction (%3).")
                                   .arg(fromStd(name), m_folderShown, errnoText(err))};
            return {};
        }
        current.reset(next);
        base = next;
        if (!diskPath->empty())
            diskPath->push_back('/');
        diskPath->append(name);
        parent = isKnown ? path[i] : m_folders.add(parent, parts[i], std::move(name), created, next);
        // A path thousands of folders deep is made in well under a second, but a cancel
        // need not wait for it.
        if ((i - first) % 256 == 255 && stopRequested(f))
            return {};
    }
    *node = parent;
    return current;
}

// Gives the temporary file `tempName` (or the unnamed file open as `unnamedFd`) the name
// `name`, or the first free numbered one; nothing already there is replaced.
bool Extractor::place(int dirFd, const std::string &diskParent, const std::string &tempName, const std::string &name,
                      std::string *placed, Failure *f, int unnamedFd) const
{
    char procPath[40];
    if (unnamedFd >= 0)
        std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", unnamedFd);
    for (int n = 1; n <= MaxNumberedNames; n = n == 1 ? m_numberHints.next(diskParent, name) : n + 1) {
        const std::string candidate = n == 1 ? name : numberedName(name, n);
        const int err = unnamedFd < 0 ? renameNoReplace(dirFd, tempName.c_str(), candidate.c_str())
                      : ::linkat(AT_FDCWD, procPath, dirFd, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0
                                                                                                      : errno;
        if (err == 0) {
            *placed = candidate;
            if (n > 1)
                m_numberHints.given(diskParent, name, n);
            return true;
        }
        if (err != EEXIST) {
            *f = writeFailure(err, QStringLiteral("“%1”").arg(fromStd(candidate)));
            return false;
        }
    }
    *f = {CannotWrite, QStringLiteral("No free name is left for “%1”.").arg(fromStd(name))};
    return false;
}

bool Extractor::askPassword(const Entry &e, bool wrongBefore, Failure *f)
{
    QByteArray answer;
    const ZipQuery::PasswordAnswer given = m_query ? m_query->password(m_archiveShown, e.name, wrongBefore, &answer)
                                                   : ZipQuery::PasswordAnswer::Unanswered;
    switch (given) {
    case ZipQuery::PasswordAnswer::Given:
        m_password.take(answer.data(), size_t(answer.size()));
        answer.clear();
        m_answerFor = e.number;
        return true;
    case ZipQuery::PasswordAnswer::Cancelled:
        *f = {Cancelled, QStringLiteral("The extraction was cancelled at the password request for “%1”.").arg(e.name)};
        break;
    case ZipQuery::PasswordAnswer::Unanswered:
        *f = wrongBefore ? Failure{WrongPassword, QStringLiteral("The password given for “%1” is wrong.").arg(e.name)}
                         : Failure{EncryptedEntry, QStringLiteral("“%1” in the archive is encrypted (password protected), "
                                                                  "and no password was given.")
                                                       .arg(e.name)};
        break;
    }
    if (!answer.isEmpty())
        OPENSSL_cleanse(answer.data(), size_t(answer.size()));
    return false;
}

// Reads the entry's data into the file `out` or into `memory`, checked, asking for the
// password of an encrypted entry as needed:
//  * the password that opened the previous encrypted entry is tried first, silently;
//  * a password the check rejects is asked for again, saying that it was wrong; the same
//    answer given twice in a row ends the call (pnvzip::WrongPassword);
//  * under traditional encryption a password can pass its one-byte check and still be
//    wrong: data that then fails to decode or to match its CRC-32 counts as a wrong
//    password once; given again, the entry is damaged.
bool Extractor::readEntry(const Entry &e, int out, std::string *memory, Failure *f)
{
    bool answered = m_answerFor == e.number || m_answerUnproven; // m_password is the query's answer for this entry
    Secret failedAnswer;
    Outcome failedHow = Outcome::Done;
    Failure dataFailure;
    for (int round = 0;; ++round) {
        if (round > 0) {
            startEntry(e); // progress stays where it was until this round passes it
            if (memory)
                memory->clear();
            m_endsInHole = false;
            if (out >= 0 && (::ftruncate(out, 0) != 0 || ::lseek(out, 0, SEEK_SET) != 0)) {
                *f = writeFailure(errno, QStringLiteral("“%1”").arg(e.name));
                return false;
            }
        }
        if (e.cipher != Cipher::None && m_password.empty()) {
            if (!askPassword(e, false, f))
                return false;
            answered = true;
        }
        zip_uint64_t total = 0;
        const Outcome outcome = attempt(e, out, memory, &total, f);
        if (outcome == Outcome::Done) {
            if (e.cipher != Cipher::None) {
                m_answerUnproven = answered && e.cipher == Cipher::Traditional && e.size == 0;
                m_answerFor = NoEntry; // from now on the password is the one that worked
            }
            return true;
        }
        if (outcome == Outcome::Failed)
            return false;
        if (answered) {
            failedAnswer = m_password;
            failedHow = outcome;
            dataFailure = *f;
        }
        if (stopRequested(f) || !askPassword(e, answered, f))
            return false;
        if (answered && m_password == failedAnswer) {
            *f = failedHow == Outcome::Rejected
                ? Failure{WrongPassword, QStringLiteral("The password given for “%1” is wrong.").arg(e.name)}
                : dataFailure;
            return false;
        }
        answered = true;
    }
}

// One pass over the entry's data. Stored and deflated entries are read raw and inflated
// here (ISA-L, large buffers; CRC-32 by libdeflate), the methods of EntryDecoder with
// their decoders, after decryption: traditional by libzip, AES here; any other method
// (bzip2) goes through libzip's own decoder.
Outcome Extractor::attempt(const Entry &e, int out, std::string *memory, zip_uint64_t *total, Failure *f)
{
    constexpr size_t OutputSize = 1024 * 1024;
    constexpr size_t InputSize = 256 * 1024;
    const bool deflated = e.method == ZIP_CM_DEFLATE;
    const bool decoded = EntryDecoder::reads(e.method);
    const bool raw = deflated || e.method == ZIP_CM_STORE || decoded;
    const bool traditional = e.cipher == Cipher::Traditional;
    zip_file_t *zf = e.cipher == Cipher::Aes ? zip_fopen_index(m_za, e.index, ZIP_FL_ENCRYPTED)
                   : traditional ? zip_fopen_index_encrypted(m_za, e.index, raw ? ZIP_FL_COMPRESSED : 0, m_password.c_str())
                                 : zip_fopen_index(m_za, e.index, raw ? ZIP_FL_COMPRESSED : 0);
    if (!zf) {
        if (zip_error_code_zip(zip_get_error(m_za)) == ZIP_ER_WRONGPASSWD)
            return Outcome::Rejected;
        *f = readFailure(zip_get_error(m_za), e);
        return Outcome::Failed;
    }
    struct Closer {
        zip_file_t *zf;
        ~Closer() { zip_fclose(zf); }
    } closer{zf};
    // A failure of the data itself; under encryption it may be a wrong password that passed the
    // password check (asked about once).
    auto bad = [&](Failure failure) {
        *f = std::move(failure);
        return e.cipher != Cipher::None ? Outcome::Unconfirmed : Outcome::Failed;
    };
    auto damaged = [&](const QString &what) {
        return Failure{NotAnArchive, QStringLiteral("“%1” in the archive is damaged: %2.").arg(e.name, what)};
    };
    auto readFailed = [&]() {
        const Failure failure = readFailure(zip_file_get_error(zf), e);
        const int code = zip_error_code_zip(zip_file_get_error(zf));
        if (code == ZIP_ER_READ || code == ZIP_ER_SEEK || code == ZIP_ER_MEMORY) {
            *f = failure;
            return Outcome::Failed;
        }
        return bad(failure);
    };

    // AES: the salt and verifier first, the authentication code after the data.
    std::unique_ptr<WinZipAes> aes;
    zip_uint64_t aesLeft = 0;
    if (e.cipher == Cipher::Aes) {
        const size_t saltLength = WinZipAes::saltLength(e.aesStrength);
        unsigned char head[16 + WinZipAes::VerifierLength];
        const size_t headLength = saltLength + WinZipAes::VerifierLength;
        if (e.compressedSize < headLength + WinZipAes::CodeLength
            || zip_fread(zf, head, headLength) != zip_int64_t(headLength)) {
            *f = damaged(QStringLiteral("its encrypted data is cut short"));
            return Outcome::Failed;
        }
        aes = std::make_unique<WinZipAes>();
        bool failed = false;
        if (!aes->start(e.aesStrength, m_password.c_str(), m_password.size(), head, head + saltLength, &failed)) {
            if (!failed)
                return Outcome::Rejected;
            *f = {InternalError, QStringLiteral("The decryption library failed on “%1”.").arg(e.name)};
            return Outcome::Failed;
        }
        aesLeft = e.compressedSize - headLength - WinZipAes::CodeLength;
    }
    bool decryptFailed = false;
    // A small AES entry is decrypted whole and its authentication code checked before it is
    // decoded: a wrong password that passed the 2-byte check never reaches the decoders.
    const bool verifyFirst = aes && aesLeft <= MaxInMemory;
    std::string verified;
    struct VerifiedGuard {
        std::string &bytes;
        ~VerifiedGuard() { wipeString(bytes); }
    } verifiedGuard{verified};
    size_t verifiedAt = 0;
    bool fromVerified = false;
    // The entry's stored bytes, decrypted.
    auto fetch = [&](void *buffer, size_t size) -> zip_int64_t {
        if (fromVerified) {
            size = std::min(size, verified.size() - verifiedAt);
            std::memcpy(buffer, verified.data() + verifiedAt, size);
            verifiedAt += size;
            return zip_int64_t(size);
        }
        if (!aes)
            return zip_fread(zf, buffer, size);
        size = size_t(std::min<zip_uint64_t>(size, aesLeft));
        if (size == 0)
            return 0;
        const zip_int64_t n = zip_fread(zf, buffer, size);
        if (n > 0) {
            aesLeft -= zip_uint64_t(n);
            decryptFailed = !aes->decrypt(static_cast<unsigned char *>(buffer), size_t(n));
            if (decryptFailed)
                return -1;
        }
        return n;
    };
    // Reads the authentication code after the encrypted data and checks it.
    auto authenticate = [&] {
        unsigned char code[WinZipAes::CodeLength];
        if (aesLeft > 0 || zip_fread(zf, code, sizeof code) != zip_int64_t(sizeof code))
            return bad(damaged(QStringLiteral("its encrypted data is cut short")));
        // A wrong password passes the 2-byte check once in 65,536 tries: a code that does not
        // match may be that, and is asked about as a wrong password once.
        if (!aes->authentic(code))
            return bad({ChecksumMismatch, QStringLiteral("“%1” in the archive is damaged: its authentication code "
                                                         "does not match.")
                                              .arg(e.name)});
        return Outcome::Done;
    };
    if (verifyFirst) {
        verified.resize(size_t(aesLeft));
        size_t got = 0;
        while (got < verified.size()) {
            const zip_int64_t n = fetch(verified.data() + got, verified.size() - got);
            if (n < 0) {
                if (!decryptFailed)
                    return readFailed();
                *f = {InternalError, QStringLiteral("The decryption library failed on “%1”.").arg(e.name)};
                return Outcome::Failed;
            }
            if (n == 0)
                break;
            got += size_t(n);
        }
        if (const Outcome outcome = authenticate(); outcome != Outcome::Done)
            return outcome;
        fromVerified = true;
    }

    if (m_buffer.size() < OutputSize)
        m_buffer.resize(OutputSize);
    quint32 crc = 0;
    bool tooLong = false;
    // Takes `n` bytes of the entry's uncompressed data; false with `f` set on an error.
    auto take = [&](const char *data, size_t n) {
        *total += n;
        if (*total > e.size) {
            tooLong = true; // more data than recorded: reported below, unwritten
            return false;
        }
        crc = quint32(libdeflate_crc32(crc, data, n));
        if (memory) {
            memory->append(data, n);
        } else if (const int err = writeWithHoles(out, data, n, &m_endsInHole)) {
            *f = writeFailure(err, QStringLiteral("“%1”").arg(e.name));
            return false;
        }
        advance(e, n);
        return !stopRequested(f);
    };
    auto internal = [&] {
        *f = {InternalError, QStringLiteral("The decryption library failed on “%1”.").arg(e.name)};
        return Outcome::Failed;
    };

    bool stopped = false; // by the caller, a write failure or too much data
    if (decoded) {
        if (!m_decoder)
            m_decoder = std::make_unique<EntryDecoder>();
        switch (m_decoder->decode(
            e.method, e.flags, e.size,
            [&](unsigned char *to, size_t capacity) { return std::ptrdiff_t(fetch(to, capacity)); },
            [&](const unsigned char *data, size_t n) { return take(reinterpret_cast<const char *>(data), n); })) {
        case stream::Result::Finished:
        case stream::Result::Truncated: // cut short: the size check reports it
            break;
        case stream::Result::Stopped:
            stopped = true;
            break;
        case stream::Result::ReadFailed:
            return decryptFailed ? internal() : readFailed();
        case stream::Result::Damaged:
            return bad(damaged(QStringLiteral("its compressed data is invalid")));
        case stream::Result::Unsupported:
            // Under traditional encryption, possibly a wrong password's garbage.
            return bad({UnsupportedMethod, QStringLiteral("“%1” in the archive is compressed with %2 (method %3) "
                                                          "with settings this program cannot read, such as a "
                                                          "dictionary larger than it allows.")
                                               .arg(e.name, methodName(e.method))
                                               .arg(e.method)});
        }
    } else if (!deflated) {
        for (;;) {
            const zip_int64_t n = fetch(m_buffer.data(), m_buffer.size());
            if (n < 0)
                return decryptFailed ? internal() : readFailed();
            if (n == 0)
                break;
            if (!take(m_buffer.data(), size_t(n))) {
                stopped = true;
                break;
            }
        }
    } else {
        if (m_input.size() < InputSize)
            m_input.resize(InputSize);
        if (!m_inflate)
            m_inflate = std::make_unique<inflate_state>();
        inflate_state &state = *m_inflate;
        isal_inflate_init(&state);
        state.crc_flag = ISAL_DEFLATE;
        bool inputEnded = false;
        for (;;) {
            if (state.avail_in == 0 && !inputEnded) {
                const zip_int64_t n = fetch(m_input.data(), m_input.size());
                if (n < 0)
                    return decryptFailed ? internal() : readFailed();
                inputEnded = n == 0;
                state.next_in = m_input.data();
                state.avail_in = uint32_t(n);
            }
            state.next_out = reinterpret_cast<uint8_t *>(m_buffer.data());
            state.avail_out = uint32_t(m_buffer.size());
            const int r = isal_inflate(&state);
            if (r < 0)
                return bad(damaged(QStringLiteral("its compressed data is invalid")));
            const size_t produced = m_buffer.size() - state.avail_out;
            if (produced && !take(m_buffer.data(), produced)) {
                stopped = true;
                break;
            }
            if (state.block_state == ISAL_BLOCK_FINISH)
                break;
            if (produced == 0 && state.avail_in == 0 && inputEnded)
                break; // cut short: the size check reports it
        }
    }
    if (stopped && !tooLong)
        return Outcome::Failed;
    if (aes && !verifyFirst && !tooLong) {
        // Whatever follows the end of the compressed data is authenticated as well.
        while (aesLeft > 0) {
            const zip_int64_t n = fetch(m_input.empty() ? m_buffer.data() : reinterpret_cast<char *>(m_input.data()),
                                        m_input.empty() ? m_buffer.size() : m_input.size());
            if (n < 0)
                return decryptFailed ? internal() : readFailed();
            if (n == 0)
                break;
        }
        if (const Outcome outcome = authenticate(); outcome != Outcome::Done)
            return outcome;
    }
    if (tooLong)
        return bad({ChecksumMismatch, QStringLiteral("“%1” in the archive is damaged: it holds more than the %2 bytes "
                                                     "recorded.")
                                          .arg(e.name, groupedNumber(e.size))});
    if (*total != e.size)
        return bad({ChecksumMismatch, QStringLiteral("“%1” in the archive is damaged: it holds %2 bytes instead of %3.")
                                          .arg(e.name, groupedNumber(*total), groupedNumber(e.size))});
    if ((e.cipher != Cipher::Aes || e.aesCrc) && crc != e.crc)
        return bad({ChecksumMismatch, QStringLiteral("“%1” in the archive is damaged: its CRC-32 does not match.").arg(e.name)});
    return Outcome::Done;
}

mode_t Extractor::fileMode(const Entry &e) const
{
    mode_t mode = e.mode ? (*e.mode & 0777) : (e.dosReadOnly ? 0444 : 0666);
    return (mode & ~m_umask) | S_IRUSR; // no set-user/group-ID or sticky bits; the owner can read
}

// A new, empty file in `dir` with its final permissions: unnamed until it is complete
// where the file system allows, otherwise under a fresh temporary name (`tempName`).
UniqueFd Extractor::createFile(int dir, const std::string &leaf, mode_t mode, std::string *tempName, int *err) const
{
    tempName->clear();
    if (m_anonymousFiles) {
        const int fd = ::openat(dir, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, mode);
        if (fd >= 0)
            return UniqueFd(fd);
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
            *err = errno;
            return {};
        }
    }
    return createTempFile(dir, leaf, tempName, err, mode);
}

// Creates the file, lets `fill` write its data, sets its times and puts it in place under
// its name (or a numbered one); on any failure nothing of it is left.
bool Extractor::storeFile(const Entry &e, int dir, const std::string &diskParent, bool renamed, mode_t mode,
                          const std::function<bool(int, bool *)> &fill, Done *line, Failure *f,
                          const std::function<bool()> &mayPlace) const
{
    const std::string &leaf = e.parts.back();
    std::string tempName;
    int err = 0;
    // Decrypted data is readable by its owner only until it is verified.
    const mode_t createMode = e.cipher != Cipher::None ? (mode & S_IRWXU) : mode;
    UniqueFd out = createFile(dir, leaf, createMode, &tempName, &err);
    if (!out.valid()) {
        *f = writeFailure(err, QStringLiteral("“%1”").arg(e.name));
        return false;
    }
    bool keep = false;
    struct TempGuard {
        int dir;
        const std::string &name;
        bool &keep;
        ~TempGuard() { if (!keep && !name.empty()) ::unlinkat(dir, name.c_str(), 0); }
    } guard{dir, tempName, keep};

    bool endsInHole = false;
    if (!fill(out.get(), &endsInHole))
        return false;
    if (endsInHole && ::ftruncate(out.get(), off_t(e.size)) != 0) { // the size, after a final hole
        *f = writeFailure(errno, QStringLiteral("“%1”").arg(e.name));
        return false;
    }
    if ((createMode != mode || (m_umask & S_IRUSR)) && ::fchmod(out.get(), mode) != 0) { // verified; or the umask took the owner's read
        *f = writeFailure(errno, QStringLiteral("“%1”").arg(e.name));
        return false;
    }
    if (e.hasTime) {
        const timespec times[2] = {e.atime, e.mtime};
        ::futimens(out.get(), times); // a time the file system cannot hold is not an error
    }
    if (mayPlace && !mayPlace())
        return false; // dropped: nothing of it is left
    std::string placed;
    if (tempName.empty()) {
        if (!place(dir, diskParent, tempName, leaf, &placed, f, out.get()))
            return false;
        if (::close(out.release()) != 0) {
            const int closeErr = errno;
            ::unlinkat(dir, placed.c_str(), 0);
            *f = writeFailure(closeErr, QStringLiteral("“%1”").arg(e.name));
            return false;
        }
    } else {
        if (::close(out.release()) != 0) {
            *f = writeFailure(errno, QStringLiteral("“%1”").arg(e.name));
            return false;
        }
        if (!place(dir, diskParent, tempName, leaf, &placed, f))
            return false;
    }
    keep = true;
    const std::string shown = diskParent.empty() ? placed : diskParent + "/" + placed;
    *line = {fromStd(shown), (renamed || placed != leaf) ? e.name : QString(), Kind::File, false};
    return true;
}

bool Extractor::extractFile(const Entry &e, Failure *f)
{
    drainWriter();
    if (writerFailed(f))
        return false;
    // A small encrypted entry is decrypted and verified in memory before any of it is written.
    std::string plain;
    struct PlainGuard {
        std::string &bytes;
        ~PlainGuard() { wipeString(bytes); }
    } plainGuard{plain};
    const bool inMemory = e.cipher != Cipher::None && e.size <= MaxInMemory;
    if (inMemory) {
        plain.reserve(size_t(e.size));
        if (!readEntry(e, -1, &plain, f))
            return false;
    }
    std::string diskParent;
    bool renamed = false;
    const int dir = folderFor(e.parts, e.parts.size() - 1, &diskParent, &renamed, f);
    if (dir < 0)
        return false;
    Done line;
    const auto fill = [&](int out, bool *endsInHole) {
        m_endsInHole = false;
        bool ok = true;
        if (!inMemory) {
            ok = readEntry(e, out, nullptr, f);
        } else if (const int err = writeWithHoles(out, plain.data(), plain.size(), &m_endsInHole)) {
            *f = writeFailure(err, QStringLiteral("“%1”").arg(e.name));
            ok = false;
        }
        *endsInHole = m_endsInHole;
        return ok;
    };
    if (!storeFile(e, dir, diskParent, renamed, fileMode(e), fill, &line, f))
        return false;
    line.settled = true;
    m_done.push_back(std::move(line));
    return true;
}

// Reads and checks a small entry here and queues it for the writer.
bool Extractor::queueFile(const Entry &e, Failure *f)
{
    if (writerFailed(f))
        return false;
    WriteJob job;
    job.data.reserve(size_t(e.size));
    zip_uint64_t total = 0;
    if (attempt(e, -1, &job.data, &total, f) != Outcome::Done)
        return false;
    const int dir = folderFor(e.parts, e.parts.size() - 1, &job.diskParent, &job.renamed, f, &job.folder);
    if (dir < 0)
        return false;
    job.entry = e;
    job.mode = fileMode(e);
    m_done.emplace_back();
    job.slot = &m_done.back();
    const size_t bytes = job.data.size();
    std::unique_lock lock(m_lock);
    if (!m_writeFailure && !m_jobs.empty()
        && (m_queuedBytes + bytes > MaxQueuedBytes || m_jobs.size() >= MaxQueuedFiles)) {
        // Full: wait until half of it is written, rather than wake for every file written.
        m_waitingRoom = true;
        m_room.wait(lock, [&] { return roomAgain(); });
        m_waitingRoom = false;
    }
    if (m_writeFailure) {
        *f = *m_writeFailure;
        return false;
    }
    m_queuedBytes += bytes;
    job.number = m_queuedCount++;
    m_jobs.push_back(std::move(job));
    if (m_writers.empty()) {
        // Making files is mostly the kernel's work, and that work spreads over the cores.
        const unsigned count = std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
        for (unsigned i = 0; i < count; ++i)
            m_writers.emplace_back([this] { writerLoop(); });
    }
    if (m_idleWriters > 0)
        m_wake.notify_one();
    return true;
}

// Writers take jobs in archive order and write them side by side, but give them their
// names one after another in archive order, so numbered names come out as one thread
// would make them; after a failure, later files are dropped.
void Extractor::writerLoop()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        ++m_idleWriters;
        m_wake.wait(lock, [&] { return m_writerEnds || !m_jobs.empty(); });
        --m_idleWriters;
        if (m_jobs.empty())
            return; // the end
        if (m_writerDiscards) {
            m_queuedBytes = 0;
            m_jobs.clear();
            m_settled.notify_all();
            m_room.notify_all();
            continue;
        }
        // A few files at once: the names are given in archive order, so a writer that took
        // one file at a time would wait for the other writer's turn at almost every file.
        std::vector<WriteJob> batch;
        size_t batchBytes = 0;
        while (!m_jobs.empty() && batch.size() < BatchFiles && (batch.empty() || batchBytes < BatchBytes)) {
            batchBytes += m_jobs.front().data.size();
            batch.push_back(std::move(m_jobs.front()));
            m_jobs.pop_front();
            ++m_writing;
        }
        lock.unlock();
        for (WriteJob &job : batch)
            writeJob(job, lock);
    }
}

// Writes one file taken from the queue; returns with `lock` held.
void Extractor::writeJob(WriteJob &job, std::unique_lock<std::mutex> &lock)
{
    if (lock.owns_lock())
        lock.unlock();
    const int dir = job.folder ? job.folder->get() : m_root;
    Failure failure;
    const auto fill = [&](int out, bool *endsInHole) {
        if (const int err = writeWithHoles(out, job.data.data(), job.data.size(), endsInHole)) {
            failure = writeFailure(err, QStringLiteral("“%1”").arg(job.entry.name));
            return false;
        }
        return true;
    };
    bool turnTaken = false;
    bool dropped = false;
    const auto takeTurn = [&] {
        std::unique_lock turn(m_lock);
        if (m_namesInTurn)
        {
            ++m_waitingSettled;
            m_settled.wait(turn, [&] { return m_placeTurn == job.number; });
            --m_waitingSettled;
        }
        turnTaken = true;
        dropped = m_writerDiscards || (m_writeFailure && m_failedJob < job.number);
        return !dropped;
    };
    const bool ok = storeFile(job.entry, dir, job.diskParent, job.renamed, job.mode, fill, job.slot, &failure,
                              takeTurn);
    if (!turnTaken)
        takeTurn();
    const size_t bytes = job.data.size();
    job.folder.reset(); // the folder may close here
    lock.lock();
    job.slot->settled = true;
    if (!ok && !dropped && (!m_writeFailure || job.number < m_failedJob)) {
        m_writeFailure = failure;
        m_failedJob = job.number;
    }
    ++m_placeTurn; // in turn, or only counting
    --m_writing;
    m_queuedBytes -= std::min(m_queuedBytes, bytes);
    if (m_waitingSettled > 0)
        m_settled.notify_all();
    if (m_waitingRoom && roomAgain())
        m_room.notify_all();
}

// Waits until every queued file is written (or dropped after a failure).
void Extractor::drainWriter()
{
    std::unique_lock lock(m_lock);
    ++m_waitingSettled;
    m_settled.wait(lock, [&] { return m_jobs.empty() && m_writing == 0; });
    --m_waitingSettled;
}

bool Extractor::writerFailed(Failure *f)
{
    std::lock_guard lock(m_lock);
    if (!m_writeFailure)
        return false;
    *f = *m_writeFailure;
    return true;
}

// Ends the writer: after the queued files, or dropping them after a cancel or a failure.
void Extractor::stopWriter(bool discard)
{
    if (m_writers.empty())
        return;
    {
        std::lock_guard lock(m_lock);
        m_writerDiscards = discard;
        if (discard) {
            m_jobs.clear();
            m_queuedBytes = 0;
        }
        m_writerEnds = true;
    }
    m_wake.notify_all();
    // The writers finish their jobs first unless told to drop them.
    drainWriter();
    for (std::thread &writer : m_writers)
        writer.join();
    m_writers.clear();
}

bool Extractor::extractFolder(const Entry &e, Failure *f)
{
    std::string diskPath;
    bool renamed = false;
    uint32_t node = 0;
    if (folderFor(e.parts, e.parts.size(), &diskPath, &renamed, f, nullptr, &node) < 0)
        return false;
    node = m_folders[node].same;
    FolderTree::Node &folder = m_folders[node];
    if (folder.created)
        m_folders.setAttributes(node, FolderAttributes{e.mode, e.hasTime, e.mtime, e.atime});
    if (folder.listed)
        return true; // the same folder twice
    folder.listed = true;
    m_done.push_back({fromStd(diskPath) + QLatin1Char('/'), renamed ? e.name : QString(), Kind::Folder,
                      !folder.created, true});
    return true;
}

bool Extractor::extractLink(Entry &e, Failure *f)
{
    if (!e.targetRead) { // encrypted: read now that a password can be asked for
        if (e.size > MaxLinkTarget) {
            *f = {NotAnArchive, QStringLiteral("The link “%1” in the archive is damaged.").arg(e.name)};
            return false;
        }
        if (!readEntry(e, -1, &e.linkTarget, f))
            return false;
        e.targetRead = true;
    }
    QString why;
    if (!linkTargetStaysInside(e.linkTarget, e.parts.size() - 1, &why))
        return leaveOut(e, why);
    std::string diskParent;
    bool renamed = false;
    const int dir = folderFor(e.parts, e.parts.size() - 1, &diskParent, &renamed, f);
    if (dir < 0)
        return false;
    if (!namesTakenBackAreFolders(m_root, diskParent, e.linkTarget))
        return leaveOut(e, QStringLiteral("a “..” in its target takes back a name that is not a folder here"));
    const std::string parentAbsolute = diskParent.empty() ? m_rootReal : m_rootReal + "/" + diskParent;
    const QString through = QStringLiteral("it would lead outside through what is already in the folder");
    if (!resolvesInside(m_rootReal, parentAbsolute + "/" + e.linkTarget))
        return leaveOut(e, through);
    int err = 0;
    const std::string tempName = makeTemporaryLink(dir, e.parts.back(), e.linkTarget, &err);
    if (tempName.empty()) {
        *f = writeFailure(err, QStringLiteral("the link “%1”").arg(e.name));
        return false;
    }
    if (e.hasTime) {
        const timespec times[2] = {e.atime, e.mtime};
        ::utimensat(dir, tempName.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    std::string placed;
    if (!place(dir, diskParent, tempName, e.parts.back(), &placed, f)) {
        ::unlinkat(dir, tempName.c_str(), 0);
        return false;
    }
    // Checked once more now that it exists, in case something changed meanwhile.
    if (!resolvesInside(m_rootReal, parentAbsolute + "/" + e.linkTarget)) {
        ::unlinkat(dir, placed.c_str(), 0);
        return leaveOut(e, through);
    }
    const std::string shown = diskParent.empty() ? placed : diskParent + "/" + placed;
    m_done.push_back({fromStd(shown) + QStringLiteral(" → ") + fromStd(e.linkTarget),
                      (renamed || placed != e.parts.back()) ? e.name : QString(), Kind::Link, false, true});
    return true;
}

// A link that would lead outside the folder is not made; the report names it.
bool Extractor::leaveOut(const Entry &e, const QString &why)
{
    std::lock_guard lock(m_lock);
    if (m_tally.firstLeftOut.size() < ListedInSummary)
        m_tally.firstLeftOut << QStringLiteral("%1 → %2 (%3)").arg(e.name, fromStd(e.linkTarget), why);
    ++m_tally.leftOut;
    return true;
}

bool Extractor::finishFolders(Failure *f)
{
    return m_folders.finish(m_root, m_umask, [&] { return stopRequested(f); });
}

QString Extractor::report() const
{
    const Tally &t = m_tally;
    QString leftOut;
    if (t.leftOut) {
        leftOut = t.leftOut == 1 ? QStringLiteral("1 link was left out, as it would lead outside the folder:\n")
                                 : QStringLiteral("%1 links were left out, as they would lead outside the folder:\n")
                                       .arg(groupedNumber(t.leftOut));
        for (const QString &item : t.firstLeftOut)
            leftOut += QStringLiteral("  ") + item + QLatin1Char('\n');
        if (t.leftOut > quint64(t.firstLeftOut.size()))
            leftOut += QStringLiteral("  … and %1 more.\n").arg(groupedNumber(t.leftOut - quint64(t.firstLeftOut.size())));
    }
    if (t.lines() == 0) {
        if (!leftOut.isEmpty())
            return QStringLiteral("Nothing was extracted from %1 into %2.\n").arg(m_archiveShown, m_folderShown) + leftOut;
        return QStringLiteral("The archive %1 is empty; nothing was extracted into %2.").arg(m_archiveShown, m_folderShown);
    }

    QStringList counts;
    if (t.files)
        counts << (t.files == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(groupedNumber(t.files)));
    if (t.folders)
        counts << (t.folders == 1 ? QStringLiteral("1 folder") : QStringLiteral("%1 folders").arg(groupedNumber(t.folders)));
    if (t.links)
        counts << (t.links == 1 ? QStringLiteral("1 link") : QStringLiteral("%1 links").arg(groupedNumber(t.links)));
    QString text = QStringLiteral("Extracted %1 from %2 into %3")
                       .arg(counts.join(QStringLiteral(", ")), m_archiveShown, m_folderShown);
    if (m_names.readAsLegacy())
        text += QStringLiteral(", names read as %1").arg(codePageLabel(m_names.chosen()));

    const bool summarise = t.lines() > quint64(ListedInFull);
    const int listed = summarise ? ListedInSummary : int(t.lines());
    text += summarise ? QStringLiteral(". The first %1:\n").arg(listed) : QStringLiteral(":\n");
    for (int i = 0; i < listed; ++i) {
        const Done &d = t.first[size_t(i)];
        text += QStringLiteral("  ") + d.shown;
        if (d.merged)
            text += QStringLiteral(" (already there; merged)");
        else if (!d.renamedFrom.isEmpty())
            text += QStringLiteral(" (the name “%1” was taken)").arg(d.renamedFrom);
        text += QLatin1Char('\n');
    }
    if (summarise)
        text += QStringLiteral("  … and %1 more.\n").arg(groupedNumber(t.lines() - quint64(listed)));
    if (t.renamed) {
        text += t.renamed == 1 ? QStringLiteral("1 item was saved under a new name, as its name was taken.\n")
                               : QStringLiteral("%1 items were saved under new names, as their names were taken.\n")
                                     .arg(groupedNumber(t.renamed));
        if (summarise) {
            for (const QString &item : t.firstRenamed)
                text += QStringLiteral("  ") + item + QLatin1Char('\n');
            if (t.renamed > quint64(ListedInSummary))
                text += QStringLiteral("  … and %1 more.\n").arg(groupedNumber(t.renamed - quint64(ListedInSummary)));
        }
    }
    text += leftOut;
    text += QStringLiteral("Nothing already in the folder was replaced.");
    return text;
}

QString Extractor::keptNote(bool cancelled) const
{
    const quint64 lines = m_tally.lines();
    if (lines == 0)
        return QStringLiteral("Nothing was extracted.");
    return QStringLiteral("The %1 extracted before the %2 %3 kept; each of them is complete and checked, "
                          "and nothing half-written was left.")
        .arg(lines == 1 ? QStringLiteral("item") : QStringLiteral("%1 items").arg(groupedNumber(lines)),
             cancelled ? QStringLiteral("cancel") : QStringLiteral("error"),
             lines == 1 ? QStringLiteral("was") : QStringLiteral("were"));
}

ZipResult Extractor::run()
{
    Failure f;
    // The directory is read in parts where it can be walked here; otherwise, or when the
    // library refuses a part, the library reads the whole archive and its verdict stands.
    bool unreadable = true;
    m_directory.emplace();
    if (!m_directory->open(m_archivePath.constData()) || !check(&f, &unreadable)) {
        if (!unreadable)
            return {int(f.number), f.text};
        m_directory.reset();
        int openError = 0;
        m_whole = openArchiveLeniently(m_archivePath.constData(), &openError);
        if (!m_whole)
            return openFailure(openError, m_archiveShown);
        if (!check(&f, &unreadable))
            return {int(f.number), f.text};
    }
    // The first password is asked for before anything is written.
    if (m_firstEncrypted && !askPassword(*m_firstEncrypted, false, &f))
        return {int(f.number), f.text + QStringLiteral(" Nothing was extracted.")};
    m_anonymousFiles = ::access("/proc/self/fd", X_OK) == 0 // unnamed files are linked through it
                       && !testing::unnamedFilesRefused();
    bool ok = extractAll(&f);
    if (ok) {
        drainWriter();
        ok = !writerFailed(&f) && extractLinks(&f);
    }
    // Files read before a damaged entry are written, as they would have been one by one; a
    // cancel drops those not yet begun.
    stopWriter(!ok && f.number == Cancelled);
    // A file that failed to be written came before whatever stopped the reading.
    if (writerFailed(&f))
        ok = false;
    settleReport(true);
    m_openFolders.clear();
    Failure stopped;
    if (!finishFolders(&stopped) && ok) {
        ok = false; // cancelled: the folders not reached keep the owner's rights alone
        f = stopped;
    }
    if (!ok)
        return {int(f.number), f.text + QLatin1Char(' ') + keptNote(f.number == Cancelled)};
    if (m_query)
        m_query->progress(m_total, m_total, m_lastName);
    return {0, report()};
}

ZipResult failure(ZipError number, const QString &text)
{
    return ZipResult{int(number), text};
}

} // namespace

ZipResult unzipFile(const QString &archive, const QString &folder, ZipQuery *query)
{
    if (archive.isEmpty())
        return failure(EmptyPath, QStringLiteral("No archive to extract was given (the archive path is empty)."));
    if (folder.isEmpty())
        return failure(EmptyPath, QStringLiteral("No folder to extract into was given (the folder path is empty)."));
    const QString archiveShown = QDir::cleanPath(QFileInfo(archive).absoluteFilePath());
    const QString folderShown = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QByteArray archivePath = QFile::encodeName(archive);
    const QByteArray folderPath = QFile::encodeName(folder);

    struct stat archiveInfo{};
    if (::stat(archivePath.constData(), &archiveInfo) != 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            return failure(SourceUnreadable, QStringLiteral("The archive %1 does not exist.").arg(archiveShown));
        return failure(SourceUnreadable, QStringLiteral("The archive %1 cannot be read: %2.").arg(archiveShown, errnoText(err)));
    }
    if (S_ISDIR(archiveInfo.st_mode))
        return failure(SourceUnreadable, QStringLiteral("%1 is a folder, not an archive.").arg(archiveShown));
    if (!S_ISREG(archiveInfo.st_mode))
        return failure(SourceUnreadable, QStringLiteral("%1 is not a regular file, so not an archive.").arg(archiveShown));
    if (archiveInfo.st_size == 0)
        return failure(NotAnArchive, QStringLiteral("%1 is empty; it is not a zip archive.").arg(archiveShown));

    UniqueFd root(::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid()) {
        const int err = errno;
        if (err == ENOENT)
            return failure(FolderMissing, QStringLiteral("The folder %1 does not exist.").arg(folderShown));
        if (err == ENOTDIR)
            return failure(CannotWrite, QStringLiteral("Cannot extract into %1: it is not a folder.").arg(folderShown));
        return failure(CannotWrite, QStringLiteral("Cannot extract into %1: %2.").arg(folderShown, errnoText(err)));
    }
    if (::faccessat(root.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
        return failure(CannotWrite, QStringLiteral("Cannot write in the folder %1: %2.").arg(folderShown, errnoText(errno)));
    char *real = ::realpath(folderPath.constData(), nullptr);
    if (!real)
        return failure(CannotWrite, QStringLiteral("Cannot extract into %1: %2.").arg(folderShown, errnoText(errno)));
    std::string rootReal(real);
    std::free(real);

    return Extractor(archivePath, root.get(), std::move(rootReal), archiveShown, folderShown, query).run();
}

} // namespace pnvzip
