// Destinations of the RTF reader: where each group's text goes (the document, the font and
// colour tables, a field's instruction, a shape property's name, a list's number text, or
// nowhere), and how its bytes become characters: by the code page of the run's font, else of
// the document, symbol fonts by their own tables. Text of a table, an instruction or a left-out
// destination never reaches the document; every byte gives a character (U+FFFD where its code
// page has none), and half a surrogate pair never goes in alone.

#include "rtfparser_p.h"

#include <algorithm>

namespace Rtf::detail {

namespace {

QString hyperlinkTarget(const QString &instruction)
{
    const QString text = instruction.trimmed();
    if (!text.startsWith(QLatin1String("HYPERLINK"), Qt::CaseInsensitive))
        return {};
    QStringList tokens;
    for (qsizetype i = 9; i < text.size();) {
        if (text.at(i).isSpace()) {
            ++i;
            continue;
        }
        QString token;
        if (text.at(i) == u'"') {
            const qsizetype close = text.indexOf(u'"', i + 1);
            const qsizetype stop = close < 0 ? text.size() : close;
            token = text.mid(i + 1, stop - i - 1);
            i = stop + 1;
        } else {
            qsizetype stop = i;
            while (stop < text.size() && !text.at(stop).isSpace())
                ++stop;
            token = text.mid(i, stop - i);
            i = stop;
        }
        tokens.append(token);
    }
    QString url;
    QString location;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const QString &token = tokens.at(i);
        if (token.startsWith(u'\\') && token.size() == 2) {
            const QChar option = token.at(1).toLower();
            if (option == u'l' && i + 1 < tokens.size())
                location = tokens.at(++i);
            else if ((option == u'o' || option == u't') && i + 1 < tokens.size())
                ++i;
        } else if (url.isEmpty()) {
            url = token;
        }
    }
    if (!location.isEmpty())
        url += u'#' + location;
    return url;
}
} // namespace

// \f \fcharset \cpg (a font table entry, or a run's font) and \red \green \blue.
void Parser::fontTableWord(Kw kw, int param)
{
    Group &group = top();
    CharState &chr = group.chr;
    switch (kw) {
    case Kw::F:
        if (group.dest == Dest::FontTable) {
            commitFont();
            m_fontIndex = param;
            m_fontCharset = -1;
            m_fontCodePage = 0;
        } else {
            chr.font = param;
        }
        break;
    case Kw::FCharset:
        if (group.dest == Dest::FontTable)
            m_fontCharset = param;
        break;
    case Kw::Cpg:
        if (group.dest == Dest::FontTable && detail::isKnownCodePage(param))
            m_fontCodePage = param;
        break;
    case Kw::Red:
        m_red = std::clamp(param, 0, 255);
        m_colourSet = true;
        break;
    case Kw::Green:
        m_green = std::clamp(param, 0, 255);
        m_colourSet = true;
        break;
    case Kw::Blue:
        m_blue = std::clamp(param, 0, 255);
        m_colourSet = true;
        break;
    default:
        break;
    }
}

void Parser::destination(Kw kw)
{
    Group &group = top();
    const bool body = group.dest == Dest::Body;
    switch (kw) {
    case Kw::FontTable:
        commitFont();
        group.dest = Dest::FontTable;
        group.role = Role::FontTableRoot;
        break;
    case Kw::ColorTable:
        group.dest = Dest::ColorTable;
        m_colours.clear();
        m_formatCount = 0;
        m_colourSet = false;
        m_red = m_green = m_blue = 0;
        break;
    case Kw::Field:
        if (m_fieldInstructions.size() < 100000) {
            group.field = int(m_fieldInstructions.size());
            m_fieldInstructions.append(QString());
        } else {
            group.field = -1;
        }
        break;
    case Kw::FldInst:
        group.dest = group.field >= 0 ? Dest::FieldInst : Dest::Discard;
        break;
    case Kw::FldRslt:
        if (body && group.field >= 0) {
            const QString target = hyperlinkTarget(m_fieldInstructions.at(group.field));
            if (!target.isEmpty())
                group.chr.href = target;
            else if (!m_fieldInstructions.at(group.field).trimmed().isEmpty())
                ++m_stats.fields;
        }
        break;
    case Kw::ListTable:
    case Kw::List:
    case Kw::ListLevel:
    case Kw::LevelText:
    case Kw::ListOverrideTable:
    case Kw::ListOverride:
    case Kw::Pn:
    case Kw::PnTxtA:
    case Kw::PnTxtB:
    case Kw::ListText:
    case Kw::PnText:
        listDestination(kw);
        break;
    case Kw::Footnote:
        ++m_stats.footnotes;
        skipGroup();
        return;
    case Kw::HeaderFooter:
        ++m_stats.headersFooters;
        skipGroup();
        return;
    case Kw::Annotation:
        ++m_stats.comments;
        skipGroup();
        return;
    case Kw::DrawingObject:
        ++m_stats.drawings;
        skipGroup();
        return;
    case Kw::Pict:
    case Kw::ShpPict:
    case Kw::NonShpPict:
    case Kw::Shp:
    case Kw::ShpGrp:
    case Kw::ShpInst:
    case Kw::ShpTxt:
    case Kw::ShpRslt:
    case Kw::Sp:
    case Kw::Sn:
    case Kw::Sv:
        objectDestination(kw);
        break;
    case Kw::NestTableProps:
        group.nestedTableProps = group.dest == Dest::Body;
        group.dest = Dest::Discard;
        break;
    case Kw::Upr:
        group.outer = group.dest;
        group.dest = Dest::Upr;
        break;
    case Kw::Ud:
    case Kw::Object:
    case Kw::Result:
        break; // their text is document text
    default:
        skipGroup();
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Decoding

ByteDecoder &Parser::decoder(int codePage)
{
    auto &slot = m_decoders[codePage];
    if (!slot)
        slot = std::make_unique<ByteDecoder>(codePage);
    return *slot;
}

DecodeContext Parser::decodeContext()
{
    DecodeContext context;
    context.codePage = m_docCodePage;
    const Group &group = top();
    int codePage = 0;
    if (group.dest == Dest::FontTable) {
        // A symbol font's name is text, not glyph numbers.
        codePage = m_fontCodePage ? m_fontCodePage : detail::codePageForCharset(std::max(m_fontCharset, 0));
        if (codePage == detail::SymbolCodePage)
            codePage = 0;
    } else if (group.dest == Dest::Body || group.dest == Dest::ListText) {
        const auto it = m_fonts.constFind(group.chr.font);
        if (it != m_fonts.constEnd()) {
            codePage = it->codePage;
            context.symbol = it->symbol;
        }
    }
    if (codePage == detail::SymbolCodePage) {
        context.isSymbol = true;
        context.codePage = 0;
    } else {
        context.symbol = SymbolFont::Other;
        if (codePage > 0 || codePage == detail::UndefinedCodePage)
            context.codePage = codePage;
    }
    return context;
}

void Parser::appendBytes(const char *bytes, qsizetype size)
{
    const DecodeContext context = decodeContext();
    if (!m_bytes.isEmpty() && !(context == m_bytesContext))
        flushBytes();
    m_bytesContext = context;
    m_bytes.append(bytes, size);
}

void Parser::flushBytes()
{
    if (m_bytes.isEmpty())
        return;
    m_decoded.resize(0);
    if (m_bytesContext.isSymbol) {
        for (char byte : std::as_const(m_bytes)) {
            const char32_t ch = detail::symbolToUnicode(m_bytesContext.symbol, static_cast<unsigned char>(byte));
            m_decoded.append(QChar(char16_t(ch)));
        }
    } else {
        decoder(m_bytesContext.codePage).decode(m_bytes.constData(), m_bytes.size(), m_decoded);
    }
    m_bytes.resize(0);
    resolveSurrogate();
    deliver(m_decoded);
}

void Parser::resolveSurrogate()
{
    if (m_highSurrogate == 0)
        return;
    m_highSurrogate = 0;
    const QChar replacement(QChar::ReplacementCharacter);
    deliver(QStringView(&replacement, 1));
}

void Parser::unicode(int value)
{
    flushBytes();
    if (value < -32768 || value > 65535) {
        deliverChar(QChar::ReplacementCharacter);
        return;
    }
    char16_t unit = char16_t(value < 0 ? value + 65536 : value);
    if (QChar::isHighSurrogate(unit)) {
        resolveSurrogate();
        m_highSurrogate = unit;
        return;
    }
    if (QChar::isLowSurrogate(unit)) {
        if (m_highSurrogate == 0) {
            deliverChar(QChar::ReplacementCharacter);
            return;
        }
        const char16_t pair[2] = {m_highSurrogate, unit};
        m_highSurrogate = 0;
        deliver(QStringView(pair, 2));
        return;
    }
    // A symbol font's glyph numbers, as Unicode writers give them: U+F020..U+F0FF.
    if (unit >= 0xF020 && unit <= 0xF0FF && top().dest == Dest::Body) {
        const auto it = m_fonts.constFind(top().chr.font);
        if (it != m_fonts.constEnd() && it->codePage == detail::SymbolCodePage)
            unit = char16_t(detail::symbolToUnicode(it->symbol, uchar(unit - 0xF000)));
    }
    deliverChar(unit);
}

void Parser::deliverChar(char32_t ch)
{
    flushBytes();
    resolveSurrogate();
    const char16_t unit = char16_t(ch);
    deliver(QStringView(&unit, 1));
}

void Parser::deliver(QStringView text)
{
    if (text.isEmpty() || m_stack.empty())
        return;
    Group &group = top();
    switch (group.dest) {
    case Dest::Body:
        bodyText(text);
        break;
    case Dest::FontTable:
        for (QChar ch : text) {
            if (ch == u';') {
                commitFont();
                m_fontIndex = -1;
            } else if (m_fontName.size() < 256) {
                m_fontName.append(ch);
            }
        }
        break;
    case Dest::ColorTable:
        for (QChar ch : text) {
            if (ch == u';')
                commitColour();
        }
        break;
    case Dest::FieldInst:
        if (group.field >= 0 && m_fieldInstructions[group.field].size() < 4096)
            m_fieldInstructions[group.field].append(text);
        break;
    case Dest::ShapeName:
        if (m_shapeName.size() < 64)
            m_shapeName.append(text);
        break;
    case Dest::ListText:
        if (m_listText.size() < 256)
            m_listText.append(text);
        break;
    case Dest::PnBefore:
    case Dest::PnAfter: {
        if (m_pnText.size() >= 32)
            break;
        m_pnText.append(text);
        qsizetype index = m_pnTexts.indexOf(m_pnText);
        if (index < 0 && m_pnTexts.size() < 256) {
            index = m_pnTexts.size();
            m_pnTexts.append(m_pnText);
        }
        (group.dest == Dest::PnBefore ? group.para.pn.before : group.para.pn.after) = int(index);
        break;
    }
    case Dest::LevelText:
        if (!m_listDefs.isEmpty() && !m_listDefs.last().levels.isEmpty()
            && m_listDefs.last().levels.last().text.size() < 64)
            m_listDefs.last().levels.last().text.append(text);
        break;
    default:
        break;
    }
}

void Parser::commitFont()
{
    if (m_fontIndex >= 0) {
        FontInfo info;
        info.family = m_fontName.trimmed();
        info.codePage = m_fontCodePage ? m_fontCodePage : detail::codePageForCharset(std::max(m_fontCharset, 0));
        // A Western font (\fcharset0) in an East Asian document has Western text: its bytes are
        // Windows-1252, not the document's double-byte code page.
        const bool eastAsian = m_docCodePage == 932 || m_docCodePage == 936 || m_docCodePage == 949 || m_docCodePage == 950;
        if (!m_fontCodePage && m_fontCharset == 0 && eastAsian)
            info.codePage = 1252;
        if (info.codePage == detail::SymbolCodePage)
            info.symbol = detail::symbolFontKind(info.family);
        if (!info.family.isEmpty() || !m_fonts.contains(m_fontIndex))
            m_fonts.insert(m_fontIndex, info);
        m_formatCount = 0;
    }
    m_fontName.clear();
}

void Parser::commitColour()
{
    if (m_colours.size() < 100000)
        m_colours.append(m_colourSet ? QColor(m_red, m_green, m_blue) : QColor());
    m_red = m_green = m_blue = 0;
    m_colourSet = false;
    m_formatCount = 0;
}

} // namespace Rtf::detail
