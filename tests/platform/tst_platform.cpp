// The adapters every window stands on: common dialog object, error styles, message boxes,
// the program's facts, and the component registry with its registration helper.

#include "appinfo.h"
#include "commondialog.h"
#include "components.h"
#include "errorstyles.h"
#include "messagebox.h"
#include "programfolder.h"
#include "qtservices.h"
#include "scriptedui.h"
#include "settingsstore.h"
#include "testenv.h"
#include "twips.h"
#include "zip/zipfunctions.h"

#include <QApplication>
#include <QFile>
#include <QInputDialog>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestPlatform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void filtersBecomeQtSyntax_data();
    void filtersBecomeQtSyntax();
    void dialogKeepsPropertiesBetweenUses();
    void dialogCancelRaises32755AndKeepsChoice();
    void dialogCancelWithoutReportingIsSilent();
    void trapAndAskRetriesIgnoresAborts();
    void trapAndAskCancelIsSilent();
    void trapAndReportShowsNumberedBox();
    void trapAndSkipRunsEveryStep();
    void messageBoxDefaultsToProgramTitle();
    void qtInputBoxMasksPasswords_data();
    void qtInputBoxMasksPasswords();
    void programFacts();
    void registrationHelperRecordsPlugin();
    void factoryFindsPluginBesideProgram();
    void factoryRejectsWrongLibraries();

private:
    static QString builtPlugin() { return QStringLiteral(PARCELO_BIN_DIR "/pnvzip12.so"); }
    static QString regcomp() { return QStringLiteral(PARCELO_BIN_DIR "/parcelo-regcomp"); }
};

void TestPlatform::filtersBecomeQtSyntax_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("all files") << "All Files |*.*" << QStringList{"All Files (*)"};
    QTest::newRow("patterns trimmed") << "Text |*.txt; *.rtf; *.doc" << QStringList{"Text (*.txt *.rtf *.doc)"};
    QTest::newRow("two pairs") << "Parcelo Files |*.zip|All Files|*.*"
                               << QStringList{"Parcelo Files (*.zip)", "All Files (*)"};
    QTest::newRow("dangling description ignored") << "Web Pages|*.htm;*.html|Other"
                                                  << QStringList{"Web Pages (*.htm *.html)"};
    QTest::newRow("empty") << "" << QStringList{};
}

void TestPlatform::filtersBecomeQtSyntax()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, expected);
    QCOMPARE(CommonDialog::qtFilters(filter), expected);
}

void TestPlatform::dialogKeepsPropertiesBetweenUses()
{
    ScriptedUi ui;
    CommonDialog dialog;
    dialog.setDialogTitle("Open a page");
    dialog.setFilter("Text |*.txt; *.rtf");
    dialog.setFilterIndex(1);
    dialog.setFlags(CommonDialog::OverwritePrompt);
    dialog.setDefaultExt("txt");
    ui.openAnswers << QString("/tmp/docs/notes.txt") << QString("/tmp/other/more.rtf");
    dialog.ShowOpen();
    QCOMPARE(dialog.fileName(), QString("/tmp/docs/notes.txt"));
    QCOMPARE(dialog.fileTitle(), QString("notes.txt"));

    // The second use sets nothing: title, filter and options are those of the first.
    dialog.ShowOpen();
    QCOMPARE(ui.openRequests.size(), 2);
    const FileDialogRequest &second = ui.openRequests.at(1);
    QCOMPARE(second.title, QString("Open a page"));
    QCOMPARE(second.filters, QStringList{"Text (*.txt *.rtf)"});
    QCOMPARE(second.initialPath, QString("/tmp/docs/notes.txt"));
    QCOMPARE(dialog.fileTitle(), QString("more.rtf"));

    ui.saveAnswers << QString("/tmp/out.rtf") << QString("/tmp/letter");
    dialog.ShowSave();
    QVERIFY(ui.saveRequests.at(0).confirmOverwrite);
    QCOMPARE(ui.saveRequests.at(0).defaultSuffix, QString("txt"));
    QCOMPARE(dialog.fileName(), QString("/tmp/out.rtf"));
    dialog.ShowSave(); // typed without an extension
    QCOMPARE(dialog.fileName(), QString("/tmp/letter.txt"));
}

void TestPlatform::dialogCancelRaises32755AndKeepsChoice()
{
    ScriptedUi ui;
    CommonDialog dialog;
    dialog.setCancelError(true);
    ui.openAnswers << QString("/tmp/a/first.doc") << std::nullopt;
    dialog.ShowOpen();
    try {
        dialog.ShowOpen();
        QFAIL("a cancel must raise an error");
    } catch (const AppError &e) {
        QCOMPARE(e.number(), 32755);
        QVERIFY(e.isCancel());
    }
    QCOMPARE(dialog.fileName(), QString("/tmp/a/first.doc"));
    QCOMPARE(dialog.fileTitle(), QString("first.doc"));

    dialog.setColor(Qt::red);
    dialog.setFlags(CommonDialog::ColorRgbInit);
    ui.colorAnswers << std::nullopt;
    QVERIFY_THROWS_EXCEPTION(AppError, dialog.ShowColor());
    QCOMPARE(dialog.color(), QColor(Qt::red));
    QVERIFY_THROWS_EXCEPTION(AppError, dialog.ShowPrinter());
    QCOMPARE(dialog.printer(), nullptr);
}

void TestPlatform::dialogCancelWithoutReportingIsSilent()
{
    ScriptedUi ui;
    CommonDialog dialog;
    dialog.setFileName("/tmp/kept.txt");
    dialog.ShowOpen(); // nothing queued: the user cancels
    QCOMPARE(dialog.fileName(), QString("/tmp/kept.txt"));

    FontChoice chosen;
    chosen.name = "DejaVu Serif";
    chosen.size = 14;
    chosen.bold = true;
    chosen.color = Qt::blue;
    ui.fontAnswers << chosen;
    dialog.setFlags(CommonDialog::FontScreenFonts | CommonDialog::FontPrinterFonts | CommonDialog::FontEffects);
    dialog.ShowFont();
    QCOMPARE(dialog.fontName(), QString("DejaVu Serif"));
    QCOMPARE(dialog.fontSize(), 14.0);
    QVERIFY(dialog.fontBold());
    QCOMPARE(dialog.color(), QColor(Qt::blue)); // the font dialog's colour with effects on
}

void TestPlatform::trapAndAskRetriesIgnoresAborts()
{
    ScriptedUi ui;
    QStringList ran;
    int attempts = 0;
    auto failingTwice = [&] {
        ran << "flaky";
        if (++attempts < 3)
            throw AppError(53, "File not found");
    };

    // Retry runs the failed step again; the steps after it follow once it succeeds.
    ui.messageAnswers << MsgResult::Retry << MsgResult::Retry;
    QVERIFY(TrapAndAsk(nullptr, {[&] { ran << "first"; }, failingTwice, [&] { ran << "last"; }}));
    QCOMPARE(ran, (QStringList{"first", "flaky", "flaky", "flaky", "last"}));
    QCOMPARE(ui.messages.size(), 2);
    QCOMPARE(ui.messages.at(0).prompt, QString("File not found"));
    QCOMPARE(ui.messages.at(0).title, QString("53"));
    QCOMPARE(ui.messages.at(0).buttons, MsgButtons::AbortRetryIgnore);
    QCOMPARE(ui.messages.at(0).icon, MsgIcon::Critical);

    // Ignore goes on with the next step.
    ran.clear();
    ui.messageAnswers << MsgResult::Ignore;
    QVERIFY(TrapAndAsk(nullptr, {[&] { throw AppError(5, "bad"); }, [&] { ran << "next"; }}));
    QCOMPARE(ran, QStringList{"next"});

    // Abort ends the handler.
    ran.clear();
    ui.messageAnswers << MsgResult::Abort;
    QVERIFY(!TrapAndAsk(nullptr, {[&] { throw AppError(5, "bad"); }, [&] { ran << "next"; }}));
    QVERIFY(ran.isEmpty());

    // A handler can word its own question.
    ui.messages.clear();
    ui.messageAnswers << MsgResult::Abort;
    TrapAndAsk(nullptr, {[] { throw AppError(7, "Out of memory"); }},
               {[](const AppError &e) { return "ERROR: " + e.description(); },
                [](const AppError &) { return QString("Web Browser"); }});
    QCOMPARE(ui.messages.at(0).prompt, QString("ERROR: Out of memory"));
    QCOMPARE(ui.messages.at(0).title, QString("Web Browser"));
}

void TestPlatform::trapAndAskCancelIsSilent()
{
    ScriptedUi ui;
    bool after = false;
    QVERIFY(!TrapAndAsk(nullptr, {[] { throw AppError::cancelled(); }, [&] { after = true; }}));
    QVERIFY(!after);
    QVERIFY(ui.messages.isEmpty());
}

void TestPlatform::trapAndReportShowsNumberedBox()
{
    ScriptedUi ui;
    bool after = false;
    QVERIFY(!TrapAndReport(nullptr, {[] { throw AppError(30004, "Not a zip archive"); }, [&] { after = true; }}));
    QVERIFY(!after);
    QCOMPARE(ui.messages.size(), 1);
    QCOMPARE(ui.messages.at(0).title, QString("Error: 30004"));
    QCOMPARE(ui.messages.at(0).prompt, QString("Not a zip archive"));
    QCOMPARE(ui.messages.at(0).icon, MsgIcon::Critical);
    QCOMPARE(ui.messages.at(0).buttons, MsgButtons::OK);

    // Failures that are not AppErrors are reported too, never lost.
    ui.messages.clear();
    TrapAndReport(nullptr, {[] { throw std::runtime_error("disk on fire"); }});
    QCOMPARE(ui.messages.at(0).title, QString("Error: 51"));
    QCOMPARE(ui.messages.at(0).prompt, QString("disk on fire"));
}

void TestPlatform::trapAndSkipRunsEveryStep()
{
    QStringList ran;
    const int failed = TrapAndSkip({[&] { ran << "a"; }, [] { throw AppError(1, "x"); }, [&] { ran << "c"; }});
    QCOMPARE(failed, 1);
    QCOMPARE(ran, (QStringList{"a", "c"}));
}

void TestPlatform::messageBoxDefaultsToProgramTitle()
{
    ScriptedUi ui;
    ui.messageAnswers << MsgResult::No;
    QCOMPARE(MsgBox("Save changes?", MsgButtons::YesNoCancel, MsgIcon::Question), MsgResult::No);
    QCOMPARE(ui.messages.at(0).title, QString("Parcelo"));
    MsgBox("Done", MsgButtons::OK, MsgIcon::Information, "Custom");
    QCOMPARE(ui.messages.at(1).title, QString("Custom"));

    ui.inputAnswers << QString("needle") << std::nullopt;
    QCOMPARE(InputBox("Find what?", {}, "hay"), QString("needle"));
    QCOMPARE(ui.inputs.at(0).title, QString("Parcelo"));
    QCOMPARE(ui.inputs.at(0).defaultText, QString("hay"));
    QCOMPARE(InputBox("Find what?"), QString()); // cancel gives empty text
}

void TestPlatform::qtInputBoxMasksPasswords_data()
{
    QTest::addColumn<bool>("masked");
    QTest::newRow("plain text") << false;
    QTest::newRow("password") << true;
}

void TestPlatform::qtInputBoxMasksPasswords()
{
    QFETCH(bool, masked);
    QtMessageBoxes boxes;
    QLineEdit::EchoMode shown = QLineEdit::NoEcho;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
        QVERIFY(box);
        shown = box->textEchoMode();
        box->setTextValue("typed");
        box->accept();
    });
    const std::optional<QString> typed = boxes.askText({nullptr, "Password:", "Parcelo", {}, masked});
    QCOMPARE(shown, masked ? QLineEdit::Password : QLineEdit::Normal);
    QCOMPARE(typed, std::optional<QString>("typed"));
}

void TestPlatform::programFacts()
{
    QCOMPARE(AppInfo::versionText(), QString("1.0.20"));
    QCOMPARE(AppInfo::title(), QString("Parcelo"));
    qputenv("PARCELO_PUBLISHER_URL", "http://127.0.0.1:8080/");
    QCOMPARE(AppInfo::publisherUrl(), QString("http://127.0.0.1:8080"));
    qunsetenv("PARCELO_PUBLISHER_URL");
    QCOMPARE(AppInfo::publisherUrl(), QString("https://www.orvanne.com"));

    QCOMPARE(Twips::toPixels(7305), 487);
    QCOMPARE(Twips::toPixels(112), 7);
    QCOMPARE(Twips::rect(240, 1200, 4095, 375), QRect(16, 80, 273, 25));
}

void TestPlatform::registrationHelperRecordsPlugin()
{
    QVERIFY2(QFile::exists(builtPlugin()), "the zip component must be built");
    const QString id = QString::fromLatin1(ZipComponentProgId);
    SettingsStore::DeleteSetting("Orvanne", "Components", id);

    QProcess helper;
    helper.start(regcomp(), {"-s", builtPlugin()});
    QVERIFY(helper.waitForFinished(30000));
    QCOMPARE(helper.exitCode(), 0);
    QCOMPARE(helper.readAll(), QByteArray()); // silent
    QCOMPARE(ComponentRegistry::libraryFor(id), builtPlugin());

    // The registry alone is enough: the program's folder holds nothing.
    QTemporaryDir emptyFolder;
    ProgramFolder::setOverride(emptyFolder.path());
    PluginComponentFactory factory;
    QObject *object = factory.createObject(id);
    QVERIFY(qobject_cast<ZipFunctions *>(object));
    QCOMPARE(factory.createObject("Pnvzip.Nothing"), nullptr);

    helper.start(regcomp(), {"-u", "-s", builtPlugin()});
    QVERIFY(helper.waitForFinished(30000));
    QCOMPARE(helper.exitCode(), 0);
    QCOMPARE(ComponentRegistry::libraryFor(id), QString());

    // A file that is not a component is refused with a message and a failure status.
    QTemporaryDir dir;
    QFile bogus(dir.filePath("bogus.so"));
    QVERIFY(bogus.open(QIODevice::WriteOnly));
    bogus.write("not a library");
    bogus.close();
    helper.start(regcomp(), {bogus.fileName()});
    QVERIFY(helper.waitForFinished(30000));
    QCOMPARE(helper.exitCode(), 1);
    QVERIFY(helper.readAllStandardError().contains("not a component library"));
    ProgramFolder::setOverride({});
}

void TestPlatform::factoryFindsPluginBesideProgram()
{
    const QString id = QString::fromLatin1(ZipComponentProgId);
    SettingsStore::DeleteSetting("Orvanne", "Components", id);
    QTemporaryDir folder;
    QVERIFY(QFile::copy(builtPlugin(), folder.filePath("pnvzip12.so")));
    ProgramFolder::setOverride(folder.path());
    PluginComponentFactory factory;
    QVERIFY(qobject_cast<ZipFunctions *>(factory.createObject(id)));

    // A stale registry entry does not hide the plugin beside the program.
    SettingsStore::SaveSetting("Orvanne", "Components", id, "/nonexistent/pnvzip12.so");
    QVERIFY(qobject_cast<ZipFunctions *>(factory.createObject(id)));
    SettingsStore::DeleteSetting("Orvanne", "Components", id);
    ProgramFolder::setOverride({});
}

void TestPlatform::factoryRejectsWrongLibraries()
{
    const QString id = QString::fromLatin1(ZipComponentProgId);
    QTemporaryDir folder;
    // A library that is not ours, and a broken one, sit beside the program.
    QFile garbage(folder.filePath("broken.so"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(4096, '\x7f'));
    garbage.close();
    QVERIFY(QFile::copy("/lib/x86_64-linux-gnu/libz.so.1", folder.filePath("libz.so")));
    ProgramFolder::setOverride(folder.path());
    SettingsStore::SaveSetting("Orvanne", "Components", id, folder.filePath("libz.so"));
    PluginComponentFactory factory;
    QCOMPARE(factory.createObject(id), nullptr);
    SettingsStore::DeleteSetting("Orvanne", "Components", id);
    ProgramFolder::setOverride({});
}

PARCELO_TEST_MAIN(TestPlatform)
#include "tst_platform.moc"
