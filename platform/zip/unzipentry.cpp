#include "unzipentry.h"

#include "fsutil.h"
#include "zipfunctions.h"

#include <cerrno>

namespace pnvzip::unzip {

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

QString fromStd(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

Failure writeFailure(int err, const QString &what, const QString &folderShown)
{
    if (err == ENOSPC || err == EDQUOT)
        return {WriteFailed, QStringLiteral("The disk is full: %1 could not be written (%2).").arg(what, errnoText(err))};
    if (err == EFBIG || err == EIO)
        return {WriteFailed, QStringLiteral("Writing %1 failed: %2.").arg(what, errnoText(err))};
    return {CannotWrite, QStringLiteral("Cannot write %1 in “%2”: %3.").arg(what, folderShown, errnoText(err))};
}

Failure readFailure(zip_error_t *error, const Entry &e)
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

bool stopRequested(ZipQuery *query, Failure *f)
{
    if (!query || !query->cancelRequested())
        return false;
    *f = {Cancelled, QStringLiteral("The extraction was cancelled.")};
    return true;
}

} // namespace pnvzip::unzip
