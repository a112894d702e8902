#pragma once
// The zip component's engine: plain functions, free of the plugin machinery, so the
// program's plugin, the tests and the benchmark all run the very same code.
//
// Both functions are reentrant and keep no state between calls: they never change the
// working folder or the umask and only use the paths and descriptors they are given.

#include "zipfunctions.h"
#include "ziperrors.h"

#include <QStringList>

namespace pnvzip {

// Compresses the regular file `source` into a new archive `archive` holding one entry
// named after the file (UTF-8 name, modification time, Unix permissions). The archive
// is written under a temporary name in its folder and renamed over `archive` only when
// complete, so a failure leaves no partial archive and keeps an older one intact.
// `query`, when given, hears of progress, may stop the call (pnvzip::Cancelled) and is asked
// for passwords; nullptr behaves as a query that answers nothing.
ZipResult zipFile(const QString &source, const QString &archive, ZipQuery *query = nullptr);

// Extracts every entry of `archive` into the existing folder `folder`. Nothing is
// written outside that folder and nothing is overwritten: a taken name gets a number
// ("notes (2).txt"). Each file is written under a temporary name and renamed into place
// once its size and CRC-32 match. When extraction stops with an error, the files already
// completed and checked are kept, and the text of the error says so.
ZipResult unzipFile(const QString &archive, const QString &folder, ZipQuery *query = nullptr);

// Compresses the files and folders `paths` (whole trees) into a new archive `archive`.
// Entry names start at each path's own name ("Photos/", "Photos/x.jpg"); folders, empty
// ones too, get entries of their own; symbolic links are stored as links, never followed;
// every entry keeps its Unix mode and modification time. Sockets, pipes, devices and
// files that cannot be read are left out and named in the result text, while the rest
// is written; the archive itself is never taken in, even when it is written inside a
// folder being zipped. The archive is written under a temporary name and takes its name
// only when complete, as with zipFile. `workers` threads read and deflate (0: one per core).
ZipResult zipPaths(const QStringList &paths, const QString &archive, ZipQuery *query = nullptr,
                   unsigned workers = 0);

} // namespace pnvzip
