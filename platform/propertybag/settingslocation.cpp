#include "settingslocation.h"

#include "programfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

std::function<bool(const QString &)> &writableCheck()
{
    static std::function<bool(const QString &)> check;
    return check;
}

bool folderWritable(const QString &folder)
{
    if (writableCheck())
        return writableCheck()(folder);
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

QString inFolder(const QString &folder, const QString &fileName)
{
    return QDir(folder).filePath(fileName);
}

void makeUserFolder()
{
    const QString folder = SettingsLocation::userFolder();
    if (QFileInfo(folder).isDir())
        return;
    if (QDir().mkpath(folder))
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                          | QFileDevice::ExeOwner);
}

} // namespace

namespace SettingsLocation {

QString programFolder()
{
    return ProgramFolder::path();
}

QString userFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("Orvanne"));
}

bool programFolderWritable()
{
    return folderWritable(programFolder());
}

QString forReading(const QString &fileName)
{
    if (programFolderWritable())
        return inFolder(programFolder(), fileName);
    const QString userFile = inFolder(userFolder(), fileName);
    if (QFileInfo::exists(userFile))
        return userFile;
    const QString besideProgram = inFolder(programFolder(), fileName);
    if (QFileInfo(besideProgram).isFile())
        return besideProgram;
    makeUserFolder();
    return userFile;
}

QString forWriting(const QString &fileName)
{
    if (programFolderWritable())
        return inFolder(programFolder(), fileName);
    makeUserFolder();
    return inFolder(userFolder(), fileName);
}

void setWritableCheck(std::function<bool(const QString &folder)> check)
{
    writableCheck() = std::move(check);
}

} // namespace SettingsLocation
