#pragma once
// The main window: pick one file, then zip it into "<file>.zip" or unzip it, in the file's
// own folder or one the user picks, through the zip component; or pick a folder or several
// files (dropped, or named on the command line) and zip them into one archive.

#include "commondialog.h"

#include <QMainWindow>
#include <QUrl>
#include <memory>
#include <optional>

class DecorBar;
class QMenu;
class TrayIcon;
class QCheckBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class ZipComponent;
struct CommandLine;

class frmZip : public QMainWindow
{
    Q_OBJECT

public:
    // The one main window, created (component and check boxes included) on first use.
    static frmZip *instance();
    // The main window if it exists, else nullptr.
    static frmZip *existing();
    ~frmZip() override;

    // The zip and unzip commands; the menus run them too.
    void cmdZipp_Click();
    void cmdUnzipp_Click();
    void cmdBrowse_Click();
    // Takes `path` as the chosen file, as Browse does: the path box (and so the enabled
    // command), the dialog's file name and title, and the folder. Browse, a drop and the
    // command line all choose through here.
    void chooseFile(const QString &path);
    // Takes a folder, or several files and folders, as what the zip command zips into one
    // archive: the path box shows the folder, or the first path and "and N more". One file
    // alone is chosen as chooseFile() does.
    void chooseItems(const QStringList &paths);
    // The folder or the several items chosen; empty when one file (or nothing) is.
    QStringList chosenItems() const { return m_items; }
    // Runs what the command line asked for (not --help, --version or an invalid line).
    // Returns the status the program should end with now, or nothing while it goes on.
    std::optional<int> runCommandLine(const CommandLine &request);

    // --- menus and the tray (the menus act on the dialog's file, never on the path box)
    void mnuOpen_Click();
    void mnuZipp_Click();
    void mnuUnzipp_Click();
    void mnuMailZip_Click();
    void mnuExit_Click();
    void mnuEMail_Click();
    void mnuEditor_Click();
    void mnuBrowser_Click();
    void mnuAbout_Click();
    void mnuTray_Click();
    void mnuShow_Click();
    QMenu *trayMenu() const { return mnuInTray; }
    TrayIcon *trayControl() const { return TrayControl; }

    CommonDialog &openDialog() { return OpenDlg; }
    QString fileDir() const { return strFileDir; }
    void setFileDir(const QString &folder) { strFileDir = folder; }
    QString zipPath() const { return strZipPath; }
    QString zipName() const { return strZipName; }
    // Whether the last zip command made an archive (only after the component reported success).
    bool lastZipMadeArchive() const { return m_lastZipMadeArchive; }
    bool hasZipComponent() const { return objZip != nullptr; }

    // "Parcelo™" + four blanks + the publisher's web address.
    static QString normalCaption();
    // The folder of a chosen file: its full path without the file's own name, so it keeps
    // its trailing separator.
    static QString folderOf(const QString &fileName, const QString &fileTitle);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    explicit frmZip(QWidget *parent = nullptr);
    void Form_Initialize();
    void Form_Load();
    void txtZip_Change();
    void chkDir_Click();
    void chkOpen_Click();
    // The folder picked by the user, without a trailing separator (except "/"); empty on cancel.
    QString BrowseForFolder(const QString &prompt);
    // Whether a command writes elsewhere than beside its file, and where: the folder picker,
    // or without asking the folder the command line gave.
    bool writesElsewhere() const;
    QString otherFolder(const QString &prompt);
    // The archive a zip command writes when it wants `wanted`: that one when it is free or the
    // user agrees to replace it, else a free name beside it; nothing when the user cancels.
    std::optional<QString> archiveToWrite(const QString &wanted);
    void mailLastArchive();
    void takeDrop(const QList<QUrl> &urls);
    ZipComponent &zipComponent();
    void showCommandError();
    // After a cancelled file dialog and after every menu command: the commands act on the file
    // the path box shows.
    void actOnShownFile();
    enum class OpenThen { ZipOrUnzip, Zip, Unzip };
    void openAndRun(const QString &filter, OpenThen then);
    void setupMenus();
    void setupTray();
    void TrayControl_Restore();
    void TrayControl_Menu(int reason);
    void keepRunningWhileInTray(bool inTray);
    // The progress bar and Cancel button of a long zip or unzip call (frmZipProgress.cpp).
    void setupProgress();
    void ZipCall_Started();
    void ZipCall_Progress(qint64 done, qint64 total);
    void ZipCall_Finished();
    void cmdCancel_Click();

    QLineEdit *txtZip;
    QPushButton *cmdBrowse;
    QPushButton *cmdZipp;
    QPushButton *cmdUnzipp;
    QCheckBox *chkDir;
    QCheckBox *chkOpen;
    DecorBar *Image1[3];
    CommonDialog OpenDlg;
    QMenu *mnuFile = nullptr;
    QMenu *mnuInTray = nullptr;
    TrayIcon *TrayControl = nullptr;
    QProgressBar *prgZip = nullptr;
    QPushButton *cmdCancel = nullptr;
    QTimer *m_progressDelay = nullptr;

    std::unique_ptr<ZipComponent> objZip;
    QString strFileDir;
    QString strZipPath;
    QString strZipName;
    bool m_lastZipMadeArchive = false;
    bool m_commandDone = false; // the last zip or unzip command's component call worked
    // While a command from the command line runs: its target folder, empty for the file's own.
    std::optional<QString> m_commandLineFolder;
    bool m_commandLineReplaces = false; // and whether it replaces an archive already there
    QStringList m_items;                // a folder or several items chosen, for one archive
    bool m_menuCommand = false;         // a menu's command runs on the dialog's file
};
