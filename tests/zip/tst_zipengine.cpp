// The zip engine on its own: round trips, the text it returns, every refusal and error,
// and hostile archives, which are written byte by byte here.

#include "ziptestkit.h"
#include "zipengine.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

using namespace ziptest;

namespace {

constexpr qint64 FixedTime = 1600000000; // 2020-09-13 12:26:40 UTC

struct ArchiveEntry
{
    bool ok = false;
    qint64 count = 0;
    QString name;
    int method = -1;
    quint64 size = 0;
    quint8 system = 0;
    quint32 attributes = 0;
    QByteArray timestamp; // the 0x5455 extra field of the central header
};

// Reads the first entry of an archive with libzip, the library's own reading side.
ArchiveEntry inspect(const QString &archive)
{
    ArchiveEntry out;
    int error = 0;
    zip_t *za = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!za)
        return out;
    out.count = zip_get_num_entries(za, 0);
    zip_stat_t st;
    if (out.count > 0 && zip_stat_index(za, 0, 0, &st) == 0) {
        out.ok = true;
        out.name = QString::fromUtf8(st.name);
        out.method = st.comp_method;
        out.size = st.size;
        zip_file_get_external_attributes(za, 0, 0, &out.system, &out.attributes);
        zip_uint16_t len = 0;
        if (const zip_uint8_t *ut = zip_file_extra_field_get_by_id(za, 0, 0x5455, 0, &len, ZIP_FL_CENTRAL))
            out.timestamp = QByteArray(reinterpret_cast<const char *>(ut), len);
    }
    zip_discard(za);
    return out;
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
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
        QTest::newRow("awkward name") << "it's a \"test\" (1) [x] #2.txt" << textBytes(100) << -1;
    }
    void roundTrip()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(int, method);
        const QString source = at(QStringLiteral("in/") + name);
        writeFile(source, content);
        QVERIFY(QFile::setPermissions(source, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        setMtime(source, QDateTime::fromSecsSinceEpoch(FixedTime));
        const QString archive = at(name + QStringLiteral(".zip"));

        const ZipResult zipped = pnvzip::zipFile(source, archive);
        QVERIFY2(zipped.ok(), qPrintable(zipped.text));
        QVERIFY(zipped.text.startsWith(QStringLiteral("Created ") + archive + QLatin1Char('\n')));

        const ArchiveEntry entry = inspect(archive);
        QVERIFY(entry.ok);
        QCOMPARE(entry.count, 1);
        QCOMPARE(entry.name, name);
        QCOMPARE(entry.size, quint64(content.size()));
        if (method >= 0)
            QCOMPARE(entry.method, method);
        QCOMPARE(int(entry.system), int(ZIP_OPSYS_UNIX));
        QCOMPARE(entry.attributes >> 16, 0100640u);
        QCOMPARE(entry.timestamp.size(), 5);
        QCOMPARE(qFromLittleEndian<quint32>(entry.timestamp.constData() + 1), quint32(FixedTime));
        if (entry.method == ZIP_CM_STORE) // stored only ever when deflate does not pay
            QVERIFY(QFileInfo(archive).size() <= content.size() + 200);
        QCOMPARE(leftovers(m_dir->path()), QStringList());

        const QString out = at(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));
        const ZipResult unzipped = pnvzip::unzipFile(archive, out);
        QVERIFY2(unzipped.ok(), qPrintable(unzipped.text));
        QCOMPARE(tree(out), QStringList{name});
        QCOMPARE(readFile(out + QLatin1Char('/') + name), content);
        QCOMPARE(mtimeSecs(out + QLatin1Char('/') + name), FixedTime);
        QCOMPARE(permissions(out + QLatin1Char('/') + name), int(0640 & ~currentUmask()) | 0400);
        QVERIFY(unzipped.text.contains(name));
    }

    void zipReportsWhatItMade()
    {
        const QString source = at(QStringLiteral("report.doc"));
        const QByteArray content = textBytes(1234567);
        writeFile(source, content);
        const QString archive = at(QStringLiteral("report.doc.zip"));
        const ZipResult result = pnvzip::zipFile(source, archive);
        QVERIFY2(result.ok(), qPrintable(result.text));
        const qint64 packed = QFileInfo(archive).size();
        const qint64 saved = (content.size() - packed) * 100 / content.size();
        const QStringList lines = result.text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QStringLiteral("Created ") + archive);
        QVERIFY2(lines[1].startsWith(QStringLiteral("report.doc: 1.2 MB (1,234,567 bytes) compressed to ")), qPrintable(lines[1]));
        QVERIFY2(lines[1].contains(QLocale(QLocale::English).toString(packed) + QStringLiteral(" bytes")), qPrintable(lines[1]));
        QVERIFY2(lines[1].endsWith(QStringLiteral(", %1% smaller.").arg(saved)), qPrintable(lines[1]));
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
        writeFile(at(QStringLiteral("file.txt")), "content");
        QVERIFY(QDir().mkpath(at(QStringLiteral("folder"))));
        const QStringList before = tree(m_dir->path());
        auto full = [&](const QString &p) { return p.isEmpty() || p.startsWith(QLatin1Char('/')) ? p : at(p); };
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
        const QString source = at(QStringLiteral("doc.txt"));
        writeFile(source, textBytes(10000));
        QVERIFY(QDir().mkpath(at(QStringLiteral("sub"))));
        QString archive = source;
        if (how == QLatin1String("dots"))
            archive = at(QStringLiteral("sub/../doc.txt"));
        else if (how == QLatin1String("symlink")) {
            archive = at(QStringLiteral("doc.zip"));
            QVERIFY(QFile::link(source, archive));
        } else if (how == QLatin1String("hardlink")) {
            archive = at(QStringLiteral("doc.zip"));
            QCOMPARE(::link(QFile::encodeName(source).constData(), QFile::encodeName(archive).constData()), 0);
        }
        const QStringList before = tree(m_dir->path());
        const ZipResult result = pnvzip::zipFile(source, archive);
        QCOMPARE(result.number, int(pnvzip::ArchiveIsSource));
        QCOMPARE(readFile(source), textBytes(10000));
        QCOMPARE(tree(m_dir->path()), before);
    }

    void zipReplacesAnOlderArchive()
    {
        const QString source = at(QStringLiteral("doc.txt"));
        writeFile(source, textBytes(50000));
        const QString archive = at(QStringLiteral("doc.txt.zip"));
        writeFile(archive, "an older archive");
        const ZipResult result = pnvzip::zipFile(source, archive);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(inspect(archive).size, 50000u);
        QCOMPARE(tree(m_dir->path()), (QStringList{QStringLiteral("doc.txt"), QStringLiteral("doc.txt.zip")}));
        QCOMPARE(permissions(archive), int(0666 & ~currentUmask()));
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
        const QString source = at(QStringLiteral("doc.txt"));
        writeFile(source, textBytes(100));
        const QString archive = at(QStringLiteral("doc.txt.zip"));
        QVERIFY(pnvzip::zipFile(source, archive).ok());
        const QByteArray older = readFile(archive);
        writeFile(source, textBytes(4 << 20));

        ZipResult result;
        if (sourceVanishes) {
            QVERIFY(QFile::remove(source));
            result = pnvzip::zipFile(source, archive);
            QCOMPARE(result.number, int(pnvzip::SourceUnreadable));
        } else {
            FileSizeLimit limit(64 * 1024);
            result = pnvzip::zipFile(source, archive);
            QCOMPARE(result.number, int(pnvzip::WriteFailed));
        }
        QVERIFY(!result.text.isEmpty());
        QCOMPARE(readFile(archive), older);
        QCOMPARE(leftovers(m_dir->path()), QStringList());
    }

    // ---- UnzipFile: arguments ---------------------------------------------------------

    void unzipRefuses_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("number");
        QTest::newRow("empty archive path") << "" << "out" << int(pnvzip::EmptyPath);
        QTest::newRow("empty folder path") << "good.zip" << "" << int(pnvzip::EmptyPath);
        QTest::newRow("archive missing") << "none.zip" << "out" << int(pnvzip::SourceUnreadable);
        QTest::newRow("archive is a folder") << "out" << "out" << int(pnvzip::SourceUnreadable);
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
        zip.save(at(QStringLiteral("good.zip")));
        writeFile(at(QStringLiteral("file.txt")), textBytes(5000));
        writeFile(at(QStringLiteral("empty.zip")), QByteArray());
        QVERIFY(QDir().mkpath(at(QStringLiteral("out"))));
        const QStringList before = tree(m_dir->path());
        const ZipResult result = pnvzip::unzipFile(archive.isEmpty() ? archive : at(archive),
                                                   folder.isEmpty() ? folder : at(folder));
        QCOMPARE(result.number, number);
        QVERIFY(!result.text.isEmpty());
        QCOMPARE(tree(m_dir->path()), before);
    }

    void unzipFolderSpelling_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("plain") << "out";
        QTest::newRow("trailing slash") << "out/";
        QTest::newRow("double slash") << "out//";
        QTest::newRow("with ..") << "out/../out";
    }
    void unzipFolderSpelling()
    {
        QFETCH(QString, folder);
        RawZip zip;
        zip.add("a.txt", "alpha");
        zip.save(at(QStringLiteral("a.zip")));
        QVERIFY(QDir().mkpath(at(QStringLiteral("out"))));
        const ZipResult result = pnvzip::unzipFile(at(QStringLiteral("a.zip")), at(folder));
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(readFile(at(QStringLiteral("out/a.txt"))), QByteArray("alpha"));
        QVERIFY2(result.text.contains(QStringLiteral("into ") + at(QStringLiteral("out")) + QLatin1Char(':')), qPrintable(result.text));
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
        zip.save(at(QStringLiteral("a.zip")));
        QVERIFY(QDir().mkpath(at(QStringLiteral("out"))));
        const ZipResult result = pnvzip::unzipFile(at(QStringLiteral("a.zip")), at(QStringLiteral("out")));
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(readFile(at(QStringLiteral("out/") + expected)), QByteArray("payload"));
    }

    // ---- UnzipFile: nothing outside the folder ---------------------------------------

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
        const QString work = at(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(work + QStringLiteral("/target")));
        name.replace("@WORK@", QFile::encodeName(work));
        RawZip zip;
        zip.add("harmless.txt", "first entry, fine on its own");
        zip.add(name, "evil");
        zip.save(at(QStringLiteral("evil.zip")));
        const ZipResult result = pnvzip::unzipFile(at(QStringLiteral("evil.zip")), work + QStringLiteral("/target"));
        QCOMPARE(result.number, int(pnvzip::OutsideFolder));
        QVERIFY2(result.text.contains(QStringLiteral("Nothing was extracted")), qPrintable(result.text));
        QCOMPARE(tree(work), QStringList{QStringLiteral("target/")});
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
        QTest::newRow("absolute, inside the work folder") << QByteArray("out") << QByteArray("@WORK@") << QByteArray("out/evil.txt");
    }
    void unzipRefusesLinksOutside()
    {
        QFETCH(QByteArray, link);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, through);
        const QString work = at(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(work + QStringLiteral("/target")));
        QVERIFY(QDir().mkpath(work + QStringLiteral("/outside")));
        target.replace("@WORK@", QFile::encodeName(work));
        RawZip zip;
        zip.add(link, target, 0120777);
        if (!through.isEmpty())
            zip.add(through, "evil");
        zip.save(at(QStringLiteral("evil.zip")));
        const ZipResult result = pnvzip::unzipFile(at(QStringLiteral("evil.zip")), work + QStringLiteral("/target"));
        QCOMPARE(result.number, int(pnvzip::OutsideFolder));
        QCOMPARE(tree(work), (QStringList{QStringLiteral("outside/"), QStringLiteral("target/")}));
    }

    void unzipMakesLinksInside()
    {
        RawZip zip;
        zip.add("docs/readme.txt", "read me");
        zip.add("latest", "docs/readme.txt", 0120777);
        zip.add("docs/self", "../docs", 0120777);
        zip.add("docs/sub/up", "../readme.txt", 0120777);
        zip.save(at(QStringLiteral("links.zip")));
        QVERIFY(QDir().mkpath(at(QStringLiteral("out"))));
        const ZipResult result = pnvzip::unzipFile(at(QStringLiteral("links.zip")), at(QStringLiteral("out")));
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(at(QStringLiteral("out"))),
                 (QStringList{QStringLiteral("docs/"), QStringLiteral("docs/readme.txt"),
                              QStringLiteral("docs/self -> ../docs"), QStringLiteral("docs/sub/"),
                              QStringLiteral("docs/sub/up -> ../readme.txt"), QStringLiteral("latest -> docs/readme.txt")}));
        QCOMPARE(readFile(at(QStringLiteral("out/latest"))), QByteArray("read me"));
        QVERIFY(result.text.contains(QStringLiteral("3 links")));
    }

    void unzipNeverWritesThroughExistingLinks()
    {
        const QString outside = at(QStringLiteral("outside"));
        writeFile(outside + QStringLiteral("/note.txt"), "keep me");
        const QString target = at(QStringLiteral("target"));
        QVERIFY(QDir().mkpath(target));
        QVERIFY(QFile::link(outside, target + QStringLiteral("/out")));
        QVERIFY(QFile::link(outside + QStringLiteral("/note.txt"), target + QStringLiteral("/note.txt")));
        QVERIFY(QFile::link(outside + QStringLiteral("/fresh.txt"), target + QStringLiteral("/fresh.txt"))); // dangling
        RawZip zip;
        zip.add("out/evil.txt", "evil");
        zip.add("out/note.txt", "evil");
        zip.add("note.txt", "evil");
        zip.add("fresh.txt", "evil");
        zip.save(at(QStringLiteral("a.zip")));

        const ZipResult result = pnvzip::unzipFile(at(QStringLiteral("a.zip")), target);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(outside), QStringList{QStringLiteral("note.txt")});
        QCOMPARE(readFile(outside + QStringLiteral("/note.txt")), QByteArray("keep me"));
        QCOMPARE(readFile(target + QStringLiteral("/out (2)/evil.txt")), QByteArray("evil"));
        QCOMPARE(readFile(target + QStringLiteral("/out (2)/note.txt")), QByteArray("evil"));
        QCOMPARE(readFile(target + QStringLiteral("/note (2).txt")), QByteArray("evil"));
        QCOMPARE(readFile(target + QStringLiteral("/fresh (2).txt")), QByteArray("evil"));
        QVERIFY(QFileInfo(target + QStringLiteral("/out")).isSymLink());
    }

    void unzipRefusesLinkThroughExistingLink()
    {
        const QString outside = at(QStringLiteral("outside"));
        writeFile(outside + QStringLiteral("/secret.txt"), "secret");
        const QString target = at(QStringLiteral("target"));
        QVERIFY(QDir().mkpath(target));
        QVERIFY(QFile::link(outside, target + QStringLiteral("/ext")));
        RawZip zip;
        zip.add("peek", "ext/secret.txt", 0120777); // fine by name, but "ext" leads outside
        zip.save(at(QStringLiteral("a.zip")));
        const ZipResult result = pnvzip::unzipFile(at(QStringLiteral("a.zip")), target);
        QCOMPARE(result.number, int(pnvzip::OutsideFolder));
        QCOMPARE(tree(target), QStringList{QStringLiteral("ext -> ") + outside});
    }

    // ---- UnzipFile: taken names, merged folders -------------------------------------

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
        const QString out = at(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));
        for (const QString &name : existing) {
            if (name.endsWith(QLatin1Char('/')))
                QVERIFY(QDir().mkpath(out + QLatin1Char('/') + name));
            else
                writeFile(out + QLatin1Char('/') + name, "original " + name.toUtf8());
        }
        RawZip zip;
        zip.add(entry, "from the archive");
        zip.save(at(QStringLiteral("a.zip")));
        const ZipResult result = pnvzip::unzipFile(at(QStringLiteral("a.zip")), out);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(readFile(out + QLatin1Char('/') + expected), QByteArray("from the archive"));
        for (const QString &name : existing) {
            if (!name.endsWith(QLatin1Char('/')))
                QCOMPARE(readFile(out + QLatin1Char('/') + name), "original " + name.toUtf8());
        }
        QVERIFY2(result.text.contains(expected + QStringLiteral(" (the name “") + QString::fromUtf8(entry)
                                      + QStringLiteral("” was taken)")),
                 qPrintable(result.text));
    }

    void unzipMergesFoldersAndDuplicates()
    {
        const QString out = at(QStringLiteral("out"));
        writeFile(out + QStringLiteral("/docs/old.txt"), "old");
        RawZip zip;
        zip.add("docs/", QByteArray(), 040755);
        zip.add("docs/new.txt", "new");
        zip.add("docs/", QByteArray(), 040755);
        zip.add("a.txt", "first");
        zip.add("a.txt", "second");
        zip.add("empty/", QByteArray(), 040755);
        zip.save(at(QStringLiteral("a.zip")));
        const ZipResult result = pnvzip::unzipFile(at(QStringLiteral("a.zip")), out);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(out), (QStringList{QStringLiteral("a (2).txt"), QStringLiteral("a.txt"), QStringLiteral("docs/"),
                                         QStringLiteral("docs/new.txt"), QStringLiteral("docs/old.txt"),
                                         QStringLiteral("empty/")}));
        QCOMPARE(readFile(out + QStringLiteral("/docs/old.txt")), QByteArray("old"));
        QCOMPARE(readFile(out + QStringLiteral("/a.txt")), QByteArray("first"));
        QCOMPARE(readFile(out + QStringLiteral("/a (2).txt")), QByteArray("second"));
        QVERIFY2(result.text.contains(QStringLiteral("docs/ (already there; merged)")), qPrintable(result.text));
    }

    // ---- UnzipFile: archives it cannot extract ----------------------------------------

    void unzipNamesUnsupportedMethods_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("name");
        QTest::newRow("Deflate64") << 9 << "Deflate64";
        QTest::newRow("LZMA") << 14 << "LZMA";
        QTest::newRow("XZ") << 95 << "XZ";
        QTest::newRow("Zstandard") << 93 << "Zstandard";
        QTest::newRow("PPMd") << 98 << "PPMd";
    }
    void unzipNamesUnsupportedMethods()
    {
        QFETCH(int, method);
        QFETCH(QString, name);
        const QString source = at(QStringLiteral("setup.txt"));
        writeFile(source, textBytes(20000));
        QVERIFY(pnvzip::zipFile(source, at(QStringLiteral("plain.zip"))).ok());
        QCOMPARE(inspect(at(QStringLiteral("plain.zip"))).method, int(ZIP_CM_DEFLATE));
        writeFile(at(QStringLiteral("odd.zip")), withMethod(readFile(at(QStringLiteral("plain.zip"))), quint16(method)));
        QVERIFY(QDir().mkpath(at(QStringLiteral("out"))));
        const ZipResult result = pnvzip::unzipFile(at(QStringLiteral("odd.zip")), at(QStringLiteral("out")));
        QCOMPARE(result.number, int(pnvzip::UnsupportedMethod));
        QVERIFY2(result.text.contains(QStringLiteral("%1 (method %2)").arg(name).arg(method)), qPrintable(result.text));
        QVERIFY(result.text.contains(QStringLiteral("setup.txt")));
        QCOMPARE(tree(at(QStringLiteral("out"))), QStringList());
    }

    void unzipDamaged_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<QStringList>("kept");
        const QList<int> corrupt{int(pnvzip::NotAnArchive), int(pnvzip::ChecksumMismatch)};
        QTest::newRow("cut in half") << "half" << QList<int>{int(pnvzip::NotAnArchive)} << QStringList();
        QTest::newRow("end record cut") << "tail" << QList<int>{int(pnvzip::NotAnArchive)} << QStringList();
        QTest::newRow("stored byte flipped") << "flip" << QList<int>{int(pnvzip::ChecksumMismatch)} << QStringList{"good.txt"};
        QTest::newRow("CRC recorded wrong") << "crc" << QList<int>{int(pnvzip::ChecksumMismatch)} << QStringList{"good.txt"};
        QTest::newRow("deflate data overwritten") << "deflate" << corrupt << QStringList();
    }
    void unzipDamaged()
    {
        QFETCH(QString, damage);
        QFETCH(QList<int>, numbers);
        QFETCH(QStringList, kept);
        QByteArray archive;
        if (damage == QLatin1String("flip") || damage == QLatin1String("crc")) {
            RawZip zip;
            zip.add("good.txt", "all fine");
            RawZip::Entry bad;
            bad.name = "bad.txt";
            bad.data = textBytes(200000);
            if (damage == QLatin1String("crc"))
                bad.crc = 0x12345678;
            zip.add(bad);
            archive = zip.bytes();
            if (damage == QLatin1String("flip")) {
                const qsizetype at = archive.indexOf(textBytes(64), archive.indexOf("bad.txt") + 7) + 150000;
                archive[at] = char(archive[at] ^ 0x20);
            }
        } else {
            writeFile(at(QStringLiteral("data.txt")), textBytes(400000));
            QVERIFY(pnvzip::zipFile(at(QStringLiteral("data.txt")), at(QStringLiteral("plain.zip"))).ok());
            archive = readFile(at(QStringLiteral("plain.zip")));
            if (damage == QLatin1String("half"))
                archive.truncate(archive.size() / 2);
            else if (damage == QLatin1String("tail"))
                archive.chop(10);
            else
                archive.replace(archive.size() / 2, 64, QByteArray(64, '\xff'));
        }
        writeFile(at(QStringLiteral("damaged.zip")), archive);
        const QString out = at(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));
        const ZipResult result = pnvzip::unzipFile(at(QStringLiteral("damaged.zip")), out);
        QVERIFY2(numbers.contains(result.number), qPrintable(QString::number(result.number) + QLatin1Char(' ') + result.text));
        QCOMPARE(tree(out), kept);
        QCOMPARE(leftovers(out), QStringList());
        QVERIFY2(result.text.contains(kept.isEmpty() ? QStringLiteral("Nothing was extracted")
                                                     : QStringLiteral("extracted before the error was kept")),
                 qPrintable(result.text));
    }

    void unzipRefusesEncryptedEntries()
    {
        RawZip zip;
        zip.add("plain.txt", "fine");
        RawZip::Entry secret;
        secret.name = "secret.txt";
        secret.data = QByteArray(40, 'x'); // the 12-byte header and data, as far as anyone can tell
        secret.flags = 0x0801;
        zip.add(secret);
        zip.save(at(QStringLiteral("locked.zip")));
        QVERIFY(QDir().mkpath(at(QStringLiteral("out"))));
        const ZipResult result = pnvzip::unzipFile(at(QStringLiteral("locked.zip")), at(QStringLiteral("out")));
        QCOMPARE(result.number, int(pnvzip::EncryptedEntry));
        QVERIFY(result.text.contains(QStringLiteral("secret.txt")));
        QCOMPARE(tree(at(QStringLiteral("out"))), QStringList());
    }

    void unzipWriteFailureLeavesNoHalfFile()
    {
        RawZip zip;
        zip.add("small.txt", "small");
        zip.add("big.bin", randomBytes(1 << 20, 3));
        zip.save(at(QStringLiteral("a.zip")));
        const QString out = at(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));
        ZipResult result;
        {
            FileSizeLimit limit(100 * 1024);
            result = pnvzip::unzipFile(at(QStringLiteral("a.zip")), out);
        }
        QCOMPARE(result.number, int(pnvzip::WriteFailed));
        QVERIFY2(result.text.contains(QStringLiteral("big.bin")), qPrintable(result.text));
        QCOMPARE(tree(out), QStringList{QStringLiteral("small.txt")});
        QCOMPARE(readFile(out + QStringLiteral("/small.txt")), QByteArray("small"));
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
        zip.save(at(QStringLiteral("a.zip")));
        const QString out = at(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));
        const ZipResult result = pnvzip::unzipFile(at(QStringLiteral("a.zip")), out);
        QVERIFY2(result.ok(), qPrintable(result.text));
        const int owner = name.endsWith('/') ? 0700 : 0400;
        QCOMPARE(QString::number(permissions(out + QLatin1Char('/') + QString::fromUtf8(name)), 8),
                 QString::number((expected & ~int(currentUmask())) | owner, 8));
    }

    void unzipSummarisesLongLists()
    {
        const QString out = at(QStringLiteral("out"));
        writeFile(out + QStringLiteral("/f005.txt"), "already here");
        RawZip zip;
        for (int i = 0; i < 150; ++i)
            zip.add(QStringLiteral("f%1.txt").arg(i, 3, 10, QLatin1Char('0')).toUtf8(), QByteArray::number(i));
        zip.save(at(QStringLiteral("many.zip")));
        const ZipResult result = pnvzip::unzipFile(at(QStringLiteral("many.zip")), out);
        QVERIFY2(result.ok(), qPrintable(result.text));
        QCOMPARE(tree(out).size(), 151);
        QVERIFY2(result.text.startsWith(QStringLiteral("Extracted 150 files from ")), qPrintable(result.text));
        QVERIFY2(result.text.contains(QStringLiteral("… and 140 more.")), qPrintable(result.text));
        QVERIFY(!result.text.contains(QStringLiteral("f149.txt")));
        QVERIFY2(result.text.contains(QStringLiteral("1 item was saved under a new name")), qPrintable(result.text));
        QVERIFY(result.text.contains(QStringLiteral("f005 (2).txt")));
        QVERIFY(result.text.count(QLatin1Char('\n')) < 20);
    }

    void unzipEmptyArchive()
    {
        RawZip().save(at(QStringLiteral("empty.zip")));
        QVERIFY(QDir().mkpath(at(QStringLiteral("out"))));
        const ZipResult result = pnvzip::unzipFile(at(QStringLiteral("empty.zip")), at(QStringLiteral("out")));
        QVERIFY2(result.ok(), qPrintable(result.text));
        QVERIFY(result.text.contains(QStringLiteral("empty")));
        QCOMPARE(tree(at(QStringLiteral("out"))), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestZipEngine)
#include "tst_zipengine.moc"
