#pragma once
// A zip component that records what the window asked of it and answers as scripted. It is
// called on the component's own thread, as the real one is; `delayMs` makes it slow.

#include "zip/zipfunctions.h"

#include <QApplication>
#include <QMutex>
#include <QObject>
#include <QThread>
#include <QWidget>

class FakeZip : public QObject, public ZipFunctions
{
    Q_OBJECT
    Q_INTERFACES(ZipFunctions)

public:
    struct Call
    {
        QString method, first, second, captionDuringCall;
        bool onGuiThread = true;
    };
    QList<Call> calls;
    ZipResult answer{0, QStringLiteral("Archive made")};
    int delayMs = 0;

    ZipResult ZipFile(const QString &source, const QString &archive) override
    {
        return record(QStringLiteral("ZipFile"), source, archive);
    }
    ZipResult UnzipFile(const QString &archive, const QString &folder) override
    {
        return record(QStringLiteral("UnzipFile"), archive, folder);
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

    ZipResult record(const QString &method, const QString &a, const QString &b)
    {
        Call call{method, a, b, {}, QThread::currentThread() == qApp->thread()};
        if (call.onGuiThread) {
            call.captionDuringCall = mainCaption();
        } else {
            QMetaObject::invokeMethod(qApp, [&] { call.captionDuringCall = mainCaption(); },
                                      Qt::BlockingQueuedConnection);
        }
        if (delayMs > 0)
            QThread::msleep(delayMs);
        QMutexLocker lock(&m_mutex);
        calls << call;
        return answer;
    }
    QMutex m_mutex;
};
