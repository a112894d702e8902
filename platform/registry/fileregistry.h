#pragma once
// The registry on Linux: a small read-only store. When a file "Parcelo.reg" (REGEDIT4 format)
// lies beside the program, its values are the whole store. Otherwise the store holds built-in
// values: the system information program's location points at an installed one, if any.

#include "registry.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

// A parsed REGEDIT4 text: keys by root and lower-cased path, values by lower-cased name.
class RegistryData
{
public:
    // Reads "REGEDIT4" text. Lines it cannot understand are skipped; "[-KEY]" and "name"=-
    // (deletions in the format) remove nothing and add nothing.
    static RegistryData parse(const QByteArray &text);

    void addKey(Registry::HKEY root, const QByteArray &path);
    void setValue(Registry::HKEY root, const QByteArray &path, const QByteArray &name,
                  const RegistryValue &value);
    bool hasKey(Registry::HKEY root, const QByteArray &path) const;
    std::optional<RegistryValue> value(Registry::HKEY root, const QByteArray &path,
                                       const QByteArray &name) const;
    bool isEmpty() const { return m_keys.isEmpty(); }

    // "HKEY_LOCAL_MACHINE" or "HKLM" and so on; 0 when the name is no root key.
    static Registry::HKEY rootFromName(const QByteArray &name);

private:
    static QByteArray keyId(Registry::HKEY root, const QByteArray &path);
    QHash<QByteArray, QHash<QByteArray, RegistryValue>> m_keys;
};

class FileRegistry : public RegistryBackend
{
public:
    static constexpr const char *FileName = "Parcelo.reg";

    // The programs offered as the system information program when no file says otherwise,
    // in order of preference.
    static QStringList systemInfoCandidates();
    // The built-in store: the first candidate found on PATH as the system information program.
    static RegistryData builtIn();

    bool hasKey(Registry::HKEY root, const QByteArray &keyPath) override;
    std::optional<RegistryValue> value(Registry::HKEY root, const QByteArray &keyPath,
                                       const QByteArray &valueName) override;

private:
    // The file beside the program when there is one (read again when it changes), else the
    // built-in values.
    const RegistryData &current();

    RegistryData m_data;
    QString m_loadedFrom; // empty for the built-in values
    QDateTime m_loadedStamp;
    bool m_loaded = false;
};
