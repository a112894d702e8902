#pragma once
// The name an archive takes when the one the user asked for is already taken: an existing
// archive is never replaced without the user's word, so the new one goes beside it as
// "report.txt (2).zip", "report.txt (3).zip" and so on. Every way of making an archive (one
// file, a folder, several files) names it through here.

#include <QString>

namespace ArchiveName {

// Whether `path` names something already there (a file, a folder, or a link, even a broken one).
bool isTaken(const QString &path);

// `archivePath` with " (N)" put before its ".zip" (any letter case; at the end when it has no
// such ending), N the smallest number from 2 up whose path is not taken.
QString besideTaken(const QString &archivePath);

} // namespace ArchiveName
