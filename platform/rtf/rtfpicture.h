#pragma once
// Pictures inside RTF (\pict): the kinds that can be shown (PNG, JPEG, device-independent and
// Windows device-dependent bitmaps, and metafiles that wrap a bitmap) become QImages; drawings
// in metafiles and other kinds are not shown.

#include <QByteArray>
#include <QImage>
#include <QSizeF>

namespace Rtf::detail {

struct Picture
{
    enum Kind { Unknown, Png, Jpeg, Dib, Wbitmap, Metafile, Emf, Mac, Os2 };
    Kind kind = Unknown;
    QByteArray data;
    int picw = 0, pich = 0;             // pixels for bitmaps
    int goalWidth = 0, goalHeight = 0;  // twips
    int scaleX = 100, scaleY = 100;     // percent
    int bitsPerPixel = 1, planes = 1, widthBytes = 0; // \wbitmap

    // Decodes the picture. budget is the number of bytes the decoded image may take; a picture
    // that would need more, or that is damaged or of a kind that cannot be shown, gives a null
    // image.
    QImage decode(qint64 budget) const;
    // The size the picture is shown at, in pixels at 96 dpi (1 pixel = 15 twips).
    QSizeF displaySize(const QSize &imageSize) const;
};

// A device-independent bitmap (BITMAPINFOHEADER and what follows) as a complete BMP file.
QByteArray bmpFileFromDib(const QByteArray &dib);

} // namespace Rtf::detail
