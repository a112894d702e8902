// The zip engine against tools nobody here wrote: Info-ZIP zip/unzip, 7-Zip and Python's
// zipfile must read what ZipFile writes, and UnzipFile must extract what they write.
// A missing tool fails the test: CI installs them all.

#include "ziptestkit.h"
#include "zipengine.h"

#include <QtTest>

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
        // Deflated in 1 MiB pieces joined into one stream.
        QTest::newRow("one byte") << "x.txt" << QByteArray("x");
        QTest::newRow("exactly one piece") << "piece.txt" << textBytes(1 << 20);
        QTest::newRow("one piece less a byte") << "short.txt" << textBytes((1 << 20) - 1);
        QTest::newRow("two pieces and a byte") << "over.txt" << textBytes((2 << 20) + 1);
        QTest::newRow("text, noise, text") << "mixed.bin" << textBytes(1 << 20) + randomBytes(1 << 20, 12) + textBytes(300001);
        // Pieces mostly compressed already, with a little text here and there.
        QTest::newRow("documentation read through") << "docs.bin" << documentationBytes(5 << 20, 3);
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

    void peerEncryptedArchivesAreRefused_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("cipher");
        QTest::newRow("Info-ZIP, traditional") << "zip" << "";
        QTest::newRow("7-Zip, traditional") << "7zz" << "ZipCrypto";
        QTest::newRow("7-Zip, AES-256") << "7zz" << "AES256";
    }
    void peerEncryptedArchivesAreRefused()
    {
        QFETCH(QString, tool);
        QFETCH(QString, cipher);
        writeFile(at(u"src/secret.txt"_s), textBytes(5000));
        const QString archive = at(u"locked.zip"_s);
        const RunResult r = tool == QLatin1String("zip")
            ? run(u"zip"_s, {u"-q"_s, u"-P"_s, u"letmein"_s, archive,
                                          u"secret.txt"_s}, at(u"src"_s))
            : run(u"7zz"_s, {u"a"_s, u"-tzip"_s, u"-pletmein"_s,
                                          u"-mem="_s + cipher, archive, u"secret.txt"_s},
                  at(u"src"_s));
        QVERIFY2(r.exitCode == 0, r.output.constData());
        const QString out = at(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        const ZipResult result = pnvzip::unzipFile(archive, out);
        QCOMPARE(result.number, int(pnvzip::EncryptedEntry));
        QVERIFY2(result.text.contains(u"secret.txt"_s) && result.text.contains(u"encrypted"_s),
                 qPrintable(result.text));
        QCOMPARE(tree(out), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestZipPeers)
#include "tst_zippeers.moc"
