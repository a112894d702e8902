#include "frmBrowser.h"

#include "appinfo.h"
#include "errorstyles.h"
#include "frmAbout.h"
#include "icons.h"
#include "messagebox.h"
#include "onlinelinks.h"
#include "twips.h"
#include "webbrowsercontrol.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

namespace {

frmBrowser *theBrowser = nullptr;

constexpr int BusyTickMs = 250;
const QString WorkingText = QStringLiteral("Working...");

// Sizes are set in twips like every other geometry of the window; a negative size is refused
// the way the toolkit refuses an invalid property value.
void setWidthTwips(QWidget *widget, int twips)
{
    if (twips < 0)
        throw AppError(380, QStringLiteral("Invalid property value"));
    widget->resize(Twips::toPixels(twips), widget->height());
}

void setHeightTwips(QWidget *widget, int twips)
{
    if (twips < 0)
        throw AppError(380, QStringLiteral("Invalid property value"));
    widget->resize(widget->width(), Twips::toPixels(twips));
}

} // namespace

frmBrowser *frmBrowser::instance()
{
    if (!theBrowser)
        theBrowser = new frmBrowser;
    return theBrowser;
}

frmBrowser *frmBrowser::existing()
{
    return theBrowser;
}

frmBrowser *frmBrowser::showInstance()
{
    frmBrowser *window = instance();
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

QString frmBrowser::TitlePrefix()
{
    return QStringLiteral("Tarn Surfer") + QString(23, QLatin1Char(' '));
}

QString frmBrowser::PublisherHost()
{
    const QString address = AppInfo::publisherUrl();
    const qsizetype schemeEnd = address.indexOf(QLatin1String("://"));
    return schemeEnd < 0 ? address : address.mid(schemeEnd + 3);
}

frmBrowser::frmBrowser(QWidget *parent)
    : QMainWindow(parent)
    , Opener(this)
{
    setObjectName(QStringLiteral("frmBrowser"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(TitlePrefix() + PublisherHost());

    client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    client->installEventFilter(this);

    setupToolBar();

    cboAddress = new QComboBox(client);
    cboAddress->setObjectName(QStringLiteral("cboAddress"));
    cboAddress->setEditable(true);
    cboAddress->setAccessibleName(QStringLiteral("Address"));
    cboAddress->lineEdit()->setAccessibleName(QStringLiteral("Address"));
    cboAddress->setInsertPolicy(QComboBox::NoInsert);
    cboAddress->setDuplicatesEnabled(true); // the list keeps its own rule for duplicates
    cboAddress->setCompleter(nullptr);      // no case-blind completion of typed addresses
    cboAddress->setMaxVisibleItems(20);
    cboAddress->setToolTip(QStringLiteral("Address: type one and press Enter, or pick one from the list"));
    cboAddress->setGeometry(Twips::rect(3600, 120, 13335 - 3600, 315));
    cboAddress->resize(cboAddress->width(),
                       qBound(Twips::toPixels(315), cboAddress->sizeHint().height(),
                              tbToolBar->height() - 4));
    cboAddress->lineEdit()->installEventFilter(this);
    cboAddress->installEventFilter(this);
    cboAddress->raise();

    WebBrowser = new WebBrowserControl(client);
    WebBrowser->setObjectName(QStringLiteral("WebBrowser"));
    WebBrowser->setGeometry(Twips::rect(0, 480, 13335, 9615));

    timTimer = new QTimer(this);
    timTimer->setObjectName(QStringLiteral("timTimer"));
    timTimer->setInterval(BusyTickMs);

    Opener.setCancelError(true);

    setupMenus();
    resize(Twips::size(13335, 10125) + QSize(0, menuBar()->sizeHint().height()));

    connect(cboAddress, &QComboBox::activated, this, &frmBrowser::cboAddress_Click);
    connect(timTimer, &QTimer::timeout, this, &frmBrowser::timTimer_Timer);
    connect(WebBrowser, &WebBrowserControl::DownloadComplete, this,
            &frmBrowser::WebBrowser_DownloadComplete);
}

frmBrowser::~frmBrowser()
{
    if (theBrowser == this)
        theBrowser = nullptr;
}

void frmBrowser::setupToolBar()
{
    const struct { const char *key; const char *name; QStyle::StandardPixmap fallback; } pictures[] = {
        {"o", "document-open", QStyle::SP_DialogOpenButton},
        {"b", "go-previous", QStyle::SP_ArrowBack},
        {"n", "go-next", QStyle::SP_ArrowForward},
        {"s", "process-stop", QStyle::SP_BrowserStop},
        {"r", "view-refresh", QStyle::SP_BrowserReload},
        {"h", "go-home", QStyle::SP_DirHomeIcon},
        {"c", "window-close", QStyle::SP_DialogCloseButton},
    };
    for (const auto &picture : pictures)
        imlIcons.insert(QLatin1String(picture.key),
                        Icons::themed(QLatin1String(picture.name), picture.fallback));

    tbToolBar = new QToolBar(client);
    tbToolBar->setObjectName(QStringLiteral("tbToolBar"));
    tbToolBar->setMovable(false);
    tbToolBar->setFloatable(false);
    tbToolBar->setIconSize(QSize(20, 20));
    tbToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    tbToolBar->setGeometry(Twips::rect(0, 0, 13335, 450));

    const struct { const char *key; const char *tip; const char *picture; } buttons[] = {
        {"Back", "Backward", "b"},
        {"Forward", "Forward", "n"},
        {"Stop", "Stop", "s"},
        {"Refresh", "Refresh", "r"},
        {"Home", "Home", "h"},
        {"Search", "Search", nullptr},
        {"Offline", "Browse Offline", "o"},
    };
    for (const auto &button : buttons) {
        const QString key = QLatin1String(button.key);
        QAction *action = tbToolBar->addAction(QLatin1String(button.tip));
        action->setObjectName(key);
        action->setData(key);
        action->setToolTip(QLatin1String(button.tip));
        if (button.picture)
            action->setIcon(imlIcons.value(QLatin1String(button.picture)));
        connect(action, &QAction::triggered, this, [this, key] { tbToolBar_ButtonClick(key); });
    }
}

void frmBrowser::setupMenus()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));

    auto addMenu = [bar](const char *name, const QString &caption) {
        QMenu *menu = bar->addMenu(caption);
        menu->setObjectName(QLatin1String(name));
        menu->menuAction()->setObjectName(QLatin1String(name) + QLatin1String("Title"));
        return menu;
    };
    auto addEntry = [](QMenu *menu, const char *name, const QString &caption,
                       const QKeySequence &shortcut = {}) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(shortcut);
        return action;
    };

    QMenu *mnuFile = addMenu("mnuFile", QStringLiteral("&File"));
    QAction *mnuOpen = addEntry(mnuFile, "mnuOpen", QStringLiteral("&Open..."), QKeySequence(Qt::CTRL | Qt::Key_O));
    mnuOpen->setIcon(imlIcons.value(QStringLiteral("o")));
    mnuFile->addSeparator();
    QAction *mnuClose = addEntry(mnuFile, "mnuClose", QStringLiteral("&Close Tarn Surfer"),
                                 QKeySequence(Qt::ALT | Qt::Key_Backspace));
    connect(mnuOpen, &QAction::triggered, this, &frmBrowser::mnuOpen_Click);
    connect(mnuClose, &QAction::triggered, this, &frmBrowser::mnuClose_Click);

    QMenu *mnuEdit = addMenu("mnuEdit", QStringLiteral("&Edit"));
    QAction *mnuRefresh = addEntry(mnuEdit, "mnuRefresh", QStringLiteral("&Refresh"), QKeySequence(Qt::Key_F5));
    mnuRefresh->setIcon(imlIcons.value(QStringLiteral("r")));
    connect(mnuRefresh, &QAction::triggered, this, &frmBrowser::mnuRefresh_Click);

    QMenu *mnuView = addMenu("mnuView", QStringLiteral("&View"));
    QAction *mnuHome = addEntry(mnuView, "mnuHome", QStringLiteral("&Home"));
    mnuHome->setVisible(false);
    QAction *homeSeparator = mnuView->addSeparator();
    homeSeparator->setObjectName(QStringLiteral("mnuViewSeparator"));
    homeSeparator->setVisible(false);
    QAction *mnuPrevious = addEntry(mnuView, "mnuPrevious", QStringLiteral("&Backward"), QKeySequence(Qt::CTRL | Qt::Key_B));
    mnuPrevious->setIcon(imlIcons.value(QStringLiteral("b")));
    QAction *mnuNext = addEntry(mnuView, "mnuNext", QStringLiteral("&Forward"), QKeySequence(Qt::CTRL | Qt::Key_F));
    mnuNext->setIcon(imlIcons.value(QStringLiteral("n")));
    connect(mnuHome, &QAction::triggered, this, &frmBrowser::mnuHome_Click);
    // Backward and Forward do what the tool bar's buttons do.
    connect(mnuPrevious, &QAction::triggered, this, [this] { tbToolBar_ButtonClick(QStringLiteral("Back")); });
    connect(mnuNext, &QAction::triggered, this, [this] { tbToolBar_ButtonClick(QStringLiteral("Forward")); });

    setupOnlineMenu();

    QMenu *mnuHelp = addMenu("mnuHelp", QStringLiteral("&Help"));
    QAction *mnuAbout = addEntry(mnuHelp, "mnuAbout", QStringLiteral("&About Parcelo..."));
    connect(mnuAbout, &QAction::triggered, this, &frmBrowser::mnuAbout_Click);
}

QAction *frmBrowser::addLink(QMenu *menu, const OnlineLinks::Link &link)
{
    QAction *action = menu->addAction(QString::fromUtf8(link.caption));
    action->setObjectName(QLatin1String(link.name));
    action->setEnabled(link.enabled);
    if (link.enabled) {
        const QString path = QString::fromUtf8(link.path);
        connect(action, &QAction::triggered, this, [this, path] {
            TrapAndReport(this, {[this, path] { NavigatePublisherPage(path); }});
        });
    }
    return action;
}

void frmBrowser::setupOnlineMenu()
{
    QMenu *mnuOnline = menuBar()->addMenu(QStringLiteral("&Online"));
    mnuOnline->setObjectName(QStringLiteral("mnuOnline"));
    mnuOnline->menuAction()->setObjectName(QStringLiteral("mnuOnlineTitle"));

    for (const OnlineLinks::Link &link : OnlineLinks::pages())
        addLink(mnuOnline, link);
    mnuOnline->addSeparator();

    auto addSubmenu = [this, mnuOnline](const char *name, const QString &caption,
                                        const QList<OnlineLinks::Link> &links) {
        QMenu *submenu = mnuOnline->addMenu(caption);
        submenu->setObjectName(QLatin1String(name));
        submenu->menuAction()->setObjectName(QLatin1String(name) + QLatin1String("Title"));
        for (const OnlineLinks::Link &link : links)
            addLink(submenu, link);
        return submenu;
    };
    addSubmenu("mnuTrial", QStringLiteral("&Database Trial Downloads"), OnlineLinks::databaseTrials());
    addSubmenu("mnuJava", QStringLiteral("&Java Demo Downloads"), OnlineLinks::javaDemos());
    addSubmenu("mnuPrograms", QStringLiteral("Free Downlo&ads"), OnlineLinks::freePrograms());
    addLink(mnuOnline, OnlineLinks::freeDownloadsPage());
    mnuOnline->addSeparator();
    addSubmenu("mnuNews", QStringLiteral("Today's &News"), OnlineLinks::news());
    addLink(mnuOnline, OnlineLinks::friendSearch());
}

void frmBrowser::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
}

void frmBrowser::Form_Load()
{
    TrapAndSkip({
        [this] { show(); },
        [this] { tbToolBar->update(); },
        [this] { Form_Resize(); },
        [this] { cboAddress->move(Twips::toPixels(3600), tbToolBar->y() + Twips::toPixels(40)); },
        [this] { StartingAddress = AppInfo::publisherUrl(); },
        [this] {
            if (!StartingAddress.isEmpty()) {
                cboAddress->setEditText(StartingAddress);
                cboAddress->addItem(cboAddress->currentText());
            }
        },
    });
}

void frmBrowser::Form_Resize()
{
    if (isMinimized())
        return;
    const int clientWidth = Twips::fromPixels(client->width());
    const int clientHeight = Twips::fromPixels(client->height());
    TrapAndSkip({
        [&] { setWidthTwips(cboAddress, clientWidth - 3600); },
        [&] { setWidthTwips(WebBrowser, clientWidth - Twips::fromPixels(WebBrowser->x()) - 20); },
        [&] { setHeightTwips(WebBrowser, clientHeight - 20 - Twips::fromPixels(WebBrowser->y())); },
    });
}

bool frmBrowser::eventFilter(QObject *watched, QEvent *event)
{
    if (!WebBrowser) // still being built
        return QMainWindow::eventFilter(watched, event);
    if (watched == client && event->type() == QEvent::Resize) {
        // The tool bar is aligned to the top: it spans the window by itself.
        tbToolBar->resize(client->width(), tbToolBar->height());
        Form_Resize();
    } else if (watched == cboAddress || watched == cboAddress->lineEdit()) {
        // On the closed box the wheel and the arrow and page keys would step to another entry
        // and report each step as a pick. Only a pick from the open list navigates: the wheel
        // leaves the box alone, the keys open the list.
        if (event->type() == QEvent::Wheel)
            return true;
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            const bool stepKey = key->key() == Qt::Key_Up || key->key() == Qt::Key_Down
                                 || key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown;
            if (stepKey && !(key->modifiers() & (Qt::AltModifier | Qt::ControlModifier))) {
                cboAddress->showPopup();
                return true;
            }
        }
    }
    if (watched == cboAddress || watched == cboAddress->lineEdit()) {
        // The box passes the keys typed into it to its line edit directly, past the line edit's
        // filters: Enter is taken on whichever of the two receives it.
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && cboAddress_KeyPress(13))
                return true;
        } else if (event->type() == QEvent::ShortcutOverride) {
            // Alt+Backspace closes the window, even from the address box (where it would undo).
            const auto *key = static_cast<QKeyEvent *>(event);
            if (key->keyCombination() == QKeyCombination(Qt::AltModifier, Qt::Key_Backspace)) {
                event->ignore();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmBrowser::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && m_loaded)
        Form_Resize();
}

void frmBrowser::closeEvent(QCloseEvent *event)
{
    // A download would go on unseen once the window is gone: the user decides.
    if (WebBrowser->downloadRunning()) {
        const QStringList names = WebBrowser->runningDownloads();
        const QString prompt = names.size() == 1
                                   ? QStringLiteral("The download of %1 is still running.\n\nStop it and close the window?")
                                         .arg(names.first())
                                   : QStringLiteral("%1 downloads are still running.\n\nStop them and close the window?")
                                         .arg(names.size());
        if (MsgBox(prompt, MsgButtons::YesNo, MsgIcon::Question, QStringLiteral("Download Running"), this)
            != MsgResult::Yes) {
            event->ignore();
            return;
        }
        WebBrowser->cancelDownloads();
    }
    Form_Unload();
    event->accept();
    if (theBrowser == this)
        theBrowser = nullptr;
}

void frmBrowser::Form_Unload()
{
    TrapAndSkip({[this] { timTimer->stop(); }, [this] { WebBrowser->Stop(); }});
}

void frmBrowser::NavigateToAddressBox()
{
    if (SuppressAddressClick)
        return;
    timTimer->start();
    WebBrowser->Navigate(cboAddress->currentText());
}

void frmBrowser::cboAddress_Click()
{
    // Picking an address from the list navigates to it; a failure is reported, not lost.
    TrapAndReport(this, {[this] { NavigateToAddressBox(); }});
}

bool frmBrowser::cboAddress_KeyPress(int KeyAscii)
{
    if (KeyAscii != 13)
        return false;
    // Enter goes to the typed address without adding it to the list. The key is taken here so
    // that the box does not also pick a list entry that differs only in letter case.
    if (cboAddress->currentText().trimmed().isEmpty())
        return true;
    try {
        NavigateToAddressBox();
    } catch (...) {
        ReportError(AppError::fromCurrentException(), this);
    }
    return true;
}

void frmBrowser::NavigateTo(const QString &address)
{
    if (!m_loaded)
        show(); // the list starts with the starting address, before any other
    cboAddress->setEditText(address);
    NavigateToAddressBox();
    UpdateAddressList();
}

void frmBrowser::NavigatePublisherPage(const QString &pagePath)
{
    NavigateTo(AppInfo::publisherUrl() + QLatin1Char('/') + pagePath);
}

void frmBrowser::UpdateAddressList()
{
    setWindowTitle(TitlePrefix() + WebBrowser->LocationName());
    const QString address = WebBrowser->LocationURL();
    int match = -1;
    for (int i = 0; i < cboAddress->count(); ++i) {
        if (cboAddress->itemText(i) == address) {
            match = i;
            break;
        }
    }
    struct Suppress
    {
        bool &flag;
        explicit Suppress(bool &f) : flag(f) { flag = true; }
        ~Suppress() { flag = false; }
    } suppress(SuppressAddressClick);
    if (match >= 0)
        cboAddress->removeItem(match);
    cboAddress->insertItem(0, address);
    cboAddress->setCurrentIndex(0);
    cboAddress_Click(); // selecting an entry raises the box's click; the flag makes it a no-op
}

void frmBrowser::timTimer_Timer()
{
    if (!WebBrowser->Busy()) {
        timTimer->stop();
        showPageTitle();
    } else {
        setWindowTitle(TitlePrefix() + WorkingText);
    }
}

void frmBrowser::showPageTitle()
{
    setWindowTitle(TitlePrefix() + WebBrowser->LocationName());
}

void frmBrowser::WebBrowser_DownloadComplete()
{
    TrapAndSkip({[this] { showPageTitle(); }});
}

void frmBrowser::tbToolBar_ButtonClick(const QString &key)
{
    TrapAndSkip({[this] { timTimer->start(); }});
    if (key == QLatin1String("Back")) {
        TrapAndSkip({[this] { WebBrowser->GoBack(); }});
    } else if (key == QLatin1String("Forward")) {
        TrapAndSkip({[this] { WebBrowser->GoForward(); }});
    } else if (key == QLatin1String("Refresh")) {
        TrapAndSkip({[this] { WebBrowser->Refresh(); }});
    } else if (key == QLatin1String("Home")) {
        TrapAndSkip({[this] { WebBrowser->GoHome(); }});
    } else if (key == QLatin1String("Search")) {
        TrapAndSkip({[this] { WebBrowser->GoSearch(); }});
    } else if (key == QLatin1String("Stop")) {
        TrapAndSkip({
            [this] { timTimer->stop(); },
            [this] { WebBrowser->Stop(); },
            [this] { showPageTitle(); },
        });
    } else if (key == QLatin1String("Offline")) {
        TrapAndSkip({[this] { mnuOpen_Click(); }});
    }
}

void frmBrowser::mnuOpen_Click()
{
    const AskWording wording{
        [](const AppError &e) { return QStringLiteral("%1 %2").arg(e.number()).arg(e.description()); },
        [](const AppError &e) { return QStringLiteral("ERROR:  ") + e.description(); },
    };
    TrapAndAsk(this,
               {
                   [this] {
                       Opener.setDialogTitle(QStringLiteral("Browse for offline web pages"));
                       Opener.setFilter(QStringLiteral("WebPages|*.htm; *.html |All Files|*.*"));
                   },
                   [this] { Opener.ShowOpen(); },
                   [this] { NavigateTo(Opener.fileName()); },
               },
               wording);
}

void frmBrowser::mnuClose_Click()
{
    close();
}

void frmBrowser::mnuRefresh_Click()
{
    TrapAndSkip({[this] { WebBrowser->Refresh(); }});
}

void frmBrowser::mnuHome_Click()
{
    TrapAndSkip({[this] { WebBrowser->GoHome(); }});
}

void frmBrowser::mnuAbout_Click()
{
    frmAbout::openNew();
}
