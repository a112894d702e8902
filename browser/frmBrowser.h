#pragma once
// The browser window "Tarn Surfer": a small web browser with a tool bar, an address box that
// keeps a list of the addresses opened through it, a busy indicator in the title, and menus
// (File, Edit, View, Online, Help). There is one browser window; every caller uses instance().

#include "commondialog.h"

#include <QHash>
#include <QIcon>
#include <QMainWindow>

class QComboBox;
class QMenu;
class QTimer;
class QToolBar;
class WebBrowserControl;
namespace OnlineLinks { struct Link; }

class frmBrowser : public QMainWindow
{
    Q_OBJECT

public:
    // The browser window, created on first use (not shown).
    static frmBrowser *instance();
    // The browser window if it exists, else nullptr.
    static frmBrowser *existing();
    // instance(), shown modeless and brought to the front (the first show loads it).
    static frmBrowser *showInstance();
    ~frmBrowser() override;

    // "Tarn Surfer" followed by 23 blanks: the start of every title of the window.
    static QString TitlePrefix();
    // The publisher's address without its scheme ("www.orvanne.com").
    static QString PublisherHost();

    // Puts the address into the address box, navigates to it and puts the address the
    // browser reports at the top of the list. Errors are not trapped: they reach the caller.
    void NavigateTo(const QString &address);
    // NavigateTo the publisher's address, "/" and the page path ("" gives the site's root).
    void NavigatePublisherPage(const QString &pagePath);
    // Title from the current page; the current address moves to (or is added at) the top of
    // the list, compared exactly.
    void UpdateAddressList();

    // The publisher's address (no trailing "/"), set when the window loads.
    QString StartingAddress;
    // While true, a selection in the address box does not navigate.
    bool SuppressAddressClick = false;

    // The tool bar's button press, by the button's key ("Back", "Forward", ...).
    void tbToolBar_ButtonClick(const QString &key);
    // The offline page command (File > Open... and the "Browse Offline" button).
    void mnuOpen_Click();

    WebBrowserControl *browserControl() const { return WebBrowser; }
    CommonDialog &opener() { return Opener; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit frmBrowser(QWidget *parent = nullptr);
    void setupToolBar();
    void setupMenus();
    void setupOnlineMenu();
    QAction *addLink(QMenu *menu, const OnlineLinks::Link &link);

    void Form_Load();
    void Form_Resize();
    void Form_Unload();
    void cboAddress_Click();
    // A key typed into the address box; true when the key was handled (Enter).
    bool cboAddress_KeyPress(int KeyAscii);
    // The address-box navigation: navigate to the box's text unless SuppressAddressClick.
    void NavigateToAddressBox();
    void timTimer_Timer();
    void WebBrowser_DownloadComplete();
    void mnuClose_Click();
    void mnuRefresh_Click();
    void mnuHome_Click();
    void mnuAbout_Click();
    void showPageTitle();

    QWidget *client = nullptr;
    QToolBar *tbToolBar = nullptr;
    QComboBox *cboAddress = nullptr;
    WebBrowserControl *WebBrowser = nullptr;
    QTimer *timTimer = nullptr;
    CommonDialog Opener;
    QHash<QString, QIcon> imlIcons;
    bool m_loaded = false;
};
