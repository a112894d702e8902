// ZipFile: one source file into a new single-entry archive.

#include "zipengine.h"

#include "callmonitor.h"
#include "entryencoder.h"
#include "fsutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <zip.h>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pnvzip {

namespace {

ZipResult failure(ZipError number, const QString &text)
{
    return ZipResult{int(number), text};
}

QString shownPath(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Turns a failed zip_close into a result, telling reading the source apart from
// writing the archive.
ZipResult closeFailure(zip_error_t *error, const QString &source, const QString &archive)
{
    const int code = zip_error_code_zip(error);
    const int sys = zip_error_code_system(error);
    const QString reason = sys ? errnoText(sys) : QString::fromUtf8(zip_error_strerror(error));
    switch (code) {
    case ZIP_ER_READ:
    case ZIP_ER_OPEN:
    case ZIP_ER_SEEK:
    case ZIP_ER_EOF:
        return failure(SourceUnreadable, QStringLiteral("“%1” could not be read: %2.")
                                             .arg(shownPath(source), reason));
    case ZIP_ER_TMPOPEN:
        if (sys == EACCES || sys == EPERM || sys == EROFS)
            return failure(CannotWrite, QStringLiteral("Cannot write in the folder of “%1”: %2.")
                                            .arg(shownPath(archive), reason));
        [[fallthrough]];
    case ZIP_ER_WRITE:
    case ZIP_ER_CLOSE:
    case ZIP_ER_RENAME:
    case ZIP_ER_TELL:
        if (sys == ENOSPC || sys == EDQUOT)
            return failure(WriteFailed, QStringLiteral("The disk is full: “%1” could not be written (%2). "
                                                       "Nothing was changed.")
                                            .arg(shownPath(archive), reason));
        return failure(WriteFailed, QStringLiteral("Writing “%1” failed: %2. Nothing was changed.")
                                        .arg(shownPath(archive), reason));
    default:
        return failure(InternalError, QStringLiteral("Compressing “%1” failed in the zip library: %2.")
                                          .arg(shownPath(source), reason));
    }
}

// Writes the complete archive to `tempPath` (an existing file that it replaces).
// On failure nothing is left but `tempPath` itself, which the caller removes.
ZipResult writeArchive(const std::string &tempPath, int sourceFd, const struct stat &info,
                       const QByteArray &entryName, EntryMethod method, EntryEncoder &encoder,
                       const QString &source, const QString &archive)
{
    int openError = 0;
    zip_t *za = zip_open(tempPath.c_str(), ZIP_TRUNCATE, &openError);
    if (!za) {
        zip_error_t error;
        zip_error_init_with_code(&error, openError);
        const QString reason = QString::fromUtf8(zip_error_strerror(&error));
        zip_error_fini(&error);
        return failure(CannotWrite, QStringLiteral("Cannot write “%1”: %2.").arg(shownPath(archive), reason));
    }
    const zip_int64_t index = encoder.addEntry(za, entryName.constData(), sourceFd, info, method);
    bool ok = index >= 0;
    if (ok) {
        const auto entry = zip_uint64_t(index);
        ok = zip_file_set_mtime(za, entry, info.st_mtime, 0) == 0
             && zip_file_set_external_attributes(za, entry, 0, ZIP_OPSYS_UNIX,
                                                 zip_uint32_t(info.st_mode & 0xffff) << 16) == 0;
        // Extended timestamp (0x5455): the modification time in whole seconds, UTC,
        // where the two-second local DOS time loses precision and time zone.
        if (ok && info.st_mtime >= 0 && info.st_mtime <= INT32_MAX) {
            const auto t = zip_uint32_t(info.st_mtime);
            const zip_uint8_t field[5] = {1, zip_uint8_t(t), zip_uint8_t(t >> 8),
                                          zip_uint8_t(t >> 16), zip_uint8_t(t >> 24)};
            ok = zip_file_extra_field_set(za, entry, 0x5455, ZIP_EXTRA_FIELD_NEW, field,
                                          sizeof field, ZIP_FL_LOCAL | ZIP_FL_CENTRAL) == 0;
        }
    }
    if (!ok) {
        ZipResult result = failure(InternalError, QStringLiteral("Preparing the archive failed: %1.")
                                                      .arg(QString::fromUtf8(zip_strerror(za))));
        zip_discard(za);
        return result;
    }
    if (zip_close(za) != 0) {
        ZipResult result = closeFailure(zip_get_error(za), source, archive);
        zip_discard(za);
        return result;
    }
    return {};
}

// Reads back how the single entry was stored.
bool entryStats(const std::string &path, zip_stat_t *st)
{
    int error = 0;
    zip_t *za = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!za)
        return false;
    const bool ok = zip_stat_index(za, 0, 0, st) == 0;
    zip_discard(za);
    return ok;
}

// "1.3 MB (1,288,895 bytes)", or just "128 bytes" where the two would say the same.
QString sizeText(unsigned long long bytes)
{
    if (bytes < 1000)
        return readableSize(bytes);
    return QStringLiteral("%1 (%2 bytes)").arg(readableSize(bytes), groupedNumber(bytes));
}

QString summary(const QString &archivePath, const QString &entryName, unsigned long long original,
                unsigned long long packed, bool stored)
{
    const QString head = QStringLiteral("Created %1\n").arg(archivePath);
    if (original == 0)
        return head + QStringLiteral("%1: the file is empty; the archive takes %2.").arg(entryName, sizeText(packed));
    if (stored)
        return head + QStringLiteral("%1: %2 stored without compression, as the data does not compress; "
                                     "the archive takes %3.")
                          .arg(entryName, sizeText(original), sizeText(packed));
    QString change;
    if (packed >= original) {
        const unsigned long long grown = (packed - original) * 100 / original;
        change = grown == 0 ? QStringLiteral("no smaller") : QStringLiteral("%1% larger").arg(grown);
    } else {
        // Rounded down, so the saving is never overstated.
        const unsigned long long saved = (original - packed) * 100 / original;
        change = saved == 0 ? QStringLiteral("less than 1% smaller") : QStringLiteral("%1% smaller").arg(saved);
    }
    return head + QStringLiteral("%1: %2 compressed to %3, %4.").arg(entryName, sizeText(original), sizeText(packed), change);
}

} // namespace

ZipResult openArchiveFolder(const QString &archive, const QString &archiveShown, UniqueFd *dirFd, QByteArray *leaf)
{
    const QFileInfo archiveInfo(archive);
    const QString folder = archiveInfo.absolutePath();
    *leaf = QFile::encodeName(archiveInfo.fileName());
    if (leaf->isEmpty())
        return failure(CannotWrite, QStringLiteral("“%1” is a folder, not an archive name.").arg(archiveShown));
    dirFd->reset(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd->valid()) {
        const int err = errno;
        if (err == ENOENT)
            return failure(FolderMissing, QStringLiteral("The folder “%1” does not exist.").arg(QDir::cleanPath(folder)));
        if (err == ENOTDIR)
            return failure(CannotWrite, QStringLiteral("Cannot write “%1”: “%2” is not a folder.")
                                            .arg(archiveShown, QDir::cleanPath(folder)));
        return failure(CannotWrite, QStringLiteral("Cannot write in the folder “%1”: %2.")
                                        .arg(QDir::cleanPath(folder), errnoText(err)));
    }
    return {};
}

ZipResult createArchiveTemp(int dirFd, const QByteArray &leaf, const QString &archiveShown, std::string *tempName,
                            UniqueFd *tempFd)
{
    int err = 0;
    *tempFd = createTempFile(dirFd, leaf.toStdString(), tempName, &err);
    if (tempFd->valid())
        return {};
    if (err == ENOSPC || err == EDQUOT)
        return failure(WriteFailed, QStringLiteral("The disk is full: cannot create “%1”.").arg(archiveShown));
    return failure(CannotWrite, QStringLiteral("Cannot write in the folder “%1”: %2.")
                                    .arg(QDir::cleanPath(QFileInfo(archiveShown).absolutePath()), errnoText(err)));
}

ZipResult zipFile(const QString &source, const QString &archive, ZipQuery *query)
{
    if (source.isEmpty())
        return failure(EmptyPath, QStringLiteral("No file to compress was given (the source path is empty)."));
    if (archive.isEmpty())
        return failure(EmptyPath, QStringLiteral("No archive name was given (the archive path is empty)."));

    const QString sourceShown = shownPath(source);
    const QString archiveShown = shownPath(archive);

    // Open the source once and keep it open: everything below reads this very file,
    // whatever happens to its name meanwhile.
    // O_NONBLOCK: opening a named pipe must not wait for a writer; it is refused below.
    UniqueFd sourceFd(::open(QFile::encodeName(source).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!sourceFd.valid()) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            return failure(SourceUnreadable, QStringLiteral("“%1” does not exist.").arg(sourceShown));
        return failure(SourceUnreadable, QStringLiteral("“%1” cannot be read: %2.").arg(sourceShown, errnoText(err)));
    }
    struct stat info{};
    if (::fstat(sourceFd.get(), &info) != 0)
        return failure(SourceUnreadable, QStringLiteral("“%1” cannot be read: %2.").arg(sourceShown, errnoText(errno)));
    if (S_ISDIR(info.st_mode))
        return failure(SourceUnreadable, QStringLiteral("“%1” is a folder; only a single file can be compressed.").arg(sourceShown));
    if (!S_ISREG(info.st_mode))
        return failure(SourceUnreadable, QStringLiteral("“%1” is not a regular file.").arg(sourceShown));
    ::fcntl(sourceFd.get(), F_SETFL, ::fcntl(sourceFd.get(), F_GETFL) & ~O_NONBLOCK);

    const QString folder = QFileInfo(archive).absolutePath();
    UniqueFd dirFd;
    QByteArray leaf;
    if (ZipResult refused = openArchiveFolder(archive, archiveShown, &dirFd, &leaf); !refused.ok())
        return refused;

    // The archive must not replace its own source, whatever name leads to it.
    auto isOwnSource = [&] {
        struct stat existing{};
        return ::fstatat(dirFd.get(), leaf.constData(), &existing, 0) == 0
               && existing.st_dev == info.st_dev && existing.st_ino == info.st_ino;
    };
    if (isOwnSource())
        return failure(ArchiveIsSource, QStringLiteral("The archive “%1” would replace the file being compressed, “%2”. "
                                                       "Choose another name for the archive.")
                                            .arg(archiveShown, sourceShown));
    struct stat existing{};
    if (::fstatat(dirFd.get(), leaf.constData(), &existing, 0) == 0 && S_ISDIR(existing.st_mode))
        return failure(CannotWrite, QStringLiteral("Cannot write “%1”: a folder of that name exists.").arg(archiveShown));

    std::string tempName;
    UniqueFd tempFd;
    if (ZipResult refused = createArchiveTemp(dirFd.get(), leaf, archiveShown, &tempName, &tempFd); !refused.ok())
        return refused;
    tempFd.reset();
    const std::string tempPath = QFile::encodeName(folder).toStdString() + "/" + tempName;
    auto removeTemp = [&] { ::unlinkat(dirFd.get(), tempName.c_str(), 0); };

    const QString entryShown = QFileInfo(source).fileName();
    const QByteArray entryName = entryShown.toUtf8();
    const unsigned long long original = (unsigned long long)info.st_size;
    CallMonitor monitor(query, qint64(original));
    // A stop leaves nothing: not the temporary file, not a new archive, and an older one as it was.
    auto cancelled = [&] {
        removeTemp();
        return failure(Cancelled, QStringLiteral("Compressing “%1” was cancelled; nothing was written.")
                                      .arg(sourceShown));
    };
    monitor.startEntry(entryShown);
    if (monitor.cancelled())
        return cancelled();
    auto encoder = makeParallelEncoder();
    encoder->setMonitor(&monitor);
    // A file that does not compress is read twice, scanned and then copied: the scan shows
    // as the first tenth of the bar, the copy as the rest.
    constexpr double ScanShare = 0.1;
    monitor.startPass(0, ScanShare);
    const ScanVerdict verdict = original == 0 ? ScanVerdict::Store : scanBeforeDeflate(sourceFd.get(), original, &monitor);
    if (verdict == ScanVerdict::Stopped)
        return cancelled();
    EntryMethod method = verdict == ScanVerdict::Store ? EntryMethod::Store : EntryMethod::Deflate;
    if (method == EntryMethod::Store)
        monitor.startPass(qint64(double(original) * ScanShare), 1 - ScanShare);
    else
        monitor.restartPass();
    ZipResult written = writeArchive(tempPath, sourceFd.get(), info, entryName, method, *encoder, source, archive);
    if (monitor.stopRequested())
        return cancelled();
    zip_stat_t st;
    if (written.ok() && method == EntryMethod::Deflate) {
        if (!entryStats(tempPath, &st)) {
            removeTemp();
            return failure(InternalError, QStringLiteral("The new archive “%1” could not be read back.").arg(archiveShown));
        }
        // Deflate made it no smaller: store it instead.
        if (original > 0 && st.comp_size >= original) {
            method = EntryMethod::Store;
            monitor.restartPass();
            written = writeArchive(tempPath, sourceFd.get(), info, entryName, method, *encoder, source, archive);
            if (monitor.stopRequested())
                return cancelled();
        }
    }
    if (!written.ok()) {
        removeTemp();
        return written;
    }
    // The data was read to its end while the file kept its size; a file that changed
    // size meanwhile gives an archive of a state that never existed.
    if (!entryStats(tempPath, &st) || st.size != original) {
        removeTemp();
        return failure(SourceUnreadable, QStringLiteral("“%1” changed while it was being compressed; "
                                                        "nothing was written. Try again.")
                                             .arg(sourceShown));
    }

    struct stat tempInfo{};
    if (::fstatat(dirFd.get(), tempName.c_str(), &tempInfo, AT_SYMLINK_NOFOLLOW) != 0
        || ::fchmodat(dirFd.get(), tempName.c_str(), 0666 & ~processUmask(), 0) != 0) {
        const int e = errno;
        removeTemp();
        return failure(CannotWrite, QStringLiteral("Cannot finish “%1”: %2.").arg(archiveShown, errnoText(e)));
    }
    if (monitor.cancelled())
        return cancelled();
    // Checked again right before the rename, in case the name changed meanwhile.
    if (isOwnSource()) {
        removeTemp();
        return failure(ArchiveIsSource, QStringLiteral("The archive “%1” would replace the file being compressed, “%2”. "
                                                       "Choose another name for the archive.")
                                            .arg(archiveShown, sourceShown));
    }
    if (::renameat(dirFd.get(), tempName.c_str(), dirFd.get(), leaf.constData()) != 0) {
        const int e = errno;
        removeTemp();
        return failure(CannotWrite, QStringLiteral("Cannot write “%1”: %2.").arg(archiveShown, errnoText(e)));
    }
    monitor.finish();
    return ZipResult{0, summary(archiveShown, entryShown, original, (unsigned long long)tempInfo.st_size,
                                method == EntryMethod::Store)};
}

} // namespace pnvzip
