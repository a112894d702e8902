// The browser window against a real HTTP server on 127.0.0.1: the address list and its rules,
// titles and the busy indicator, tool bar, menus, the offline page command, the Online links,
// the publisher pages opened from other windows, closing and reopening.

#include "TarnZip_Shared.h"
#include "frmAbout.h"
#include "frmBrowser.h"
#include "onlinelinks.h"
#include "pageserver.h"
#include "scriptedui.h"
#include "twips.h"
#include "webtestmain.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWebEngineHistory>
#include <QWebEngineView>
#include <QWheelEvent>

namespace {
constexpr int LoadTimeout = 15000;
}

// The page's title in the window's title, and the busy indicator off again.
#define WAIT_FOR_TITLE(text)                                                                     \
    do {                                                                                         \
        QTRY_COMPARE_WITH_TIMEOUT(frmBrowser::instance()->windowTitle(), title(text), LoadTimeout); \
        QTRY_VERIFY_WITH_TIMEOUT(!timer()->isActive(), LoadTimeout);                             \
    } while (false)

class TestBrowser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void freshWindowShowsDesignTitleAndStartingAddress();
    void toolBarAndMenusAsDesigned();
    void layoutFollowsWindowAndIgnoresFailures();
    void navigateToListsAddressAndShowsTitles();
    void busyTitleWhileLoadingThenPageTitle();
    void sameAddressKeepsOneEntryCaseVariantsTwo();
    void enterNavigatesWithoutAddingToList();
    void pickingAnEntryNavigates();
    void otherSchemesAreRefused_data();
    void otherSchemesAreRefused();
    void backForwardStopAndOtherKeys();
    void homeSearchAndRefresh();
    void untitledPageAndAnchorsSettle();
    void offlinePageOpensLocalFile();
    void offlineCancelIsSilent();
    void offlineErrorAsksAbortRetryIgnore();
    void localPageShowsItsFilesButScriptsCannotReadOthers();
    void newWindowRequestsStayInThisWindow_data();
    void newWindowRequestsStayInThisWindow();
    void signInPagesAsk();
    void untrustedCertificateIsExplained_data();
    void untrustedCertificateIsExplained();
    void downloadShowsProgressAndCanBeStopped();
    void onlineLinksOpenPublisherPages_data();
    void onlineLinksOpenPublisherPages();
    void onlineMenuOrder();
    void downloadEntriesAskWhereToSave();
    void downloadSavesTheFile();
    void closeAndReopenStartsAfresh();
    void openPublisherPageFromOtherWindows();
    void openPublisherPageReportsErrors();
    void aboutOpensANewBoxEachTime();

private:
    frmBrowser *open();
    QComboBox *address() { return frmBrowser::instance()->findChild<QComboBox *>("cboAddress"); }
    WebBrowserControl *control() { return frmBrowser::instance()->browserControl(); }
    QTimer *timer() { return frmBrowser::instance()->findChild<QTimer *>("timTimer"); }
    QAction *action(const char *name) { return frmBrowser::instance()->findChild<QAction *>(QLatin1String(name)); }
    QToolButton *button(const char *key);
    // Opens a page from disk that tries to read what it must not, and checks it cannot.
    void openLocalProbe(frmBrowser *window);
    QStringList entries();
    // Clicks into the address box, replaces its text and presses the key, all as a user does.
    void typeAddress(const QString &text, Qt::Key finish = Qt::Key_Return);
    QString url(const QString &path) const { return server.base() + path; }
    static QString title(const QString &text) { return frmBrowser::TitlePrefix() + text; }

    PageServer server;
    std::unique_ptr<ScriptedUi> ui;
    QTemporaryDir files;
};

void TestBrowser::initTestCase()
{
    QVERIFY(server.start());
    qputenv("PARCELO_PUBLISHER_URL", server.base().toUtf8());
    server.setHtml("/", "Orvanne Home");
    server.setHtml("/parcelo.htm", "Parcelo - Product Page");
    server.setHtml("/catalog.htm", "Orvanne Catalog");
    server.setHtml("/store.htm", "Orvanne Store");
    server.setHtml("/Feedback.htm", "Support and Feedback");
    server.setHtml("/feedback.htm", "feedback in lower case");
    server.setHtml("/Free_Downloads.htm", "Free Downloads");
    server.setHtml("/friendsearch.htm", "FriendSearch");
    server.setHtml("/tech_news.htm", "Technology News");
    server.setHtml("/entertainment_news.htm", "Entertainment News");
    server.setHtml("/business_news.htm", "Business News");
    server.setHtml("/sports_news.htm", "Sports News");
    server.setHtml("/world_news.htm", "World News");
    server.setHtml("/search.htm", "Search Orvanne");
    server.setHtml("/slow.htm", "Slow Page");
    server.setContent("/untitled.htm", "text/html", "<html><body>No title here</body></html>");
    for (const auto *list : {&OnlineLinks::databaseTrials(), &OnlineLinks::javaDemos(), &OnlineLinks::freePrograms()}) {
        for (const OnlineLinks::Link &link : *list)
            server.setContent(QLatin1Char('/') + QLatin1String(link.path), "application/octet-stream",
                              QByteArray("installer of ") + link.path);
    }
    QVERIFY(files.isValid());
}

void TestBrowser::init()
{
    ui = std::make_unique<ScriptedUi>();
    server.requests.clear();
}

void TestBrowser::cleanup()
{
    server.release();
    delete frmBrowser::existing();
    QVERIFY(!frmBrowser::existing());
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<frmAbout *>(widget))
            delete widget;
    }
    ui.reset();
    qputenv("PARCELO_PUBLISHER_URL", server.base().toUtf8());
}

frmBrowser *TestBrowser::open()
{
    frmBrowser *window = frmBrowser::showInstance();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        qWarning("The browser window did not become active");
    return window;
}

QToolButton *TestBrowser::button(const char *key)
{
    auto *bar = frmBrowser::instance()->findChild<QToolBar *>("tbToolBar");
    return qobject_cast<QToolButton *>(bar->widgetForAction(action(key)));
}

QStringList TestBrowser::entries()
{
    QStringList list;
    for (int i = 0; i < address()->count(); ++i)
        list << address()->itemText(i);
    return list;
}

void TestBrowser::typeAddress(const QString &text, Qt::Key finish)
{
    QTest::mouseClick(address()->lineEdit(), Qt::LeftButton);
    QWidget *typedInto = QApplication::focusWidget();
    QVERIFY(typedInto == address() || typedInto == address()->lineEdit());
    QTest::keyClick(typedInto, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(typedInto, Qt::Key_Delete);
    QTest::keyClicks(typedInto, text);
    QCOMPARE(address()->currentText(), text);
    QTest::keyClick(QApplication::focusWidget(), finish);
}

void TestBrowser::freshWindowShowsDesignTitleAndStartingAddress()
{
    frmBrowser *window = open();
    const QString host = server.base().mid(QStringLiteral("http://").size());
    QCOMPARE(window->windowTitle(), QStringLiteral("Tarn Surfer                       ") + host);
    QCOMPARE(window->StartingAddress, server.base());
    QCOMPARE(entries(), QStringList{server.base()});
    QCOMPARE(address()->currentText(), server.base());
    QVERIFY(control()->LocationURL().isEmpty());
    QVERIFY(!control()->Busy());
    QVERIFY(!timer()->isActive());
    QVERIFY(!window->SuppressAddressClick);

    // The address box sits beside the buttons, 40 twips below the tool bar's top.
    auto *bar = window->findChild<QToolBar *>("tbToolBar");
    QCOMPARE(address()->x(), 240);
    QCOMPARE(address()->y(), bar->y() + Twips::toPixels(40));
    QCOMPARE(control()->geometry().topLeft(), QPoint(0, 32));

    // Nothing is loaded until the first navigation.
    QTest::qWait(300);
    QVERIFY(server.requests.isEmpty());
    QCOMPARE(window->windowTitle(), title(host));
    QVERIFY(ui->messages.isEmpty());
}

void TestBrowser::toolBarAndMenusAsDesigned()
{
    frmBrowser *window = open();
    auto *bar = window->findChild<QToolBar *>("tbToolBar");
    QStringList keys, tips;
    for (QAction *a : bar->actions()) {
        keys << a->objectName();
        tips << a->toolTip();
        QCOMPARE(a->icon().isNull(), a->objectName() == "Search");
        QVERIFY(bar->widgetForAction(a)->isVisible());
    }
    QCOMPARE(keys, (QStringList{"Back", "Forward", "Stop", "Refresh", "Home", "Search", "Offline"}));
    QCOMPARE(tips, (QStringList{"Backward", "Forward", "Stop", "Refresh", "Home", "Search", "Browse Offline"}));
    // Every button fits left of the address box.
    QVERIFY(bar->widgetForAction(action("Offline"))->geometry().right() < address()->x());

    QStringList titles;
    for (QAction *a : window->menuBar()->actions())
        titles << a->text();
    QCOMPARE(titles, (QStringList{"&File", "&Edit", "&View", "&Online", "&Help"}));

    struct Entry { const char *name; const char *caption; QKeySequence shortcut; bool visible; };
    const Entry expected[] = {
        {"mnuOpen", "&Open...", QKeySequence("Ctrl+O"), true},
        {"mnuClose", "&Close Tarn Surfer", QKeySequence("Alt+Backspace"), true},
        {"mnuRefresh", "&Refresh", QKeySequence("F5"), true},
        {"mnuHome", "&Home", QKeySequence(), false},
        {"mnuPrevious", "&Backward", QKeySequence("Ctrl+B"), true},
        {"mnuNext", "&Forward", QKeySequence("Ctrl+F"), true},
        {"mnuAbout", "&About Parcelo...", QKeySequence(), true},
    };
    for (const Entry &entry : expected) {
        QAction *a = action(entry.name);
        QVERIFY2(a, entry.name);
        QCOMPARE(a->text(), QString(entry.caption));
        QCOMPARE(a->shortcut(), entry.shortcut);
        QCOMPARE(a->isVisible(), entry.visible);
    }
    // File: Open, separator, Close. View: the hidden Home and its hidden separator first.
    const QList<QAction *> file = window->findChild<QMenu *>("mnuFile")->actions();
    QCOMPARE(file.size(), 3);
    QVERIFY(file.at(1)->isSeparator());
    const QList<QAction *> view = window->findChild<QMenu *>("mnuView")->actions();
    QCOMPARE(view.size(), 4);
    QVERIFY(view.at(1)->isSeparator() && !view.at(1)->isVisible());
}

void TestBrowser::layoutFollowsWindowAndIgnoresFailures()
{
    frmBrowser *window = open();
    QWidget *client = window->centralWidget();
    window->resize(1000, 700);
    QTRY_COMPARE(client->width(), 1000);
    QCOMPARE(address()->width(), 1000 - 240);
    QCOMPARE(control()->width(), 1000 - 1);
    QCOMPARE(control()->height(), client->height() - 32 - 1);
    QCOMPARE(address()->x(), 240);

    // Narrower than the buttons: the address box width would be negative and stays as it was.
    window->resize(200, 500);
    QTRY_COMPARE(client->width(), 200);
    QCOMPARE(address()->width(), 1000 - 240);
    QCOMPARE(control()->width(), 200 - 1);
    QCOMPARE(control()->height(), client->height() - 32 - 1);

    // A minimized window ignores resizing; restoring it lays it out again.
    window->resize(900, 600);
    QTRY_COMPARE(address()->width(), 900 - 240);
    window->setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(window->isMinimized());
    window->resize(700, 600);
    QTRY_COMPARE(client->width(), 700);
    QCOMPARE(address()->width(), 900 - 240);
    window->setWindowState(Qt::WindowNoState);
    QTRY_COMPARE(address()->width(), 700 - 240);
    QCOMPARE(control()->width(), 700 - 1);
}

void TestBrowser::navigateToListsAddressAndShowsTitles()
{
    frmBrowser *window = open();
    window->NavigateTo(url("/parcelo.htm"));
    // The requested address is listed at once, while the page is still on its way.
    QCOMPARE(entries(), (QStringList{url("/parcelo.htm"), server.base()}));
    QCOMPARE(address()->currentIndex(), 0);
    QCOMPARE(address()->currentText(), url("/parcelo.htm"));
    QVERIFY(timer()->isActive());
    QVERIFY(control()->Busy());
    QVERIFY(!window->SuppressAddressClick);
    WAIT_FOR_TITLE("Parcelo - Product Page");
    QCOMPARE(control()->LocationURL(), url("/parcelo.htm"));
    QCOMPARE(control()->LocationName(), QString("Parcelo - Product Page"));
    QCOMPARE(server.count("/parcelo.htm"), 1);
    // Selecting the top entry in the list does not navigate (again).
    window->UpdateAddressList();
    QTest::qWait(400);
    QCOMPARE(server.count("/parcelo.htm"), 1);
    QVERIFY(!timer()->isActive());
    QCOMPARE(entries(), (QStringList{url("/parcelo.htm"), server.base()}));
}

void TestBrowser::busyTitleWhileLoadingThenPageTitle()
{
    frmBrowser *window = open();
    server.hold("/slow.htm");
    window->NavigateTo(url("/slow.htm"));
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), title("Working..."), LoadTimeout);
    QVERIFY(timer()->isActive());
    QVERIFY(control()->Busy());
    QTest::qWait(600); // several ticks: still busy, still "Working..."
    QCOMPARE(window->windowTitle(), title("Working..."));
    server.release();
    WAIT_FOR_TITLE("Slow Page");
    QVERIFY(!control()->Busy());
}

void TestBrowser::sameAddressKeepsOneEntryCaseVariantsTwo()
{
    frmBrowser *window = open();
    window->NavigateTo(url("/catalog.htm"));
    WAIT_FOR_TITLE("Orvanne Catalog");
    window->NavigateTo(url("/store.htm"));
    WAIT_FOR_TITLE("Orvanne Store");
    window->NavigateTo(url("/catalog.htm"));
    WAIT_FOR_TITLE("Orvanne Catalog");
    QCOMPARE(entries(), (QStringList{url("/catalog.htm"), url("/store.htm"), server.base()}));
    window->UpdateAddressList(); // the same address read again
    QCOMPARE(entries(), (QStringList{url("/catalog.htm"), url("/store.htm"), server.base()}));

    window->NavigateTo(url("/Feedback.htm"));
    WAIT_FOR_TITLE("Support and Feedback");
    window->NavigateTo(url("/feedback.htm"));
    WAIT_FOR_TITLE("feedback in lower case");
    QCOMPARE(entries().mid(0, 2), (QStringList{url("/feedback.htm"), url("/Feedback.htm")}));
    QCOMPARE(entries().size(), 5);
}

void TestBrowser::enterNavigatesWithoutAddingToList()
{
    frmBrowser *window = open();
    typeAddress(url("/store.htm"));
    WAIT_FOR_TITLE("Orvanne Store");
    QCOMPARE(entries(), QStringList{server.base()});
    QCOMPARE(control()->LocationURL(), url("/store.htm"));

    // Enter does not pick an entry that differs only in letter case.
    window->NavigateTo(url("/Feedback.htm"));
    WAIT_FOR_TITLE("Support and Feedback");
    typeAddress(url("/feedback.htm"), Qt::Key_Enter);
    WAIT_FOR_TITLE("feedback in lower case");
    QCOMPARE(address()->currentText(), url("/feedback.htm"));
    QCOMPARE(entries(), (QStringList{url("/Feedback.htm"), server.base()}));

    // A typed address without a scheme is completed; an empty one does nothing.
    typeAddress(QStringLiteral("127.0.0.1:%1/catalog.htm").arg(server.base().section(':', -1)));
    WAIT_FOR_TITLE("Orvanne Catalog");
    QCOMPARE(control()->LocationURL(), url("/catalog.htm"));
    const int requests = int(server.requests.size());
    typeAddress(QStringLiteral("   "));
    QTest::qWait(300);
    QCOMPARE(server.requests.size(), requests);
    QVERIFY(ui->messages.isEmpty());

    // Text that is no address says so and keeps the text for correcting.
    typeAddress(QStringLiteral("not an address"));
    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).title, QString("Error: 5"));
    QCOMPARE(ui->messages.at(0).icon, MsgIcon::Critical);
    QVERIFY(ui->messages.at(0).prompt.contains("not an address"));
    QCOMPARE(address()->currentText(), QString("not an address"));
    QCOMPARE(entries(), (QStringList{url("/Feedback.htm"), server.base()}));
}

void TestBrowser::pickingAnEntryNavigates()
{
    frmBrowser *window = open();
    window->NavigateTo(url("/catalog.htm"));
    WAIT_FOR_TITLE("Orvanne Catalog");
    window->NavigateTo(url("/store.htm"));
    WAIT_FOR_TITLE("Orvanne Store");
    const int requests = int(server.requests.size());

    // A wheel step over the closed box neither changes the entry nor navigates.
    const QPoint at = address()->rect().center();
    QWheelEvent wheel(at, address()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(address(), &wheel);
    QTest::qWait(300);
    QCOMPARE(address()->currentIndex(), 0);
    QCOMPARE(server.requests.size(), requests);
    QCOMPARE(control()->LocationURL(), url("/store.htm"));

    // Down opens the list; there Down and Enter pick the next entry (the catalogue), which
    // navigates there.
    QLineEdit *box = address()->lineEdit();
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down);
    QTRY_VERIFY(address()->view()->isVisible());
    QCOMPARE(server.requests.size(), requests);
    QTest::keyClick(address()->view(), Qt::Key_Down);
    QTest::keyClick(address()->view(), Qt::Key_Return);
    QTRY_VERIFY(!address()->view()->isVisible());
    QCOMPARE(address()->currentIndex(), 1);
    WAIT_FOR_TITLE("Orvanne Catalog");
    QCOMPARE(control()->LocationURL(), url("/catalog.htm"));
    QCOMPARE(entries(), (QStringList{url("/store.htm"), url("/catalog.htm"), server.base()}));

    // A pick that cannot navigate is reported rather than lost.
    address()->addItem(QStringLiteral("http://"));
    address()->showPopup();
    QTRY_VERIFY(address()->view()->isVisible());
    address()->view()->setCurrentIndex(address()->model()->index(3, 0));
    QTest::keyClick(address()->view(), Qt::Key_Return);
    QTRY_COMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).title, QString("Error: 5"));
    QCOMPARE(ui->messages.at(0).buttons, MsgButtons::OK);
}

void TestBrowser::otherSchemesAreRefused_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("script") << "javascript:document.title='taken over'";
    QTest::newRow("data") << "data:text/html,<title>taken over</title>";
    QTest::newRow("page source") << "view-source:" + url("/catalog.htm");
    QTest::newRow("resource") << "qrc:/qt-project.org/qmessagebox/images/qtlogo-64.png";
    QTest::newRow("engine page") << "chrome://version";
    QTest::newRow("blank page") << "about:blank";
}

void TestBrowser::otherSchemesAreRefused()
{
    // Only http, https, ftp and file addresses go to the engine; others are refused like an
    // address that cannot be opened, and the page stays as it was.
    QFETCH(QString, typed);
    frmBrowser *window = open();
    window->NavigateTo(url("/store.htm"));
    WAIT_FOR_TITLE("Orvanne Store");
    typeAddress(typed);
    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).title, QString("Error: 5"));
    QVERIFY2(ui->messages.at(0).prompt.contains(typed), qPrintable(ui->messages.at(0).prompt));
    QTest::qWait(300);
    QCOMPARE(control()->LocationURL(), url("/store.htm"));
    QCOMPARE(window->windowTitle(), title("Orvanne Store"));
    QCOMPARE(control()->view()->title(), QString("Orvanne Store"));
}

void TestBrowser::backForwardStopAndOtherKeys()
{
    frmBrowser *window = open();
    window->NavigateTo(url("/catalog.htm"));
    WAIT_FOR_TITLE("Orvanne Catalog");
    window->NavigateTo(url("/store.htm"));
    WAIT_FOR_TITLE("Orvanne Store");
    const QStringList listed = entries();

    QTest::mouseClick(button("Back"), Qt::LeftButton);
    QVERIFY(timer()->isActive());
    WAIT_FOR_TITLE("Orvanne Catalog");
    QCOMPARE(control()->LocationURL(), url("/catalog.htm"));
    QTest::mouseClick(button("Forward"), Qt::LeftButton);
    WAIT_FOR_TITLE("Orvanne Store");
    action("mnuPrevious")->trigger(); // View > Backward does what the button does
    WAIT_FOR_TITLE("Orvanne Catalog");
    action("mnuNext")->trigger();
    WAIT_FOR_TITLE("Orvanne Store");
    QCOMPARE(entries(), listed); // history moves do not touch the list

    // Stop: the timer goes off at once and the title names the page still shown.
    server.hold("/slow.htm");
    window->NavigateTo(url("/slow.htm"));
    QTRY_COMPARE_WITH_TIMEOUT(server.count("/slow.htm"), 1, LoadTimeout);
    QTest::mouseClick(button("Stop"), Qt::LeftButton);
    QVERIFY(!timer()->isActive());
    QVERIFY(!control()->Busy());
    QCOMPARE(window->windowTitle(), title("Orvanne Store"));
    server.release();
    QTest::qWait(500);
    QCOMPARE(window->windowTitle(), title("Orvanne Store"));
    QCOMPARE(control()->LocationURL(), url("/store.htm"));

    // A key the bar does not know only starts the busy indicator.
    const int requests = int(server.requests.size());
    window->tbToolBar_ButtonClick(QStringLiteral("back"));
    QVERIFY(timer()->isActive());
    WAIT_FOR_TITLE("Orvanne Store");
    QCOMPARE(server.requests.size(), requests);
}

void TestBrowser::homeSearchAndRefresh()
{
    frmBrowser *window = open();
    QTest::mouseClick(button("Home"), Qt::LeftButton);
    WAIT_FOR_TITLE("Orvanne Home");
    QCOMPARE(control()->LocationURL(), url("/"));
    QTest::mouseClick(button("Search"), Qt::LeftButton);
    WAIT_FOR_TITLE("Search Orvanne");
    QCOMPARE(control()->LocationURL(), url("/search.htm"));
    QCOMPARE(entries(), QStringList{server.base()});

    // F5 reloads without the busy indicator; the Refresh button reloads with it.
    QTest::keyClick(window, Qt::Key_F5);
    QTRY_COMPARE_WITH_TIMEOUT(server.count("/search.htm"), 2, LoadTimeout);
    QVERIFY(!timer()->isActive());
    QTest::mouseClick(button("Refresh"), Qt::LeftButton);
    QVERIFY(timer()->isActive());
    QTRY_COMPARE_WITH_TIMEOUT(server.count("/search.htm"), 3, LoadTimeout);
    WAIT_FOR_TITLE("Search Orvanne");

    // The hidden View > Home goes to the publisher's site without the indicator.
    action("mnuHome")->trigger();
    QVERIFY(!timer()->isActive());
    QTRY_COMPARE_WITH_TIMEOUT(server.count("/"), 2, LoadTimeout);
}

void TestBrowser::untitledPageAndAnchorsSettle()
{
    frmBrowser *window = open();
    window->NavigateTo(url("/untitled.htm"));
    WAIT_FOR_TITLE(url("/untitled.htm"));
    QCOMPARE(control()->LocationName(), url("/untitled.htm"));

    // A move to an anchor of the same page loads nothing and must not stay busy.
    window->NavigateTo(url("/parcelo.htm"));
    WAIT_FOR_TITLE("Parcelo - Product Page");
    window->NavigateTo(url("/parcelo.htm#part"));
    QCOMPARE(entries().first(), url("/parcelo.htm#part"));
    QTRY_VERIFY_WITH_TIMEOUT(!control()->Busy(), 2000);
    WAIT_FOR_TITLE("Parcelo - Product Page");
}

void TestBrowser::offlinePageOpensLocalFile()
{
    frmBrowser *window = open();
    const QString path = files.filePath("saved page.htm");
    QFile page(path);
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<html><head><title>Saved Offline</title></head><body>kept on disk</body></html>");
    page.close();

    ui->openAnswers << path;
    QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier);
    WAIT_FOR_TITLE("Saved Offline");
    const QString fileUrl = QUrl::fromLocalFile(path).toString();
    QCOMPARE(entries(), (QStringList{fileUrl, server.base()}));
    QCOMPARE(ui->openRequests.size(), 1);
    QCOMPARE(ui->openRequests.at(0).title, QString("Browse for offline web pages"));
    QCOMPARE(ui->openRequests.at(0).filters, (QStringList{"WebPages (*.htm *.html)", "All Files (*)"}));

    // The tool bar's Offline button runs the same command; the dialog starts at the last file.
    ui->openAnswers << path;
    QTest::mouseClick(button("Offline"), Qt::LeftButton);
    QCOMPARE(ui->openRequests.size(), 2);
    QCOMPARE(ui->openRequests.at(1).initialPath, path);
    WAIT_FOR_TITLE("Saved Offline");
    QCOMPARE(entries(), (QStringList{fileUrl, server.base()}));
    QVERIFY(ui->messages.isEmpty());
}

namespace {

// A page on disk, in a folder of its own with its picture, style sheet and a frame in a subfolder;
// beside that folder a private file and a picture of someone else's. Its script reads what it
// can and tries to send it to a listener on 127.0.0.1 over a WebSocket; the title reports.
QString writeLocalProbe(const QString &root, quint16 socketPort)
{
    QDir(root).mkpath(QStringLiteral("site/frames"));
    QImage picture(30, 20, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    picture.save(root + QStringLiteral("/site/picture.png"));
    picture.fill(Qt::red);
    picture.save(root + QStringLiteral("/outside.png"));
    const auto write = [&](const QString &name, const QByteArray &text) {
        QFile file(root + QLatin1Char('/') + name);
        if (file.open(QIODevice::WriteOnly))
            file.write(text);
    };
    write(QStringLiteral("private.txt"), "secret");
    write(QStringLiteral("site/style.css"), "body { background-color: rgb(1, 2, 3); }");
    write(QStringLiteral("site/frames/own.htm"), "<html><body>own frame text</body></html>");
    write(QStringLiteral("site/page.htm"), QByteArray(R"(<html><head><title>loading</title><link rel="stylesheet" href="style.css"></head>
<body><img id="picture" src="picture.png">
<iframe src="../private.txt" onload="try { framed = 'read ' + this.contentDocument.body.textContent; } catch (e) { framed = 'refused'; } report();"></iframe>
<iframe src="frames/own.htm" onload="try { own = 'read ' + this.contentDocument.body.textContent; } catch (e) { own = 'refused'; } report();"></iframe>
<script>
let fetched = null, requested = null, framed = null, own = null, inside = null, outside = null, socket = null;
function report() {
  if ([fetched, requested, framed, own, inside, outside, socket].includes(null) || !document.getElementById('picture').complete) return;
  document.title = 'picture ' + document.getElementById('picture').naturalWidth
      + ' style ' + getComputedStyle(document.body).backgroundColor + ' fetch ' + fetched + ' request ' + requested
      + ' frame ' + framed + ' own frame ' + own + ' canvas ' + inside + ' outside ' + outside + ' socket ' + socket;
}
function pixel(source, done) {
  const image = new Image();
  image.onload = () => {
    const canvas = document.createElement('canvas');
    canvas.width = 30; canvas.height = 20;
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0);
    try { done(Array.from(context.getImageData(1, 1, 1, 1).data.slice(0, 3)).join(',')); } catch (e) { done('refused'); }
  };
  image.onerror = () => done('refused');
  image.src = source;
}
pixel('picture.png', v => { inside = v; report(); });
pixel('../outside.png', v => { outside = v; report(); });
fetch('../private.txt').then(r => r.text()).then(t => { fetched = 'read ' + t; report(); })
                       .catch(() => { fetched = 'refused'; report(); });
const request = new XMLHttpRequest();
request.onload = () => { requested = 'read ' + request.responseText; report(); };
request.onerror = () => { requested = 'refused'; report(); };
try { request.open('GET', '../private.txt'); request.send(); } catch (e) { requested = 'refused'; }
try {
  const ws = new WebSocket('ws://127.0.0.1:PORT/');
  ws.onopen = () => { ws.send('leaked'); socket = 'open'; report(); };
  ws.onerror = () => { socket = 'refused'; report(); };
} catch (e) { socket = 'refused'; }
window.addEventListener('load', report);
</script></body></html>)").replace("PORT", QByteArray::number(socketPort)));
    return root + QStringLiteral("/site/page.htm");
}

const QString LocalProbeRefused = QStringLiteral(
    "picture 30 style rgb(1, 2, 3) fetch refused request refused frame refused own frame read own frame text "
    "canvas 0,0,255 outside refused socket refused");

} // namespace

void TestBrowser::openLocalProbe(frmBrowser *window)
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    QTemporaryDir root;
    ui->openAnswers << writeLocalProbe(root.path(), listener.serverPort());
    window->activateWindow();
    QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier); // File > Open...
    // The script may report after the page has loaded: the page's own title is the one to watch.
    QTRY_COMPARE_WITH_TIMEOUT(control()->view()->title(), LocalProbeRefused, LoadTimeout);
    QTest::qWait(200);
    QVERIFY(!listener.hasPendingConnections());
    QVERIFY(ui->messages.isEmpty());
}

void TestBrowser::localPageShowsItsFilesButScriptsCannotReadOthers()
{
    // Its own picture, style sheet and subfolder frame load, and its own picture can be read
    // back; nothing outside its folder can be read by fetch, XMLHttpRequest, a frame or a canvas,
    // and nothing goes out over a WebSocket.
    openLocalProbe(open());
}

void TestBrowser::newWindowRequestsStayInThisWindow_data()
{
    QTest::addColumn<bool>("clicked");
    QTest::newRow("link to a new window, clicked") << true;
    QTest::newRow("window.open by the page itself") << false;
}

void TestBrowser::newWindowRequestsStayInThisWindow()
{
    QFETCH(bool, clicked);
    server.setContent("/opener.htm", "text/html",
                      "<html><head><title>Opener</title></head><body style='margin:0'>"
                      "<a href='/catalog.htm' target='_blank' style='display:block;width:300px;height:200px'>"
                      "Catalog in a new window</a></body></html>");
    server.setContent("/popup.htm", "text/html",
                      "<html><head><title>Pop-up Page</title></head><body><script>setTimeout(() => {"
                      " window.open('/catalog.htm'); document.title = 'Pop-up Tried'; }, 300);</script></body></html>");
    frmBrowser *window = open();
    if (clicked) {
        window->NavigateTo(url("/opener.htm"));
        WAIT_FOR_TITLE("Opener");
        QWidget *surface = control()->view()->focusProxy();
        QVERIFY(surface);
        QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(100, 100));
        // The link opens here, after the page it was on.
        WAIT_FOR_TITLE("Orvanne Catalog");
        QCOMPARE(control()->view()->url().toString(), url("/catalog.htm"));
        QTest::mouseClick(button("Back"), Qt::LeftButton);
        WAIT_FOR_TITLE("Opener");
        QCOMPARE(control()->view()->url().toString(), url("/opener.htm"));

        // The page's own menu: a right-click, then a click on the entry.
        const auto choose = [&](QPoint at, const char *entryText) {
            QTest::mouseClick(surface, Qt::RightButton, {}, at);
            QTRY_VERIFY(qobject_cast<QMenu *>(QApplication::activePopupWidget()));
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QAction *chosen = nullptr;
            for (QAction *entry : menu->actions()) {
                if (entry->isVisible() && entry->text().contains(QLatin1String(entryText), Qt::CaseInsensitive))
                    chosen = entry;
            }
            QVERIFY2(chosen, entryText);
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
        };
        choose(QPoint(100, 100), "new window");
        WAIT_FOR_TITLE("Orvanne Catalog");
        QTest::mouseClick(button("Back"), Qt::LeftButton);
        WAIT_FOR_TITLE("Opener");

        // "View page source" shows the source here too.
        choose(QPoint(500, 300), "source");
        if (QTest::currentTestFailed())
            return;
        QTRY_COMPARE_WITH_TIMEOUT(control()->view()->url().toString(), "view-source:" + url("/opener.htm"), LoadTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!control()->Busy(), LoadTimeout);
        // The engine shows a page's source in place of the page (the same address); the rest of
        // the history stays.
        QCOMPARE(control()->view()->history()->count(), 2);
    } else {
        // Nobody clicked: the pop-up is refused and the page stays.
        window->NavigateTo(url("/popup.htm"));
        QTRY_COMPARE_WITH_TIMEOUT(control()->view()->title(), QString("Pop-up Tried"), LoadTimeout);
        QTest::qWait(500);
        QCOMPARE(server.count("/catalog.htm"), 0);
        QCOMPARE(control()->view()->url().toString(), url("/popup.htm"));
    }
    // The page from disk opened afterwards is kept from the computer's files as in a fresh window.
    openLocalProbe(window);
}

void TestBrowser::signInPagesAsk()
{
    server.requireSignIn("/router/status.htm", "Router Setup", "admin:opensesame");
    server.setHtml("/router/status.htm", "Router Status");
    frmBrowser *window = open();
    // A wrong password is asked again; the right one opens the page.
    ui->signInAnswers << SignIn{"admin", "wrong"} << SignIn{"admin", "opensesame"};
    window->NavigateTo(url("/router/status.htm"));
    WAIT_FOR_TITLE("Router Status");
    QCOMPARE(ui->signInRequests.size(), 2);
    const SignInRequest &asked = ui->signInRequests.at(0);
    QCOMPARE(asked.site, server.base().mid(7));
    QCOMPARE(asked.realm, QString("Router Setup"));
    QVERIFY(!asked.proxy);
    QCOMPARE(asked.owner, window);

    // Cancel shows what the site sent with its refusal.
    server.requireSignIn("/printer/setup.htm", "Printer", "admin:opensesame");
    server.setHtml("/printer/setup.htm", "Printer Setup Page");
    window->NavigateTo(url("/printer/setup.htm"));
    WAIT_FOR_TITLE("Sign-in refused");
    QCOMPARE(ui->signInRequests.size(), 3);
    QVERIFY(ui->messages.isEmpty());
}

void TestBrowser::untrustedCertificateIsExplained_data()
{
    QTest::addColumn<QString>("names");
    QTest::addColumn<QStringList>("explained");
    QTest::newRow("self-signed") << "IP:127.0.0.1" << QStringList{"is self-signed"};
    QTest::newRow("self-signed, wrong name")
        << "DNS:elsewhere.example" << QStringList{"is self-signed", "is made out for elsewhere.example, not for 127.0.0.1"};
}

void TestBrowser::untrustedCertificateIsExplained()
{
    QFETCH(QString, names);
    QFETCH(QStringList, explained);
    PARCELO_REQUIRE_PEER(!QStandardPaths::findExecutable("openssl").isEmpty(), "openssl is not installed");
    QTemporaryDir folder;
    QProcess make;
    make.setWorkingDirectory(folder.path());
    make.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out", "cert.pem",
                           "-days", "2", "-subj", "/CN=" + names.section(':', 1), "-addext", "subjectAltName=" + names});
    QVERIFY(make.waitForFinished(30000));
    QCOMPARE(make.exitCode(), 0);
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    QProcess site;
    site.setWorkingDirectory(folder.path());
    site.start("openssl", {"s_server", "-accept", QStringLiteral("127.0.0.1:%1").arg(port), "-cert", "cert.pem",
                           "-key", "key.pem", "-www", "-quiet"});
    QVERIFY(site.waitForStarted());
    auto stop = qScopeGuard([&] { site.kill(); site.waitForFinished(); });
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                 QTcpSocket socket;
                                 socket.connectToHost(QHostAddress::LocalHost, port);
                                 return socket.waitForConnected(200);
                             }()),
                             10000);

    frmBrowser *window = open();
    const QString address = QStringLiteral("https://127.0.0.1:%1/").arg(port);
    window->NavigateTo(address);
    QTRY_COMPARE_WITH_TIMEOUT(ui->messages.size(), 1, LoadTimeout);
    const MessageRequest &box = ui->messages.at(0);
    QCOMPARE(box.title, QString("Certificate Not Trusted"));
    QCOMPARE(box.buttons, MsgButtons::OK); // nothing to click through
    QVERIFY2(box.prompt.contains("The page " + address + " was not opened"), qPrintable(box.prompt));
    for (const QString &fault : explained)
        QVERIFY2(box.prompt.contains(fault), qPrintable(box.prompt));
    QTRY_VERIFY_WITH_TIMEOUT(!timer()->isActive(), LoadTimeout);
}

void TestBrowser::downloadShowsProgressAndCanBeStopped()
{
    server.setContent("/big.bin", "application/octet-stream", QByteArray(200 * 1024, 'x'));
    server.trickle("/big.bin");
    frmBrowser *window = open();
    auto *bar = control()->findChild<QWidget *>("downloadBar");
    auto *progress = control()->findChild<QProgressBar *>("downloadProgress");
    auto *text = control()->findChild<QLabel *>("downloadText");
    auto *cancel = control()->findChild<QPushButton *>("downloadCancel");
    QVERIFY(bar && progress && text && cancel);
    QVERIFY(!bar->isVisible());

    const QString target = files.filePath("big.bin");
    ui->saveAnswers << target;
    window->NavigateTo(url("/big.bin"));
    QTRY_VERIFY_WITH_TIMEOUT(bar->isVisible(), LoadTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(progress->value(), 50, LoadTimeout);
    QVERIFY2(text->text().contains("big.bin") && text->text().contains("of 200 KB"), qPrintable(text->text()));

    // Closing asks first; No keeps the window and the download.
    ui->messageAnswers << MsgResult::No;
    window->close();
    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).title, QString("Download Running"));
    QCOMPARE(ui->messages.at(0).buttons, MsgButtons::YesNo);
    QVERIFY(ui->messages.at(0).prompt.contains("big.bin"));
    QCOMPARE(frmBrowser::existing(), window);
    QVERIFY(window->isVisible() && bar->isVisible());

    // The bar's button stops it: no file, no "Download Complete".
    QTest::mouseClick(cancel, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!bar->isVisible(), LoadTimeout);
    server.release();
    QTest::qWait(300);
    QCOMPARE(ui->messages.size(), 1);
    QVERIFY(!QFile::exists(target));

    // Yes stops the download and closes the window.
    server.trickle("/big.bin");
    ui->saveAnswers << target;
    window->NavigateTo(url("/big.bin"));
    QTRY_VERIFY_WITH_TIMEOUT(bar->isVisible(), LoadTimeout);
    QPointer<frmBrowser> closing = window;
    ui->messageAnswers << MsgResult::Yes;
    window->close();
    QCOMPARE(ui->messages.size(), 2);
    QVERIFY(!frmBrowser::existing());
    QTRY_VERIFY(!closing);
    server.release();
    QTest::qWait(300);
    QCOMPARE(ui->messages.size(), 2);
    QVERIFY(!QFile::exists(target));
}

void TestBrowser::offlineCancelIsSilent()
{
    frmBrowser *window = open();
    window->mnuOpen_Click(); // nothing queued: the dialog is cancelled
    QCOMPARE(ui->openRequests.size(), 1);
    QVERIFY(ui->messages.isEmpty());
    QCOMPARE(entries(), QStringList{server.base()});
    QVERIFY(!timer()->isActive());
    QTest::qWait(200);
    QVERIFY(server.requests.isEmpty());
}

void TestBrowser::offlineErrorAsksAbortRetryIgnore()
{
    frmBrowser *window = open();
    // A chosen path that is empty cannot be opened: asked, retried, then abandoned.
    ui->openAnswers << QString();
    ui->messageAnswers << MsgResult::Retry << MsgResult::Abort;
    window->mnuOpen_Click();
    QCOMPARE(ui->messages.size(), 2);
    const MessageRequest &box = ui->messages.at(0);
    QCOMPARE(box.buttons, MsgButtons::AbortRetryIgnore);
    QCOMPARE(box.icon, MsgIcon::Critical);
    QVERIFY(box.prompt.startsWith("5 \""));
    QCOMPARE(box.title, QStringLiteral("ERROR:  ") + box.prompt.mid(2));
    QCOMPARE(ui->openRequests.size(), 1); // Retry repeated the failed step only

    // Ignore goes on after the failed step: the command ends without another question.
    ui->messages.clear();
    ui->openAnswers << QString();
    ui->messageAnswers << MsgResult::Ignore;
    window->mnuOpen_Click();
    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(entries(), QStringList{server.base()});
}

void TestBrowser::onlineLinksOpenPublisherPages_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("pageTitle");
    QTest::newRow("product") << "mnuProduct" << "Product &Page" << "parcelo.htm" << "Parcelo - Product Page";
    QTest::newRow("publisher") << "mnuPublisher" << "Publisher &Home" << "" << "Orvanne Home";
    QTest::newRow("catalog") << "mnuCatalog" << "Publisher &Catalog" << "catalog.htm" << "Orvanne Catalog";
    QTest::newRow("store") << "mnuStore" << "Publisher &Store" << "store.htm" << "Orvanne Store";
    QTest::newRow("feedback") << "mnuFeedback" << "Support/&Feedback" << "Feedback.htm" << "Support and Feedback";
    QTest::newRow("free page") << "mnuFree" << "&Free Downloads Page" << "Free_Downloads.htm" << "Free Downloads";
    QTest::newRow("friend") << "mnuFriend" << "F&riendSearch Service" << "friendsearch.htm" << "FriendSearch";
    QTest::newRow("tech") << "mnuTech" << "Technology News (Computer, Internet, ...)" << "tech_news.htm" << "Technology News";
    QTest::newRow("entertain") << "mnuEntertain" << "Entertainment News (Movies, Games, ...)" << "entertainment_news.htm" << "Entertainment News";
    QTest::newRow("business") << "mnuBus" << "Business News (Stock Market)" << "business_news.htm" << "Business News";
    QTest::newRow("sports") << "mnuSports" << "Sports News (Golf, Tennis, ...)" << "sports_news.htm" << "Sports News";
    QTest::newRow("world") << "mnuWorld" << "World News (Politics, World Events, ...)" << "world_news.htm" << "World News";
}

void TestBrowser::onlineLinksOpenPublisherPages()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QString, path);
    QFETCH(QString, pageTitle);
    open();
    QAction *link = action(name.toLatin1().constData());
    QVERIFY(link);
    QCOMPARE(link->text(), caption);
    link->trigger();
    QCOMPARE(address()->currentText(), url("/" + path));
    WAIT_FOR_TITLE(pageTitle);
    QCOMPARE(entries(), (QStringList{url("/" + path), server.base()}));
    QCOMPARE(server.requests, QStringList{"/" + path});
    // The same link again leaves one entry for it.
    link->trigger();
    WAIT_FOR_TITLE(pageTitle);
    QCOMPARE(entries(), (QStringList{url("/" + path), server.base()}));
    QVERIFY(ui->messages.isEmpty());
}

void TestBrowser::onlineMenuOrder()
{
    frmBrowser *window = open();
    auto names = [](QMenu *menu) {
        QStringList list;
        for (QAction *a : menu->actions())
            list << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
        return list;
    };
    auto *online = window->findChild<QMenu *>("mnuOnline");
    QCOMPARE(names(online), (QStringList{"mnuProduct", "mnuPublisher", "mnuCatalog", "mnuStore", "mnuFeedback", "-",
                                         "mnuTrialTitle", "mnuJavaTitle", "mnuProgramsTitle", "mnuFree", "-",
                                         "mnuNewsTitle", "mnuFriend"}));
    QCOMPARE(window->findChild<QAction *>("mnuTrialTitle")->text(), QString("&Database Trial Downloads"));
    QCOMPARE(window->findChild<QAction *>("mnuJavaTitle")->text(), QString("&Java Demo Downloads"));
    QCOMPARE(window->findChild<QAction *>("mnuProgramsTitle")->text(), QString("Free Downlo&ads"));
    QCOMPARE(window->findChild<QAction *>("mnuNewsTitle")->text(), QString("Today's &News"));
    QCOMPARE(names(window->findChild<QMenu *>("mnuNews")),
             (QStringList{"mnuTech", "mnuEntertain", "mnuBus", "mnuSports", "mnuWorld"}));
}

void TestBrowser::downloadEntriesAskWhereToSave()
{
    frmBrowser *window = open();
    const struct { const char *menu; int entries; int disabled; } submenus[] = {
        {"mnuTrial", 5, 1}, {"mnuJava", 7, 0}, {"mnuPrograms", 6, 0}};
    static const QRegularExpression sized(QStringLiteral("^\\S.* \\(\\d+(\\.\\d)?(MB|KB)\\)$"));
    static const QRegularExpression installer(QStringLiteral("^[a-z]+/[a-z]+/[a-z0-9.-]+\\.(run|jar)$"));
    QSet<QString> paths;
    int asked = 0;
    for (const auto &submenu : submenus) {
        const QList<QAction *> links = window->findChild<QMenu *>(submenu.menu)->actions();
        QCOMPARE(links.size(), submenu.entries);
        int disabled = 0;
        for (QAction *link : links) {
            QVERIFY2(sized.match(link->text()).hasMatch(), qPrintable(link->text()));
            if (!link->isEnabled()) {
                // Disabled, and with no command behind it even if its signal came.
                ++disabled;
                const QStringList before = entries();
                const int requests = int(server.requests.size());
                Q_EMIT link->triggered(false);
                QTest::qWait(200);
                QCOMPARE(entries(), before);
                QCOMPARE(server.requests.size(), requests);
                QVERIFY(!timer()->isActive());
                continue;
            }
            link->trigger();
            const QString listed = entries().first();
            QVERIFY2(listed.startsWith(server.base() + "/"), qPrintable(listed));
            const QString path = listed.mid(server.base().size() + 1);
            QVERIFY2(installer.match(path).hasMatch(), qPrintable(path));
            paths << path;
            // The installer is offered for saving (here the user declines).
            ++asked;
            QTRY_COMPARE_WITH_TIMEOUT(ui->saveRequests.size(), asked, LoadTimeout);
            QCOMPARE(QFileInfo(ui->saveRequests.last().initialPath).fileName(), path.section('/', -1));
            QTRY_VERIFY_WITH_TIMEOUT(!timer()->isActive(), LoadTimeout);
        }
        QCOMPARE(disabled, submenu.disabled);
    }
    QCOMPARE(paths.size(), 17);
    QVERIFY(paths.contains(QLatin1String(OnlineLinks::AdvertisedTrialPath)));
    QVERIFY(ui->messages.isEmpty());
}

void TestBrowser::downloadSavesTheFile()
{
    frmBrowser *window = open();
    window->NavigateTo(url("/Free_Downloads.htm"));
    WAIT_FOR_TITLE("Free Downloads");
    const QString target = files.filePath("stopwatch.run");
    ui->saveAnswers << target;
    action("mnuFreeStopwatch")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(ui->messages.size(), 1, LoadTimeout);
    QCOMPARE(ui->messages.at(0).title, QString("Download Complete"));
    QVERIFY(ui->messages.at(0).prompt.contains(target));
    QFile saved(target);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("installer of free/stopwatch/tarn-stopwatch-setup.run"));
    // The page shown stays the one the download was started from.
    WAIT_FOR_TITLE("Free Downloads");
    QCOMPARE(control()->LocationURL(), url("/Free_Downloads.htm"));
}

void TestBrowser::closeAndReopenStartsAfresh()
{
    frmBrowser *window = open();
    window->NavigateTo(url("/store.htm"));
    WAIT_FOR_TITLE("Orvanne Store");
    QPointer<frmBrowser> closed = window;
    QTest::keyClick(window, Qt::Key_Backspace, Qt::AltModifier);
    QVERIFY(!frmBrowser::existing());
    QTRY_VERIFY(!closed);

    frmBrowser *again = open();
    QCOMPARE(entries(), QStringList{server.base()});
    QCOMPARE(again->windowTitle(), title(server.base().mid(7)));
    QVERIFY(again->browserControl()->LocationURL().isEmpty());

    // The close box unloads it the same way.
    closed = again;
    again->close();
    QVERIFY(!frmBrowser::existing());
    QTRY_VERIFY(!closed);
}

void TestBrowser::openPublisherPageFromOtherWindows()
{
    // Closed: the window is created and shown, its list starts with the starting address.
    QVERIFY(!frmBrowser::existing());
    TarnZip_Shared::OpenPublisherPage(QString());
    frmBrowser *window = frmBrowser::existing();
    QVERIFY(window && window->isVisible());
    QCOMPARE(entries(), (QStringList{url("/"), server.base()}));
    WAIT_FOR_TITLE("Orvanne Home");

    // Open: the same window navigates and gains the address at the top.
    TarnZip_Shared::OpenPublisherPage(QStringLiteral("catalog.htm"));
    QCOMPARE(frmBrowser::existing(), window);
    WAIT_FOR_TITLE("Orvanne Catalog");
    QCOMPARE(entries(), (QStringList{url("/catalog.htm"), url("/"), server.base()}));

    // A minimized window comes back.
    window->setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(window->isMinimized());
    TarnZip_Shared::OpenPublisherPage(QStringLiteral("store.htm"));
    QTRY_VERIFY(!window->isMinimized());
    WAIT_FOR_TITLE("Orvanne Store");
    QVERIFY(ui->messages.isEmpty());
}

void TestBrowser::openPublisherPageReportsErrors()
{
    qputenv("PARCELO_PUBLISHER_URL", "http:");
    TarnZip_Shared::OpenPublisherPage(QStringLiteral("parcelo.htm"));
    QCOMPARE(ui->messages.size(), 1);
    QCOMPARE(ui->messages.at(0).title, QString("Error: 5"));
    QCOMPARE(ui->messages.at(0).icon, MsgIcon::Critical);
    QCOMPARE(ui->messages.at(0).buttons, MsgButtons::OK);
    QVERIFY(ui->messages.at(0).prompt.contains("http:/parcelo.htm"));

    // The browser's own links report the same way.
    frmBrowser *window = frmBrowser::existing();
    QVERIFY(window);
    window->findChild<QAction *>("mnuStore")->trigger();
    QCOMPARE(ui->messages.size(), 2);
    QCOMPARE(ui->messages.at(1).title, QString("Error: 5"));
}

void TestBrowser::aboutOpensANewBoxEachTime()
{
    open();
    action("mnuAbout")->trigger();
    action("mnuAbout")->trigger();
    QList<frmAbout *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<frmAbout *>(widget); box && box->isVisible())
            boxes << box;
    }
    QCOMPARE(boxes.size(), 2);
    QVERIFY(!boxes.at(0)->isModal());
    QCOMPARE(boxes.at(0)->windowTitle(), QString::fromUtf8("About Parcelo\u2122"));
}

PARCELO_WEB_TEST_MAIN(TestBrowser)
#include "tst_browser.moc"
