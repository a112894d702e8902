#pragma once
// Shared helpers of the zip component's tests: files and folder trees, the peer tools
// (Info-ZIP, 7-Zip, Python's zipfile) and a raw archive writer for hostile archives.

#include <QByteArray>
#include <QHash>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "zipfunctions.h"

#include <QElapsedTimer>
#include <QThread>

#include <optional>
#include <vector>

namespace ziptest {

// Points HOME and XDG_CONFIG_HOME at a temporary folder for the whole test run and
// runs peer tools in a UTF-8 locale.
class PrivateEnvironment
{
public:
    PrivateEnvironment();

private:
    QTemporaryDir m_home;
};

QByteArray readFile(const QString &path);
void writeFile(const QString &path, const QByteArray &data); // creates parent folders
// Reproducible content: incompressible bytes, or text that deflates well.
QByteArray randomBytes(qsizetype size, quint32 seed);
QByteArray textBytes(qsizetype size);
// Prose-like words of random letters: compresses to about 60%, without long repeats.
QByteArray wordBytes(qsizetype size, quint32 seed);
// A folder of documentation read through: gzip files of 20 to 200 KB with a few KB of
// words between them, as when many small compressed files are concatenated.
QByteArray documentationBytes(qsizetype size, quint32 seed);
// What libdeflate level 6 makes of each 1 MiB piece alone, a piece counted as stored
// blocks where that is smaller: the least the engine's pieces can come to.
qint64 deflatedPiecesSize(const QByteArray &data);
void setMtime(const QString &path, const QDateTime &when);
qint64 mtimeSecs(const QString &path); // of the entry itself, links not followed
int permissions(const QString &path);  // st_mode & 07777
QByteArray digest(const QString &path);

// Sorted relative paths: "dir/", "file", "link -> target".
QStringList tree(const QString &root);
// Empty when both trees hold the same names, contents and link targets; otherwise why not.
QString treeDifference(const QString &expected, const QString &actual);
// Names in `folder` that look like leftovers of an interrupted write.
QStringList leftovers(const QString &folder);

// Peer tools. toolPath() is empty when the tool is missing: tests QVERIFY2 on it, since
// CI installs them all.
QString toolPath(const QString &name);
struct RunResult
{
    int exitCode = -1;
    QByteArray output; // stdout and stderr together
};
RunResult run(const QString &program, const QStringList &args, const QString &workDir = QString());
// Runs a Python script with /usr/bin/python3 (sys.argv[1:] = args).
RunResult python(const QString &script, const QStringList &args = {});

// Writes archives byte by byte, stored entries only, exactly as told.
class RawZip
{
public:
    struct Entry
    {
        QByteArray name;
        QByteArray data;
        quint32 unixMode = 0100644; // 0: no Unix attributes (made "on MS-DOS")
        quint16 flags = 0x0800;     // UTF-8 names
        quint16 method = 0;         // the method field written; the data is stored as given
        std::optional<QByteArray> unpacked; // what a compressed `data` unpacks to: its CRC-32 and size are written
        QByteArray password;        // not empty: the data is encrypted with the traditional cipher
        std::optional<quint32> crc; // the CRC-32 written, if not the true one
        QByteArray extra;           // extra fields, in local and central header
        std::optional<QByteArray> centralExtra; // the central header's, if not `extra`
        quint16 dosTime = 0x6000;   // 12:00:00
        quint16 dosDate = 0x5a21;   // 2025-01-01
        // An uncompressed size claimed in a ZIP64 extra field (both headers), whatever the data.
        std::optional<quint64> claimedSize;
        int copies = 1; // written this many times over, one after the other
    };
    void add(const Entry &entry) { m_entries.push_back(entry); }
    // The archive comment, and how far its recorded length runs past the end of the file.
    QByteArray comment;
    int commentOverrun = 0;
    // The ZIP64 end records as well (always when the entries do not fit the short one).
    bool zip64End = false;
    // Never the ZIP64 end records: with 65,536 entries or more, the short end record's
    // count keeps only its low 16 bits, as older writers wrote it.
    bool countWraps = false;
    // The central directory lists the entries from the last to the first, so their data lies
    // in the file in the opposite order.
    bool directoryReversed = false;
    // Where the central directory starts, when past the end of the entries' data: save()
    // leaves a hole before it, so an archive larger than 4 GiB takes no room.
    quint64 directoryAt = 0;
    void add(const QByteArray &name, const QByteArray &data, quint32 unixMode = 0100644);
    QByteArray bytes() const; // without the hole
    void save(const QString &path) const;

private:
    // The entries' data, and the central directory and end records.
    void build(QByteArray *data, QByteArray *directory) const;

    std::vector<Entry> m_entries;
};

// The test's own encoders of the oldest zip methods, which no tool here writes: Shrink
// (method 1; `clears` adds the partial clearing of a full code table) and Implode
// (method 6; `largeWindow` and `literalCodes` are general purpose flag bits 1 and 2).
QByteArray shrinkBytes(const QByteArray &data, bool clears = true);
QByteArray implodeBytes(const QByteArray &data, bool largeWindow, bool literalCodes);
// Names as a writer in another code page stores them: `text` in the converter `page`
// ("ibm-943_P15A-2003", "windows-1251", …); fails the test when a character does not fit.
QByteArray inCodePage(const QString &text, const char *page);
QString fromCodePage(const QByteArray &bytes, const char *page);
// The Unicode path extra field (0x7075) that gives `name` for the stored name `raw`, with
// the CRC-32 of `raw` or the one given.
QByteArray unicodePathField(const QByteArray &raw, const QString &name, std::optional<quint32> crc = {});

// A ZipQuery that answers from a script and records what the call told it.
class ScriptedQuery : public ZipQuery
{
public:
    struct Progress
    {
        qint64 done = 0;
        qint64 total = 0;
        QString entry;
    };
    struct Asked
    {
        QString archive;
        QString entry;
        bool wrongBefore = false;
    };
    // Answers to password requests, in turn; an empty optional answers Cancelled, and
    // once they run out the query answers Unanswered.
    QList<std::optional<QByteArray>> answers;
    // cancelRequested() turns true once progress reached this many bytes (-1: never).
    qint64 cancelAt = -1;
    // The answer to namesCodePage().
    QString codePage;

    QList<Progress> progressSeen;
    QList<Asked> asked;
    int cancelPolls = 0;
    QElapsedTimer sinceStop;  // started at the first true answer of cancelRequested()
    QList<QThread *> threads; // the threads the engine called on

    void progress(qint64 done, qint64 total, const QString &entry) override;
    bool cancelRequested() override;
    PasswordAnswer password(const QString &archive, const QString &entry, bool wrongBefore,
                            QByteArray *password) override;
    QString namesCodePage() override { return codePage; }
    // Empty when the progress seen never went down, kept its total and ended at it.
    QString progressProblem() const;
    // Stricter, for a single-entry call: also the first report at 0, no step over `maxStep`,
    // and no report at the total before the last one.
    QString reportProblem(qint64 total, qint64 maxStep) const;

private:
    void noteThread();
};

// Rewrites every WinZip AES entry of an archive as AE-1 (version 1 and the CRC-32 recorded)
// or as AE-2 (version 2, no CRC-32), with `crcs` giving the CRC-32 by entry name. The
// encrypted data and its authentication code stay as they are.
QByteArray withAesVersion(QByteArray archive, int version, const QHash<QByteArray, quint32> &crcs);

// Patches the compression method of every local and central header of an archive.
QByteArray withMethod(QByteArray archive, quint16 method);

} // namespace ziptest

// Fails the test when a peer tool is missing (no skipping: CI installs them).
#define ZIPTEST_REQUIRE_TOOL(name)                                                             \
    QVERIFY2(!ziptest::toolPath(QStringLiteral(name)).isEmpty(),                              \
             "the peer tool \"" name "\" is missing; install it (see the CI package list)")
