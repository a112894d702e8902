#include "archivename.h"

#include <QFileInfo>

bool ArchiveName::isTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString ArchiveName::besideTaken(const QString &archivePath)
{
    const qsizetype cut = archivePath.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive)
                              ? archivePath.size() - 4
                              : archivePath.size();
    const QString stem = archivePath.left(cut);
    const QString ending = archivePath.mid(cut);
    for (int number = 2;; ++number) {
        const QString candidate = QStringLiteral("%1 (%2)%3").arg(stem, QString::number(number), ending);
        if (!isTaken(candidate))
            return candidate;
    }
}
