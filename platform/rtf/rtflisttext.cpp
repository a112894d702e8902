// List item texts (rtflisttext.h): an item's number is its list's start plus its place in the
// list; the numbers of the levels above it are those of the last items at those levels of its
// family before it, as word processors count them (an item ends the counting of the levels
// below its own, whose next items start again). A level with no item before shows 1. A text the
// document gave an item is shown while the item keeps its place in its list.

#include "rtflisttext.h"

#include "rtf.h"

#include <QTextBlock>
#include <QTextList>

#include <algorithm>

namespace Rtf {

using namespace detail;

namespace {

QString roman(int number, bool upper)
{
    static constexpr std::pair<int, const char *> parts[] = {
        {1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"}, {50, "l"},
        {40, "xl"}, {10, "x"}, {9, "ix"}, {5, "v"}, {4, "iv"}, {1, "i"},
    };
    QString text;
    for (const auto &[value, letters] : parts) {
        for (; number >= value; number -= value)
            text += QLatin1String(letters);
    }
    return upper ? text.toUpper() : text;
}

// a..z, then aa..zz, aaa..zzz: letters as word processors count them.
QString letters(int number, bool upper)
{
    const QChar letter(char16_t((upper ? u'A' : u'a') + (number - 1) % 26));
    return QString((number - 1) / 26 + 1, letter);
}

QString ordinal(int number)
{
    const int lastTwo = std::abs(number) % 100;
    const char *suffix = "th";
    if (lastTwo < 11 || lastTwo > 13) {
        switch (lastTwo % 10) {
        case 1: suffix = "st"; break;
        case 2: suffix = "nd"; break;
        case 3: suffix = "rd"; break;
        default: break;
        }
    }
    return QString::number(number) + QLatin1String(suffix);
}

int levelOf(const QTextListFormat &format)
{
    return std::clamp(format.indent() - 1, 0, 8);
}

int startOf(const QTextListFormat &format)
{
    return format.hasProperty(ListStartProperty) ? format.intProperty(ListStartProperty) : 1;
}

bool inFamily(const QTextListFormat &format, int family)
{
    return format.hasProperty(ListFamilyProperty) && format.intProperty(ListFamilyProperty) == family;
}

} // namespace

QString formatListNumber(int number, int numberFormat)
{
    switch (numberFormat) {
    case 1:
    case 2:
        if (number > 0 && number < 4000)
            return roman(number, numberFormat == 1);
        break;
    case 3:
    case 4:
        if (number > 0 && number <= 26 * 100)
            return letters(number, numberFormat == 3);
        break;
    case 5: return ordinal(number);
    case 22:
        if (number >= 0 && number < 10)
            return u'0' + QString::number(number);
        break;
    case 23:
    case 255: return {};
    default: break;
    }
    return QString::number(number);
}

int listNumberFormat(const QTextListFormat &format)
{
    if (format.hasProperty(ListNumberFormatProperty))
        return format.intProperty(ListNumberFormatProperty);
    switch (format.style()) {
    case QTextListFormat::ListUpperRoman: return 1;
    case QTextListFormat::ListLowerRoman: return 2;
    case QTextListFormat::ListUpperAlpha: return 3;
    case QTextListFormat::ListLowerAlpha: return 4;
    case QTextListFormat::ListDisc:
    case QTextListFormat::ListCircle:
    case QTextListFormat::ListSquare: return 23;
    default: return 0;
    }
}

bool hasListItemTexts(const QTextListFormat &format)
{
    return format.hasProperty(ListLevelTextProperty);
}

QString listItemText(const QTextBlock &block)
{
    return ListNumbering().textOf(block);
}

// The numbers at the levels above level of the family's items before block: the last item at
// each level, where no item of a level above came after it.
void ListNumbering::seed(Levels &levels, const QTextBlock &block, int family, int level)
{
    int limit = level;
    for (QTextBlock before = block.previous(); before.isValid() && limit > 0; before = before.previous()) {
        const QTextList *list = before.textList();
        if (!list)
            continue;
        const QTextListFormat format = list->format();
        const int at = levelOf(format);
        if (at >= limit || !inFamily(format, family))
            continue;
        levels[at] = {startOf(format) + list->itemNumber(before), listNumberFormat(format), true};
        limit = at;
    }
}

QString ListNumbering::textOf(const QTextBlock &block)
{
    const QTextList *list = block.textList();
    if (!list)
        return {};
    const QTextListFormat format = list->format();
    const bool own = hasListItemTexts(format);
    const bool family = format.hasProperty(ListFamilyProperty);
    if (!own && !family)
        return {}; // Qt shows the list, and no list shows its numbers
    const auto counted = m_counts.constFind(list);
    const int index = counted == m_counts.constEnd() ? list->itemNumber(block) : *counted + 1;
    m_counts.insert(list, index);
    m_lastIndex = index;

    const int level = levelOf(format);
    Levels single{};
    Levels *levels = &single;
    if (family) {
        const int id = format.intProperty(ListFamilyProperty);
        auto found = m_families.find(id);
        if (found == m_families.end()) {
            found = m_families.insert(id, Levels{});
            seed(*found, block, id, level);
        }
        levels = &*found;
    }
    (*levels)[level] = {startOf(format) + index, listNumberFormat(format), true};
    for (int below = level + 1; below < int(levels->size()); ++below)
        (*levels)[below].set = false;
    if (!own)
        return {};

    const QTextBlockFormat blockFormat = block.blockFormat();
    if (blockFormat.hasProperty(ListItemTextProperty) && blockFormat.intProperty(ListItemIndexProperty) == index)
        return blockFormat.stringProperty(ListItemTextProperty);
    const QString pattern = format.stringProperty(ListLevelTextProperty);
    QString text;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar ch = pattern.at(i);
        if (ch != u'%' || i + 1 == pattern.size()) {
            text.append(ch);
            continue;
        }
        const QChar next = pattern.at(++i);
        if (next < u'1' || next > u'9') {
            text.append(next); // "%%"
            continue;
        }
        const Level &at = (*levels)[next.unicode() - u'1'];
        text += at.set ? formatListNumber(at.number, at.format) : QStringLiteral("1");
    }
    return text;
}

} // namespace Rtf
