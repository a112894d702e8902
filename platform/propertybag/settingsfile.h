#pragma once
// The settings file around a property bag's byte block: a 12-byte header, then the block.
//
//   offset 0  u16 8209 (array of unsigned bytes)   offset 2  u16 1 (one dimension)
//   offset 4  u32 N (element count)                offset 8  u32 0 (lower bound)
//   offset 12 N bytes                              all little-endian
//
// Reading takes the first 12 + N bytes and ignores whatever follows. Writing puts the header and
// the block at offset 0, and the file ends there: a longer old content is overwritten with zeros
// and cut off, so nothing of an older value (an old password) stays behind.
// Files are created readable and writable by their owner only (they may hold a password).
//
//   const QString path = SettingsLocation::forReading(QStringLiteral("TextEditor.set"));
//   PropertyBag bag;
//   TrapAndSkip({[&] { bag.setContents(SettingsFile::read(path)); }, ...});
//   ...
//   SettingsFile::write(SettingsLocation::forWriting(QStringLiteral("TextEditor.set")), bag.contents());
//
// Failures raise AppError (53 file not found, 62 input past end of file, 70 permission denied,
// 75 path/file access error, 321 invalid file format).

#include <QByteArray>
#include <QString>
#include <optional>

namespace SettingsFile {

inline constexpr quint16 ByteArrayTag = 8209;
inline constexpr int HeaderSize = 12;
// Larger blocks are refused when reading, so that a damaged header cannot make us allocate
// gigabytes; settings are a few hundred bytes.
inline constexpr qint64 MaxBlockSize = 16 * 1024 * 1024;

// Opens the file (creating an empty one, owner-only, when there is none) and returns the block.
// An empty file gives an empty block. A short, foreign or oversized file raises AppError.
QByteArray read(const QString &path);

// Writes header and block at offset 0 and cuts the file there, creating it owner-only when
// needed and making an existing file of ours owner-only. Raises AppError when the file cannot be written completely.
void write(const QString &path, const QByteArray &block);

// The header and block as they go to the file.
QByteArray wrap(const QByteArray &block);
// The block from the start of a file's bytes; the error when they hold none.
struct Unwrapped
{
    std::optional<QByteArray> block;
    int errorNumber = 0;
    QString errorText;
};
Unwrapped unwrap(QByteArrayView fileStart, qint64 fileSize);

} // namespace SettingsFile
