// 200,000 small files zipped within the memory bound; and a 5 GiB file: ZIP64 both ways, byte for byte, and tested in full by two peers.
// The source is sparse; the extracted copy takes real space, so the test is skipped
// when the disk cannot hold it.

#include "ziptestkit.h"
#include "callmonitor.h"
#include "deflatepieces.h"
#include "zipengine.h"

#include <QStorageInfo>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace ziptest;

namespace {

constexpr qint64 GiB = qint64(1) << 30;
constexpr qint64 Size = 5 * GiB + 3 * (qint64(1) << 20) + 12345; // past every 32-bit field

// Streams both files and compares them; an empty string means identical.
QString compareFiles(const QString &a, const QString &b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly))
        return u"cannot open"_s;
    if (fa.size() != fb.size())
        return u"sizes differ: %1 and %2"_s.arg(fa.size()).arg(fb.size());
    constexpr qint64 Chunk = 8 << 20;
    QByteArray ba(Chunk, Qt::Uninitialized), bb(Chunk, Qt::Uninitialized);
    for (qint64 pos = 0; pos < fa.size(); pos += Chunk) {
        const qint64 na = fa.read(ba.data(), Chunk);
        const qint64 nb = fb.read(bb.data(), Chunk);
        if (na != nb || na <= 0 || memcmp(ba.constData(), bb.constData(), size_t(na)) != 0)
            return u"contents differ in the chunk at %1"_s.arg(pos);
    }
    return {};
}

} // namespace

class TestZipLarge : public QObject
{
    Q_OBJECT

private:
    PrivateEnvironment m_environment;

    // Sparse, with data at the start, across the 4 GiB mark and at the very end.
    static void makeSource(const QString &source)
    {
        QFile f(source);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(Size));
        QVERIFY(f.seek(0) && f.write(randomBytes(1 << 20, 1)) == (1 << 20));
        QVERIFY(f.seek(4 * GiB - 4096) && f.write(textBytes(1 << 20)) == (1 << 20));
        QVERIFY(f.seek(Size - 5000) && f.write(randomBytes(5000, 2)) == 5000);
        f.close();
        setMtime(source, QDateTime::fromSecsSinceEpoch(1700000000));
    }

private slots:
    void initTestCase()
    {
        ZIPTEST_REQUIRE_TOOL("7zz");
        ZIPTEST_REQUIRE_TOOL("unzip");
    }

    // 200,000 small files: the memory a tree zip takes beyond its list of names stays within
    // the bound of one big file (32 MiB); the entry count needs the ZIP64 end records.
    void zipPathsMemoryStaysFlat()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const auto at = [&](const QString &name) { return dir.filePath(name); };
        const QString root = at(u"many"_s);
        QVERIFY(QDir().mkpath(root));
        constexpr int Files = 200000;
        for (int d = 0; d < 200; ++d) {
            const QByteArray dir = QFile::encodeName(root + u"/folder %1"_s.arg(d));
            QCOMPARE(::mkdir(dir.constData(), 0755), 0);
            for (int f = 0; f < Files / 200; ++f) {
                const QByteArray name = dir + "/note " + QByteArray::number(f) + ".txt";
                const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                QVERIFY(fd >= 0);
                const QByteArray data = "note " + QByteArray::number(d * 1000 + f) + " of many\n";
                QCOMPARE(::write(fd, data.constData(), size_t(data.size())), ssize_t(data.size()));
                ::close(fd);
            }
        }
        QFile clear(u"/proc/self/clear_refs"_s);
        QVERIFY2(clear.open(QIODevice::WriteOnly) && clear.write("5") == 1, qPrintable(clear.errorString()));
        clear.close();
        const auto statusKb = [](const char *field) {
            const QByteArray status = readFile(u"/proc/self/status"_s);
            const qsizetype at = status.indexOf(field);
            return at < 0 ? -1 : status.mid(at + qsizetype(strlen(field))).trimmed().split(' ').first().toLongLong();
        };
        const qint64 before = statusKb("VmRSS:");
        const ZipResult result = pnvzip::zipPaths({root}, at(u"many.zip"_s));
        const qint64 peak = statusKb("VmHWM:");
        qInfo("%lld KB more at the peak", peak - before);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QVERIFY2(result.text.contains(u"200,000 files and 201 folders zipped"_s), qPrintable(result.text));
        // The list: a record of 48 bytes and the name per item, and where each entry went (40).
        const qint64 names = qint64(Files) * (48 + 40 + 30) / 1024;
        QVERIFY2(before > 0 && peak - before < 32 * 1024 + names,
                 qPrintable(u"%1 KB more at the peak, %2 KB allowed"_s.arg(peak - before).arg(32 * 1024 + names)));
        const RunResult r = python(u"import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n"
                                   "print(len(z.infolist()), z.read('many/folder 199/note 999.txt').decode().strip())"_s,
                                   {at(u"many.zip"_s)});
        QCOMPARE(QString::fromUtf8(r.output).trimmed(), u"200201 note 199999 of many"_s);
    }

    void fiveGiB()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const qint64 free = QStorageInfo(dir.path()).bytesAvailable();
        if (free < Size + 2 * GiB)
            QSKIP(qPrintable(u"needs %1 GiB free, %2 GiB available"_s.arg((Size + 2 * GiB) / GiB).arg(free / GiB)));

        const QString source = dir.filePath(u"disk.img"_s);
        makeSource(source);

        const QString archive = dir.filePath(u"disk.img.zip"_s);
        ScriptedQuery query;
        const ZipResult zipped = pnvzip::zipFile(source, archive, &query);
        QVERIFY2(zipped.ok(), qPrintable(zipped.text));
        const QString problem = query.reportProblem(Size, pnvzip::CallMonitor::ReportStep + qint64(pnvzip::PieceSize));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QVERIFY2(zipped.text.contains(u"(%1 bytes)"_s.arg(QLocale(QLocale::English).toString(Size))), qPrintable(zipped.text));
        QVERIFY(QFileInfo(archive).size() < 64 << 20);

        // Both peers inflate the whole joined stream and check its CRC-32 and ZIP64 sizes.
        RunResult r = run(u"7zz"_s, {u"l"_s, u"-slt"_s, archive});
        QVERIFY2(r.exitCode == 0 && r.output.contains("Size = " + QByteArray::number(Size)), r.output.constData());
        r = run(u"7zz"_s, {u"t"_s, archive});
        QVERIFY2(r.exitCode == 0 && r.output.contains("Everything is Ok"), r.output.constData());
        r = run(u"unzip"_s, {u"-t"_s, archive});
        QVERIFY2(r.exitCode == 0 && r.output.contains("No errors detected"), r.output.constData());

        const QString out = dir.filePath(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        const ZipResult unzipped = pnvzip::unzipFile(archive, out);
        QVERIFY2(unzipped.ok(), qPrintable(unzipped.text));
        const QString difference = compareFiles(source, out + u"/disk.img"_s);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        QCOMPARE(mtimeSecs(out + u"/disk.img"_s), qint64(1700000000));
    }

    // The same file encrypted by 7-Zip with AES-256 (ZIP64 sizes, authentication code only).
    void fiveGiBEncrypted()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const qint64 free = QStorageInfo(dir.path()).bytesAvailable();
        if (free < Size + 2 * GiB)
            QSKIP(qPrintable(u"needs %1 GiB free, %2 GiB available"_s.arg((Size + 2 * GiB) / GiB).arg(free / GiB)));
        const QString source = dir.filePath(u"disk.img"_s);
        makeSource(source);
        const QString archive = dir.filePath(u"locked.zip"_s);
        const RunResult r = run(u"7zz"_s, {u"a"_s, u"-tzip"_s, u"-mx1"_s, u"-pletmein"_s, u"-mem=AES256"_s, archive,
                                           u"disk.img"_s}, dir.path());
        QVERIFY2(r.exitCode == 0, r.output.constData());
        const QString out = dir.filePath(u"out"_s);
        QVERIFY(QDir().mkpath(out));
        ScriptedQuery query;
        query.answers = {QByteArray("letmein")};
        const ZipResult unzipped = pnvzip::unzipFile(archive, out, &query);
        QVERIFY2(unzipped.ok(), qPrintable(unzipped.text));
        QCOMPARE(query.asked.size(), 1);
        QVERIFY2(query.progressProblem().isEmpty(), qPrintable(query.progressProblem()));
        QCOMPARE(query.progressSeen.last().done, Size);
        const QString difference = compareFiles(source, out + u"/disk.img"_s);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // A stop asked for part-way through a 5 GiB file ends the call at once and leaves the
    // folder as it was. Needs no free space: the source is sparse and nothing is kept.
    void fiveGiBCancelled()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = dir.filePath(u"disk.img"_s);
        {
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(Size));
            QVERIFY(f.seek(GiB) && f.write(textBytes(64 << 20)) == (64 << 20));
        }
        const QStringList before = tree(dir.path());
        ScriptedQuery query;
        query.cancelAt = GiB + (32 << 20); // amid the text
        const ZipResult zipped = pnvzip::zipFile(source, dir.filePath(u"disk.img.zip"_s), &query);
        QCOMPARE(zipped.number, int(pnvzip::Cancelled));
        QVERIFY2(query.sinceStop.elapsed() < 200, qPrintable(QString::number(query.sinceStop.elapsed())));
        QCOMPARE(tree(dir.path()), before);
    }
};

QTEST_GUILESS_MAIN(TestZipLarge)
#include "tst_ziplarge.moc"
