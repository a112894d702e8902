// Character formats of the RTF reader: a run's character state (\f, \fs, \b, \plain ...)
// as a QTextCharFormat. Every run keeps the face and size its document gives it, the default
// font (\deff) and the default size included, so that saving it again keeps its look.

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

} // namespace Rtf::detail
