// Lists of the RTF reader: the list table (\listtable, \listoverridetable) and the old kind of
// numbering (\pn) become QTextLists. Each \ls and level, or old-style kind and level, is one
// list whose items go on counting through the document, tables included, until an item of a
// level above ends it (a numbered level then starts again with a new list, as word processors
// count). Lists Qt shows as the document does (a start of 1, one level's number, decimal,
// letters, roman or bullets) are plain QTextLists; the others show the word processor's own
// numbers (rtflisttext.h): a list's family, level text and number format go into its format,
// and an item whose \listtext or \pntext differs from what its list gives keeps that text. The
// same text in a paragraph outside any list stays as text.

#include "rtfparser_p.h"

#include "rtf.h"

#include <QTextList>

#include <algorithm>

namespace Rtf::detail {

void Parser::listWord(Kw kw, bool hasParam, int param)
{
    Group &group = top();
    const bool on = !hasParam || param != 0;
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
    case Kw::LevelNoRestart:
        if (group.dest == Dest::ListTable && !m_listDefs.isEmpty() && !m_listDefs.last().levels.isEmpty())
            m_listDefs.last().levels.last().noRestart = on;
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
    case Kw::PnPrev: para.pn.previous = on; break;
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
    case Kw::PnTxtA:
    case Kw::PnTxtB:
        if (group.dest != Dest::Pn) {
            skipGroup();
            return;
        }
        group.dest = kw == Kw::PnTxtA ? Dest::PnAfter : Dest::PnBefore;
        group.role = Role::PnOwner;
        (kw == Kw::PnTxtA ? group.para.pn.after : group.para.pn.before) = -1;
        m_pnText.clear();
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

namespace {

bool isBullet(int nfc)
{
    return nfc == 23 || nfc == 255;
}

bool isBulletStyle(int style)
{
    return style == QTextListFormat::ListDisc || style == QTextListFormat::ListCircle
           || style == QTextListFormat::ListSquare;
}

// Text as a level text of rtf.h has it: '%' doubled.
QString escapedLevelText(const QString &text)
{
    QString escaped = text;
    escaped.replace(u'%', QLatin1String("%%"));
    return escaped;
}

// A \leveltext as rtf.h has it ("%1.%2."): its first character counts the characters that
// follow, \'00..\'08 stand for the numbers of levels 1 to 9.
QString levelText(const QString &text, int level)
{
    if (text.isEmpty())
        return u'%' + QString::number(level + 1) + u'.';
    QString body = text.mid(1);
    if (text.at(0).unicode() <= body.size())
        body.truncate(text.at(0).unicode());
    else
        body.remove(u';');
    QString result;
    for (QChar ch : std::as_const(body)) {
        if (ch.unicode() < 9)
            result += u'%' + QString::number(ch.unicode() + 1);
        else if (ch == u'%')
            result += QLatin1String("%%");
        else if (ch.unicode() >= 0x20)
            result += ch;
    }
    return result;
}

// Whether Qt's list shows a level's numbers as the document does: a start of 1 (bullets have
// none), a number format of Qt's, and a text with the level's own number and no other.
bool qtShowsLevel(const ListLevelDef &level, int index)
{
    if (isBullet(level.nfc))
        return true;
    if (level.nfc < 0 || level.nfc > 4 || level.start != 1)
        return false;
    if (level.text.isEmpty())
        return true;
    int placeholders = 0;
    for (qsizetype i = 1; i < level.text.size(); ++i) {
        const char16_t unit = level.text.at(i).unicode();
        if (unit < 9 && (unit != index || ++placeholders > 1))
            return false;
    }
    return placeholders == 1;
}

} // namespace

// An item ends the counting of the numbered levels below its own: their next items start a
// list of their own (unless their level counts on, \levelnorestart).
void Parser::restartLevelsBelow(const ParaState &para)
{
    if (para.ls >= 0 && m_overrides.contains(para.ls)) {
        const ListDef &def = m_listDefs.at(m_overrides.value(para.ls));
        for (int below = para.ilvl + 1; below < 9; ++below) {
            const ListLevelDef *level = below < def.levels.size() ? &def.levels.at(below) : nullptr;
            if (!level || (!isBullet(level->nfc) && !level->noRestart))
                m_lists.remove(((para.ls & 0xffffff) << 4) | below);
        }
        return;
    }
    for (int style = QTextListFormat::ListDecimal; style >= QTextListFormat::ListUpperRoman; --style) {
        for (int below = para.pn.level + 1; below < 9; ++below)
            m_lists.remove(-(((-style) << 4) | below) - 1);
    }
}

QTextList *Parser::listFor(const ParaState &para)
{
    if (!hasList(para))
        return nullptr;
    const bool newStyle = para.ls >= 0 && m_overrides.contains(para.ls);
    const int key = newStyle ? ((para.ls & 0xffffff) << 4) | para.ilvl
                             : -(((-para.pn.style) << 4) | para.pn.level) - 1;
    restartLevelsBelow(para);
    QTextList *list = m_lists.value(key);
    if (!list) {
        if (m_lists.size() > 10000)
            return nullptr;
        list = m_cursor.createList(newListFormat(para));
        m_lists.insert(key, list);
    }
    if (!newStyle) {
        // The text of this level, for a level below that follows it (\pnprev).
        const QTextListFormat format = list->format();
        m_pnLevelTexts[para.pn.level] =
            isBulletStyle(format.style()) ? QString()
            : hasListItemTexts(format)
                ? format.stringProperty(ListLevelTextProperty)
                : escapedLevelText(format.numberPrefix()) + u'%' + QString::number(para.pn.level + 1)
                      + escapedLevelText(format.hasProperty(QTextFormat::ListNumberSuffix) ? format.numberSuffix()
                                                                                            : QStringLiteral("."));
    }
    return list;
}

QTextListFormat Parser::newListFormat(const ParaState &para)
{
    QTextListFormat format;
    int start = 1;
    if (para.ls >= 0 && m_overrides.contains(para.ls)) {
        ListDef &def = m_listDefs[m_overrides.value(para.ls)];
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
                // and the characters before it begin it, where it is the only one
                QString prefix = level.text.mid(1, last - 1);
                if (!prefix.isEmpty() && std::all_of(prefix.cbegin(), prefix.cend(), [](QChar ch) { return ch.unicode() >= 9; }))
                    format.setNumberPrefix(prefix.left(16));
            }
        }
        if (def.itemTexts < 0) {
            def.itemTexts = 0;
            for (int i = 0; i < def.levels.size(); ++i)
                def.itemTexts |= qtShowsLevel(def.levels.at(i), i) ? 0 : 1;
        }
        if (def.itemTexts) {
            // A list whose numbers Qt cannot show, or a level of its family.
            format.setProperty(ListFamilyProperty, para.ls);
            if (!qtShowsLevel(level, para.ilvl)) {
                format.setProperty(ListLevelTextProperty, levelText(level.text, para.ilvl));
                format.setProperty(ListNumberFormatProperty, level.nfc);
            }
        }
    } else {
        const PnState &pn = para.pn;
        const QString before = m_pnTexts.value(pn.before);
        const QString after = m_pnTexts.value(pn.after);
        format.setStyle(QTextListFormat::Style(pn.style));
        format.setIndent(pn.level + 1);
        start = pn.start;
        if (!before.isEmpty())
            format.setNumberPrefix(before.left(16));
        if (!after.isEmpty() && after != u'.')
            format.setNumberSuffix(after.left(16));
        if (!isBulletStyle(pn.style) && (start != 1 || pn.previous)) {
            // Old-style numbering Qt cannot show: its lists become a family.
            QString text = escapedLevelText(before) + u'%' + QString::number(pn.level + 1)
                           + escapedLevelText(after.isEmpty() ? QStringLiteral(".") : after);
            if (pn.previous && pn.level > 0)
                text.prepend(m_pnLevelTexts[pn.level - 1]);
            format.setProperty(ListNumberFormatProperty, listNumberFormat(format));
            format.setProperty(ListLevelTextProperty, text);
            if (!m_pnFamily) {
                m_pnFamily = true;
                for (auto it = m_lists.cbegin(); it != m_lists.cend(); ++it) {
                    if (it.key() < 0 && it.value()) {
                        QTextListFormat earlier = it.value()->format();
                        earlier.setProperty(ListFamilyProperty, -1);
                        it.value()->setFormat(earlier);
                    }
                }
            }
        }
        if (m_pnFamily)
            format.setProperty(ListFamilyProperty, -1);
    }
    if (start != 1)
        format.setProperty(detail::ListStartProperty, start);
    return format;
}

// Counts a list item of a family or of a list Qt cannot show, and keeps its list text where
// it differs from what its list gives.
void Parser::numberItem(QTextList *list)
{
    const QString shown = m_numbering.textOf(m_cursor.block());
    QString given;
    for (QChar ch : std::as_const(m_itemText)) {
        if (isPlainText(ch.unicode()))
            given.append(ch);
    }
    given = given.trimmed();
    if (given.isEmpty() || given == shown || !hasListItemTexts(list->format()))
        return;
    QTextBlockFormat format = m_cursor.blockFormat();
    format.setProperty(ListItemTextProperty, given.left(64));
    format.setProperty(ListItemIndexProperty, m_numbering.lastIndex());
    m_cursor.setBlockFormat(format);
}

void Parser::takeListText()
{
    QString text;
    std::swap(text, m_listText);
    if (hasList(top().para)) {
        m_itemText = text; // the list shows the number itself
        return;
    }
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
