#include "frmSplash.h"

#include "appinfo.h"
#include "artwork.h"
#include "frmZip.h"
#include "twips.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>

namespace {
QFont arial(double points, bool bold = false)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}
} // namespace

frmSplash::frmSplash(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(Twips::size(7305, 6675));
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true);
    setStyleSheet(QStringLiteral("frmSplash { background: #f4f1ea; border: 2px solid #1d3557; }"));

    Frame1 = new QFrame(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::Box);
    Frame1->setFrameShadow(QFrame::Sunken);
    Frame1->setGeometry(Twips::rect(112, 120, 7080, 6435));

    Timer1 = new QTimer(Frame1);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(2000);

    imgLogo = new QLabel(Frame1);
    imgLogo->setObjectName(QStringLiteral("imgLogo"));
    imgLogo->setGeometry(Twips::rect(240, 960, 3750, 5010));
    imgLogo->setPixmap(Artwork::logo(imgLogo->size()));

    lblCompanyProduct = new QLabel(QStringLiteral("Orvanne"), Frame1);
    lblCompanyProduct->setObjectName(QStringLiteral("lblCompanyProduct"));
    lblCompanyProduct->setGeometry(Twips::rect(2017, 240, 3270, 435));
    lblCompanyProduct->setFont(arial(18, true));
    lblCompanyProduct->setAlignment(Qt::AlignCenter);

    lblWarning = new QLabel(QStringLiteral("Parcelo \u00a9 2026 Orvanne. All rights reserved."), Frame1);
    lblWarning->setObjectName(QStringLiteral("lblWarning"));
    lblWarning->setGeometry(Twips::rect(4200, 3120, 2535, 1275));
    lblWarning->setFont(arial(8.25));
    lblWarning->setWordWrap(true);
    lblWarning->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    lblVersion = new QLabel(QStringLiteral("Version"), Frame1);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setGeometry(Twips::rect(360, 5160, 3420, 240));
    lblVersion->setFont(arial(8.25, true));
    lblVersion->setStyleSheet(QStringLiteral("color: white;"));
    lblVersion->setAlignment(Qt::AlignCenter);

    // Keyboard preview: every key pressed anywhere in the splash reaches its own handler.
    installEventFilter(this);
    const auto children = findChildren<QWidget *>();
    for (QWidget *child : children)
        child->installEventFilter(this);

    connect(Timer1, &QTimer::timeout, this, &frmSplash::Timer1_Timer);
    Form_Load();
    Timer1->start();
}

void frmSplash::Form_Load()
{
    lblVersion->setText(QStringLiteral("Version ") + AppInfo::versionText());
}

void frmSplash::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (const QScreen *screen = this->screen()) {
        QRect area = frameGeometry();
        area.moveCenter(screen->availableGeometry().center());
        move(area.topLeft());
    }
    activateWindow();
    setFocus();
}

bool frmSplash::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        Form_KeyPress();
        return true;
    }
    // Presses on the labels and the logo travel up to the frame, so a click anywhere on it counts.
    if (watched == Frame1 && event->type() == QEvent::MouseButtonPress) {
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            Frame1_Click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmSplash::Form_KeyPress()
{
    // Ending the wait early goes straight on to the main window rather than leaving the
    // user with nothing on screen.
    openMainWindow();
}

void frmSplash::Frame1_Click()
{
    openMainWindow();
}

void frmSplash::Timer1_Timer()
{
    openMainWindow();
}

void frmSplash::openMainWindow()
{
    if (m_done)
        return;
    m_done = true;
    Timer1->stop();
    frmZip *main = frmZip::instance();
    main->show();
    main->raise();
    main->activateWindow();
    Q_EMIT mainWindowShown();
    close();
}
