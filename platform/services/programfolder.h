#pragma once
// The folder that holds the program file. Tests point it at a folder of their own.

#include <QString>

namespace ProgramFolder {
// The program's folder, without a trailing separator (except for the root "/").
QString path();
// Replaces the folder for the rest of the process; an empty text goes back to the real one.
void setOverride(const QString &folder);
} // namespace ProgramFolder
