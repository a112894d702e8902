#pragma once
// The per-user settings store: text values by application name, section and key, kept by
// QSettings in the user's configuration folder ($XDG_CONFIG_HOME/<application>/<application>.ini).

#include <QString>

namespace SettingsStore {
// The application name under which all of this program's values are kept.
inline constexpr char Application[] = "Orvanne";

QString GetSetting(const QString &appName, const QString &section, const QString &key,
                   const QString &defaultValue = {});
void SaveSetting(const QString &appName, const QString &section, const QString &key,
                 const QString &value);
void DeleteSetting(const QString &appName, const QString &section, const QString &key);
} // namespace SettingsStore
