// The command line read without any window: every form, the file and folder checks, and the
// lines that must be refused before a window opens.

#include "commandline.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

using Action = CommandLine::Action;
Q_DECLARE_METATYPE(CommandLine::Action)

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void parses_data();
    void parses();

private:
    QTemporaryDir m_dir;
    QString m_startFolder;
};

void TestCommandLine::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QDir dir(m_dir.path());
    QVERIFY(dir.mkdir("sub"));
    for (const char *name : {"report.txt", "-dash.txt", "name with spaces \u00e9\u00e8 \u6587.txt", "a.zip"}) {
        QFile file(dir.filePath(QString::fromUtf8(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
    }
    // Relative names are taken from the folder the program was started in.
    m_startFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir.path()));
}

void TestCommandLine::cleanupTestCase()
{
    QDir::setCurrent(m_startFolder);
}

void TestCommandLine::parses_data()
{
    // In paths "@" stands for the folder the test runs in.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("problem"); // a part of the problem, or of the text when invalid
    const QString odd = QString::fromUtf8("name with spaces \u00e9\u00e8 \u6587.txt");

    QTest::newRow("nothing: the splash") << QStringList{} << Action::Start << "" << "" << "";
    QTest::newRow("a file: the window with it") << QStringList{"report.txt"} << Action::Start << "@/report.txt" << "" << "";
    QTest::newRow("absolute, untidy") << QStringList{"@/sub/../report.txt"} << Action::Start << "@/report.txt" << "" << "";
    QTest::newRow("spaces and non-ASCII") << QStringList{odd} << Action::Start << "@/" + odd << "" << "";
    QTest::newRow("file address")
        << QStringList{QUrl::fromLocalFile(m_dir.filePath(odd)).toString(QUrl::FullyEncoded)} << Action::Start
        << "@/" + odd << "" << "";
    QTest::newRow("zip") << QStringList{"--zip", "report.txt"} << Action::Zip << "@/report.txt" << "" << "";
    QTest::newRow("option after the file") << QStringList{"report.txt", "--zip"} << Action::Zip << "@/report.txt" << "" << "";
    QTest::newRow("zip without a file") << QStringList{"--zip"} << Action::Zip << "" << "" << "";
    QTest::newRow("unzip into a folder, made later")
        << QStringList{"--unzip", "a.zip", "--to", "new/"} << Action::Unzip << "@/a.zip" << "@/new" << "";
    QTest::newRow("--to=FOLDER") << QStringList{"--zip", "--to=/", "a.zip"} << Action::Zip << "@/a.zip" << "/" << "";
    QTest::newRow("zip, replacing") << QStringList{"--replace", "--zip", "report.txt"} << Action::Zip << "@/report.txt" << "" << "";
    QTest::newRow("zip and mail, replacing") << QStringList{"--zip-and-mail", "report.txt", "--replace"} << Action::ZipAndMail
                                             << "@/report.txt" << "" << "";
    QTest::newRow("zip and mail") << QStringList{"--zip-and-mail", odd} << Action::ZipAndMail << "@/" + odd << "" << "";
    QTest::newRow("-- before a name with a dash")
        << QStringList{"--zip", "--", "-dash.txt"} << Action::Zip << "@/-dash.txt" << "" << "";
    QTest::newRow("windowing options are left to the toolkit")
        << QStringList{"-style", "fusion", "report.txt", "-reverse"} << Action::Start << "@/report.txt" << "" << "";

    // Named, but not usable: the window says why.
    QTest::newRow("missing file") << QStringList{"--zip", "gone.txt"} << Action::Zip << "@/gone.txt" << ""
                                  << "\u201c@/gone.txt\u201d: there is no such file";
    QTest::newRow("missing file alone") << QStringList{"gone.txt"} << Action::Start << "@/gone.txt" << ""
                                        << "no such file";
    // A folder or several paths are items of one archive ("|" between them in the file column).
    QTest::newRow("a folder") << QStringList{"sub"} << Action::Start << "@/sub|" << "" << "";
    QTest::newRow("zip a folder") << QStringList{"--zip", "sub/"} << Action::Zip << "@/sub|" << "" << "";
    QTest::newRow("zip and mail two files")
        << QStringList{"--zip-and-mail", "report.txt", "sub", "--replace"} << Action::ZipAndMail << "@/report.txt|@/sub" << "" << "";
    QTest::newRow("several, one missing") << QStringList{"--zip", "report.txt", "gone.txt"} << Action::Zip
                                          << "@/report.txt|@/gone.txt" << "" << "Cannot open “@/gone.txt”: there is no such file or folder";
    QTest::newRow("unzip a folder") << QStringList{"--unzip", "sub"} << Action::Unzip << "@/sub" << "" << "it is a folder";
    QTest::newRow("--to is a file") << QStringList{"--zip", "report.txt", "--to", "a.zip"} << Action::Zip
                                    << "@/report.txt" << "@/a.zip" << "\u201c@/a.zip\u201d: it is a file, not a folder";

    // Refused before any window: one line, status 2.
    const Action invalid = Action::Invalid;
    QTest::newRow("unknown option") << QStringList{"--frobnicate", "report.txt"} << invalid << "" << "" << "Unknown option 'frobnicate'";
    QTest::newRow("a dash name without --") << QStringList{"--zip", "-dash.txt"} << invalid << "" << "" << "Unknown option";
    QTest::newRow("--to without its folder") << QStringList{"--zip", "report.txt", "--to"} << invalid << "" << "" << "Missing value after '--to'";
    QTest::newRow("--to with an empty folder") << QStringList{"--zip", "report.txt", "--to", ""} << invalid << "" << "" << "--to needs a folder";
    QTest::newRow("two commands") << QStringList{"--zip", "--unzip", "a.zip"} << invalid << "" << "" << "cannot be combined";
    QTest::newRow("unzip two archives") << QStringList{"--unzip", "a.zip", "a.zip"} << invalid << "" << "" << "one archive at a time";
    QTest::newRow("--to without a command") << QStringList{"report.txt", "--to", "sub"} << invalid << "" << "" << "--to goes with";
    QTest::newRow("--to with zip and mail") << QStringList{"--zip-and-mail", "report.txt", "--to", "sub"} << invalid << "" << "" << "--to goes with";
    QTest::newRow("--replace with unzip") << QStringList{"--unzip", "a.zip", "--replace"} << invalid << "" << "" << "--replace goes with";
    QTest::newRow("--replace alone") << QStringList{"--replace", "report.txt"} << invalid << "" << "" << "--replace goes with";
    QTest::newRow("empty file name") << QStringList{""} << invalid << "" << "" << "empty";

    QTest::newRow("help") << QStringList{"--help"} << Action::Help << "" << "" << "Usage: parcelo [options] [FILE...]";
    QTest::newRow("-h beside a command") << QStringList{"--zip", "-h"} << Action::Help << "" << "" << "--zip-and-mail";
    QTest::newRow("version") << QStringList{"--version"} << Action::Version << "" << "" << "Parcelo 1.0.20";
    QTest::newRow("-v") << QStringList{"-v", "gone.txt"} << Action::Version << "" << "" << "Parcelo 1.0.20";
}

void TestCommandLine::parses()
{
    QFETCH(QStringList, arguments);
    QFETCH(Action, action);
    QFETCH(QString, file);
    QFETCH(QString, folder);
    QFETCH(QString, problem);
    const auto here = [this](QString text) { return text.replace(QLatin1Char('@'), m_dir.path()); };
    for (QString &argument : arguments)
        argument = here(argument);

    const CommandLine line = CommandLine::parse(QStringList{"/usr/bin/parcelo"} + arguments);
    QCOMPARE(line.action, action);
    const QStringList items = here(file).split('|', Qt::SkipEmptyParts);
    QCOMPARE(line.file, items.value(0));
    QCOMPARE(line.items, file.contains('|') ? items : QStringList());
    QCOMPARE(line.folder, here(folder));
    QCOMPARE(line.replace, action != Action::Invalid && arguments.contains("--replace"));
    switch (action) {
    case Action::Invalid:
        QVERIFY2(line.text.contains(problem), qPrintable(line.text));
        QVERIFY2(!line.text.contains('\n') && line.text.endsWith("See \"parcelo --help\"."), qPrintable(line.text));
        break;
    case Action::Version:
        QCOMPARE(line.text, problem);
        break;
    case Action::Help:
        QVERIFY2(line.text.contains(problem), qPrintable(line.text));
        for (const char *option : {"--zip ", "--unzip", "--to <FOLDER>", "--replace", "--version"})
            QVERIFY2(line.text.contains(option), option);
        QVERIFY(!line.text.contains("platform")); // the toolkit's options stay out of the help
        break;
    default:
        if (problem.isEmpty())
            QCOMPARE(line.problem, QString());
        else
            QVERIFY2(line.problem.contains(here(problem)), qPrintable(line.problem));
        QVERIFY(line.text.isEmpty());
    }
}

QTEST_APPLESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
