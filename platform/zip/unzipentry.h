#pragma once
// What every stage of an extraction shares: an archive entry as the check pass found it,
// a failure and a line of the report, and the wording of the failures that any stage can
// meet (a write refused, an entry's data unreadable, a cancel).
//
// Guarantees: an Entry is complete once the check pass has made it (its name split into
// checked components, its kind, sizes, method, cipher and where its data lies); the
// stages after it only read it, except for the times and a link's target, which are
// read when the entry is extracted.

#include "lenientopen.h"
#include "ziperrors.h"

#include <QString>

#include <zip.h>

#include <ctime>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

class ZipQuery;

namespace pnvzip::unzip {

constexpr int MaxNumberedNames = 10000;
constexpr size_t MaxLinkTarget = 4095;
// Files up to this size are read (and checked) whole before they are written.
constexpr zip_uint64_t MaxInMemory = 1024 * 1024;

enum class Kind { File, Folder, Link };
enum class Cipher { None, Traditional, Aes };

constexpr quint64 NoEntry = ~quint64(0);

struct Entry
{
    zip_uint64_t index = 0;  // in the part of the archive the library has open
    quint64 number = 0;      // in the whole archive, from 0
    quint64 record = 0;      // where its central record is in the file, when read in parts
    QString name; // as stored, for messages
    std::vector<std::string> parts;
    Kind kind = Kind::File;
    std::optional<mode_t> mode; // permission bits recorded by a Unix-like system
    bool dosReadOnly = false;
    timespec mtime{0, 0};
    timespec atime{0, 0};
    bool hasTime = false;
    std::optional<time_t> dosTime; // the two-second local time of the central record
    zip_uint64_t size = 0;
    zip_uint32_t crc = 0;
    zip_int32_t method = -1; // as recorded, -1 if unknown
    quint16 flags = 0;       // the general purpose flags, read only where a decoder needs them
    zip_uint64_t compressedSize = 0;
    Cipher cipher = Cipher::None;
    int aesStrength = 0; // 1, 2, 3: AES-128, -192, -256
    bool aesCrc = true;  // AE-1 records the CRC-32 as well; AE-2 only the authentication code
    std::string linkTarget;
    bool targetRead = false;
    ArchiveDirectory::DataRange data; // where its local header and data lie, when read in parts
};

// What became of one attempt at an entry's data.
enum class Outcome {
    Done,        // complete and checked
    Rejected,    // the password check says the password is wrong
    Unconfirmed, // the password passed its check but the data did not: under traditional
                 // encryption a wrong password does that once in 256 tries, under AES
                 // (authentication code) once in 65,536
    Failed,      // the failure is set
};

struct Failure
{
    ZipError number = NoError;
    QString text;
};

// One line of the report.
struct Done
{
    QString shown;       // the path written, relative to the folder ("docs/readme.txt")
    QString renamedFrom; // the entry's own name when it had to change
    Kind kind = Kind::File;
    bool merged = false; // a folder that was already there
    bool settled = false; // final: written, or dropped with `shown` empty
};

// "Implode", "PPMd", … for messages about a method.
QString methodName(zip_int32_t method);
QString fromStd(const std::string &s);

// Writing `what` in the folder shown as `folderShown` failed with `err`.
Failure writeFailure(int err, const QString &what, const QString &folderShown);
// Reading the entry's data failed as the library says.
Failure readFailure(zip_error_t *error, const Entry &e);
// True, with the cancel as `*f`, once the query asks to stop.
bool stopRequested(ZipQuery *query, Failure *f);

} // namespace pnvzip::unzip
