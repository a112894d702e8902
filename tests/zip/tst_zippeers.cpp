// The zip engine against tools nobody here wrote: Info-ZIP zip/unzip, 7-Zip and Python's
// zipfile must read what ZipFile writes, and UnzipFile must extract what they write.
// A missing tool fails the test: CI installs them all.

#include "ziptestkit.h"
#include "zipengine.h"
#include "unzipsecrets.h"

#include <QtEndian>
#include <QtTest>

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <zip.h>
#include <zlib.h>

#include <atomic>
#include <cstring>
#include <malloc.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

// Every block the program frees is looked at while a test watches: whether it still holds
// the watched bytes (a password, decrypted data).
extern "C" void __libc_free(void *block);
namespace {
std::atomic<bool> g_watching{false};
const char *g_watched = nullptr;
size_t g_watchedSize = 0;
std::atomic<int> g_freedHolding{0};
} // namespace
extern "C" void free(void *block)
{
    if (block && g_watching.load(std::memory_order_acquire)
        && memmem(block, malloc_usable_size(block), g_watched, g_watchedSize))
        g_freedHolding.fetch_add(1);
    __libc_free(block);
}
#include <linux/capability.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace ziptest;

namespace {

constexpr qint64 FixedTime = 1600000000; // even seconds, so DOS times hold it exactly

// Python's zipfile leaves the extended timestamp (extra field 0x5455) to its callers: this
// gives an entry's modification time from it, or None. Put before the scripts that use it.
const char *const PythonUnixTime = R"PY(
import struct
def unix_time(e):
    extra = e.extra
    while len(extra) >= 4:
        tag, size = struct.unpack("<HH", extra[:4])
        if tag == 0x5455 and size >= 5 and extra[4] & 1:
            return struct.unpack("<I", extra[5:9])[0]
        extra = extra[4 + size:]
    return None
)PY";

// Reads an archive with Python's zipfile and prints what the tests compare.
const char *const DescribeArchive = R"PY(
import hashlib, struct, sys, time, zipfile
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None, "testzip found a bad entry"
entries = z.infolist()
e = entries[0]
ut = unix_time(e)
print(len(entries))
print(e.filename)
print(1 if e.flag_bits & 0x800 else 0)
print(e.create_system, oct(e.external_attr >> 16))
print(1 if tuple(e.date_time) == time.localtime(int(sys.argv[2]))[:6] else 0)
print(ut)
print(hashlib.sha256(z.read(e)).hexdigest())
)PY";

// Writes the folder sys.argv[2] into the archive sys.argv[1], folders included.
const char *const PythonZip = R"PY(
import os, sys, zipfile
method = {"stored": zipfile.ZIP_STORED, "deflated": zipfile.ZIP_DEFLATED,
          "bzip2": zipfile.ZIP_BZIP2}[sys.argv[3]]
root = sys.argv[2]
with zipfile.ZipFile(sys.argv[1], "w", compression=method) as z:
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        rel = os.path.relpath(folder, root)
        if rel != ".":
            z.write(folder, rel + "/")
        for name in sorted(files):
            z.write(os.path.join(folder, name), os.path.normpath(os.path.join(rel, name)))
)PY";

// Extracts the archive sys.argv[1] into sys.argv[2] with Python's zipfile, as a program
// built on it does: links from their Unix mode, modes and times (the extended timestamp)
// applied after the data, folders' last.
const char *const PythonExtract = R"PY(
import os, stat, struct, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None, "testzip found a bad entry"
out = sys.argv[2]
folders = []
for e in z.infolist():
    mode = e.external_attr >> 16
    path = os.path.join(out, e.filename)
    ut = unix_time(e)
    os.makedirs(os.path.dirname(path.rstrip("/")), exist_ok=True)
    if stat.S_ISLNK(mode):
        os.symlink(z.read(e).decode(), path)
    elif e.is_dir():
        os.makedirs(path, exist_ok=True)
        folders.append((path, mode, ut))
    else:
        with open(path, "wb") as f:
            f.write(z.read(e))
        os.chmod(path, stat.S_IMODE(mode))
        os.utime(path, (ut, ut))
for path, mode, ut in reversed(folders):
    os.chmod(path, stat.S_IMODE(mode))
    os.utime(path, (ut, ut))
)PY";

void setTimes(const QString &path, qint64 secs)
{
    const struct timespec times[2] = {{time_t(secs), 0}, {time_t(secs), 0}};
    QVERIFY2(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0,
             qPrintable(path));
}

// The names of a tree with each file's and folder's mode and time, and each link's target.
QStringList treeWithModes(const QString &root)
{
    QStringList out;
    for (const QString &name : tree(root)) {
        if (name.contains(u" -> "_s)) {
            out << name;
            continue;
        }
        const QString path = root + QChar('/') + name;
        out << u"%1 %2 %3"_s.arg(name).arg(permissions(path), 0, 8).arg(mtimeSecs(path));
    }
    return out;
}

// Runs `call` on this thread without the capabilities that let root read any file (threads
// it starts inherit that), so a file of mode 000 cannot be read even by root.
template <typename Call>
auto withoutReadOverride(Call call)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
    const bool dropped = ::geteuid() == 0 && ::syscall(SYS_capget, &header, saved) == 0;
    if (dropped) {
        __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        ::syscall(SYS_capset, &header, reduced);
    }
    auto result = call();
    if (dropped)
        ::syscall(SYS_capset, &header, saved);
    return result;
}

QStringList topLevel(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// Answers a password request from a fixed array: the only heap copy is the engine's own.
class FixedPasswordQuery : public ZipQuery
{
public:
    static constexpr char Password[] = "Tr0ub4dor&3-horse";
    int asked = 0;
    std::function<void()> onProgress;
    void progress(qint64, qint64, const QString &) override
    {
        if (onProgress)
            onProgress();
    }
    PasswordAnswer password(const QString &, const QString &, bool, QByteArray *password) override
    {
        ++asked;
        *password = QByteArray(Password, qsizetype(sizeof Password - 1));
        return PasswordAnswer::Given;
    }
};

} // namespace

class TestZipPeers : public QObject
{
    Q_OBJECT

private:
    PrivateEnvironment m_environment;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString at(const QString &relative) const { return m_dir->filePath(relative); }

    // A folder tree with what archives are made of: nested and empty folders, an empty
    // file, binary data and UTF-8 names.
    void makeTree(const QString &root)
    {
        const QList<QPair<QString, QByteArray>> files{
            {u"plain.txt"_s, textBytes(50000)},
            {u"empty.bin"_s, QByteArray()},
            {u"nested/deeper/data.bin"_s, randomBytes(70000, 7)},
            {u"nested/deeper/more.txt"_s, textBytes(3000)},
            {u"Ünïcødé ✓/naïve résumé.txt"_s, textBytes(1200)},
            {u"space name.txt"_s, "a b c"},
        };
        int step = 0;
        for (const auto &[name, data] : files) {
            writeFile(root + QChar('/') + name, data);
            setMtime(root + QChar('/') + name, QDateTime::fromSecsSinceEpoch(FixedTime + 2 * step++));
        }
        QVERIFY(QDir().mkpath(root + u"/empty dir"_s));
    }

private:
    // An extraction of one entry "data.bin": with no error numbers expected it gives `content`;
    // otherwise it fails with one of them, says the entry is damaged and leaves nothing.
    static void expectDataOrDamage(const ZipResult &result, const QString &out, const QByteArray &content,
                                   const QList<int> &numbers)
    {
        if (numbers.isEmpty()) {
            QVERIFY2(result.ok(), qPrintable(result.text));
            QVERIFY(readFile(out + u"/data.bin"_s) == content);
            return;
        }
        QVERIFY2(numbers.contains(result.number), qPrintable(QString::number(result.number) + QChar(' ') + result.text));
        QVERIFY2(result.text.contains(u"“data.bin” in the archive is damaged"_s), qPrintable(result.text));
        QCOMPARE(tree(out), QStringList());
    }

private slots:
    void initTestCase()
    {
        ZIPTEST_REQUIRE_TOOL("zip");
        ZIPTEST_REQUIRE_TOOL("unzip");
        ZIPTEST_REQUIRE_TOOL("7zz");
        ZIPTEST_REQUIRE_TOOL("/usr/bin/python3");
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() { m_dir.reset(); }

    void peersReadOurArchives_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("text") << "report.doc" << textBytes(400000);
        QTest::newRow("empty") << "empty.txt" << QByteArray();
        QTest::newRow("random") << "noise.bin" << randomBytes(1 << 20, 11);
        QTest::newRow("binary") << "libsomething.so" << readFile(u"/bin/sh"_s);
        QTest::newRow("UTF-8 name") << "Größe – 大小 ✓.txt" << textBytes(20000);
        // Deflated in pieces (text whole, other data in halves) joined into one stream.
        QTest::newRow("one byte") << "x.txt" << QByteArray("x");
        QTest::newRow("exactly one piece") << "piece.txt" << textBytes(1 << 20);
        QTest::newRow("one piece less a byte") << "short.txt" << textBytes((1 << 20) - 1);
        QTest::newRow("two pieces and a byte") << "over.txt" << textBytes((2 << 20) + 1);
        QTest::newRow("text, noise, text") << "mixed.bin" << textBytes(1 << 20) + randomBytes(1 << 20, 12) + textBytes(300001);
        // Pieces mostly compressed already, with a little text here and there.
        QTest::newRow("documentation read through") << "docs.bin" << documentationBytes(5 << 20, 3);
        // Real text: the system's C headers read through, as a source tarball holds them.
        QByteArray headers;
        QDirIterator it(u"/usr/include"_s, {u"*.h"_s}, QDir::Files, QDirIterator::Subdirectories);
        QStringList names;
        while (it.hasNext())
            names << it.next();
        names.sort();
        for (const QString &header : std::as_const(names)) {
            if (headers.size() >= (5 << 20))
                break;
            headers += readFile(header);
        }
        QTest::newRow("C headers") << "headers.txt" << headers.left(5 << 20);
        QTest::newRow("noise with words between") << "noisy.bin"
            << randomBytes(700000, 13) + wordBytes(20000, 14) + randomBytes(900000, 15) + wordBytes(15000, 16)
                   + randomBytes(500000, 17);
    }
    void peersReadOurArchives()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        const QString source = at(u"in/"_s + name);
        writeFile(source, content);
        QVERIFY(QFile::setPermissions(source, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        setMtime(source, QDateTime::fromSecsSinceEpoch(FixedTime));
        const QString archive = at(u"made.zip"_s);
        const ZipResult made = pnvzip::zipFile(source, archive);
        QVERIFY2(made.ok(), qPrintable(made.text));
        // No larger than libdeflate level 6 makes each piece alone, within 0.3% and the
        // headers (names twice, the timestamps, the end record).
        const qint64 reference = deflatedPiecesSize(content);
        const qint64 packed = QFileInfo(archive).size();
        QVERIFY2(packed <= reference + reference * 3 / 1000 + 120 + 2 * name.toUtf8().size(),
                 qPrintable(u"%1 bytes against %2 for the pieces alone"_s.arg(packed).arg(reference)));
        // And no larger than Info-ZIP's level 6 makes it (its headers hold 24 bytes of extra
        // fields fewer than ours at most).
        const QString byZip = at(u"by-zip.zip"_s);
        RunResult made6 = run(u"zip"_s, {u"-q"_s, u"-6"_s, u"-j"_s, byZip, source});
        QVERIFY2(made6.exitCode == 0, made6.output.constData());
        QVERIFY2(packed <= QFileInfo(byZip).size() + 24,
                 qPrintable(u"%1 bytes against %2 by zip -6"_s.arg(packed).arg(QFileInfo(byZip).size())));

        RunResult r = run(u"unzip"_s, {u"-t"_s, archive});
        QVERIFY2(r.exitCode == 0 && r.output.contains("No errors detected"), r.output.constData());
        r = run(u"7zz"_s, {u"t"_s, archive});
        QVERIFY2(r.exitCode == 0 && r.output.contains("Everything is Ok"), r.output.constData());

        r = python(QString::fromLatin1(PythonUnixTime) + QString::fromLatin1(DescribeArchive), {archive, QString::number(FixedTime)});
        QVERIFY2(r.exitCode == 0, r.output.constData());
        const QStringList lines = QString::fromUtf8(r.output).trimmed().split(QChar('\n'));
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines[0], u"1"_s);
        QCOMPARE(lines[1], name);
        if (name.toUtf8() != name.toLatin1())
            QCOMPARE(lines[2], u"1"_s); // UTF-8 flag on non-ASCII names
        QCOMPARE(lines[3], u"3 0o100640"_s);
        QCOMPARE(lines[4], u"1"_s); // DOS time is the local time of the mtime
        QCOMPARE(lines[5], QString::number(FixedTime));
        QCOMPARE(lines[6].toLatin1(), QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());

        // Extracted by both peers: same bytes and the same time.
        const QString byUnzip = at(u"by-unzip"_s);
        r = run(u"unzip"_s, {u"-q"_s, archive, u"-d"_s, byUnzip});
        QVERIFY2(r.exitCode == 0, r.output.constData());
        QCOMPARE(readFile(byUnzip + QChar('/') + name), content);
        QCOMPARE(mtimeSecs(byUnzip + QChar('/') + name), FixedTime);
        const QString by7z = at(u"by-7z"_s);
        r = run(u"7zz"_s, {u"x"_s, u"-y"_s, u"-o"_s + by7z, archive});
        QVERIFY2(r.exitCode == 0, r.output.constData());
        QCOMPARE(readFile(by7z + QChar('/') + name), content);
        QCOMPARE(mtimeSecs(by7z + QChar('/') + name), FixedTime);
    }

    void peerArchivesExtract_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("method");
        QTest::addColumn<int>("expectedMethod");
        QTest::newRow("Info-ZIP deflate") << "zip" << "-6" << 8;
        QTest::newRow("Info-ZIP stored") << "zip" << "-0" << 0;
        QTest::newRow("Info-ZIP bzip2") << "zip" << "bzip2" << 12;
        QTest::newRow("7-Zip deflate") << "7zz" << "Deflate" << 8;
        QTest::newRow("7-Zip stored") << "7zz" << "Copy" << 0;
        QTest::newRow("7-Zip bzip2") << "7zz" << "BZip2" << 12;
        QTest::newRow("7-Zip Deflate64") << "7zz" << "Deflate64" << 9;
        QTest::newRow("Python stored") << "python" << "stored" << 0;
        QTest::newRow("Python deflate") << "python" << "deflated" << 8;
        QTest::newRow("Python bzip2") << "python" << "bzip2" << 12;
    }
    void peerArchivesExtract()
    {
        QFETCH(QString, tool);
        QFETCH(QString, method);
        QFETCH(int, expectedMethod);
        const QString source = at(u"src"_s);
        makeTree(source);
        const QString archive = at(u"peer.zip"_s);
        RunResult r;
        if (tool == QLatin1String("zip")) {
            const QStringList how = method == QLatin1String("bzip2") ? QStringList{u"-Z"_s, u"bzip2"_s}
                                                                     : QStringList{method};
            r = run(u"zip"_s, QStringList{u"-q"_s, u"-r"_s} + how + QStringList{archive}
                                               + topLevel(source), source);
        } else if (tool == QLatin1String("7zz")) {
            r = run(u"7zz"_s, QStringList{u"a"_s, u"-tzip"_s, u"-mm="_s + method, archive}
                                               + topLevel(source), source);
        } else {
            r = python(QString::fromLatin1(PythonZip), {archive, source, method});
        }
        QVERIFY2(r.exitCode == 0, r.output.constData());
        // The archive really uses the method in question (peers store what does not shrink).
        r = python(QStringLiteral("import sys, zipfile\n"
                                  "print(sorted({e.compress_type for e in zipfile.ZipFile(sys.argv[1]).infolist()}))"),
                   {archive});
        QVERIFY2(r.output.contains(QByteArray::number(expectedMethod) + ']'), r.output.constData());

        const QString out = at(u"out/"_s);
        QVERIFY(QDir().mkpath(out));
        const ZipResult result = pnvzip::unzipFile(archive, out);
        QVERIFY2(result.ok(), qPrintable(result.text));
        const QString difference = treeDifference(source, out);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        for (const QString &rel : tree(source)) {
            if (!rel.endsWith(QChar('/')))
                QCOMPARE(mtimeSecs(out + rel), mtimeSecs(source + QChar('/') + rel));
        }
        QVERIFY2(result.text.contains(u"Ünïcødé ✓/naïve résumé.txt"_s), qPrintable(result.text));
    }

    // One file in a 7-Zip Deflate64 archive: data whose matches reach far back (distance
    // symbols 30 and 31) or run long, stored blocks among Huffman ones, several MiB so
    // that matches straddle the decoder's output slices; and the same archives damaged.
    void peerDeflate64Extracts_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QList<int>>("numbers"); // empty: extracts
        const QByteArray far = randomBytes(60000, 21);
        QByteArray farRepeats;
        for (int i = 0; farRepeats.size() < (3 << 20); ++i)
            farRepeats += far.mid(i * 977 % 50000, 10000) + textBytes(i % 300) + far;
        QByteArray runs;
        for (int i = 0; runs.size() < (4 << 20); ++i)
            runs += QByteArray(1000 + i * 7919 % 200000, char(i % 3)) + randomBytes(i % 50, quint32(i));
        const QByteArray mixed = textBytes(1 << 20) + randomBytes(1 << 20, 22) + textBytes(300001);
        QTest::newRow("small text") << textBytes(2000) << "" << QList<int>();
        QTest::newRow("text, 6 MiB") << textBytes(6 << 20) << "" << QList<int>();
        QTest::newRow("far repeats") << farRepeats << "" << QList<int>();
        QTest::newRow("long runs") << runs << "" << QList<int>();
        QTest::newRow("text, noise, text") << mixed << "" << QList<int>();
        const int corrupt = pnvzip::NotAnArchive, crc = pnvzip::ChecksumMismatch;
        QTest::newRow("block type 3") << textBytes(300000) << "type" << QList<int>{corrupt};
        QTest::newRow("byte flipped") << textBytes(300000) << "flip" << QList<int>{corrupt, crc};
        QTest::newRow("cut short") << mixed << "cut" << QList<int>{crc};
        QTest::newRow("size recorded too small") << mixed << "size" << QList<int>{crc};
    }
    void peerDeflate64Extracts()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, damage);
        QFETCH(QList<int>, numbers);
        writeFile(at(u"src/data.bin"_s), content);
        const QString archive = at(u"d64.zip"_s);
        const RunResult r = run(u"7zz"_s, {u"a"_s, u"-tzip"_s, u"-mm=Deflate64"_s, u"-mmt=1"_s, archive, u"data.bin"_s},
                                at(u"src"_s));
        QVERIFY2(r.exitCode == 0, r.output.constData());
        QByteArray bytes = readFile(archive);
        const auto *raw = reinterpret_cast<const uchar *>(bytes.constData());
        QCOMPARE(qFromLittleEndian<quint16>(raw + 8), quint16(9)); // the method of the one entry
        const quint32 packed = qFromLittleEndian<quint32>(raw + 18);
        const qsizetype data = 30 + qFromLittleEndian<quint16>(raw + 26) + qFromLittleEndian<quint16>(raw + 28);
        if (damage == u"type"_s) {
            bytes[data] = char(bytes[data] | 0x06);
        } else if (damage == u"flip"_s) {
            bytes[data + packed / 2] = char(bytes[data + packed / 2] ^ 0x55);
        } else if (damage == u"cut"_s || damage == u"size"_s) {
            // Half the data or half its size, as both the local and the central header record it.
            const qsizetype field = damage == u"cut"_s ? 18 : 22;
            char half[4];
            qToLittleEndian(qFromLittleEndian<quint32>(raw + field) / 2, half);
            bytes.replace(field, 4, half, 4);
            bytes.replace(bytes.lastIndexOf("PK\x01\x02") + field + 2, 4, half, 4);
        }
        writeFile(archive, bytes);

        const QString out = at(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        const ZipResult result = pnvzip::unzipFile(archive, out);
        expectDataOrDamage(result, out, content, numbers);
    }

    // Every other method the engine reads: LZMA and PPMd as 7-Zip writes them, entries
    // holding what the xz and zstd tools write, and Shrink and Implode from the test's own
    // encoders (no tool here writes them), which Info-ZIP unzip must extract to the same
    // bytes first. PPMd comes with the orders and memory sizes 7-Zip takes; where 1 MiB of
    // model memory fills up, it starts again (restore method 0) or prunes itself (-mx=9:
    // method 1). Damaged data gives the damaged-entry error and leaves nothing behind.
    void peerMethodsExtract_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QByteArray>("password"); // the traditional cipher
        QTest::addColumn<QList<int>>("numbers");  // empty: extracts
        const QByteArray mixed = textBytes(400000) + randomBytes(150000, 31) + wordBytes(300000, 32);
        QByteArray runs;
        for (int i = 0; runs.size() < 300000; ++i)
            runs += QByteArray(1 + i * 7919 % 900, char(i % 5)) + wordBytes(i % 40, quint32(i));
        const QByteArray text = textBytes(6 << 20) + randomBytes(1 << 20, 33);
        const int corrupt = pnvzip::NotAnArchive, crc = pnvzip::ChecksumMismatch;
        for (const char *method : {"lzma", "xz", "zstd"}) {
            const QString m = QString::fromLatin1(method);
            QTest::newRow(qPrintable(m + u", text and noise"_s)) << m << text << "" << QByteArray() << QList<int>();
            if (m != u"lzma"_s)
                QTest::newRow(qPrintable(m + u", two streams"_s)) << m << mixed << "twice" << QByteArray() << QList<int>();
            QTest::newRow(qPrintable(m + u", ZipCrypto"_s)) << m << mixed << "" << QByteArray("letmein") << QList<int>();
            QTest::newRow(qPrintable(m + u", byte flipped"_s)) << m << mixed << "flip" << QByteArray() << QList<int>{corrupt, crc};
            QTest::newRow(qPrintable(m + u", cut short"_s)) << m << mixed << "cut" << QByteArray() << QList<int>{corrupt, crc};
        }
        QTest::newRow("shrink, tables cleared") << "shrink" << mixed << "" << QByteArray() << QList<int>();
        QTest::newRow("shrink, runs") << "shrink" << runs << "" << QByteArray() << QList<int>();
        QTest::newRow("shrink, empty") << "shrink" << QByteArray() << "" << QByteArray() << QList<int>();
        QTest::newRow("shrink, ZipCrypto") << "shrink" << mixed << "" << QByteArray("letmein") << QList<int>();
        QTest::newRow("shrink, byte flipped") << "shrink" << mixed << "flip" << QByteArray() << QList<int>{corrupt, crc};
        QTest::newRow("shrink, cut short") << "shrink" << mixed << "cut" << QByteArray() << QList<int>{corrupt, crc};
        for (const char *method : {"implode-4k", "implode-8k", "implode-4k-literals", "implode-8k-literals"}) {
            const QString m = QString::fromLatin1(method);
            QTest::newRow(qPrintable(m)) << m << mixed << "" << QByteArray() << QList<int>();
            QTest::newRow(qPrintable(m + u", runs"_s)) << m << runs << "" << QByteArray() << QList<int>();
        }
        QTest::newRow("implode, ZipCrypto") << "implode-8k-literals" << mixed << "" << QByteArray("letmein") << QList<int>();
        QTest::newRow("implode, byte flipped") << "implode-4k-literals" << mixed << "flip" << QByteArray() << QList<int>{corrupt, crc};
        QTest::newRow("implode, cut short") << "implode-8k" << mixed << "cut" << QByteArray() << QList<int>{corrupt, crc};
        // "ppmd[:options] [7zz switches]"; -mem=AES256 with a password for AES, else ZipCrypto.
        QByteArray binary;
        for (quint32 i = 0; binary.size() < (2 << 20); ++i) {
            const quint32 value = i * 2654435761u;
            binary.append(reinterpret_cast<const char *>(&value), 3).append(char(i % 7)).append(char(i >> 12));
        }
        QTest::newRow("ppmd, text and noise") << "ppmd" << text << "" << QByteArray() << QList<int>();
        QTest::newRow("ppmd -mx=9, text and noise") << "ppmd -mx=9" << text << "" << QByteArray() << QList<int>();
        QTest::newRow("ppmd, order 16, 1 MiB: restarts") << "ppmd:o=16:mem=1m" << text << "" << QByteArray() << QList<int>();
        QTest::newRow("ppmd -mx=9, order 16, 1 MiB: cut off") << "ppmd:o=16:mem=1m -mx=9" << text << "" << QByteArray()
                                                              << QList<int>();
        QTest::newRow("ppmd, order 2, 1 MiB") << "ppmd:o=2:mem=1m" << mixed << "" << QByteArray() << QList<int>();
        QTest::newRow("ppmd -mx=9, order 3, 1 MiB") << "ppmd:o=3:mem=1m -mx=9" << mixed << "" << QByteArray() << QList<int>();
        QTest::newRow("ppmd, order 16, 64 MiB") << "ppmd:o=16:mem=64m" << mixed << "" << QByteArray() << QList<int>();
        QTest::newRow("ppmd, binary") << "ppmd:o=4" << binary << "" << QByteArray() << QList<int>();
        QTest::newRow("ppmd, runs") << "ppmd -mx=9" << runs << "" << QByteArray() << QList<int>();
        QTest::newRow("ppmd, empty") << "ppmd" << QByteArray() << "" << QByteArray() << QList<int>();
        QTest::newRow("ppmd, ZipCrypto") << "ppmd" << mixed << "" << QByteArray("letmein") << QList<int>();
        QTest::newRow("ppmd -mx=9, ZipCrypto, 1 MiB: cut off") << "ppmd:o=16:mem=1m -mx=9" << mixed << ""
                                                               << QByteArray("letmein") << QList<int>();
        QTest::newRow("ppmd, AES-256") << "ppmd -mem=AES256" << text << "" << QByteArray("letmein") << QList<int>();
        QTest::newRow("ppmd, AES-256, 1 MiB: restarts") << "ppmd:o=8:mem=1m -mem=AES256" << mixed << ""
                                                        << QByteArray("letmein") << QList<int>();
        QTest::newRow("ppmd, byte flipped") << "ppmd" << mixed << "flip" << QByteArray() << QList<int>{corrupt, crc};
        QTest::newRow("ppmd -mx=9, byte flipped") << "ppmd:o=16:mem=1m -mx=9" << mixed << "flip" << QByteArray()
                                                  << QList<int>{corrupt, crc};
        QTest::newRow("ppmd, cut short") << "ppmd" << mixed << "cut" << QByteArray() << QList<int>{corrupt, crc};
        QTest::newRow("ppmd, header: order 1") << "ppmd" << runs << "order 1" << QByteArray() << QList<int>{corrupt};
        QTest::newRow("ppmd, header: restore method 2") << "ppmd" << runs << "restore 2" << QByteArray() << QList<int>{corrupt};
    }
    void peerMethodsExtract()
    {
        QFETCH(QString, method);
        QFETCH(QByteArray, content);
        QFETCH(QString, damage);
        QFETCH(QByteArray, password);
        QFETCH(QList<int>, numbers);
        const QString archive = at(u"m.zip"_s);
        const QString source = at(u"src/data.bin"_s);
        writeFile(source, content);
        // The data as a tool packs it: `tool` run on a file of `part`.
        auto packed = [&](const QString &tool, const QByteArray &part) {
            writeFile(source, part);
            QFile::remove(source + (tool == u"xz"_s ? u".xz"_s : u".zst"_s));
            const RunResult r = tool == u"xz"_s ? run(u"xz"_s, {u"-k"_s, u"-T1"_s, source})
                                                : run(u"zstd"_s, {u"-q"_s, u"-k"_s, source});
            return r.exitCode == 0 ? readFile(source + (tool == u"xz"_s ? u".xz"_s : u".zst"_s)) : QByteArray();
        };
        const bool ppmd = method.startsWith(u"ppmd"_s);
        if (ppmd && content.isEmpty()) {
            // 7-Zip stores an empty file: the stream it would write is an order-6 model with
            // 1 MiB and the end marker, which 7-Zip must find sound.
            RawZip zip;
            RawZip::Entry entry;
            entry.name = "data.bin";
            entry.data = QByteArray::fromHex("0500ff00ff0000");
            entry.unpacked = content;
            entry.method = 98;
            zip.add(entry);
            zip.save(archive);
            const RunResult r = run(u"7zz"_s, {u"t"_s, archive});
            QVERIFY2(r.exitCode == 0 && r.output.contains("Everything is Ok"), r.output.constData());
        } else if (method == u"lzma"_s || ppmd) {
            QStringList words = method.split(QChar(' '));
            const QString first = words.takeFirst();
            QStringList args{u"a"_s, u"-tzip"_s, u"-mmt=1"_s, ppmd ? u"-mm=PPMd"_s + first.mid(4) : u"-mm=LZMA"_s};
            args += words;
            if (!password.isEmpty()) {
                if (!method.contains(u"-mem="_s))
                    args << u"-mem=ZipCrypto"_s;
                args << u"-p"_s + QString::fromLatin1(password);
            }
            const RunResult r = run(u"7zz"_s, args << archive << u"data.bin"_s, at(u"src"_s));
            QVERIFY2(r.exitCode == 0, r.output.constData());
        } else {
            RawZip zip;
            RawZip::Entry entry;
            entry.name = "data.bin";
            entry.unpacked = content;
            entry.password = password;
            entry.flags = 0;
            if (method == u"xz"_s || method == u"zstd"_s) {
                const qsizetype half = damage == u"twice"_s ? content.size() / 3 : content.size();
                entry.data = packed(method, content.left(half));
                if (half < content.size())
                    entry.data += packed(method, content.mid(half));
                QVERIFY(!entry.data.isEmpty());
                entry.method = method == u"xz"_s ? 95 : 93;
            } else if (method == u"shrink"_s) {
                entry.data = shrinkBytes(content);
                entry.method = 1;
            } else {
                const bool large = method.contains(u"8k"_s), literals = method.endsWith(u"literals"_s);
                entry.data = implodeBytes(content, large, literals);
                entry.method = 6;
                entry.flags = quint16((large ? 2 : 0) | (literals ? 4 : 0));
            }
            zip.add(entry);
            zip.save(archive);
            if (entry.method == 1 || entry.method == 6) {
                // Info-ZIP reads them as the engine should.
                const QString peer = at(u"unzip"_s);
                QStringList args{u"-q"_s};
                if (!password.isEmpty())
                    args << u"-P"_s << QString::fromLatin1(password);
                const RunResult r = run(u"unzip"_s, args << u"-d"_s << peer << archive);
                QVERIFY2(r.exitCode == 0, r.output.constData());
                QVERIFY(readFile(peer + u"/data.bin"_s) == content);
            }
        }
        QByteArray bytes = readFile(archive);
        const auto *raw = reinterpret_cast<const uchar *>(bytes.constData());
        const quint32 size = qFromLittleEndian<quint32>(raw + 18);
        const qsizetype data = 30 + qFromLittleEndian<quint16>(raw + 26) + qFromLittleEndian<quint16>(raw + 28);
        if (ppmd && password.isEmpty()) {
            // 7-Zip really wrote PPMd, with the restore method the row is about.
            QCOMPARE(qFromLittleEndian<quint16>(raw + 8), quint16(98));
            QCOMPARE(qFromLittleEndian<quint16>(raw + data) >> 12, method.contains(u"-mx=9"_s) ? 1 : 0);
        }
        if (damage == u"flip"_s) {
            bytes[data + size / 2] = char(bytes[data + size / 2] ^ 0x55);
        } else if (damage == u"order 1"_s) {
            bytes[data] = char(bytes[data] & 0xf0);
        } else if (damage == u"restore 2"_s) {
            bytes[data + 1] = char((bytes[data + 1] & 0x0f) | 0x20);
        } else if (damage == u"cut"_s) {
            // Half the data, as both the local and the central header record it.
            char half[4];
            qToLittleEndian(size / 2, half);
            bytes.replace(18, 4, half, 4);
            bytes.replace(bytes.indexOf("PK\x01\x02") + 20, 4, half, 4);
        }
        writeFile(archive, bytes);

        const QString out = at(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        ScriptedQuery query;
        query.answers = {password};
        const ZipResult result = pnvzip::unzipFile(archive, out, &query);
        QCOMPARE(query.asked.size(), password.isEmpty() ? 0 : 1);
        expectDataOrDamage(result, out, content, numbers);
    }

    // A folder with what trees hold, zipped whole (the archive beside it or inside it): each
    // peer extracts the same tree, links as links, with the modes and times to the second.
    // The file nobody may read and the pipe are left out and named.
    void peersExtractTrees_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<bool>("inside");
        for (const char *peer : {"unzip", "7zz", "python"}) {
            QTest::addRow("%s, archive beside", peer) << QString::fromLatin1(peer) << false;
            QTest::addRow("%s, archive inside", peer) << QString::fromLatin1(peer) << true;
        }
    }
    void peersExtractTrees()
    {
        QFETCH(QString, peer);
        QFETCH(bool, inside);
        const QString root = at(u"Photos"_s);
        makeTree(root);
        writeFile(root + u"/big.txt"_s, textBytes(5 << 20));                // deflated in pieces
        writeFile(root + u"/nested/noise.bin"_s, randomBytes(3 << 20, 21)); // pieces that do not shrink
        writeFile(root + u"/run.sh"_s, "#!/bin/sh\necho hi\n");
        QVERIFY(QFile::setPermissions(root + u"/run.sh"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                             | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                                             | QFile::ExeOther));
        QVERIFY(QDir().mkpath(root + u"/a/b/c"_s));
        QVERIFY(QFile::link(u"nested/deeper/more.txt"_s, root + u"/latest"_s));
        QVERIFY(QFile::link(u"/etc/hostname"_s, root + u"/outside"_s));
        QVERIFY(QFile::link(u"../../nowhere"_s, root + u"/nested/gone"_s));
        writeFile(root + u"/secret.txt"_s, "nobody reads this");
        QVERIFY(QFile::setPermissions(root + u"/secret.txt"_s, {}));
        QCOMPARE(::mkfifo(QFile::encodeName(root + u"/pipe"_s).constData(), 0644), 0);
        // Times last, deepest first, so writing into a folder changes none.
        QStringList names = tree(root);
        std::reverse(names.begin(), names.end());
        qint64 when = FixedTime;
        for (const QString &name : std::as_const(names))
            setTimes(root + QChar('/') + name.section(u" -> "_s, 0, 0), when += 2);
        setTimes(root, when += 2);

        const QString archive = inside ? root + u"/Photos.zip"_s : at(u"Photos.zip"_s);
        if (inside)
            writeFile(archive, "an older archive, replaced and never zipped");
        const ZipResult made = withoutReadOverride([&] { return pnvzip::zipPaths({root}, archive); });
        QVERIFY2(made.ok(), qPrintable(made.text));
        QVERIFY2(made.text.contains(u"9 files, 8 folders and 3 links zipped"_s), qPrintable(made.text));
        QVERIFY2(made.text.contains(u"2 items were left out:\n  Photos/pipe (a named pipe)\n  Photos/secret.txt ("_s),
                 qPrintable(made.text));

        RunResult r = run(u"unzip"_s, {u"-t"_s, archive});
        QVERIFY2(r.exitCode == 0 && r.output.contains("No errors detected"), r.output.constData());
        r = run(u"7zz"_s, {u"t"_s, archive});
        QVERIFY2(r.exitCode == 0 && r.output.contains("Everything is Ok"), r.output.constData());

        const QString out = at(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        if (peer == u"unzip"_s)
            r = run(u"unzip"_s, {u"-q"_s, archive, u"-d"_s, out});
        else if (peer == u"7zz"_s)
            r = run(u"7zz"_s, {u"x"_s, u"-y"_s, u"-snld"_s, u"-o"_s + out, archive}); // links that leave the folder too
        else
            r = python(QString::fromLatin1(PythonUnixTime) + QString::fromLatin1(PythonExtract), {archive, out});
        QVERIFY2(r.exitCode == 0, r.output.constData());
        if (!inside) // writing the archive inside changes the folder's time before it is read
            QCOMPARE(mtimeSecs(out + u"/Photos"_s), when);
        if (peer == u"7zz"_s) {
            // 7-Zip puts an absolute link's target under the folder it extracts into.
            const QString outside = out + u"/Photos/outside"_s;
            QCOMPARE(QFileInfo(outside).symLinkTarget(), out + u"/etc/hostname"_s);
            QVERIFY(QFile::remove(outside) && QFile::link(u"/etc/hostname"_s, outside));
        }
        QFile::remove(root + u"/secret.txt"_s);
        QFile::remove(root + u"/pipe"_s);
        if (inside)
            QFile::remove(archive);
        QCOMPARE(topLevel(out), QStringList{u"Photos"_s});
        const QString difference = treeDifference(root, out + u"/Photos"_s);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        QCOMPARE(treeWithModes(out + u"/Photos"_s), treeWithModes(root));
    }

    void peerLinksExtract_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::newRow("Info-ZIP") << "zip";
        QTest::newRow("7-Zip") << "7zz";
    }
    void peerLinksExtract()
    {
        QFETCH(QString, tool);
        const QString source = at(u"src"_s);
        writeFile(source + u"/docs/readme.txt"_s, "read me");
        QVERIFY(QFile::link(u"docs/readme.txt"_s, source + u"/latest"_s));
        QVERIFY(QFile::link(u"readme.txt"_s, source + u"/docs/same"_s));
        const QString archive = at(u"links.zip"_s);
        const RunResult r = tool == QLatin1String("zip")
            ? run(u"zip"_s, {u"-q"_s, u"-r"_s, u"-y"_s, archive,
                                          u"docs"_s, u"latest"_s}, source)
            : run(u"7zz"_s, {u"a"_s, u"-tzip"_s, u"-snl"_s, archive,
                                          u"docs"_s, u"latest"_s}, source);
        QVERIFY2(r.exitCode == 0, r.output.constData());
        const QString out = at(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        const ZipResult result = pnvzip::unzipFile(archive, out);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(out), tree(source));
        QCOMPARE(readFile(out + u"/latest"_s), QByteArray("read me"));
    }

    // Thousands of small entries in nested folders, with large ones among them, names
    // taken twice (by a small and a large entry, or a file where a folder is needed later)
    // and a link: the same files as unzip writes, the taken names numbered in archive
    // order, and the report listing everything in archive order.
    void manyEntriesExtractInOrder_data()
    {
        QTest::addColumn<bool>("takenNames");
        QTest::newRow("names taken twice") << true;
        QTest::newRow("every name once") << false;
    }
    void manyEntriesExtractInOrder()
    {
        QFETCH(bool, takenNames);
        struct Item
        {
            QString name;
            QByteArray data;
            QString kind; // "file", "dir" or "link"
        };
        QList<Item> items;
        QHash<qsizetype, QString> renamedTo; // item -> the name it gets
        items.append({u"top/"_s, {}, u"dir"_s});
        for (int i = 0; i < 3000; ++i) {
            const QString folder = u"top/a%1/b%2/"_s.arg(i % 40).arg(i % 7);
            if (i < 280)
                items.append({folder, {}, u"dir"_s});
            const int size = (i * 7919) % 20000;
            QByteArray data = i % 5 ? textBytes(size) : randomBytes(size, quint32(i));
            data.prepend(QByteArray::number(i) + ':'); // no two alike
            items.append({folder + u"file%1.txt"_s.arg(i), data, u"file"_s});
            if (i == 1500) // large entries among small ones
                items.append({u"top/a3/b3/large.bin"_s, randomBytes(2 << 20, 4), u"file"_s});
            if (!takenNames)
                continue;
            if (i == 1000) { // a small entry, then a large one of the same name
                items.append({u"top/a5/b5/dup.txt"_s, "small", u"file"_s});
                items.append({u"top/a5/b5/dup.txt"_s, randomBytes(3 << 19, 5), u"file"_s});
                renamedTo.insert(items.size() - 1, u"top/a5/b5/dup (2).txt"_s);
            } else if (i == 1500) { // a large entry, then a small one of the same name
                items.append({u"top/a3/b3/big.bin"_s, randomBytes(2 << 20, 3), u"file"_s});
                items.append({u"top/a3/b3/big.bin"_s, "small again", u"file"_s});
                renamedTo.insert(items.size() - 1, u"top/a3/b3/big (2).bin"_s);
            } else if (i == 2000) {
                items.append({u"top/a8/b1/twice.txt"_s, "first", u"file"_s});
                items.append({u"top/a8/b1/twice.txt"_s, "second", u"file"_s});
                renamedTo.insert(items.size() - 1, u"top/a8/b1/twice (2).txt"_s);
            } else if (i == 2500) { // a file where a folder is needed next
                items.append({u"top/a9/clash"_s, "a file", u"file"_s});
                items.append({u"top/a9/clash/inner.txt"_s, "inside", u"file"_s});
                renamedTo.insert(items.size() - 1, u"top/a9/clash (2)/inner.txt"_s);
            }
        }
        items.append({u"top/latest"_s, "a1/b6/file41.txt", u"link"_s});

        // The archive, written by Python's zipfile from a list and one blob of contents.
        QByteArray blob;
        QByteArray manifest;
        for (const Item &item : std::as_const(items)) {
            manifest += item.name.toUtf8() + '\t' + item.kind.toUtf8() + '\t' + QByteArray::number(blob.size()) + '\t'
                + QByteArray::number(item.data.size()) + '\n';
            blob += item.data;
        }
        writeFile(at(u"blob"_s), blob);
        writeFile(at(u"manifest"_s), manifest);
        const QString archive = at(u"many.zip"_s);
        RunResult r = python(QStringLiteral(R"PY(
import stat, sys, warnings, zipfile
warnings.simplefilter("ignore")  # names given twice on purpose
blob = open(sys.argv[3], "rb").read()
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    for line in open(sys.argv[2], encoding="utf-8"):
        name, kind, offset, size = line.rstrip("\n").split("\t")
        info = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
        info.create_system = 3
        mode = {"file": stat.S_IFREG | 0o644, "dir": stat.S_IFDIR | 0o755, "link": stat.S_IFLNK | 0o777}[kind]
        info.external_attr = mode << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, blob[int(offset):int(offset) + int(size)])
)PY"),
                   {archive, at(u"manifest"_s), at(u"blob"_s)});
        QVERIFY2(r.exitCode == 0, r.output.constData());

        const QString out = at(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        const ZipResult result = pnvzip::unzipFile(archive, out);
        QVERIFY2(result.ok(), qPrintable(result.text));

        // The report: every item in archive order (links last), numbered names as taken.
        QStringList lines, renamed;
        int files = 0, folders = 0;
        for (qsizetype i = 0; i < items.size() - 1; ++i) {
            const Item &item = items[i];
            const bool isRenamed = renamedTo.contains(i);
            (item.kind == u"dir"_s ? folders : files)++;
            lines << (isRenamed ? renamedTo[i] + u" (the name “%1” was taken)"_s.arg(item.name) : item.name);
            if (isRenamed)
                renamed << lines.last();
        }
        QCOMPARE(renamed.size(), takenNames ? 4 : 0);
        const QStringList shown = result.text.split(u'\n');
        QCOMPARE(shown.value(0), u"Extracted %1 files, %2 folders, 1 link from %3 into %4. The first 10:"_s
                                     .arg(QLocale(QLocale::English).toString(files),
                                          QLocale(QLocale::English).toString(folders),
                                          archive, QDir::cleanPath(out)));
        for (int i = 0; i < 10; ++i)
            QCOMPARE(shown.value(1 + i), u"  "_s + lines[i]);
        const int renamedAt = int(shown.indexOf(u"4 items were saved under new names, as their names were taken."_s));
        QVERIFY2((renamedAt > 0) == takenNames, qPrintable(result.text));
        for (int i = 0; i < renamed.size(); ++i)
            QCOMPARE(shown.value(renamedAt + 1 + i), u"  "_s + renamed[i]);

        // The renamed ones hold the later entry's data; without them, the tree is unzip's
        // (which keeps the first of two names and cannot put a folder where a file is).
        for (auto it = renamedTo.cbegin(); it != renamedTo.cend(); ++it)
            QCOMPARE(readFile(out + u'/' + it.value()), items[it.key()].data);
        if (takenNames) {
            QVERIFY(QFile::remove(out + u"/top/a5/b5/dup (2).txt"_s));
            QVERIFY(QFile::remove(out + u"/top/a3/b3/big (2).bin"_s));
            QVERIFY(QFile::remove(out + u"/top/a8/b1/twice (2).txt"_s));
            QVERIFY(QDir(out + u"/top/a9/clash (2)"_s).removeRecursively());
        }
        const QString byUnzip = at(u"by-unzip"_s);
        r = run(u"unzip"_s, {u"-q"_s, u"-n"_s, archive, u"-x"_s, u"top/a9/clash/inner.txt"_s, u"-d"_s, byUnzip});
        QVERIFY2(r.exitCode == 0, r.output.constData());
        const QString difference = treeDifference(byUnzip, out);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        QVERIFY(leftovers(out).isEmpty());
    }

    // Archives encrypted by the peers extract once the password is given, asked once for
    // all entries; without a query, or when the user cancels, nothing is extracted.
    void peerEncryptedArchivesExtract_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("aesVersion"); // rewritten as AE-1 or AE-2; 0: as the tool wrote it
        QTest::newRow("Info-ZIP, traditional") << "zip" << QStringList() << 0;
        QTest::newRow("Info-ZIP, traditional, stored") << "zip" << QStringList{"-0"} << 0;
        QTest::newRow("7-Zip, ZipCrypto") << "7zz" << QStringList{"-mem=ZipCrypto"} << 0;
        QTest::newRow("7-Zip, AES-128") << "7zz" << QStringList{"-mem=AES128"} << 0;
        QTest::newRow("7-Zip, AES-192, stored") << "7zz" << QStringList{"-mem=AES192", "-mx0"} << 0;
        QTest::newRow("7-Zip, AES-256") << "7zz" << QStringList{"-mem=AES256"} << 0;
        QTest::newRow("7-Zip, AES-256 as AE-1") << "7zz" << QStringList{"-mem=AES256"} << 1;
        QTest::newRow("7-Zip, AES-256 as AE-1, stored") << "7zz" << QStringList{"-mem=AES256", "-mx0"} << 1;
        QTest::newRow("7-Zip, AES-256, Deflate64") << "7zz" << QStringList{"-mem=AES256", "-mm=Deflate64"} << 0;
        QTest::newRow("7-Zip, ZipCrypto, Deflate64") << "7zz" << QStringList{"-mem=ZipCrypto", "-mm=Deflate64"} << 0;
        QTest::newRow("7-Zip, AES-256, LZMA") << "7zz" << QStringList{"-mem=AES256", "-mm=LZMA"} << 0;
        QTest::newRow("7-Zip, AES-128, LZMA as AE-1") << "7zz" << QStringList{"-mem=AES128", "-mm=LZMA"} << 1;
        QTest::newRow("7-Zip, AES-256, PPMd") << "7zz" << QStringList{"-mem=AES256", "-mm=PPMd"} << 0;
        QTest::newRow("7-Zip, ZipCrypto, PPMd") << "7zz" << QStringList{"-mem=ZipCrypto", "-mm=PPMd"} << 0;
    }
    void peerEncryptedArchivesExtract()
    {
        QFETCH(QString, tool);
        QFETCH(QStringList, options);
        QFETCH(int, aesVersion);
        const QString source = at(u"src"_s);
        const QList<QPair<QString, QByteArray>> files{{u"secret.txt"_s, textBytes(5000)},
                                                      {u"tiny.txt"_s, "abc"},
                                                      {u"data/big.bin"_s, textBytes(3 << 20) + randomBytes(1 << 20, 5)},
                                                      {u"data/empty.txt"_s, QByteArray()}};
        QHash<QByteArray, quint32> crcs;
        for (const auto &[name, data] : files) {
            writeFile(source + QChar('/') + name, data);
            crcs.insert(name.toUtf8(), quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size()))));
        }
        const QString archive = at(u"locked.zip"_s);
        RunResult r = tool == QLatin1String("zip")
            ? run(u"zip"_s, QStringList{u"-q"_s, u"-r"_s, u"-P"_s, u"letmein"_s} + options + QStringList{archive} + topLevel(source), source)
            : run(u"7zz"_s, QStringList{u"a"_s, u"-tzip"_s, u"-pletmein"_s} + options + QStringList{archive} + topLevel(source), source);
        QVERIFY2(r.exitCode == 0, r.output.constData());
        if (aesVersion)
            writeFile(archive, withAesVersion(readFile(archive), aesVersion, crcs));
        r = run(u"7zz"_s, {u"t"_s, u"-pletmein"_s, archive});
        QVERIFY2(r.exitCode == 0 && r.output.contains("Everything is Ok"), r.output.constData());

        const QString plain = at(u"plain"_s), asked = at(u"asked"_s), cancelled = at(u"cancelled"_s);
        for (const QString &out : {plain, asked, cancelled})
            QVERIFY(QDir().mkpath(out));
        ZipResult result = pnvzip::unzipFile(archive, plain);
        QCOMPARE(result.number, int(pnvzip::EncryptedEntry));
        QVERIFY2(result.text.contains(u"encrypted"_s) && result.text.contains(u"Nothing was extracted"_s), qPrintable(result.text));
        QCOMPARE(tree(plain), QStringList());

        ScriptedQuery query;
        query.answers = {QByteArray("wrong guess"), QByteArray("letmein")};
        result = pnvzip::unzipFile(archive, asked, &query);
        QVERIFY2(result.ok(), qPrintable(result.text));
        const QString difference = treeDifference(source, asked);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        QCOMPARE(query.asked.size(), 2);
        QCOMPARE(query.asked[0].archive, archive);
        QVERIFY(!query.asked[0].wrongBefore);
        QVERIFY(query.asked[1].wrongBefore);
        // Asked again for the same entry; only an empty entry, whose zero bytes have no CRC to
        // disprove a wrong password that passes the one-byte check (1 in 256), lets it go on.
        QVERIFY2(query.asked[1].entry == query.asked[0].entry || query.asked[0].entry.endsWith(u"empty.txt"_s),
                 qPrintable(query.asked[0].entry + u" then "_s + query.asked[1].entry));

        ScriptedQuery giveUp;
        giveUp.answers = {std::nullopt};
        result = pnvzip::unzipFile(archive, cancelled, &giveUp);
        QCOMPARE(result.number, int(pnvzip::Cancelled));
        QCOMPARE(tree(cancelled), QStringList());
    }

    // No block freed during an extraction still holds the password or decrypted data: the
    // answer, the copies made of it, the decryption's buffers and the decoders' windows are
    // wiped before their memory goes back.
    void freedMemoryHoldsNoSecret_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("text"); // else random bytes
        QTest::newRow("AES-256, deflate") << QStringList{"-mem=AES256"} << 3000000 << false;
        QTest::newRow("AES-256, Deflate64") << QStringList{"-mem=AES256", "-mm=Deflate64"} << 3000000 << false;
        QTest::newRow("AES-128, small, stored") << QStringList{"-mem=AES128", "-mx0"} << 20000 << false;
        QTest::newRow("AES-256, PPMd") << QStringList{"-mem=AES256", "-mm=PPMd"} << 3000000 << true;
    }
    void freedMemoryHoldsNoSecret()
    {
        QFETCH(QStringList, options);
        QFETCH(int, size);
        QFETCH(bool, text);
        const QByteArray marker = "plain-marker-7f3a9c";
        QByteArray content = text ? textBytes(size) : randomBytes(size, 3);
        for (qsizetype at = 0; at + marker.size() < content.size(); at += 4096)
            content.replace(at, marker.size(), marker);
        writeFile(at(u"src/secret.bin"_s), content);
        const QString archive = at(u"locked.zip"_s);
        // 7-Zip is started without the password passing through this program's heap, where a
        // stale copy would be taken for one the extraction left.
        const QByteArray tool = QFile::encodeName(toolPath(u"7zz"_s)), target = QFile::encodeName(archive),
                         src = QFile::encodeName(at(u"src"_s));
        QList<QByteArray> words;
        for (const QString &option : options)
            words << option.toLatin1();
        static const char passwordOption[] = "-pTr0ub4dor&3-horse";
        static_assert(sizeof passwordOption == sizeof FixedPasswordQuery::Password + 2);
        std::vector<char *> argv{const_cast<char *>("7zz"), const_cast<char *>("a"), const_cast<char *>("-tzip"),
                                 const_cast<char *>(passwordOption)};
        for (QByteArray &word : words)
            argv.push_back(word.data());
        argv.push_back(const_cast<char *>(target.constData()));
        argv.push_back(const_cast<char *>("secret.bin"));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, src.constData());
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        QCOMPARE(posix_spawn(&pid, tool.constData(), &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        QCOMPARE(::waitpid(pid, &status, 0), pid);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        for (const QByteArray &watched : {QByteArray(FixedPasswordQuery::Password), marker}) {
            const QString out = at(u"out-"_s + QString::number(watched.size()));
            QVERIFY(QDir().mkpath(out));
            FixedPasswordQuery query;
            g_watched = watched.constData();
            g_watchedSize = size_t(watched.size());
            g_freedHolding = 0;
            g_watching = true;
            const ZipResult result = pnvzip::unzipFile(archive, out, &query);
            g_watching = false;
            QVERIFY2(result.ok(), qPrintable(result.text));
            QCOMPARE(query.asked, 1);
            QCOMPARE(readFile(out + u"/secret.bin"_s), content);
            QVERIFY2(g_freedHolding == 0, qPrintable(QString::number(g_freedHolding) + u" freed blocks held "_s
                                                      + QString::fromLatin1(watched)));
        }
    }

    // Where files cannot be made unnamed, decrypted data goes to a file only its owner can
    // read, and gets the entry's permissions once verified; a small entry is verified before
    // anything is written. Damage leaves nothing.
    void decryptedDataStaysPrivateUntilVerified_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("damaged");
        QTest::newRow("large, intact") << 10000000 << false;
        QTest::newRow("large, authentication code fails") << 10000000 << true;
        QTest::newRow("small, authentication code fails") << 200000 << true;
    }
    void decryptedDataStaysPrivateUntilVerified()
    {
        QFETCH(int, size);
        QFETCH(bool, damaged);
        const QByteArray content = randomBytes(size, 11);
        writeFile(at(u"src/private.bin"_s), content);
        QFile::setPermissions(at(u"src/private.bin"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                                           | QFile::ReadOther | QFile::ReadUser | QFile::WriteUser);
        const QString archive = at(u"locked.zip"_s);
        const RunResult r = run(u"7zz"_s, {u"a"_s, u"-tzip"_s, u"-mx0"_s, u"-mem=AES256"_s,
                                           u"-p"_s + QString::fromLatin1(FixedPasswordQuery::Password), archive,
                                           u"private.bin"_s}, at(u"src"_s));
        QVERIFY2(r.exitCode == 0, r.output.constData());
        if (damaged) {
            QByteArray bytes = readFile(archive);
            const auto *raw = reinterpret_cast<const uchar *>(bytes.constData());
            const qsizetype data = 30 + qFromLittleEndian<quint16>(raw + 26) + qFromLittleEndian<quint16>(raw + 28);
            bytes[data + size / 2] = char(bytes[data + size / 2] ^ 0x01);
            writeFile(archive, bytes);
        }
        const QString out = at(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        FixedPasswordQuery query;
        QStringList seen; // "name mode" of every file seen while extracting
        query.onProgress = [&] {
            for (const QFileInfo &file : QDir(out).entryInfoList(QDir::Files | QDir::Hidden | QDir::System))
                seen << file.fileName() + QChar(' ') + QString::number(permissions(file.filePath()), 8);
        };
        // Every file made in the folder, however briefly, as the kernel reports it.
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        QVERIFY(inotify_add_watch(watch, QFile::encodeName(out).constData(), IN_CREATE | IN_MOVED_TO) >= 0);
        pnvzip::testing::refuseUnnamedFiles(true);
        const ZipResult result = pnvzip::unzipFile(archive, out, &query);
        pnvzip::testing::refuseUnnamedFiles(false);
        QStringList made;
        alignas(inotify_event) char events[64 * 1024];
        for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(events + at);
                made << QFile::decodeName(event->len ? event->name : "");
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        ::close(watch);
        // Others may read only the verified file under its own name.
        for (const QString &file : std::as_const(seen))
            QVERIFY2(file.endsWith(u" 600"_s) || (!damaged && file == u"private.bin 644"_s), qPrintable(file));
        if (size < 1000000) { // nothing written before the check
            QVERIFY2(made.isEmpty(), qPrintable(made.join(u", "_s)));
        } else {
            QVERIFY2(!seen.isEmpty(), "the extraction was not watched while it wrote");
            QVERIFY(!made.isEmpty());
        }
        if (damaged) {
            QCOMPARE(result.number, int(pnvzip::ChecksumMismatch));
            QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList());
        } else {
            QVERIFY2(result.ok(), qPrintable(result.text));
            QCOMPARE(readFile(out + u"/private.bin"_s), content);
            QCOMPARE(permissions(out + u"/private.bin"_s), 0644);
        }
    }

    // Two passwords whose 2-byte AES check agrees: the wrong one passes the check, fails the
    // authentication code, and is asked about again as a wrong password. A small entry's code
    // is checked before it is inflated: the wrong password given twice is named as such, not
    // as the invalid data its garbage would make.
    void aesPasswordCheckCollisionAsksAgain_data()
    {
        QTest::addColumn<bool>("deflated");
        QTest::addColumn<bool>("wrongTwice");
        QTest::newRow("stored, wrong then right") << false << false;
        QTest::newRow("deflated, wrong then right") << true << false;
        QTest::newRow("deflated, wrong twice") << true << true;
    }
    void aesPasswordCheckCollisionAsksAgain()
    {
        QFETCH(bool, deflated);
        QFETCH(bool, wrongTwice);
        // AES-128 with a fixed salt: keys, authentication key and check from PBKDF2-HMAC-SHA1.
        const QByteArray salt = "\x51\x9a\x03\x7e\xc4\x28\xd1\x66";
        auto derive = [&](const QByteArray &password) {
            QByteArray keys(34, '\0');
            PKCS5_PBKDF2_HMAC_SHA1(password.constData(), int(password.size()),
                                   reinterpret_cast<const uchar *>(salt.constData()), int(salt.size()), 1000,
                                   int(keys.size()), reinterpret_cast<uchar *>(keys.data()));
            return keys;
        };
        QHash<QByteArray, QByteArray> byCheck; // check bytes -> password
        QByteArray right, wrong, keys;
        for (int i = 0; right.isEmpty() && i < 5000; ++i) {
            const QByteArray candidate = "pw-" + QByteArray::number(i);
            const QByteArray derived = derive(candidate);
            const QByteArray check = derived.mid(32, 2);
            if (byCheck.contains(check)) {
                right = byCheck.value(check);
                wrong = candidate;
                keys = derive(right);
            }
            byCheck.insert(check, candidate);
        }
        QVERIFY(!right.isEmpty());
        QVERIFY(derive(wrong) != keys);

        // The entry, stored: AES-128 in counter mode (little-endian counter from 1), then the
        // first 10 bytes of HMAC-SHA1 over the encrypted bytes.
        const QByteArray content = textBytes(50000);
        QByteArray encrypted = content;
        if (deflated) {
            z_stream z{};
            QCOMPARE(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
            encrypted.resize(qsizetype(deflateBound(&z, uLong(content.size()))));
            z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(content.constData()));
            z.avail_in = uInt(content.size());
            z.next_out = reinterpret_cast<Bytef *>(encrypted.data());
            z.avail_out = uInt(encrypted.size());
            QCOMPARE(deflate(&z, Z_FINISH), Z_STREAM_END);
            encrypted.resize(qsizetype(z.total_out));
            deflateEnd(&z);
        }
        EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
        QVERIFY(EVP_EncryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr, reinterpret_cast<const uchar *>(keys.constData()),
                                   nullptr) == 1);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        for (qsizetype at = 0; at < encrypted.size(); at += 16) {
            uchar counter[16] = {}, stream[16];
            qToLittleEndian<quint64>(quint64(at / 16 + 1), counter);
            int n = 0;
            QVERIFY(EVP_EncryptUpdate(ctx, stream, &n, counter, 16) == 1);
            for (qsizetype i = at; i < std::min(at + 16, encrypted.size()); ++i)
                encrypted[i] = char(encrypted[i] ^ stream[i - at]);
        }
        EVP_CIPHER_CTX_free(ctx);
        uchar code[EVP_MAX_MD_SIZE];
        unsigned codeLength = 0;
        HMAC(EVP_sha1(), keys.constData() + 16, 16, reinterpret_cast<const uchar *>(encrypted.constData()),
             size_t(encrypted.size()), code, &codeLength);
        RawZip zip;
        RawZip::Entry entry;
        entry.name = "secret.txt";
        entry.data = salt + keys.mid(32, 2) + encrypted + QByteArray(reinterpret_cast<const char *>(code), 10);
        entry.method = 99;
        entry.flags = 0x0801;
        entry.crc = 0; // AE-2: the authentication code alone
        entry.claimedSize = quint64(content.size()); // the stored size differs: salt, check and code
        entry.extra = QByteArray("\x01\x99\x07\x00\x02\x00" "AE\x01", 9) // AES-128
                    + QByteArray(deflated ? "\x08\x00" : "\x00\x00", 2);
        zip.add(entry);
        const QString archive = at(u"collision.zip"_s);
        zip.save(archive);
        const RunResult r = run(u"7zz"_s, {u"t"_s, u"-p"_s + QString::fromLatin1(right), archive});
        QVERIFY2(r.exitCode == 0 && r.output.contains("Everything is Ok"), r.output.constData());

        ScriptedQuery query;
        query.answers = {wrong, wrongTwice ? wrong : right};
        const QString out = at(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        const ZipResult result = pnvzip::unzipFile(archive, out, &query);
        QCOMPARE(query.asked.size(), 2);
        QVERIFY(query.asked[1].wrongBefore);
        if (wrongTwice) {
            QCOMPARE(result.number, int(pnvzip::ChecksumMismatch));
            QVERIFY2(result.text.contains(u"authentication code"_s), qPrintable(result.text));
            QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList());
            return;
        }
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(readFile(out + u"/secret.txt"_s), content);
    }

    // A plain entry, then two entries under two passwords (and two ciphers): the second
    // password is asked for without saying the first was wrong; giving up there keeps the
    // entries before it only.
    void peerArchiveWithTwoPasswords_data()
    {
        QTest::addColumn<QStringList>("answers"); // "<cancel>" cancels
        QTest::addColumn<int>("number");
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<QList<bool>>("wrongBefore");
        const QStringList all{"0 plain.txt", "a.txt", "b.bin"}, before{"0 plain.txt", "a.txt"};
        QTest::newRow("both given") << QStringList{"first", "second"} << 0 << all << QList<bool>{false, false};
        QTest::newRow("wrong, then both given") << QStringList{"guess", "first", "second"} << 0 << all
                                                << QList<bool>{false, true, false};
        QTest::newRow("cancel at the second") << QStringList{"first", "<cancel>"} << int(pnvzip::Cancelled) << before
                                              << QList<bool>{false, false};
        QTest::newRow("a wrong answer given twice") << QStringList{"first", "nope", "nope"} << int(pnvzip::WrongPassword)
                                                    << before << QList<bool>{false, false, true};
        QTest::newRow("no answer after a wrong one") << QStringList{"first", "nope"} << int(pnvzip::WrongPassword)
                                                     << before << QList<bool>{false, false, true};
    }
    void peerArchiveWithTwoPasswords()
    {
        QFETCH(QStringList, answers);
        QFETCH(int, number);
        QFETCH(QStringList, kept);
        QFETCH(QList<bool>, wrongBefore);
        writeFile(at(u"src/0 plain.txt"_s), "not encrypted"); // first: 7-Zip keeps entries by name
        writeFile(at(u"src/a.txt"_s), textBytes(100000));
        writeFile(at(u"src/b.bin"_s), randomBytes(2 << 20, 9));
        const QString archive = at(u"two.zip"_s);
        RunResult r = run(u"7zz"_s, {u"a"_s, u"-tzip"_s, archive, u"0 plain.txt"_s}, at(u"src"_s));
        QVERIFY2(r.exitCode == 0, r.output.constData());
        r = run(u"7zz"_s, {u"a"_s, u"-tzip"_s, u"-pfirst"_s, u"-mem=AES256"_s, archive, u"a.txt"_s}, at(u"src"_s));
        QVERIFY2(r.exitCode == 0, r.output.constData());
        r = run(u"7zz"_s, {u"a"_s, u"-tzip"_s, u"-psecond"_s, u"-mem=ZipCrypto"_s, archive, u"b.bin"_s}, at(u"src"_s));
        QVERIFY2(r.exitCode == 0, r.output.constData());
        ScriptedQuery query;
        for (const QString &answer : answers)
            query.answers << (answer == "<cancel>"_L1 ? std::nullopt : std::optional<QByteArray>(answer.toUtf8()));
        const QString out = at(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        const ZipResult result = pnvzip::unzipFile(archive, out, &query);
        QVERIFY2(result.number == number, qPrintable(result.text));
        QCOMPARE(tree(out), kept);
        QCOMPARE(readFile(out + u"/a.txt"_s), textBytes(100000));
        QList<bool> seen;
        for (const ScriptedQuery::Asked &a : std::as_const(query.asked))
            seen << a.wrongBefore;
        QCOMPARE(seen, wrongBefore);
        QCOMPARE(query.asked.last().entry, u"b.bin"_s);
    }

    // Damage under the right password is reported as damage and leaves nothing; a wrong
    // password that passes the traditional one-byte check is asked for again.
    void peerEncryptedDamage_data()
    {
        QTest::addColumn<QString>("cipher");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<int>("asked");
        const int crc = pnvzip::ChecksumMismatch, corrupt = pnvzip::NotAnArchive;
        // A failed authentication code is asked about once, as a wrong password would be.
        QTest::newRow("AES, byte flipped") << "AES256" << "flip" << QList<int>{crc, corrupt} << 2;
        QTest::newRow("AES, stored, byte flipped") << "AES256 stored" << "flip" << QList<int>{crc} << 2;
        QTest::newRow("AE-1, CRC-32 recorded wrong") << "AES256" << "crc" << QList<int>{crc} << 2;
        QTest::newRow("ZipCrypto, byte flipped") << "ZipCrypto" << "flip" << QList<int>{crc, corrupt} << 2;
        QTest::newRow("ZipCrypto, a wrong password passing the check") << "ZipCrypto" << "lucky" << QList<int>{0} << 2;
    }
    void peerEncryptedDamage()
    {
        QFETCH(QString, cipher);
        QFETCH(QString, damage);
        QFETCH(QList<int>, numbers);
        QFETCH(int, asked);
        const QByteArray content = textBytes(300000);
        writeFile(at(u"src/secret.txt"_s), content);
        const QString archive = at(u"locked.zip"_s);
        QStringList args{u"a"_s, u"-tzip"_s, u"-pletmein"_s, u"-mem="_s + cipher.section(QChar(' '), 0, 0)};
        if (cipher.endsWith(u" stored"_s))
            args << u"-mx0"_s;
        const RunResult r = run(u"7zz"_s, args + QStringList{archive, u"secret.txt"_s}, at(u"src"_s));
        QVERIFY2(r.exitCode == 0, r.output.constData());
        QByteArray bytes = readFile(archive);
        ScriptedQuery query;
        query.answers = {QByteArray("letmein"), QByteArray("letmein")};
        if (damage == "flip"_L1) {
            const auto *raw = reinterpret_cast<const uchar *>(bytes.constData());
            const qsizetype data = 30 + qFromLittleEndian<quint16>(raw + 26) + qFromLittleEndian<quint16>(raw + 28);
            const qsizetype at = data + qsizetype(qFromLittleEndian<quint32>(raw + 18)) / 2;
            bytes[at] = char(bytes[at] ^ 0x04);
        } else if (damage == "crc"_L1) {
            bytes = withAesVersion(bytes, 1, {{"secret.txt", 0x12345678}});
        } else {
            // Find a wrong password that libzip's one-byte check lets through.
            QByteArray lucky;
            int error = 0;
            zip_t *za = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &error);
            QVERIFY(za);
            for (int i = 0; i < 100000 && lucky.isEmpty(); ++i) {
                const QByteArray guess = "guess" + QByteArray::number(i);
                if (zip_file_t *zf = zip_fopen_index_encrypted(za, 0, ZIP_FL_COMPRESSED, guess.constData())) {
                    zip_fclose(zf);
                    lucky = guess;
                }
            }
            zip_discard(za);
            QVERIFY(!lucky.isEmpty());
            query.answers.prepend(lucky);
        }
        writeFile(archive, bytes);
        const QString out = at(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        const ZipResult result = pnvzip::unzipFile(archive, out, &query);
        QVERIFY2(numbers.contains(result.number), qPrintable(QString::number(result.number) + QChar(' ') + result.text));
        QCOMPARE(query.asked.size(), asked);
        if (asked == 2)
            QVERIFY(query.asked[1].wrongBefore);
        if (result.ok()) {
            QCOMPARE(readFile(out + u"/secret.txt"_s), content);
            // The entry was read twice; progress still never went back.
            QVERIFY2(query.progressProblem().isEmpty(), qPrintable(query.progressProblem()));
        } else {
            QVERIFY2(result.text.contains(u"damaged"_s), qPrintable(result.text));
            QCOMPARE(tree(out), QStringList());
        }
    }
};

QTEST_GUILESS_MAIN(TestZipPeers)
#include "tst_zippeers.moc"
