// The main window driven through its widgets: path box rule, Browse, the zip and unzip
// commands with their naming rules, captions and messages, settings, the missing component,
// the browser window loaded (with its web engine) only when a window first asks for it; the
// commands given on the command line, and files dropped on the window.

#include "browserwindow.h"
#include "busyguard.h"
#include "commandline.h"
#include "fakezip.h"
#include "frmAbout.h"
#include "frmEditor.h"
#include "frmMail.h"
#include "frmZip.h"
#include "programfolder.h"
#include "richtextbox.h"
#include "scriptedui.h"
#include "settingsstore.h"
#include "testenv.h"
#include "trayicon.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTreeWidget>
#include <QDir>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
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
    void longCallShowsProgressAndCancels_data();
    void longCallShowsProgressAndCancels();
    void passwordIsAskedInMaskedBox_data();
    void passwordIsAskedInMaskedBox();
    void realComponentMakesValidArchive();

    void menusAndShortcuts();
    void openChoosesCommandByName_data();
    void openChoosesCommandByName();
    void menusLeavePathBoxAlone_data();
    void menusLeavePathBoxAlone();
    void menuCancelResetsDialogFile();
    void cancelAfterMenuActsOnShownFileAndFolder_data();
    void cancelAfterMenuActsOnShownFileAndFolder();
    void zipAndMailHandsOverEachNewArchive();
    void zipAndMailSkipsWhenNothingWasMade();
    void companionWindowsAreReused();
    void exitAsksBeforeTypedTextIsLost_data();
    void exitAsksBeforeTypedTextIsLost();
    void browserLoadsOnFirstUseFromEveryPlace_data();
    void browserLoadsOnFirstUseFromEveryPlace();
    void rightPressPopsFileMenuOnlyOnSurface_data();
    void rightPressPopsFileMenuOnlyOnSurface();
    void minimizeToTrayWithoutTrayMinimizes();
    void trayActivation_data();
    void trayActivation();

    void commandLineRunsCommandWithoutAsking_data();
    void commandLineRunsCommandWithoutAsking();
    void dropChoosesOneLocalFile_data();
    void dropChoosesOneLocalFile();
    void existingArchiveIsNeverReplacedSilently_data();
    void existingArchiveIsNeverReplacedSilently();

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
    // Whether a library whose file name contains `name` is mapped into this process.
    static bool mapped(const char *name)
    {
        QFile maps(QStringLiteral("/proc/self/maps"));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(name);
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
    zip.delayMs = 0;
    zip.password.clear();
    SettingsStore::DeleteSetting("Orvanne", "Parcelo", "same-directory");
    SettingsStore::DeleteSetting("Orvanne", "Parcelo", "open-file");
}

void TestMainWindow::cleanup()
{
    delete frmZip::existing();
    delete frmMail::existing();
    delete BrowserWindow::existing();
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

void TestMainWindow::longCallShowsProgressAndCancels_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QString>("stop"); // how the user stops the call, if at all
    QTest::newRow("short zip") << "zip" << 200 << "";
    QTest::newRow("long zip") << "zip" << 1300 << "";
    QTest::newRow("zip cancelled with the button") << "zip" << 8000 << "button";
    QTest::newRow("zip cancelled with Esc") << "zip" << 8000 << "escape";
    QTest::newRow("unzip cancelled with Esc") << "unzip" << 8000 << "escape";
}

void TestMainWindow::longCallShowsProgressAndCancels()
{
    QFETCH(QString, command);
    QFETCH(int, delayMs);
    QFETCH(QString, stop);
    const bool zipping = command == "zip";
    QTest::mouseClick(child<QCheckBox>("chkOpen"), Qt::LeftButton); // would open the folder after
    const QStringList settings = {SettingsStore::GetSetting("Orvanne", "Parcelo", "same-directory", "-"),
                                  SettingsStore::GetSetting("Orvanne", "Parcelo", "open-file", "-")};
    choose(zipping ? "/home/ann/big.iso" : "/home/ann/big.zip");
    zip.delayMs = delayMs;
    frmZip *w = window();
    auto *bar = child<QProgressBar>("prgZip");
    auto *cancel = child<QPushButton>("cmdCancel");
    QVERIFY(bar && cancel);
    QVERIFY(!bar->isVisible() && !cancel->isVisible());

    // Watches the window every 50 ms while the call runs; stops the call after 800 ms, once
    // the bar is there.
    struct Seen
    {
        int firstVisibleMs = -1;
        QSet<QString> captions;
        QStringList tips;
        int lastValue = 0;
        bool valueWentDown = false;
    } seen;
    QElapsedTimer clock, sinceStop;
    clock.start();
    bool browseTried = false, browseTookFocus = false;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, this, [&] {
        if (bar->isVisible() && cancel->isVisible() && seen.firstVisibleMs < 0)
            seen.firstVisibleMs = int(clock.elapsed());
        seen.captions << w->windowTitle();
        seen.tips << w->trayControl()->toolTip();
        seen.valueWentDown |= bar->value() < seen.lastValue;
        seen.lastValue = bar->value();
        if (clock.elapsed() >= 600 && !browseTried) { // any other click is dropped
            browseTried = true;
            auto *browse = child<QPushButton>("cmdBrowse");
            QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {}, browse->mapTo(w, browse->rect().center()));
            browseTookFocus = w->focusWidget() == browse; // not even the focus moves
        }
        if (!stop.isEmpty() && seen.firstVisibleMs >= 0 && clock.elapsed() >= 800 && !sinceStop.isValid()) {
            sinceStop.start();
            if (stop == "button") // through the native window, as a real click comes
                QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {}, cancel->mapTo(w, cancel->rect().center()));
            else
                QTest::keyClick(w->focusWidget() ? w->focusWidget() : w, Qt::Key_Escape);
        }
    });
    watcher.start(50);
    QTest::mouseClick(child<QPushButton>(zipping ? "cmdZipp" : "cmdUnzipp"), Qt::LeftButton);
    watcher.stop();

    QCOMPARE(zip.calls.size(), 1);
    QVERIFY(zip.calls.at(0).queried);
    QCOMPARE(ui->openRequests.size(), 1); // the choice before the call only
    QVERIFY(!browseTookFocus);
    QCOMPARE(seen.captions, QSet<QString>{zipping ? "Compressing! Please wait..." : "Uncompressing! Please wait..."});
    if (delayMs < 400) {
        QCOMPARE(seen.firstVisibleMs, -1); // a short call shows nothing but the caption
    } else {
        QVERIFY2(seen.firstVisibleMs >= 450 && seen.firstVisibleMs < 1100, qPrintable(QString::number(seen.firstVisibleMs)));
        QVERIFY(!seen.valueWentDown);
        static const QRegularExpression percent("^Parcelo v1\\.0 \u2014 (\\d+)%$");
        QVERIFY2(percent.match(seen.tips.last()).hasMatch(), qPrintable(seen.tips.last()));
        QVERIFY(percent.match(seen.tips.last()).captured(1).toInt() > 0);
    }
    if (stop.isEmpty()) {
        QCOMPARE(ui->messages.size(), 1);
        QCOMPARE(ui->messages.at(0).icon, MsgIcon::Information);
        QCOMPARE(ui->shellOpened.size(), 1);
    } else {
        // Stopped soon, silently, and nothing else happens.
        QVERIFY(zip.calls.at(0).sawCancel);
        QVERIFY2(sinceStop.elapsed() < 500, qPrintable(QString::number(sinceStop.elapsed())));
        QVERIFY(ui->messages.isEmpty());
        QVERIFY(ui->shellOpened.isEmpty());
        QVERIFY(!w->lastZipMadeArchive());
    }
    QVERIFY(!bar->isVisible() && !cancel->isVisible());
    QCOMPARE(w->windowTitle(), frmZip::normalCaption());
    QCOMPARE(w->trayControl()->toolTip(), QString("Parcelo v1.0"));
    QCOMPARE((QStringList{SettingsStore::GetSetting("Orvanne", "Parcelo", "same-directory", "-"),
                          SettingsStore::GetSetting("Orvanne", "Parcelo", "open-file", "-")}),
             settings);

    // Esc outside a call does not start or stop anything.
    QTest::keyClick(w, Qt::Key_Escape);
    QCOMPARE(zip.calls.size(), 1);
}

void TestMainWindow::passwordIsAskedInMaskedBox_data()
{
    QTest::addColumn<QStringList>("answers"); // "<cancel>" cancels the box
    QTest::addColumn<bool>("extracted");
    QTest::newRow("right password") << QStringList{"sesame"} << true;
    QTest::newRow("wrong, then right") << QStringList{"open up", "sesame"} << true;
    QTest::newRow("cancel at the prompt") << QStringList{"<cancel>"} << false;
    QTest::newRow("wrong, then cancel") << QStringList{"open up", "<cancel>"} << false;
}

void TestMainWindow::passwordIsAskedInMaskedBox()
{
    QFETCH(QStringList, answers);
    QFETCH(bool, extracted);
    zip.password = "sesame";
    zip.answer = {0, "Extracted secret.txt"};
    QList<QByteArray> given;
    for (const QString &a : std::as_const(answers)) {
        if (a == "<cancel>") {
            ui->inputAnswers << std::nullopt;
        } else {
            ui->inputAnswers << a;
            given << a.toUtf8();
        }
    }
    choose("/home/ann/secret.zip");
    QTest::mouseClick(child<QPushButton>("cmdUnzipp"), Qt::LeftButton);

    QCOMPARE(ui->inputs.size(), answers.size());
    for (qsizetype i = 0; i < ui->inputs.size(); ++i) {
        const InputRequest &asked = ui->inputs.at(i);
        QVERIFY(asked.masked);
        QCOMPARE(asked.title, QString("Parcelo"));
        QCOMPARE(asked.owner, window());
        QVERIFY(asked.defaultText.isEmpty());
        QVERIFY2(asked.prompt.contains("secret.zip") && asked.prompt.contains("password"), qPrintable(asked.prompt));
        QCOMPARE(asked.prompt.contains("wrong"), i > 0); // says so after a wrong answer only
    }
    QCOMPARE(zip.calls.at(0).passwordsGiven, given);
    if (extracted) {
        QCOMPARE(ui->messages.size(), 1);
        QCOMPARE(ui->messages.at(0).prompt, QString("Extracted secret.txt"));
    } else {
        QVERIFY(ui->messages.isEmpty()); // a cancel is silent
    }
    QCOMPARE(window()->windowTitle(), frmZip::normalCaption());
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

    // Zipped again, and told to keep the archive there: it stays as it was, the new one goes beside it.
    QFile first(source + ".zip");
    QVERIFY(first.open(QIODevice::ReadOnly));
    const QByteArray before = first.readAll();
    first.close();
    choose(source);
    ui->messageAnswers << MsgResult::No;
    QTest::mouseClick(child<QPushButton>("cmdZipp"), Qt::LeftButton);
    QCOMPARE(ui->messages.at(2).prompt, QString("report.doc.zip already exists. Replace it?"));
    QVERIFY(first.open(QIODevice::ReadOnly));
    QCOMPARE(first.readAll(), before);
    unzip.start("unzip", {"-t", dir.filePath("report.doc (2).zip")});
    QVERIFY(unzip.waitForFinished(30000));
    QCOMPARE(unzip.exitCode(), 0);

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

void TestMainWindow::menusLeavePathBoxAlone_data()
{
    QTest::addColumn<int>("key");        // the menu command's shortcut, with Ctrl
    QTest::addColumn<QString>("chosen"); // what its file dialog answers
    QTest::addColumn<int>("zipError");   // what the component answers the menu's command
    QTest::newRow("Ctrl+U unzips another archive") << int(Qt::Key_U) << "/srv/menu/many.zip" << 0;
    QTest::newRow("Ctrl+Z zips another file") << int(Qt::Key_Z) << "/srv/menu/chosen.txt" << 0;
    QTest::newRow("Ctrl+O opens another archive") << int(Qt::Key_O) << "/srv/menu/many.zip" << 0;
    QTest::newRow("Ctrl+E zips and mails another file") << int(Qt::Key_E) << "/srv/menu/chosen.txt" << 0;
    QTest::newRow("Ctrl+U, and the unzip fails") << int(Qt::Key_U) << "/srv/menu/many.zip" << 30004;
}

void TestMainWindow::menusLeavePathBoxAlone()
{
    // The box shows one file, a menu command acts on another; afterwards the box still shows
    // its file and the enabled button acts on that one, in its own folder.
    QFETCH(int, key);
    QFETCH(QString, chosen);
    QFETCH(int, zipError);
    choose("/home/ann/big.img");
    frmZip *w = window();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    zip.answer = {zipError, "It went its way"};
    ui->openAnswers << chosen;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), Qt::ControlModifier);
    QCOMPARE(zip.calls.size(), 1);
    QCOMPARE(zip.calls.at(0).first, chosen);
    QCOMPARE(child<QLineEdit>("txtZip")->text(), QString("/home/ann/big.img"));

    zip.answer = {0, "Archive made"};
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    QTest::mouseClick(child<QPushButton>("cmdZipp"), Qt::LeftButton);
    QCOMPARE(zip.calls.size(), 2);
    QCOMPARE(zip.calls.at(1).method, QString("ZipFile"));
    QCOMPARE(zip.calls.at(1).first, QString("/home/ann/big.img"));
    QCOMPARE(zip.calls.at(1).second, QString("/home/ann/big.img.zip"));
    QCOMPARE(w->zipName(), QString("big.img.zip"));
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

void TestMainWindow::exitAsksBeforeTypedTextIsLost_data()
{
    QTest::addColumn<bool>("fromTray");  // the tray menu's Close instead of File > Exit (Alt+Backspace)
    QTest::addColumn<bool>("typed");     // text typed in the editor
    QTest::addColumn<int>("answer");     // to the editor's question; -1 when none may be asked
    QTest::addColumn<bool>("saveDone");  // whether the save dialog (after Yes) is confirmed
    QTest::addColumn<bool>("ends");
    const int yes = int(MsgResult::Yes), no = int(MsgResult::No), cancel = int(MsgResult::Cancel);
    QTest::newRow("nothing typed: ends at once") << false << false << -1 << false << true;
    QTest::newRow("typed, No: ends") << false << true << no << false << true;
    QTest::newRow("typed, Cancel: goes on") << false << true << cancel << false << false;
    QTest::newRow("typed, Yes: saves, then ends") << false << true << yes << true << true;
    QTest::newRow("typed, Yes, save cancelled: goes on") << false << true << yes << false << false;
    QTest::newRow("tray Close, nothing typed") << true << false << -1 << false << true;
    QTest::newRow("tray Close, typed, Cancel: goes on") << true << true << cancel << false << false;
}

void TestMainWindow::exitAsksBeforeTypedTextIsLost()
{
    QFETCH(bool, fromTray);
    QFETCH(bool, typed);
    QFETCH(int, answer);
    QFETCH(bool, saveDone);
    QFETCH(bool, ends);
    frmZip *w = window();
    menuAction("mnuEditor")->trigger();
    QPointer<frmEditor> editor = frmEditor::existingPrimary();
    QVERIFY(QTest::qWaitForWindowActive(editor));
    if (typed)
        QTest::keyClicks(QApplication::focusWidget(), "Minutes of the meeting");
    if (answer >= 0)
        ui->messageAnswers << MsgResult(answer);
    const QString saved = QDir(m_programFolder->path()).filePath("minutes.rtf");
    ui->saveAnswers << (saveDone ? std::optional<QString>(saved) : std::nullopt);
    const QString settings = QDir(m_programFolder->path()).filePath("TextEditor.set");

    // The program runs; the command comes as the user gives it; if it goes on, it is ended later.
    QTimer::singleShot(0, w, [&] {
        if (fromTray) {
            w->trayMenu()->popup(QPoint(10, 10));
            QTest::keyClick(w->trayMenu(), Qt::Key_C);
        } else {
            w->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(w));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace, Qt::AltModifier);
        }
    });
    QTimer::singleShot(1500, w, [] { QCoreApplication::exit(99); });
    const int status = QCoreApplication::exec();

    QCOMPARE(status, ends ? 0 : 99);
    QCOMPARE(ui->messages.size(), answer >= 0 ? 1 : 0);
    if (answer >= 0) {
        QCOMPARE(ui->messages.at(0).prompt, QString("Save changes to the document?"));
        QCOMPARE(ui->messages.at(0).title, QString("TextEditor"));
    }
    QCOMPARE(QFile::exists(saved), saveDone);
    QVERIFY(editor); // Exit runs no closing steps: the editor stored nothing
    QCOMPARE(QFileInfo(settings).size(), 0);
    QCOMPARE(editor->richText()->toPlainText(), typed ? QString("Minutes of the meeting") : QString());
}

void TestMainWindow::browserLoadsOnFirstUseFromEveryPlace_data()
{
    QTest::addColumn<QString>("place");  // [window:]object name of the command
    QTest::addColumn<QString>("page");   // the address it goes to after the starting address
    QTest::newRow("Tools > Web Browser") << "mnuBrowser" << "";
    QTest::newRow("Online > Publisher Home") << "mnuHome" << "/";
    QTest::newRow("editor's Online > Today's News") << "editor:mnuNews" << "/tarn_news.htm";
    QTest::newRow("about box's download button") << "about:cmdDownload"
                                                 << "/trials/tarnbase/tarnbase-personal-3.2-setup.run";
    QTest::newRow("browser's File > Open of a local page") << "browser:mnuOpen" << "offline";
}

void TestMainWindow::browserLoadsOnFirstUseFromEveryPlace()
{
    QFETCH(QString, place);
    QFETCH(QString, page);
    const QString site = QStringLiteral("http://127.0.0.1:9"); // nothing answers: pages fail at once
    qputenv("PARCELO_PUBLISHER_URL", site.toUtf8());
    QTemporaryDir pages;
    QFile offline(pages.filePath("offline.htm"));
    QVERIFY(offline.open(QIODevice::WriteOnly));
    offline.write("<html><head><title>Offline Test Page</title></head><body>Saved</body></html>");
    offline.close();

    // The main window is up; the web engine comes in with the browser plugin and not before.
    window();
    QCOMPARE(mapped("libQt6WebEngineCore"), BrowserWindow::isLoaded());
    QVERIFY(!BrowserWindow::existing());

    const QString owner = place.section(QLatin1Char(':'), 0, -2);
    const QString name = place.section(QLatin1Char(':'), -1);
    if (owner == "editor") {
        frmEditor::primary()->findChild<QAction *>(name)->trigger();
    } else if (owner == "about") {
        frmAbout *box = frmAbout::openNew();
        box->findChild<QPushButton *>(name)->click();
    } else if (owner == "browser") {
        menuAction("mnuBrowser")->trigger();
        ui->openAnswers << offline.fileName();
        BrowserWindow::existing()->findChild<QAction *>(name)->trigger();
    } else {
        menuAction(qPrintable(name))->trigger();
    }

    QWidget *browser = BrowserWindow::existing();
    QVERIFY(browser && browser->isVisible());
    QVERIFY(mapped("libQt6WebEngineCore"));
    QVERIFY(ui->messages.isEmpty());
    QStringList entries;
    auto *list = browser->findChild<QComboBox *>("cboAddress");
    for (int i = 0; i < list->count(); ++i)
        entries << list->itemText(i);
    QStringList expected{site};
    if (page == "offline")
        expected.prepend(QUrl::fromLocalFile(offline.fileName()).toString());
    else if (!page.isEmpty())
        expected.prepend(site + page);
    QCOMPARE(entries, expected);
    if (page == "offline") {
        QTRY_COMPARE_WITH_TIMEOUT(browser->windowTitle(),
                                  "Tarn Surfer" + QString(23, ' ') + "Offline Test Page", 15000);
    }

    // Closed again, so that the next place opens it afresh.
    QPointer<QWidget> closed = browser;
    browser->close();
    QVERIFY(!BrowserWindow::existing());
    QTRY_VERIFY(!closed);
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

void TestMainWindow::commandLineRunsCommandWithoutAsking_data()
{
    // "@" stands for a folder holding report.txt and a.zip. Every row starts with "same
    // directory" off in the stored settings: the command line must neither ask for a folder
    // nor change that setting.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("zipError");
    QTest::addColumn<QString>("call");      // "method first second", empty when none
    QTest::addColumn<int>("status");        // -1: the program goes on
    QTest::addColumn<QString>("boxTitle");  // the one message box shown
    QTest::addColumn<QString>("pathBox");
    QTest::addColumn<int>("mailRows");      // -1: no mail window

    QTest::newRow("zip beside the file") << QStringList{"--zip", "@/report.txt"} << 0
        << "ZipFile @/report.txt @/report.txt.zip" << 0 << "Parcelo" << "@/report.txt" << -1;
    QTest::newRow("zip into --to, made on the way") << QStringList{"--zip", "@/report.txt", "--to", "@/out/new"} << 0
        << "ZipFile @/report.txt @/out/new/report.txt.zip" << 0 << "Parcelo" << "@/report.txt" << -1;
    QTest::newRow("unzip beside the archive") << QStringList{"--unzip", "@/a.zip"} << 0
        << "UnzipFile @/a.zip @/" << 0 << "Parcelo" << "@/a.zip" << -1;
    QTest::newRow("unzip into --to") << QStringList{"--unzip", "@/a.zip", "--to", "@/out/"} << 0
        << "UnzipFile @/a.zip @/out" << 0 << "Parcelo" << "@/a.zip" << -1;
    QTest::newRow("the component fails") << QStringList{"--unzip", "@/a.zip"} << 30004
        << "UnzipFile @/a.zip @/" << 1 << "Error: 30004" << "@/a.zip" << -1;
    QTest::newRow("zip and mail leaves the mail window") << QStringList{"--zip-and-mail", "@/report.txt"} << 0
        << "ZipFile @/report.txt @/report.txt.zip" << -1 << "Parcelo" << "@/report.txt" << 1;
    QTest::newRow("zip and mail, zip fails") << QStringList{"--zip-and-mail", "@/report.txt"} << 30009
        << "ZipFile @/report.txt @/report.txt.zip" << 1 << "Error: 30009" << "@/report.txt" << -1;
    QTest::newRow("unzip without a file asks for it") << QStringList{"--unzip"} << 0
        << "UnzipFile @/a.zip @/" << 0 << "Parcelo" << "" << -1;
    QTest::newRow("a missing file, then the end") << QStringList{"--zip", "@/gone.txt"} << 0
        << "" << 1 << "Parcelo" << "" << -1;
    QTest::newRow("a file alone is chosen") << QStringList{"@/report.txt"} << 0
        << "" << -1 << "" << "@/report.txt" << -1;
    QTest::newRow("a missing file alone") << QStringList{"@/gone.txt"} << 0
        << "" << -1 << "Parcelo" << "" << -1;
    // A folder, or several items of one folder: one archive of them all.
    QTest::newRow("zip a folder beside it") << QStringList{"--zip", "@/Photos"} << 0
        << "ZipPaths @/Photos @/Photos.zip" << 0 << "Parcelo" << "@/Photos" << -1;
    QTest::newRow("zip a folder into --to") << QStringList{"--zip", "@/Photos", "--to", "@/out"} << 0
        << "ZipPaths @/Photos @/out/Photos.zip" << 0 << "Parcelo" << "@/Photos" << -1;
    QTest::newRow("zip several files into their folder") << QStringList{"--zip", "@/Briefe/a.txt", "@/Briefe/b.txt"} << 0
        << "ZipPaths @/Briefe/a.txt\n@/Briefe/b.txt @/Briefe/Briefe.zip" << 0 << "Parcelo" << "@/Briefe/a.txt and 1 more" << -1;
    QTest::newRow("zip and mail a folder") << QStringList{"--zip-and-mail", "@/Photos"} << 0
        << "ZipPaths @/Photos @/Photos.zip" << -1 << "Parcelo" << "@/Photos" << 1;
    QTest::newRow("several, one missing") << QStringList{"--zip", "@/Briefe/a.txt", "@/gone.txt"} << 0
        << "" << 1 << "Parcelo" << "" << -1;
    QTest::newRow("a folder whose archive is there: both kept") << QStringList{"--zip", "@/Old"} << 0
        << "ZipPaths @/Old @/Old (2).zip" << 0 << "Parcelo" << "@/Old" << -1;
    QTest::newRow("a folder alone is chosen") << QStringList{"@/Photos"} << 0
        << "" << -1 << "" << "@/Photos" << -1;
}

void TestMainWindow::commandLineRunsCommandWithoutAsking()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, zipError);
    QFETCH(QString, call);
    QFETCH(int, status);
    QFETCH(QString, boxTitle);
    QFETCH(QString, pathBox);
    QFETCH(int, mailRows);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("Photos/2024") && QDir(dir.path()).mkpath("Briefe") && QDir(dir.path()).mkpath("Old"));
    for (const char *name : {"report.txt", "a.zip", "Briefe/a.txt", "Briefe/b.txt", "Old.zip"}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const auto here = [&dir](QString text) { return text.replace('@', dir.path()); };
    for (QString &argument : arguments)
        argument = here(argument);
    SettingsStore::SaveSetting("Orvanne", "Parcelo", "same-directory", "0");
    zip.answer = {zipError, zipError ? QString("It went wrong") : QString("Done")};
    ui->openAnswers << here("@/a.zip"); // only the row without a file asks

    const std::optional<int> ended = window()->runCommandLine(CommandLine::parse(QStringList{"parcelo"} + arguments));

    QCOMPARE(ended.value_or(-1), status);
    QStringList calls;
    for (const FakeZip::Call &c : std::as_const(zip.calls))
        calls << QStringList{c.method, c.first, c.second}.join(' ');
    QCOMPARE(calls, call.isEmpty() ? QStringList{} : QStringList{here(call)});
    QCOMPARE(ui->messages.size(), boxTitle.isEmpty() ? 0 : 1);
    if (!boxTitle.isEmpty()) {
        QCOMPARE(ui->messages.at(0).title, boxTitle);
        if (call.isEmpty()) // the file was refused: the box names it
            QVERIFY2(ui->messages.at(0).prompt.contains(here("@/gone.txt")), qPrintable(ui->messages.at(0).prompt));
    }
    QCOMPARE(child<QLineEdit>("txtZip")->text(), here(pathBox));
    QVERIFY(ui->folderPrompts.isEmpty());
    if (arguments.contains("--to"))
        QVERIFY(QFileInfo(arguments.last()).isDir());
    QCOMPARE(child<QCheckBox>("chkDir")->checkState(), Qt::Unchecked);
    QCOMPARE(SettingsStore::GetSetting("Orvanne", "Parcelo", "same-directory"), QString("0"));
    frmMail *mail = frmMail::existing();
    QCOMPARE(mail && mail->isVisible() ? mail->findChild<QTreeWidget *>("lvwAttachments")->topLevelItemCount() : -1,
             mailRows);

    // Afterwards the window's own commands ask for a folder again, as the box says.
    if (!calls.isEmpty()) {
        ui->folderAnswers << QString();
        if (calls.first().startsWith("Zip"))
            window()->cmdZipp_Click();
        else
            window()->cmdUnzipp_Click();
        QCOMPARE(ui->folderPrompts.size(), 1);
    }
}

void TestMainWindow::dropChoosesOneLocalFile_data()
{
    QTest::addColumn<QStringList>("urls");   // "@" stands for a folder holding report.txt, a.zip, Photos/, Briefe/
    QTest::addColumn<bool>("busy");          // a component call is running
    QTest::addColumn<QString>("chosen");     // the path box afterwards
    QTest::addColumn<QString>("refusal");    // a part of the message box, empty for none
    QTest::addColumn<QString>("zipped");     // what "Zip it!" then asks of the component, empty: it is disabled

    QTest::newRow("one file") << QStringList{"file://@/report.txt"} << false << "@/report.txt" << ""
                              << "ZipFile @/report.txt @/report.txt.zip";
    QTest::newRow("one archive") << QStringList{"file://@/a.zip"} << false << "@/a.zip" << "" << "";
    QTest::newRow("a folder") << QStringList{"file://@/Photos/"} << false << "@/Photos" << ""
                              << "ZipPaths @/Photos @/Photos.zip";
    QTest::newRow("two files") << QStringList{"file://@/Briefe/a.txt", "file://@/Briefe/b.txt"} << false
                               << "@/Briefe/a.txt and 1 more" << "" << "ZipPaths @/Briefe/a.txt\n@/Briefe/b.txt @/Briefe/Briefe.zip";
    QTest::newRow("a file and a folder") << QStringList{"file://@/Briefe/a.txt", "file://@/Briefe/old"} << false
                                         << "@/Briefe/a.txt and 1 more" << "" << "ZipPaths @/Briefe/a.txt\n@/Briefe/old @/Briefe/Briefe.zip";
    QTest::newRow("a web address") << QStringList{"https://example.org/report.txt"} << false
                                   << "@/earlier.doc" << "not a file on this computer" << "ZipFile @/earlier.doc @/earlier.doc.zip";
    QTest::newRow("a file that is gone") << QStringList{"file://@/gone.txt"} << false << "@/earlier.doc"
                                         << "no such file" << "ZipFile @/earlier.doc @/earlier.doc.zip";
    QTest::newRow("a folder and a file that is gone") << QStringList{"file://@/Photos", "file://@/gone.txt"} << false
                                                      << "@/earlier.doc" << "no such file or folder" << "ZipFile @/earlier.doc @/earlier.doc.zip";
    QTest::newRow("during a component call") << QStringList{"file://@/report.txt"} << true << "@/earlier.doc" << ""
                                             << "ZipFile @/earlier.doc @/earlier.doc.zip";
}

void TestMainWindow::dropChoosesOneLocalFile()
{
    QFETCH(QStringList, urls);
    QFETCH(bool, busy);
    QFETCH(QString, chosen);
    QFETCH(QString, refusal);
    QFETCH(QString, zipped);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("Photos/2024") && QDir(dir.path()).mkpath("Briefe/old"));
    for (const char *name : {"report.txt", "a.zip", "Briefe/a.txt", "Briefe/b.txt"}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const auto here = [&dir](QString text) { return text.replace('@', dir.path()); };
    choose(here("@/earlier.doc"));
    QList<QUrl> list;
    for (const QString &url : std::as_const(urls))
        list << QUrl(here(url));
    QMimeData data;
    data.setUrls(list);

    // Dropped on the path box, through the window as the windowing system delivers it.
    frmZip *w = window();
    QWindow *handle = w->windowHandle();
    const QPoint onPathBox = child<QLineEdit>("txtZip")->mapTo(w, QPoint(20, 10));
    std::optional<BusyGuard> guard;
    if (busy)
        guard.emplace();
    QDragEnterEvent enter(onPathBox, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(handle, &enter);
    QCOMPARE(enter.isAccepted(), !busy);
    QDropEvent drop(onPathBox, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(handle, &drop);
    guard.reset();
    QCoreApplication::processEvents(); // the drop is answered once it is over

    const QString first = here(chosen).section(" and ", 0, 0);
    QCOMPARE(child<QLineEdit>("txtZip")->text(), here(chosen));
    QCOMPARE(w->openDialog().fileName(), first);
    QCOMPARE(w->fileDir(), QFileInfo(first).path() + '/');
    QCOMPARE(ui->messages.size(), refusal.isEmpty() ? 0 : 1);
    if (!refusal.isEmpty()) {
        QVERIFY2(ui->messages.at(0).prompt.contains(refusal), qPrintable(ui->messages.at(0).prompt));
        QCOMPARE(ui->messages.at(0).icon, MsgIcon::Exclamation);
    }
    QVERIFY(zip.calls.isEmpty());

    // "Zip it!" (and "Unzip it!" only for one archive) acts on what was dropped.
    auto *zipButton = child<QPushButton>("cmdZipp");
    QCOMPARE(zipButton->isEnabled(), !zipped.isEmpty());
    QCOMPARE(child<QPushButton>("cmdUnzipp")->isEnabled(), zipped.isEmpty());
    if (zipped.isEmpty())
        return;
    QTest::mouseClick(zipButton, Qt::LeftButton);
    QCOMPARE(zip.calls.size(), 1);
    QCOMPARE(QStringList({zip.calls[0].method, zip.calls[0].first, zip.calls[0].second}).join(' '), here(zipped));
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

void TestMainWindow::existingArchiveIsNeverReplacedSilently_data()
{
    QTest::addColumn<QString>("route");      // "button", "menu" (Ctrl+Z) or "command line"
    QTest::addColumn<QStringList>("options"); // the command line's
    QTest::addColumn<QStringList>("taken");  // what is already beside report.txt
    QTest::addColumn<int>("answer");         // to the question; -1 when none may be asked
    QTest::addColumn<QString>("written");    // the archive the component is asked to write; "" none

    const QStringList one{"report.txt.zip"};
    const QStringList two{"report.txt.zip", "report.txt (2).zip"};
    const int yes = int(MsgResult::Yes), no = int(MsgResult::No), cancel = int(MsgResult::Cancel);
    QTest::newRow("free name, no question") << "button" << QStringList{} << QStringList{} << -1 << "report.txt.zip";
    QTest::newRow("Yes replaces") << "button" << QStringList{} << one << yes << "report.txt.zip";
    QTest::newRow("No keeps both") << "button" << QStringList{} << one << no << "report.txt (2).zip";
    QTest::newRow("No takes the next free number") << "button" << QStringList{} << two << no << "report.txt (3).zip";
    QTest::newRow("Cancel writes nothing") << "button" << QStringList{} << one << cancel << "";
    QTest::newRow("a folder of that name") << "button" << QStringList{} << QStringList{"report.txt.zip/"} << no
                                           << "report.txt (2).zip";
    QTest::newRow("Ctrl+Z, No keeps both") << "menu" << QStringList{} << one << no << "report.txt (2).zip";
    QTest::newRow("Ctrl+Z, Cancel") << "menu" << QStringList{} << one << cancel << "";
    QTest::newRow("--zip keeps both") << "command line" << QStringList{"--zip"} << two << -1 << "report.txt (3).zip";
    QTest::newRow("--zip --replace") << "command line" << QStringList{"--zip", "--replace"} << one << -1 << "report.txt.zip";
    QTest::newRow("--zip-and-mail keeps both") << "command line" << QStringList{"--zip-and-mail"} << one << -1
                                               << "report.txt (2).zip";
}

void TestMainWindow::existingArchiveIsNeverReplacedSilently()
{
    QFETCH(QString, route);
    QFETCH(QStringList, options);
    QFETCH(QStringList, taken);
    QFETCH(int, answer);
    QFETCH(QString, written);
    QTemporaryDir dir;
    const QString source = dir.filePath("report.txt");
    for (const QString &name : QStringList{"report.txt"} + taken) {
        if (name.endsWith('/')) {
            QVERIFY(QDir(dir.path()).mkdir(name));
            continue;
        }
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious");
    }
    if (answer >= 0)
        ui->messageAnswers << MsgResult(answer);

    frmZip *w = window();
    if (route == "command line") {
        w->runCommandLine(CommandLine::parse(QStringList{"parcelo"} + options + QStringList{source}));
    } else if (route == "menu") {
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        ui->openAnswers << source;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier);
    } else {
        choose(source);
        QTest::mouseClick(child<QPushButton>("cmdZipp"), Qt::LeftButton);
    }

    if (answer >= 0) {
        QVERIFY(!ui->messages.isEmpty());
        const MessageRequest question = ui->messages.takeFirst();
        QCOMPARE(question.prompt, QString("report.txt.zip already exists. Replace it?"));
        QCOMPARE(question.buttons, MsgButtons::YesNoCancel);
        QCOMPARE(question.title, QString("Parcelo"));
    }
    for (const MessageRequest &other : std::as_const(ui->messages))
        QVERIFY2(!other.prompt.contains("already exists"), qPrintable(other.prompt));
    if (written.isEmpty()) {
        QVERIFY(zip.calls.isEmpty());
        QVERIFY(ui->messages.isEmpty());
        QVERIFY(!w->lastZipMadeArchive());
        QCOMPARE(w->windowTitle(), frmZip::normalCaption());
        return;
    }
    QCOMPARE(zip.calls.size(), 1);
    QCOMPARE(zip.calls.at(0).second, dir.filePath(written));
    QCOMPARE(w->zipPath(), dir.filePath(written));
    QCOMPARE(w->zipName(), written);
    if (options.contains("--zip-and-mail")) // the mail gets the archive just made
        QCOMPARE(frmMail::existing()->findChild<QTreeWidget *>("lvwAttachments")->topLevelItem(0)->text(1),
                 dir.filePath(written));
}

PARCELO_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
