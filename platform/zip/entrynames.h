#pragma once
// Rules for the names inside an archive: which entry names may be extracted, where
// a symbolic link may point, and which free name an extracted file takes when its
// own name is taken.

#include <QString>

#include <string>
#include <string_view>
#include <vector>

namespace pnvzip {

// An entry name split into the folder components it will be extracted to.
struct EntryPath
{
    std::vector<std::string> parts; // no empty, "." or ".." component
    QString problem;                // why the name is refused; empty when it is usable
    bool outside = false;           // the refusal is because it would leave the folder
};

// Splits an entry name as stored in the archive (UTF-8). Backslashes count as folder
// separators, as archives made on Windows use them. Refused: absolute names ("/x",
// "\\x"), any ".." component, a drive letter ("C:"), and names with no component.
EntryPath splitEntryName(std::string_view name);

// Whether a symbolic link stored at depth `linkDepth` (0: directly in the target
// folder) with the given target stays inside the target folder. Only relative
// targets whose ".." components all come first, and are no more than `linkDepth`,
// are accepted: those cannot leave the folder however the other links point.
bool linkTargetStaysInside(std::string_view target, size_t linkDepth, QString *why);

// The name to use when `name` is taken: "notes.txt" -> "notes (2).txt",
// "archive.tar.gz" -> "archive.tar (2).gz", "README" -> "README (2)",
// ".bashrc" -> ".bashrc (2)". `number` is 2 or more.
std::string numberedName(std::string_view name, int number);

} // namespace pnvzip
