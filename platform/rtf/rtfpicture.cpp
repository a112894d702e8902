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
    // In 64 bits: both factors come straight from the document and may be anything.
    const qint64 bits = qint64(picture.bitsPerPixel) * std::max(1, picture.planes);
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

// A Windows metafile that carries a bitmap (how pasted pictures are often stored): the
// largest device-independent bitmap among its bitmap records.
QByteArray dibFromWmf(const QByteArray &wmf)
{
    qsizetype pos = 0;
    if (wmf.size() >= 22 && le32(wmf, 0) == 0x9AC6CDD7u)
        pos = 22; // the placeable header
    if (wmf.size() < pos + 18)
        return {};
    pos += qsizetype(le16(wmf, pos + 2)) * 2;
    QByteArray best;
    while (pos + 6 <= wmf.size()) {
        const qint64 size = qint64(le32(wmf, pos)) * 2;
        const quint16 function = le16(wmf, pos + 4);
        if (size < 6 || pos + size > wmf.size() || function == 0)
            break;
        qsizetype offset = 0; // of the bitmap within the record
        switch (function) {
        case 0x0F43: offset = 28; break; // META_STRETCHDIB
        case 0x0B41: offset = 26; break; // META_DIBSTRETCHBLT
        case 0x0940: offset = 22; break; // META_DIBBITBLT
        case 0x0D33: offset = 24; break; // META_SETDIBTODEV
        default: break;
        }
        if (offset > 0 && size > offset + 12 && size - offset > best.size())
            best = wmf.mid(pos + offset, size - offset);
        pos += size;
    }
    return best;
}

// The same for an enhanced metafile, whose bitmap records point at the bitmap's header and
// bits separately.
QByteArray dibFromEmf(const QByteArray &emf)
{
    QByteArray best;
    qsizetype pos = 0;
    while (pos + 8 <= emf.size()) {
        const quint32 type = le32(emf, pos);
        const qint64 size = le32(emf, pos + 4);
        if (size < 8 || pos + size > emf.size() || type == 14 /* EMR_EOF */)
            break;
        qsizetype fields = 0; // where offBmiSrc, cbBmiSrc, offBitsSrc, cbBitsSrc start
        switch (type) {
        case 80: // EMR_SETDIBITSTODEVICE
        case 81: // EMR_STRETCHDIBITS
            fields = 48;
            break;
        case 76: // EMR_BITBLT
        case 77: // EMR_STRETCHBLT
            fields = 84;
            break;
        default:
            break;
        }
        if (fields > 0 && size >= fields + 16) {
            const qint64 headerAt = le32(emf, pos + fields);
            const qint64 headerSize = le32(emf, pos + fields + 4);
            const qint64 bitsAt = le32(emf, pos + fields + 8);
            const qint64 bitsSize = le32(emf, pos + fields + 12);
            if (headerSize >= 12 && bitsSize > 0 && headerAt + headerSize <= size && bitsAt + bitsSize <= size
                && headerSize + bitsSize > best.size()) {
                best = emf.mid(pos + headerAt, headerSize) + emf.mid(pos + bitsAt, bitsSize);
            }
        }
        pos += size;
    }
    return best;
}

QImage decodeDib(const QByteArray &dib, qint64 budget)
{
    const QByteArray file = bmpFileFromDib(dib);
    return file.isEmpty() ? QImage() : readImage(file, "BMP", budget);
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
    case Dib:
        return decodeDib(data, budget);
    case Wbitmap:
        return decodeWbitmap(*this, budget);
    case Metafile:
        return decodeDib(dibFromWmf(data), budget);
    case Emf:
        return decodeDib(dibFromEmf(data), budget);
    default:
        return {};
    }
}

QSizeF Picture::displaySize(const QSize &imageSize) const
{
    // Twips: the goal size when given, else the metafile's size (hundredths of a millimetre),
    // else the picture's own size in pixels.
    const bool metafile = kind == Metafile || kind == Emf;
    const double widthTwips = goalWidth > 0                ? goalWidth
                              : (metafile && picw > 0)     ? picw * 1440.0 / 2540.0
                                                           : imageSize.width() * 15.0;
    const double heightTwips = goalHeight > 0              ? goalHeight
                               : (metafile && pich > 0)    ? pich * 1440.0 / 2540.0
                                                           : imageSize.height() * 15.0;
    const double scaleWidth = scaleX > 0 ? scaleX / 100.0 : 1.0;
    const double scaleHeight = scaleY > 0 ? scaleY / 100.0 : 1.0;
    auto pixels = [](double twips) { return std::clamp(twips / 15.0, 1.0, double(kMaxSide)); };
    return QSizeF(pixels(widthTwips * scaleWidth), pixels(heightTwips * scaleHeight));
}

} // namespace Rtf::detail
