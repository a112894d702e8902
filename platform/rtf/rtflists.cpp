// Lists of the RTF reader: the list table (\listtable, \listoverridetable) and the old kind of
// numbering (\pn) become QTextLists; each \ls and level, or old-style kind and level, is one
// list whose items go on counting through the document, tables included. A list item's own
// number text (\listtext, \pntext) is left to the list; the same text in a paragraph outside
// any list stays as text.

#include "rtfparser_p.h"

#include "rtf.h"

#include <QTextList>

#include <algorithm>

namespace Rtf::detail {

void Parser::listWord(Kw kw, int param)
{
    Group &group = top();
    ParaState &para = group.para;
    switch (kw) {
    case Kw::Ls:
        if (group.dest == Dest::ListOverrideTable)
            m_overrideLs = param;
        else
            para.ls = param >= 0 ? param : -1;
        break;
    case Kw::Ilvl: para.ilvl = std::clamp(param, 0, 8); break;
    case Kw::ListId:
        if (group.dest == Dest::ListTable && !m_listDefs.isEmpty()) {
            m_listDefs.last().id = param;
        } else if (group.dest == Dest::ListOverrideTable) {
            m_overrideList = -1;
            for (qsizetype i = 0; i < m_listDefs.size(); ++i) {
                if (m_listDefs.at(i).id == param)
                    m_overrideList = int(i);
            }
        }
        break;
    case Kw::LevelNfc:
        if (group.dest == Dest::ListTable && !m_listDefs.isEmpty() && !m_listDefs.last().levels.isEmpty())
            m_listDefs.last().levels.last().nfc = param;
        break;
    case Kw::LevelStartAt:
        if (group.dest == Dest::ListTable && !m_listDefs.isEmpty() && !m_listDefs.last().levels.isEmpty())
            m_listDefs.last().levels.last().start = std::clamp(param, 0, 32767);
        break;
    case Kw::PnLvlBlt:
        para.pn.style = QTextListFormat::ListDisc;
        para.pn.level = 0;
        break;
    case Kw::PnLvlBody:
        if (para.pn.style == 0 || para.pn.style == QTextListFormat::ListDisc)
            para.pn.style = QTextListFormat::ListDecimal;
        para.pn.level = 0;
        break;
    case Kw::PnLvl:
        if (para.pn.style == 0)
            para.pn.style = QTextListFormat::ListDecimal;
        para.pn.level = std::clamp(param - 1, 0, 8);
        break;
    case Kw::PnDec: para.pn.style = QTextListFormat::ListDecimal; break;
    case Kw::PnUcLtr: para.pn.style = QTextListFormat::ListUpperAlpha; break;
    case Kw::PnLcLtr: para.pn.style = QTextListFormat::ListLowerAlpha; break;
    case Kw::PnUcRm: para.pn.style = QTextListFormat::ListUpperRoman; break;
    case Kw::PnLcRm: para.pn.style = QTextListFormat::ListLowerRoman; break;
    case Kw::PnStart: para.pn.start = std::clamp(param, 0, 32767); break;
    default:
        break;
    }
}

void Parser::listDestination(Kw kw)
{
    Group &group = top();
    const bool body = group.dest == Dest::Body;
    switch (kw) {
    case Kw::ListTable:
        group.dest = Dest::ListTable;
        break;
    case Kw::List:
        if (group.dest != Dest::ListTable || m_listDefs.size() >= 10000) {
            skipGroup();
            return;
        }
        m_listDefs.append(ListDef());
        break;
    case Kw::ListLevel:
        if (group.dest != Dest::ListTable || m_listDefs.isEmpty() || m_listDefs.last().levels.size() >= 9) {
            skipGroup();
            return;
        }
        m_listDefs.last().levels.append(ListLevelDef());
        break;
    case Kw::LevelText:
        if (group.dest != Dest::ListTable || m_listDefs.isEmpty() || m_listDefs.last().levels.isEmpty()) {
            skipGroup();
            return;
        }
        group.dest = Dest::LevelText;
        break;
    case Kw::ListOverrideTable:
        group.dest = Dest::ListOverrideTable;
        break;
    case Kw::ListOverride:
        if (group.dest != Dest::ListOverrideTable) {
            skipGroup();
            return;
        }
        m_overrideLs = -1;
        m_overrideList = -1;
        group.role = Role::OverrideOwner; // committed when the group closes
        break;
    case Kw::Pn:
        if (!body) {
            skipGroup();
            return;
        }
        group.dest = Dest::Pn;
        group.role = Role::PnOwner;
        group.para.pn = PnState();
        group.para.pn.style = QTextListFormat::ListDecimal;
        break;
    case Kw::ListText:
    case Kw::PnText:
        if (body) {
            group.dest = Dest::ListText;
            m_listText.clear();
            m_listTextState = group.chr;
        }
        break;
    default:
        break;
    }
}

bool Parser::hasList(const ParaState &para) const
{
    return para.pn.style != 0 || (para.ls >= 0 && m_overrides.contains(para.ls));
}

QTextList *Parser::listFor(const ParaState &para)
{
    if (!hasList(para))
        return nullptr;
    const bool newStyle = para.ls >= 0 && m_overrides.contains(para.ls);
    const int key = newStyle ? ((para.ls & 0xffffff) << 4) | para.ilvl
                             : -(((-para.pn.style) << 4) | para.pn.level) - 1;
    if (QTextList *list = m_lists.value(key))
        return list;
    QTextListFormat format;
    int start = 1;
    if (newStyle) {
        const ListDef &def = m_listDefs.at(m_overrides.value(para.ls));
        const ListLevelDef level = para.ilvl < def.levels.size() ? def.levels.at(para.ilvl) : ListLevelDef();
        start = level.start;
        format.setIndent(para.ilvl + 1);
        switch (level.nfc) {
        case 1: format.setStyle(QTextListFormat::ListUpperRoman); break;
        case 2: format.setStyle(QTextListFormat::ListLowerRoman); break;
        case 3: format.setStyle(QTextListFormat::ListUpperAlpha); break;
        case 4: format.setStyle(QTextListFormat::ListLowerAlpha); break;
        case 23:
        case 255: {
            // The bullet's character says which of Qt's three bullets fits.
            const QString text = level.text.mid(1);
            if (text.contains(u'o') || text.contains(QChar(0x25E6)) || text.contains(QChar(0x25CB)))
                format.setStyle(QTextListFormat::ListCircle);
            else if (text.contains(QChar(0x25AA)) || text.contains(QChar(0x25A0)) || text.contains(QChar(0xA7)))
                format.setStyle(QTextListFormat::ListSquare);
            else
                format.setStyle(QTextListFormat::ListDisc);
            break;
        }
        default: format.setStyle(QTextListFormat::ListDecimal); break;
        }
        if (level.nfc != 23 && level.nfc != 255 && !level.text.isEmpty()) {
            // The characters after the last number placeholder (\'00..\'08) end the number.
            qsizetype last = -1;
            for (qsizetype i = 1; i < level.text.size(); ++i) {
                if (level.text.at(i).unicode() < 9)
                    last = i;
            }
            if (last > 0) {
                QString suffix = level.text.mid(last + 1);
                suffix.remove(u';');
                format.setNumberSuffix(suffix.left(16));
            }
        }
    } else {
        format.setStyle(QTextListFormat::Style(para.pn.style));
        format.setIndent(para.pn.level + 1);
        start = para.pn.start;
    }
    if (start != 1)
        format.setProperty(detail::ListStartProperty, start);
    if (m_lists.size() > 10000)
        return nullptr;
    QTextList *list = m_cursor.createList(format);
    m_lists.insert(key, list);
    return list;
}

void Parser::takeListText()
{
    QString text;
    std::swap(text, m_listText);
    if (hasList(top().para))
        return; // the list shows the number itself
    QString kept;
    for (QChar ch : std::as_const(text)) {
        if (isPlainText(ch.unicode()) || ch == u'\t')
            kept.append(ch);
    }
    if (kept.isEmpty())
        return;
    flushRun();
    startPendingParagraph();
    m_cursor.insertText(kept, charFormat(m_listTextState));
    m_blockHasContent = true;
    m_afterParagraph = false;
}

} // namespace Rtf::detail
