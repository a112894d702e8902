// The about box: its texts, OK, the application-wide box, GetKeyValue on values with exact
// bytes, the system information launcher's outcomes, the registry file beside the program,
// and the download button (against a local HTTP server).

#include "appinfo.h"
#include "fileregistry.h"
#include "frmAbout.h"
#include "frmBrowser.h"
#include "onlinelinks.h"
#include "pageserver.h"
#include "programfolder.h"
#include "scriptedui.h"
#include "webtestmain.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

using namespace Registry;

namespace {

// Values with exact bytes, installed as the registry while a test runs.
class ScriptedRegistry : public RegistryBackend
{
public:
    ScriptedRegistry() { Services::instance().setRegistry(this); }
    ~ScriptedRegistry() override { Services::instance().setRegistry(nullptr); }
    RegistryData data;
    bool hasKey(HKEY root, const QByteArray &path) override { return data.hasKey(root, path); }
    std::optional<RegistryValue> value(HKEY root, const QByteArray &path, const QByteArray &name) override
    {
        return data.value(root, path, name);
    }
};

// A launcher that cannot start anything.
class FailingDesktop : public DesktopBackend
{
public:
    QStringList tried;
    bool openWithShell(QWidget *, const QString &) override { return false; }
    bool launch(const QString &commandLine, LaunchStyle) override
    {
        tried << commandLine;
        return false;
    }
};

const QByteArray InfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const QByteArray LocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

void makeExecutable(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("#!/bin/sh\nexit 0\n");
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
}

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void showsTitleVersionAndDescription();
    void okClosesTheBox();
    void boxesForEachMenuAndOneForTheEditor();
    void getKeyValue_data();
    void getKeyValue();
    void getKeyValueFailuresLeaveNothing();
    void registryCallsFollowBufferRules();
    void systemInfo_data();
    void systemInfo();
    void systemInfoLauncherFailure();
    void registryFileBesideProgram();
    void builtInValuesFindSystemInfoProgram();
    void downloadButtonOpensTrialInBrowser();
    void downloadErrorAsksAbortRetryIgnore();

private:
    frmAbout *box();
    template<typename T> T *child(const char *name) { return box()->findChild<T *>(QLatin1String(name)); }

    std::unique_ptr<ScriptedUi> ui;
    std::unique_ptr<ScriptedRegistry> registry;
    QPointer<frmAbout> m_box;
    QTemporaryDir folder;
    PageServer server;
};

void TestAbout::initTestCase()
{
    QVERIFY(folder.isValid());
    QVERIFY(server.start());
    server.setHtml("/", "Orvanne Home");
    server.setContent(QLatin1Char('/') + QLatin1String(OnlineLinks::AdvertisedTrialPath),
                      "application/octet-stream", "trial installer");
}

void TestAbout::init()
{
    qputenv("PARCELO_PUBLISHER_URL", server.base().toUtf8());
    ui = std::make_unique<ScriptedUi>();
    registry = std::make_unique<ScriptedRegistry>();
}

void TestAbout::cleanup()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<frmAbout *>(widget))
            delete widget;
    }
    delete frmBrowser::existing();
    ProgramFolder::setOverride(QString());
    registry.reset();
    ui.reset();
}

frmAbout *TestAbout::box()
{
    if (!m_box) {
        m_box = frmAbout::openNew();
    }
    return m_box;
}

void TestAbout::showsTitleVersionAndDescription()
{
    frmAbout *about = box();
    QCOMPARE(about->windowTitle(), QString::fromUtf8("About Parcelo\u2122"));
    QCOMPARE(child<QLabel>("lblTitle")->text(), QString::fromUtf8("Parcelo\u2122"));
    QCOMPARE(child<QLabel>("lblVersion")->text(), QString("Version 1.0.20"));
    QCOMPARE(child<QLabel>("lblDescription")->text(),
             "Parcelo is a file compression (zipping) and decompression (unzipping) utility. For more "
             "information on other products by Orvanne, visit " + server.base() + ".");
    const QString notice = child<QLabel>("lblDisclaimer")->text();
    QVERIFY(notice.contains("Orvanne") && notice.contains("Parcelo") && !notice.contains('\n'));
    QVERIFY(child<QLabel>("lblDisclaimer")->sizeHint().width() <= child<QLabel>("lblDisclaimer")->width());
    QVERIFY(!child<QLabel>("picIcon")->pixmap().isNull());

    auto *ad = child<QGroupBox>("fraAd");
    QVERIFY(!ad->findChild<QLabel *>("imgAd")->pixmap().isNull());
    QVERIFY(!ad->findChild<QLabel *>("lblTy")->text().isEmpty());
    QCOMPARE(ad->findChild<QPushButton *>("cmdDownload")->text(), QString("Download 30-day trial [11MB]"));
    QCOMPARE(child<QPushButton>("cmdOK")->text(), QString("OK"));
    QCOMPARE(child<QPushButton>("cmdSysInfo")->text(), QString("&System Info..."));
    QVERIFY(child<QPushButton>("cmdOK")->isDefault());
    QCOMPARE(about->size(), QSize(382, 460));
    QVERIFY(!about->isModal());
    // Every control lies inside the box.
    for (QWidget *widget : about->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        QVERIFY2(about->rect().contains(widget->geometry()), qPrintable(widget->objectName()));
}

void TestAbout::okClosesTheBox()
{
    QPointer<frmAbout> about = box();
    QTest::mouseClick(child<QPushButton>("cmdOK"), Qt::LeftButton);
    QVERIFY(!about->isVisible());
    QTRY_VERIFY(!about);
}

void TestAbout::boxesForEachMenuAndOneForTheEditor()
{
    frmAbout *first = frmAbout::openNew();
    frmAbout *second = frmAbout::openNew();
    QVERIFY(first != second);
    QVERIFY(first->isVisible() && second->isVisible());
    QVERIFY(!frmAbout::existing());

    frmAbout *shared = frmAbout::instance();
    QCOMPARE(frmAbout::instance(), shared);
    QCOMPARE(frmAbout::existing(), shared);
    shared->show();
    QPointer<frmAbout> closed = shared;
    QTest::keyClick(shared, Qt::Key_Escape); // Escape unloads it like OK and the close box
    QVERIFY(!frmAbout::existing());
    QTRY_VERIFY(!closed);
    QVERIFY(frmAbout::instance() != nullptr);

    // The window's close box unloads the other boxes one by one.
    QPointer<frmAbout> gone = first;
    first->close();
    QTRY_VERIFY(!gone);
    QVERIFY(second->isVisible());
}

void TestAbout::getKeyValue_data()
{
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("expected");

    QTest::newRow("string with its zero") << REG_SZ << QByteArray("/usr/bin/sysinfo\0", 17) << "" << "/usr/bin/sysinfo";
    QTest::newRow("string without zero") << REG_SZ << QByteArray("/usr/bin/sysinfo") << "" << "/usr/bin/sysinfo";
    QTest::newRow("string in UTF-8") << REG_SZ << QByteArray("/opt/Syst\xc3\xa8me\0", 14) << "" << QString::fromUtf8("/opt/Syst\u00e8me");
    QTest::newRow("empty string") << REG_SZ << QByteArray("\0", 1) << "" << "";
    QTest::newRow("no bytes at all") << REG_SZ << QByteArray() << "old" << "";
    QTest::newRow("double word 10,2,1,0") << REG_DWORD << bytes({10, 2, 1, 0}) << "" << "&h01020A";
    QTest::newRow("double word, all bytes") << REG_DWORD << bytes({0x78, 0x56, 0x34, 0x12}) << "" << "&h12345678";
    QTest::newRow("double word after text") << REG_DWORD << bytes({0xff, 0, 0, 1}) << "AB" << "&hAB010000FF";
    QTest::newRow("binary keeps caller's text") << REG_BINARY << bytes({1, 2, 3}) << "kept" << "kept";
    QTest::newRow("expandable string keeps text") << REG_EXPAND_SZ << QByteArray("%HOME%\0", 7) << "kept" << "kept";
    QTest::newRow("exactly 1024 bytes") << REG_SZ << QByteArray(1024, 'x') << "" << QString(1024, 'x');
}

void TestAbout::getKeyValue()
{
    QFETCH(quint32, type);
    QFETCH(QByteArray, data);
    QFETCH(QString, before);
    QFETCH(QString, expected);
    registry->data.setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "Value", {type, data});
    QString value = before;
    QVERIFY(frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "Value", value));
    QCOMPARE(value, expected);
    // Key and value names are not case-sensitive.
    QString again = before;
    QVERIFY(frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, "software\\TEST", "value", again));
    QCOMPARE(again, expected);
}

void TestAbout::getKeyValueFailuresLeaveNothing()
{
    registry->data.setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "Big", {REG_SZ, QByteArray(1025, 'x')});
    registry->data.setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "Small", {REG_SZ, QByteArray("x\0", 2)});
    struct Case { HKEY root; const char *key; const char *name; };
    const Case cases[] = {
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "Big"},       // larger than the buffer
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "Missing"},   // no such value
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing", "Small"},  // no such key
        {HKEY_CURRENT_USER, "SOFTWARE\\Test", "Small"},      // another root
    };
    for (const Case &c : cases) {
        QString value = QStringLiteral("left over");
        QVERIFY2(!frmAbout::GetKeyValue(c.root, c.key, c.name, value), c.name);
        QVERIFY2(value.isEmpty(), c.name);
    }
}

void TestAbout::registryCallsFollowBufferRules()
{
    registry->data.setValue(HKEY_LOCAL_MACHINE, "A\\B\\C", "V", {REG_DWORD, bytes({1, 2, 3, 4})});
    HKEY a = 0, c = 0;
    QCOMPARE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A", 0, KEY_QUERY_VALUE, &a), ERROR_SUCCESS); // a parent key
    QCOMPARE(RegOpenKeyExA(a, "B\\C", 0, KEY_QUERY_VALUE, &c), ERROR_SUCCESS);
    unsigned char buffer[8] = {};
    quint32 size = 2;
    quint32 type = 0;
    QCOMPARE(RegQueryValueExA(c, "V", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    QCOMPARE(size, 4u);
    QCOMPARE(buffer[0], 0); // nothing written
    size = sizeof buffer;
    QCOMPARE(RegQueryValueExA(c, "V", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    QCOMPARE(size, 4u);
    QCOMPARE(type, REG_DWORD);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), 4), bytes({1, 2, 3, 4}));
    QCOMPARE(RegCloseKey(c), ERROR_SUCCESS);
    QCOMPARE(RegCloseKey(c), ERROR_INVALID_HANDLE);
    QCOMPARE(RegQueryValueExA(c, "V", nullptr, &type, buffer, &size), ERROR_INVALID_HANDLE);
    QCOMPARE(RegCloseKey(a), ERROR_SUCCESS);
    HKEY none = 7;
    QCOMPARE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A\\X", 0, KEY_QUERY_VALUE, &none), ERROR_FILE_NOT_FOUND);
    QCOMPARE(none, HKEY(0));
}

void TestAbout::systemInfo_data()
{
    // first / second: the values of the two registry locations ("" = absent);
    // file: a file created as <folder>/<file> before the click; launched: the command line
    // expected ("" = nothing started, the message shown).
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<quint32>("firstType");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("launched");

    QTest::newRow("first location") << QByteArray("/usr/bin/hardinfo\0", 18) << REG_SZ << QByteArray() << "" << "/usr/bin/hardinfo";
    QTest::newRow("second location with the program") << QByteArray() << REG_SZ << QByteArray("<folder>\0", 9)
                                                      << "MSINFO32.EXE" << "<folder>/MSINFO32.EXE";
    QTest::newRow("second location, folder ends in slash") << QByteArray() << REG_SZ << QByteArray("<folder>/\0", 10)
                                                           << "MSINFO32.EXE" << "<folder>/MSINFO32.EXE";
    QTest::newRow("second location without the program") << QByteArray() << REG_SZ << QByteArray("<folder>\0", 9)
                                                         << "" << "";
    QTest::newRow("second location, name in other case") << QByteArray() << REG_SZ << QByteArray("<folder>\0", 9)
                                                         << "msinfo32.exe" << "";
    QTest::newRow("neither location") << QByteArray() << REG_SZ << QByteArray() << "" << "";
    QTest::newRow("first value empty") << QByteArray("\0", 1) << REG_SZ << QByteArray() << "" << "";
    QTest::newRow("first value of a foreign type") << bytes({1, 2, 3}) << REG_BINARY << QByteArray("<folder>\0", 9)
                                                   << "MSINFO32.EXE" << "";
    QTest::newRow("program path with blanks") << QByteArray("<folder>/System Info\0", 21) << REG_SZ << QByteArray()
                                              << "System Info" << "\"<folder>/System Info\"";
}

void TestAbout::systemInfo()
{
    QFETCH(QByteArray, first);
    QFETCH(quint32, firstType);
    QFETCH(QByteArray, second);
    QFETCH(QString, file);
    QFETCH(QString, launched);
    QTemporaryDir programs;
    const QByteArray dir = programs.path().toLocal8Bit();
    first.replace("<folder>", dir);
    second.replace("<folder>", dir);
    launched.replace("<folder>", programs.path());
    if (!file.isEmpty())
        makeExecutable(programs.filePath(file));
    if (!first.isEmpty())
        registry->data.setValue(HKEY_LOCAL_MACHINE, InfoKey, "PATH", {firstType, first});
    if (!second.isEmpty())
        registry->data.setValue(HKEY_LOCAL_MACHINE, LocationKey, "MSINFO", {REG_SZ, second});

    QTest::mouseClick(child<QPushButton>("cmdSysInfo"), Qt::LeftButton);
    if (launched.isEmpty()) {
        QVERIFY(ui->launches.isEmpty());
        QCOMPARE(ui->messages.size(), 1);
        QCOMPARE(ui->messages.at(0).prompt, QString("System Information Is Unavailable At This Time"));
        QCOMPARE(ui->messages.at(0).title, QString("Parcelo"));
        QCOMPARE(ui->messages.at(0).icon, MsgIcon::None);
        QCOMPARE(ui->messages.at(0).buttons, MsgButtons::OK);
    } else {
        QCOMPARE(ui->launches.size(), 1);
        QCOMPARE(ui->launches.at(0).commandLine, launched);
        QCOMPARE(ui->launches.at(0).style, LaunchStyle::NormalFocus);
        QVERIFY(ui->messages.isEmpty());
    }
    QVERIFY(box()->isVisible());
}

void TestAbout::systemInfoLauncherFailure()
{
    registry->data.setValue(HKEY_LOCAL_MACHINE, InfoKey, "PATH", {REG_SZ, QByteArray("/nowhere/sysinfo\0", 17)});
    FailingDesktop desktop;
    Services::instance().setDesktop(&desktop);
    box()->StartSysInfo();
    Services::instance().setDesktop(ui.get());
    QCOMPARE(desktop.tried, QStringList{"/nowhere/sysinfo"});
    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).prompt, frmAbout::unavailableMessage());
}

void TestAbout::registryFileBesideProgram()
{
    QTemporaryDir program;
    ProgramFolder::setOverride(program.path());
    QFile reg(program.filePath("Parcelo.reg"));
    QVERIFY(reg.open(QIODevice::WriteOnly));
    reg.write("REGEDIT4\r\n"
              "\r\n"
              "; the system information program\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\r\n"
              "\"PATH\"=\"/opt/tools/sys \\\"info\\\" \\\\ x\"\r\n"
              "\"Number\"=dword:0001020a\r\n"
              "\"Blob\"=hex:01,02,\\\r\n"
              "  03\r\n"
              "\"Expand\"=hex(2):25,00\r\n"
              "@=\"default value\"\r\n"
              "\r\n"
              "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\r\n"
              "\"X\"=\"never\"\r\n"
              "[HKEY_CURRENT_USER\\Software\\Orvanne]\r\n"
              "\"Broken\"=dword:zz\r\n"
              "\"Fine\"=\"yes\"\r\n");
    reg.close();
    FileRegistry store;
    Services::instance().setRegistry(&store);

    QString value;
    QVERIFY(frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, QString::fromLatin1(InfoKey), "PATH", value));
    QCOMPARE(value, QString("/opt/tools/sys \"info\" \\ x"));
    value.clear();
    QVERIFY(frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, QString::fromLatin1(InfoKey), "number", value));
    QCOMPARE(value, QString("&h01020A"));
    QCOMPARE(store.value(HKEY_LOCAL_MACHINE, InfoKey, "Blob")->data, bytes({1, 2, 3}));
    QCOMPARE(store.value(HKEY_LOCAL_MACHINE, InfoKey, "Expand")->type, REG_EXPAND_SZ);
    QCOMPARE(store.value(HKEY_LOCAL_MACHINE, InfoKey, "")->data, QByteArray("default value\0", 14));
    QVERIFY(!store.hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Gone"));
    QVERIFY(!store.value(HKEY_CURRENT_USER, "Software\\Orvanne", "Broken"));
    QVERIFY(store.value(HKEY_CURRENT_USER, "Software\\Orvanne", "Fine"));
    QVERIFY(store.hasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft"));

    // The file is the whole store: a value it lacks is absent, and a change is seen.
    QVERIFY(!frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, QString::fromLatin1(LocationKey), "MSINFO", value));
    QVERIFY(reg.open(QIODevice::WriteOnly | QIODevice::Truncate));
    reg.write("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools Location]\n\"MSINFO\"=\"/srv\"\n");
    reg.flush();
    QVERIFY(reg.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
    reg.close();
    QVERIFY(frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, QString::fromLatin1(LocationKey), "MSINFO", value));
    QCOMPARE(value, QString("/srv"));
    Services::instance().setRegistry(registry.get());
}

void TestAbout::builtInValuesFindSystemInfoProgram()
{
    QTemporaryDir program, bin;
    ProgramFolder::setOverride(program.path()); // no registry file there
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit());
    FileRegistry store;
    Services::instance().setRegistry(&store);

    // Nothing installed: both lookups fail and the message is shown.
    QString value = "x";
    QVERIFY(!frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, QString::fromLatin1(InfoKey), "PATH", value));
    box()->StartSysInfo();
    QCOMPARE(ui->messages.size(), 1);

    // An installed program is found at once; the preferred one wins when there are several.
    makeExecutable(bin.filePath("gnome-system-monitor"));
    QVERIFY(frmAbout::GetKeyValue(HKEY_LOCAL_MACHINE, QString::fromLatin1(InfoKey), "PATH", value));
    QCOMPARE(value, bin.filePath("gnome-system-monitor"));
    makeExecutable(bin.filePath("hardinfo"));
    box()->StartSysInfo();
    qputenv("PATH", oldPath);
    Services::instance().setRegistry(registry.get());
    QCOMPARE(ui->launches.size(), 1);
    QCOMPARE(ui->launches.at(0).commandLine, bin.filePath("hardinfo"));
    QCOMPARE(ui->messages.size(), 1);
}

void TestAbout::downloadButtonOpensTrialInBrowser()
{
    QVERIFY(!frmBrowser::existing());
    QTest::mouseClick(child<QPushButton>("cmdDownload"), Qt::LeftButton);
    frmBrowser *browser = frmBrowser::existing();
    QVERIFY(browser && browser->isVisible());
    const QString trial = server.base() + "/" + OnlineLinks::AdvertisedTrialPath;
    auto *list = browser->findChild<QComboBox *>("cboAddress");
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->itemText(0), trial);
    QCOMPARE(list->itemText(1), server.base());
    // The installer is offered for saving.
    QTRY_COMPARE_WITH_TIMEOUT(ui->saveRequests.size(), 1, 15000);
    QCOMPARE(QFileInfo(ui->saveRequests.at(0).initialPath).fileName(), QString("tarnbase-personal-3.2-setup.run"));
    QVERIFY(ui->messages.isEmpty());
}

void TestAbout::downloadErrorAsksAbortRetryIgnore()
{
    box();
    qputenv("PARCELO_PUBLISHER_URL", "http:");
    ui->messageAnswers << MsgResult::Retry << MsgResult::Ignore;
    QTest::mouseClick(child<QPushButton>("cmdDownload"), Qt::LeftButton);
    QCOMPARE(ui->messages.size(), 2);
    for (const MessageRequest &question : ui->messages) {
        QCOMPARE(question.title, QString("5"));
        QCOMPARE(question.icon, MsgIcon::Critical);
        QCOMPARE(question.buttons, MsgButtons::AbortRetryIgnore);
        QVERIFY(question.prompt.contains("http:/trials/tarnbase/"));
    }
    QVERIFY(frmBrowser::existing() && frmBrowser::existing()->isVisible());
    QVERIFY(box()->isVisible());
}

PARCELO_WEB_TEST_MAIN(TestAbout)
#include "tst_about.moc"
