#pragma once
// A zip component that records what the window asked of it and answers as scripted.

#include "zip/zipfunctions.h"

#include <QApplication>
#include <QObject>
#include <QWidget>

class FakeZip : public QObject, public ZipFunctions
{
    Q_OBJECT
    Q_INTERFACES(ZipFunctions)

public:
    struct Call
    {
        QString method, first, second, captionDuringCall;
    };
    QList<Call> calls;
    ZipResult answer{0, QStringLiteral("Archive made")};

    ZipResult ZipFile(const QString &source, const QString &archive) override
    {
        return record(QStringLiteral("ZipFile"), source, archive);
    }
    ZipResult UnzipFile(const QString &archive, const QString &folder) override
    {
        return record(QStringLiteral("UnzipFile"), archive, folder);
    }

private:
    ZipResult record(const QString &method, const QString &a, const QString &b)
    {
        QString caption;
        const auto windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows) {
            if (w->objectName() == QLatin1String("frmZip"))
                caption = w->windowTitle();
        }
        calls << Call{method, a, b, caption};
        return answer;
    }
};
