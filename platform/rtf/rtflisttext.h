#pragma once
// List item texts that Qt's own lists cannot show: a list starting at 3, outline numbers
// ("2.1.3."), number formats Qt lacks ("01", "1st"). The reader gives such a list a level text
// and number format (rtf.h, detail::ListLevelTextProperty), and its items a block format in
// which Qt draws no number of its own; the editor draws the texts these functions give in its
// place, the writer saves them with the list table, and plainText shows them. Lists Qt can show
// (a start of 1, one level, decimal, letters, roman or bullets) have none.
//
//     Rtf::ListNumbering numbering;                     // one pass over a document
//     for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
//         QString text = numbering.textOf(block);       // "2.1.", or empty where Qt shows it

#include <QHash>
#include <QString>

#include <array>

class QTextBlock;
class QTextList;
class QTextListFormat;

namespace Rtf {

// The text before a list item (without the tab after it) where its list is one that Qt cannot
// show; empty for any other paragraph (QTextList::itemText gives the number Qt shows). Counts the
// items before it; ListNumbering is the cheap way through a whole document.
QString listItemText(const QTextBlock &block);

// Whether the items of a list show listItemText rather than Qt's numbers.
bool hasListItemTexts(const QTextListFormat &format);

// A number in a word processor's number format (RTF \levelnfc, see ListNumberFormatProperty);
// formats without a number give no text, formats unknown here decimal digits.
QString formatListNumber(int number, int numberFormat);

// The number format of a list: its own, or the one of its Qt style.
int listNumberFormat(const QTextListFormat &format);

class ListNumbering
{
public:
    // The text before block, as listItemText gives it. Blocks come in document order; the
    // first may be any block of the document.
    QString textOf(const QTextBlock &block);
    // The place in its list (from 0) of the last list item textOf was given.
    int lastIndex() const { return m_lastIndex; }

private:
    struct Level
    {
        int number = 0;
        int format = 0;
        bool set = false;
    };
    using Levels = std::array<Level, 9>;
    static void seed(Levels &levels, const QTextBlock &block, int family, int level);

    QHash<const QTextList *, int> m_counts; // the place of each list's last item seen
    QHash<int, Levels> m_families;          // each family's numbers at its levels
    int m_lastIndex = -1;
};

} // namespace Rtf
