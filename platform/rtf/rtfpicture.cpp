#include "rtfpicture.h"

#include <QBuffer>
#include <QImageReader>
#include <QtEndian>
#include <algorithm>

namespace Rtf::detail {

namespace {

constexpr int kMaxSide = 32767;

quint32 le32(const QByteArray &data, qsizetype offset)
{
    return qFromLittleEndian<quint32>(data.constData() + offset);
}

quint16 le16(const QByteArray &data, qsizetype offset)
{
    return qFromLittleEndian<quint16>(data.constData() + offset);
}

QImage readImage(const QByteArray &bytes, const char *format, qint64 budget)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setDecideFormatFromContent(format == nullptr);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > kMaxSide || size.height() > kMaxSide
        || qint64(size.width()) * size.height() * 4 > budget) {
        return {};
    }
    QImage image;
    if (!reader.read(&image))
        return {};
    if (image.sizeInBytes() > budget)
        return {};
    return image;
}

// The 16 colours of the standard VGA palette, for 4-bit device-dependent bitmaps.
constexpr QRgb kVga[16] = {
    0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080, 0xff008080, 0xffc0c0c0,
    0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00, 0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff,
};

// A Windows device-dependent bitmap: rows of raw pixels, top row first, no header.
QImage decodeWbitmap(const Picture &picture, qint64 budget)
{
    const int width = picture.picw;
    const int height = picture.pich;
    const int bits = picture.bitsPerPixel * std::max(1, picture.planes);
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return {};
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return {};
    const qint64 minimumStride = (qint64(width) * bits + 7) / 8;
    qint64 stride = picture.widthBytes > 0 ? picture.widthBytes : ((qint64(width) * bits + 15) / 16) * 2;
    if (stride < minimumStride || stride * height > picture.data.size())
        return {};
    if (qint64(width) * height * 4 > budget)
        return {};

    QImage image;
    switch (bits) {
    case 1:
        image = QImage(width, height, QImage::Format_Mono);
        image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        break;
    case 4:
    case 8: {
        image = QImage(width, height, QImage::Format_Indexed8);
        QList<QRgb> colours;
        if (bits == 4) {
            for (QRgb colour : kVga)
                colours.append(colour);
        } else {
            for (int i = 0; i < 256; ++i)
                colours.append(qRgb(i, i, i));
        }
        image.setColorTable(colours);
        break;
    }
    case 16: image = QImage(width, height, QImage::Format_RGB555); break;
    case 24: image = QImage(width, height, QImage::Format_BGR888); break;
    default: image = QImage(width, height, QImage::Format_RGB32); break;
    }
    if (image.isNull())
        return {};
    const auto *source = reinterpret_cast<const uchar *>(picture.data.constData());
    for (int y = 0; y < height; ++y) {
        const uchar *row = source + y * stride;
        uchar *target = image.scanLine(y);
        if (bits == 4) {
            for (int x = 0; x < width; ++x)
                target[x] = (x % 2 == 0) ? (row[x / 2] >> 4) : (row[x / 2] & 0x0f);
        } else {
            std::copy(row, row + minimumStride, target);
        }
    }
    return image;
}

} // namespace

QByteArray bmpFileFromDib(const QByteArray &dib)
{
    if (dib.size() < 12)
        return {};
    const quint32 headerSize = le32(dib, 0);
    qint64 paletteBytes = 0;
    if (headerSize == 12) {
        const quint16 bits = le16(dib, 10);
        paletteBytes = bits <= 8 ? (qint64(1) << bits) * 3 : 0;
    } else {
        if (headerSize < 16 || headerSize > 1024 || dib.size() < qsizetype(std::max<quint32>(headerSize, 16)))
            return {};
        const quint16 bits = le16(dib, 14);
        const quint32 compression = headerSize >= 20 ? le32(dib, 16) : 0;
        const quint32 coloursUsed = headerSize >= 36 ? le32(dib, 32) : 0;
        qint64 colours = coloursUsed != 0 ? qint64(coloursUsed) : (bits <= 8 ? qint64(1) << bits : 0);
        if (colours > 65536)
            return {};
        paletteBytes = colours * 4;
        if (headerSize == 40 && (compression == 3 || compression == 6))
            paletteBytes += compression == 3 ? 12 : 16; // colour masks after the header
    }
    const qint64 offset = 14 + qint64(headerSize) + paletteBytes;
    if (offset > 14 + qint64(dib.size()))
        return {};
    QByteArray file;
    file.reserve(14 + dib.size());
    file.append("BM", 2);
    char field[4];
    qToLittleEndian<quint32>(quint32(14 + dib.size()), field);
    file.append(field, 4);
    file.append(4, '\0');
    qToLittleEndian<quint32>(quint32(offset), field);
    file.append(field, 4);
    file.append(dib);
    return file;
}

QImage Picture::decode(qint64 budget) const
{
    if (data.isEmpty() || budget <= 0)
        return {};
    switch (kind) {
    case Png:
    case Jpeg:
    case Unknown:
        // Trust the bytes over the keyword: some writers label JPEG data as PNG.
        return readImage(data, nullptr, budget);
    case Dib: {
        const QByteArray file = bmpFileFromDib(data);
        return file.isEmpty() ? QImage() : readImage(file, "BMP", budget);
    }
    case Wbitmap:
        return decodeWbitmap(*this, budget);
    default:
        return {};
    }
}

QSizeF Picture::displaySize(const QSize &imageSize) const
{
    // Twips: the goal size when given, else the picture's own size in pixels.
    const double widthTwips = goalWidth > 0 ? goalWidth : imageSize.width() * 15.0;
    const double heightTwips = goalHeight > 0 ? goalHeight : imageSize.height() * 15.0;
    const double scaleWidth = scaleX > 0 ? scaleX / 100.0 : 1.0;
    const double scaleHeight = scaleY > 0 ? scaleY / 100.0 : 1.0;
    auto pixels = [](double twips) { return std::clamp(twips / 15.0, 1.0, double(kMaxSide)); };
    return QSizeF(pixels(widthTwips * scaleWidth), pixels(heightTwips * scaleHeight));
}

} // namespace Rtf::detail
