#pragma once
// Where the windows keep their settings files ("Parcelo_Mail.set", "TextEditor.set").
//
// The files live beside the program when the program's folder is writable. When it is not (a
// system-wide installation), they live in the per-user configuration folder
// ($XDG_CONFIG_HOME/Orvanne, normally ~/.config/Orvanne). For reading, a per-user file that does
// not exist yet falls back to a file beside the program (defaults left there by an
// administrator); the next save then goes to the per-user folder. The choice is made anew each
// time a file is opened.
//
//   PropertyBag bag;
//   bag.setContents(SettingsFile::read(SettingsLocation::forReading(QStringLiteral("TextEditor.set"))));
//   SettingsFile::write(SettingsLocation::forWriting(QStringLiteral("TextEditor.set")), bag.contents());

#include <QString>
#include <functional>

namespace SettingsLocation {

// The program's folder (ProgramFolder::path()).
QString programFolder();
// The per-user folder: the generic configuration location followed by "/Orvanne".
QString userFolder();
// Whether the settings files go beside the program.
bool programFolderWritable();

// The file to read: beside the program when its folder is writable; else the per-user file when
// it exists, else the one beside the program when that exists, else the per-user file (its
// folder is created, owner-only, so that reading can create the file).
QString forReading(const QString &fileName);
// The file to write: beside the program when its folder is writable, else the per-user file (its
// folder is created, owner-only, when missing).
QString forWriting(const QString &fileName);

// Replaces the writability test of a folder (tests run as root, for whom every folder is
// writable). An empty function restores the real test.
void setWritableCheck(std::function<bool(const QString &folder)> check);

} // namespace SettingsLocation
