#include "frmAbout.h"

#include "appinfo.h"
#include "browserwindow.h"
#include "errorstyles.h"
#include "messagebox.h"
#include "onlinelinks.h"
#include "services.h"
#include "twips.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyle>

namespace {

frmAbout *theAboutBox = nullptr;

// The advertised program's picture: a database drum.
QPixmap advertisementPicture(const QSize &size)
{
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = size.width();
    const qreal h = size.height();
    const qreal left = w * 0.14;
    const qreal right = w * 0.86;
    const qreal rim = h * 0.12;
    const QColor body(0x2f, 0x6f, 0x9f);
    const QColor light(0x7f, 0xb8, 0xe0);
    for (int disc = 2; disc >= 0; --disc) {
        const qreal top = h * 0.12 + disc * h * 0.24;
        const qreal bottom = top + h * 0.26;
        QPainterPath side;
        side.moveTo(left, top);
        side.lineTo(left, bottom);
        side.arcTo(QRectF(left, bottom - rim, right - left, 2 * rim), 180, 180);
        side.lineTo(right, top);
        side.closeSubpath();
        QLinearGradient shade(left, 0, right, 0);
        shade.setColorAt(0, body.darker(130));
        shade.setColorAt(0.45, light);
        shade.setColorAt(1, body.darker(150));
        p.setPen(QPen(body.darker(170), 1));
        p.setBrush(shade);
        p.drawPath(side);
        p.setBrush(light.lighter(115));
        p.drawEllipse(QRectF(left, top - rim, right - left, 2 * rim));
    }
    return pixmap;
}

QPixmap programPicture(const QSize &size)
{
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
    return icon.pixmap(size);
}

} // namespace

frmAbout *frmAbout::openNew()
{
    auto *box = new frmAbout;
    box->show();
    box->raise();
    box->activateWindow();
    return box;
}

frmAbout *frmAbout::instance()
{
    if (!theAboutBox)
        theAboutBox = new frmAbout;
    return theAboutBox;
}

frmAbout *frmAbout::existing()
{
    return theAboutBox;
}

QString frmAbout::unavailableMessage()
{
    return QStringLiteral("System Information Is Unavailable At This Time");
}

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setModal(false);
    // OK, Escape and the close box all end in done(): the box is unloaded then.
    connect(this, &QDialog::finished, this, &QObject::deleteLater);
    setFixedSize(Twips::size(5730, 6900));

    picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setGeometry(Twips::rect(240, 240, 720, 720));
    picIcon->setPixmap(programPicture(picIcon->size()));

    lblTitle = new QLabel(this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setGeometry(Twips::rect(1200, 210, 4290, 480));
    QFont titleFont = lblTitle->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.8);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);

    lblVersion = new QLabel(this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setGeometry(Twips::rect(1200, 690, 4290, 300));

    lblDescription = new QLabel(this);
    lblDescription->setObjectName(QStringLiteral("lblDescription"));
    lblDescription->setGeometry(Twips::rect(240, 1140, 5250, 1020));
    lblDescription->setWordWrap(true);
    lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblDescription->setText(
        QStringLiteral("Parcelo is a file compression (zipping) and decompression (unzipping) utility. "
                       "For more information on other products by Orvanne, visit ")
        + AppInfo::publisherUrl() + QLatin1Char('.'));
    lblDescription->setTextInteractionFlags(Qt::TextSelectableByMouse);

    fraAd = new QGroupBox(QStringLiteral("Also from Orvanne"), this);
    fraAd->setObjectName(QStringLiteral("fraAd"));
    fraAd->setGeometry(Twips::rect(240, 2280, 5250, 3000));

    imgAd = new QLabel(fraAd);
    imgAd->setObjectName(QStringLiteral("imgAd"));
    imgAd->setGeometry(Twips::rect(180, 420, 960, 960));
    imgAd->setPixmap(advertisementPicture(imgAd->size()));

    lblTy = new QLabel(fraAd);
    lblTy->setObjectName(QStringLiteral("lblTy"));
    lblTy->setGeometry(Twips::rect(1320, 360, 3750, 1920));
    lblTy->setWordWrap(true);
    lblTy->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblTy->setText(QStringLiteral(
        "<b>TarnBase Personal 3.2</b><br>Keep addresses, collections, recipes and household "
        "records in one easy database. Forms, reports and mailing labels in minutes, with no "
        "programming. Try it free for 30 days."));

    cmdDownload = new QPushButton(QStringLiteral("Download 30-day trial [11MB]"), fraAd);
    cmdDownload->setObjectName(QStringLiteral("cmdDownload"));
    cmdDownload->setGeometry(Twips::rect(1320, 2355, 3750, 435));
    cmdDownload->setAutoDefault(false);

    lblDisclaimer = new QLabel(QStringLiteral("Parcelo\u2122 \u00a9 2026 Orvanne. All rights reserved."), this);
    lblDisclaimer->setObjectName(QStringLiteral("lblDisclaimer"));
    lblDisclaimer->setGeometry(Twips::rect(240, 5445, 5250, 300));

    auto *line = new QFrame(this);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(Twips::rect(240, 5850, 5250, 30));

    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    cmdSysInfo->setGeometry(Twips::rect(2460, 6180, 1500, 435));
    cmdSysInfo->setAutoDefault(false);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(Twips::rect(4080, 6180, 1410, 435));
    cmdOK->setDefault(true);

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
    connect(cmdDownload, &QPushButton::clicked, this, &frmAbout::cmdDownload_Click);

    Form_Load();
    cmdOK->setFocus();
}

frmAbout::~frmAbout()
{
    if (theAboutBox == this)
        theAboutBox = nullptr;
}

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + AppInfo::title() + QStringLiteral("\u2122"));
    lblVersion->setText(QStringLiteral("Version %1.%2.%3")
                            .arg(AppInfo::versionMajor())
                            .arg(AppInfo::versionMinor())
                            .arg(AppInfo::versionRevision()));
    lblTitle->setText(AppInfo::title() + QStringLiteral("\u2122"));
}

void frmAbout::done(int result)
{
    if (theAboutBox == this)
        theAboutBox = nullptr;
    QDialog::done(result);
}

void frmAbout::cmdOK_Click()
{
    accept();
}

void frmAbout::cmdSysInfo_Click()
{
    StartSysInfo();
}

void frmAbout::StartSysInfo()
{
    using namespace Registry;
    try {
        QString SysInfoPath;
        if (!GetKeyValue(HKEY_LOCAL_MACHINE, QString::fromLatin1(gREGKEYSYSINFO),
                         QString::fromLatin1(gREGVALSYSINFO), SysInfoPath)) {
            if (!GetKeyValue(HKEY_LOCAL_MACHINE, QString::fromLatin1(gREGKEYSYSINFOLOC),
                             QString::fromLatin1(gREGVALSYSINFOLOC), SysInfoPath))
                throw AppError(53, QStringLiteral("File not found"));
            QString folder = SysInfoPath;
            if (!folder.endsWith(QLatin1Char('/')))
                folder += QLatin1Char('/');
            const QString candidate = folder + QLatin1String(SysInfoProgram);
            if (!QFileInfo(candidate).isFile())
                throw AppError(53, QStringLiteral("File not found"));
            SysInfoPath = candidate;
        }
        if (SysInfoPath.trimmed().isEmpty())
            throw AppError(53, QStringLiteral("File not found"));
        // A path naming a file is started as it is, blanks and all; anything else is a
        // command line.
        QString commandLine = SysInfoPath;
        if (QFileInfo(SysInfoPath).isFile() && SysInfoPath.contains(QRegularExpression(QStringLiteral("[\\s\"]"))))
            commandLine = QLatin1Char('"') + QString(SysInfoPath).replace(QLatin1Char('"'), QLatin1String("\"\"\""))
                          + QLatin1Char('"');
        if (!Services::instance().desktop().launch(commandLine, LaunchStyle::NormalFocus))
            throw AppError(53, QStringLiteral("File not found"));
        return;
    } catch (...) {
    }
    MsgBox(unavailableMessage(), MsgButtons::OK, MsgIcon::None, QString(), this);
}

bool frmAbout::GetKeyValue(Registry::HKEY KeyRoot, const QString &KeyName, const QString &SubKeyRef,
                           QString &KeyVal)
{
    using namespace Registry;
    constexpr quint32 KeyAccess = 0x2003F;
    constexpr quint32 BufferSize = 1024;

    HKEY hKey = 0;
    if (RegOpenKeyExA(KeyRoot, KeyName.toLocal8Bit().constData(), 0, KeyAccess, &hKey) != ERROR_SUCCESS) {
        KeyVal.clear();
        return false;
    }

    QByteArray buffer(BufferSize, '\0');
    quint32 size = BufferSize;
    quint32 type = REG_NONE;
    if (RegQueryValueExA(hKey, SubKeyRef.toLocal8Bit().constData(), nullptr, &type,
                         reinterpret_cast<unsigned char *>(buffer.data()), &size)
        != ERROR_SUCCESS) {
        KeyVal.clear();
        RegCloseKey(hKey);
        return false;
    }

    // A value stored with its terminating zero loses it; one stored without is taken whole.
    QByteArray data = buffer.left(qMin(size, BufferSize));
    if (!data.isEmpty() && data.back() == '\0')
        data.chop(1);

    switch (type) {
    case REG_SZ:
        KeyVal = QString::fromLocal8Bit(data);
        break;
    case REG_DWORD: {
        QString digits = KeyVal;
        for (qsizetype i = data.size() - 1; i >= 0; --i)
            digits += QStringLiteral("%1").arg(quint8(data.at(i)), 2, 16, QLatin1Char('0')).toUpper();
        KeyVal = QStringLiteral("&h") + digits;
        break;
    }
    default:
        break; // other types leave the caller's text alone
    }
    RegCloseKey(hKey);
    return true;
}

void frmAbout::cmdDownload_Click()
{
    TrapAndAsk(this, {
        [] { BrowserWindow::show(); },
        [] {
            BrowserWindow::navigateTo(AppInfo::publisherUrl() + QLatin1Char('/')
                                      + QLatin1String(OnlineLinks::AdvertisedTrialPath));
        },
    });
}
