// The main window during a long zip or unzip call: after half a second a progress bar and a
// Cancel button appear below the options (Escape does the same as Cancel), and the tray
// icon's tooltip tells the percentage. Both go away when the call returns.

#include "frmZip.h"

#include "busyguard.h"
#include "trayicon.h"
#include "twips.h"
#include "zipcomponent.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace {
// Calls shorter than this show nothing but the caption.
constexpr int ProgressDelayMs = 500;
constexpr int BarSteps = 1000;
} // namespace

void frmZip::setupProgress()
{
    QWidget *surface = centralWidget();
    prgZip = new QProgressBar(surface);
    prgZip->setObjectName(QStringLiteral("prgZip"));
    prgZip->setGeometry(Twips::rect(240, 3840, 4095, 375));
    prgZip->setRange(0, BarSteps);
    prgZip->hide();

    cmdCancel = new QPushButton(QStringLiteral("Cancel"), surface);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(Twips::rect(4320, 3840, 1095, 375));
    cmdCancel->setToolTip(QStringLiteral("Stop and keep nothing of the unfinished work (Esc)"));
    cmdCancel->hide();
    BusyGuard::takeInputWhileBusy(cmdCancel);
    setTabOrder(txtZip, cmdCancel);
    connect(cmdCancel, &QPushButton::clicked, this, &frmZip::cmdCancel_Click);

    m_progressDelay = new QTimer(this);
    m_progressDelay->setSingleShot(true);
    m_progressDelay->setInterval(ProgressDelayMs);
    connect(m_progressDelay, &QTimer::timeout, this, [this] {
        prgZip->show();
        cmdCancel->show();
    });

    if (!objZip || !objZip->reportsProgress())
        return;
    objZip->setOwner(this);
    connect(objZip.get(), &ZipComponent::callStarted, this, &frmZip::ZipCall_Started);
    connect(objZip.get(), &ZipComponent::progressChanged, this,
            [this](qint64 done, qint64 total, const QString &) { ZipCall_Progress(done, total); });
    connect(objZip.get(), &ZipComponent::callFinished, this, &frmZip::ZipCall_Finished);
}

void frmZip::ZipCall_Started()
{
    prgZip->setValue(0);
    m_progressDelay->start();
}

void frmZip::ZipCall_Progress(qint64 done, qint64 total)
{
    const int steps = total > 0 ? int(done * BarSteps / total) : BarSteps;
    prgZip->setValue(steps);
    TrayControl->showProgress(steps / (BarSteps / 100));
}

void frmZip::ZipCall_Finished()
{
    m_progressDelay->stop();
    prgZip->hide();
    cmdCancel->hide();
    TrayControl->clearProgress();
}

void frmZip::cmdCancel_Click()
{
    objZip->cancel();
}
