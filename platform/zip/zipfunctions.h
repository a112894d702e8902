#pragma once
// The contract between the program and its zip component (identifier "Pnvzip.ZipFunctions").
// The component is a Qt plugin loaded at run time; this header is all the two sides share.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtPlugin>

struct ZipResult
{
    int number = 0; // 0 on success, otherwise one of the component's error numbers
    QString text;   // success: what was done, for the user; failure: a readable description
    bool ok() const { return number == 0; }
};

// Both calls are synchronous, reentrant and safe to call from any thread; an instance keeps
// no state between calls. Error numbers are the component's own and never 91 or 32755,
// which the windows reserve for "object absent" and "cancelled by the user".
class ZipFunctions
{
public:
    virtual ~ZipFunctions() = default;
    // Compresses the file `source` into the archive `archive` (full paths).
    virtual ZipResult ZipFile(const QString &source, const QString &archive) = 0;
    // Extracts every entry of `archive` into the folder `folder`.
    virtual ZipResult UnzipFile(const QString &archive, const QString &folder) = 0;
};

// What the caller of a queried call answers while the call runs: it hears of progress, can
// ask the call to stop, and is asked for what only the user knows (a password). The
// component calls it on the thread that runs the call, never on two threads at once for one
// call. Every default answers as a caller that asks for nothing, so a caller overrides only
// what it offers.
class ZipQuery
{
public:
    virtual ~ZipQuery() = default;

    // `done` of `total` bytes of file data (uncompressed sizes) are handled; `entry` is the
    // name of the entry being written or read. Called when an entry starts, every few MiB
    // within it, and once with done == total at the end of a successful call. `total` does
    // not change during a call and `done` never goes down.
    virtual void progress(qint64 done, qint64 total, const QString &entry)
    {
        Q_UNUSED(done);
        Q_UNUSED(total);
        Q_UNUSED(entry);
    }

    // Polled while the work runs, often enough that a call stops within 200 ms of the first
    // true answer. A stopped call cleans up as after a failure (a zip leaves no archive; an
    // extraction keeps only complete, checked files) and returns pnvzip::Cancelled.
    virtual bool cancelRequested() { return false; }

    enum class PasswordAnswer {
        Unanswered, // this caller cannot ask: the call fails with pnvzip::EncryptedEntry, or
                    // with pnvzip::WrongPassword when wrongBefore is true
        Given,      // *password holds the answer
        Cancelled,  // the user gave up: the call returns pnvzip::Cancelled
    };
    // The password for the encrypted entry `entry` of `archive`. `wrongBefore` is true when
    // the previous answer of this call did not open the entry. The password that opened one
    // entry is tried first on the next, so entries sharing a password are asked for once.
    // The same answer given twice in a row for one entry is final: a caller that has only
    // one password (a command line) may simply give it every time, and the call ends with
    // pnvzip::WrongPassword (or, if that password passed the check but the data did not,
    // with the damaged-entry error). The component wipes the answer from memory when it has
    // used it and never stores or reports it.
    virtual PasswordAnswer password(const QString &archive, const QString &entry, bool wrongBefore,
                                    QByteArray *password)
    {
        Q_UNUSED(archive);
        Q_UNUSED(entry);
        Q_UNUSED(wrongBefore);
        Q_UNUSED(password);
        return PasswordAnswer::Unanswered;
    }
    // The code page in which to read the entry names an archive stores without the UTF-8
    // mark ("CP932", "CP866", "UTF-8", …), asked once per extraction; empty lets the
    // component choose it from the names themselves. An unknown one fails the call with
    // pnvzip::UnknownCodePage.
    virtual QString namesCodePage() { return QString(); }
};

// The optional second interface of the component: the same two calls, answered through a
// ZipQuery, and a call that zips several files and folders at once. A component that offers
// it gives the same results as ZipFunctions when the query answers nothing.
class ZipFunctionsQueried
{
public:
    virtual ~ZipFunctionsQueried() = default;
    virtual ZipResult ZipFileQueried(const QString &source, const QString &archive, ZipQuery &query) = 0;
    virtual ZipResult UnzipFileQueried(const QString &archive, const QString &folder, ZipQuery &query) = 0;
    // Compresses the files and folders `paths` (full paths; folders with everything they hold)
    // into the archive `archive`. Each path's entries start with its own name, so a folder
    // "Photos" gives "Photos/" and its tree, a file "a.txt" the entry "a.txt". Links are stored
    // as links, and every entry keeps its Unix mode and modification time. What cannot be read
    // or is no file, folder or link (a pipe, a socket, a device) is left out and named in the
    // result's text while the rest is written. Progress counts the bytes of all the files.
    virtual ZipResult ZipPathsQueried(const QStringList &paths, const QString &archive, ZipQuery &query) = 0;
};

#define ZipFunctions_iid "com.orvanne.Pnvzip.ZipFunctions/1.2"
Q_DECLARE_INTERFACE(ZipFunctions, ZipFunctions_iid)
#define ZipFunctionsQueried_iid "com.orvanne.Pnvzip.ZipFunctionsQueried/1.2"
Q_DECLARE_INTERFACE(ZipFunctionsQueried, ZipFunctionsQueried_iid)

// The identifier under which the component is registered and created.
inline constexpr char ZipComponentProgId[] = "Pnvzip.ZipFunctions";

// For a program that hosts the component, to call first thing in main(), before any thread
// starts: unless TZ is set, names the system time zone in it, so that the C library reads
// /etc/localtime once instead of asking the kernel about it at every local-time conversion
// (an archive's entries each take one, for their DOS times: 20,000 small files extract
// about 5% faster). Local times stay those of the system's zone.
inline void readSystemTimeZoneOnce()
{
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");
}
