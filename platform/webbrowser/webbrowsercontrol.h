#pragma once
// The web browser control the browser window is built around, over Qt WebEngine, with the
// published names the window uses: Navigate, GoBack, GoForward, GoHome, GoSearch, Refresh, Stop,
// Busy, LocationName, LocationURL and the DownloadComplete event.
//
// The page the control shows stays the same page for the control's whole life: a request for a
// new window (a link with a target, a script's window.open, "Open link in new window", "View page
// source") navigates this page the way a link does, so its history, request filter, settings and
// handlers always apply; a window.open the user did not click for is refused. Sites that ask for a
// user name and password ask through the sign-in dialog; a certificate the system does not trust
// is refused with a message saying what is wrong with it; a running download shows its progress
// in a bar below the page, with a button that cancels it.
//
// A process that links the engine itself (rather than loading the browser plugin, see
// browserwindow.h) calls prepareProcess() before its QApplication exists.

#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>

class QAuthenticator;
class QLabel;
class QProgressBar;
class QPushButton;
class QWebEngineCertificateError;
class QWebEngineDownloadRequest;
class QWebEngineNewWindowRequest;
class QWebEngineLoadingInfo;
class QWebEngineView;

class WebBrowserControl : public QWidget
{
    Q_OBJECT

public:
    // The error a Navigate to an address that is no address raises.
    static constexpr int InvalidAddress = 5;

    // Call first thing in main(), before QApplication: sandbox off when running as root,
    // shared OpenGL contexts on (which makes OpenGL's libraries load at start).
    static void prepareProcess();

    // The home page: the publisher's site. The search page: the search page of that site.
    static QString homeAddress();
    static QString searchAddress();
    static constexpr const char *SearchPagePath = "search.htm";

    // What a typed address means: "example.com" and "host:8080" become http addresses,
    // "/path/page.htm" and "~/page.htm" local files (file://). Raises InvalidAddress for
    // empty text, for text that names no address and for schemes other than http, https, ftp
    // and file (javascript:, data:, view-source: and the like).
    static QUrl addressToUrl(const QString &address);

    explicit WebBrowserControl(QWidget *parent = nullptr);
    ~WebBrowserControl() override;

    void Navigate(const QString &address);
    void GoBack();
    void GoForward();
    void GoHome();
    void GoSearch();
    void Refresh();
    void Stop();

    // True from a navigation request until the page has loaded, failed or been stopped.
    bool Busy() const;
    // The current page's title, or its address while it has none.
    QString LocationName() const;
    // The current address; while a requested navigation has not yet arrived, the address
    // being navigated to (as a browser's address bar shows it).
    QString LocationURL() const;

    QWebEngineView *view() const { return m_view; }

    // True while a download started from this control is still running.
    bool downloadRunning() const;
    // The running downloads' file names.
    QStringList runningDownloads() const;
    // Stops every running download (its partial file is removed).
    void cancelDownloads();

Q_SIGNALS:
    // A page has finished loading, failed or been stopped.
    void DownloadComplete();

private:
    void requestStarted(const QUrl &target);
    void onLoadingChanged(const QWebEngineLoadingInfo &info);
    void onUrlChanged(const QUrl &url);
    void onDownloadRequested(QWebEngineDownloadRequest *download);
    void watchDownload(QWebEngineDownloadRequest *download);
    void showDownloads();
    void onNewWindowRequested(QWebEngineNewWindowRequest &request);
    void onAuthenticationRequired(const QUrl &url, QAuthenticator *authenticator, bool proxy,
                                  const QString &proxyHost);
    void onCertificateError(const QWebEngineCertificateError &error);

    QWebEngineView *m_view;
    QUrl m_pendingUrl;    // shown as LocationURL until the page's own address arrives
    QUrl m_requestedUrl;  // the address last asked for (empty for history and reload)
    bool m_requested = false;
    bool m_loading = false;
    QElapsedTimer m_requestedAt;

    QList<QPointer<QWebEngineDownloadRequest>> m_downloads; // running, oldest first
    QWidget *m_downloadBar;
    QLabel *m_downloadText;
    QProgressBar *m_downloadProgress;
    QPushButton *m_downloadCancel;
};
