#include "programfolder.h"

#include <QCoreApplication>
#include <QDir>

namespace {
QString &overrideFolder()
{
    static QString folder;
    return folder;
}
} // namespace

namespace ProgramFolder {

QString path()
{
    const QString folder = overrideFolder().isEmpty() ? QCoreApplication::applicationDirPath()
                                                      : overrideFolder();
    return QDir::cleanPath(folder);
}

void setOverride(const QString &folder)
{
    overrideFolder() = folder;
}

} // namespace ProgramFolder
