#include "checkpass.h"

#include "stepsort.h"
#include "zipfunctions.h"

#include <algorithm>
#include <functional>
#include <limits>

namespace pnvzip::unzip {

bool checkArchive(DirectoryParts &parts, ZipQuery *query, const QString &archiveShown, CheckResult *result,
                  Failure *f, bool *unreadable)
{
    *unreadable = false;
    *result = CheckResult();
    // Whether two entries could end up wanting the same name: a hash of each path.
    std::vector<size_t> nameHashes;
    bool numberedNames = false;
    if (!parts.chooseNames(query, f))
        return false;
    parts.rewind();
    parts.clearPartUnreadable();
    std::optional<Failure> refused; // by an entry; the rest of the directory is still walked
    // Entries whose data overlaps, as in archives built to fill the disk with one piece of
    // data written many times: in an archive in file order, each entry's data starts after
    // the end of the one before; otherwise the whole directory is sorted at the end.
    bool dataSeen = false;
    uint64_t dataStart = 0, dataEnd = 0;
    QString dataOwner;
    bool dataInOrder = true;
    const auto overlapping = [&](const QString &which) {
        return Failure{NotAnArchive, QStringLiteral("The archive %1 is refused: %2 share their data in the file (their "
                                                    "data overlaps), as in archives built to fill the disk. Nothing "
                                                    "was extracted.")
                                         .arg(archiveShown, which)};
    };
    for (;;) {
        if (stopRequested(query, f)) {
            f->text += QStringLiteral(" Nothing was extracted.");
            return false;
        }
        auto part = std::make_unique<Part>();
        Failure failure;
        const DirectoryParts::Next next = parts.next(part.get(), true, !refused, &failure);
        if (next == DirectoryParts::Next::End)
            break;
        if (next == DirectoryParts::Next::Failed) {
            if (parts.partUnreadable()) {
                *unreadable = true;
                return false;
            }
            refused = failure;
            continue;
        }
        if (refused)
            continue;
        for (const Entry &e : part->entries) {
            if (parts.inParts() && dataInOrder) {
                if (dataSeen && e.data.start < dataEnd) {
                    if (e.data.start < dataStart) {
                        dataInOrder = false;
                    } else {
                        refused = overlapping(QStringLiteral("the entries “%1” and “%2”").arg(dataOwner, e.name));
                        break;
                    }
                }
                dataSeen = true;
                dataStart = e.data.start;
                dataEnd = e.data.end;
                dataOwner = e.name;
            }
            if (e.kind != Kind::Folder) {
                // Sizes no archive can hold (the progress total would overflow): refused.
                if (e.size > quint64(std::numeric_limits<qint64>::max())
                    || qint64(e.size) > std::numeric_limits<qint64>::max() - result->total) {
                    refused = Failure{NotAnArchive,
                                      QStringLiteral("“%1” is damaged: its entries claim more than 8 EiB "
                                                     "(2^63 bytes) in all, with “%2”. Nothing was extracted.")
                                          .arg(archiveShown, e.name)};
                    break;
                }
                result->total += qint64(e.size);
            }
            if (!result->firstEncrypted && e.cipher != Cipher::None)
                result->firstEncrypted = e;
            // Whether two entries could end up wanting the same name: a path given twice,
            // or any name that looks numbered ("a (2).txt"), which a taken name may turn into.
            size_t h = e.parts.size();
            for (const std::string &name : e.parts) {
                if (name.find(" (") != std::string::npos)
                    numberedNames = true;
                h = h * 1000003u ^ std::hash<std::string>()(name);
            }
            nameHashes.push_back(h);
            if (e.kind == Kind::Link)
                result->linkRecords.push_back({e.record, e.number});
            result->lastName = e.name;
        }
        if (parts.holdsAll(*part))
            result->kept = std::move(part); // the whole archive: kept for the extraction
    }
    uint64_t a = 0, b = 0;
    bool cancelled = false;
    if (!refused && parts.inParts() && !dataInOrder
        && parts.directory().findOverlap(&a, &b, [&] { return cancelled = stopRequested(query, f); }))
        refused = overlapping(QStringLiteral("entries %1 and %2").arg(a + 1).arg(b + 1));
    if (cancelled) {
        f->text += QStringLiteral(" Nothing was extracted.");
        return false;
    }
    if (refused) {
        *f = *refused;
        return false;
    }
    if (!sortInSteps(nameHashes, std::less<size_t>(), [&] { return stopRequested(query, f); })) {
        f->text += QStringLiteral(" Nothing was extracted.");
        return false;
    }
    // Otherwise the files of different entries never meet and may be named in any order.
    result->namesInTurn = numberedNames || std::adjacent_find(nameHashes.begin(), nameHashes.end()) != nameHashes.end();
    return true;
}

} // namespace pnvzip::unzip
