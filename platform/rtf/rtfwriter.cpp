#include "rtfwriter.h"

#include "rtf.h"
#include "rtfcodepage.h"
#include "rtflisttext.h"

#include <QBuffer>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>
#include <QUrl>

#include <array>
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
    QFont::Capitalization caps = QFont::MixedCase;
    int foreground = 0;
    int background = 0;
    bool operator==(const RunProps &) const = default;
};

int twips(qreal pixels)
{
    return int(std::lround(std::clamp<qreal>(pixels, -1e6, 1e6) * 15.0));
}

// A list's suffix as QTextList shows it: "." unless the format says otherwise.
QString numberSuffix(const QTextListFormat &format)
{
    return format.hasProperty(QTextFormat::ListNumberSuffix) ? format.numberSuffix() : QStringLiteral(".");
}

// The table cells a block is in, outermost first.
struct Place
{
    QTextTable *table;
    QTextTableCell cell;
};

QList<Place> placeOf(const QTextDocument *doc, const QTextBlock &block)
{
    QList<Place> places;
    if (!block.isValid())
        return places;
    for (QTextFrame *frame = doc->frameAt(block.position()); frame; frame = frame->parentFrame()) {
        if (auto *table = qobject_cast<QTextTable *>(frame))
            places.prepend({table, table->cellAt(block.position())});
    }
    return places;
}

bool sameCell(const Place &a, const Place &b)
{
    return a.table == b.table && a.cell.row() == b.cell.row() && a.cell.column() == b.cell.column();
}

// The width of a table's text area when the table gives none: A4 less 2 cm margins, in twips.
constexpr int kTableWidth = 9638;

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
    void paragraphStart(const QTextBlock &block, int nest);
    void between(const QTextBlock &previous, const QTextBlock &next);
    QByteArray rowDefinition(QTextTable *table, int row);
    QByteArray cellBorders(const QTextTableFormat &table, const QTextCharFormat &cell);
    static const char *borderStyleWord(QTextFrameFormat::BorderStyle style);
    void emptyCells(QTextTable *table, int row, int level, int &column, int until);
    void endRow(int level);
    int listFamily(const QTextList *list, int family);
    void listTables();
    void levelText(const QTextListFormat &format, int level);
    static int numberFormat(const QTextListFormat &format);
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

    struct TableOut
    {
        QTextTable *table;
        int row;
        int column;      // the next grid column to write
        bool nested;     // the row holds a nested table
    };
    QList<TableOut> m_tables; // the tables being written, outermost first
    // Lists as RTF writes them: a list and the lists nested in its items share one \\ls, each at
    // its level; m_families holds each \\ls's lists by level. The lists of a family the reader
    // made (detail::ListFamilyProperty) go to one \\ls, where their levels agree.
    QHash<const QTextList *, int> m_listNumbers;
    QList<std::array<const QTextList *, 9>> m_families;
    QHash<int, int> m_familyIndex; // a family's index in m_families
    QList<std::array<int, 9>> m_lastItems; // each family's last item at each level, counted from 1
    int m_items = 0;
    ListNumbering m_numbering;     // the list texts of the items written
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
    props.caps = format.hasProperty(QTextFormat::FontCapitalization) ? format.fontCapitalization() : m_base.capitalization();
    if (props.caps != QFont::SmallCaps && props.caps != QFont::AllUppercase)
        props.caps = QFont::MixedCase;
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
    // Face and size always: some readers take the size after \plain from their own defaults.
    m_out.append("\\plain\\f" + QByteArray::number(props.font) + "\\fs" + QByteArray::number(props.halfPoints));
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
    if (props.caps == QFont::SmallCaps)
        m_out.append("\\scaps");
    else if (props.caps == QFont::AllUppercase)
        m_out.append("\\caps");
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

void Writer::paragraphStart(const QTextBlock &block, int nest)
{
    const QTextBlockFormat format = block.blockFormat();
    const QTextList *list = block.textList();
    if (list) {
        // The number as text first, for readers without lists: as old readers and as newer
        // ones take it (marked ignorable, so that readers knowing neither show it once).
        QString marker = m_numbering.textOf(block);
        if (!hasListItemTexts(list->format())) {
            switch (list->format().style()) {
            case QTextListFormat::ListDisc: marker = QStringLiteral("\u2022"); break;
            case QTextListFormat::ListCircle: marker = QStringLiteral("\u25E6"); break;
            case QTextListFormat::ListSquare: marker = QStringLiteral("\u25AA"); break;
            default: marker = list->itemText(block); break;
            }
        }
        for (const char *group : {"{\\pntext\\pard\\plain ", "{\\*\\listtext\\pard\\plain "}) {
            m_out.append(group);
            escaped(marker);
            m_out.append("\\tab}");
        }
    }
    m_out.append("\\pard");
    if (nest > 0)
        m_out.append("\\intbl");
    if (nest > 1)
        m_out.append("\\itap" + QByteArray::number(nest));
    if (list) {
        const int ls = m_listNumbers.value(list);
        const int level = std::clamp(list->format().indent() - 1, 0, 8);
        m_out.append("\\ls" + QByteArray::number(ls) + "\\ilvl" + QByteArray::number(level));
    }

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
    if (list)
        left += list->format().indent() * m_doc->indentWidth();
    auto margin = [this](const char *word, qreal pixels) {
        if (twips(pixels) != 0)
            m_out.append(QByteArray(word) + QByteArray::number(twips(pixels)));
    };
    margin("\\li", left);
    margin("\\ri", format.rightMargin());
    if (list && twips(format.textIndent()) == 0)
        m_out.append("\\fi-360");
    margin("\\fi", format.textIndent());
    margin("\\sb", format.topMargin());
    margin("\\sa", format.bottomMargin());
    if (format.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)
        m_out.append("\\pagebb");
    if (format.hasProperty(QTextFormat::LineHeight)) {
        const qreal height = format.lineHeight();
        switch (format.lineHeightType()) {
        case QTextBlockFormat::ProportionalHeight:
            if (height > 0 && std::lround(height) != 100)
                m_out.append("\\sl" + QByteArray::number(std::lround(height * 2.4)) + "\\slmult1");
            break;
        case QTextBlockFormat::FixedHeight:
            if (twips(height) > 0)
                m_out.append("\\sl-" + QByteArray::number(twips(height)) + "\\slmult0");
            break;
        case QTextBlockFormat::MinimumHeight:
            if (twips(height) > 0)
                m_out.append("\\sl" + QByteArray::number(twips(height)) + "\\slmult0");
            break;
        default: break;
        }
    }
    const QList<QTextOption::Tab> tabs = format.tabPositions();
    const QString leaders = format.stringProperty(detail::TabLeadersProperty);
    for (qsizetype i = 0; i < tabs.size(); ++i) {
        const QTextOption::Tab &tab = tabs.at(i);
        switch (tab.type) {
        case QTextOption::RightTab: m_out.append("\\tqr"); break;
        case QTextOption::CenterTab: m_out.append("\\tqc"); break;
        case QTextOption::DelimiterTab: m_out.append("\\tqdec"); break;
        default: break;
        }
        switch (i < leaders.size() ? leaders.at(i).unicode() : u' ') {
        case u'd': m_out.append("\\tldot"); break;
        case u'h': m_out.append("\\tlhyph"); break;
        case u'u': m_out.append("\\tlul"); break;
        case u't': m_out.append("\\tlth"); break;
        case u'e': m_out.append("\\tleq"); break;
        case u'm': m_out.append("\\tlmdot"); break;
        default: break;
        }
        m_out.append("\\tx" + QByteArray::number(std::max(0, twips(tab.position))));
    }
    m_out.append(' ');
}

int Writer::numberFormat(const QTextListFormat &format)
{
    if (hasListItemTexts(format))
        return listNumberFormat(format);
    switch (format.style()) {
    case QTextListFormat::ListUpperRoman: return 1;
    case QTextListFormat::ListLowerRoman: return 2;
    case QTextListFormat::ListUpperAlpha: return 3;
    case QTextListFormat::ListLowerAlpha: return 4;
    case QTextListFormat::ListDecimal: return 0;
    default: return 23;
    }
}

// The index in m_families of the \\ls a list item goes to, given the family of the item before
// it (-1: none). A list at a level of that family's goes to it; so does one that starts that
// level again after an item of a level above, as word processors count. The lists of a family
// the reader made go to one \\ls while their levels agree.
int Writer::listFamily(const QTextList *list, int family)
{
    if (!list)
        return -1;
    const QTextListFormat format = list->format();
    const int level = std::clamp(format.indent() - 1, 0, 8);
    auto startFamily = [this] {
        m_families.append(std::array<const QTextList *, 9>{});
        m_lastItems.append(std::array<int, 9>{});
        return int(m_families.size()) - 1;
    };
    if (m_listNumbers.contains(list)) {
        family = m_listNumbers.value(list) - 1;
    } else if (format.hasProperty(detail::ListFamilyProperty)) {
        const int id = format.intProperty(detail::ListFamilyProperty);
        family = m_familyIndex.value(id, -1);
        if (family < 0 || (m_families[family][level] && m_families[family][level]->format() != format)) {
            family = startFamily();
            m_familyIndex.insert(id, family);
        }
    } else {
        const QTextList *taken = family >= 0 ? m_families[family][level] : nullptr;
        const std::array<int, 9> &last = family >= 0 ? m_lastItems[family] : std::array<int, 9>{};
        const bool startsAgain = taken && level > 0 && taken->format() == format
                                 && *std::max_element(last.begin(), last.begin() + level) > last[level];
        if (!startsAgain && (family < 0 || level == 0 || taken))
            family = startFamily();
    }
    if (!m_families[family][level])
        m_families[family][level] = list;
    m_listNumbers.insert(list, family + 1);
    m_lastItems[family][level] = ++m_items;
    return family;
}

namespace {

QByteArray hexByte(int value)
{
    static const char digits[] = "0123456789abcdef";
    return QByteArray("\\'") + digits[(value >> 4) & 15] + digits[value & 15];
}

} // namespace

// A level text of rtf.h ("%1.%2.") as \\leveltext and \\levelnumbers: its length, its text with
// \\'00..\\'08 for the levels' numbers, and where these stand.
void Writer::levelText(const QTextListFormat &format, int level)
{
    const QString text = format.stringProperty(detail::ListLevelTextProperty);
    QString body;
    QByteArray numbers;
    for (qsizetype i = 0; i < text.size() && body.size() < 64; ++i) {
        if (text.at(i) != u'%' || i + 1 == text.size()) {
            body.append(text.at(i));
            continue;
        }
        const QChar next = text.at(++i);
        if (next >= u'1' && next <= QChar(u'1' + level)) {
            body.append(QChar(char16_t(next.unicode() - u'1')));
            numbers.append(hexByte(int(body.size())));
        } else if (next == u'%') {
            body.append(next);
        }
    }
    m_out.append(hexByte(int(body.size())));
    for (QChar ch : std::as_const(body)) {
        if (ch.unicode() < 9)
            m_out.append(hexByte(ch.unicode()));
        else
            escaped(QStringView(&ch, 1));
    }
    m_out.append(";}{\\levelnumbers" + numbers + ";}");
}

void Writer::listTables()
{
    if (m_families.isEmpty())
        return;
    m_out.append("{\\*\\listtable\n");
    for (qsizetype i = 0; i < m_families.size(); ++i) {
        const QByteArray id = QByteArray::number(i + 1);
        m_out.append("{\\list\\listtemplateid" + id + "\\listsimple0");
        for (int level = 0; level < 9; ++level) {
            // Levels without a list of their own: bullets.
            QTextListFormat format;
            format.setStyle(QTextListFormat::ListDisc);
            if (const QTextList *list = m_families.at(i)[level])
                format = list->format();
            const int nfc = numberFormat(format);
            const int start = format.hasProperty(detail::ListStartProperty) ? format.intProperty(detail::ListStartProperty) : 1;
            m_out.append("{\\listlevel\\levelnfc" + QByteArray::number(nfc) + "\\levelnfcn"
                         + QByteArray::number(nfc) + "\\leveljc0\\leveljcn0\\levelfollow0\\levelstartat"
                         + QByteArray::number(start) + "{\\leveltext");
            if (hasListItemTexts(format)) {
                levelText(format, level);
            } else if (nfc == 23) {
                const char *bullet = format.style() == QTextListFormat::ListCircle   ? "\\'01\\u9702 ?;}"
                                     : format.style() == QTextListFormat::ListSquare ? "\\'01\\u9642 ?;}"
                                                                                     : "\\'01\\u8226 ?;}";
                m_out.append(QByteArray(bullet) + "{\\levelnumbers;}");
            } else {
                const QString suffix = numberSuffix(format).left(16);
                const QString prefix = format.numberPrefix().left(16);
                m_out.append(hexByte(int(prefix.size() + 1 + suffix.size())));
                escaped(prefix);
                m_out.append(hexByte(level));
                escaped(suffix);
                m_out.append(";}{\\levelnumbers" + hexByte(int(prefix.size()) + 1) + ";}");
            }
            m_out.append("\\fi-360\\li" + QByteArray::number(600 * (level + 1)) + "}");
        }
        m_out.append("{\\listname ;}\\listid" + id + "}\n");
    }
    m_out.append("}\n{\\*\\listoverridetable");
    for (qsizetype i = 0; i < m_families.size(); ++i) {
        const QByteArray id = QByteArray::number(i + 1);
        m_out.append("{\\listoverride\\listid" + id + "\\listoverridecount0\\ls" + id + "}");
    }
    m_out.append("}\n");
}

// ---------------------------------------------------------------------------------------------
// Tables: each row's definition before its cells (inside \\nesttableprops after them for a
// table in a cell), a vertically merged cell's continuation as an empty cell, a cell merged
// across as one wider cell.

QByteArray Writer::rowDefinition(QTextTable *table, int row)
{
    const QTextTableFormat format = table->format();
    const int columns = table->columns();
    const QList<QTextLength> constraints = format.columnWidthConstraints();
    QList<int> widths;
    int known = 0;
    int unknown = 0;
    for (int c = 0; c < columns; ++c) {
        const QTextLength length = c < constraints.size() ? constraints.at(c) : QTextLength();
        int width = 0;
        if (length.type() == QTextLength::FixedLength)
            width = twips(length.rawValue());
        else if (length.type() == QTextLength::PercentageLength)
            width = int(std::lround(kTableWidth * length.rawValue() / 100.0));
        widths.append(width);
        known += width;
        unknown += width > 0 ? 0 : 1;
    }
    for (int &width : widths) {
        if (width <= 0)
            width = std::max(144, (kTableWidth - known) / std::max(1, unknown));
        width = std::clamp(width, 1, 31680);
    }
    const int padding = twips(format.cellPadding());
    // An indented table starts at its indent; else its text lines up with the margin.
    const int indent = std::clamp(twips(format.leftMargin()), 0, 31680);
    QByteArray out = "\\trowd\\trgaph" + QByteArray::number(padding) + "\\trleft"
                     + QByteArray::number(indent > 0 ? indent : -padding);
    int edge = indent;
    for (int c = 0; c < columns;) {
        const QTextTableCell cell = table->cellAt(row, c);
        const int span = std::max(1, cell.columnSpan() - (c - cell.column()));
        if (cell.row() < row)
            out.append("\\clvmrg");
        else if (cell.rowSpan() > 1)
            out.append("\\clvmgf");
        const QTextCharFormat cellFormat = cell.format();
        out.append(cellBorders(format, cellFormat));
        if (cellFormat.hasProperty(QTextFormat::BackgroundBrush) && cellFormat.background().style() != Qt::NoBrush)
            out.append("\\clcbpat" + QByteArray::number(colourIndex(cellFormat.background())));
        for (int k = 0; k < span && c + k < columns; ++k)
            edge += widths.at(c + k);
        out.append("\\cellx" + QByteArray::number(edge));
        c += span;
    }
    return out;
}

// A cell's borders, side by side: its own where it has them, else its table's.
QByteArray Writer::cellBorders(const QTextTableFormat &table, const QTextCharFormat &cell)
{
    struct Side
    {
        const char *word;
        int width, style, brush;
    };
    static constexpr Side sides[] = {
        {"\\clbrdrt", QTextFormat::TableCellTopBorder, QTextFormat::TableCellTopBorderStyle, QTextFormat::TableCellTopBorderBrush},
        {"\\clbrdrl", QTextFormat::TableCellLeftBorder, QTextFormat::TableCellLeftBorderStyle, QTextFormat::TableCellLeftBorderBrush},
        {"\\clbrdrb", QTextFormat::TableCellBottomBorder, QTextFormat::TableCellBottomBorderStyle,
         QTextFormat::TableCellBottomBorderBrush},
        {"\\clbrdrr", QTextFormat::TableCellRightBorder, QTextFormat::TableCellRightBorderStyle,
         QTextFormat::TableCellRightBorderBrush},
    };
    QByteArray out;
    for (const Side &side : sides) {
        const qreal width = cell.hasProperty(side.width) ? cell.doubleProperty(side.width) : table.border();
        const auto style = QTextFrameFormat::BorderStyle(cell.hasProperty(side.style) ? cell.intProperty(side.style)
                                                                                      : int(table.borderStyle()));
        const QBrush brush = cell.hasProperty(side.brush) ? cell.brushProperty(side.brush) : table.borderBrush();
        const char *styleWord = borderStyleWord(style);
        if (width <= 0 || !styleWord)
            continue;
        out.append(side.word);
        out.append(styleWord);
        out.append("\\brdrw" + QByteArray::number(std::clamp(twips(width), 1, 1440)));
        if (const int colour = colourIndex(brush))
            out.append("\\brdrcf" + QByteArray::number(colour));
    }
    return out;
}

const char *Writer::borderStyleWord(QTextFrameFormat::BorderStyle style)
{
    switch (style) {
    case QTextFrameFormat::BorderStyle_None: return nullptr;
    case QTextFrameFormat::BorderStyle_Dotted: return "\\brdrdot";
    case QTextFrameFormat::BorderStyle_Dashed: return "\\brdrdash";
    case QTextFrameFormat::BorderStyle_Double: return "\\brdrdb";
    case QTextFrameFormat::BorderStyle_DotDash: return "\\brdrdashd";
    case QTextFrameFormat::BorderStyle_DotDotDash: return "\\brdrdashdd";
    case QTextFrameFormat::BorderStyle_Groove: return "\\brdrengrave";
    case QTextFrameFormat::BorderStyle_Ridge: return "\\brdremboss";
    case QTextFrameFormat::BorderStyle_Inset: return "\\brdrinset";
    case QTextFrameFormat::BorderStyle_Outset: return "\\brdroutset";
    case QTextFrameFormat::BorderStyle_Solid: break;
    }
    return "\\brdrs";
}

// Writes the continuation cells of vertical merges from column up to (not including) until.
void Writer::emptyCells(QTextTable *table, int row, int level, int &column, int until)
{
    while (column < until && column < table->columns()) {
        const QTextTableCell cell = table->cellAt(row, column);
        const int span = std::max(1, cell.columnSpan() - (column - cell.column()));
        if (cell.row() < row) {
            m_out.append("\\pard\\intbl");
            if (level > 1)
                m_out.append("\\itap" + QByteArray::number(level));
            m_out.append(level > 1 ? " \\nestcell\n" : " \\cell\n");
        }
        column += span;
    }
}

void Writer::endRow(int level)
{
    TableOut &out = m_tables[level - 1];
    emptyCells(out.table, out.row, level, out.column, out.table->columns());
    if (level == 1) {
        if (out.nested) {
            // The row's definition again: the nested rows' definitions came after the first.
            m_out.append("\\pard\\intbl{" + rowDefinition(out.table, out.row) + "\\row}\n");
        } else {
            m_out.append("\\row\n");
        }
    } else {
        m_out.append("{\\*\\nesttableprops" + rowDefinition(out.table, out.row) + "\\nestrow}{\\nonesttables\\par}\n");
    }
}

// What comes between two paragraphs (or before the first, or after the last): a paragraph
// mark, or the ends of cells and rows, and the starts of rows.
void Writer::between(const QTextBlock &previous, const QTextBlock &next)
{
    const QList<Place> before = placeOf(m_doc, previous);
    const QList<Place> after = placeOf(m_doc, next);
    qsizetype common = 0;
    while (common < before.size() && common < after.size() && common < m_tables.size()
           && sameCell(before.at(common), after.at(common)))
        ++common;
    if (previous.isValid()) {
        if (common == before.size() || before.size() > m_tables.size()) {
            m_out.append("\\par\n");
        } else {
            // The cells that end here, innermost first; a row ends when the next paragraph is not
            // in the same row.
            for (qsizetype level = std::min(before.size(), m_tables.size()); level > common; --level) {
                if (level < before.size() || level < std::min(before.size(), m_tables.size()))
                    m_out.append("\\pard\\intbl" + (level > 1 ? "\\itap" + QByteArray::number(level) : QByteArray()) + ' ');
                m_out.append(level > 1 ? "\\nestcell\n" : "\\cell\n");
                const Place &place = before.at(level - 1);
                const bool sameRow = level <= after.size() && after.at(level - 1).table == place.table
                                     && after.at(level - 1).cell.row() == place.cell.row();
                if (!sameRow)
                    endRow(int(level));
            }
        }
    }
    // Tables the next paragraph is not in are done.
    while (m_tables.size() > common
           && !(m_tables.size() <= after.size() && after.at(m_tables.size() - 1).table == m_tables.last().table))
        m_tables.removeLast();
    // Rows and cells the next paragraph starts.
    for (qsizetype level = common + 1; level <= after.size(); ++level) {
        const Place &place = after.at(level - 1);
        const int row = place.cell.row();
        if (m_tables.size() < level) {
            m_tables.append({place.table, row, 0, false});
            if (level == 1)
                m_out.append(rowDefinition(place.table, row) + '\n');
            else
                m_tables[level - 2].nested = true;
        } else if (m_tables[level - 1].row != row) {
            m_tables[level - 1] = {place.table, row, 0, false};
            if (level == 1)
                m_out.append(rowDefinition(place.table, row) + '\n');
        }
        TableOut &out = m_tables[level - 1];
        emptyCells(out.table, row, int(level), out.column, place.cell.column());
        out.column = place.cell.column() + place.cell.columnSpan();
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
    forEachPiece([this, previous = QTextBlock(), family = -1](const QTextBlock &block, const QTextFragment &fragment,
                                                              QStringView) mutable {
        if (block != previous) {
            previous = block;
            collect(block.charFormat()); // empty paragraphs and list markers
            family = listFamily(block.textList(), family);
            for (const Place &place : placeOf(m_doc, block)) {
                const QTextCharFormat cell = place.cell.format();
                for (int property : {int(QTextFormat::BackgroundBrush), int(QTextFormat::TableCellTopBorderBrush),
                                     int(QTextFormat::TableCellLeftBorderBrush), int(QTextFormat::TableCellBottomBorderBrush),
                                     int(QTextFormat::TableCellRightBorderBrush)}) {
                    if (cell.hasProperty(property))
                        colourIndex(cell.brushProperty(property));
                }
                const QTextTableFormat table = place.table->format();
                if (table.border() > 0)
                    colourIndex(table.borderBrush());
            }
        }
        if (fragment.isValid())
            collect(fragment.charFormat());
    });

    header();
    listTables();
    QTextBlock last;
    forEachPiece([this, &last](const QTextBlock &block, const QTextFragment &fragment, QStringView piece) {
        if (block != last) {
            setLink({});
            between(last, block);
            last = block;
            paragraphStart(block, int(m_tables.size()));
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
        const RunProps props = propsOf(format);
        if (props.vertical == QTextCharFormat::AlignNormal) {
            setProps(props);
            text(piece);
            return;
        }
        // Raised and lowered text in a group of its own (some readers drop an ungrouped
        // \super run); the text after it goes on with the formats before it.
        const RunProps outer = m_props;
        const bool outerValid = m_propsValid;
        m_out.append('{');
        m_propsValid = false;
        setProps(props);
        text(piece);
        m_out.append('}');
        m_props = outer;
        m_propsValid = outerValid;
    });
    setLink({});
    if (placeOf(m_doc, last).isEmpty())
        m_out.append("\\par\n");
    else
        between(last, QTextBlock());
    m_out.append("}\n");
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
