#pragma once
// Opening archives for reading with the leniency of the common unzip tools.
//
// libzip refuses a whole archive ("Zip archive inconsistent") for things that do not change
// a single extracted byte: an entry's extra fields in the central directory that end in
// a few padding bytes too short to form a field (as alignment tools write them) or in a
// field whose stated size runs past the block, comments it cannot read as text, and an
// archive comment length that runs past the end of the file. When libzip refuses an
// archive as inconsistent, it is opened again through a view of the file in which the
// central directory and end records are rebuilt in memory: extra blocks end after their
// last whole field, and the comments (which nothing here reads) are left out. Everything
// before the central directory, the entries' data, is read from the file as it is, and
// the names, sizes, CRC-32s and offsets the directory records are kept; the file itself is
// never changed.

#include <zip.h>

namespace pnvzip {

// zip_open(path, ZIP_RDONLY), then the corrected view where that fails as inconsistent.
// Returns nullptr with `*error` set to libzip's error code from the first attempt.
zip_t *openArchiveLeniently(const char *path, int *error);

} // namespace pnvzip
