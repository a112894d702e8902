#pragma once
// The check pass: every entry of the archive is looked at before anything is written.
//
// Guarantees: an archive is refused whole, with nothing written, when any entry is: a
// name that would leave the folder or that has no name, a method or cipher this program
// cannot read, sizes that add up past 8 EiB, or entries whose data overlaps in the file
// (as in archives built to fill the disk with one piece of data written many times). The
// pass keeps only what the extraction needs of the whole archive (the total size, the
// first encrypted entry, where the links are, whether two entries may want one name): a
// hash of each entry's path and the place of each link, nothing else per entry. A cancel
// is honoured at every part of the directory.

#include "directoryparts.h"

#include <memory>
#include <optional>
#include <vector>

namespace pnvzip::unzip {

struct CheckResult
{
    qint64 total = 0; // bytes of file data in all
    std::optional<Entry> firstEncrypted; // its password is asked for first
    std::vector<LinkRecord> linkRecords;
    // Two entries may end up wanting the same name: files are named in archive order.
    bool namesInTurn = true;
    QString lastName;
    // When the archive is one part: kept for the extraction.
    std::shared_ptr<Part> kept;
};

// Checks every entry of `parts`. `*unreadable` when the directory could not be read in
// parts (whatever else was found): the library is then left to judge the whole archive.
bool checkArchive(DirectoryParts &parts, ZipQuery *query, const QString &archiveShown, CheckResult *result,
                  Failure *f, bool *unreadable);

} // namespace pnvzip::unzip
