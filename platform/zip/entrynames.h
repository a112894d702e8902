#pragma once
// Rules for the names inside an archive: which entry names may be extracted, where
// a symbolic link may point, and which free name an extracted file takes when its
// own name is taken.

#include <QString>

#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
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
// folder) with the given target stays inside the target folder once "." and ".." are
// resolved by name: no ".." may take back more folders than the link's own and the names
// before it ("../X/./a/b/../../g" from inside "X" stays; "a/../../.." from the top does
// not). Absolute targets are refused. A ".." that takes back one of the target's own
// names reads the same on disk only when that name is a real folder: see unziplinks.h.
bool linkTargetStaysInside(std::string_view target, size_t linkDepth, QString *why);

// The name to use when `name` is taken: "notes.txt" -> "notes (2).txt",
// "archive.tar.gz" -> "archive.tar (2).gz", "README" -> "README (2)",
// ".bashrc" -> ".bashrc (2)". `number` is 2 or more.
std::string numberedName(std::string_view name, int number);

// The number to try next for a name that was taken, per folder: the thousandth copy of
// one name tries two names, not a thousand. Only a hint (a name freed meanwhile is not
// looked at again), kept for a bounded number of names; safe to use from several threads.
class NumberHints
{
public:
    // The number to try after the plain name was found taken in `folder` (2 when unknown).
    int next(const std::string &folder, const std::string &name);
    // `number` was given to a copy of `name` in `folder`.
    void given(const std::string &folder, const std::string &name, int number);

private:
    static std::string key(const std::string &folder, const std::string &name);
    std::mutex m_lock;
    std::unordered_map<std::string, int> m_next;
};

} // namespace pnvzip
