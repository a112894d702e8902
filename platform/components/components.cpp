#include "components.h"

#include "programfolder.h"
#include "settingsstore.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPluginLoader>

namespace {

QString application()
{
    return QString::fromLatin1(SettingsStore::Application);
}

QString section()
{
    return QString::fromLatin1(ComponentRegistry::Section);
}

// Loads a plugin library and returns its root instance if it declares `progId`.
// Loaders are never unloaded: instances live as long as the process.
QObject *instanceFrom(const QString &libraryPath, const QString &progId)
{
    if (libraryPath.isEmpty() || !QFileInfo(libraryPath).isFile())
        return nullptr;
    if (ComponentRegistry::progIdOf(libraryPath) != progId)
        return nullptr;
    auto *loader = new QPluginLoader(libraryPath);
    QObject *instance = loader->instance();
    if (!instance)
        delete loader;
    return instance;
}

} // namespace

QObject *PluginComponentFactory::createObject(const QString &progId)
{
    if (QObject *registered = instanceFrom(ComponentRegistry::libraryFor(progId), progId))
        return registered;

    const QDir folder(ProgramFolder::path());
    const QStringList candidates = folder.entryList({QStringLiteral("*.so")}, QDir::Files, QDir::Name);
    for (const QString &name : candidates) {
        if (QObject *beside = instanceFrom(folder.filePath(name), progId))
            return beside;
    }
    return nullptr;
}

namespace ComponentRegistry {

QString libraryFor(const QString &progId)
{
    return SettingsStore::GetSetting(application(), section(), progId);
}

QString progIdOf(const QString &libraryPath)
{
    const QPluginLoader loader(libraryPath);
    return loader.metaData().value(QStringLiteral("MetaData")).toObject()
        .value(QStringLiteral("ProgId")).toString();
}

QString registerLibrary(const QString &libraryPath, QString *error)
{
    const QString path = QFileInfo(libraryPath).absoluteFilePath();
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("%1: no such file").arg(path);
        return {};
    }
    const QString progId = progIdOf(path);
    if (progId.isEmpty()) {
        *error = QStringLiteral("%1: not a component library").arg(path);
        return {};
    }
    QPluginLoader loader(path);
    if (!loader.instance()) {
        *error = QStringLiteral("%1: %2").arg(path, loader.errorString());
        return {};
    }
    SettingsStore::SaveSetting(application(), section(), progId, path);
    return progId;
}

bool unregisterLibrary(const QString &libraryPath, QString *error)
{
    const QString path = QFileInfo(libraryPath).absoluteFilePath();
    const QString progId = progIdOf(path);
    if (progId.isEmpty()) {
        *error = QStringLiteral("%1: not a component library").arg(path);
        return false;
    }
    if (libraryFor(progId) == path)
        SettingsStore::DeleteSetting(application(), section(), progId);
    return true;
}

} // namespace ComponentRegistry
