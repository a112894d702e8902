// The built plugin file, loaded the way the program loads it: its metadata, its
// interface, and calls from many threads at once on one instance.

#include "ziptestkit.h"
#include "zipfunctions.h"

#include <QJsonObject>
#include <QPluginLoader>
#include <QtConcurrent>
#include <QtTest>

using namespace ziptest;

class TestZipPlugin : public QObject
{
    Q_OBJECT

private:
    PrivateEnvironment m_environment;
    QString m_pluginPath = QStringLiteral(PARCELO_BIN_DIR "/pnvzip12.so");
    QPluginLoader m_loader;
    ZipFunctions *m_zip = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(m_pluginPath), qPrintable(m_pluginPath));
        m_loader.setFileName(m_pluginPath);
        QVERIFY2(m_loader.load(), qPrintable(m_loader.errorString()));
        m_zip = qobject_cast<ZipFunctions *>(m_loader.instance());
        QVERIFY(m_zip);
        QThreadPool::globalInstance()->setMaxThreadCount(8); // more threads than cores
    }

    void metadataNamesTheComponent()
    {
        const QJsonObject meta = m_loader.metaData();
        QCOMPARE(meta.value(QStringLiteral("IID")).toString(), QStringLiteral(ZipFunctions_iid));
        const QJsonObject own = meta.value(QStringLiteral("MetaData")).toObject();
        QCOMPARE(own.value(QStringLiteral("ProgId")).toString(), QString::fromLatin1(ZipComponentProgId));
        QCOMPARE(own.value(QStringLiteral("Version")).toString(), QStringLiteral("1.2"));
    }

    void pluginNeedsNoWidgets()
    {
        const RunResult r = run(QStringLiteral("ldd"), {m_pluginPath});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.output.contains("libzip"), r.output.constData());
        QVERIFY2(!r.output.contains("Qt6Widgets") && !r.output.contains("Qt6Gui"), r.output.constData());
    }

    void callsGoThroughTheInterface()
    {
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("report.doc"));
        writeFile(source, textBytes(100000));
        const ZipResult zipped = m_zip->ZipFile(source, source + QStringLiteral(".zip"));
        QVERIFY2(zipped.ok(), qPrintable(zipped.text));
        QVERIFY(zipped.text.contains(QStringLiteral("report.doc.zip")));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("out"))));
        const ZipResult unzipped = m_zip->UnzipFile(source + QStringLiteral(".zip"), dir.filePath(QStringLiteral("out")));
        QVERIFY2(unzipped.ok(), qPrintable(unzipped.text));
        QCOMPARE(readFile(dir.filePath(QStringLiteral("out/report.doc"))), textBytes(100000));

        const ZipResult missing = m_zip->ZipFile(dir.filePath(QStringLiteral("nothing")), dir.filePath(QStringLiteral("n.zip")));
        QCOMPARE(missing.number, 30001);
        QVERIFY(!missing.ok());
        QVERIFY(missing.text.contains(QStringLiteral("does not exist")));
    }

    // One instance, many threads: separate jobs, and several extracting the same archive
    // into the same folder, where each must end up with a complete file of its own.
    void concurrentCalls()
    {
        QTemporaryDir dir;
        constexpr int Jobs = 8;
        QList<int> jobs;
        for (int i = 0; i < Jobs; ++i) {
            jobs << i;
            writeFile(dir.filePath(QStringLiteral("in%1/file.txt").arg(i)), textBytes(200000 + i));
            QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("out%1").arg(i))));
        }
        const QList<QString> failures = QtConcurrent::blockingMapped(jobs, [&](int i) -> QString {
            const QString source = dir.filePath(QStringLiteral("in%1/file.txt").arg(i));
            const QString archive = dir.filePath(QStringLiteral("in%1/file.zip").arg(i));
            ZipResult r = m_zip->ZipFile(source, archive);
            if (!r.ok())
                return r.text;
            r = m_zip->UnzipFile(archive, dir.filePath(QStringLiteral("out%1").arg(i)));
            if (!r.ok())
                return r.text;
            if (readFile(dir.filePath(QStringLiteral("out%1/file.txt").arg(i))) != textBytes(200000 + i))
                return QStringLiteral("job %1: wrong content").arg(i);
            return {};
        });
        for (const QString &failure : failures)
            QVERIFY2(failure.isEmpty(), qPrintable(failure));

        const QString shared = dir.filePath(QStringLiteral("shared"));
        QVERIFY(QDir().mkpath(shared));
        const QString archive = dir.filePath(QStringLiteral("in0/file.zip"));
        const QList<int> results = QtConcurrent::blockingMapped(jobs, [&](int) {
            return m_zip->UnzipFile(archive, shared).number;
        });
        QCOMPARE(results, QList<int>(Jobs, 0));
        QStringList expected{QStringLiteral("file.txt")};
        for (int n = 2; n <= Jobs; ++n)
            expected << QStringLiteral("file (%1).txt").arg(n);
        expected.sort();
        QCOMPARE(tree(shared), expected);
        for (const QString &name : expected)
            QCOMPARE(readFile(shared + QLatin1Char('/') + name), textBytes(200000));
    }
};

QTEST_GUILESS_MAIN(TestZipPlugin)
#include "tst_zipplugin.moc"
