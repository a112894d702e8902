#include "webbrowsercontrol.h"

#include "apperror.h"
#include "appinfo.h"
#include "browserwindow.h"
#include "messagebox.h"
#include "services.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineCertificateError>
#include <QWebEngineDownloadRequest>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
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

// What a page opened from disk may load. Its own files: pictures, style sheets, scripts, fonts,
// media and frames from its folder and the folders below it; pictures, style sheets and the like
// from the web. Nothing else: no file outside its folder (so no script can read it, by a frame or
// by drawing a picture into a canvas and reading the pixels back), and no request a script makes
// by itself (fetch, XMLHttpRequest, WebSocket, workers, pings, objects), so nothing it could read
// leaves the computer. The engine treats all local files as one origin, so the same-origin rule
// alone does not keep them apart. A page from the web may load no local file at all.
//
// The filter belongs to one page and follows the document that page shows: the folder is taken
// from each main-frame request and from each address the page commits to.
class LocalPageFilter : public QWebEngineUrlRequestInterceptor
{
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    void pageShows(const QUrl &url) { m_folder = url.isLocalFile() ? folderOf(url) : QString(); }

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        const QUrl url = info.requestUrl();
        const auto type = info.resourceType();
        if (type == QWebEngineUrlRequestInfo::ResourceTypeMainFrame) {
            pageShows(url);
            return;
        }
        if (m_folder.isEmpty()) {
            if (url.isLocalFile())
                info.block(true);
            return;
        }
        switch (type) {
        case QWebEngineUrlRequestInfo::ResourceTypeSubFrame:
        case QWebEngineUrlRequestInfo::ResourceTypeStylesheet:
        case QWebEngineUrlRequestInfo::ResourceTypeScript:
        case QWebEngineUrlRequestInfo::ResourceTypeImage:
        case QWebEngineUrlRequestInfo::ResourceTypeFontResource:
        case QWebEngineUrlRequestInfo::ResourceTypeMedia:
        case QWebEngineUrlRequestInfo::ResourceTypeFavicon:
            if (url.isLocalFile() && !pathOf(url).startsWith(m_folder))
                info.block(true);
            return;
        default:
            info.block(true);
        }
    }

private:
    // The file's path with its links resolved where it exists (a link in the page's folder to a
    // file elsewhere is elsewhere).
    static QString pathOf(const QUrl &url)
    {
        const QFileInfo file(url.toLocalFile());
        const QString canonical = file.canonicalFilePath();
        return canonical.isEmpty() ? QDir::cleanPath(file.absoluteFilePath()) : canonical;
    }
    static QString folderOf(const QUrl &url)
    {
        const QString path = pathOf(url);
        return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
    }

    QString m_folder; // the folder of the page from disk, with its "/"; empty for other pages
};

// The one page of the control. Its protections are set once, here, and stay: it never hands its
// place to another page, because it opens no windows (see onNewWindowRequested).
class GuardedPage : public QWebEnginePage
{
public:
    explicit GuardedPage(QObject *parent)
        : QWebEnginePage(parent)
        , m_filter(new LocalPageFilter(this))
    {
        setUrlRequestInterceptor(m_filter);
        connect(this, &QWebEnginePage::urlChanged, this, [this](const QUrl &url) { m_filter->pageShows(url); });
        QWebEngineSettings *options = settings();
        // Pictures and style sheets of a page from disk load only while local content may load
        // local files; the filter above decides which.
        options->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
        options->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        // The engine's pop-up rule: window.open works only from a user's click.
        options->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    }

protected:
    // No page of another window: the request arrives as newWindowRequested and is followed here.
    QWebEnginePage *createWindow(WebWindowType) override { return nullptr; }

private:
    LocalPageFilter *m_filter;
};

// The view's own new windows go the same way (the page above never asks it for one).
class SingleWindowView : public QWebEngineView
{
public:
    using QWebEngineView::QWebEngineView;

protected:
    QWebEngineView *createWindow(QWebEnginePage::WebWindowType) override { return nullptr; }
};

// "view-source:" followed by an address the browser opens: what "View page source" asks for.
bool isSourceOfNavigable(const QUrl &url)
{
    if (url.scheme() != QLatin1String("view-source"))
        return false;
    const QUrl inner(url.toString(QUrl::FullyEncoded).mid(int(qstrlen("view-source:"))));
    return inner.isValid() && isNavigable(inner.scheme());
}

QString formatSize(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KB").arg(bytes / 1024);
    return QStringLiteral("%1 MB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1);
}

// True when the certificate names the host (its alternative names, or its common name when it
// has none; "*.example.com" covers one level).
bool namesHost(const QSslCertificate &certificate, const QString &host)
{
    QStringList names = certificate.subjectAlternativeNames().values();
    if (names.isEmpty())
        names = certificate.subjectInfo(QSslCertificate::CommonName);
    for (const QString &name : std::as_const(names)) {
        if (name.compare(host, Qt::CaseInsensitive) == 0)
            return true;
        if (name.startsWith(QLatin1String("*.")) && host.count(QLatin1Char('.')) == name.count(QLatin1Char('.'))
            && host.endsWith(name.mid(1), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// What is wrong with the site's certificate, every fault the engine or the certificate shows
// ("is self-signed ..., and it expired on ..."), to follow "Its certificate ".
QString certificateProblem(const QWebEngineCertificateError &error)
{
    const QList<QSslCertificate> chain = error.certificateChain();
    const QSslCertificate first = chain.isEmpty() ? QSslCertificate() : chain.first();
    const QString host = error.url().host();
    const auto type = error.type();
    QStringList faults;
    if (type == QWebEngineCertificateError::CertificateAuthorityInvalid) {
        faults << (!first.isNull() && (first.isSelfSigned() || chain.size() == 1)
                       ? QStringLiteral("is self-signed: it vouches for itself, and no authority this computer "
                                        "trusts vouches for it")
                       : QStringLiteral("was issued by an authority this computer does not trust"));
    }
    if (type == QWebEngineCertificateError::CertificateCommonNameInvalid || (!first.isNull() && !namesHost(first, host))) {
        QStringList names = first.isNull() ? QStringList() : first.subjectAlternativeNames().values();
        if (names.isEmpty() && !first.isNull())
            names = first.subjectInfo(QSslCertificate::CommonName);
        faults << (names.isEmpty() ? QStringLiteral("is made out for another site than %1").arg(host)
                                   : QStringLiteral("is made out for %1, not for %2")
                                         .arg(names.join(QStringLiteral(", ")), host));
    }
    const QDateTime now = QDateTime::currentDateTime();
    if (!first.isNull() && first.expiryDate() < now)
        faults << QStringLiteral("expired on %1").arg(QLocale().toString(first.expiryDate()));
    else if (!first.isNull() && first.effectiveDate() > now)
        faults << QStringLiteral("is not valid before %1").arg(QLocale().toString(first.effectiveDate()));
    else if (type == QWebEngineCertificateError::CertificateDateInvalid)
        faults << QStringLiteral("has expired or is not yet valid");
    if (type == QWebEngineCertificateError::CertificateRevoked)
        faults << QStringLiteral("has been revoked by the authority that issued it");
    if (faults.isEmpty())
        faults << QStringLiteral("cannot be trusted (%1)").arg(error.description());
    if (faults.size() == 1)
        return faults.first();
    const QString last = faults.takeLast();
    return faults.join(QStringLiteral("; it ")) + QStringLiteral("; and it ") + last;
}

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
    , m_downloadBar(new QWidget(this))
    , m_downloadText(new QLabel(m_downloadBar))
    , m_downloadProgress(new QProgressBar(m_downloadBar))
    , m_downloadCancel(new QPushButton(QStringLiteral("&Cancel Download"), m_downloadBar))
{
    m_view->setObjectName(QStringLiteral("view"));
    auto *page = new GuardedPage(m_view);
    m_view->setPage(page);

    m_downloadBar->setObjectName(QStringLiteral("downloadBar"));
    m_downloadText->setObjectName(QStringLiteral("downloadText"));
    m_downloadProgress->setObjectName(QStringLiteral("downloadProgress"));
    m_downloadCancel->setObjectName(QStringLiteral("downloadCancel"));
    m_downloadProgress->setAccessibleName(QStringLiteral("Download progress"));
    m_downloadProgress->setMaximumWidth(200);
    auto *barLayout = new QHBoxLayout(m_downloadBar);
    barLayout->setContentsMargins(4, 2, 4, 2);
    barLayout->addWidget(m_downloadText, 1);
    barLayout->addWidget(m_downloadProgress);
    barLayout->addWidget(m_downloadCancel);
    m_downloadBar->hide();
    connect(m_downloadCancel, &QPushButton::clicked, this, [this] {
        if (!m_downloads.isEmpty() && m_downloads.last())
            m_downloads.last()->cancel();
    });

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_downloadBar);
    setFocusProxy(m_view);

    connect(page, &QWebEnginePage::loadingChanged, this, &WebBrowserControl::onLoadingChanged);
    connect(m_view, &QWebEngineView::urlChanged, this, &WebBrowserControl::onUrlChanged);
    connect(page, &QWebEnginePage::newWindowRequested, this, &WebBrowserControl::onNewWindowRequested);
    connect(page, &QWebEnginePage::authenticationRequired, this,
            [this](const QUrl &url, QAuthenticator *authenticator) {
                onAuthenticationRequired(url, authenticator, false, QString());
            });
    connect(page, &QWebEnginePage::proxyAuthenticationRequired, this,
            [this](const QUrl &url, QAuthenticator *authenticator, const QString &proxyHost) {
                onAuthenticationRequired(url, authenticator, true, proxyHost);
            });
    connect(page, &QWebEnginePage::certificateError, this, &WebBrowserControl::onCertificateError);
    connect(page->profile(), &QWebEngineProfile::downloadRequested, this,
            &WebBrowserControl::onDownloadRequested);
}

WebBrowserControl::~WebBrowserControl()
{
    // Nobody would see a download end once its window is gone.
    cancelDownloads();
}

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
    m_downloads.append(download);
    connect(download, &QWebEngineDownloadRequest::receivedBytesChanged, this, &WebBrowserControl::showDownloads);
    connect(download, &QWebEngineDownloadRequest::totalBytesChanged, this, &WebBrowserControl::showDownloads);
    connect(download, &QWebEngineDownloadRequest::isFinishedChanged, this, [this, download] {
        if (!download->isFinished())
            return;
        m_downloads.removeAll(download);
        m_downloads.removeAll(nullptr);
        showDownloads();
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
    showDownloads();
}

void WebBrowserControl::showDownloads()
{
    m_downloads.removeAll(nullptr);
    if (m_downloads.isEmpty()) {
        m_downloadBar->hide();
        return;
    }
    // The bar follows the latest download; the others go on and are counted.
    QWebEngineDownloadRequest *download = m_downloads.last();
    const qint64 received = download->receivedBytes();
    const qint64 total = download->totalBytes();
    QString text = QStringLiteral("Downloading %1: %2").arg(download->downloadFileName(), formatSize(received));
    if (total > 0) {
        text += QStringLiteral(" of %1").arg(formatSize(total));
        m_downloadProgress->setRange(0, 100);
        m_downloadProgress->setValue(int(received * 100 / total));
    } else {
        m_downloadProgress->setRange(0, 0); // size unknown: a busy bar
    }
    if (m_downloads.size() > 1)
        text += QStringLiteral(" (%1 more running)").arg(m_downloads.size() - 1);
    m_downloadText->setText(text);
    m_downloadBar->show();
}

bool WebBrowserControl::downloadRunning() const
{
    for (const auto &download : m_downloads) {
        if (download && !download->isFinished())
            return true;
    }
    return false;
}

QStringList WebBrowserControl::runningDownloads() const
{
    QStringList names;
    for (const auto &download : m_downloads) {
        if (download && !download->isFinished())
            names << download->downloadFileName();
    }
    return names;
}

void WebBrowserControl::cancelDownloads()
{
    const auto downloads = m_downloads;
    for (const auto &download : downloads) {
        if (download && !download->isFinished())
            download->cancel();
    }
}

void WebBrowserControl::onNewWindowRequested(QWebEngineNewWindowRequest &request)
{
    // Pop-ups a page opens by itself are refused, as browsers block them; what the user asked
    // for opens here, as a link followed in this page (Back returns to the page before).
    if (!request.isUserInitiated())
        return;
    const QUrl url = request.requestedUrl();
    if (!url.isValid() || !(isNavigable(url.scheme()) || isSourceOfNavigable(url)))
        return;
    m_view->load(url);
}

void WebBrowserControl::onAuthenticationRequired(const QUrl &url, QAuthenticator *authenticator, bool proxy,
                                                 const QString &proxyHost)
{
    SignInRequest request;
    request.owner = window();
    request.proxy = proxy;
    request.realm = authenticator->realm();
    if (proxy) {
        request.site = proxyHost;
    } else {
        request.site = url.host();
        const int defaultPort = url.scheme() == QLatin1String("https") ? 443 : 80;
        if (url.port(defaultPort) != defaultPort)
            request.site += QLatin1Char(':') + QString::number(url.port());
    }
    const std::optional<SignIn> answer = Services::instance().dialogs().askSignIn(request);
    if (!answer) {
        // Cancelled: the engine shows what the site sent with its refusal.
        *authenticator = QAuthenticator();
        return;
    }
    authenticator->setUser(answer->user);
    authenticator->setPassword(answer->password);
}

void WebBrowserControl::onCertificateError(const QWebEngineCertificateError &error)
{
    // Never opened anyway: the user is told why, with nothing to click through.
    QWebEngineCertificateError refused = error;
    refused.rejectCertificate();
    const QString prompt = QStringLiteral("The page %1 was not opened.\n\nIts certificate %2, so the site "
                                          "cannot be told apart from another one posing as it.")
                               .arg(error.url().toString(), certificateProblem(error));
    QTimer::singleShot(0, this, [this, prompt] {
        MsgBox(prompt, MsgButtons::OK, MsgIcon::Exclamation, QStringLiteral("Certificate Not Trusted"), window());
    });
}
