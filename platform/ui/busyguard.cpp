#include "busyguard.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWindow>
#include <QWidget>

namespace {

int busyLevel = 0;
const char TakesInputProperty[] = "takesInputWhileBusy";

// Input that still reaches `widget`: it or a parent is marked, or it lies in a modal dialog
// (only the call itself can have opened one while the program is busy).
bool takesInput(const QWidget *widget)
{
    const QWidget *window = widget->window();
    if (window->isModal())
        return true;
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        if (w->property(TakesInputProperty).toBool())
            return true;
        if (w->isWindow())
            break;
    }
    return false;
}

// Whether input that reaches the native window `window` goes on.
bool passesWindow(QWindow *window, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Close:
        return true;
    default:
        break;
    }
    QWidget *top = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->windowHandle() == window) {
            top = w;
            break;
        }
    }
    if (!top)
        return false;
    if (top->isModal())
        return true;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick: {
        const QPoint at = top->mapFromGlobal(static_cast<QMouseEvent *>(event)->globalPosition().toPoint());
        const QWidget *target = top->childAt(at);
        return target && takesInput(target);
    }
    default:
        return false;
    }
}

} // namespace

BusyGuard::BusyGuard(QWidget *escapeWindow, std::function<void()> onEscape)
    : BusyGuard()
{
    m_escapeWindow = escapeWindow;
    m_onEscape = std::move(onEscape);
}

void BusyGuard::takeInputWhileBusy(QWidget *widget)
{
    widget->setProperty(TakesInputProperty, true);
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
    case QEvent::Close:
        break;
    default:
        return false;
    }
    // Input reaches a native window first. Keys and closing go on to the widget they are
    // meant for and are judged there; a click is judged here, before it can move the focus.
    if (watched->isWindowType())
        return !passesWindow(static_cast<QWindow *>(watched), event);
    auto *widget = qobject_cast<QWidget *>(watched); // anything else (an action's shortcut) is dropped
    if (widget && takesInput(widget))
        return false;
    if (event->type() == QEvent::Close) {
        // A window may not be closed while the call runs.
        if (widget && widget->isWindow()) {
            event->ignore();
            return true;
        }
        return false;
    }
    if (event->type() == QEvent::KeyPress && widget && m_onEscape && m_escapeWindow
        && widget->window() == m_escapeWindow) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            m_onEscape();
            return true;
        }
    }
    return true;
}
