#pragma once
// While a long call runs off the user-interface thread, the windows keep painting but take no
// commands: clicks, keys, the wheel, shortcuts and requests to close a window are dropped
// (not queued for later) until the guard goes away. The pointer shows that the program is busy.
//
// Three things still take input: a widget marked with takeInputWhileBusy() (a Cancel button),
// a modal dialog shown during the call (a question the call asks, such as a password), and,
// when the guard is given one, Escape pressed in the window that started the call, which runs
// the guard's escape handler instead of reaching any widget.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>


class BusyGuard : public QObject
{
public:
    BusyGuard();
    BusyGuard(QWidget *escapeWindow, std::function<void()> onEscape);
    ~BusyGuard() override;
    BusyGuard(const BusyGuard &) = delete;
    BusyGuard &operator=(const BusyGuard &) = delete;

    // Whether a guard is in place anywhere in the program.
    static bool isBusy();

    // `widget` and its children keep taking clicks and keys while the program is busy.
    static void takeInputWhileBusy(QWidget *widget);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_escapeWindow;
    std::function<void()> m_onEscape;
};
