#pragma once
// A zip component that records what the window asked of it and answers as scripted. It is
// called on the component's own thread, as the real one is; `delayMs` makes it slow. Through
// the queried interface it also reports progress over that time, stops soon after a cancel
// request, and asks for a password until it is given the right one.

#include "zip/ziperrors.h"
#include "zip/zipfunctions.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QThread>
#include <QWidget>

class FakeZip : public QObject, public ZipFunctions, public ZipFunctionsQueried
{
    Q_OBJECT
    Q_INTERFACES(ZipFunctions ZipFunctionsQueried)

public:
    struct Call
    {
        QString method, first, second, captionDuringCall;
        bool onGuiThread = true;
        bool queried = false;
        bool sawCancel = false;
        QList<QByteArray> passwordsGiven;
    };
    QList<Call> calls;
    ZipResult answer{0, QStringLiteral("Archive made")};
    int delayMs = 0;
    qint64 total = qint64(300) << 20; // what a queried call reports as its total
    QByteArray password;              // when set, asked for until given

    ZipResult ZipFile(const QString &source, const QString &archive) override
    {
        return record(QStringLiteral("ZipFile"), source, archive, nullptr);
    }
    ZipResult UnzipFile(const QString &archive, const QString &folder) override
    {
        return record(QStringLiteral("UnzipFile"), archive, folder, nullptr);
    }
    ZipResult ZipFileQueried(const QString &source, const QString &archive, ZipQuery &query) override
    {
        return record(QStringLiteral("ZipFile"), source, archive, &query);
    }
    ZipResult UnzipFileQueried(const QString &archive, const QString &folder, ZipQuery &query) override
    {
        return record(QStringLiteral("UnzipFile"), archive, folder, &query);
    }
    // The paths arrive as one text, a line each.
    ZipResult ZipPathsQueried(const QStringList &paths, const QString &archive, ZipQuery &query) override
    {
        return record(QStringLiteral("ZipPaths"), paths.join(QLatin1Char('\n')), archive, &query);
    }

private:
    static QString mainCaption()
    {
        const auto windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows) {
            if (w->objectName() == QLatin1String("frmZip"))
                return w->windowTitle();
        }
        return {};
    }

    // Asks until the right password comes; nullptr when it came (or none is needed).
    const ZipResult *askPassword(ZipQuery *query, const QString &archive, Call &call)
    {
        static const ZipResult cancelled{pnvzip::Cancelled, QStringLiteral("cancelled")};
        static const ZipResult encrypted{pnvzip::EncryptedEntry, QStringLiteral("encrypted")};
        bool wrong = false;
        while (!password.isEmpty()) {
            QByteArray given;
            switch (query->password(archive, QStringLiteral("secret.txt"), wrong, &given)) {
            case ZipQuery::PasswordAnswer::Cancelled: return &cancelled;
            case ZipQuery::PasswordAnswer::Unanswered: return &encrypted;
            case ZipQuery::PasswordAnswer::Given: break;
            }
            call.passwordsGiven << given;
            if (given == password)
                return nullptr;
            wrong = true;
        }
        return nullptr;
    }

    ZipResult record(const QString &method, const QString &a, const QString &b, ZipQuery *query)
    {
        Call call{method, a, b, {}, QThread::currentThread() == qApp->thread(), query != nullptr};
        if (call.onGuiThread) {
            call.captionDuringCall = mainCaption();
        } else {
            QMetaObject::invokeMethod(qApp, [&] { call.captionDuringCall = mainCaption(); },
                                      Qt::BlockingQueuedConnection);
        }
        ZipResult result = answer;
        if (!query) {
            if (delayMs > 0)
                QThread::msleep(delayMs);
        } else if (const ZipResult *refused = askPassword(query, method == QLatin1String("ZipFile") ? b : a, call)) {
            result = *refused;
        } else {
            query->progress(0, total, QStringLiteral("big.iso"));
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < delayMs) {
                QThread::msleep(20);
                if (query->cancelRequested()) {
                    call.sawCancel = true;
                    result = {pnvzip::Cancelled, QStringLiteral("cancelled")};
                    break;
                }
                query->progress(std::min(total - 1, total * clock.elapsed() / delayMs), total, QStringLiteral("big.iso"));
            }
            if (result.ok())
                query->progress(total, total, QStringLiteral("big.iso"));
        }
        QMutexLocker lock(&m_mutex);
        calls << call;
        return result;
    }
    QMutex m_mutex;
};
