// The editor window through its widgets: settings file and the primary window's geometry,
// document commands, find, formatting, pictures, menus and tool bar.

#include "frmEditor.h"
#include "programfolder.h"
#include "propertybag.h"
#include "richtextbox.h"
#include "rtf.h"
#include "scriptedui.h"
#include "settingsfile.h"
#include "settingslocation.h"
#include "testenv.h"
#include "wordlook.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolBar>
#include <QtTest>

class TestEditor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void firstOpeningCreatesEmptyFileAndClosingWritesAll();
    void settingsRoundTripThroughPrimaryWindow();
    void maximizedAndMinimizedStates();
    void furtherWindowKeepsStoredGeometryOfClosedPrimary();
    void shorterSaveAndForeignFileAreHarmless();
    void impossibleGeometryIsRefused_data();
    void impossibleGeometryIsRefused();

    void newPageAsks();
    void closingAsksBeforeTypedTextIsLost_data();
    void closingAsksBeforeTypedTextIsLost();
    void openPlainTextAndCancel();
    void openFailureAsksAbortRetryIgnore();
    void saveAsWritesRichTextWithDefaultExtension();
    void saveAsOverDocumentWithLeftOutContentAsks_data();
    void saveAsOverDocumentWithLeftOutContentAsks();
    void printsSelectionOrWholeDocument();
    void wordProcessorListNumbers();
    void clipboardCommands();

    void findAndFindNext();
    void findOverlapsAndSkipsCaret();
    void findMissingTextAndSeparateSearchTexts();

    void togglesAndButtonsFollowSelection();
    void alignmentButtons();
    void fontAndBackColourShareTheColour();
    void fontChangesSelectionOnly_data();
    void fontChangesSelectionOnly();
    void insertImageThroughClipboard();
    void unreadablePictureAsks();

    void menusAndToolBar();
    void contextMenuOnRightPress();

private:
    frmEditor *openPrimary();
    PropertyBag storedBag() const;
    QString settingsPath() const { return QDir(m_folder->path()).filePath("TextEditor.set"); }
    void type(frmEditor *editor, const QString &text);
    QAction *action(frmEditor *editor, const char *name) { return editor->findChild<QAction *>(QLatin1String(name)); }
    // A click on a tool-bar button, as the user makes it.
    void click(frmEditor *editor, const char *name);
    // The pressable tool-bar buttons shown pressed, in their order on the bar.
    QStringList pressed(frmEditor *editor);

    std::unique_ptr<ScriptedUi> ui;
    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestEditor::init()
{
    ui = std::make_unique<ScriptedUi>();
    m_folder = std::make_unique<QTemporaryDir>();
    ProgramFolder::setOverride(m_folder->path());
}

void TestEditor::cleanup()
{
    QList<QPointer<frmEditor>> editors;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *editor = qobject_cast<frmEditor *>(w))
            editors << editor;
    }
    qDeleteAll(editors); // without running the closing steps
    QVERIFY(!frmEditor::existingPrimary());
    ui.reset();
    ProgramFolder::setOverride({});
}

frmEditor *TestEditor::openPrimary()
{
    frmEditor *editor = frmEditor::primary();
    editor->show();
    return editor;
}

PropertyBag TestEditor::storedBag() const
{
    PropertyBag bag;
    bag.setContents(SettingsFile::read(settingsPath()));
    return bag;
}

void TestEditor::type(frmEditor *editor, const QString &text)
{
    editor->richText()->setFocus();
    QTest::keyClicks(editor->richText(), text);
}

void TestEditor::click(frmEditor *editor, const char *name)
{
    auto *bar = editor->findChild<QToolBar *>("Toolbar1");
    QWidget *button = bar->widgetForAction(action(editor, name));
    QVERIFY(button);
    if (!button->isVisible()) // a narrow window puts the last buttons behind the bar's extension
        editor->resize(bar->sizeHint().width() + 40, editor->height());
    QTRY_VERIFY(button->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
}

QStringList TestEditor::pressed(frmEditor *editor)
{
    QStringList keys;
    for (QAction *a : editor->findChild<QToolBar *>("Toolbar1")->actions()) {
        if (a->isChecked())
            keys << a->text();
    }
    return keys;
}

void TestEditor::firstOpeningCreatesEmptyFileAndClosingWritesAll()
{
    frmEditor *editor = openPrimary();
    QVERIFY(QFile::exists(settingsPath()));
    QCOMPARE(QFileInfo(settingsPath()).size(), 0);
    QCOMPARE(editor->richText()->baseFont().family(), QString("Verdana"));
    QCOMPARE(editor->richText()->baseFont().pointSizeF(), 12.0);
    QCOMPARE(editor->windowTitle(), QString("Text Editor                 https://www.orvanne.com"));
    QCOMPARE(editor->commonDialog().fontName(), QString("Verdana")); // the font dialog starts there
    QCOMPARE(editor->commonDialog().fontSize(), 12.0);

    editor->close();
    const PropertyBag bag = storedBag();
    float f = 0;
    qint16 state = -1;
    qint32 colour = 0;
    Currency size;
    bool flag = true;
    QString name;
    for (const char *key : {"frmEditorWidth", "frmEditorHeight", "frmEditorTop", "frmEditorLeft"})
        QVERIFY2(bag.readFloat(QLatin1String(key), &f), key);
    QVERIFY(bag.readInt16("frmEditorWindowState", &state));
    QCOMPARE(state, qint16(0));
    QVERIFY(bag.readInt32("rtfBackColor", &colour));
    QCOMPARE(colour, qint32(0xffffff));
    QVERIFY(bag.readCurrency("rtfTextSize", &size));
    QCOMPARE(size.scaled, qint64(120000));
    for (const char *key : {"rtfTextUnderline", "rtfTextStrikeThrough", "rtfTextBold", "rtfTextItalic"}) {
        QVERIFY2(bag.readBool(QLatin1String(key), &flag), key);
        QVERIFY(!flag);
    }
    QVERIFY(bag.readText("rtfTextName", &name));
    QCOMPARE(name, QString("Verdana"));
}

void TestEditor::settingsRoundTripThroughPrimaryWindow()
{
    frmEditor *editor = openPrimary();
    editor->move(120, 90);
    editor->resize(700, 420);
    editor->richText()->setBackColor(QColor(0x10, 0x20, 0x30));
    QFont font("DejaVu Serif");
    font.setPointSizeF(15.5);
    font.setBold(true);
    font.setStrikeOut(true);
    editor->richText()->setBaseFont(font);
    editor->close();
    qint32 colour = 0;
    QVERIFY(storedBag().readInt32("rtfBackColor", &colour));
    QCOMPARE(colour, qint32(0x302010)); // stored as 0x00BBGGRR

    frmEditor *again = frmEditor::primary();
    QCOMPARE(again->size(), QSize(700, 420));
    QCOMPARE(again->pos(), QPoint(120, 90));
    QCOMPARE(again->richText()->backColor(), QColor(0x10, 0x20, 0x30));
    QCOMPARE(again->richText()->baseFont().family(), QString("DejaVu Serif"));
    QCOMPARE(again->richText()->baseFont().pointSizeF(), 15.5);
    QVERIFY(again->richText()->baseFont().bold());
    QVERIFY(again->richText()->baseFont().strikeOut());
    QVERIFY(!again->richText()->baseFont().italic());
    QVERIFY(again->commonDialog().fontBold());

    // A further window re-applies the stored geometry to the primary one and takes its size.
    again->show();
    again->resize(500, 300);
    action(again, "mnuNewEditor")->trigger();
    frmEditor *further = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == "frmEditorFurther")
            further = static_cast<frmEditor *>(w);
    }
    QVERIFY(further && further->isVisible());
    QCOMPARE(again->size(), QSize(700, 420));
    QCOMPARE(further->size(), QSize(700, 420));
    QCOMPARE(further->richText()->baseFont().family(), QString("DejaVu Serif"));
}

void TestEditor::maximizedAndMinimizedStates()
{
    qint16 state = -1;
    frmEditor *editor = openPrimary();
    editor->showMaximized();
    editor->close();
    QVERIFY(storedBag().readInt16("frmEditorWindowState", &state));
    QCOMPARE(state, qint16(2));
    QVERIFY(frmEditor::primary()->windowState() & Qt::WindowMaximized);
    delete frmEditor::existingPrimary();

    // The primary window closed while minimized is stored in its normal state.
    editor = openPrimary();
    editor->showMinimized();
    editor->close();
    QVERIFY(storedBag().readInt16("frmEditorWindowState", &state));
    QCOMPARE(state, qint16(0));
    delete frmEditor::existingPrimary();

    // A further window closing while the primary one is minimized stores 1.
    editor = openPrimary();
    frmEditor *further = frmEditor::createFurther();
    further->show();
    editor->showMinimized();
    further->close();
    QVERIFY(storedBag().readInt16("frmEditorWindowState", &state));
    QCOMPARE(state, qint16(1));
    delete editor;
    QVERIFY(frmEditor::primary()->windowState() & Qt::WindowMinimized);
    QVERIFY(!frmEditor::primary()->isVisible()); // loaded for its geometry, never shown by it
}

void TestEditor::furtherWindowKeepsStoredGeometryOfClosedPrimary()
{
    frmEditor *editor = openPrimary();
    editor->move(40, 50);
    editor->resize(610, 410);
    editor->close();
    QVERIFY(!frmEditor::existingPrimary());

    frmEditor *further = frmEditor::createFurther();
    QVERIFY(frmEditor::existingPrimary()); // created unseen for the geometry
    QVERIFY(!frmEditor::existingPrimary()->isVisible());
    further->show();
    further->resize(300, 200);
    further->richText()->setBackColor(Qt::yellow);
    further->close();
    const PropertyBag bag = storedBag();
    float width = 0, left = 0;
    qint32 colour = 0;
    QVERIFY(bag.readFloat("frmEditorWidth", &width));
    QVERIFY(bag.readFloat("frmEditorLeft", &left));
    QCOMPARE(width, 610.0f * 15);
    QCOMPARE(left, 40.0f * 15);
    QVERIFY(bag.readInt32("rtfBackColor", &colour));
    QCOMPARE(colour, qint32(0x00ffff)); // yellow: red and green
}

void TestEditor::shorterSaveAndForeignFileAreHarmless()
{
    frmEditor *editor = openPrimary();
    QFont font("A Very Long Font Family Name That Does Not Exist Anywhere");
    font.setPointSize(20);
    editor->richText()->setBaseFont(font);
    editor->close();
    const qint64 longSize = QFileInfo(settingsPath()).size();

    editor = openPrimary();
    editor->richText()->setBaseFont(QFont("Sans", 9));
    editor->close();
    // The file ends where the new content ends: nothing of the longer name stays in it.
    QFile saved(settingsPath());
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    saved.close();
    QVERIFY(bytes.size() < longSize);
    QCOMPARE(bytes, SettingsFile::wrap(SettingsFile::read(settingsPath())));
    QVERIFY(!bytes.contains("Exist Anywhere"));
    QVERIFY(!bytes.contains(QByteArray(reinterpret_cast<const char *>(u"Exist Anywhere"), 28)));
    QCOMPARE(frmEditor::primary()->richText()->baseFont().family(), QString("Sans"));
    delete frmEditor::existingPrimary();

    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray::fromHex("1120010040e2010000000000deadbeef"));
    file.close();
    editor = openPrimary();
    QCOMPARE(editor->richText()->baseFont().family(), QString("Verdana"));
    QVERIFY(ui->messages.isEmpty());
}

void TestEditor::impossibleGeometryIsRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<float>("value");
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinite = std::numeric_limits<float>::infinity();
    QTest::newRow("width not a number") << "frmEditorWidth" << nan;
    QTest::newRow("width beyond any integer") << "frmEditorWidth" << 1e30f;
    QTest::newRow("height infinite") << "frmEditorHeight" << infinite;
    QTest::newRow("height beyond a desktop") << "frmEditorHeight" << 4e8f;
    QTest::newRow("top minus infinite") << "frmEditorTop" << -infinite;
    QTest::newRow("top beyond a desktop") << "frmEditorTop" << 6e5f;
    QTest::newRow("left not a number") << "frmEditorLeft" << nan;
    QTest::newRow("left far below any integer") << "frmEditorLeft" << -1e12f;
}

void TestEditor::impossibleGeometryIsRefused()
{
    // A foreign settings file with a value no window can have: that value is skipped like any
    // other refused one, the others still apply.
    QFETCH(QString, name);
    QFETCH(float, value);
    const QRect designed = frmEditor::primary()->geometry();
    delete frmEditor::existingPrimary();
    PropertyBag bag;
    bag.writeProperty(name, value);
    bag.writeProperty("rtfBackColor", qint32(0x00ff00)); // green, as 0x00BBGGRR
    SettingsFile::write(settingsPath(), bag.contents());
    frmEditor *editor = frmEditor::primary();
    QCOMPARE(editor->geometry(), designed);
    QCOMPARE(editor->richText()->backColor(), QColor(0, 255, 0));
}

void TestEditor::newPageAsks()
{
    frmEditor *editor = openPrimary();
    type(editor, "keep me");
    ui->messageAnswers << MsgResult::Yes; // then the save dialog is cancelled
    action(editor, "mnuNew")->trigger();
    QCOMPARE(ui->messages.at(0).prompt, QString("Save Document?"));
    QCOMPARE(ui->messages.at(0).title, QString("Save"));
    QCOMPARE(ui->messages.at(0).icon, MsgIcon::Question);
    QCOMPARE(ui->messages.at(0).buttons, MsgButtons::YesNoCancel);
    QCOMPARE(ui->saveRequests.size(), 1);
    QCOMPARE(editor->richText()->toPlainText(), QString("keep me"));
    QCOMPARE(ui->messages.size(), 1);

    ui->messageAnswers << MsgResult::Cancel;
    action(editor, "mnuNew")->trigger();
    QCOMPARE(editor->richText()->toPlainText(), QString("keep me"));
    ui->messageAnswers << MsgResult::No;
    action(editor, "mnuNew")->trigger();
    QVERIFY(editor->richText()->toPlainText().isEmpty());
}

void TestEditor::closingAsksBeforeTypedTextIsLost_data()
{
    QTest::addColumn<QString>("before");   // what was done to the document, step by step
    QTest::addColumn<QString>("how");      // "window" (the title bar's close) or "menu"
    QTest::addColumn<int>("answer");       // to the question; -1 when none may be asked
    QTest::addColumn<bool>("saveDone");    // whether the save dialog (after Yes) is confirmed
    QTest::addColumn<bool>("closes");
    const int yes = int(MsgResult::Yes), no = int(MsgResult::No), cancel = int(MsgResult::Cancel);
    QTest::newRow("unchanged") << "" << "window" << -1 << false << true;
    QTest::newRow("opened") << "open" << "window" << -1 << false << true;
    QTest::newRow("typed, then saved") << "type,save" << "window" << -1 << false << true;
    QTest::newRow("typed, then emptied") << "type,clear" << "menu" << -1 << false << true;
    QTest::newRow("typed, then New Page") << "type,new" << "window" << -1 << false << true;
    QTest::newRow("typed: No discards") << "type" << "window" << no << false << true;
    QTest::newRow("typed: Cancel keeps the window") << "type" << "window" << cancel << false << false;
    QTest::newRow("typed: Yes saves") << "type" << "window" << yes << true << true;
    QTest::newRow("typed: Yes, save cancelled") << "type" << "window" << yes << false << false;
    QTest::newRow("opened, typed: Yes saves") << "open,type" << "menu" << yes << true << true;
    QTest::newRow("saved, typed again: Cancel") << "type,save,type" << "menu" << cancel << false << false;
}

void TestEditor::closingAsksBeforeTypedTextIsLost()
{
    QFETCH(QString, before);
    QFETCH(QString, how);
    QFETCH(int, answer);
    QFETCH(bool, saveDone);
    QFETCH(bool, closes);
    const QDir folder(m_folder->path());
    QFile notes(folder.filePath("notes.txt"));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("Opened text. ");
    notes.close();

    QPointer<frmEditor> editor = openPrimary();
    editor->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(editor));
    QString typed;
    for (const QString &step : before.split(',', Qt::SkipEmptyParts)) {
        if (step == "type") {
            editor->richText()->setFocus();
            QTest::keyClicks(QApplication::focusWidget(), "Typed words.");
            typed += "Typed words.";
        } else if (step == "open") {
            ui->openAnswers << notes.fileName();
            action(editor, "mnuOpen")->trigger();
        } else if (step == "save") {
            ui->saveAnswers << folder.filePath("early.rtf");
            action(editor, "mnuSaveAs")->trigger();
        } else if (step == "clear") {
            action(editor, "mnuClear")->trigger();
        } else if (step == "new") {
            ui->messageAnswers << MsgResult::No;
            action(editor, "mnuNew")->trigger();
            ui->messages.clear();
        }
    }
    const QString shown = editor->richText()->toPlainText();
    if (answer >= 0)
        ui->messageAnswers << MsgResult(answer);
    const QString savedPath = folder.filePath("kept.rtf");
    ui->saveAnswers << (saveDone ? std::optional<QString>(savedPath) : std::nullopt);

    if (how == "menu")
        action(editor, "mnuExit")->trigger();
    else
        editor->windowHandle()->close(); // as the window manager asks
    QCoreApplication::processEvents();

    QCOMPARE(ui->messages.size(), answer >= 0 ? 1 : 0);
    if (answer >= 0) {
        QCOMPARE(ui->messages.at(0).prompt, QString("Save changes to the document?"));
        QCOMPARE(ui->messages.at(0).title, QString("TextEditor"));
        QCOMPARE(ui->messages.at(0).buttons, MsgButtons::YesNoCancel);
    }
    QCOMPARE(ui->saveRequests.size(), int(before.count("save")) + (answer == int(MsgResult::Yes) ? 1 : 0));
    QCOMPARE(QFile::exists(savedPath), saveDone);
    if (saveDone) { // the saved file, as another program reads it
        PARCELO_REQUIRE_PEER(!QStandardPaths::findExecutable("unrtf").isEmpty(), "unrtf is not installed (deps/rtf.txt)");
        QProcess unrtf;
        unrtf.start("unrtf", {"--text", savedPath});
        QVERIFY(unrtf.waitForFinished(10000));
        QCOMPARE(unrtf.exitCode(), 0);
        const QString read = QString::fromUtf8(unrtf.readAllStandardOutput());
        QVERIFY2(read.contains(shown) && shown.contains(typed), qPrintable(read));
    }
    QCOMPARE(editor.isNull(), closes);
    // The settings are stored when the window closes, and only then.
    QCOMPARE(QFileInfo(settingsPath()).size() > 0, closes);
    if (!closes)
        QCOMPARE(editor->richText()->toPlainText(), shown);
}

void TestEditor::openPlainTextAndCancel()
{
    frmEditor *editor = openPrimary();
    type(editor, "original");
    ui->openAnswers << std::nullopt;
    action(editor, "mnuOpen")->trigger();
    QCOMPARE(editor->richText()->toPlainText(), QString("original"));
    QVERIFY(ui->messages.isEmpty());
    QCOMPARE(ui->openRequests.at(0).title, QString("Open"));
    QCOMPARE(ui->openRequests.at(0).filters,
             QStringList{"Text(txt, rtf, wri, log, doc, java) (*.txt *.doc *.log *.rtf *.wri *.java)"});

    const QString path = QDir(m_folder->path()).filePath("Hello.java");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("class Hello {\n    // caf\xc3\xa9\n}\n");
    file.close();
    ui->openAnswers << path;
    action(editor, "mnuOpen")->trigger();
    QCOMPARE(editor->richText()->toPlainText(), QString::fromUtf8("class Hello {\n    // caf\xc3\xa9\n}\n"));
    QVERIFY(editor->commonDialog().fileName().isEmpty());
    QVERIFY(ui->messages.isEmpty());
}

void TestEditor::openFailureAsksAbortRetryIgnore()
{
    frmEditor *editor = openPrimary();
    const QString missing = QDir(m_folder->path()).filePath("gone.rtf");
    ui->openAnswers << missing;
    ui->messageAnswers << MsgResult::Retry << MsgResult::Ignore;
    action(editor, "mnuOpen")->trigger();
    QCOMPARE(ui->messages.size(), 2); // the retried load failed again, then Ignore went on
    QCOMPARE(ui->messages.at(0).buttons, MsgButtons::AbortRetryIgnore);
    QCOMPARE(ui->messages.at(0).icon, MsgIcon::Critical);
    bool numeric = false;
    ui->messages.at(0).title.toInt(&numeric);
    QVERIFY2(numeric, qPrintable(ui->messages.at(0).title));
    QVERIFY(ui->messages.at(0).prompt.contains("gone.rtf"));
    QVERIFY(editor->commonDialog().fileName().isEmpty()); // the steps after it ran
}

void TestEditor::saveAsWritesRichTextWithDefaultExtension()
{
    frmEditor *editor = openPrimary();
    type(editor, "Dear Ann");
    editor->richText()->selectAll();
    editor->Toolbar1_ButtonClick("Bold");
    const QString base = QDir(m_folder->path()).filePath("letter");
    ui->saveAnswers << base;
    action(editor, "mnuSaveAs")->trigger();
    QCOMPARE(ui->saveRequests.at(0).title, QString("Save As"));
    QVERIFY(ui->saveRequests.at(0).confirmOverwrite);
    QFile saved(base + ".txt");
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    QVERIFY(bytes.startsWith("{\\rtf1"));
    QVERIFY(bytes.contains("Dear Ann"));

    // Loading it back keeps the text and the bold face.
    ui->openAnswers << base + ".txt";
    action(editor, "mnuClear")->trigger();
    action(editor, "mnuOpen")->trigger();
    QCOMPARE(editor->richText()->toPlainText(), QString("Dear Ann"));
    editor->richText()->setSelStart(2);
    QCOMPARE(editor->richText()->selBold(), std::optional<bool>(true));

    // A folder that cannot be written: the error is offered with Abort/Retry/Ignore.
    ui->saveAnswers << QDir(m_folder->path()).filePath("no/such/folder/x.rtf");
    ui->messageAnswers << MsgResult::Abort;
    action(editor, "mnuSaveAs")->trigger();
    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).buttons, MsgButtons::AbortRetryIgnore);
}

void TestEditor::saveAsOverDocumentWithLeftOutContentAsks_data()
{
    // Steps before the last Save As: "open" report.rtf (a footnote and a header, which the
    // editor leaves out), "openPlain" another file, "new" (File > New, not saving), "type",
    // "saveOver" (Save As over report.rtf, answering Yes).
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("asks");
    QTest::newRow("opened, same file") << QStringList{"open"} << "report.rtf" << true;
    QTest::newRow("opened, same file by another path") << QStringList{"open", "type"} << "./report.rtf" << true;
    QTest::newRow("opened, another name") << QStringList{"open"} << "copy.rtf" << false;
    QTest::newRow("opened, then New") << QStringList{"open", "new", "type"} << "report.rtf" << false;
    QTest::newRow("opened, then another file") << QStringList{"open", "openPlain"} << "report.rtf" << false;
    QTest::newRow("new, then opened") << QStringList{"new", "open"} << "report.rtf" << true;
    QTest::newRow("already saved over") << QStringList{"open", "saveOver"} << "report.rtf" << false;
}

void TestEditor::saveAsOverDocumentWithLeftOutContentAsks()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, target);
    QFETCH(bool, asks);
    const QDir folder(m_folder->path());
    const QString path = folder.filePath("report.rtf");
    const QByteArray original = "{\\rtf1\\ansi{\\header Page head}Body{\\footnote\\pard note}.\\par}";
    auto write = [](const QString &name, const QByteArray &bytes) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    auto contents = [](const QString &name) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    write(path, original);
    write(folder.filePath("plain.txt"), "plain text\n");

    frmEditor *editor = openPrimary();
    qsizetype questions = 0; // messages the steps answered
    for (const QString &step : std::as_const(steps)) {
        if (step == "open" || step == "openPlain") {
            ui->openAnswers << (step == "open" ? path : folder.filePath("plain.txt"));
            action(editor, "mnuOpen")->trigger();
            if (step == "open")
                QCOMPARE(editor->richText()->toPlainText(), QString("Body."));
        } else if (step == "new") {
            ui->messageAnswers << MsgResult::No;
            action(editor, "mnuNew")->trigger();
            ++questions;
            QVERIFY(editor->richText()->toPlainText().isEmpty());
        } else if (step == "type") {
            type(editor, "Added");
        } else if (step == "saveOver") {
            ui->saveAnswers << path;
            ui->messageAnswers << MsgResult::Yes;
            action(editor, "mnuSaveAs")->trigger();
            ++questions;
            const QByteArray saved = contents(path);
            QVERIFY(saved.contains("Body.") && !saved.contains("note"));
        }
    }
    QCOMPARE(ui->messages.size(), questions);

    const QString chosen = folder.filePath(target);
    const QByteArray before = contents(chosen);
    ui->saveAnswers << chosen;
    if (asks)
        ui->messageAnswers << MsgResult::No;
    action(editor, "mnuSaveAs")->trigger();
    if (asks) {
        QCOMPARE(ui->messages.size(), questions + 1);
        const auto &message = ui->messages.last();
        QCOMPARE(message.title, QString("TextEditor"));
        QCOMPARE(message.buttons, MsgButtons::YesNo);
        QVERIFY2(message.prompt.contains("footnotes") && message.prompt.contains("headers and footers")
                     && message.prompt.contains("report.rtf"),
                 qPrintable(message.prompt));
        QCOMPARE(contents(chosen), before); // No keeps the file as it was
    } else {
        QCOMPARE(ui->messages.size(), questions);
        QVERIFY(contents(chosen).contains(editor->richText()->toPlainText().section(u'\n', 0, 0).toUtf8()));
        QVERIFY(!contents(chosen).contains("note"));
    }
}

void TestEditor::printsSelectionOrWholeDocument()
{
    frmEditor *editor = openPrimary();
    type(editor, "First paragraph here");
    QTest::keyClick(editor->richText(), Qt::Key_Return);
    type(editor, "Second paragraph there");
    const QString pdf = QDir(m_folder->path()).filePath("out.pdf");
    ui->printToPdf = pdf;

    auto printedText = [&] {
        QProcess pdftotext;
        pdftotext.start("pdftotext", {pdf, "-"});
        pdftotext.waitForFinished(30000);
        return QString::fromUtf8(pdftotext.readAllStandardOutput());
    };

    ui->printAnswers << true;
    action(editor, "mnuPrint")->trigger();
    QVERIFY(!ui->printRequests.at(0).selectionPreselected);
    QVERIFY(!ui->printRequests.at(0).pageRangeAllowed);
    QString text = printedText();
    QVERIFY2(text.contains("First paragraph") && text.contains("Second paragraph"), qPrintable(text));

    editor->richText()->setSelStart(0);
    editor->richText()->setSelLength(5);
    ui->printAnswers << true;
    action(editor, "mnuPrint")->trigger();
    QVERIFY(ui->printRequests.at(1).selectionPreselected);
    QCOMPARE(editor->commonDialog().flags(), 265);
    text = printedText();
    QVERIFY2(text.contains("First") && !text.contains("paragraph"), qPrintable(text));

    // A cancelled print dialog ends the command silently.
    ui->printAnswers << false;
    action(editor, "mnuPrint")->trigger();
    QVERIFY(ui->messages.isEmpty());
}

// What the area shows left of a paragraph's first line: a list item's number.
static QImage numberShown(RichTextBox *box, const QString &paragraph)
{
    const QTextBlock block = box->document()->find(paragraph).block();
    const QRectF bounds = box->document()->documentLayout()->blockBoundingRect(block);
    const QTextLine line = block.layout()->lineAt(0);
    const QPoint scrolled(box->horizontalScrollBar()->value(), box->verticalScrollBar()->value());
    const QRect area(0, qRound(bounds.top() + line.y()), qRound(bounds.left() + line.naturalTextRect().left()),
                     qRound(line.height()));
    return box->viewport()->grab(area.translated(-scrolled)).toImage();
}

// A word processor's lists that Qt's own lists cannot show (a list starting at 3, outline
// numbers): the editor shows, prints and saves the word processor's numbers, and Enter at the
// end of an item makes the next one.
void TestEditor::wordProcessorListNumbers()
{
    const QString path = QDir(m_folder->path()).filePath("numbers.rtf");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\n"
               "{\\*\\listtable{\\list{\\listlevel\\levelnfc0\\levelstartat3{\\leveltext\\'02\\'00.;}{\\levelnumbers\\'01;}"
               "\\fi-360\\li720}\\listid1}{\\list{\\listlevel\\levelnfc0{\\leveltext\\'02\\'00.;}{\\levelnumbers\\'01;}"
               "\\fi-360\\li720}{\\listlevel\\levelnfc0{\\leveltext\\'04\\'00.\\'01.;}{\\levelnumbers\\'01\\'03;}\\fi-360\\li1440}"
               "{\\listlevel\\levelnfc0{\\leveltext\\'06\\'00.\\'01.\\'02.;}{\\levelnumbers\\'01\\'03\\'05;}\\fi-360\\li2160}"
               "\\listid2}}\n{\\*\\listoverridetable{\\listoverride\\listid1\\ls1}{\\listoverride\\listid2\\ls2}}\n"
               "\\pard\\f0\\fs24 Before\\par\n"
               "{\\listtext 3.\\tab}\\pard\\ls1\\fi-360\\li720 Third item\\par{\\listtext 4.\\tab}Fourth item\\par\n"
               "{\\listtext 1.\\tab}\\pard\\ls2\\fi-360\\li720 Chapter one\\par{\\listtext 2.\\tab}Chapter two\\par\n"
               "{\\listtext 2.1.\\tab}\\pard\\ls2\\ilvl1\\fi-360\\li1440 Section two one\\par\n"
               "{\\listtext 2.1.1.\\tab}\\pard\\ls2\\ilvl2\\fi-360\\li2160 Point a\\par{\\listtext 2.1.2.\\tab}Point b\\par"
               "{\\listtext 2.1.3.\\tab}Point c\\par\n"
               "\\pard After\\par}");
    file.close();
    frmEditor *editor = openPrimary();
    editor->resize(640, 480);
    ui->openAnswers << path;
    action(editor, "mnuOpen")->trigger();
    RichTextBox *box = editor->richText();
    QTRY_VERIFY(box->toPlainText().contains("Point c"));

    // Each number is drawn as Qt draws its own list's: "3." as Qt draws the third item of a list.
    QTextDocument *qtList = box->document()->clone(this);
    QTextCursor third = qtList->find("Third item");
    third.movePosition(QTextCursor::StartOfBlock);
    third.insertBlock();
    third.insertBlock();
    QTextBlockFormat drawnByQt = third.blockFormat();
    drawnByQt.clearProperty(QTextFormat::ListStyle);
    third.setBlockFormat(drawnByQt);
    RichTextBox reference;
    reference.setDocument(qtList);
    reference.setPalette(box->palette());
    reference.resize(box->size());
    reference.show();
    QVERIFY(QTest::qWaitForWindowExposed(&reference));
    const QImage three = numberShown(&reference, "Third item");
    QCOMPARE(numberShown(box, "Third item"), three);
    QVERIFY(numberShown(box, "Fourth item") != three);
    reference.hide();

    // Enter at the end of the last item makes the next one, numbered 5.
    editor->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(editor));
    box->setTextCursor(box->document()->find("Fourth item"));
    box->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClicks(QApplication::focusWidget(), "Fifth item");
    const QString shown = Rtf::plainText(box->document());
    QVERIFY2(shown.contains("Before\n3.\tThird item\n4.\tFourth item\n5.\tFifth item\n1.\tChapter one\n2.\tChapter two\n"
                            "2.1.\tSection two one\n2.1.1.\tPoint a\n2.1.2.\tPoint b\n2.1.3.\tPoint c\nAfter"),
             qPrintable(shown));

    // Printed and saved with the same numbers.
    const QString pdf = QDir(m_folder->path()).filePath("numbers.pdf");
    ui->printToPdf = pdf;
    ui->printAnswers << true;
    action(editor, "mnuPrint")->trigger();
    QProcess pdftotext;
    pdftotext.start("pdftotext", {"-layout", pdf, "-"});
    QVERIFY(pdftotext.waitForFinished(30000));
    const QString printed = QString::fromUtf8(pdftotext.readAllStandardOutput()).simplified();
    QVERIFY2(printed.contains("3. Third item 4. Fourth item 5. Fifth item 1. Chapter one 2. Chapter two 2.1. Section two one "
                              "2.1.1. Point a 2.1.2. Point b 2.1.3. Point c After"),
             qPrintable(printed));
    const QString saved = QDir(m_folder->path()).filePath("saved.rtf");
    ui->saveAnswers << saved;
    action(editor, "mnuSaveAs")->trigger();
    QTextDocument back;
    QVERIFY(Rtf::loadFile(saved, &back));
    QCOMPARE(Rtf::plainText(&back), shown);
}

void TestEditor::clipboardCommands()
{
    frmEditor *editor = openPrimary();
    RichTextBox *rtf = editor->richText();
    type(editor, "one two three");
    QApplication::clipboard()->setText("stale");
    rtf->setSelStart(0);
    action(editor, "mnuCopy")->trigger(); // nothing selected: an empty text
    QCOMPARE(QApplication::clipboard()->text(), QString());

    rtf->setSelStart(4);
    rtf->setSelLength(3);
    action(editor, "mnuCut")->trigger();
    QCOMPARE(QApplication::clipboard()->text(), QString("two"));
    QCOMPARE(rtf->toPlainText(), QString("one  three"));

    rtf->setSelStart(0);
    rtf->setSelLength(3);
    action(editor, "mnuPaste")->trigger();
    QCOMPARE(rtf->toPlainText(), QString("two  three"));

    QApplication::clipboard()->clear();
    rtf->setSelStart(5);
    rtf->setSelLength(5);
    action(editor, "mnuPaste")->trigger(); // no text there: the selection goes
    QCOMPARE(rtf->toPlainText(), QString("two  "));

    action(editor, "mnuSelect")->trigger();
    QCOMPARE(rtf->selStart(), 0);
    QCOMPARE(rtf->selLength(), 5);
    action(editor, "mnuClear")->trigger();
    QVERIFY(rtf->toPlainText().isEmpty());
}

void TestEditor::findAndFindNext()
{
    frmEditor *editor = openPrimary();
    RichTextBox *rtf = editor->richText();
    type(editor, "Alpha beta ALPHA");
    ui->inputAnswers << QString("alpha");
    action(editor, "mnuFind")->trigger();
    QCOMPARE(ui->inputs.at(0).prompt, QString("Type Text to Find"));
    QCOMPARE(ui->inputs.at(0).title, QString("Find"));
    QCOMPARE(rtf->selStart(), 0);
    QCOMPARE(rtf->selLength(), 5);
    action(editor, "mnuFindNext")->trigger();
    QCOMPARE(rtf->selStart(), 11);
    action(editor, "mnuFindNext")->trigger();
    QCOMPARE(rtf->selStart(), 11); // left as it was
    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).prompt, QString("No more \"alpha\" to find"));
    QCOMPARE(ui->messages.at(0).title, QString("TextEditor"));
    QCOMPARE(ui->messages.at(0).icon, MsgIcon::Exclamation);

    // With a word selected, Find offers it and finds its first occurrence.
    rtf->setSelStart(6);
    rtf->setSelLength(4);
    ui->inputAnswers << QString("beta");
    action(editor, "mnuFind")->trigger();
    QCOMPARE(ui->inputs.at(1).defaultText, QString("beta"));
    QCOMPARE(rtf->selStart(), 6);
}

void TestEditor::findOverlapsAndSkipsCaret()
{
    frmEditor *editor = openPrimary();
    RichTextBox *rtf = editor->richText();
    type(editor, "aaaa");
    ui->inputAnswers << QString("aa");
    action(editor, "mnuFind")->trigger();
    QCOMPARE(rtf->selStart(), 0);
    action(editor, "mnuFindNext")->trigger();
    QCOMPARE(rtf->selStart(), 1);
    action(editor, "mnuFindNext")->trigger();
    QCOMPARE(rtf->selStart(), 2);
    action(editor, "mnuFindNext")->trigger();
    QCOMPARE(ui->messages.size(), 1);

    action(editor, "mnuClear")->trigger();
    type(editor, "cat cat");
    ui->inputAnswers << QString("cat");
    action(editor, "mnuFind")->trigger();
    rtf->setSelStart(0); // the user puts the caret back at the start
    action(editor, "mnuFindNext")->trigger();
    QCOMPARE(rtf->selStart(), 4);
}

void TestEditor::findMissingTextAndSeparateSearchTexts()
{
    frmEditor *editor = openPrimary();
    RichTextBox *rtf = editor->richText();
    type(editor, "some words");
    // Find Next before any Find asks like Find.
    ui->inputAnswers << QString("absent");
    action(editor, "mnuFindNext")->trigger();
    QCOMPARE(ui->inputs.size(), 1);
    QCOMPARE(ui->messages.at(0).prompt, QString("Cannot Find absent"));
    QCOMPARE(ui->messages.at(0).icon, MsgIcon::Information);
    QCOMPARE(rtf->selStart(), 0);
    QCOMPARE(rtf->selLength(), 0);

    ui->inputAnswers << std::nullopt; // cancelled: an empty search text
    action(editor, "mnuFind")->trigger();
    QCOMPARE(ui->messages.at(1).prompt, QString("Cannot Find "));

    frmEditor *other = frmEditor::createFurther();
    other->show();
    ui->inputAnswers << QString("words");
    action(editor, "mnuFind")->trigger();
    QCOMPARE(editor->searchText(), QString("words"));
    QCOMPARE(other->searchText(), QString());
}

void TestEditor::togglesAndButtonsFollowSelection()
{
    // After every click and every selection change the seven buttons show exactly what the
    // document holds at the selection.
    frmEditor *editor = openPrimary();
    RichTextBox *rtf = editor->richText();
    type(editor, "plain bold");
    QCOMPARE(pressed(editor), QStringList{"Align Left"});
    rtf->setSelStart(6);
    rtf->setSelLength(4);
    click(editor, "tbBold");
    QCOMPARE(rtf->selBold(), std::optional<bool>(true));
    QCOMPARE(pressed(editor), (QStringList{"Bold", "Align Left"}));

    rtf->setSelStart(8); // caret inside the bold word
    QCOMPARE(pressed(editor), (QStringList{"Bold", "Align Left"}));
    rtf->setSelStart(2); // into plain text
    QCOMPARE(pressed(editor), QStringList{"Align Left"});

    // A selection that is partly bold shows released and becomes wholly bold; a second click
    // makes it plain.
    rtf->setSelStart(0);
    rtf->setSelLength(10);
    QCOMPARE(pressed(editor), QStringList{"Align Left"});
    click(editor, "tbBold");
    QCOMPARE(rtf->selBold(), std::optional<bool>(true));
    QCOMPARE(pressed(editor), (QStringList{"Bold", "Align Left"}));
    click(editor, "tbBold");
    QCOMPARE(rtf->selBold(), std::optional<bool>(false));
    QCOMPARE(pressed(editor), QStringList{"Align Left"});

    click(editor, "tbItalic");
    click(editor, "tbUnderline");
    click(editor, "tbStrikeThrough");
    QCOMPARE(rtf->selItalic(), std::optional<bool>(true));
    QCOMPARE(rtf->selUnderline(), std::optional<bool>(true));
    QCOMPARE(rtf->selStrikeThru(), std::optional<bool>(true));
    QCOMPARE(pressed(editor), (QStringList{"Italic", "Underline", "Strike Through", "Align Left"}));
    // Undo takes the strike-through away under a still selection: its button follows at once.
    while (rtf->selStrikeThru() == std::optional<bool>(true) && rtf->document()->isUndoAvailable())
        rtf->undo();
    QCOMPARE(rtf->selStrikeThru(), std::optional<bool>(false));
    QCOMPARE(pressed(editor), (QStringList{"Italic", "Underline", "Align Left"}));
}

void TestEditor::alignmentButtons()
{
    frmEditor *editor = openPrimary();
    RichTextBox *rtf = editor->richText();
    type(editor, "centred");
    action(editor, "mnuAC")->trigger();
    QCOMPARE(rtf->selAlignment(), std::optional<int>(RichTextBox::AlignCenter));
    QCOMPARE(pressed(editor), QStringList{"Center"});
    click(editor, "tbAlignRight");
    QCOMPARE(rtf->selAlignment(), std::optional<int>(RichTextBox::AlignRight));
    QCOMPARE(pressed(editor), QStringList{"Align Right"});
    click(editor, "tbAlignLeft");
    QCOMPARE(pressed(editor), QStringList{"Align Left"});
    // A click on the pressed button leaves the paragraph and the button as they are.
    click(editor, "tbAlignLeft");
    QCOMPARE(rtf->selAlignment(), std::optional<int>(RichTextBox::AlignLeft));
    QCOMPARE(pressed(editor), QStringList{"Align Left"});
    click(editor, "tbCenter");
    QCOMPARE(pressed(editor), QStringList{"Center"});
    // The plain "Justify" button neither aligns nor stays pressed.
    click(editor, "tbJustify");
    QCOMPARE(rtf->selAlignment(), std::optional<int>(RichTextBox::AlignCenter));
    QCOMPARE(pressed(editor), QStringList{"Center"});
    action(editor, "mnuRAR")->trigger();
    QCOMPARE(pressed(editor), QStringList{"Align Right"});

    // Paragraphs aligned differently, selected together: no alignment button is pressed.
    rtf->moveCursor(QTextCursor::End);
    QTest::keyClick(rtf, Qt::Key_Return);
    type(editor, "left");
    action(editor, "mnuAL")->trigger();
    QCOMPARE(pressed(editor), QStringList{"Align Left"});
    action(editor, "mnuSelect")->trigger();
    QCOMPARE(pressed(editor), QStringList());
}

void TestEditor::fontAndBackColourShareTheColour()
{
    frmEditor *editor = openPrimary();
    RichTextBox *rtf = editor->richText();
    type(editor, "colour me");
    ui->colorAnswers << QColor(Qt::darkGreen);
    action(editor, "mnuRBC")->trigger();
    QCOMPARE(rtf->backColor(), QColor(Qt::darkGreen));

    rtf->setSelStart(0);
    rtf->setSelLength(6);
    FontChoice chosen;
    chosen.name = "DejaVu Sans Mono";
    chosen.size = 10;
    chosen.italic = true;
    chosen.color = Qt::red;
    ui->fontAnswers << chosen;
    action(editor, "mnuRFont")->trigger();
    QCOMPARE(ui->fontRequests.at(0).color, QColor(Qt::darkGreen)); // where the colour dialog left it
    QCOMPARE(ui->fontRequests.at(0).name, QString("Verdana"));
    QCOMPARE(rtf->baseFont().family(), QString("Verdana")); // the selection only changes
    QTextCursor cursor(rtf->document());
    cursor.setPosition(1);
    QCOMPARE(cursor.charFormat().foreground().color(), QColor(Qt::red));
    QCOMPARE(cursor.charFormat().fontFamilies().toStringList(), QStringList{"DejaVu Sans Mono"});
    QVERIFY(cursor.charFormat().fontItalic());
    cursor.setPosition(8);
    QVERIFY(cursor.charFormat().foreground().color() != QColor(Qt::red));

    // Cancelling changes nothing.
    action(editor, "mnuRFont")->trigger();
    QCOMPARE(rtf->baseFont().family(), QString("Verdana"));
    QVERIFY(ui->messages.isEmpty());
}

void TestEditor::fontChangesSelectionOnly_data()
{
    QTest::addColumn<QByteArray>("document");
    // Body text in the document's default font, as three word processors write it.
    QTest::newRow("WordPad, Calibri 11")
        << QByteArray("{\\rtf1\\ansi\\ansicpg1252\\deff0\\nouicompat\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 Calibri;}}\r\n"
                      "{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1 \r\n"
                      "\\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang9 Body text with a Chosen word.\\par\r\n"
                      "More body \\b bold\\b0  text.\\par\r\n}\r\n");
    QTest::newRow("default font Courier New at the default size")
        << QByteArray("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fmodern Courier New;}{\\f1\\fswiss Arial;}}"
                      "\\pard\\plain\\f1\\fs32\\b Heading\\par\\pard\\plain Body text with a Chosen word.\\par"
                      "\\pard\\plain more body}");
    QTest::newRow("LibreOffice, DejaVu Serif 12")
        << QByteArray("{\\rtf1\\ansi\\deff4\\adeflang1025{\\fonttbl{\\f0\\froman\\fprq2\\fcharset0 Times New Roman;}"
                      "{\\f4\\froman\\fprq2\\fcharset0 DejaVu Serif;}}{\\colortbl;\\red0\\green0\\blue0;\\red0\\green0\\blue255;}"
                      "{\\stylesheet{\\s0\\snext0\\dbch\\af5\\langfe2052\\dbch\\af6\\afs24\\alang1081\\loch\\f4\\fs24\\lang1033 Normal;}}\n"
                      "\\pard\\plain \\s0\\dbch\\af5\\langfe2052\\dbch\\af6\\afs24\\alang1081\\loch\\f4\\fs24\\lang1033"
                      "{\\rtlch \\ltrch\\loch Body text with a Chosen word.}\\par\n"
                      "\\pard\\plain \\s0\\loch\\f4\\fs24{\\cf2\\rtlch \\ltrch\\loch blue} words\\par}");
    QTest::newRow("no font table") << QByteArray("{\\rtf1\\ansi Body text with a Chosen word.\\par {\\fs32 big} end}");
}

// Open, Save As, Font on one word, Save As: as LibreOffice reads the files, every word of the
// first copy looks as in the original (the editor's base font differs from the document's),
// and in the second only the chosen word has changed.
void TestEditor::fontChangesSelectionOnly()
{
    QFETCH(QByteArray, document);
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    PARCELO_REQUIRE_PEER(!soffice.isEmpty(), "LibreOffice (soffice) is not installed; deps/rtf.txt lists it");
    const QDir folder(m_folder->path());
    const QString original = folder.filePath("original.rtf");
    QFile file(original);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(document);
    file.close();

    frmEditor *editor = openPrimary();
    RichTextBox *rtf = editor->richText();
    const QFont base = rtf->baseFont();
    ui->openAnswers << original;
    action(editor, "mnuOpen")->trigger();
    const QString unchanged = folder.filePath("unchanged.rtf");
    ui->saveAnswers << unchanged;
    action(editor, "mnuSaveAs")->trigger();
    rtf->setSelStart(rtf->toPlainText().indexOf("Chosen"));
    rtf->setSelLength(6);
    FontChoice chosen;
    chosen.name = "DejaVu Sans Mono";
    chosen.size = 10;
    chosen.italic = true;
    ui->fontAnswers << chosen;
    action(editor, "mnuRFont")->trigger();
    const QString saved = folder.filePath("saved.rtf");
    ui->saveAnswers << saved;
    action(editor, "mnuSaveAs")->trigger();
    QVERIFY(ui->messages.isEmpty());

    const QString html = folder.filePath("html");
    QVERIFY(folder.mkpath("html"));
    const QString failure = convertWithLibreOffice(soffice, folder.filePath("profile"), "html", html, {original, unchanged, saved});
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const auto looksOf = [&](const char *name) {
        QFile page(QDir(html).filePath(QLatin1String(name)));
        return page.open(QIODevice::ReadOnly) ? wordLooksOfHtml(page.readAll()) : QList<WordLook>();
    };
    const QList<WordLook> originalLooks = looksOf("original.html");
    QVERIFY(originalLooks.size() > 5);
    QList<WordLook> expected = looksOf("unchanged.html");
    QString difference = firstLookDifference(originalLooks, expected);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    for (WordLook &look : expected) {
        if (look.text == "Chosen") {
            look.face = "DejaVu Sans Mono";
            look.points = 10;
            look.italic = true;
        }
    }
    difference = firstLookDifference(expected, looksOf("saved.html"));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    // With nothing selected the choice goes to the typing position.
    rtf->setSelStart(rtf->toPlainText().size());
    chosen.name = "DejaVu Serif";
    chosen.size = 20;
    chosen.italic = false;
    ui->fontAnswers << chosen;
    action(editor, "mnuRFont")->trigger();
    rtf->insertPlainText("typed");
    QTextCursor cursor(rtf->document());
    cursor.setPosition(rtf->toPlainText().size());
    QCOMPARE(cursor.charFormat().fontPointSize(), 20.0);
    QCOMPARE(cursor.charFormat().fontFamilies().toStringList(), QStringList{"DejaVu Serif"});
    QCOMPARE(rtf->baseFont(), base);
}

void TestEditor::insertImageThroughClipboard()
{
    frmEditor *editor = openPrimary();
    RichTextBox *rtf = editor->richText();
    type(editor, "before after");
    QImage picture(24, 16, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    const QString path = QDir(m_folder->path()).filePath("dot.bmp");
    QVERIFY(picture.save(path, "BMP"));

    rtf->setSelStart(7);
    ui->openAnswers << path;
    action(editor, "mnuInsertImage")->trigger();
    QCOMPARE(ui->openRequests.at(0).title, QString("Pics"));
    QVERIFY(ui->messages.isEmpty());
    QCOMPARE(rtf->toPlainText(), QString("before ") + QChar(QChar::ObjectReplacementCharacter) + "after");
    QVERIFY(QApplication::clipboard()->mimeData()->hasImage()); // the picture stays there

    // Paste takes plain text only: with a picture on the clipboard it deletes the selection.
    rtf->setSelStart(0);
    rtf->setSelLength(6);
    action(editor, "mnuPaste")->trigger();
    QCOMPARE(rtf->toPlainText(), QString(" ") + QChar(QChar::ObjectReplacementCharacter) + "after");

    // The text area's own keys, pressed where the focus is: the plain text on the clipboard has
    // no mark for the picture, while the formatted copy keeps the picture for a paste back.
    editor->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(editor));
    rtf->setFocus();
    const QString withPicture = rtf->toPlainText();
    for (Qt::Key key : {Qt::Key_C, Qt::Key_X}) {
        QApplication::clipboard()->setText("stale");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(QApplication::focusWidget(), key, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QString(" after"));
        QVERIFY(QApplication::clipboard()->mimeData()->hasHtml());
    }
    QVERIFY(rtf->toPlainText().isEmpty());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
    QVERIFY(rtf->toPlainText().endsWith(QString(QChar::ObjectReplacementCharacter) + "after"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier); // the paste
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier); // the cut
    QCOMPARE(rtf->toPlainText(), withPicture);

    // Copy and Cut of a selection with the picture: its text only, the picture leaves no mark.
    action(editor, "mnuSelect")->trigger();
    action(editor, "mnuCopy")->trigger();
    QCOMPARE(QApplication::clipboard()->text(), QString(" after"));
    QApplication::clipboard()->clear();
    action(editor, "mnuCut")->trigger();
    QCOMPARE(QApplication::clipboard()->text(), QString(" after"));
    QVERIFY(rtf->toPlainText().isEmpty());
}

void TestEditor::unreadablePictureAsks()
{
    frmEditor *editor = openPrimary();
    const QString path = QDir(m_folder->path()).filePath("fake.gif");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a picture at all");
    file.close();
    ui->openAnswers << path;
    ui->messageAnswers << MsgResult::Ignore;
    action(editor, "mnuInsertImage")->trigger();
    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).title, QString("481"));
    QCOMPARE(ui->messages.at(0).buttons, MsgButtons::AbortRetryIgnore);
    QVERIFY(editor->richText()->toPlainText().isEmpty());
}

void TestEditor::menusAndToolBar()
{
    frmEditor *editor = openPrimary();
    QStringList menus;
    for (QAction *a : editor->menuBar()->actions())
        menus << a->text();
    QCOMPARE(menus, (QStringList{"&File", "&Edit", "&Online", "&Window", "&Help"}));
    auto *window = editor->findChild<QMenu *>("mnuWindow");
    QVERIFY(!window->menuAction()->isEnabled());
    QCOMPARE(action(editor, "mnuFind")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
    QCOMPARE(action(editor, "mnuFindNext")->shortcut(), QKeySequence(Qt::Key_F3));
    QCOMPARE(action(editor, "mnuExit")->text(), QString("Close Text&Editor"));
    QCOMPARE(action(editor, "mnuTH")->text(), QString("Tile &Horizentally"));
    // Font and BackColor only in the context menu: no menu of the menu bar holds them, whether
    // as the same entries or as entries of that caption.
    QList<QAction *> barEntries;
    QStringList barCaptions;
    QList<QMenu *> menusLeft;
    for (QAction *top : editor->menuBar()->actions())
        menusLeft << top->menu();
    while (!menusLeft.isEmpty()) {
        for (QAction *entry : menusLeft.takeFirst()->actions()) {
            if (entry->menu())
                menusLeft << entry->menu();
            barEntries << entry;
            barCaptions << entry->text().remove('&').toLower();
        }
    }
    QVERIFY(barEntries.size() > 30);
    for (const char *name : {"mnuRFont", "mnuRBC"}) {
        QVERIFY(editor->findChild<QMenu *>("mnuRClick")->actions().contains(action(editor, name)));
        QVERIFY2(!barEntries.contains(action(editor, name)), name);
    }
    QVERIFY(!barCaptions.contains("font"));
    QVERIFY(!barCaptions.contains("backcolor"));

    QStringList tips;
    for (QAction *a : editor->findChild<QToolBar *>("Toolbar1")->actions())
        tips << (a->isSeparator() ? QString("-") : a->toolTip());
    QCOMPARE(tips, (QStringList{"New", "Open", "Save", "-", "Print", "Send", "-", "Cut", "Copy", "Paste",
                                "Delete", "-", "Find", "-", "Bold", "Italic", "Underline", "Strike Through",
                                "-", "Align Left", "Center", "Align Right", "Justify"}));

    type(editor, "unchanged");
    action(editor, "tbDelete")->trigger();
    action(editor, "tbJustify")->trigger();
    QCOMPARE(editor->richText()->toPlainText(), QString("unchanged"));
    QVERIFY(ui->messages.isEmpty());

    // Close stores the settings and goes away (the typed text is let go).
    QPointer<frmEditor> closing = editor;
    ui->messageAnswers << MsgResult::No;
    action(editor, "mnuExit")->trigger();
    QTRY_VERIFY(closing.isNull());
    QVERIFY(QFileInfo(settingsPath()).size() > 12);
}

void TestEditor::contextMenuOnRightPress()
{
    frmEditor *editor = openPrimary();
    auto *menu = editor->findChild<QMenu *>("mnuRClick");
    QVERIFY(!menu->isVisible());
    QTest::mousePress(editor->richText()->viewport(), Qt::RightButton, {}, QPoint(20, 20));
    QTRY_VERIFY(menu->isVisible());
    menu->hide();
    QTest::mouseRelease(editor->richText()->viewport(), Qt::RightButton, {}, QPoint(20, 20));
    QTest::mousePress(editor->richText()->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    QVERIFY(!menu->isVisible());
}

PARCELO_TEST_MAIN(TestEditor)
#include "tst_editor.moc"
