#include "zipcomponent.h"

#include "busyguard.h"
#include "components.h"
#include "services.h"
#include "zip/zipfunctions.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>
#include <memory>

ZipComponent::ZipComponent(ZipFunctions *functions)
    : m_functions(functions)
{
}

std::unique_ptr<ZipComponent> ZipComponent::create()
{
    QObject *object = Services::instance().components().createObject(QString::fromLatin1(ZipComponentProgId));
    auto *functions = qobject_cast<ZipFunctions *>(object);
    if (!functions)
        return nullptr;
    return std::unique_ptr<ZipComponent>(new ZipComponent(functions));
}

namespace {
QString outcome(const ZipResult &result)
{
    if (!result.ok())
        throw AppError(result.number, result.text);
    return result.text;
}
} // namespace

// The component works on a thread of its own while the windows go on painting; for the user
// the call is still synchronous, and no command runs until it returns.
ZipResult ZipComponent::wait(const std::function<ZipResult()> &call)
{
    BusyGuard busy;
    QFuture<ZipResult> future = QtConcurrent::run(call);
    QFutureWatcher<ZipResult> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<ZipResult>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished())
        loop.exec();
    return future.result();
}

QString ZipComponent::ZipFile(const QString &source, const QString &archive)
{
    return outcome(wait([=, this] { return m_functions->ZipFile(source, archive); }));
}

QString ZipComponent::UnzipFile(const QString &archive, const QString &folder)
{
    return outcome(wait([=, this] { return m_functions->UnzipFile(archive, folder); }));
}
