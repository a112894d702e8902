#include "webbrowsercontrol.h"

#include "apperror.h"
#include "appinfo.h"
#include "browserwindow.h"
#include "messagebox.h"
#include "services.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

namespace {

// A navigation that has not started a load after this long (an address nothing answers for,
// such as an unknown scheme) no longer counts as busy.
constexpr qint64 RequestGraceMs = 3000;

bool needsHost(const QString &scheme)
{
    static const QStringList schemes{QStringLiteral("http"), QStringLiteral("https"),
                                     QStringLiteral("ftp"), QStringLiteral("ws"),
                                     QStringLiteral("wss")};
    return schemes.contains(scheme);
}

// What the browser navigates to: web pages and the pages on disk. Other schemes (scripts, data,
// the engine's own pages and resources) are not addresses a user opens here.
bool isNavigable(const QString &scheme)
{
    static const QStringList schemes{QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("ftp"),
                                     QStringLiteral("file")};
    return schemes.contains(scheme);
}

AppError invalidAddress(const QString &address)
{
    return AppError(WebBrowserControl::InvalidAddress,
                    QStringLiteral("\"%1\" is not a web address or the path of a file.")
                        .arg(address.trimmed()));
}

// The address without its scheme, the way the engine names a page that has no title.
QString bareAddress(const QUrl &url)
{
    QString bare = url.toString(QUrl::RemoveScheme);
    if (bare.startsWith(QLatin1String("//")))
        bare.remove(0, 2);
    return bare;
}

// Files on disk load only as what a page shows: the page itself, its style sheets, scripts,
// pictures, fonts and media. Everything through which a script could read a file's contents
// (XMLHttpRequest and fetch, frames and objects whose documents it could open, workers) is
// refused, so a page opened from disk cannot read the user's other files. The engine treats all
// local files as one origin, so that the same-origin rule alone does not keep them apart.
class LocalReadFilter : public QWebEngineUrlRequestInterceptor
{
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        if (!info.requestUrl().isLocalFile())
            return;
        switch (info.resourceType()) {
        case QWebEngineUrlRequestInfo::ResourceTypeMainFrame:
        case QWebEngineUrlRequestInfo::ResourceTypeStylesheet:
        case QWebEngineUrlRequestInfo::ResourceTypeScript:
        case QWebEngineUrlRequestInfo::ResourceTypeImage:
        case QWebEngineUrlRequestInfo::ResourceTypeFontResource:
        case QWebEngineUrlRequestInfo::ResourceTypeMedia:
        case QWebEngineUrlRequestInfo::ResourceTypeFavicon:
            return;
        default:
            info.block(true);
        }
    }
};

// Links that ask for a new window open in this one: the browser has one window.
class SingleWindowView : public QWebEngineView
{
public:
    using QWebEngineView::QWebEngineView;

protected:
    QWebEngineView *createWindow(QWebEnginePage::WebWindowType) override { return this; }
};

} // namespace

void WebBrowserControl::prepareProcess()
{
    BrowserWindow::allowEngineAsRoot();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

QString WebBrowserControl::homeAddress()
{
    return AppInfo::publisherUrl();
}

QString WebBrowserControl::searchAddress()
{
    return AppInfo::publisherUrl() + QLatin1Char('/') + QLatin1String(SearchPagePath);
}

QUrl WebBrowserControl::addressToUrl(const QString &address)
{
    const QString text = address.trimmed();
    if (text.isEmpty())
        throw invalidAddress(address);

    static const QRegularExpression withScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    static const QRegularExpression hostAndPort(QStringLiteral("^[A-Za-z0-9.-]+:[0-9]+(/.*)?$"));
    QUrl url;
    if (text.startsWith(QLatin1Char('/'))) {
        url = QUrl::fromLocalFile(text);
    } else if (text == QLatin1String("~") || text.startsWith(QLatin1String("~/"))) {
        url = QUrl::fromLocalFile(QDir::homePath() + text.mid(1));
    } else if (withScheme.match(text).hasMatch() && !hostAndPort.match(text).hasMatch()) {
        url = QUrl(text, QUrl::TolerantMode);
    } else {
        url = QUrl::fromUserInput(text);
    }
    if (!url.isValid() || url.isRelative() || (needsHost(url.scheme()) && url.host().isEmpty()))
        throw invalidAddress(address);
    if (!isNavigable(url.scheme()))
        throw AppError(WebBrowserControl::InvalidAddress,
                       QStringLiteral("\"%1\" cannot be opened here: only http, https, ftp and file addresses "
                                      "can.")
                           .arg(address.trimmed()));
    // The engine shows a site's root with its "/"; so does the address it was asked for.
    if (needsHost(url.scheme()) && url.path().isEmpty())
        url.setPath(QStringLiteral("/"));
    return url;
}

WebBrowserControl::WebBrowserControl(QWidget *parent)
    : QWidget(parent)
    , m_view(new SingleWindowView(this))
{
    m_view->setObjectName(QStringLiteral("view"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    setFocusProxy(m_view);
    // A page opened from disk shows its own pictures and style sheets (which the engine loads
    // only while local content may load local files), but its scripts may not read local files.
    m_view->page()->setUrlRequestInterceptor(new LocalReadFilter(m_view->page()));

    connect(m_view->page(), &QWebEnginePage::loadingChanged, this, &WebBrowserControl::onLoadingChanged);
    connect(m_view, &QWebEngineView::urlChanged, this, &WebBrowserControl::onUrlChanged);
    connect(m_view->page()->profile(), &QWebEngineProfile::downloadRequested, this,
            &WebBrowserControl::onDownloadRequested);
}

WebBrowserControl::~WebBrowserControl() = default;

void WebBrowserControl::requestStarted(const QUrl &target)
{
    m_requested = true;
    m_requestedAt.start();
    m_requestedUrl = target;
    m_pendingUrl = target;
}

void WebBrowserControl::Navigate(const QString &address)
{
    const QUrl url = addressToUrl(address);
    requestStarted(url);
    m_view->load(url);
}

void WebBrowserControl::GoBack()
{
    if (!m_view->history()->canGoBack())
        return;
    requestStarted({});
    m_view->back();
}

void WebBrowserControl::GoForward()
{
    if (!m_view->history()->canGoForward())
        return;
    requestStarted({});
    m_view->forward();
}

void WebBrowserControl::GoHome()
{
    Navigate(homeAddress());
}

void WebBrowserControl::GoSearch()
{
    Navigate(searchAddress());
}

void WebBrowserControl::Refresh()
{
    if (m_view->url().isEmpty())
        return;
    requestStarted({});
    m_view->reload();
}

void WebBrowserControl::Stop()
{
    m_view->stop();
    m_requested = false;
    m_loading = false;
    m_pendingUrl.clear();
}

bool WebBrowserControl::Busy() const
{
    return m_loading || (m_requested && m_requestedAt.elapsed() < RequestGraceMs);
}

QString WebBrowserControl::LocationName() const
{
    const QUrl url = m_view->url();
    const QString title = m_view->title();
    const bool untitled = title.isEmpty() || title == bareAddress(url)
                          || (url.isLocalFile() && title == url.fileName());
    if (untitled)
        return url.isEmpty() ? QString() : url.toString();
    return title;
}

QString WebBrowserControl::LocationURL() const
{
    if (m_pendingUrl.isValid())
        return m_pendingUrl.toString();
    return m_view->url().toString();
}

void WebBrowserControl::onLoadingChanged(const QWebEngineLoadingInfo &info)
{
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        m_loading = true;
        m_requested = false;
        return;
    }
    m_loading = false;
    // A load that ends while a newer request waits to start leaves that request alone.
    if (!m_requested || info.url() == m_requestedUrl) {
        m_requested = false;
        m_pendingUrl.clear();
    }
    emit DownloadComplete();
}

void WebBrowserControl::onUrlChanged(const QUrl &url)
{
    if (url == m_pendingUrl)
        m_pendingUrl.clear();
    // A move within the same page (an anchor, or history between anchors) arrives without a load.
    if (!m_loading && m_requested && (url == m_requestedUrl || m_requestedUrl.isEmpty()))
        m_requested = false;
}

void WebBrowserControl::onDownloadRequested(QWebEngineDownloadRequest *download)
{
    if (download->page() != m_view->page()
        || download->state() != QWebEngineDownloadRequest::DownloadRequested)
        return;
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    FileDialogRequest request;
    request.owner = window();
    request.title = QStringLiteral("Save Download");
    request.filters = {QStringLiteral("All Files (*)")};
    request.initialPath = QDir(folder).filePath(download->downloadFileName());
    request.confirmOverwrite = true;
    const std::optional<QString> chosen = Services::instance().dialogs().saveFile(request);
    if (!chosen || chosen->isEmpty()) {
        download->cancel();
        return;
    }
    const QFileInfo target(*chosen);
    download->setDownloadDirectory(target.absolutePath());
    download->setDownloadFileName(target.fileName());
    watchDownload(download);
    download->accept();
}

void WebBrowserControl::watchDownload(QWebEngineDownloadRequest *download)
{
    connect(download, &QWebEngineDownloadRequest::isFinishedChanged, this, [this, download] {
        if (!download->isFinished())
            return;
        const QString file = QDir(download->downloadDirectory()).filePath(download->downloadFileName());
        if (download->state() == QWebEngineDownloadRequest::DownloadCompleted) {
            MsgBox(QStringLiteral("The download is complete:\n%1").arg(QDir::toNativeSeparators(file)),
                   MsgButtons::OK, MsgIcon::Information, QStringLiteral("Download Complete"), window());
        } else if (download->state() == QWebEngineDownloadRequest::DownloadInterrupted) {
            MsgBox(QStringLiteral("The download of %1 failed: %2")
                       .arg(download->url().toString(), download->interruptReasonString()),
                   MsgButtons::OK, MsgIcon::Exclamation, QStringLiteral("Download Failed"), window());
        }
    });
}
