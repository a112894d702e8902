#pragma once
// Components are shared-library plugins created by an identifier such as "Pnvzip.ZipFunctions".
// The identifier is looked up in the component registry (group "Components" of the per-user
// settings store, identifier -> library file), then among the plugins beside the program.
// Registering a library (what parcelo-regcomp does) records its identifier and path.

#include <QObject>
#include <QString>

class ComponentFactory
{
public:
    virtual ~ComponentFactory() = default;
    // The component's instance, or nullptr when it cannot be created. The factory keeps it.
    virtual QObject *createObject(const QString &progId) = 0;
};

// The production factory: registry first, then the program's folder.
class PluginComponentFactory : public ComponentFactory
{
public:
    QObject *createObject(const QString &progId) override;
};

namespace ComponentRegistry {
inline constexpr char Section[] = "Components";
// The library file registered for an identifier, or empty text.
QString libraryFor(const QString &progId);
// The identifier a plugin library declares in its metadata ("ProgId"), or empty text when the
// file is not one of our components. Reads the metadata without running the library's code.
QString progIdOf(const QString &libraryPath);
// Loads the library, checks that it yields an instance, and records it for its identifier.
// Returns the identifier, or an empty text with `error` set.
QString registerLibrary(const QString &libraryPath, QString *error);
// Removes the record of the library's identifier when it points at this library.
bool unregisterLibrary(const QString &libraryPath, QString *error);
} // namespace ComponentRegistry
