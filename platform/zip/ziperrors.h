#pragma once
// Error numbers of the zip component ("Pnvzip.ZipFunctions").
//
// They travel in ZipResult::number. The numbers are stable: never renumber or reuse
// one; add new ones at the end. None is 91 or 32755, which the windows reserve for
// "object absent" and "cancelled by the user". ZipResult::text always carries a
// readable description as well, so a caller only needs a number to branch on.

namespace pnvzip {

enum ZipError : int {
    // The call worked.
    NoError = 0,

    // The file to read is missing, is a folder, is not a regular file or cannot be
    // read: the source of ZipFile, or the archive given to UnzipFile.
    SourceUnreadable = 30001,

    // ZipFile would write the archive over its own source (same path, or the same file
    // reached through a symbolic or hard link).
    ArchiveIsSource = 30002,

    // Nothing can be written where asked: the path of the folder is a file or lies
    // under a file, the archive path is a folder, access is denied, the file system is
    // read-only, a name is too long, or no free name was left.
    CannotWrite = 30003,

    // The archive is not a zip archive, or it is truncated or damaged (including
    // compressed data that does not decode, an entry with an unusable name, a directory
    // that points to data the file does not have, and entries that share their data, as
    // archives built to fill the disk do: those are refused before anything is written).
    NotAnArchive = 30004,

    // An entry is compressed with a method this component cannot read, such as Reduce
    // (methods 2 to 5) or WavPack (97), or with settings it refuses (an LZMA or XZ
    // dictionary over 512 MiB, a Zstandard window over 128 MiB); the text names the
    // method. Stored, Shrink, Implode, deflated, Deflate64, bzip2, LZMA, Zstandard, XZ and
    // PPMd entries are read (a PPMd header asking for an order below 2 or an unknown
    // restore method is damage, NotAnArchive).
    UnsupportedMethod = 30005,

    // An entry is encrypted (password protected) and no password was given: the caller
    // cannot ask for one (ZipFunctions::UnzipFile, or a query that leaves the request
    // unanswered). When the first encrypted entry is the one, nothing is extracted.
    EncryptedEntry = 30006,

    // An entry would land outside the target folder: a name with "..", an absolute
    // name or a drive letter. (A symbolic link whose target would leave the folder is
    // not made, and the report names it; everything else is extracted.)
    OutsideFolder = 30007,

    // The extracted data does not match the CRC-32 or the size the archive records, or an
    // AES-encrypted entry does not match its authentication code.
    ChecksumMismatch = 30008,

    // Writing failed part-way: the disk is full, a quota or file size limit was hit,
    // or an input/output error occurred.
    WriteFailed = 30009,

    // The target folder (UnzipFile) or the folder that should hold the archive
    // (ZipFile) does not exist.
    FolderMissing = 30010,

    // A path argument is empty.
    EmptyPath = 30011,

    // The caller asked the call to stop (ZipQuery::cancelRequested) or gave up at a
    // password request. A zip leaves no archive; an extraction keeps the files already
    // complete and checked and removes the one being written. Callers treat it as a
    // silent cancel.
    Cancelled = 30012,

    // An entry is encrypted and the password given does not open it, and the caller
    // cannot be asked again: it left the repeated request unanswered, or gave the same
    // wrong answer twice in a row (a password given on a command line).
    WrongPassword = 30013,

    // An entry is encrypted with a method this component cannot decrypt, such as PKWARE
    // strong encryption or AES with a key length other than 128, 192 or 256 bits; the
    // text names it and nothing is extracted.
    UnsupportedEncryption = 30014,

    // The caller asked for entry names to be read in a code page this component does
    // not know (ZipQuery::namesCodePage); nothing is extracted.
    UnknownCodePage = 30020,

    // An unexpected failure inside the zip library or the component itself.
    InternalError = 30099,
};

} // namespace pnvzip
