// The main window's menus, its tray icon and tray menu, and the hand-over of a fresh archive
// to the mail window.

#include "frmZip.h"

#include "TarnZip_Shared.h"
#include "apperror.h"
#include "artwork.h"
#include "browserwindow.h"
#include "errorstyles.h"
#include "frmAbout.h"
#include "frmEditor.h"
#include "frmMail.h"
#include "trayicon.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

namespace {

QAction *addEntry(QMenu *menu, const char *name, const QString &caption, const QKeySequence &shortcut = {})
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    return action;
}

void bringForward(QWidget *window)
{
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

void frmZip::setupMenus()
{
    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    connect(addEntry(mnuFile, "mnuOpen", QStringLiteral("&Open..."), QKeySequence(Qt::CTRL | Qt::Key_O)),
            &QAction::triggered, this, &frmZip::mnuOpen_Click);
    connect(addEntry(mnuFile, "mnuZipp", QStringLiteral("Open and &zip..."), QKeySequence(Qt::CTRL | Qt::Key_Z)),
            &QAction::triggered, this, &frmZip::mnuZipp_Click);
    connect(addEntry(mnuFile, "mnuMailZip", QStringLiteral("Open, zip and &e-mail zipped file..."),
                     QKeySequence(Qt::CTRL | Qt::Key_E)),
            &QAction::triggered, this, &frmZip::mnuMailZip_Click);
    connect(addEntry(mnuFile, "mnuUnzipp", QStringLiteral("Open and &unzip..."), QKeySequence(Qt::CTRL | Qt::Key_U)),
            &QAction::triggered, this, &frmZip::mnuUnzipp_Click);
    mnuFile->addSeparator();
    connect(addEntry(mnuFile, "mnuExit", QStringLiteral("E&xit"), QKeySequence(Qt::ALT | Qt::Key_Backspace)),
            &QAction::triggered, this, &frmZip::mnuExit_Click);

    QMenu *tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    tools->setObjectName(QStringLiteral("mnuTools"));
    connect(addEntry(tools, "mnuEMail", QStringLiteral("E-&mail..."), QKeySequence(Qt::CTRL | Qt::Key_M)),
            &QAction::triggered, this, &frmZip::mnuEMail_Click);
    connect(addEntry(tools, "mnuEditor", QStringLiteral("&Text Editor..."), QKeySequence(Qt::CTRL | Qt::Key_T)),
            &QAction::triggered, this, &frmZip::mnuEditor_Click);
    connect(addEntry(tools, "mnuBrowser", QStringLiteral("&Web Browser..."), QKeySequence(Qt::CTRL | Qt::Key_W)),
            &QAction::triggered, this, &frmZip::mnuBrowser_Click);

    QMenu *online = menuBar()->addMenu(QStringLiteral("&Online"));
    online->setObjectName(QStringLiteral("mnuOnline"));
    TarnZip_Shared::AddPublisherPages(online);

    QMenu *window = menuBar()->addMenu(QStringLiteral("&Window"));
    window->setObjectName(QStringLiteral("mnuWindow"));
    connect(addEntry(window, "mnuTray", QStringLiteral("&Minimize to tray"), QKeySequence(Qt::CTRL | Qt::Key_H)),
            &QAction::triggered, this, &frmZip::mnuTray_Click);

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    connect(addEntry(help, "mnuAbout", QStringLiteral("About Parcelo...")), &QAction::triggered, this,
            &frmZip::mnuAbout_Click);

    // The tray menu never shows in the menu bar; it pops up from the tray icon.
    mnuInTray = new QMenu(QStringLiteral("TrayMenu"), this);
    mnuInTray->setObjectName(QStringLiteral("mnuInTray"));
    connect(addEntry(mnuInTray, "mnuzip", QStringLiteral("&Zip...")), &QAction::triggered, this, &frmZip::mnuZipp_Click);
    connect(addEntry(mnuInTray, "mnuZipMail", QStringLiteral("Zip and &e-mail...")), &QAction::triggered, this,
            &frmZip::mnuMailZip_Click);
    connect(addEntry(mnuInTray, "mnuUnzip", QStringLiteral("&Unzip...")), &QAction::triggered, this,
            &frmZip::mnuUnzipp_Click);
    mnuInTray->addSeparator();
    connect(addEntry(mnuInTray, "mnuShow", QStringLiteral("&Show Parcelo")), &QAction::triggered, this,
            &frmZip::mnuShow_Click);
    connect(addEntry(mnuInTray, "mnuClose", QStringLiteral("&Close Parcelo")), &QAction::triggered, this,
            &frmZip::mnuExit_Click);
}

void frmZip::setupTray()
{
    TrayControl = new TrayIcon(Artwork::applicationIcon(), QStringLiteral("Parcelo v1.0"), this);
    connect(TrayControl, &TrayIcon::restoreRequested, this, &frmZip::TrayControl_Restore);
    connect(TrayControl, &TrayIcon::menuRequested, this, &frmZip::TrayControl_Menu);
}

void frmZip::openAndRun(const QString &filter, OpenThen then)
{
    try {
        OpenDlg.setFileName(QString());
        OpenDlg.setFilter(filter);
        OpenDlg.ShowOpen();
        strFileDir = folderOf(OpenDlg.fileName(), OpenDlg.fileTitle());
        const bool archive = OpenDlg.fileName().contains(QLatin1String(".zip"), Qt::CaseInsensitive);
        m_menuCommand = true; // the dialog's file, not the items the path box may show
        if (then == OpenThen::Unzip || (then == OpenThen::ZipOrUnzip && archive))
            cmdUnzipp_Click();
        else
            cmdZipp_Click();
    } catch (const AppError &) {
        // A cancelled dialog, or another error: silent either way.
    }
    m_menuCommand = false;
    // The menu's file was for this command only: the buttons go on with the one the box shows.
    actOnShownFile();
}

void frmZip::mnuOpen_Click()
{
    openAndRun(QStringLiteral("All Files |*.*"), OpenThen::ZipOrUnzip);
}

void frmZip::mnuZipp_Click()
{
    openAndRun(QStringLiteral("All Files |*.*"), OpenThen::Zip);
}

void frmZip::mnuUnzipp_Click()
{
    openAndRun(QStringLiteral("Parcelo Files |*.zip"), OpenThen::Unzip);
}

void frmZip::mnuMailZip_Click()
{
    m_lastZipMadeArchive = false;
    mnuZipp_Click();
    mailLastArchive();
}

void frmZip::mailLastArchive()
{
    // Only an archive made by this run is handed over: after a cancel or a failed zip (which
    // the zip command has already reported) nothing stale or missing gets attached.
    if (!m_lastZipMadeArchive)
        return;
    TrapAndReport(this, {[&] {
        frmMail::open()->appendAttachment(strZipName, strZipPath, QStringLiteral("application/octet-stream"),
                                          QStringLiteral("Base 64"));
    }});
}

void frmZip::mnuExit_Click()
{
    // Typed text is not lost without a word: an editor with changes asks first, and Cancel
    // there keeps the program running.
    if (!frmEditor::mayDiscardEveryDocument())
        return;
    // Ends the program at once: no window's closing steps run, so nothing they store is saved.
    QCoreApplication::exit(0);
}

void frmZip::mnuEMail_Click()
{
    frmMail::open();
}

void frmZip::mnuEditor_Click()
{
    bringForward(frmEditor::primary());
}

void frmZip::mnuBrowser_Click()
{
    try {
        BrowserWindow::show(); // the first time loads the browser and its engine
    } catch (...) {
        ReportError(AppError::fromCurrentException(), this);
    }
}

void frmZip::mnuAbout_Click()
{
    frmAbout::openNew(); // one more about box each time
}

void frmZip::mnuTray_Click()
{
    if (!TrayIcon::isAvailable()) {
        // No notification area to come back from: minimize the ordinary way instead.
        showMinimized();
        return;
    }
    TrayControl->prepare();
    TrayControl->place();
    keepRunningWhileInTray(true);
    hide();
}

void frmZip::mnuShow_Click()
{
    bringForward(this);
    TrayControl->remove();
    keepRunningWhileInTray(false);
}

void frmZip::TrayControl_Restore()
{
    mnuShow_Click();
}

void frmZip::TrayControl_Menu(int)
{
    mnuInTray->popup(QCursor::pos());
}

void frmZip::keepRunningWhileInTray(bool inTray)
{
    // The program ends when no window is visible and the tray icon is not placed.
    QApplication::setQuitOnLastWindowClosed(!inTray);
}
