#include "settingsstore.h"

#include <QSettings>

namespace {
QString settingsKey(const QString &section, const QString &key)
{
    return section + QLatin1Char('/') + key;
}
} // namespace

namespace SettingsStore {

QString GetSetting(const QString &appName, const QString &section, const QString &key,
                   const QString &defaultValue)
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, appName, appName);
    return settings.value(settingsKey(section, key), defaultValue).toString();
}

void SaveSetting(const QString &appName, const QString &section, const QString &key,
                 const QString &value)
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, appName, appName);
    settings.setValue(settingsKey(section, key), value);
}

void DeleteSetting(const QString &appName, const QString &section, const QString &key)
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, appName, appName);
    settings.remove(settingsKey(section, key));
}

} // namespace SettingsStore
