#pragma once
// The program's pictures, drawn rather than stored so they stay sharp at any scale:
// the product logo, the main window's background, the application icon and the animated
// decoration bars.

#include <QIcon>
#include <QPixmap>
#include <QWidget>

namespace Artwork {
QPixmap logo(const QSize &size);
QPixmap mainBackground(const QSize &size);
QIcon applicationIcon();
} // namespace Artwork

// A thin bar with a slowly travelling highlight; purely decoration.
class DecorBar : public QWidget
{
public:
    explicit DecorBar(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    int m_timer = 0;
    int m_phase = 0;
};
