#include "artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTimerEvent>

#include <cmath>

namespace {

const QColor Navy(0x1d, 0x35, 0x57);
const QColor Teal(0x2a, 0x9d, 0x8f);
const QColor Amber(0xf4, 0xa2, 0x61);
const QColor Sand(0xe9, 0xc4, 0x6a);
const QColor Cardboard(0xd9, 0xa4, 0x65);
const QColor CardboardDark(0xb0, 0x7d, 0x45);

// A parcel seen from the front and a little above, with a zip running down its face.
// `box` is the square the drawing fills.
void drawParcel(QPainter &p, const QRectF &box)
{
    const qreal w = box.width();
    const qreal h = box.height();
    const qreal x = box.left();
    const qreal y = box.top();
    const qreal depth = h * 0.22;

    const QRectF front(x + w * 0.08, y + depth + h * 0.06, w * 0.72, h * 0.66);
    QPainterPath top;
    top.moveTo(front.topLeft());
    top.lineTo(front.left() + depth, front.top() - depth);
    top.lineTo(front.right() + depth, front.top() - depth);
    top.lineTo(front.topRight());
    top.closeSubpath();
    QPainterPath side;
    side.moveTo(front.topRight());
    side.lineTo(front.right() + depth, front.top() - depth);
    side.lineTo(front.right() + depth, front.bottom() - depth);
    side.lineTo(front.bottomRight());
    side.closeSubpath();

    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const QPen outline(CardboardDark.darker(140), qMax<qreal>(1.0, w / 90.0));
    p.setPen(outline);
    QLinearGradient frontFill(front.topLeft(), front.bottomRight());
    frontFill.setColorAt(0, Cardboard.lighter(112));
    frontFill.setColorAt(1, Cardboard);
    p.setBrush(frontFill);
    p.drawRect(front);
    p.setBrush(Cardboard.lighter(125));
    p.drawPath(top);
    p.setBrush(CardboardDark);
    p.drawPath(side);

    // The zip: a teal band with teeth down the middle of the front and across the lid.
    const qreal band = w * 0.09;
    const QRectF zip(front.center().x() - band / 2, front.top(), band, front.height());
    p.setPen(Qt::NoPen);
    p.setBrush(Teal.darker(115));
    p.drawRect(zip);
    QPainterPath lidBand;
    lidBand.moveTo(zip.topLeft());
    lidBand.lineTo(zip.left() + depth, zip.top() - depth);
    lidBand.lineTo(zip.right() + depth, zip.top() - depth);
    lidBand.lineTo(zip.topRight());
    lidBand.closeSubpath();
    p.setBrush(Teal);
    p.drawPath(lidBand);
    p.setBrush(QColor(0xf1, 0xfa, 0xee));
    const qreal tooth = band / 3.2;
    for (qreal ty = zip.top() + tooth; ty < zip.bottom() - tooth * 4; ty += tooth * 1.6) {
        const bool left = int((ty - zip.top()) / (tooth * 1.6)) % 2 == 0;
        p.drawRect(QRectF(left ? zip.left() + tooth * 0.4 : zip.center().x(), ty, tooth * 1.2, tooth * 0.8));
    }
    // The pull tab, opened a little at the bottom.
    const QRectF tab(zip.center().x() - band * 0.45, zip.bottom() - band * 1.9, band * 0.9, band * 1.5);
    p.setBrush(Amber);
    p.setPen(QPen(Amber.darker(150), qMax<qreal>(1.0, w / 120.0)));
    p.drawRoundedRect(tab, band * 0.25, band * 0.25);
    p.setBrush(Amber.darker(150));
    p.drawEllipse(QRectF(tab.center().x() - band * 0.14, tab.top() + band * 0.25, band * 0.28, band * 0.28));
    p.restore();
}

} // namespace

namespace Artwork {

QPixmap logo(const QSize &size)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area(0, 0, size.width(), size.height());

    QLinearGradient sky(area.topLeft(), area.bottomLeft());
    sky.setColorAt(0, Navy.lighter(130));
    sky.setColorAt(1, Navy);
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(area, size.width() * 0.06, size.width() * 0.06);

    QRadialGradient glow(area.center().x(), area.height() * 0.4, area.width() * 0.6);
    glow.setColorAt(0, QColor(255, 255, 255, 60));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(glow);
    p.drawRect(area);

    // The lower band (from 84% of the height) stays free for the version written over it.
    const qreal side = qMin(area.width() * 0.74, area.height() * 0.55);
    drawParcel(p, QRectF((area.width() - side) / 2, area.height() * 0.06, side, side));

    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(qMax(8, int(area.width() * 0.17)));
    p.setFont(font);
    p.setPen(Qt::white);
    const QRectF nameBox(0, area.height() * 0.62, area.width(), area.height() * 0.13);
    p.drawText(nameBox, Qt::AlignCenter, QStringLiteral("Parcelo"));
    font.setBold(false);
    font.setPixelSize(qMax(6, int(area.width() * 0.06)));
    p.setFont(font);
    p.setPen(Sand);
    p.drawText(QRectF(0, area.height() * 0.75, area.width(), area.height() * 0.07), Qt::AlignCenter,
               QStringLiteral("zip \u00b7 unzip \u00b7 send"));
    return pixmap;
}

QPixmap mainBackground(const QSize &size)
{
    QPixmap pixmap(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area(0, 0, size.width(), size.height());
    QLinearGradient fill(area.topLeft(), area.bottomRight());
    fill.setColorAt(0, QColor(0xf4, 0xf7, 0xfa));
    fill.setColorAt(1, QColor(0xdc, 0xe6, 0xef));
    p.fillRect(area, fill);

    // A banner across the top with the product's name.
    const QRectF banner(0, 0, area.width(), area.height() * 0.20);
    QLinearGradient bannerFill(banner.topLeft(), banner.topRight());
    bannerFill.setColorAt(0, Navy);
    bannerFill.setColorAt(1, Teal.darker(120));
    p.fillRect(banner, bannerFill);
    const qreal iconSide = banner.height() * 0.9;
    drawParcel(p, QRectF(8, banner.height() * 0.05, iconSide, iconSide));
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(int(banner.height() * 0.42));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(iconSide + 16, 0, area.width(), banner.height() * 0.62),
               Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("Parcelo"));
    font.setBold(false);
    font.setPixelSize(int(banner.height() * 0.22));
    p.setFont(font);
    p.setPen(Sand);
    p.drawText(QRectF(iconSide + 18, banner.height() * 0.62, area.width(), banner.height() * 0.34),
               Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Zip one file, unzip one archive"));

    // A faint parcel in the lower right corner.
    p.setOpacity(0.08);
    const qreal side = area.height() * 0.42;
    drawParcel(p, QRectF(area.width() - side * 0.9, area.height() - side * 0.95, side, side));
    return pixmap;
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        drawParcel(p, QRectF(0, side * 0.04, side, side));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace Artwork

DecorBar::DecorBar(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void DecorBar::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRectF area = rect();
    QLinearGradient base(area.topLeft(), area.topRight());
    base.setColorAt(0, Navy);
    base.setColorAt(1, Teal);
    p.fillRect(area, base);
    // A highlight that travels across the bar and wraps around.
    const qreal span = area.width() * 0.25;
    const qreal centre = std::fmod(m_phase * 4.0, area.width() + span) - span / 2;
    QLinearGradient shine(centre - span / 2, 0, centre + span / 2, 0);
    shine.setColorAt(0, QColor(255, 255, 255, 0));
    shine.setColorAt(0.5, QColor(Amber.red(), Amber.green(), Amber.blue(), 200));
    shine.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(area, shine);
}

void DecorBar::showEvent(QShowEvent *)
{
    if (!m_timer)
        m_timer = startTimer(60);
}

void DecorBar::hideEvent(QHideEvent *)
{
    if (m_timer) {
        killTimer(m_timer);
        m_timer = 0;
    }
}

void DecorBar::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer)
        return;
    ++m_phase;
    update();
}
