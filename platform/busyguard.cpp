#include "busyguard.h"

#include <QApplication>
#include <QCloseEvent>
#include <QWidget>

namespace {
int busyLevel = 0;
}

BusyGuard::BusyGuard()
{
    ++busyLevel;
    qApp->installEventFilter(this);
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

BusyGuard::~BusyGuard()
{
    QApplication::restoreOverrideCursor();
    qApp->removeEventFilter(this);
    --busyLevel;
}

bool BusyGuard::isBusy()
{
    return busyLevel > 0;
}

bool BusyGuard::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
        return true;
    case QEvent::Close:
        // A window may not be closed while the call runs.
        if (auto *widget = qobject_cast<QWidget *>(watched); widget && widget->isWindow()) {
            event->ignore();
            return true;
        }
        return false;
    default:
        return false;
    }
}
