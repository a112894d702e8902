#pragma once
// The web browser control the browser window is built around, over Qt WebEngine, with the
// published names the window uses: Navigate, GoBack, GoForward, GoHome, GoSearch, Refresh, Stop,
// Busy, LocationName, LocationURL and the DownloadComplete event.
//
// A process that links the engine itself (rather than loading the browser plugin, see
// browserwindow.h) calls prepareProcess() before its QApplication exists.

#include <QElapsedTimer>
#include <QUrl>
#include <QWidget>

class QWebEngineDownloadRequest;
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

Q_SIGNALS:
    // A page has finished loading, failed or been stopped.
    void DownloadComplete();

private:
    void requestStarted(const QUrl &target);
    void onLoadingChanged(const QWebEngineLoadingInfo &info);
    void onUrlChanged(const QUrl &url);
    void onDownloadRequested(QWebEngineDownloadRequest *download);
    void watchDownload(QWebEngineDownloadRequest *download);

    QWebEngineView *m_view;
    QUrl m_pendingUrl;    // shown as LocationURL until the page's own address arrives
    QUrl m_requestedUrl;  // the address last asked for (empty for history and reload)
    bool m_requested = false;
    bool m_loading = false;
    QElapsedTimer m_requestedAt;
};
