#pragma once
// Symbolic links made by an extraction, and why each one stays inside the target folder.
//
// A link is made only when its target, read by name, stays inside the folder
// (linkTargetStaysInside), when every name of the target that a later ".." takes back is a
// real folder already there (so ".." on disk undoes that very name, and a link made later
// cannot turn it into a way out), and when what already exists along the target resolves
// inside the folder, checked again once the link is in place. A link that fails any of
// these is left out, and the extraction names it; nothing else is affected.

#include <string>
#include <string_view>

namespace pnvzip {

// Whether `absolutePath`, with the links that exist along it followed, lies in the folder
// whose real path is `rootReal`. Names that do not exist yet are taken as they are; a
// dangling link is not (it could point anywhere).
bool resolvesInside(const std::string &rootReal, const std::string &absolutePath);

// Whether every name of `target` that a later ".." takes back is a real folder (not a
// link) already there, for a link in the folder `diskParent` (relative to `rootFd`;
// empty for the target folder itself).
bool namesTakenBackAreFolders(int rootFd, const std::string &diskParent, std::string_view target);

// A new link to `target` in the folder `dir` under a fresh temporary name (returned),
// never replacing anything; empty with `*err` set on failure.
std::string makeTemporaryLink(int dir, const std::string &hint, const std::string &target, int *err);

} // namespace pnvzip
