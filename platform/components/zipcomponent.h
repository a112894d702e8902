#pragma once
// The zip component as the windows call it: created by its identifier through the component
// factory, its calls raise AppError with the component's own number and description.
//
// When the component offers its optional interface, a call also reports its progress (as
// signals on the user-interface thread), can be stopped with cancel(), which makes it raise
// the cancel error 32755, and asks for the password of an encrypted archive with a masked
// input box owned by the window set with setOwner().

#include "apperror.h"

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <QString>
#include <functional>
#include <memory>

class ZipFunctions;
class ZipFunctionsQueried;
class ZipQuery;
struct ZipResult;

class ZipComponent : public QObject
{
    Q_OBJECT

public:
    // The component, or nullptr when it cannot be created.
    static std::unique_ptr<ZipComponent> create();
    ~ZipComponent() override;

    // Returns the component's account of what it did.
    QString ZipFile(const QString &source, const QString &archive);
    QString UnzipFile(const QString &archive, const QString &folder);
    // Zips files and folders (whole trees) into one archive. Needs the optional interface:
    // without it, raises the component's "one file at a time" error.
    QString ZipPaths(const QStringList &paths, const QString &archive);
    // Whether ZipPaths can be called.
    bool zipsTrees() const { return m_queried != nullptr; }

    // Whether calls report progress and can be cancelled.
    bool reportsProgress() const { return m_queried != nullptr; }
    // The window that makes the calls: it owns the password box, and Escape pressed in it
    // cancels the running call.
    void setOwner(QWidget *owner) { m_owner = owner; }
    // Asks the running call to stop; it then raises the cancel error. Nothing when idle.
    void cancel();
    bool isRunning() const { return m_running; }

Q_SIGNALS:
    void callStarted();
    // `done` of `total` bytes of file data; `entry` is the entry being written or read.
    void progressChanged(qint64 done, qint64 total, const QString &entry);
    void callFinished();

private:
    class Query;
    ZipComponent(ZipFunctions *functions, ZipFunctionsQueried *queried);
    ZipResult run(const std::function<ZipResult(ZipQuery *)> &call);
    void deliverProgress();

    ZipFunctions *m_functions;
    ZipFunctionsQueried *m_queried;
    std::unique_ptr<Query> m_query;
    QPointer<QWidget> m_owner;
    bool m_running = false;
};
