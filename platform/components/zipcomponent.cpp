#include "zipcomponent.h"

#include "appinfo.h"
#include "busyguard.h"
#include "components.h"
#include "services.h"
#include "zip/ziperrors.h"
#include "zip/zipfunctions.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QMutex>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>

// What the window answers while a call runs on the component's thread. Progress is kept
// here and handed to the user-interface thread as one queued delivery at a time, whatever
// the component's pace; the password is asked on the user-interface thread while the
// component's thread waits for the answer.
class ZipComponent::Query : public ZipQuery
{
public:
    explicit Query(ZipComponent *component) : m_component(component) {}

    void reset()
    {
        m_cancel.store(false);
        QMutexLocker lock(&m_mutex);
        m_done = m_total = 0;
        m_entry.clear();
    }

    void requestCancel() { m_cancel.store(true); }

    void progress(qint64 done, qint64 total, const QString &entry) override
    {
        {
            QMutexLocker lock(&m_mutex);
            m_done = done;
            m_total = total;
            m_entry = entry;
        }
        if (!m_deliveryPending.exchange(true))
            QMetaObject::invokeMethod(m_component, &ZipComponent::deliverProgress, Qt::QueuedConnection);
    }

    bool cancelRequested() override { return m_cancel.load(std::memory_order_relaxed); }

    PasswordAnswer password(const QString &archive, const QString &entry, bool wrongBefore,
                            QByteArray *password) override
    {
        PasswordAnswer answer = PasswordAnswer::Cancelled;
        auto ask = [&] { answer = askPassword(archive, entry, wrongBefore, password); };
        if (QThread::currentThread() == m_component->thread())
            ask();
        else
            QMetaObject::invokeMethod(m_component, ask, Qt::BlockingQueuedConnection);
        return answer;
    }

    // The latest progress, taken by the user-interface thread.
    void take(qint64 *done, qint64 *total, QString *entry)
    {
        m_deliveryPending.store(false);
        QMutexLocker lock(&m_mutex);
        *done = m_done;
        *total = m_total;
        *entry = m_entry;
    }

private:
    PasswordAnswer askPassword(const QString &archive, const QString &entry, bool wrongBefore,
                               QByteArray *password)
    {
        const QString name = QFileInfo(archive).fileName();
        QString prompt = wrongBefore ? QStringLiteral("The password was wrong.\n") : QString();
        prompt += entry.isEmpty() ? QStringLiteral("“%1” is protected by a password.").arg(name)
                                  : QStringLiteral("“%1” in “%2” is protected by a password.").arg(entry, name);
        prompt += QStringLiteral("\nEnter the password:");
        InputRequest request{m_component->m_owner, prompt, AppInfo::title(), QString(), true};
        // The box takes clicks, so the pointer is not the busy one over it.
        QApplication::setOverrideCursor(Qt::ArrowCursor);
        std::optional<QString> typed = Services::instance().messages().askText(request);
        QApplication::restoreOverrideCursor();
        if (!typed)
            return PasswordAnswer::Cancelled;
        *password = typed->toUtf8();
        typed->fill(QChar(0)); // no copy of the password outlives the answer
        typed->clear();
        return PasswordAnswer::Given;
    }

    ZipComponent *m_component;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_deliveryPending{false};
    QMutex m_mutex;
    qint64 m_done = 0;
    qint64 m_total = 0;
    QString m_entry;
};

ZipComponent::ZipComponent(ZipFunctions *functions, ZipFunctionsQueried *queried)
    : m_functions(functions), m_queried(queried), m_query(std::make_unique<Query>(this))
{
}

ZipComponent::~ZipComponent() = default;

std::unique_ptr<ZipComponent> ZipComponent::create()
{
    QObject *object = Services::instance().components().createObject(QString::fromLatin1(ZipComponentProgId));
    auto *functions = qobject_cast<ZipFunctions *>(object);
    if (!functions)
        return nullptr;
    return std::unique_ptr<ZipComponent>(new ZipComponent(functions, qobject_cast<ZipFunctionsQueried *>(object)));
}

namespace {
QString outcome(const ZipResult &result)
{
    if (result.number == pnvzip::Cancelled)
        throw AppError::cancelled();
    if (!result.ok())
        throw AppError(result.number, result.text);
    return result.text;
}
} // namespace

void ZipComponent::cancel()
{
    if (m_running)
        m_query->requestCancel();
}

void ZipComponent::deliverProgress()
{
    qint64 done = 0, total = 0;
    QString entry;
    m_query->take(&done, &total, &entry);
    if (m_running)
        Q_EMIT progressChanged(done, total, entry);
}

// The component works on a thread of its own while the windows go on painting; for the user
// the call is still synchronous, and no command runs until it returns.
ZipResult ZipComponent::run(const std::function<ZipResult(ZipQuery *)> &call)
{
    BusyGuard busy(m_owner, [this] { cancel(); });
    m_query->reset();
    m_running = true;
    Q_EMIT callStarted();
    ZipQuery *query = m_queried ? m_query.get() : nullptr;
    QFuture<ZipResult> future = QtConcurrent::run([call, query] { return call(query); });
    QFutureWatcher<ZipResult> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<ZipResult>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished())
        loop.exec();
    m_running = false;
    Q_EMIT callFinished();
    return future.result();
}

QString ZipComponent::ZipFile(const QString &source, const QString &archive)
{
    return outcome(run([=, this](ZipQuery *query) {
        return query ? m_queried->ZipFileQueried(source, archive, *query) : m_functions->ZipFile(source, archive);
    }));
}

QString ZipComponent::UnzipFile(const QString &archive, const QString &folder)
{
    return outcome(run([=, this](ZipQuery *query) {
        return query ? m_queried->UnzipFileQueried(archive, folder, *query) : m_functions->UnzipFile(archive, folder);
    }));
}

QString ZipComponent::ZipPaths(const QStringList &paths, const QString &archive)
{
    if (!m_queried)
        throw AppError(pnvzip::SourceUnreadable,
                       QStringLiteral("The zip component installed zips one file at a time; it cannot zip folders "
                                      "or several files into one archive."));
    return outcome(run([=, this](ZipQuery *query) { return m_queried->ZipPathsQueried(paths, archive, *query); }));
}
