#include "testenv.h"

#include <QDir>
#include <QFile>
#include <cstdlib>

TestEnvironment::TestEnvironment()
{
    QDir root(m_root.path());
    root.mkpath(QStringLiteral("home"));
    root.mkpath(QStringLiteral("config"));
    root.mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(root.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", home().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", config().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", root.filePath(QStringLiteral("runtime")).toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

QString TestEnvironment::home() const
{
    return QDir(m_root.path()).filePath(QStringLiteral("home"));
}

QString TestEnvironment::config() const
{
    return QDir(m_root.path()).filePath(QStringLiteral("config"));
}
