#pragma once
// Window geometry is designed in twips: 1/1440 inch, 15 to a pixel at 96 dots per inch.

#include <QRect>
#include <QSize>
#include <QtMath>

namespace Twips {
inline constexpr int PerPixel = 15;

constexpr int toPixels(int twips)
{
    return (twips * 2 + (twips >= 0 ? PerPixel : -PerPixel)) / (2 * PerPixel);
}
constexpr int fromPixels(int pixels)
{
    return pixels * PerPixel;
}
inline QRect rect(int left, int top, int width, int height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}
inline QSize size(int width, int height)
{
    return QSize(toPixels(width), toPixels(height));
}
} // namespace Twips
