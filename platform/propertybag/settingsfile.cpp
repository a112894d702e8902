#include "settingsfile.h"

#include "apperror.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <unistd.h>

namespace {

constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

[[noreturn]] void fail(int number, const QString &text, const QString &path)
{
    throw AppError(number, QStringLiteral("%1: %2").arg(text, path));
}

// Opens for reading and writing at offset 0; a new file is created owner-only.
bool openReadWrite(QFile &file)
{
    return file.open(QIODevice::ReadWrite, OwnerOnly);
}

} // namespace

namespace SettingsFile {

QByteArray wrap(const QByteArray &block)
{
    QByteArray out(HeaderSize, '\0');
    qToLittleEndian<quint16>(ByteArrayTag, out.data());
    qToLittleEndian<quint16>(1, out.data() + 2);
    qToLittleEndian<quint32>(quint32(block.size()), out.data() + 4);
    qToLittleEndian<quint32>(0, out.data() + 8);
    out.append(block);
    return out;
}

Unwrapped unwrap(QByteArrayView fileStart, qint64 fileSize)
{
    Unwrapped result;
    if (fileSize == 0) {
        result.block = QByteArray(); // a new, empty file holds an empty block
        return result;
    }
    if (fileStart.size() < HeaderSize) {
        result.errorNumber = 62;
        result.errorText = QStringLiteral("Input past end of file");
        return result;
    }
    const char *header = fileStart.data();
    const quint16 tag = qFromLittleEndian<quint16>(header);
    const quint16 dimensions = qFromLittleEndian<quint16>(header + 2);
    const quint32 count = qFromLittleEndian<quint32>(header + 4);
    const quint32 lowerBound = qFromLittleEndian<quint32>(header + 8);
    if (tag != ByteArrayTag || dimensions != 1 || lowerBound != 0 || qint64(count) > MaxBlockSize) {
        result.errorNumber = 321;
        result.errorText = QStringLiteral("Invalid file format");
        return result;
    }
    if (qint64(HeaderSize) + qint64(count) > fileSize
        || qint64(HeaderSize) + qint64(count) > fileStart.size()) {
        result.errorNumber = 62;
        result.errorText = QStringLiteral("Input past end of file");
        return result;
    }
    result.block = fileStart.sliced(HeaderSize, qsizetype(count)).toByteArray();
    return result;
}

QByteArray read(const QString &path)
{
    QFile file(path);
    if (!file.exists()) {
        // Opening for reading and writing creates the file, so a new one is there from now on.
        if (!openReadWrite(file))
            fail(75, QStringLiteral("Path/File access error"), path);
        return {};
    }
    if (!QFileInfo(path).isFile())
        fail(75, QStringLiteral("Path/File access error"), path);
    if (!file.open(QIODevice::ReadOnly))
        fail(70, QStringLiteral("Permission denied"), path);
    const qint64 size = file.size();
    const QByteArray header = file.read(HeaderSize);
    QByteArray start = header;
    if (header.size() == HeaderSize) {
        const quint32 count = qFromLittleEndian<quint32>(header.constData() + 4);
        // The count is checked against the real size and the limit before anything is allocated.
        if (qint64(count) <= size - HeaderSize && qint64(count) <= MaxBlockSize)
            start += file.read(qint64(count));
    }
    const Unwrapped result = unwrap(start, size);
    if (!result.block)
        fail(result.errorNumber, result.errorText, path);
    return *result.block;
}

void write(const QString &path, const QByteArray &block)
{
    QFile file(path);
    if (!openReadWrite(file))
        fail(file.error() == QFileDevice::PermissionsError ? 70 : 75,
             file.error() == QFileDevice::PermissionsError ? QStringLiteral("Permission denied")
                                                           : QStringLiteral("Path/File access error"),
             path);
    // A settings file of ours may hold a password: keep it private even if it was made elsewhere.
    const QFileInfo info(path);
    if (info.ownerId() == ::geteuid() && (file.permissions() & ~(OwnerOnly | QFileDevice::ReadUser
                                                                 | QFileDevice::WriteUser)))
        file.setPermissions(OwnerOnly);
    const QByteArray bytes = wrap(block);
    const qint64 oldSize = file.size();
    if (!file.seek(0) || file.write(bytes) != bytes.size() || !file.flush())
        fail(75, QStringLiteral("Path/File access error"), path);
    // Nothing of an older, longer content may stay (it may be an old password): its tail is
    // overwritten and reaches the disk before the file is cut where the new content ends.
    if (oldSize > bytes.size()) {
        const QByteArray zeros(qsizetype(qMin<qint64>(oldSize - bytes.size(), MaxBlockSize)), '\0');
        bool wiped = true;
        for (qint64 at = bytes.size(); wiped && at < oldSize; at += zeros.size()) {
            const qint64 length = qMin<qint64>(zeros.size(), oldSize - at);
            wiped = file.write(zeros.constData(), length) == length;
        }
        if (!wiped || !file.flush() || ::fdatasync(file.handle()) != 0 || !file.resize(bytes.size()))
            fail(75, QStringLiteral("Path/File access error"), path);
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        fail(75, QStringLiteral("Path/File access error"), path);
}

} // namespace SettingsFile
