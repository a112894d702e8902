// The zip engine against tools nobody here wrote: Info-ZIP zip/unzip, 7-Zip and Python's
// zipfile must read what ZipFile writes, and UnzipFile must extract what they write.
// A missing tool fails the test: CI installs them all.

#include "ziptestkit.h"
#include "zipengine.h"

#include <QtEndian>
#include <QtTest>

#include <zip.h>
#include <zlib.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace ziptest;

namespace {

constexpr qint64 FixedTime = 1600000000; // even seconds, so DOS times hold it exactly

// Reads an archive with Python's zipfile and prints what the tests compare.
const char *const DescribeArchive = R"PY(
import hashlib, struct, sys, time, zipfile
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None, "testzip found a bad entry"
entries = z.infolist()
e = entries[0]
ut = None
extra = e.extra
while len(extra) >= 4:
    tag, size = struct.unpack("<HH", extra[:4])
    if tag == 0x5455 and size >= 5 and extra[4] & 1:
        ut = struct.unpack("<I", extra[5:9])[0]
    extra = extra[4 + size:]
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
    ut = None
    extra = e.extra
    while len(extra) >= 4:
        tag, size = struct.unpack("<HH", extra[:4])
        if tag == 0x5455 and size >= 5 and extra[4] & 1:
            ut = struct.unpack("<I", extra[5:9])[0]
        extra = extra[4 + size:]
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

        r = python(QString::fromLatin1(DescribeArchive), {archive, QString::number(FixedTime)});
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
        if (numbers.isEmpty()) {
            QVERIFY2(result.ok(), qPrintable(result.text));
            QVERIFY(readFile(out + u"/data.bin"_s) == content);
            return;
        }
        QVERIFY2(numbers.contains(result.number), qPrintable(QString::number(result.number) + QChar(' ') + result.text));
        QVERIFY2(result.text.contains(u"“data.bin” in the archive is damaged"_s), qPrintable(result.text));
        QCOMPARE(tree(out), QStringList());
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
            r = python(QString::fromLatin1(PythonExtract), {archive, out});
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
        QCOMPARE(query.asked[1].entry, query.asked[0].entry);

        ScriptedQuery giveUp;
        giveUp.answers = {std::nullopt};
        result = pnvzip::unzipFile(archive, cancelled, &giveUp);
        QCOMPARE(result.number, int(pnvzip::Cancelled));
        QCOMPARE(tree(cancelled), QStringList());
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
        QTest::newRow("AES, byte flipped") << "AES256" << "flip" << QList<int>{crc} << 1;
        QTest::newRow("AES, stored, byte flipped") << "AES256 stored" << "flip" << QList<int>{crc} << 1;
        QTest::newRow("AE-1, CRC-32 recorded wrong") << "AES256" << "crc" << QList<int>{crc} << 1;
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
