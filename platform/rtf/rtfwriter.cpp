#include "rtfwriter.h"

#include "rtfcodepage.h"

#include <QBuffer>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTextList>
#include <QUrl>

#include <cmath>

namespace Rtf {

namespace {

// The character formatting of a run, fully resolved against the document's default font.
struct RunProps
{
    int font = 0;
    int halfPoints = 24;
    bool bold = false;
    bool italic = false;
    bool strike = false;
    QTextCharFormat::UnderlineStyle underline = QTextCharFormat::NoUnderline;
    QTextCharFormat::VerticalAlignment vertical = QTextCharFormat::AlignNormal;
    int foreground = 0;
    int background = 0;
    bool operator==(const RunProps &) const = default;
};

int twips(qreal pixels)
{
    return int(std::lround(pixels * 15.0));
}

class Writer
{
public:
    Writer(const QTextDocument *doc, int from, int to, const QTextDocument *fallback)
        : m_doc(doc), m_from(from), m_to(to), m_fallback(fallback), m_base(doc->defaultFont())
    {
    }

    QByteArray run();

private:
    template<typename Visit>
    void forEachPiece(Visit visit) const;
    void collect(const QTextCharFormat &format);
    int fontIndex(const QString &family);
    int colourIndex(const QBrush &brush);
    QString familyOf(const QTextCharFormat &format) const;
    RunProps propsOf(const QTextCharFormat &format);

    void header();
    void paragraphStart(const QTextBlock &block);
    void setProps(const RunProps &props);
    void setLink(const QString &href);
    void text(QStringView text);
    void image(const QTextImageFormat &format);
    QImage imageFor(const QString &name) const;
    void escaped(QStringView text, bool inFontTable = false);

    const QTextDocument *m_doc;
    int m_from;
    int m_to;
    const QTextDocument *m_fallback;
    QFont m_base;

    QStringList m_fonts;
    QHash<QString, int> m_fontIndex;
    QList<QRgb> m_colours;
    QHash<QRgb, int> m_colourIndex;

    QByteArray m_out;
    bool m_propsValid = false;
    RunProps m_props;
    QString m_link;
    RunProps m_propsBeforeLink;
    bool m_propsValidBeforeLink = false;
};

// Calls visit(block, fragment, text) for every piece of text in the range, and
// visit(block, QTextFragment(), {}) for a block with no text in it.
template<typename Visit>
void Writer::forEachPiece(Visit visit) const
{
    for (QTextBlock block = m_doc->findBlock(m_from); block.isValid() && block.position() <= m_to;
         block = block.next()) {
        bool any = false;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int start = std::max(fragment.position(), m_from);
            const int end = std::min(fragment.position() + fragment.length(), m_to);
            if (start >= end)
                continue;
            any = true;
            visit(block, fragment, QStringView(fragment.text()).mid(start - fragment.position(), end - start));
        }
        if (!any)
            visit(block, QTextFragment(), QStringView());
    }
}

int Writer::fontIndex(const QString &family)
{
    const auto it = m_fontIndex.constFind(family);
    if (it != m_fontIndex.constEnd())
        return *it;
    const int index = int(m_fonts.size());
    m_fonts.append(family);
    m_fontIndex.insert(family, index);
    return index;
}

int Writer::colourIndex(const QBrush &brush)
{
    if (brush.style() == Qt::NoBrush)
        return 0;
    const QRgb rgb = brush.color().rgb() | 0xff000000u;
    const auto it = m_colourIndex.constFind(rgb);
    if (it != m_colourIndex.constEnd())
        return *it;
    const int index = int(m_colours.size()) + 1; // 0 is the automatic colour
    m_colours.append(rgb);
    m_colourIndex.insert(rgb, index);
    return index;
}

QString Writer::familyOf(const QTextCharFormat &format) const
{
    const QStringList families = format.fontFamilies().toStringList();
    if (!families.isEmpty() && !families.first().isEmpty())
        return families.first();
    return m_base.family();
}

RunProps Writer::propsOf(const QTextCharFormat &format)
{
    RunProps props;
    props.font = fontIndex(familyOf(format));
    qreal points = m_base.pointSizeF() > 0 ? m_base.pointSizeF() : m_base.pixelSize() * 0.75;
    if (format.hasProperty(QTextFormat::FontPointSize) && format.fontPointSize() > 0)
        points = format.fontPointSize();
    else if (format.hasProperty(QTextFormat::FontPixelSize) && format.intProperty(QTextFormat::FontPixelSize) > 0)
        points = format.intProperty(QTextFormat::FontPixelSize) * 0.75;
    else if (format.hasProperty(QTextFormat::FontSizeAdjustment)) {
        // HTML's <font size=N>: the factors QTextDocument lays such text out with.
        static constexpr qreal factors[7] = {0.7, 0.8, 1.0, 1.2, 1.5, 2.0, 2.4};
        points *= factors[std::clamp(format.intProperty(QTextFormat::FontSizeAdjustment) + 2, 0, 6)];
    }
    if (points <= 0)
        points = 12;
    props.halfPoints = std::clamp(int(std::lround(points * 2)), 2, 3276);
    props.bold = format.hasProperty(QTextFormat::FontWeight) ? format.fontWeight() >= QFont::DemiBold
                                                              : m_base.bold();
    props.italic = format.hasProperty(QTextFormat::FontItalic) ? format.fontItalic() : m_base.italic();
    props.strike = format.hasProperty(QTextFormat::FontStrikeOut) ? format.fontStrikeOut() : m_base.strikeOut();
    if (format.hasProperty(QTextFormat::TextUnderlineStyle))
        props.underline = format.underlineStyle();
    else if (format.hasProperty(QTextFormat::FontUnderline) ? format.boolProperty(QTextFormat::FontUnderline)
                                                            : m_base.underline())
        props.underline = QTextCharFormat::SingleUnderline;
    if (props.underline == QTextCharFormat::SpellCheckUnderline)
        props.underline = QTextCharFormat::NoUnderline;
    props.vertical = format.verticalAlignment();
    if (props.vertical != QTextCharFormat::AlignSuperScript && props.vertical != QTextCharFormat::AlignSubScript)
        props.vertical = QTextCharFormat::AlignNormal;
    if (format.hasProperty(QTextFormat::ForegroundBrush))
        props.foreground = colourIndex(format.foreground());
    if (format.hasProperty(QTextFormat::BackgroundBrush))
        props.background = colourIndex(format.background());
    return props;
}

void Writer::collect(const QTextCharFormat &format)
{
    propsOf(format);
}

void Writer::escaped(QStringView text, bool inFontTable)
{
    for (const QChar ch : text) {
        const char16_t unit = ch.unicode();
        switch (unit) {
        case '\\': m_out.append("\\\\"); continue;
        case '{': m_out.append("\\{"); continue;
        case '}': m_out.append("\\}"); continue;
        case '\t': m_out.append("\\tab "); continue;
        case QChar::LineSeparator: m_out.append("\\line "); continue;
        case QChar::Nbsp: m_out.append("\\~"); continue;
        case QChar::SoftHyphen: m_out.append("\\-"); continue;
        case 0x2011: m_out.append("\\_"); continue;
        case QChar::ObjectReplacementCharacter: continue;
        default: break;
        }
        if (unit < 0x20 || (inFontTable && unit == ';'))
            continue;
        if (unit < 0x80) {
            m_out.append(char(unit));
            continue;
        }
        // \uN and a one-byte fallback for readers without Unicode: the Windows-1252 byte when
        // there is one, else '?'. Written as \'hh, since some readers take "?word" as one token.
        const int fallback = detail::toWindows1252(unit);
        static const char digits[] = "0123456789abcdef";
        const char hex[] = {'\\', '\'', digits[(fallback < 0 ? '?' : fallback) >> 4],
                            digits[(fallback < 0 ? '?' : fallback) & 15]};
        m_out.append("\\u");
        m_out.append(QByteArray::number(int(qint16(unit))));
        m_out.append(hex, 4);
    }
}

void Writer::header()
{
    m_out.append("{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl");
    for (int i = 0; i < m_fonts.size(); ++i) {
        m_out.append("{\\f" + QByteArray::number(i) + "\\fnil\\fcharset0 ");
        escaped(m_fonts.at(i), true);
        m_out.append(";}");
    }
    m_out.append("}\n{\\colortbl;");
    for (QRgb rgb : std::as_const(m_colours)) {
        m_out.append("\\red" + QByteArray::number(qRed(rgb)) + "\\green" + QByteArray::number(qGreen(rgb))
                     + "\\blue" + QByteArray::number(qBlue(rgb)) + ';');
    }
    m_out.append("}\n{\\*\\generator Parcelo;}\\viewkind4\n");
}

void Writer::setProps(const RunProps &props)
{
    if (m_propsValid && props == m_props)
        return;
    // \\plain is the default font (the document's, font 0) at 12 points; only what differs follows.
    m_out.append("\\plain");
    if (props.font != 0)
        m_out.append("\\f" + QByteArray::number(props.font));
    if (props.halfPoints != 24)
        m_out.append("\\fs" + QByteArray::number(props.halfPoints));
    if (props.bold)
        m_out.append("\\b");
    if (props.italic)
        m_out.append("\\i");
    switch (props.underline) {
    case QTextCharFormat::NoUnderline: break;
    case QTextCharFormat::DashUnderline: m_out.append("\\uldash"); break;
    case QTextCharFormat::DotLine: m_out.append("\\uld"); break;
    case QTextCharFormat::DashDotLine: m_out.append("\\uldashd"); break;
    case QTextCharFormat::DashDotDotLine: m_out.append("\\uldashdd"); break;
    case QTextCharFormat::WaveUnderline: m_out.append("\\ulwave"); break;
    default: m_out.append("\\ul"); break;
    }
    if (props.strike)
        m_out.append("\\strike");
    if (props.vertical == QTextCharFormat::AlignSuperScript)
        m_out.append("\\super");
    else if (props.vertical == QTextCharFormat::AlignSubScript)
        m_out.append("\\sub");
    if (props.foreground)
        m_out.append("\\cf" + QByteArray::number(props.foreground));
    if (props.background)
        m_out.append("\\highlight" + QByteArray::number(props.background));
    m_out.append(' ');
    m_props = props;
    m_propsValid = true;
}

void Writer::setLink(const QString &href)
{
    if (href == m_link)
        return;
    if (!m_link.isEmpty()) {
        m_out.append("}}}");
        m_props = m_propsBeforeLink;
        m_propsValid = m_propsValidBeforeLink;
    }
    m_link = href;
    if (href.isEmpty())
        return;
    m_propsBeforeLink = m_props;
    m_propsValidBeforeLink = m_propsValid;
    QString target = href;
    target.replace(u'"', QLatin1String("%22"));
    m_out.append("{\\field{\\*\\fldinst HYPERLINK \"");
    escaped(target);
    m_out.append("\"}{\\fldrslt {");
}

void Writer::paragraphStart(const QTextBlock &block)
{
    const QTextBlockFormat format = block.blockFormat();
    m_out.append("\\pard");
    const Qt::Alignment alignment = format.alignment() & Qt::AlignHorizontal_Mask;
    if (alignment & Qt::AlignHCenter)
        m_out.append("\\qc");
    else if (alignment & Qt::AlignJustify)
        m_out.append("\\qj");
    else if (alignment & Qt::AlignRight)
        m_out.append("\\qr");
    else
        m_out.append("\\ql");
    qreal left = format.leftMargin() + format.indent() * m_doc->indentWidth();
    if (const QTextList *list = block.textList())
        left += list->format().indent() * m_doc->indentWidth();
    auto margin = [this](const char *word, qreal pixels) {
        if (twips(pixels) != 0)
            m_out.append(QByteArray(word) + QByteArray::number(twips(pixels)));
    };
    margin("\\li", left);
    margin("\\ri", format.rightMargin());
    margin("\\fi", format.textIndent());
    margin("\\sb", format.topMargin());
    margin("\\sa", format.bottomMargin());
    if (format.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)
        m_out.append("\\pagebb");
    m_out.append(' ');
    if (const QTextList *list = block.textList()) {
        // The list marker as text: readers without lists still show it.
        QString marker;
        switch (list->format().style()) {
        case QTextListFormat::ListDisc: marker = QStringLiteral("\u2022"); break;
        case QTextListFormat::ListCircle: marker = QStringLiteral("\u25E6"); break;
        case QTextListFormat::ListSquare: marker = QStringLiteral("\u25AA"); break;
        default: marker = list->itemText(block); break;
        }
        setProps(propsOf(block.charFormat()));
        escaped(marker);
        m_out.append("\\tab ");
    }
}

void Writer::text(QStringView text)
{
    escaped(text);
}

QImage Writer::imageFor(const QString &name) const
{
    for (const QTextDocument *doc : {m_doc, m_fallback}) {
        if (!doc)
            continue;
        const QVariant resource = doc->resource(QTextDocument::ImageResource, QUrl(name));
        switch (resource.userType()) {
        case QMetaType::QImage: return resource.value<QImage>();
        case QMetaType::QPixmap: return resource.value<QPixmap>().toImage();
        case QMetaType::QByteArray: {
            const QImage image = QImage::fromData(resource.toByteArray());
            if (!image.isNull())
                return image;
            break;
        }
        default: break;
        }
    }
    return {};
}

void Writer::image(const QTextImageFormat &format)
{
    const QImage image = imageFor(format.name());
    if (image.isNull())
        return;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return;
    // The size it is shown at: what the format says, else the picture's own size, keeping the
    // proportions when only one side is given.
    qreal width = format.width();
    qreal height = format.height();
    if (width <= 0 && height <= 0) {
        width = image.width();
        height = image.height();
    } else if (width <= 0) {
        width = height * image.width() / std::max(1, image.height());
    } else if (height <= 0) {
        height = width * image.height() / std::max(1, image.width());
    }
    m_out.append("{\\pict\\pngblip\\picw" + QByteArray::number(image.width()) + "\\pich"
                 + QByteArray::number(image.height()) + "\\picwgoal" + QByteArray::number(twips(width))
                 + "\\pichgoal" + QByteArray::number(twips(height)) + '\n');
    static const char digits[] = "0123456789abcdef";
    const qsizetype start = m_out.size();
    const qsizetype lines = (png.size() + 63) / 64;
    m_out.resize(start + png.size() * 2 + lines);
    char *out = m_out.data() + start;
    for (qsizetype i = 0; i < png.size(); ++i) {
        const auto byte = static_cast<unsigned char>(png.at(i));
        *out++ = digits[byte >> 4];
        *out++ = digits[byte & 15];
        if (i % 64 == 63 || i + 1 == png.size())
            *out++ = '\n';
    }
    m_out.append('}');
}

QByteArray Writer::run()
{
    // First the tables: font 0 is the document's default font.
    fontIndex(m_base.family());
    forEachPiece([this](const QTextBlock &block, const QTextFragment &fragment, QStringView) {
        collect(block.charFormat()); // empty paragraphs and list markers
        if (fragment.isValid())
            collect(fragment.charFormat());
    });

    header();
    forEachPiece([this, previous = QTextBlock()](const QTextBlock &block, const QTextFragment &fragment,
                                                 QStringView piece) mutable {
        if (block != previous) {
            if (previous.isValid()) {
                setLink({});
                m_out.append("\\par\n");
            }
            previous = block;
            paragraphStart(block);
        }
        if (!fragment.isValid()) {
            setProps(propsOf(block.charFormat()));
            return;
        }
        const QTextCharFormat format = fragment.charFormat();
        if (format.isImageFormat()) {
            setLink({});
            for (qsizetype i = 0; i < piece.size(); ++i)
                image(format.toImageFormat());
            return;
        }
        setLink(format.isAnchor() ? format.anchorHref() : QString());
        setProps(propsOf(format));
        text(piece);
    });
    setLink({});
    m_out.append("\\par\n}\n");
    return m_out;
}

} // namespace

QByteArray RtfWriter::write(const QTextDocument *doc) const
{
    if (!doc)
        return {};
    return write(doc, 0, doc->characterCount() - 1);
}

QByteArray RtfWriter::write(const QTextDocument *doc, int from, int to, const QTextDocument *fallback) const
{
    if (!doc)
        return {};
    const int last = doc->characterCount() - 1;
    from = std::clamp(from, 0, last);
    to = std::clamp(to, from, last);
    return Writer(doc, from, to, fallback).run();
}

} // namespace Rtf
