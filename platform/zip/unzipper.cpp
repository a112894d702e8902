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
//
// The stages live apart: DirectoryParts walks the directory a part at a time, the check
// pass (checkArchive) refuses what cannot be extracted before anything is written,
// UnzipPasswords asks for passwords, EntryReader reads and checks an entry's data,
// EntryWriters puts files and folders in place (the writer threads among them) and
// UnzipReport keeps what the report shows. This file runs them in order.

#include "zipengine.h"

#include "checkpass.h"
#include "directoryparts.h"
#include "entryreader.h"
#include "entrywriters.h"
#include "fsutil.h"
#include "unzipfolders.h"
#include "unziplinks.h"
#include "unzippasswords.h"
#include "unzipreport.h"
#include "unzipsecrets.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace pnvzip {

namespace {

using namespace unzip;

class Extractor
{
public:
    Extractor(QByteArray archivePath, int rootFd, std::string rootReal, QString archiveShown, QString folderShown,
              ZipQuery *query)
        : m_parts(archivePath, archiveShown), m_root(rootFd), m_rootReal(std::move(rootReal)),
          m_archiveShown(archiveShown), m_folderShown(folderShown), m_umask(processUmask()), m_query(query),
          m_passwords(query, archiveShown),
          m_reader(query, folderShown, [this](const Entry &e, size_t n) { advance(e, n); }),
          m_writers(rootFd, m_umask, folderShown), m_report(archiveShown, folderShown, m_writers.lock())
    {
    }

    ~Extractor() { m_writers.stop(true); }
    ZipResult run();

private:
    bool extractPart(const std::shared_ptr<Part> &part, bool links, Failure *f);
    bool extractAll(Failure *f);
    bool extractLinks(Failure *f);
    bool extractFile(const Entry &e, Failure *f);
    bool readEntry(const Entry &e, int out, std::string *memory, Failure *f);
    bool queueFile(const Entry &e, Failure *f);
    bool extractFolder(const Entry &e, Failure *f);
    bool extractLink(Entry &e, Failure *f);
    int folderFor(const std::vector<std::string> &parts, size_t count, std::string *diskPath, bool *renamed,
                  Failure *f, FolderRef *ref = nullptr, uint32_t *node = nullptr);
    UniqueFd openFolder(const std::vector<std::string> &parts, size_t count, uint32_t *node, std::string *diskPath,
                        Failure *f);
    bool leaveOut(const Entry &e, const QString &why);
    bool finishFolders(Failure *f);
    bool stopRequested(Failure *f) { return unzip::stopRequested(m_query, f); }
    void startEntry(const Entry &e);
    void advance(const Entry &e, size_t n);

    DirectoryParts m_parts;
    zip_t *m_za = nullptr; // the part being extracted
    int m_root;
    std::string m_rootReal;
    QString m_archiveShown;
    QString m_folderShown;
    mode_t m_umask;
    ZipQuery *m_query;

    // Progress: bytes of file data handled of the total, reported as the contract says
    // (never going down, at most every ProgressStep bytes within an entry).
    qint64 m_entryStart = 0; // bytes done before the current entry
    qint64 m_doneBytes = 0;
    qint64 m_reported = -1;

    // What the check gathers: every entry is checked before anything is written.
    CheckResult m_checked;
    UnzipPasswords m_passwords;
    EntryReader m_reader;
    bool m_endsInHole = false; // the file being written

    // The archive's folders met so far.
    FolderTree m_folders;
    struct OpenFolder
    {
        FolderRef fd;
        std::string disk;
        bool renamed = false;
    };
    // Folder node -> its open descriptor; a bounded set, as entries of one folder mostly
    // come together.
    std::unordered_map<uint32_t, OpenFolder> m_openFolders;
    // Declared before the report, so they stop (and stop filling in its lines) first.
    EntryWriters m_writers;
    UnzipReport m_report;
};

void Extractor::startEntry(const Entry &e)
{
    m_doneBytes = m_entryStart;
    if (m_query && m_entryStart >= m_reported) {
        m_reported = m_entryStart;
        m_query->progress(m_entryStart, m_checked.total, e.name);
    }
}

void Extractor::advance(const Entry &e, size_t n)
{
    constexpr qint64 ProgressStep = 4 * 1024 * 1024;
    m_doneBytes += qint64(n);
    if (m_query && m_doneBytes >= m_reported + ProgressStep && m_doneBytes <= m_checked.total) {
        m_reported = m_doneBytes;
        m_query->progress(m_doneBytes, m_checked.total, e.name);
    }
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
        if (m_report.unsettled() >= MaxUnsettled)
            m_report.settle(false);
        if (!ok)
            return false;
    }
    return true;
}

// Folders and files in archive order.
bool Extractor::extractAll(Failure *f)
{
    if (m_checked.kept)
        return extractPart(m_checked.kept, false, f);
    m_parts.rewind();
    for (;;) {
        auto part = std::make_shared<Part>();
        switch (m_parts.next(part.get(), false, true, f)) {
        case DirectoryParts::Next::End:
            return true;
        case DirectoryParts::Next::Failed:
            return false;
        case DirectoryParts::Next::Part:
            break;
        }
        if (!extractPart(part, false, f))
            return false;
    }
}

// The links, last, so that none can be in the way of a file or folder.
bool Extractor::extractLinks(Failure *f)
{
    if (m_checked.kept)
        return extractPart(m_checked.kept, true, f);
    constexpr size_t LinksPerPart = 1024;
    for (size_t at = 0; at < m_checked.linkRecords.size(); at += LinksPerPart) {
        auto part = std::make_shared<Part>();
        if (!m_parts.linkPart(m_checked.linkRecords, at, LinksPerPart, part.get(), f) || !extractPart(part, true, f))
            return false;
    }
    return true;
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
        else if (!m_writers.placeFolder(base, parts[i], *diskPath, &name, &created, f))
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

bool Extractor::extractFile(const Entry &e, Failure *f)
{
    m_writers.drain();
    if (m_writers.failed(f))
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
            *f = writeFailure(err, QStringLiteral("“%1”").arg(e.name), m_folderShown);
            ok = false;
        }
        *endsInHole = m_endsInHole;
        return ok;
    };
    if (!m_writers.store(e, dir, diskParent, renamed, m_writers.fileMode(e), fill, &line, f))
        return false;
    line.settled = true;
    m_report.add(std::move(line));
    return true;
}

// Reads the entry's data into the file `out` or into `memory`, checked, asking for the
// password of an encrypted entry as needed.
bool Extractor::readEntry(const Entry &e, int out, std::string *memory, Failure *f)
{
    const auto restart = [&](Failure *f) {
        startEntry(e); // progress stays where it was until this round passes it
        if (memory)
            memory->clear();
        m_endsInHole = false;
        if (out >= 0 && (::ftruncate(out, 0) != 0 || ::lseek(out, 0, SEEK_SET) != 0)) {
            *f = writeFailure(errno, QStringLiteral("“%1”").arg(e.name), m_folderShown);
            return false;
        }
        return true;
    };
    const auto attempt = [&](Failure *f) {
        zip_uint64_t total = 0;
        return m_reader.read(m_za, e, m_passwords.current(), out, memory, &m_endsInHole, &total, f);
    };
    return m_passwords.read(e, restart, attempt, f);
}

// Reads and checks a small entry here and queues it for the writers.
bool Extractor::queueFile(const Entry &e, Failure *f)
{
    if (m_writers.failed(f))
        return false;
    WriteJob job;
    job.data.reserve(size_t(e.size));
    zip_uint64_t total = 0;
    if (m_reader.read(m_za, e, m_passwords.current(), -1, &job.data, &m_endsInHole, &total, f) != Outcome::Done)
        return false;
    const int dir = folderFor(e.parts, e.parts.size() - 1, &job.diskParent, &job.renamed, f, &job.folder);
    if (dir < 0)
        return false;
    job.entry = e;
    job.mode = m_writers.fileMode(e);
    job.slot = &m_report.add();
    return m_writers.queue(std::move(job), f);
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
    m_report.add({fromStd(diskPath) + QLatin1Char('/'), renamed ? e.name : QString(), Kind::Folder,
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
        *f = writeFailure(err, QStringLiteral("the link “%1”").arg(e.name), m_folderShown);
        return false;
    }
    if (e.hasTime) {
        const timespec times[2] = {e.atime, e.mtime};
        ::utimensat(dir, tempName.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    std::string placed;
    if (!m_writers.place(dir, diskParent, tempName, e.parts.back(), &placed, f)) {
        ::unlinkat(dir, tempName.c_str(), 0);
        return false;
    }
    // Checked once more now that it exists, in case something changed meanwhile.
    if (!resolvesInside(m_rootReal, parentAbsolute + "/" + e.linkTarget)) {
        ::unlinkat(dir, placed.c_str(), 0);
        return leaveOut(e, through);
    }
    const std::string shown = diskParent.empty() ? placed : diskParent + "/" + placed;
    m_report.add({fromStd(shown) + QStringLiteral(" → ") + fromStd(e.linkTarget),
                  (renamed || placed != e.parts.back()) ? e.name : QString(), Kind::Link, false, true});
    return true;
}

bool Extractor::leaveOut(const Entry &e, const QString &why)
{
    m_report.leaveOut(e, why);
    return true;
}


bool Extractor::finishFolders(Failure *f)
{
    return m_folders.finish(m_root, m_umask, [&] { return stopRequested(f); });
}

ZipResult Extractor::run()
{
    Failure f;
    // The directory is read in parts where it can be walked here; otherwise, or when the
    // library refuses a part, the library reads the whole archive and its verdict stands.
    bool unreadable = true;
    if (!m_parts.openInParts() || !checkArchive(m_parts, m_query, m_archiveShown, &m_checked, &f, &unreadable)) {
        if (!unreadable)
            return {int(f.number), f.text};
        int openError = 0;
        if (!m_parts.openWhole(&openError))
            return openFailure(openError, m_archiveShown);
        if (!checkArchive(m_parts, m_query, m_archiveShown, &m_checked, &f, &unreadable))
            return {int(f.number), f.text};
    }
    m_writers.setNamesInTurn(m_checked.namesInTurn);
    // The first password is asked for before anything is written.
    if (m_checked.firstEncrypted && !m_passwords.ask(*m_checked.firstEncrypted, false, &f))
        return {int(f.number), f.text + QStringLiteral(" Nothing was extracted.")};
    m_writers.setAnonymousFiles(::access("/proc/self/fd", X_OK) == 0 // unnamed files are linked through it
                                && !testing::unnamedFilesRefused());
    bool ok = extractAll(&f);
    if (ok) {
        m_writers.drain();
        ok = !m_writers.failed(&f) && extractLinks(&f);
    }
    // Files read before a damaged entry are written, as they would have been one by one; a
    // cancel drops those not yet begun.
    m_writers.stop(!ok && f.number == Cancelled);
    // A file that failed to be written came before whatever stopped the reading.
    if (m_writers.failed(&f))
        ok = false;
    m_report.settle(true);
    m_openFolders.clear();
    Failure stopped;
    if (!finishFolders(&stopped) && ok) {
        ok = false; // cancelled: the folders not reached keep the owner's rights alone
        f = stopped;
    }
    if (!ok)
        return {int(f.number), f.text + QLatin1Char(' ') + m_report.keptNote(f.number == Cancelled)};
    if (m_query)
        m_query->progress(m_checked.total, m_checked.total, m_checked.lastName);
    return {0, m_report.text(m_parts.names())};
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
