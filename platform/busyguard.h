#pragma once
// While a long call runs off the user-interface thread, the windows keep painting but take no
// commands: clicks, keys, the wheel, shortcuts and requests to close a window are dropped
// (not queued for later) until the guard goes away. The pointer shows that the program is busy.

#include <QObject>

class BusyGuard : public QObject
{
public:
    BusyGuard();
    ~BusyGuard() override;
    BusyGuard(const BusyGuard &) = delete;
    BusyGuard &operator=(const BusyGuard &) = delete;

    // Whether a guard is in place anywhere in the program.
    static bool isBusy();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
