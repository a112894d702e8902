// The built plugin file, loaded the way the program loads it: its metadata, its
// interface, and calls from many threads at once on one instance.

#include "ziptestkit.h"
#include "zipfunctions.h"

#include <QJsonObject>
#include <QPluginLoader>
#include <QtConcurrent>
#include <QtTest>

using namespace Qt::StringLiterals;
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
        QCOMPARE(meta.value(u"IID"_s).toString(), QStringLiteral(ZipFunctions_iid));
        const QJsonObject own = meta.value(u"MetaData"_s).toObject();
        QCOMPARE(own.value(u"ProgId"_s).toString(), QString::fromLatin1(ZipComponentProgId));
        QCOMPARE(own.value(u"Version"_s).toString(), u"1.2"_s);
    }

    void pluginNeedsNoWidgets()
    {
        const RunResult r = run(u"ldd"_s, {m_pluginPath});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.output.contains("libzip"), r.output.constData());
        QVERIFY2(!r.output.contains("Qt6Widgets") && !r.output.contains("Qt6Gui"), r.output.constData());
    }

    void callsGoThroughTheInterface()
    {
        QTemporaryDir dir;
        const QString source = dir.filePath(u"report.doc"_s);
        writeFile(source, textBytes(100000));
        const ZipResult zipped = m_zip->ZipFile(source, source + u".zip"_s);
        QVERIFY2(zipped.ok(), qPrintable(zipped.text));
        QVERIFY(zipped.text.contains(u"report.doc.zip"_s));
        QVERIFY(QDir().mkpath(dir.filePath(u"out"_s)));
        const ZipResult unzipped = m_zip->UnzipFile(source + u".zip"_s, dir.filePath(u"out"_s));
        QVERIFY2(unzipped.ok(), qPrintable(unzipped.text));
        QCOMPARE(readFile(dir.filePath(u"out/report.doc"_s)), textBytes(100000));

        const ZipResult missing = m_zip->ZipFile(dir.filePath(u"nothing"_s), dir.filePath(u"n.zip"_s));
        QCOMPARE(missing.number, 30001);
        QVERIFY(!missing.ok());
        QVERIFY(missing.text.contains(u"does not exist"_s));
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
            writeFile(dir.filePath(u"in%1/file.txt"_s.arg(i)), textBytes(200000 + i));
            QVERIFY(QDir().mkpath(dir.filePath(u"out%1"_s.arg(i))));
        }
        const QList<QString> failures = QtConcurrent::blockingMapped(jobs, [&](int i) -> QString {
            const QString source = dir.filePath(u"in%1/file.txt"_s.arg(i));
            const QString archive = dir.filePath(u"in%1/file.zip"_s.arg(i));
            ZipResult r = m_zip->ZipFile(source, archive);
            if (!r.ok())
                return r.text;
            r = m_zip->UnzipFile(archive, dir.filePath(u"out%1"_s.arg(i)));
            if (!r.ok())
                return r.text;
            if (readFile(dir.filePath(u"out%1/file.txt"_s.arg(i))) != textBytes(200000 + i))
                return u"job %1: wrong content"_s.arg(i);
            return {};
        });
        for (const QString &failure : failures)
            QVERIFY2(failure.isEmpty(), qPrintable(failure));

        const QString shared = dir.filePath(u"shared"_s);
        QVERIFY(QDir().mkpath(shared));
        const QString archive = dir.filePath(u"in0/file.zip"_s);
        const QList<int> results = QtConcurrent::blockingMapped(jobs, [&](int) {
            return m_zip->UnzipFile(archive, shared).number;
        });
        QCOMPARE(results, QList<int>(Jobs, 0));
        QStringList expected{u"file.txt"_s};
        for (int n = 2; n <= Jobs; ++n)
            expected << u"file (%1).txt"_s.arg(n);
        expected.sort();
        QCOMPARE(tree(shared), expected);
        for (const QString &name : expected)
            QCOMPARE(readFile(shared + QChar('/') + name), textBytes(200000));
    }
};

QTEST_GUILESS_MAIN(TestZipPlugin)
#include "tst_zipplugin.moc"
