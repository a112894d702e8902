// Pictures and shapes of the RTF reader: a picture's properties and data (hexadecimal or
// \bin) become an image in the document's resources, shown at the size the document gives;
// a picture written twice (\shppict and \nonshppict) goes in once; of a shape only its text
// or its picture is kept, never the fallback text of readers without shapes. A picture that
// cannot be decoded or is over the budget is counted, not shown.

#include "rtfparser_p.h"

#include "rtf.h"

#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>

namespace Rtf::detail {

void Parser::pictureWord(Kw kw, int param)
{
    switch (kw) {
    case Kw::PngBlip: m_picture.kind = detail::Picture::Png; break;
    case Kw::JpegBlip: m_picture.kind = detail::Picture::Jpeg; break;
    case Kw::DiBitmap: m_picture.kind = detail::Picture::Dib; break;
    case Kw::WBitmap: m_picture.kind = detail::Picture::Wbitmap; break;
    case Kw::WMetafile: m_picture.kind = detail::Picture::Metafile; break;
    case Kw::EmfBlip: m_picture.kind = detail::Picture::Emf; break;
    case Kw::MacPict: m_picture.kind = detail::Picture::Mac; break;
    case Kw::PmMetafile: m_picture.kind = detail::Picture::Os2; break;
    case Kw::PicW: m_picture.picw = param; break;
    case Kw::PicH: m_picture.pich = param; break;
    case Kw::PicWGoal: m_picture.goalWidth = param; break;
    case Kw::PicHGoal: m_picture.goalHeight = param; break;
    case Kw::PicScaleX: m_picture.scaleX = param; break;
    case Kw::PicScaleY: m_picture.scaleY = param; break;
    case Kw::WbmBitsPixel: m_picture.bitsPerPixel = param; break;
    case Kw::WbmPlanes: m_picture.planes = param; break;
    case Kw::WbmWidthBytes: m_picture.widthBytes = param; break;
    default:
        break;
    }
}

void Parser::objectDestination(Kw kw)
{
    Group &group = top();
    const bool body = group.dest == Dest::Body;
    switch (kw) {
    case Kw::Pict:
        if (!body) {
            skipGroup();
            return;
        }
        group.dest = Dest::Picture;
        group.role = Role::PictureOwner;
        m_picture = detail::Picture();
        m_pictureNibble = -1;
        break;
    case Kw::ShpPict:
        group.role = Role::Shppict;
        break;
    case Kw::NonShpPict:
        // The same picture again, for readers that do not know \shppict.
        if (m_shppictJustClosed)
            skipGroup();
        break;
    case Kw::Shp:
    case Kw::ShpGrp:
        if (body)
            group.inShape = true;
        if (group.dest == Dest::Body)
            group.dest = Dest::Discard;
        break;
    case Kw::ShpInst:
        if (m_stack.size() >= 2)
            m_stack[m_stack.size() - 2].shapeHadInst = true;
        group.dest = Dest::Discard;
        break;
    case Kw::ShpTxt:
        if (group.inShape)
            group.dest = Dest::Body;
        else
            skipGroup();
        break;
    case Kw::ShpRslt: {
        const bool hadInst = m_stack.size() >= 2 && m_stack[m_stack.size() - 2].shapeHadInst;
        if (group.inShape && !hadInst)
            group.dest = Dest::Body;
        else
            skipGroup();
        break;
    }
    case Kw::Sp:
        break;
    case Kw::Sn:
        group.dest = Dest::ShapeName;
        m_shapeName.clear();
        break;
    case Kw::Sv:
        if (group.inShape && m_shapeName.trimmed() == QLatin1String("pib"))
            group.dest = Dest::Body;
        else
            skipGroup();
        break;
    default:
        break;
    }
}

// A picture's hexadecimal data, two digits to a byte; anything else between them is left out.
void Parser::pictureHex(const char *from, const char *to)
{
    for (const char *p = from; p < to; ++p) {
        const int nibble = hexValue(*p);
        if (nibble < 0)
            continue;
        if (m_pictureNibble < 0) {
            m_pictureNibble = nibble;
        } else {
            m_picture.data.append(char(m_pictureNibble * 16 + nibble));
            m_pictureNibble = -1;
        }
    }
}

void Parser::insertPicture()
{
    const detail::Picture picture = std::move(m_picture);
    m_picture = detail::Picture();
    if (top().dest != Dest::Body || top().chr.hidden)
        return;
    const QImage image = picture.decode(m_imageBudget);
    if (image.isNull()) {
        ++m_stats.picturesLeftOut;
        return;
    }
    m_imageBudget -= image.sizeInBytes();
    if (nestOf(top().para) != int(m_tables.size()) || (!m_tables.empty() && !m_tables.back().cellEntered))
        placeCursor(nestOf(top().para));
    if (!m_listText.isEmpty())
        takeListText();
    flushRun();
    if (m_cells > 0) {
        m_runState = top().chr;
        pendingCells();
        flushRun();
    }
    const QString name = detail::newImageName();
    m_doc->addResource(QTextDocument::ImageResource, QUrl(name), image);
    QTextImageFormat format;
    format.setName(name);
    const QSizeF size = picture.displaySize(image.size());
    format.setWidth(size.width());
    format.setHeight(size.height());
    startPendingParagraph();
    m_cursor.insertImage(format);
    m_blockHasContent = true;
    m_afterParagraph = false;
    ++m_stats.images;
}

} // namespace Rtf::detail
