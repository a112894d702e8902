// The main window driven through its widgets: path box rule, Browse, the zip and unzip
// commands with their naming rules, captions and messages, settings, the missing component.

#include "fakezip.h"
#include "frmAbout.h"
#include "frmEditor.h"
#include "frmMail.h"
#include "frmZip.h"
#include "programfolder.h"
#include "scriptedui.h"
#include "settingsstore.h"
#include "testenv.h"
#include "trayicon.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTreeWidget>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void startState();
    void pathBoxEnablesOneCommand_data();
    void pathBoxEnablesOneCommand();
    void browseSetsFolderAndDoubleClickBrowses();
    void browseCancelKeepsShownFile();
    void zipInSameFolder();
    void zipAndUnzipInPickedFolder_data();
    void zipAndUnzipInPickedFolder();
    void folderPickerCancelEndsCommand();
    void unzipInSameFolderOpensIt();
    void componentErrorShowsNumberedBox();
    void missingComponentIsReportedByCommands();
    void registrationRetryCreatesComponent();
    void checkBoxesAreStoredAtOnceAndRestored();
    void oddStoredValuesKeepDefaults();
    void longCallKeepsWindowPaintingAndTakesNoCommands();
    void realComponentMakesValidArchive();

    void menusAndShortcuts();
    void openChoosesCommandByName_data();
    void openChoosesCommandByName();
    void menusLeavePathBoxAlone();
    void menuCancelResetsDialogFile();
    void cancelAfterMenuActsOnShownFileAndFolder_data();
    void cancelAfterMenuActsOnShownFileAndFolder();
    void zipAndMailHandsOverEachNewArchive();
    void zipAndMailSkipsWhenNothingWasMade();
    void companionWindowsAreReused();
    void rightPressPopsFileMenuOnlyOnSurface_data();
    void rightPressPopsFileMenuOnlyOnSurface();
    void minimizeToTrayWithoutTrayMinimizes();
    void trayActivation_data();
    void trayActivation();

private:
    frmZip *window();
    void choose(const QString &path);
    template<typename T> T *child(const char *name) { return window()->findChild<T *>(QLatin1String(name)); }

    std::unique_ptr<ScriptedUi> ui;
    std::unique_ptr<ScriptedComponents> components;
    std::unique_ptr<QTemporaryDir> m_programFolder;
    FakeZip zip;
    QAction *menuAction(const char *name) { return window()->findChild<QAction *>(QLatin1String(name)); }
    int aboutBoxes() const
    {
        int count = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            count += qobject_cast<frmAbout *>(w) && w->isVisible();
        return count;
    }
};

void TestMainWindow::init()
{
    m_programFolder = std::make_unique<QTemporaryDir>();
    ProgramFolder::setOverride(m_programFolder->path()); // the mail and editor settings go here
    ui = std::make_unique<ScriptedUi>();
    components = std::make_unique<ScriptedComponents>();
    components->objects.insert("Pnvzip.ZipFunctions", &zip);
    zip.calls.clear();
    zip.answer = {0, "Archive made"};
    SettingsStore::DeleteSetting("Orvanne", "Parcelo", "same-directory");
    SettingsStore::DeleteSetting("Orvanne", "Parcelo", "open-file");
}

void TestMainWindow::cleanup()
{
    delete frmZip::existing();
    delete frmMail::existing();
    QList<QPointer<QWidget>> others;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<frmEditor *>(w) || qobject_cast<frmAbout *>(w))
            others << w;
    }
    qDeleteAll(others);
    ProgramFolder::setOverride({});
    QVERIFY(!frmZip::existing());
    components.reset();
    ui.reset();
}

frmZip *TestMainWindow::window()
{
    frmZip *w = frmZip::instance();
    if (!w->isVisible())
        w->show();
    return w;
}

void TestMainWindow::choose(const QString &path)
{
    ui->openAnswers << path;
    QTest::mouseClick(child<QPushButton>("cmdBrowse"), Qt::LeftButton);
}

void TestMainWindow::startState()
{
    frmZip *w = window();
    QCOMPARE(w->windowTitle(), QString::fromUtf8("Parcelo\u2122    https://www.orvanne.com"));
    auto *path = child<QLineEdit>("txtZip");
    QVERIFY(path->isReadOnly());
    QVERIFY(path->text().isEmpty());
    QVERIFY(child<QPushButton>("cmdBrowse")->isEnabled());
    QVERIFY(!child<QPushButton>("cmdZipp")->isEnabled());
    QVERIFY(!child<QPushButton>("cmdUnzipp")->isEnabled());
    QCOMPARE(child<QCheckBox>("chkDir")->checkState(), Qt::Checked);
    QCOMPARE(child<QCheckBox>("chkOpen")->checkState(), Qt::Unchecked);
    QCOMPARE(child<QPushButton>("cmdZipp")->text(), QString("&Zip it!"));
    QCOMPARE(child<QPushButton>("cmdUnzipp")->toolTip(), QString("Unzip the selected file"));
    QVERIFY(child<QPushButton>("cmdZipp")->font().bold());
    QVERIFY(!child<QCheckBox>("chkDir")->font().bold());

    // Tab order: Browse, Zip, Unzip, the two boxes, then the path box.
    QStringList order;
    QWidget *at = child<QPushButton>("cmdBrowse");
    for (int i = 0; i < 6; ++i) {
        order << at->objectName();
        at = at->nextInFocusChain();
        while (at->focusPolicy() == Qt::NoFocus)
            at = at->nextInFocusChain();
    }
    QCOMPARE(order, (QStringList{"cmdBrowse", "cmdZipp", "cmdUnzipp", "chkDir", "chkOpen", "txtZip"}));
    QVERIFY(ui->messages.isEmpty());
}

void TestMainWindow::pathBoxEnablesOneCommand_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("zipEnabled");
    QTest::addColumn<bool>("unzipEnabled");
    QTest::newRow("ordinary file") << "/home/ann/report.doc" << true << false;
    QTest::newRow("upper-case archive") << "/home/ann/a.ZIP" << false << true;
    QTest::newRow(".zip anywhere") << "/home/ann/backup.zip.txt" << false << true;
    QTest::newRow("zip without dot") << "/home/ann/zipcodes.csv" << true << false;
    QTest::newRow("folder named .zip") << "/data/x.zipped/plain.txt" << false << true;
}

void TestMainWindow::pathBoxEnablesOneCommand()
{
    QFETCH(QString, path);
    QFETCH(bool, zipEnabled);
    QFETCH(bool, unzipEnabled);
    choose(path);
    QCOMPARE(child<QLineEdit>("txtZip")->text(), path);
    QCOMPARE(child<QPushButton>("cmdZipp")->isEnabled(), zipEnabled);
    QCOMPARE(child<QPushButton>("cmdUnzipp")->isEnabled(), unzipEnabled);
}

void TestMainWindow::browseSetsFolderAndDoubleClickBrowses()
{
    // The folder is the path with the file's own name cut from its end, even where the
    // folder's name contains the file's name.
    choose("/tmp/Docs/Doc/Doc");
    QCOMPARE(window()->fileDir(), QString("/tmp/Docs/Doc/"));
    QCOMPARE(ui->openRequests.at(0).title, QString("Select a file to zip/unzip"));
    QCOMPARE(ui->openRequests.at(0).filters, QStringList{"All Files (*)"});
    QCOMPARE(ui->openRequests.at(0).initialPath, QDir::homePath());

    ui->openAnswers << QString("/srv/Doc");
    QTest::mouseDClick(child<QLineEdit>("txtZip"), Qt::LeftButton);
    QCOMPARE(ui->openRequests.size(), 2);
    QCOMPARE(ui->openRequests.at(1).initialPath, QString("/tmp/Docs/Doc")); // where the user was
    QCOMPARE(window()->fileDir(), QString("/srv/"));
    QCOMPARE(child<QLineEdit>("txtZip")->text(), QString("/srv/Doc"));
}

void TestMainWindow::browseCancelKeepsShownFile()
{
    choose("/tmp/a/report.doc");
    // A cancel: the commands keep acting on the file the box shows; nothing else changes.
    ui->openAnswers << std::nullopt;
    QTest::mouseClick(child<QPushButton>("cmdBrowse"), Qt::LeftButton);
    QCOMPARE(window()->openDialog().fileName(), QString("/tmp/a/report.doc"));
    QCOMPARE(window()->fileDir(), QString("/tmp/a/"));
    QVERIFY(child<QPushButton>("cmdZipp")->isEnabled());
    QVERIFY(ui->messages.isEmpty());

    QTest::mouseClick(child<QPushButton>("cmdZipp"), Qt::LeftButton);
    QCOMPARE(zip.calls.at(0).first, QString("/tmp/a/report.doc"));
}

void TestMainWindow::zipInSameFolder()
{
    choose("/home/ann/docs/report.doc");
    zip.answer = {0, "Created /home/ann/docs/report.doc.zip"};
    QTest::mouseClick(child<QPushButton>("cmdZipp"), Qt::LeftButton);

    QCOMPARE(zip.calls.size(), 1);
    QCOMPARE(zip.calls.at(0).method, QString("ZipFile"));
    QCOMPARE(zip.calls.at(0).first, QString("/home/ann/docs/report.doc"));
    QCOMPARE(zip.calls.at(0).second, QString("/home/ann/docs/report.doc.zip"));
    QCOMPARE(zip.calls.at(0).captionDuringCall, QString("Compressing! Please wait..."));
    QCOMPARE(window()->windowTitle(), frmZip::normalCaption());
    QCOMPARE(window()->zipPath(), QString("/home/ann/docs/report.doc.zip"));
    QCOMPARE(window()->zipName(), QString("report.doc.zip"));
    QVERIFY(window()->lastZipMadeArchive());

    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).prompt, QString("Created /home/ann/docs/report.doc.zip"));
    QCOMPARE(ui->messages.at(0).title, QString("Parcelo"));
    QCOMPARE(ui->messages.at(0).icon, MsgIcon::Information);
    QVERIFY(ui->shellOpened.isEmpty()); // "open the directory" is off
    QVERIFY(ui->folderPrompts.isEmpty());
}

void TestMainWindow::zipAndUnzipInPickedFolder_data()
{
    QTest::addColumn<QString>("picked");
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QString>("unzipFolder");
    QTest::newRow("ordinary folder") << "/out" << "/out/report.doc.zip" << "/out";
    QTest::newRow("trailing separator dropped") << "/out/" << "/out/report.doc.zip" << "/out";
    // The root keeps its separator, so the archive path has it twice; it is not tidied up.
    QTest::newRow("root") << "/" << "//report.doc.zip" << "/";
}

void TestMainWindow::zipAndUnzipInPickedFolder()
{
    QFETCH(QString, picked);
    QFETCH(QString, archive);
    QFETCH(QString, unzipFolder);
    QTest::mouseClick(child<QCheckBox>("chkDir"), Qt::LeftButton);
    QCOMPARE(child<QCheckBox>("chkDir")->checkState(), Qt::Unchecked);
    QTest::mouseClick(child<QCheckBox>("chkOpen"), Qt::LeftButton);

    choose("/home/ann/docs/report.doc");
    ui->folderAnswers << picked;
    QTest::mouseClick(child<QPushButton>("cmdZipp"), Qt::LeftButton);
    QCOMPARE(ui->folderPrompts, QStringList{"Select a location to save your zipped file"});
    QCOMPARE(zip.calls.at(0).second, archive);
    QCOMPARE(ui->shellOpened, QStringList{unzipFolder});

    choose("/home/ann/docs/a.zip");
    ui->folderAnswers << picked;
    QTest::mouseClick(child<QPushButton>("cmdUnzipp"), Qt::LeftButton);
    QCOMPARE(ui->folderPrompts.last(), QString("Select a location to save your unzipped file"));
    QCOMPARE(zip.calls.at(1).method, QString("UnzipFile"));
    QCOMPARE(zip.calls.at(1).first, QString("/home/ann/docs/a.zip"));
    QCOMPARE(zip.calls.at(1).second, unzipFolder);
    QCOMPARE(zip.calls.at(1).captionDuringCall, QString("Uncompressing! Please wait..."));
    QCOMPARE(window()->zipPath(), archive); // unzipping leaves the last archive's names alone
}

void TestMainWindow::folderPickerCancelEndsCommand()
{
    QTest::mouseClick(child<QCheckBox>("chkDir"), Qt::LeftButton);
    choose("/home/ann/docs/report.doc");
    ui->folderAnswers << QString();
    QTest::mouseClick(child<QPushButton>("cmdZipp"), Qt::LeftButton);
    choose("/home/ann/docs/a.zip");
    ui->folderAnswers << QString();
    QTest::mouseClick(child<QPushButton>("cmdUnzipp"), Qt::LeftButton);

    QVERIFY(zip.calls.isEmpty());
    QVERIFY(ui->messages.isEmpty());
    QVERIFY(ui->shellOpened.isEmpty());
    QVERIFY(!window()->lastZipMadeArchive());
    QVERIFY(window()->zipPath().isEmpty());
    QCOMPARE(window()->windowTitle(), frmZip::normalCaption());
}

void TestMainWindow::unzipInSameFolderOpensIt()
{
    QTest::mouseClick(child<QCheckBox>("chkOpen"), Qt::LeftButton);
    choose("/home/ann/a.zip");
    zip.answer = {0, "Extracted 3 files"};
    QTest::mouseClick(child<QPushButton>("cmdUnzipp"), Qt::LeftButton);
    QCOMPARE(zip.calls.at(0).second, QString("/home/ann/"));
    QCOMPARE(ui->messages.at(0).prompt, QString("Extracted 3 files"));
    QCOMPARE(ui->shellOpened, QStringList{"/home/ann/"});
    QCOMPARE(window()->windowTitle(), frmZip::normalCaption());
}

void TestMainWindow::componentErrorShowsNumberedBox()
{
    QTest::mouseClick(child<QCheckBox>("chkOpen"), Qt::LeftButton);
    choose("/home/ann/report.doc");
    zip.answer = {30001, "Cannot read /home/ann/report.doc"};
    QTest::mouseClick(child<QPushButton>("cmdZipp"), Qt::LeftButton);
    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).title, QString("Error: 30001"));
    QCOMPARE(ui->messages.at(0).prompt, QString("Cannot read /home/ann/report.doc"));
    QCOMPARE(ui->messages.at(0).icon, MsgIcon::Critical);
    QVERIFY(ui->shellOpened.isEmpty());
    QCOMPARE(window()->windowTitle(), frmZip::normalCaption());
    // The names of the attempted archive are kept, but no archive was made.
    QCOMPARE(window()->zipPath(), QString("/home/ann/report.doc.zip"));
    QVERIFY(!window()->lastZipMadeArchive());
}

void TestMainWindow::missingComponentIsReportedByCommands()
{
    components->objects.clear();
    frmZip *w = window();
    QVERIFY(!w->hasZipComponent());
    QVERIFY(ui->messages.isEmpty()); // nothing at start
    QCOMPARE(components->requested.size(), 2); // one attempt, registration, one retry
    QCOMPARE(ui->launches.size(), 1);
    QCOMPARE(ui->launches.at(0).style, LaunchStyle::Hidden);
    const QStringList command = QProcess::splitCommand(ui->launches.at(0).commandLine);
    QCOMPARE(command.value(0), QDir(ProgramFolder::path()).filePath("parcelo-regcomp"));
    QCOMPARE(command.mid(1), (QStringList{"-s", QDir(ProgramFolder::path()).filePath("pnvzip12.so")}));

    choose("/home/ann/report.doc");
    QTest::mouseClick(child<QPushButton>("cmdZipp"), Qt::LeftButton);
    choose("/home/ann/a.zip");
    QTest::mouseClick(child<QPushButton>("cmdUnzipp"), Qt::LeftButton);
    QCOMPARE(ui->messages.size(), 2);
    for (const MessageRequest &m : std::as_const(ui->messages)) {
        QCOMPARE(m.title, QString("Missing component"));
        QCOMPARE(m.prompt, QString("A required component[2] is missing. Zip/unzip functionality disabled!"));
        QCOMPARE(m.icon, MsgIcon::Exclamation);
    }
    QCOMPARE(w->windowTitle(), frmZip::normalCaption());
    QVERIFY(!w->lastZipMadeArchive());
}

void TestMainWindow::registrationRetryCreatesComponent()
{
    // The registration finishes in time for the immediate retry.
    components->objects.clear();
    ui->onLaunch = [this](const QString &) { components->objects.insert("Pnvzip.ZipFunctions", &zip); };
    QVERIFY(window()->hasZipComponent());
    choose("/home/ann/report.doc");
    QTest::mouseClick(child<QPushButton>("cmdZipp"), Qt::LeftButton);
    QCOMPARE(zip.calls.size(), 1);
}

void TestMainWindow::checkBoxesAreStoredAtOnceAndRestored()
{
    QTest::mouseClick(child<QCheckBox>("chkDir"), Qt::LeftButton);
    QCOMPARE(SettingsStore::GetSetting("Orvanne", "Parcelo", "same-directory"), QString("0"));
    QTest::mouseClick(child<QCheckBox>("chkOpen"), Qt::LeftButton);
    QCOMPARE(SettingsStore::GetSetting("Orvanne", "Parcelo", "open-file"), QString("1"));

    delete frmZip::existing();
    QCOMPARE(child<QCheckBox>("chkDir")->checkState(), Qt::Unchecked);
    QCOMPARE(child<QCheckBox>("chkOpen")->checkState(), Qt::Checked);

    // The keyboard toggles the boxes too, and that is stored as well.
    child<QCheckBox>("chkOpen")->setFocus();
    QTest::keyClick(child<QCheckBox>("chkOpen"), Qt::Key_Space);
    QCOMPARE(SettingsStore::GetSetting("Orvanne", "Parcelo", "open-file"), QString("0"));
}

void TestMainWindow::oddStoredValuesKeepDefaults()
{
    SettingsStore::SaveSetting("Orvanne", "Parcelo", "same-directory", "yes");
    SettingsStore::SaveSetting("Orvanne", "Parcelo", "open-file", "7");
    QCOMPARE(child<QCheckBox>("chkDir")->checkState(), Qt::Checked);
    QCOMPARE(child<QCheckBox>("chkOpen")->checkState(), Qt::Unchecked);
}

void TestMainWindow::longCallKeepsWindowPaintingAndTakesNoCommands()
{
    choose("/home/ann/big.iso");
    zip.delayMs = 1500;
    frmZip *w = window();

    // While the component works: a timer on the window's thread still fires (the window can
    // paint), while clicks, keys and a request to close the window change nothing.
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
    ticker.start(50);
    bool closeRefused = false;
    QTimer::singleShot(400, this, [&] {
        QTest::mouseClick(child<QPushButton>("cmdBrowse"), Qt::LeftButton);
        QTest::keyClick(w, Qt::Key_B, Qt::AltModifier);
        closeRefused = !w->close();
    });
    QTest::mouseClick(child<QPushButton>("cmdZipp"), Qt::LeftButton);

    QCOMPARE(zip.calls.size(), 1);
    QVERIFY(!zip.calls.at(0).onGuiThread);
    QCOMPARE(zip.calls.at(0).captionDuringCall, QString("Compressing! Please wait..."));
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    QVERIFY(closeRefused);
    QVERIFY(w->isVisible());
    QCOMPARE(ui->openRequests.size(), 1); // only the Browse before the command
    QCOMPARE(ui->messages.size(), 1);     // the result, after the call
    QCOMPARE(w->windowTitle(), frmZip::normalCaption());

    // Afterwards the window takes commands again.
    ui->openAnswers << std::nullopt;
    QTest::mouseClick(child<QPushButton>("cmdBrowse"), Qt::LeftButton);
    QCOMPARE(ui->openRequests.size(), 2);
    zip.delayMs = 0;
}

void TestMainWindow::realComponentMakesValidArchive()
{
    // The installed plugin beside the program, through the real factory.
    components.reset();
    PluginComponentFactory factory;
    Services::instance().setComponents(&factory);
    ProgramFolder::setOverride(PARCELO_BIN_DIR);
    SettingsStore::DeleteSetting("Orvanne", "Components", "Pnvzip.ZipFunctions");

    QTemporaryDir dir;
    const QString source = dir.filePath("report.doc");
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < 2000; ++i)
        file.write("Quarterly report line, repeated so that it compresses well.\n");
    file.close();

    choose(source);
    QVERIFY(window()->hasZipComponent());
    QTest::mouseClick(child<QPushButton>("cmdZipp"), Qt::LeftButton);
    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).icon, MsgIcon::Information);
    QVERIFY2(ui->messages.at(0).prompt.contains("report.doc.zip"), qPrintable(ui->messages.at(0).prompt));
    QVERIFY(QFile::exists(source + ".zip"));
    QProcess unzip;
    unzip.start("unzip", {"-t", source + ".zip"});
    QVERIFY(unzip.waitForFinished(30000));
    QCOMPARE(unzip.exitCode(), 0);

    // And back: unzipping next to the original keeps the original and writes a renamed copy.
    choose(source + ".zip");
    QTest::mouseClick(child<QPushButton>("cmdUnzipp"), Qt::LeftButton);
    QCOMPARE(ui->messages.size(), 2);
    QCOMPARE(ui->messages.at(1).icon, MsgIcon::Information);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3);

    delete frmZip::existing();
    Services::instance().setComponents(nullptr);
}

void TestMainWindow::menusAndShortcuts()
{
    QStringList menus;
    for (QAction *a : window()->menuBar()->actions())
        menus << a->text();
    QCOMPARE(menus, (QStringList{"&File", "&Tools", "&Online", "&Window", "&Help"}));
    const struct { const char *name; const char *caption; QKeySequence keys; } entries[] = {
        {"mnuOpen", "&Open...", QKeySequence(Qt::CTRL | Qt::Key_O)},
        {"mnuZipp", "Open and &zip...", QKeySequence(Qt::CTRL | Qt::Key_Z)},
        {"mnuMailZip", "Open, zip and &e-mail zipped file...", QKeySequence(Qt::CTRL | Qt::Key_E)},
        {"mnuUnzipp", "Open and &unzip...", QKeySequence(Qt::CTRL | Qt::Key_U)},
        {"mnuExit", "E&xit", QKeySequence(Qt::ALT | Qt::Key_Backspace)},
        {"mnuEMail", "E-&mail...", QKeySequence(Qt::CTRL | Qt::Key_M)},
        {"mnuEditor", "&Text Editor...", QKeySequence(Qt::CTRL | Qt::Key_T)},
        {"mnuBrowser", "&Web Browser...", QKeySequence(Qt::CTRL | Qt::Key_W)},
        {"mnuTray", "&Minimize to tray", QKeySequence(Qt::CTRL | Qt::Key_H)},
        {"mnuHome", "Publisher &Home", QKeySequence()},
        {"mnuNews", "Today's &News", QKeySequence()},
        {"mnuAbout", "About Parcelo...", QKeySequence()},
    };
    for (const auto &entry : entries) {
        QAction *action = menuAction(entry.name);
        QVERIFY2(action, entry.name);
        QCOMPARE(action->text(), QString::fromUtf8(entry.caption));
        QCOMPARE(action->shortcut(), entry.keys);
    }
    QStringList tray;
    for (QAction *a : window()->trayMenu()->actions())
        tray << (a->isSeparator() ? QString("-") : a->text());
    QCOMPARE(tray, (QStringList{"&Zip...", "Zip and &e-mail...", "&Unzip...", "-", "&Show Parcelo", "&Close Parcelo"}));
    QVERIFY(!window()->menuBar()->actions().contains(window()->trayMenu()->menuAction()));
    QCOMPARE(window()->trayControl()->toolTip(), QString("Parcelo v1.0"));
}

void TestMainWindow::openChoosesCommandByName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("method");
    QTest::newRow("upper-case archive") << "/data/Report.ZIP" << "UnzipFile";
    QTest::newRow("text file") << "/data/report.txt" << "ZipFile";
    QTest::newRow(".zip anywhere") << "/x.zip.bak" << "UnzipFile";
}

void TestMainWindow::openChoosesCommandByName()
{
    QFETCH(QString, path);
    QFETCH(QString, method);
    ui->openAnswers << path;
    menuAction("mnuOpen")->trigger();
    QCOMPARE(zip.calls.size(), 1);
    QCOMPARE(zip.calls.at(0).method, method);
    QCOMPARE(zip.calls.at(0).first, path);
    QCOMPARE(ui->openRequests.at(0).filters, QStringList{"All Files (*)"});

    ui->openAnswers << path;
    menuAction("mnuUnzipp")->trigger(); // whatever the name, this one unzips
    QCOMPARE(zip.calls.at(1).method, QString("UnzipFile"));
    QCOMPARE(ui->openRequests.at(1).filters, QStringList{"Parcelo Files (*.zip)"});
}

void TestMainWindow::menusLeavePathBoxAlone()
{
    choose("/home/ann/earlier.doc");
    ui->openAnswers << QString("/srv/menu/chosen.txt");
    menuAction("mnuZipp")->trigger();
    QCOMPARE(zip.calls.at(0).second, QString("/srv/menu/chosen.txt.zip"));
    QCOMPARE(child<QLineEdit>("txtZip")->text(), QString("/home/ann/earlier.doc"));
    // The button acts on the dialog's file: the one the menu chose.
    QTest::mouseClick(child<QPushButton>("cmdZipp"), Qt::LeftButton);
    QCOMPARE(zip.calls.at(1).first, QString("/srv/menu/chosen.txt"));
}

void TestMainWindow::menuCancelResetsDialogFile()
{
    choose("/home/ann/shown.doc");
    ui->openAnswers << std::nullopt;
    menuAction("mnuOpen")->trigger();
    QVERIFY(zip.calls.isEmpty());
    QVERIFY(ui->messages.isEmpty());
    QCOMPARE(window()->openDialog().fileName(), QString("/home/ann/shown.doc"));
}

void TestMainWindow::cancelAfterMenuActsOnShownFileAndFolder_data()
{
    QTest::addColumn<bool>("cancelInMenu");
    QTest::addColumn<bool>("sameDirectory");
    QTest::newRow("File > Open cancelled, same folder") << true << true;
    QTest::newRow("File > Open cancelled, picked folder") << true << false;
    QTest::newRow("Browse cancelled, same folder") << false << true;
    QTest::newRow("Browse cancelled, picked folder") << false << false;
}

void TestMainWindow::cancelAfterMenuActsOnShownFileAndFolder()
{
    // The box shows a file; a menu command acts on another one elsewhere; then a file dialog is
    // cancelled. The buttons act on the shown file again, with its own folder and name.
    QFETCH(bool, cancelInMenu);
    QFETCH(bool, sameDirectory);
    if (!sameDirectory)
        QTest::mouseClick(child<QCheckBox>("chkDir"), Qt::LeftButton);
    QTest::mouseClick(child<QCheckBox>("chkOpen"), Qt::LeftButton);
    choose("/srv/a/p.zip");
    ui->openAnswers << QString("/home/b/y.txt");
    if (!sameDirectory)
        ui->folderAnswers << QString("/out");
    menuAction("mnuZipp")->trigger();
    QCOMPARE(zip.calls.size(), 1);

    ui->openAnswers << std::nullopt;
    if (cancelInMenu)
        menuAction("mnuOpen")->trigger();
    else
        QTest::mouseClick(child<QPushButton>("cmdBrowse"), Qt::LeftButton);
    QCOMPARE(window()->openDialog().fileName(), QString("/srv/a/p.zip"));
    QCOMPARE(window()->fileDir(), QString("/srv/a/"));

    ui->shellOpened.clear();
    if (!sameDirectory)
        ui->folderAnswers << QString("/picked");
    QTest::mouseClick(child<QPushButton>("cmdUnzipp"), Qt::LeftButton);
    const QString target = sameDirectory ? "/srv/a/" : "/picked";
    QCOMPARE(zip.calls.at(1).method, QString("UnzipFile"));
    QCOMPARE(zip.calls.at(1).first, QString("/srv/a/p.zip"));
    QCOMPARE(zip.calls.at(1).second, target);
    QCOMPARE(ui->shellOpened, QStringList{target});

    // Zipping the shown file names the archive after it, not after the menu's file.
    if (!sameDirectory)
        ui->folderAnswers << QString("/picked");
    window()->cmdZipp_Click();
    QCOMPARE(zip.calls.at(2).first, QString("/srv/a/p.zip"));
    QCOMPARE(zip.calls.at(2).second, sameDirectory ? QString("/srv/a/p.zip.zip") : QString("/picked/p.zip.zip"));
    QCOMPARE(window()->zipName(), QString("p.zip.zip"));
}

void TestMainWindow::zipAndMailHandsOverEachNewArchive()
{
    ui->openAnswers << QString("/home/ann/one.doc") << QString("/home/ann/two.doc");
    menuAction("mnuMailZip")->trigger();
    menuAction("mnuMailZip")->trigger();
    frmMail *mail = frmMail::existing();
    QVERIFY(mail && mail->isVisible());
    auto *rows = mail->findChild<QTreeWidget *>("lvwAttachments");
    QCOMPARE(rows->topLevelItemCount(), 2);
    const QTreeWidgetItem *second = rows->topLevelItem(1);
    QCOMPARE(second->text(0), QString("two.doc.zip"));
    QCOMPARE(second->text(1), QString("/home/ann/two.doc.zip"));
    QCOMPARE(second->text(2), QString("application/octet-stream"));
    QCOMPARE(second->text(3), QString("Base 64"));
}

void TestMainWindow::zipAndMailSkipsWhenNothingWasMade()
{
    // A first run makes an archive; then a cancelled dialog and a failed zip add nothing.
    ui->openAnswers << QString("/home/ann/one.doc");
    menuAction("mnuMailZip")->trigger();
    frmMail::existing()->hide();

    ui->openAnswers << std::nullopt;
    menuAction("mnuMailZip")->trigger();
    zip.answer = {30009, "The disk is full"};
    ui->openAnswers << QString("/home/ann/big.doc");
    menuAction("mnuMailZip")->trigger();

    QVERIFY(!frmMail::existing()->isVisible());
    QCOMPARE(frmMail::existing()->findChild<QTreeWidget *>("lvwAttachments")->topLevelItemCount(), 1);
    QCOMPARE(ui->messages.last().title, QString("Error: 30009")); // the zip command said so
}

void TestMainWindow::companionWindowsAreReused()
{
    window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window()));
    QTest::keyClick(window(), Qt::Key_M, Qt::ControlModifier);
    frmMail *mail = frmMail::existing();
    QVERIFY(mail && mail->isVisible());
    mail->hide();
    menuAction("mnuEMail")->trigger();
    QCOMPARE(frmMail::existing(), mail);
    QVERIFY(mail->isVisible());

    menuAction("mnuEditor")->trigger();
    frmEditor *editor = frmEditor::existingPrimary();
    QVERIFY(editor && editor->isVisible());
    menuAction("mnuEditor")->trigger();
    QCOMPARE(frmEditor::existingPrimary(), editor);

    menuAction("mnuAbout")->trigger();
    menuAction("mnuAbout")->trigger();
    QCOMPARE(aboutBoxes(), 2); // a new about box each time
}

void TestMainWindow::rightPressPopsFileMenuOnlyOnSurface_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("pops");
    QTest::newRow("surface") << "surface" << true;
    QTest::newRow("decoration bar") << "Image1_1" << true; // a picture, not a control
    QTest::newRow("Browse button") << "cmdBrowse" << false;
    QTest::newRow("disabled Zip button") << "cmdZipp" << false;
    QTest::newRow("check box") << "chkDir" << false;
    QTest::newRow("path box") << "txtZip" << false;
}

void TestMainWindow::rightPressPopsFileMenuOnlyOnSurface()
{
    QFETCH(QString, target);
    QFETCH(bool, pops);
    auto *file = window()->findChild<QMenu *>("mnuFile");
    QWidget *surface = window()->centralWidget();
    QWidget *widget = target == "surface" ? surface : window()->findChild<QWidget *>(target);
    QVERIFY(widget);
    const QPoint at = target == "surface" ? QPoint(200, 280) : widget->rect().center();
    QTest::mousePress(widget, Qt::LeftButton, {}, at);
    QVERIFY(!file->isVisible());
    QTest::mousePress(widget, Qt::RightButton, {}, at);
    if (pops) {
        QTRY_VERIFY(file->isVisible());
        QCOMPARE(file->pos(), widget->mapToGlobal(at));
        file->hide();
    } else {
        QTest::qWait(50);
        QVERIFY(!file->isVisible());
    }
}

void TestMainWindow::minimizeToTrayWithoutTrayMinimizes()
{
    // Offscreen there is no notification area: the window must stay reachable.
    QVERIFY(!TrayIcon::isAvailable());
    frmZip *w = window();
    menuAction("mnuTray")->trigger();
    QVERIFY(w->isVisible());
    QVERIFY(w->isMinimized());
    QVERIFY(!w->trayControl()->isPlaced());
}

void TestMainWindow::trayActivation_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("restores");
    QTest::addColumn<bool>("popsMenu");
    // Desktops whose tray speaks StatusNotifierItem report every click as Trigger.
    QTest::newRow("click") << int(QSystemTrayIcon::Trigger) << true << false;
    QTest::newRow("double-click") << int(QSystemTrayIcon::DoubleClick) << true << false;
    QTest::newRow("context gesture") << int(QSystemTrayIcon::Context) << false << true;
    QTest::newRow("middle button") << int(QSystemTrayIcon::MiddleClick) << false << false;
}

void TestMainWindow::trayActivation()
{
    QFETCH(int, reason);
    QFETCH(bool, restores);
    QFETCH(bool, popsMenu);
    frmZip *w = window();
    w->hide(); // as after "Minimize to tray"
    auto *icon = w->findChild<QSystemTrayIcon *>("TrayControl");
    QVERIFY(icon);
    Q_EMIT icon->activated(QSystemTrayIcon::ActivationReason(reason)); // as the desktop reports it
    QCOMPARE(w->isVisible(), restores);
    QCOMPARE(w->trayMenu()->isVisible(), popsMenu);
    w->trayMenu()->hide();
}

PARCELO_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
