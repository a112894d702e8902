#pragma once
// The notification-area icon of the main window. The window prepares it, places it and
// removes it; activating the icon (a click or a double-click, as the desktop reports it) asks to
// restore the window, and the context gesture (the right button on most desktops) asks for the menu.

#include <QIcon>
#include <QObject>

class QSystemTrayIcon;

class TrayIcon : public QObject
{
    Q_OBJECT

public:
    TrayIcon(const QIcon &icon, const QString &toolTip, QObject *parent = nullptr);

    // Whether the desktop shows notification-area icons at all.
    static bool isAvailable();

    // Sets the icon and tooltip up again, ready to be placed.
    void prepare();
    void place();
    void remove();
    bool isPlaced() const;
    QString toolTip() const;
    // The tooltip tells how far a long job has come ("42%"), until clearProgress().
    void showProgress(int percent);
    void clearProgress();

Q_SIGNALS:
    void restoreRequested();
    // `reason` is how the desktop reported the gesture; the window does not need it.
    void menuRequested(int reason);

private:
    QSystemTrayIcon *m_icon;
    QIcon m_picture;
    QString m_toolTip;
};
