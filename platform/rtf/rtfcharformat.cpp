// Character formats of the RTF reader: the character words (\plain, \b, \i, \ul, \fs, \cf,
// \super ...) and a run's character state as a QTextCharFormat. Every run keeps the face and
// size its document gives it, the default font (\deff) and the default size included, so that
// saving it again keeps its look.

#include "rtfparser_p.h"

namespace Rtf::detail {

QTextCharFormat Parser::charFormat(const CharState &state)
{
    for (int i = 0; i < m_formatCount; ++i) {
        if (m_formats[i].state == state)
            return m_formats[i].format;
    }
    // Every run keeps the face and size the document gives it, its default font and the
    // default 12 points included: the editor's base font stands only for what the document
    // leaves open (no font table entry for the run's font).
    QTextCharFormat format;
    const auto font = m_fonts.constFind(state.font);
    if (font != m_fonts.constEnd() && !font->family.isEmpty())
        format.setFontFamilies({font->family});
    format.setFontPointSize(state.halfPoints / 2.0);
    if (state.bold)
        format.setFontWeight(QFont::Bold);
    if (state.italic)
        format.setFontItalic(true);
    if (state.underline != QTextCharFormat::NoUnderline)
        format.setUnderlineStyle(state.underline);
    if (state.strike)
        format.setFontStrikeOut(true);
    if (state.caps != QFont::MixedCase)
        format.setFontCapitalization(state.caps);
    if (state.vertical != QTextCharFormat::AlignNormal)
        format.setVerticalAlignment(state.vertical);
    if (state.foreground > 0 && state.foreground < m_colours.size() && m_colours.at(state.foreground).isValid())
        format.setForeground(m_colours.at(state.foreground));
    else if (state.foreground == 0 && !m_colours.isEmpty() && m_colours.at(0).isValid())
        format.setForeground(m_colours.at(0));
    if (state.background > 0 && state.background < m_colours.size() && m_colours.at(state.background).isValid())
        format.setBackground(m_colours.at(state.background));
    if (!state.href.isEmpty()) {
        format.setAnchor(true);
        format.setAnchorHref(state.href);
    }
    m_formats[m_formatNext] = {state, format};
    m_formatNext = (m_formatNext + 1) % int(m_formats.size());
    m_formatCount = std::min(m_formatCount + 1, int(m_formats.size()));
    return format;
}

void Parser::charWord(Kw kw, bool hasParam, int param)
{
    Group &group = top();
    const bool on = !hasParam || param != 0;
    CharState &chr = group.chr;
    switch (kw) {
    case Kw::Plain: {
        QString href = chr.href;
        chr = CharState();
        chr.font = m_defaultFont;
        chr.href = href;
        break;
    }
    case Kw::B: chr.bold = on; break;
    case Kw::I: chr.italic = on; break;
    case Kw::Strike: chr.strike = on; break;
    case Kw::Caps: chr.caps = on ? QFont::AllUppercase : QFont::MixedCase; break;
    case Kw::SmallCaps: chr.caps = on ? QFont::SmallCaps : QFont::MixedCase; break;
    case Kw::Hidden: chr.hidden = on; break;
    case Kw::Ul: chr.underline = on ? QTextCharFormat::SingleUnderline : QTextCharFormat::NoUnderline; break;
    case Kw::UlDotted: chr.underline = on ? QTextCharFormat::DotLine : QTextCharFormat::NoUnderline; break;
    case Kw::UlDash: chr.underline = on ? QTextCharFormat::DashUnderline : QTextCharFormat::NoUnderline; break;
    case Kw::UlDashDot: chr.underline = on ? QTextCharFormat::DashDotLine : QTextCharFormat::NoUnderline; break;
    case Kw::UlDashDotDot: chr.underline = on ? QTextCharFormat::DashDotDotLine : QTextCharFormat::NoUnderline; break;
    case Kw::UlWave: chr.underline = on ? QTextCharFormat::WaveUnderline : QTextCharFormat::NoUnderline; break;
    case Kw::UlNone: chr.underline = QTextCharFormat::NoUnderline; break;
    case Kw::Fs: chr.halfPoints = (hasParam && param > 0) ? std::clamp(param, 2, 3276) : 24; break;
    case Kw::Cf: chr.foreground = std::max(param, 0); break;
    case Kw::Cb:
    case Kw::Highlight:
    case Kw::ChCbPat:
        chr.background = std::max(param, 0);
        break;
    case Kw::Super: chr.vertical = on ? QTextCharFormat::AlignSuperScript : QTextCharFormat::AlignNormal; break;
    case Kw::Sub: chr.vertical = on ? QTextCharFormat::AlignSubScript : QTextCharFormat::AlignNormal; break;
    // Raised or lowered by a distance (\up6, \dn2, as some word processors write superscript).
    case Kw::Up: chr.vertical = hasParam && param <= 0 ? QTextCharFormat::AlignNormal : QTextCharFormat::AlignSuperScript; break;
    case Kw::Dn: chr.vertical = hasParam && param <= 0 ? QTextCharFormat::AlignNormal : QTextCharFormat::AlignSubScript; break;
    case Kw::NoSuperSub: chr.vertical = QTextCharFormat::AlignNormal; break;
    default:
        break;
    }
}

} // namespace Rtf::detail
