// The zip engine on its own: round trips, the text it returns, every refusal and error,
// and hostile archives, which are written byte by byte here.

#include "ziptestkit.h"
#include "deflatepieces.h"
#include "zipengine.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

using namespace Qt::StringLiterals;
using namespace ziptest;

namespace {

constexpr qint64 FixedTime = 1600000000; // 2020-09-13 12:26:40 UTC

struct ArchiveEntry
{
    qint64 count = 0;
    QString name;
    int method = -1;
    quint64 size = 0;
    quint32 attributes = 0;
    QByteArray timestamp; // the 0x5455 extra field of the central header
};

// The first entry of an archive as libzip's reading side sees it.
ArchiveEntry inspect(const QString &archive)
{
    ArchiveEntry out;
    int error = 0;
    zip_t *za = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    zip_stat_t st;
    if (!za || (out.count = zip_get_num_entries(za, 0)) < 1 || zip_stat_index(za, 0, 0, &st) != 0) {
        if (za)
            zip_discard(za);
        return out;
    }
    out.name = QString::fromUtf8(st.name);
    out.method = st.comp_method;
    out.size = st.size;
    zip_uint8_t system = 0;
    zip_file_get_external_attributes(za, 0, 0, &system, &out.attributes);
    if (system != ZIP_OPSYS_UNIX)
        out.attributes = 0;
    zip_uint16_t len = 0;
    if (const zip_uint8_t *ut = zip_file_extra_field_get_by_id(za, 0, 0x5455, 0, &len, ZIP_FL_CENTRAL))
        out.timestamp = QByteArray(reinterpret_cast<const char *>(ut), len);
    zip_discard(za);
    return out;
}

int masked(int mode)
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mode & ~int(mask);
}

// Limits the size of every file this process writes, the way a full disk stops a write.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, m_old.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_old{};
    void (*m_handler)(int) = nullptr;
};

} // namespace

class TestZipEngine : public QObject
{
    Q_OBJECT

private:
    PrivateEnvironment m_environment;
    std::unique_ptr<QTemporaryDir> m_dir;

    QString at(const QString &relative) const { return m_dir->filePath(relative); }
    QString folder(const QString &relative) const
    {
        QDir().mkpath(at(relative));
        return at(relative);
    }
    // Saves the archive as a.zip and extracts it into `into` (made if missing).
    ZipResult unzip(const RawZip &zip, const QString &into = u"out"_s)
    {
        zip.save(at(u"a.zip"_s));
        return pnvzip::unzipFile(at(u"a.zip"_s), folder(into));
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() { m_dir.reset(); }

    // ---- ZipFile ----------------------------------------------------------------------

    void roundTrip_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("method"); // expected; -1: either
        QTest::newRow("text") << "report.doc" << textBytes(300000) << int(ZIP_CM_DEFLATE);
        QTest::newRow("empty") << "empty.txt" << QByteArray() << int(ZIP_CM_STORE);
        QTest::newRow("random, sampled") << "photo.jpg" << randomBytes(2 << 20, 1) << int(ZIP_CM_STORE);
        QTest::newRow("random, small") << "key.bin" << randomBytes(3000, 2) << int(ZIP_CM_STORE);
        QTest::newRow("one byte") << "x" << QByteArray("x") << int(ZIP_CM_STORE);
        QTest::newRow("ends in zeros") << "disk.img" << QByteArray("header") + QByteArray(600 * 1024, '\0') << int(ZIP_CM_DEFLATE);
        QTest::newRow("zeros between data") << "sparse.img" << randomBytes(5000, 3) + QByteArray(1 << 20, '\0') + randomBytes(5000, 4) << int(ZIP_CM_DEFLATE);
        QTest::newRow("UTF-8 name") << "Überblick – 数据 ✓.txt" << textBytes(5000) << int(ZIP_CM_DEFLATE);
        QTest::newRow("exactly one piece") << "piece.txt" << textBytes(1 << 20) << int(ZIP_CM_DEFLATE);
        QTest::newRow("one piece and a byte") << "over.txt" << textBytes((1 << 20) + 1) << int(ZIP_CM_DEFLATE);
        QTest::newRow("random, unsampled, one piece less a byte") << "noise.bin" << randomBytes((1 << 20) - 1, 9) << int(ZIP_CM_STORE);
        QTest::newRow("awkward name") << "it's a \"test\" (1) [x] #2.txt" << textBytes(100) << -1;
    }
    void roundTrip()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(int, method);
        const QString source = at(u"in/"_s + name);
        writeFile(source, content);
        QVERIFY(QFile::setPermissions(source, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        setMtime(source, QDateTime::fromSecsSinceEpoch(FixedTime));
        const QString archive = at(name + u".zip"_s);

        const ZipResult zipped = pnvzip::zipFile(source, archive);
        QVERIFY2(zipped.ok(), qPrintable(zipped.text));
        QVERIFY(zipped.text.startsWith(u"Created "_s + archive + QChar('\n')));
        const ArchiveEntry entry = inspect(archive);
        QCOMPARE(entry.count, 1);
        QCOMPARE(entry.name, name);
        QCOMPARE(entry.size, quint64(content.size()));
        if (method >= 0)
            QCOMPARE(entry.method, method);
        QCOMPARE(entry.attributes >> 16, 0100640u);
        QCOMPARE(entry.timestamp.size(), 5);
        QCOMPARE(qFromLittleEndian<quint32>(entry.timestamp.constData() + 1), quint32(FixedTime));
        if (entry.method == ZIP_CM_STORE) // stored only when deflate does not pay
            QVERIFY(QFileInfo(archive).size() <= content.size() + 200);
        QCOMPARE(leftovers(m_dir->path()), QStringList());

        const ZipResult unzipped = pnvzip::unzipFile(archive, folder(u"out"_s));
        QVERIFY2(unzipped.ok(), qPrintable(unzipped.text));
        const QString copy = at(u"out/"_s + name);
        QCOMPARE(tree(at(u"out"_s)), QStringList{name});
        QCOMPARE(readFile(copy), content);
        QCOMPARE(mtimeSecs(copy), FixedTime);
        QCOMPARE(permissions(copy), masked(0640) | 0400);
        QVERIFY(unzipped.text.contains(name));
    }

    // Pieces encoded on their own must join into one deflate stream whatever their
    // content and size: the end of each non-last piece falls on any bit of its last byte,
    // a piece may be empty, one byte, or kept as stored blocks.
    void piecesJoinIntoOneStream()
    {
        pnvzip::PieceCompressor compressor;
        QVERIFY(compressor.valid());
        QList<QByteArray> pieces;
        for (int i = 1; i <= 40; ++i) // text pieces of many sizes end on every bit
            pieces << textBytes(i * 997 % 20011 + i);
        pieces << QByteArray() << QByteArray("x") << randomBytes(100000, 5) << textBytes(int(pnvzip::PieceSize))
               << randomBytes(int(pnvzip::PieceSize), 6) << QByteArray(int(pnvzip::PieceSize), '\0') << textBytes(3);
        QByteArray stream, expected;
        int storedCount = 0;
        for (int i = 0; i < pieces.size(); ++i) {
            const QByteArray &piece = pieces[i];
            QByteArray out(qsizetype(pnvzip::pieceBound(size_t(piece.size()))), '\0');
            bool stored = false;
            const size_t n = compressor.compress(reinterpret_cast<const unsigned char *>(piece.constData()),
                                                 size_t(piece.size()), i + 1 == pieces.size(),
                                                 reinterpret_cast<unsigned char *>(out.data()), &stored);
            QVERIFY(n <= size_t(out.size()));
            if (stored) {
                ++storedCount;
                QVERIFY2(n <= size_t(piece.size()) + 5 * (size_t(piece.size()) / 65535 + 1), qPrintable(QString::number(i)));
            } else if (piece.size() > 1000) {
                QVERIFY2(n < size_t(piece.size()), qPrintable(QString::number(i)));
            }
            stream += out.left(qsizetype(n));
            expected += piece;
        }
        QCOMPARE(storedCount, 3); // "x" and the two random pieces
        z_stream z{};
        QCOMPARE(inflateInit2(&z, -15), Z_OK);
        QByteArray inflated(expected.size() + 1, '\0');
        z.next_in = reinterpret_cast<Bytef *>(stream.data());
        z.avail_in = uInt(stream.size());
        z.next_out = reinterpret_cast<Bytef *>(inflated.data());
        z.avail_out = uInt(inflated.size());
        const int r = inflate(&z, Z_FINISH);
        inflateEnd(&z);
        QCOMPARE(r, Z_STREAM_END);
        QCOMPARE(z.avail_in, 0u); // the stream ends exactly with the last piece
        inflated.truncate(qsizetype(z.total_out));
        QVERIFY(inflated == expected);
    }

    void zipReportsWhatItMade()
    {
        const QByteArray content = textBytes(1234567);
        writeFile(at(u"report.doc"_s), content);
        const QString archive = at(u"report.doc.zip"_s);
        const ZipResult result = pnvzip::zipFile(at(u"report.doc"_s), archive);
        QVERIFY2(result.ok(), qPrintable(result.text));
        const qint64 packed = QFileInfo(archive).size();
        const QStringList lines = result.text.split(QChar('\n'));
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], u"Created "_s + archive);
        QCOMPARE(lines[1], u"report.doc: 1.2 MB (1,234,567 bytes) compressed to %1 KB (%2 bytes), %3% smaller."_s
                               .arg(QString::number(double(packed) / 1000, 'f', 0), QLocale(QLocale::English).toString(packed))
                               .arg((content.size() - packed) * 100 / content.size()));
    }

    void zipRefuses_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("archive");
        QTest::addColumn<int>("number");
        QTest::newRow("empty source path") << "" << "a.zip" << int(pnvzip::EmptyPath);
        QTest::newRow("empty archive path") << "file.txt" << "" << int(pnvzip::EmptyPath);
        QTest::newRow("source missing") << "nothing.txt" << "a.zip" << int(pnvzip::SourceUnreadable);
        QTest::newRow("source is a folder") << "folder" << "a.zip" << int(pnvzip::SourceUnreadable);
        QTest::newRow("source under a file") << "file.txt/x" << "a.zip" << int(pnvzip::SourceUnreadable);
        QTest::newRow("source is a device") << "/dev/null" << "a.zip" << int(pnvzip::SourceUnreadable);
        QTest::newRow("source is a named pipe") << "pipe" << "a.zip" << int(pnvzip::SourceUnreadable);
        QTest::newRow("archive folder missing") << "file.txt" << "nowhere/a.zip" << int(pnvzip::FolderMissing);
        QTest::newRow("archive folder is a file") << "file.txt" << "file.txt/a.zip" << int(pnvzip::CannotWrite);
        QTest::newRow("archive is a folder") << "file.txt" << "folder" << int(pnvzip::CannotWrite);
        QTest::newRow("archive path ends in /") << "file.txt" << "folder/" << int(pnvzip::CannotWrite);
    }
    void zipRefuses()
    {
        QFETCH(QString, source);
        QFETCH(QString, archive);
        QFETCH(int, number);
        writeFile(at(u"file.txt"_s), "content");
        folder(u"folder"_s);
        QCOMPARE(::mkfifo(QFile::encodeName(at(u"pipe"_s)).constData(), 0600), 0); // opening must not block
        const QStringList before = tree(m_dir->path());
        auto full = [&](const QString &p) { return p.isEmpty() || p.startsWith(QChar('/')) ? p : at(p); };
        const ZipResult result = pnvzip::zipFile(full(source), full(archive));
        QCOMPARE(result.number, number);
        QVERIFY(!result.text.isEmpty());
        QCOMPARE(tree(m_dir->path()), before);
    }

    void zipRefusesItsOwnSource_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("same path") << "same";
        QTest::newRow("path with ..") << "dots";
        QTest::newRow("symbolic link") << "symlink";
        QTest::newRow("hard link") << "hardlink";
    }
    void zipRefusesItsOwnSource()
    {
        QFETCH(QString, how);
        const QString source = at(u"doc.txt"_s);
        writeFile(source, textBytes(10000));
        folder(u"sub"_s);
        QString archive = how == "same"_L1 ? source : how == "dots"_L1 ? at(u"sub/../doc.txt"_s) : at(u"doc.zip"_s);
        if (how == "symlink"_L1)
            QVERIFY(QFile::link(source, archive));
        if (how == "hardlink"_L1)
            QCOMPARE(::link(QFile::encodeName(source).constData(), QFile::encodeName(archive).constData()), 0);
        const QStringList before = tree(m_dir->path());
        QCOMPARE(pnvzip::zipFile(source, archive).number, int(pnvzip::ArchiveIsSource));
        QCOMPARE(readFile(source), textBytes(10000));
        QCOMPARE(tree(m_dir->path()), before);
    }

    void zipReplacesAnOlderArchive()
    {
        writeFile(at(u"doc.txt"_s), textBytes(50000));
        writeFile(at(u"doc.txt.zip"_s), "an older archive");
        const ZipResult result = pnvzip::zipFile(at(u"doc.txt"_s), at(u"doc.txt.zip"_s));
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(inspect(at(u"doc.txt.zip"_s)).size, 50000u);
        QCOMPARE(tree(m_dir->path()), (QStringList{u"doc.txt"_s, u"doc.txt.zip"_s}));
        QCOMPARE(permissions(at(u"doc.txt.zip"_s)), masked(0666));
    }

    void zipFailureKeepsTheOlderArchive_data()
    {
        QTest::addColumn<bool>("sourceVanishes");
        QTest::newRow("source vanished") << true;
        QTest::newRow("write fails part-way") << false;
    }
    void zipFailureKeepsTheOlderArchive()
    {
        QFETCH(bool, sourceVanishes);
        const QString source = at(u"doc.txt"_s), archive = at(u"doc.txt.zip"_s);
        writeFile(source, textBytes(100));
        QVERIFY(pnvzip::zipFile(source, archive).ok());
        const QByteArray older = readFile(archive);
        writeFile(source, textBytes(4 << 20));
        if (sourceVanishes) {
            QVERIFY(QFile::remove(source));
            QCOMPARE(pnvzip::zipFile(source, archive).number, int(pnvzip::SourceUnreadable));
        } else {
            FileSizeLimit limit(64 * 1024);
            QCOMPARE(pnvzip::zipFile(source, archive).number, int(pnvzip::WriteFailed));
        }
        QCOMPARE(readFile(archive), older);
        QCOMPARE(leftovers(m_dir->path()), QStringList());
    }

    // ---- UnzipFile: arguments and names -----------------------------------------------

    void unzipRefuses_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("number");
        QTest::newRow("empty archive path") << "" << "out" << int(pnvzip::EmptyPath);
        QTest::newRow("empty folder path") << "good.zip" << "" << int(pnvzip::EmptyPath);
        QTest::newRow("archive missing") << "none.zip" << "out" << int(pnvzip::SourceUnreadable);
        QTest::newRow("archive is a folder") << "out" << "out" << int(pnvzip::SourceUnreadable);
        QTest::newRow("archive is a device") << "/dev/zero" << "out" << int(pnvzip::SourceUnreadable);
        QTest::newRow("not an archive") << "file.txt" << "out" << int(pnvzip::NotAnArchive);
        QTest::newRow("empty file") << "empty.zip" << "out" << int(pnvzip::NotAnArchive);
        QTest::newRow("folder missing") << "good.zip" << "missing" << int(pnvzip::FolderMissing);
        QTest::newRow("folder is a file") << "good.zip" << "file.txt" << int(pnvzip::CannotWrite);
        QTest::newRow("folder under a file") << "good.zip" << "file.txt/sub" << int(pnvzip::CannotWrite);
    }
    void unzipRefuses()
    {
        QFETCH(QString, archive);
        QFETCH(QString, folder);
        QFETCH(int, number);
        RawZip zip;
        zip.add("inside.txt", "data");
        zip.save(at(u"good.zip"_s));
        writeFile(at(u"file.txt"_s), textBytes(5000));
        writeFile(at(u"empty.zip"_s), QByteArray());
        this->folder(u"out"_s);
        const QStringList before = tree(m_dir->path());
        auto full = [&](const QString &p) { return p.isEmpty() || p.startsWith(QChar('/')) ? p : at(p); };
        const ZipResult result = pnvzip::unzipFile(full(archive), full(folder));
        QCOMPARE(result.number, number);
        QVERIFY(!result.text.isEmpty());
        QCOMPARE(tree(m_dir->path()), before);
    }

    void unzipNormalisesNames_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QString>("expected");
        QTest::newRow("backslashes") << QByteArray("dir\\sub\\file.txt") << "dir/sub/file.txt";
        QTest::newRow("dot parts") << QByteArray("./a/./b.txt") << "a/b.txt";
        QTest::newRow("double slash") << QByteArray("a//c.txt") << "a/c.txt";
        QTest::newRow("UTF-8") << QByteArray("Ärger/naïve ✓.txt") << "Ärger/naïve ✓.txt";
    }
    void unzipNormalisesNames()
    {
        QFETCH(QByteArray, entry);
        QFETCH(QString, expected);
        RawZip zip;
        zip.add(entry, "payload");
        const ZipResult result = unzip(zip, u"out/"_s); // a folder given with a trailing slash
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(readFile(at(u"out/"_s + expected)), QByteArray("payload"));
        QVERIFY2(result.text.contains(u"into "_s + at(u"out:"_s)), qPrintable(result.text));
    }

    // ---- UnzipFile: nothing outside the folder ----------------------------------------

    void unzipRefusesNamesOutside_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("..") << QByteArray("../evil");
        QTest::newRow("a/../..") << QByteArray("a/../../evil");
        QTest::newRow("a/b/../../..") << QByteArray("a/b/../../../evil");
        QTest::newRow("absolute") << QByteArray("@WORK@/evil");
        QTest::newRow("backslash ..") << QByteArray("..\\evil");
        QTest::newRow("backslash a\\..\\..") << QByteArray("a\\..\\..\\evil");
        QTest::newRow("leading backslash") << QByteArray("\\evil");
        QTest::newRow("drive letter") << QByteArray("C:\\evil");
        QTest::newRow("drive letter, slash") << QByteArray("C:/evil");
    }
    void unzipRefusesNamesOutside()
    {
        QFETCH(QByteArray, name);
        const QString work = folder(u"work"_s);
        name.replace("@WORK@", QFile::encodeName(work));
        RawZip zip;
        zip.add("harmless.txt", "first entry, fine on its own");
        zip.add(name, "evil");
        const ZipResult result = unzip(zip, u"work/target"_s);
        QCOMPARE(result.number, int(pnvzip::OutsideFolder));
        QVERIFY2(result.text.contains(u"Nothing was extracted"_s), qPrintable(result.text));
        QCOMPARE(tree(work), QStringList{u"target/"_s});
    }

    void unzipRefusesLinksOutside_data()
    {
        QTest::addColumn<QByteArray>("link");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("through"); // a file entry written through the link, if any
        QTest::newRow("to /etc, then a file through it") << QByteArray("etc") << QByteArray("/etc") << QByteArray("etc/evil.conf");
        QTest::newRow("to .., then a file through it") << QByteArray("up") << QByteArray("..") << QByteArray("up/evil.txt");
        QTest::newRow("to a sibling folder") << QByteArray("sib") << QByteArray("../outside") << QByteArray();
        QTest::newRow("nested, climbing too far") << QByteArray("a/b/l") << QByteArray("../../../x") << QByteArray();
        QTest::newRow(".. after a name") << QByteArray("l") << QByteArray("sub/../../x") << QByteArray();
        QTest::newRow("absolute, to the work folder") << QByteArray("out") << QByteArray("@WORK@") << QByteArray("out/evil.txt");
    }
    void unzipRefusesLinksOutside()
    {
        QFETCH(QByteArray, link);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, through);
        const QString work = folder(u"work"_s);
        folder(u"work/outside"_s);
        target.replace("@WORK@", QFile::encodeName(work));
        RawZip zip;
        zip.add(link, target, 0120777);
        if (!through.isEmpty())
            zip.add(through, "evil");
        QCOMPARE(unzip(zip, u"work/target"_s).number, int(pnvzip::OutsideFolder));
        QCOMPARE(tree(work), (QStringList{u"outside/"_s, u"target/"_s}));
    }

    void unzipMakesLinksInside()
    {
        RawZip zip;
        zip.add("docs/readme.txt", "read me");
        zip.add("latest", "docs/readme.txt", 0120777);
        zip.add("docs/self", "../docs", 0120777);
        zip.add("docs/sub/up", "../readme.txt", 0120777);
        const ZipResult result = unzip(zip);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(at(u"out"_s)), (QStringList{u"docs/"_s, u"docs/readme.txt"_s, u"docs/self -> ../docs"_s, u"docs/sub/"_s,
                                                  u"docs/sub/up -> ../readme.txt"_s, u"latest -> docs/readme.txt"_s}));
        QCOMPARE(readFile(at(u"out/latest"_s)), QByteArray("read me"));
        QVERIFY(result.text.contains(u"3 links"_s));
    }

    void unzipNeverWritesThroughExistingLinks()
    {
        const QString outside = at(u"outside"_s), target = folder(u"out"_s);
        writeFile(outside + u"/note.txt"_s, "keep me");
        QVERIFY(QFile::link(outside, target + u"/dir"_s));
        QVERIFY(QFile::link(outside + u"/note.txt"_s, target + u"/note.txt"_s));
        QVERIFY(QFile::link(outside + u"/fresh.txt"_s, target + u"/fresh.txt"_s)); // dangling
        RawZip zip;
        for (const char *name : {"dir/evil.txt", "dir/note.txt", "note.txt", "fresh.txt"})
            zip.add(name, "evil");
        const ZipResult result = unzip(zip);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(outside), QStringList{u"note.txt"_s});
        QCOMPARE(readFile(outside + u"/note.txt"_s), QByteArray("keep me"));
        for (const char *name : {"dir (2)/evil.txt", "dir (2)/note.txt", "note (2).txt", "fresh (2).txt"})
            QCOMPARE(readFile(target + QChar('/') + QString::fromUtf8(name)), QByteArray("evil"));
        QVERIFY(QFileInfo(target + u"/dir"_s).isSymLink());

        // A link entry that is fine by name but would lead outside through "dir".
        RawZip peek;
        peek.add("peek", "dir/note.txt", 0120777);
        QCOMPARE(unzip(peek).number, int(pnvzip::OutsideFolder));
        QVERIFY(!QFileInfo::exists(target + u"/peek"_s) && !QFileInfo(target + u"/peek"_s).isSymLink());
    }

    // ---- UnzipFile: taken names, merged folders ---------------------------------------

    void unzipKeepsWhatIsThere_data()
    {
        QTest::addColumn<QStringList>("existing"); // "dir/" for folders
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QString>("expected");
        QTest::newRow("suffix") << QStringList{"notes.txt"} << QByteArray("notes.txt") << "notes (2).txt";
        QTest::newRow("last suffix counts") << QStringList{"archive.tar.gz"} << QByteArray("archive.tar.gz") << "archive.tar (2).gz";
        QTest::newRow("no suffix") << QStringList{"README"} << QByteArray("README") << "README (2)";
        QTest::newRow("hidden file") << QStringList{".bashrc"} << QByteArray(".bashrc") << ".bashrc (2)";
        QTest::newRow("next free number") << QStringList{"notes.txt", "notes (2).txt"} << QByteArray("notes.txt") << "notes (3).txt";
        QTest::newRow("a folder of that name") << QStringList{"report/"} << QByteArray("report") << "report (2)";
        QTest::newRow("a file where a folder goes") << QStringList{"docs"} << QByteArray("docs/a.txt") << "docs (2)/a.txt";
        QTest::newRow("inside a merged folder") << QStringList{"docs/a.txt"} << QByteArray("docs/a.txt") << "docs/a (2).txt";
    }
    void unzipKeepsWhatIsThere()
    {
        QFETCH(QStringList, existing);
        QFETCH(QByteArray, entry);
        QFETCH(QString, expected);
        const QString out = folder(u"out"_s) + QChar('/');
        for (const QString &name : existing) {
            if (name.endsWith(QChar('/')))
                folder(u"out/"_s + name);
            else
                writeFile(out + name, "original " + name.toUtf8());
        }
        RawZip zip;
        zip.add(entry, "from the archive");
        const ZipResult result = unzip(zip);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(readFile(out + expected), QByteArray("from the archive"));
        for (const QString &name : existing) {
            if (!name.endsWith(QChar('/')))
                QCOMPARE(readFile(out + name), "original " + name.toUtf8());
        }
        QVERIFY2(result.text.contains(expected + u" (the name “%1” was taken)"_s.arg(QString::fromUtf8(entry))), qPrintable(result.text));
    }

    void unzipMergesFoldersAndDuplicates()
    {
        writeFile(at(u"out/docs/old.txt"_s), "old");
        RawZip zip;
        zip.add("docs/", QByteArray(), 040755);
        zip.add("docs/new.txt", "new");
        zip.add("docs/", QByteArray(), 040755);
        zip.add("a.txt", "first");
        zip.add("a.txt", "second");
        zip.add("empty/", QByteArray(), 040755);
        const ZipResult result = unzip(zip);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(at(u"out"_s)), (QStringList{u"a (2).txt"_s, u"a.txt"_s, u"docs/"_s, u"docs/new.txt"_s, u"docs/old.txt"_s, u"empty/"_s}));
        QCOMPARE(readFile(at(u"out/docs/old.txt"_s)), QByteArray("old"));
        QCOMPARE(readFile(at(u"out/a.txt"_s)), QByteArray("first"));
        QCOMPARE(readFile(at(u"out/a (2).txt"_s)), QByteArray("second"));
        QVERIFY2(result.text.contains(u"docs/ (already there; merged)"_s), qPrintable(result.text));
    }

    // ---- UnzipFile: archives it cannot extract ----------------------------------------

    void unzipNamesUnsupportedMethods_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("name");
        QTest::newRow("Deflate64") << 9 << "Deflate64";
        QTest::newRow("LZMA") << 14 << "LZMA";
        QTest::newRow("XZ") << 95 << "XZ";
        QTest::newRow("PPMd") << 98 << "PPMd";
    }
    void unzipNamesUnsupportedMethods()
    {
        QFETCH(int, method);
        QFETCH(QString, name);
        writeFile(at(u"setup.txt"_s), textBytes(20000));
        QVERIFY(pnvzip::zipFile(at(u"setup.txt"_s), at(u"plain.zip"_s)).ok());
        QCOMPARE(inspect(at(u"plain.zip"_s)).method, int(ZIP_CM_DEFLATE));
        writeFile(at(u"odd.zip"_s), withMethod(readFile(at(u"plain.zip"_s)), quint16(method)));
        const ZipResult result = pnvzip::unzipFile(at(u"odd.zip"_s), folder(u"out"_s));
        QCOMPARE(result.number, int(pnvzip::UnsupportedMethod));
        QVERIFY2(result.text.contains(u"“setup.txt” in the archive is compressed with %1 (method %2)"_s.arg(name).arg(method)),
                 qPrintable(result.text));
        QCOMPARE(tree(at(u"out"_s)), QStringList());
    }

    void unzipDamaged_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<QStringList>("kept");
        const int corrupt = pnvzip::NotAnArchive, crc = pnvzip::ChecksumMismatch;
        QTest::newRow("cut in half") << "half" << QList<int>{corrupt} << QStringList();
        QTest::newRow("end record cut") << "tail" << QList<int>{corrupt} << QStringList();
        QTest::newRow("stored byte flipped") << "flip" << QList<int>{crc} << QStringList{"good.txt"};
        QTest::newRow("CRC recorded wrong") << "crc" << QList<int>{crc} << QStringList{"good.txt"};
        QTest::newRow("deflate data overwritten") << "deflate" << QList<int>{corrupt, crc} << QStringList();
        QTest::newRow("deflated, CRC recorded wrong") << "deflated crc" << QList<int>{crc} << QStringList();
        QTest::newRow("deflated, several pieces, byte flipped") << "deflated flip" << QList<int>{corrupt, crc} << QStringList();
    }
    void unzipDamaged()
    {
        QFETCH(QString, damage);
        QFETCH(QList<int>, numbers);
        QFETCH(QStringList, kept);
        QByteArray archive;
        if (damage == "flip"_L1 || damage == "crc"_L1) {
            RawZip zip;
            zip.add("good.txt", "all fine");
            RawZip::Entry bad;
            bad.name = "bad.txt";
            bad.data = textBytes(200000);
            if (damage == "crc"_L1)
                bad.crc = 0x12345678;
            zip.add(bad);
            archive = zip.bytes();
            if (damage == "flip"_L1) {
                const qsizetype at = archive.indexOf(textBytes(64), archive.indexOf("bad.txt")) + 150000;
                archive[at] = char(archive[at] ^ 0x20);
            }
        } else if (damage.startsWith("deflated"_L1)) {
            writeFile(at(u"data.txt"_s), textBytes(3 << 20));
            QVERIFY(pnvzip::zipFile(at(u"data.txt"_s), at(u"plain.zip"_s)).ok());
            archive = readFile(at(u"plain.zip"_s));
            if (damage == "deflated crc"_L1) {
                // Both records of the CRC: the local header's and the central one's.
                for (qsizetype header : {archive.indexOf("PK\x03\x04"), archive.lastIndexOf("PK\x01\x02")})
                    archive[header + (archive[header + 2] == 3 ? 14 : 16)] ^= 0x01;
            } else {
                archive[archive.size() * 2 / 3] ^= 0x10;
            }
        } else {
            writeFile(at(u"data.txt"_s), textBytes(400000));
            QVERIFY(pnvzip::zipFile(at(u"data.txt"_s), at(u"plain.zip"_s)).ok());
            archive = readFile(at(u"plain.zip"_s));
            if (damage == "half"_L1)
                archive.truncate(archive.size() / 2);
            else if (damage == "tail"_L1)
                archive.chop(10);
            else
                archive.replace(archive.size() / 2, 64, QByteArray(64, '\xff'));
        }
        writeFile(at(u"damaged.zip"_s), archive);
        const ZipResult result = pnvzip::unzipFile(at(u"damaged.zip"_s), folder(u"out"_s));
        QVERIFY2(numbers.contains(result.number), qPrintable(QString::number(result.number) + QChar(' ') + result.text));
        QCOMPARE(tree(at(u"out"_s)), kept);
        QVERIFY2(result.text.contains(kept.isEmpty() ? u"Nothing was extracted"_s : u"extracted before the error was kept"_s),
                 qPrintable(result.text));
    }

    void unzipWriteFailureLeavesNoHalfFile()
    {
        RawZip zip;
        zip.add("small.txt", "small");
        zip.add("big.bin", randomBytes(1 << 20, 3));
        zip.save(at(u"a.zip"_s));
        const QString out = folder(u"out"_s);
        ZipResult result;
        {
            FileSizeLimit limit(100 * 1024);
            result = pnvzip::unzipFile(at(u"a.zip"_s), out);
        }
        QCOMPARE(result.number, int(pnvzip::WriteFailed));
        QVERIFY2(result.text.contains(u"big.bin"_s), qPrintable(result.text));
        QCOMPARE(tree(out), QStringList{u"small.txt"_s});
        QCOMPARE(readFile(out + u"/small.txt"_s), QByteArray("small"));
    }

    // ---- UnzipFile: attributes and the report -----------------------------------------

    void unzipSanitisesPermissions_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<quint32>("mode");
        QTest::addColumn<int>("expected"); // before the umask
        QTest::newRow("rw-r--r--") << QByteArray("a") << 0100644u << 0644;
        QTest::newRow("set-user-ID dropped") << QByteArray("a") << 0104755u << 0755;
        QTest::newRow("set-group-ID dropped") << QByteArray("a") << 0102755u << 0755;
        QTest::newRow("sticky dropped") << QByteArray("a") << 0101777u << 0777;
        QTest::newRow("private") << QByteArray("a") << 0100600u << 0600;
        QTest::newRow("owner can always read") << QByteArray("a") << 0100044u << 0444;
        QTest::newRow("none recorded") << QByteArray("a") << 0u << 0666;
        QTest::newRow("folder rwx------") << QByteArray("d/") << 040700u << 0700;
        QTest::newRow("folder r-xr-xr-x stays usable") << QByteArray("d/") << 040555u << 0755;
        QTest::newRow("folder set-group-ID dropped") << QByteArray("d/") << 042775u << 0775;
    }
    void unzipSanitisesPermissions()
    {
        QFETCH(QByteArray, name);
        QFETCH(quint32, mode);
        QFETCH(int, expected);
        RawZip zip;
        zip.add(name, name.endsWith('/') ? QByteArray() : QByteArray("data"), mode);
        const ZipResult result = unzip(zip);
        QVERIFY2(result.ok(), qPrintable(result.text));
        const int owner = name.endsWith('/') ? 0700 : 0400;
        QCOMPARE(QString::number(permissions(at(u"out/"_s + QString::fromUtf8(name))), 8),
                 QString::number(masked(expected) | owner, 8));
    }

    void unzipSummarisesLongLists()
    {
        writeFile(at(u"out/f005.txt"_s), "already here");
        RawZip zip;
        for (int i = 0; i < 150; ++i)
            zip.add(u"f%1.txt"_s.arg(i, 3, 10, QChar('0')).toUtf8(), QByteArray::number(i));
        const ZipResult result = unzip(zip);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(at(u"out"_s)).size(), 151);
        QVERIFY2(result.text.startsWith(u"Extracted 150 files from "_s), qPrintable(result.text));
        QVERIFY(result.text.contains(u"… and 140 more."_s));
        QVERIFY(!result.text.contains(u"f149.txt"_s));
        QVERIFY(result.text.contains(u"1 item was saved under a new name"_s));
        QVERIFY(result.text.contains(u"f005 (2).txt"_s));
        QVERIFY(result.text.count(QChar('\n')) < 20);
    }
};

QTEST_GUILESS_MAIN(TestZipEngine)
#include "tst_zipengine.moc"
