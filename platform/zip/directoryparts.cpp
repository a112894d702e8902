#include "directoryparts.h"

#include "entrydecoder.h"
#include "entrynames.h"
#include "zipfunctions.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace pnvzip::unzip {

namespace {

// The directory is read in parts of at most this many records and about this many bytes.
constexpr size_t PartRecords = 4096;
constexpr size_t PartBytes = 1024 * 1024;

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

Part::~Part()
{
    if (owned && za)
        zip_discard(za);
}

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

DirectoryParts::DirectoryParts(QByteArray archivePath, QString archiveShown)
    : m_archivePath(std::move(archivePath)), m_archiveShown(std::move(archiveShown))
{
}

DirectoryParts::~DirectoryParts()
{
    if (m_whole)
        zip_discard(m_whole);
}

bool DirectoryParts::openInParts()
{
    m_directory.emplace();
    return m_directory->open(m_archivePath.constData());
}

bool DirectoryParts::openWhole(int *openError)
{
    m_directory.reset();
    m_whole = openArchiveLeniently(m_archivePath.constData(), openError);
    return m_whole != nullptr;
}

bool DirectoryParts::holdsAll(const Part &part) const
{
    return !m_directory || (part.first == 0 && m_directory->atEnd());
}

bool DirectoryParts::linkPart(const std::vector<LinkRecord> &links, size_t from, size_t count, Part *part, Failure *f)
{
    for (size_t i = from; i < std::min(from + count, links.size()); ++i) {
        part->records.push_back(links[i].record);
        part->numbers.push_back(links[i].number);
    }
    int error = 0;
    part->za = m_directory->openWith(part->records, &error);
    if (!part->za) {
        *f = directoryFailure(error);
        return false;
    }
    part->owned = true;
    return scan(*part, true, f);
}

Failure DirectoryParts::directoryFailure(int code) const
{
    const ZipResult r = openFailure(code, m_archiveShown);
    return {ZipError(r.number), r.text};
}

bool DirectoryParts::chooseNames(ZipQuery *query, Failure *f)
{
    m_names = NameCodePage();
    const QString forced = query ? query->namesCodePage() : QString();
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
        if (stopRequested(query, f)) {
            f->text += QStringLiteral(" Nothing was extracted.");
            return false;
        }
        Part part;
        Failure ignored; // the check walks the same parts and reports it
        if (next(&part, false, false, &ignored) != Next::Part)
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
std::string DirectoryParts::entryName(zip_t *za, zip_uint64_t index, const char *guessed) const
{
    const char *raw = unmarkedName(za, index);
    return raw ? m_names.decode(raw) : std::string(guessed);
}

void DirectoryParts::rewind()
{
    m_walked = 0;
    if (m_directory)
        m_directory->rewind();
}

// The next part of the archive, scanned when `scanIt`: the whole archive at once when
// the library reads its directory itself.
DirectoryParts::Next DirectoryParts::next(Part *part, bool readLinks, bool scanIt, Failure *f)
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

bool DirectoryParts::classifyEncryption(Entry &e, const zip_stat_t &st, Failure *f)
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
bool DirectoryParts::scan(Part &part, bool readLinks, Failure *f)
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

} // namespace pnvzip::unzip
