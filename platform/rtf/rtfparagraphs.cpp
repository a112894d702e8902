// Paragraphs of the RTF reader: a paragraph's words (\pard, alignment, indents, spacing, tab
// stops, \par, \page) and its way into the document. Text goes in by the run, a paragraph's
// formats are set only where they differ from the block's, the paragraph after a paragraph mark
// goes in with its first content, and the document ends as the last paragraph mark leaves it.

#include "rtfparser_p.h"

#include "rtf.h"

#include <QTextList>

#include <algorithm>

namespace Rtf::detail {

void Parser::paragraphWord(Kw kw, bool hasParam, int param)
{
    Group &group = top();
    const bool on = !hasParam || param != 0;
    ParaState &para = group.para;
    switch (kw) {
    case Kw::Pard:
        para = ParaState();
        m_tabType = 0;
        m_tabLeader = u' ';
        break;
    case Kw::Ql: para.alignment = Qt::AlignLeft; break;
    case Kw::Qc: para.alignment = Qt::AlignHCenter; break;
    case Kw::Qr: para.alignment = Qt::AlignRight; break;
    case Kw::Qj: para.alignment = Qt::AlignJustify; break;
    case Kw::Li: para.leftIndent = std::clamp(param, -31680, 31680); break;
    case Kw::Ri: para.rightIndent = std::clamp(param, -31680, 31680); break;
    case Kw::Fi: para.firstIndent = std::clamp(param, -31680, 31680); break;
    case Kw::Sb: para.spaceBefore = std::clamp(param, 0, 31680); break;
    case Kw::Sa: para.spaceAfter = std::clamp(param, 0, 31680); break;
    case Kw::PageBb: para.pageBreakBefore = on; break;
    case Kw::Sl:
        para.lineSpacing = std::clamp(param, -31680, 31680);
        break;
    case Kw::SlMult: para.lineMultiple = on; break;
    case Kw::Tqr: m_tabType = 1; break;
    case Kw::Tqc: m_tabType = 2; break;
    case Kw::Tqdec: m_tabType = 3; break;
    case Kw::TlDot: m_tabLeader = u'd'; break;
    case Kw::TlHyph: m_tabLeader = u'h'; break;
    case Kw::TlUl: m_tabLeader = u'u'; break;
    case Kw::TlTh: m_tabLeader = u't'; break;
    case Kw::TlEq: m_tabLeader = u'e'; break;
    case Kw::TlMdot: m_tabLeader = u'm'; break;
    case Kw::Tx:
    case Kw::Tb:
        if (para.tabs.size() < 64) {
            static constexpr QTextOption::TabType types[] = {QTextOption::LeftTab, QTextOption::RightTab,
                                                             QTextOption::CenterTab, QTextOption::DelimiterTab};
            const QTextOption::TabType type = kw == Kw::Tb ? QTextOption::LeftTab : types[m_tabType];
            para.tabs.append(QTextOption::Tab(std::clamp(param, 0, 31680) / 15.0, type,
                                              type == QTextOption::DelimiterTab ? QChar(u'.') : QChar()));
            para.leaders.append(m_tabLeader);
        }
        m_tabType = 0;
        m_tabLeader = u' ';
        break;

    case Kw::Par:
        if (group.dest == Dest::Body)
            endParagraph();
        break;
    case Kw::Page:
        if (group.dest == Dest::Body) {
            if (m_blockHasContent)
                endParagraph();
            m_pageBreak = true;
        }
        break;
    case Kw::Sect:
        if (group.dest == Dest::Body && m_blockHasContent)
            endParagraph();
        break;
    default:
        break;
    }
}

void Parser::bodyText(QStringView text)
{
    const Group &group = top();
    if (group.chr.hidden)
        return;
    m_shppictJustClosed = false;
    if (!m_run.isEmpty() && !(group.chr == m_runState))
        flushRun();
    if (nestOf(group.para) != int(m_tables.size()) || (!m_tables.empty() && !m_tables.back().cellEntered))
        placeCursor(nestOf(group.para));
    if (!m_listText.isEmpty())
        takeListText();
    m_runState = group.chr;
    const qsizetype before = m_run.size();
    if (m_cells > 0)
        pendingCells();
    // Plain characters go in by the stretch; control characters but tabs, and characters that
    // stand for objects or mark paragraphs, do not.
    const QChar *chunk = text.data();
    const QChar *const end = chunk + text.size();
    for (const QChar *at = chunk; at < end; ++at) {
        const char16_t unit = at->unicode();
        if (isPlainText(unit))
            continue;
        m_run.append(chunk, at - chunk);
        chunk = at + 1;
        if (unit == '\t')
            m_run.append(*at);
        else if (unit == 0x0B || unit == QChar::ParagraphSeparator)
            m_run.append(QChar(QChar::LineSeparator));
    }
    m_run.append(chunk, end - chunk);
    if (m_run.size() != before) {
        m_blockHasContent = true;
        m_afterParagraph = false;
    }
}

// A character that goes into the text as it is: not a control character, nor one that stands
// for an object or marks a paragraph, nor a noncharacter or byte-order mark.
bool Parser::isPlainText(char16_t unit)
{
    return unit >= 0x20 && unit != QChar::ObjectReplacementCharacter && unit != QChar::ByteOrderMark
           && unit < 0xFFFE && unit != QChar::ParagraphSeparator;
}

// The cells that ended since the last text of the row become tabs between the cells' texts.
void Parser::pendingCells()
{
    m_run.append(QString(m_cells, u'\t'));
    m_cells = 0;
}

QTextBlockFormat Parser::blockFormat(const ParaState &state) const
{
    QTextBlockFormat format;
    format.setAlignment(state.alignment);
    // A list item is indented by its list, and its number hangs in the list's indent.
    const bool listed = hasList(state);
    if (state.leftIndent && !listed)
        format.setLeftMargin(state.leftIndent / 15.0);
    if (state.rightIndent)
        format.setRightMargin(state.rightIndent / 15.0);
    if (state.firstIndent && !listed)
        format.setTextIndent(state.firstIndent / 15.0);
    if (state.lineSpacing < 0)
        format.setLineHeight(-state.lineSpacing / 15.0, QTextBlockFormat::FixedHeight);
    else if (state.lineSpacing > 0 && state.lineMultiple)
        format.setLineHeight(state.lineSpacing * 100.0 / 240.0, QTextBlockFormat::ProportionalHeight);
    else if (state.lineSpacing > 0)
        format.setLineHeight(state.lineSpacing / 15.0, QTextBlockFormat::MinimumHeight);
    if (!state.tabs.isEmpty()) {
        format.setTabPositions(state.tabs);
        if (state.leaders.count(u' ') != state.leaders.size())
            format.setProperty(detail::TabLeadersProperty, state.leaders);
    }
    if (state.spaceBefore)
        format.setTopMargin(state.spaceBefore / 15.0);
    if (state.spaceAfter)
        format.setBottomMargin(state.spaceAfter / 15.0);
    if (state.pageBreakBefore || m_pageBreak)
        format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    return format;
}

void Parser::flushRun()
{
    if (m_run.isEmpty())
        return;
    startPendingParagraph();
    m_cursor.insertText(m_run, charFormat(m_runState));
    m_run.resize(0);
}

void Parser::finishBlock(const ParaState &para, const CharState &chr)
{
    startPendingParagraph();
    // A block starts with the formats of the block before it, often the ones it needs: setting
    // a format costs far more than comparing it. The list goes in with the format (as
    // QTextList::add would, with one more change of the block).
    if (!madeBlockFormatFits(para)) {
        m_blockFormat = blockFormat(para);
        m_blockList = listFor(para);
        m_blockListNumbered = false;
        if (m_blockList) {
            m_blockFormat.setObjectIndex(m_blockList->objectIndex());
            const QTextListFormat listFormat = m_blockList->format();
            m_blockListNumbered = listFormat.hasProperty(ListFamilyProperty) || hasListItemTexts(listFormat);
            if (hasListItemTexts(listFormat))
                m_blockFormat.setProperty(QTextFormat::ListStyle, QTextListFormat::ListStyleUndefined);
        }
        m_blockState = para;
        m_blockPageBreak = m_pageBreak;
        m_blockFormatValid = true;
    }
    if (m_cursor.blockFormat() != m_blockFormat)
        m_cursor.setBlockFormat(m_blockFormat);
    if (m_blockList && m_blockListNumbered)
        numberItem(m_blockList);
    m_itemText.clear();
    // The paragraph mark's format shows only in an empty paragraph and in a list's number.
    if (!m_blockList && !m_cursor.atBlockStart())
        return;
    const QTextCharFormat blockChar = charFormat(chr);
    if (m_cursor.blockCharFormat() != blockChar)
        m_cursor.setBlockCharFormat(blockChar);
}

void Parser::endParagraph()
{
    resolveSurrogate();
    const Group &group = top();
    if (nestOf(group.para) != int(m_tables.size()) || (!m_tables.empty() && !m_tables.back().cellEntered))
        placeCursor(nestOf(group.para));
    if (!m_listText.isEmpty())
        takeListText();
    flushRun();
    finishBlock(group.para, group.chr);
    m_paragraphPending = true;
    m_pageBreak = false;
    m_cells = 0;
    m_blockHasContent = false;
    m_afterParagraph = true;
    m_shppictJustClosed = false;
    ++m_stats.paragraphs;
}

// The paragraph after a paragraph mark goes in when something goes into it or the cursor
// leaves it, with the formats its own paragraph words gave it by then (so it seldom needs a
// change of format after), and a table right after the mark goes in without it.
void Parser::startPendingParagraph()
{
    if (!m_paragraphPending)
        return;
    m_paragraphPending = false;
    if (m_stack.empty()) {
        m_cursor.insertBlock(m_blockFormat);
        return;
    }
    const Group &group = top();
    m_cursor.insertBlock(madeBlockFormatFits(group.para) ? m_blockFormat : blockFormat(group.para),
                         charFormat(group.chr));
}

// Whether the block format finishBlock made last (with its list) is the one for a paragraph.
bool Parser::madeBlockFormatFits(const ParaState &para) const
{
    return m_blockFormatValid && para == m_blockState && m_pageBreak == m_blockPageBreak
           && !(m_blockFormat.objectIndex() >= 0 && !m_blockList);
}

void Parser::finish()
{
    flushBytes();
    resolveSurrogate();
    flushRun();
    if (!m_tables.empty()) {
        // A table not ended by a paragraph after it: the document ends after the table.
        placeCursor(0);
        m_afterParagraph = false;
        return;
    }
    if (m_paragraphPending) {
        // The last paragraph mark ends the last paragraph; it does not start another one.
        m_paragraphPending = false;
        return;
    }
    if (m_afterParagraph) {
        QTextCursor previous = m_cursor;
        previous.movePosition(QTextCursor::PreviousCharacter);
        if (!previous.currentTable() || previous.currentTable() == m_cursor.currentTable())
            m_cursor.deletePreviousChar();
        return;
    }
    const ParaState para = m_stack.empty() ? m_finalPara : top().para;
    if (m_stack.empty()) {
        m_cursor.setBlockFormat(blockFormat(para));
        if (QTextList *list = listFor(para)) {
            list->add(m_cursor.block());
            if (hasListItemTexts(list->format())) {
                QTextBlockFormat format = m_cursor.blockFormat();
                format.setProperty(QTextFormat::ListStyle, QTextListFormat::ListStyleUndefined);
                m_cursor.setBlockFormat(format);
            }
            numberItem(list);
        }
    } else {
        finishBlock(para, top().chr);
    }
    ++m_stats.paragraphs;
}

} // namespace Rtf::detail
