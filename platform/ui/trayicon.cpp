#include "trayicon.h"

#include <QSystemTrayIcon>

TrayIcon::TrayIcon(const QIcon &icon, const QString &toolTip, QObject *parent)
    : QObject(parent)
    , m_icon(new QSystemTrayIcon(this))
    , m_picture(icon)
    , m_toolTip(toolTip)
{
    m_icon->setObjectName(QStringLiteral("TrayControl"));
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // Trays that speak StatusNotifierItem (KDE Plasma, GNOME's AppIndicator) report a click
        // as Trigger and never as DoubleClick: a single activation restores as well.
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            Q_EMIT restoreRequested();
        else if (reason == QSystemTrayIcon::Context)
            Q_EMIT menuRequested(int(reason));
    });
    prepare();
}

bool TrayIcon::isAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::prepare()
{
    m_icon->setIcon(m_picture);
    m_icon->setToolTip(m_toolTip);
}

void TrayIcon::place()
{
    m_icon->show();
}

void TrayIcon::remove()
{
    m_icon->hide();
}

bool TrayIcon::isPlaced() const
{
    return m_icon->isVisible();
}

QString TrayIcon::toolTip() const
{
    return m_icon->toolTip();
}

void TrayIcon::showProgress(int percent)
{
    m_icon->setToolTip(QStringLiteral("%1 \u2014 %2%").arg(m_toolTip).arg(percent));
}

void TrayIcon::clearProgress()
{
    m_icon->setToolTip(m_toolTip);
}
