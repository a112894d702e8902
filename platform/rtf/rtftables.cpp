// Tables of the RTF reader: rows of cells (\trowd ... \cellx, \cell, \row, nested tables)
// as QTextTables. Cells whose edges lie a few twips apart from row to row are one column, every
// cell's text goes into its cell once, and a table loads in time linear in its rows.

#include "rtf.h"
#include "rtfparser_p.h"

#include <QTextDocumentFragment>

#include <algorithm>

namespace Rtf::detail {

// ---------------------------------------------------------------------------------------------
// Tables: each paragraph's nesting (\intbl, \itap) says which table cell its text goes to.
// Cells are filled in order as their text arrives; a row's definition (\cellx edges, merges)
// arrives before the row (\trowd) or at its end (\nesttableprops) and is applied at \row.

void Parser::tableWord(Kw kw, bool hasParam, int param)
{
    Group &group = top();
    const bool on = !hasParam || param != 0;
    ParaState &para = group.para;
    switch (kw) {
    case Kw::InTbl: para.nest = std::max(para.nest, on ? 1 : 0); break;
    case Kw::Itap: para.nest = std::clamp(param, 0, 32); break;
    case Kw::Trowd:
        (group.nestedTableProps ? m_nestRowDef : m_rowDef) = RowDef();
        if (group.dest == Dest::Body && !group.nestedTableProps)
            m_looseRow = rowWithoutInTbl();
        break;
    case Kw::Cellx: {
        RowDef &def = group.nestedTableProps ? m_nestRowDef : m_rowDef;
        if (def.cells.size() < 256) {
            def.pending.right = param;
            def.cells.append(def.pending);
        }
        def.pending = CellDef();
        def.side = -1;
        break;
    }
    case Kw::ClMgf: (group.nestedTableProps ? m_nestRowDef : m_rowDef).pending.mergeFirst = true; break;
    case Kw::ClMrg: (group.nestedTableProps ? m_nestRowDef : m_rowDef).pending.merged = true; break;
    case Kw::ClVmgf: (group.nestedTableProps ? m_nestRowDef : m_rowDef).pending.vMergeFirst = true; break;
    case Kw::ClVmrg: (group.nestedTableProps ? m_nestRowDef : m_rowDef).pending.vMerged = true; break;
    case Kw::ClBrdrT:
    case Kw::ClBrdrL:
    case Kw::ClBrdrB:
    case Kw::ClBrdrR: {
        RowDef &def = group.nestedTableProps ? m_nestRowDef : m_rowDef;
        def.side = int(kw) - int(Kw::ClBrdrT);
        def.pending.borders[def.side] = CellBorder();
        def.pending.borders[def.side].present = true;
        break;
    }
    case Kw::OtherBrdr: (group.nestedTableProps ? m_nestRowDef : m_rowDef).side = -1; break;
    case Kw::BrdrNone:
    case Kw::BrdrSolid:
    case Kw::BrdrDouble:
    case Kw::BrdrDotted:
    case Kw::BrdrDashed:
    case Kw::BrdrDotDash:
    case Kw::BrdrDotDotDash:
    case Kw::BrdrGroove:
    case Kw::BrdrRidge:
    case Kw::BrdrInset:
    case Kw::BrdrOutset:
    case Kw::BrdrW:
    case Kw::BrdrCf: {
        RowDef &def = group.nestedTableProps ? m_nestRowDef : m_rowDef;
        if (def.side < 0)
            break;
        CellBorder &border = def.pending.borders[def.side];
        switch (kw) {
        case Kw::BrdrNone: border.present = false; break;
        case Kw::BrdrSolid: border.style = QTextFrameFormat::BorderStyle_Solid; break;
        case Kw::BrdrDouble: border.style = QTextFrameFormat::BorderStyle_Double; break;
        case Kw::BrdrDotted: border.style = QTextFrameFormat::BorderStyle_Dotted; break;
        case Kw::BrdrDashed: border.style = QTextFrameFormat::BorderStyle_Dashed; break;
        case Kw::BrdrDotDash: border.style = QTextFrameFormat::BorderStyle_DotDash; break;
        case Kw::BrdrDotDotDash: border.style = QTextFrameFormat::BorderStyle_DotDotDash; break;
        case Kw::BrdrGroove: border.style = QTextFrameFormat::BorderStyle_Groove; break;
        case Kw::BrdrRidge: border.style = QTextFrameFormat::BorderStyle_Ridge; break;
        case Kw::BrdrInset: border.style = QTextFrameFormat::BorderStyle_Inset; break;
        case Kw::BrdrOutset: border.style = QTextFrameFormat::BorderStyle_Outset; break;
        case Kw::BrdrW: border.width = std::clamp(param, 0, 1440); break;
        case Kw::BrdrCf: border.colour = std::max(param, 0); break;
        default: break;
        }
        break;
    }
    case Kw::ClCbPat: (group.nestedTableProps ? m_nestRowDef : m_rowDef).pending.shading = std::max(param, 0); break;
    case Kw::TrGaph: (group.nestedTableProps ? m_nestRowDef : m_rowDef).gap = std::clamp(param, 0, 31680); break;
    case Kw::TrLeft: (group.nestedTableProps ? m_nestRowDef : m_rowDef).left = std::clamp(param, -31680, 31680); break;

    case Kw::Row:
    case Kw::NestRow: {
        if (group.dest != Dest::Body && !group.nestedTableProps)
            break;
        const int level = kw == Kw::Row ? 1 : std::max(2, para.nest);
        if (kw == Kw::Row)
            m_looseRow = false;
        if (int(m_tables.size()) >= level) {
            endRow(level, kw == Kw::Row ? m_rowDef : m_nestRowDef);
            break;
        }
        // Cells without \intbl: a row is a paragraph, its cells' texts separated by tabs; a row
        // of empty cells (or one holding only a nested table) adds none.
        m_cells = 0;
        if (m_blockHasContent)
            endParagraph();
        break;
    }
    case Kw::Cell:
    case Kw::NestCell: {
        if (group.dest != Dest::Body)
            break;
        const int level = kw == Kw::Cell ? 1 : std::max(2, nestOf(para));
        if (nestOf(para) > 0 || int(m_tables.size()) >= level)
            endCell(level);
        else
            ++m_cells;
        break;
    }
    default:
        break;
    }
}

void Parser::placeCursor(int level)
{
    flushRun();
    level = std::clamp(level, 0, std::max(1, m_maxDepth / 4));
    while (int(m_tables.size()) > level)
        closeTable();
    while (int(m_tables.size()) < level)
        openTable();
    if (!m_tables.empty() && !m_tables.back().cellEntered)
        enterCell(m_tables.back());
}

void Parser::openTable()
{
    if (!m_tables.empty() && !m_tables.back().cellEntered)
        enterCell(m_tables.back());
    QTextTableFormat format;
    format.setBorder(0);
    format.setCellSpacing(0);
    format.setCellPadding(2);
    // The empty paragraph the table starts in stays after it; the one before it is ended by
    // the paragraph mark before the table, so an empty one there goes.
    // (Not after another table, nor at the start of a cell: the block before is in another frame.)
    // Right after a paragraph mark the table goes in at the end of the paragraph before it (the
    // paragraph the mark would have started comes after the table).
    const QTextBlock block = m_cursor.block();
    bool dropEmpty = !m_paragraphPending && block.length() == 1 && block.previous().isValid()
                     && block.position() != m_afterTable;
    m_paragraphPending = false;
    if (dropEmpty && !m_tables.empty()) {
        const OpenTable &outer = m_tables.back();
        dropEmpty = block.position() > outer.table->cellAt(outer.row, outer.col).firstPosition();
    }
    // The outermost table's row definition usually comes first: as many columns as it has
    // cells, and the widths and border its first row will give the table (set now, they need
    // no change of the table's format after that row).
    const int columns = m_tables.empty() ? int(std::clamp<qsizetype>(m_rowDef.cells.size(), 1, 64)) : 1;
    if (m_tables.empty() && !m_rowDef.cells.isEmpty()) {
        OpenTable first;
        first.origin = std::max(m_rowDef.left, 0);
        for (const CellDef &cell : rowCells(m_rowDef, first.origin, columns)) {
            first.grid.append(cell.right);
            if (!first.border)
                takeTableBorder(first, cell);
        }
        format = tableFormat(format, first, m_rowDef);
    }
    OpenTable open;
    open.table = m_cursor.insertTable(1, columns, format);
    m_tables.push_back(open);
    if (dropEmpty) {
        QTextCursor empty(m_doc);
        empty.setPosition(open.table->firstPosition() - 1);
        if (empty.block().length() == 1)
            empty.deletePreviousChar();
    }
}

void Parser::closeTable()
{
    startPendingParagraph();
    OpenTable &open = m_tables.back();
    if (open.rowOpen && open.col > 0)
        applyRow(open, m_tables.size() == 1 ? m_rowDef : m_nestRowDef);
    if (open.table->rows() > open.rowsUsed)
        open.table->removeRows(open.rowsUsed, open.table->rows() - open.rowsUsed);
    m_cursor = open.table->lastCursorPosition();
    m_cursor.movePosition(QTextCursor::NextBlock);
    m_afterTable = m_cursor.block().position();
    m_tables.pop_back();
    m_cells = 0;
}

void Parser::enterCell(OpenTable &open)
{
    startPendingParagraph();
    QTextTable *table = open.table;
    if (!open.rowOpen) {
        // Rows are added several at a time and the ones left over go when the table closes:
        // each change of a table's rows makes Qt go over all of its cells again.
        if (open.rowsUsed >= table->rows())
            table->appendRows(std::clamp(open.rowsUsed / 2, 1, 512));
        open.row = open.rowsUsed++;
        open.col = 0;
        open.rowOpen = true;
    }
    if (open.col >= table->columns())
        table->appendColumns(open.col - table->columns() + 1);
    m_cursor = table->cellAt(open.row, open.col).firstCursorPosition();
    open.cellEntered = true;
}

void Parser::endCell(int level)
{
    const Group &group = top();
    placeCursor(level);
    if (!m_listText.isEmpty())
        takeListText();
    flushRun();
    finishBlock(group.para, group.chr);
    OpenTable &open = m_tables.back();
    if (open.col < 1000)
        ++open.col;
    open.cellEntered = false;
    m_blockHasContent = false;
    m_afterParagraph = false;
    m_pageBreak = false;
}

// Some writers end a row's cells with \\cell but leave out \\intbl; word processors show such a
// row as a table all the same. Whether the row after \\trowd is one: a \\cell comes before any
// \\intbl, \\itap, \\row, \\trowd or \\sect (looked for within the next 64 KB, binary data ends the look).
bool Parser::rowWithoutInTbl() const
{
    const char *end = m_end - m_pos > 65536 ? m_pos + 65536 : m_end;
    for (const char *p = m_pos; p < end; ++p) {
        if (*p != '\\')
            continue;
        const char *word = ++p;
        while (p < end && ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')))
            ++p;
        const std::string_view name(word, size_t(p - word));
        if (name == "cell")
            return true;
        if (name == "intbl" || name == "itap" || name == "row" || name == "trowd" || name == "sect"
            || name == "nestcell" || name == "bin")
            return false;
        if (p == word) // an escaped symbol: \\\\, \\{, \\}, \\'
            continue;
        --p;
    }
    return false;
}

void Parser::endRow(int level, const RowDef &def)
{
    flushRun();
    startPendingParagraph();
    while (int(m_tables.size()) > level)
        closeTable();
    OpenTable &open = m_tables.back();
    if (open.rowOpen && open.col > 0)
        applyRow(open, def);
    else if (open.rowOpen && open.rowsUsed > 1) {
        open.table->removeRows(open.row, 1);
        open.rowsUsed = open.row;
    }
    open.rowOpen = false;
    open.cellEntered = false;
    open.col = 0;
    m_blockHasContent = false;
    m_afterParagraph = false;
}

void Parser::applyRow(OpenTable &open, const RowDef &def)
{
    QTextTable *table = open.table;
    const int row = open.row;
    const int count = std::min<int>(open.col, table->columns());
    open.rowOpen = false;
    // The table starts where its first row's \\trleft puts it; left of the margin (as word
    // processors put a table whose text lines up with the margin) it starts at the margin.
    if (open.grid.isEmpty())
        open.origin = std::max(def.left, 0);
    // The cells' right edges from the left margin.
    const QList<CellDef> cells = rowCells(def, open.origin, count);
    if (cells.isEmpty())
        return;
    QList<int> edges;
    for (const CellDef &cell : cells)
        edges.append(cell.right);
    snapToGrid(edges, open.grid);

    QList<int> firstColumn(count);
    QList<int> span(count, 1);
    bool gridChanged = false;
    if (open.grid.isEmpty() && table->columns() == count) {
        open.grid = edges;
        open.vMergeStart = QList<int>(count, -1);
        gridChanged = true;
        for (int i = 0; i < count; ++i)
            firstColumn[i] = i;
    } else if (open.grid == edges) {
        for (int i = 0; i < count; ++i)
            firstColumn[i] = i;
    } else {
        // Another layout than the rows before: take the cells' contents out, add the columns
        // this row's edges need, and put the contents back where the edges say.
        // The contents go back as fragments into a new row, and the old row goes after that.
        // A fragment does not carry its first paragraph's format, and a first paragraph in a
        // list arrives as a new paragraph after the cell's empty one; its list items arrive in
        // copies of their lists. All three are put right, so a list running on from rows
        // above keeps counting.
        struct Moved {
            QTextDocumentFragment contents;
            QTextBlockFormat firstFormat;
            QTextCharFormat firstCharFormat;
            bool listFirst = false;
            QList<QPointer<QTextList>> lists; // each paragraph's list
        };
        QList<Moved> moved(count);
        for (int i = 0; i < count; ++i) {
            const QTextTableCell cell = table->cellAt(row, i);
            QTextCursor selection = cell.firstCursorPosition();
            const QTextBlock first = selection.block();
            moved[i].firstFormat = first.blockFormat();
            moved[i].firstCharFormat = first.charFormat();
            moved[i].listFirst = first.textList() && first.length() > 1;
            for (const QTextBlock &block : blocksOf(cell))
                moved[i].lists.append(block.textList());
            selection.setPosition(cell.lastPosition(), QTextCursor::KeepAnchor);
            moved[i].contents = selection.selection();
        }
        if (!open.grid.isEmpty() && table->columns() > open.grid.size()) // added for this row's cells
            table->removeColumns(int(open.grid.size()), table->columns() - int(open.grid.size()));
        if (open.grid.isEmpty()) {
            for (int c = 0; c < table->columns(); ++c)
                open.grid.append(c < count ? edges.at(c) : edges.last() + 1440 * (c - count + 1));
            open.vMergeStart = QList<int>(open.grid.size(), -1);
        }
        for (int edge : std::as_const(edges)) {
            const auto at = std::lower_bound(open.grid.begin(), open.grid.end(), edge);
            if (at != open.grid.end() && *at == edge)
                continue;
            const int index = int(at - open.grid.begin());
            if (open.grid.size() >= 256)
                break;
            if (index >= table->columns()) {
                table->appendColumns(1);
            } else {
                // Column index splits in two at the new edge; the rows before keep one cell
                // across both halves.
                if (index + 1 >= table->columns())
                    table->appendColumns(1);
                else
                    table->insertColumns(index + 1, 1);
                for (int r = 0; r < row; ++r) {
                    const QTextTableCell cell = table->cellAt(r, index);
                    if (cell.row() == r && cell.column() + cell.columnSpan() - 1 == index)
                        table->mergeCells(r, cell.column(), cell.rowSpan(), cell.columnSpan() + 1);
                }
            }
            open.grid.insert(index, edge);
            open.vMergeStart.insert(index, -1);
        }
        table->insertRows(row + 1, 1);
        m_afterTable = -1; // positions have moved
        int column = 0;
        for (int i = 0; i < count; ++i) {
            const auto at = std::lower_bound(open.grid.begin(), open.grid.end(), edges.at(i));
            const int last = std::min(int(at - open.grid.begin()), table->columns() - 1);
            firstColumn[i] = std::min(column, last);
            span[i] = last - firstColumn[i] + 1;
            column = last + 1;
            const QTextTableCell target = table->cellAt(row + 1, firstColumn[i]);
            QTextCursor first = target.firstCursorPosition();
            first.insertFragment(moved.at(i).contents);
            first = target.firstCursorPosition();
            if (moved.at(i).listFirst) {
                // (the paragraph mark Qt puts before it carries the cell's mark, which a cursor
                // does not delete by itself, so it goes as a selection)
                if (first.block().length() == 1 && first.block().next().position() <= target.lastPosition()) {
                    first.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
                    first.removeSelectedText();
                }
            } else {
                first.setBlockFormat(moved.at(i).firstFormat);
                first.setBlockCharFormat(moved.at(i).firstCharFormat);
            }
            const QList<QTextBlock> blocks = blocksOf(target);
            if (blocks.size() == moved.at(i).lists.size()) {
                for (int b = 0; b < blocks.size(); ++b) {
                    QTextList *list = moved.at(i).lists.at(b);
                    if (list && blocks.at(b).textList() != list)
                        list->add(blocks.at(b));
                }
            }
        }
        // Emptied to plain paragraphs before it goes: a row removed with a list item in it
        // leaves that item's list and format to the cell above.
        for (int c = 0; c < table->columns(); ++c) {
            const QTextTableCell cell = table->cellAt(row, c);
            if (cell.row() != row || cell.column() != c)
                continue;
            QTextCursor selection = cell.firstCursorPosition();
            selection.setPosition(cell.lastPosition(), QTextCursor::KeepAnchor);
            selection.removeSelectedText();
            QTextBlock block = selection.block();
            if (QTextList *list = block.textList())
                list->remove(block);
            selection.setBlockFormat(QTextBlockFormat());
        }
        table->removeRows(row, 1);
        gridChanged = true;
        for (int i = 0; i < count; ++i) {
            if (span[i] > 1)
                table->mergeCells(row, firstColumn[i], 1, span[i]);
        }
    }

    // Merged cells: \clmgf starts a run of \clmrg cells; \clvmgf a column of \clvmrg cells.
    for (int i = 0; i < count; ++i) {
        const CellDef &cell = cells.at(i);
        if (cell.mergeFirst) {
            int last = i;
            while (last + 1 < count && cells.at(last + 1).merged)
                ++last;
            const int columns = firstColumn[last] + span[last] - firstColumn[i];
            if (columns > span[i]) {
                table->mergeCells(row, firstColumn[i], 1, columns);
                span[i] = columns;
            }
        }
        const int column = firstColumn[i];
        if (column >= open.vMergeStart.size())
            continue;
        if (cell.vMergeFirst) {
            open.vMergeStart[column] = row;
        } else if (cell.vMerged && open.vMergeStart[column] >= 0 && !cell.merged) {
            const int start = open.vMergeStart[column];
            table->mergeCells(start, column, row - start + 1, table->cellAt(start, column).columnSpan());
        } else if (!cell.merged) {
            open.vMergeStart[column] = -1;
        }
        if (!open.border)
            takeTableBorder(open, cell);
        const bool shaded = cell.shading > 0 && cell.shading < m_colours.size() && m_colours.at(cell.shading).isValid();
        const bool ownBorders = open.border && std::any_of(cell.borders.begin(), cell.borders.end(), [&](const CellBorder &side) {
            return !(side == open.tableBorder);
        });
        // A cell merged into the one before it or above it has that cell's format. A row's
        // cells start with the format of a cell of the row before, which may not fit.
        if (cell.merged || cell.vMerged || (!ownBorders && !shaded && !open.cellFormatted))
            continue;
        QTextTableCell target = table->cellAt(row, column);
        const QTextCharFormat current = target.format(); // also the font of an empty cell's paragraph mark
        if (current.propertyCount() <= 2) { // only the cell's object index and type
            target.setFormat(cellFormat(open, cell));
        } else {
            QTextCharFormat wanted = current;
            for (int property : kCellFormatProperties)
                wanted.clearProperty(property);
            wanted.merge(cellFormat(open, cell));
            if (wanted != current)
                target.setFormat(wanted);
        }
        open.cellFormatted = true;
    }

    if (gridChanged || (row == 0 && open.border)) {
        const QTextTableFormat format = tableFormat(table->format(), open, def);
        if (format != table->format())
            table->setFormat(format);
    }
    m_cursor = table->cellAt(row, table->columns() - 1).lastCursorPosition();
}

// Edges a few twips from a column edge of the rows before (as word processors write them
// routinely) are that edge: the cells stay in their columns, and a merge down a column goes on.
// The edges stay in order, each right of the one before.
void Parser::snapToGrid(QList<int> &edges, const QList<int> &grid)
{
    constexpr int kSameEdge = 30; // twips, half a millimetre
    if (grid.isEmpty())
        return;
    for (qsizetype i = 0; i < edges.size(); ++i) {
        const int edge = edges.at(i);
        // The nearest edge of the grid, within reach.
        auto at = std::lower_bound(grid.begin(), grid.end(), edge);
        if (at == grid.end() || (at != grid.begin() && edge - at[-1] < *at - edge))
            --at;
        if (std::abs(*at - edge) > kSameEdge)
            continue;
        const bool afterPrevious = i == 0 || *at > edges.at(i - 1);
        const bool beforeNext = i + 1 == edges.size() || *at < edges.at(i + 1);
        if (afterPrevious && beforeNext)
            edges[i] = *at;
    }
}

// The first count cells of a row as the table takes them: each right edge at least a twip
// right of the one before and none beyond 64 columns of 22 in. An edge is kept where it
// stands (not rebuilt from a clamped width), so a merged cell as wide as several columns
// still ends on the edge the rows above and below share. Cells beyond the definition get an
// inch each.
QList<CellDef> Parser::rowCells(const RowDef &def, int origin, int count)
{
    constexpr qint64 kRightmostEdge = qint64(31680) * 64;
    QList<CellDef> cells;
    for (int i = 0; i < count; ++i) {
        CellDef cell = i < def.cells.size() ? def.cells.at(i) : CellDef();
        const qint64 last = cells.isEmpty() ? origin : cells.last().right;
        const qint64 right = i < def.cells.size() ? qint64(cell.right) : last + 1440;
        cell.right = int(std::clamp<qint64>(right, last + 1, std::max(last + 1, kRightmostEdge)));
        cells.append(cell);
    }
    return cells;
}

// The paragraphs of a cell, nested tables' included, in order.
QList<QTextBlock> Parser::blocksOf(const QTextTableCell &cell)
{
    QList<QTextBlock> blocks;
    const int last = cell.lastPosition();
    for (QTextBlock block = cell.firstCursorPosition().block(); block.isValid() && block.position() <= last;
         block = block.next())
        blocks.append(block);
    return blocks;
}

// The table's border is the one its first bordered cell has most, so that cells bordered all
// round alike (as most word processors write them) need no format.
void Parser::takeTableBorder(OpenTable &open, const CellDef &cell)
{
    if (!cell.hasBorders())
        return;
    open.border = true;
    int most = 0;
    for (const CellBorder &side : cell.borders) {
        const int count = int(std::count(cell.borders.begin(), cell.borders.end(), side));
        if (side.present && count > most) {
            most = count;
            open.tableBorder = side;
        }
    }
}

// The table's indent, column widths, border and cell padding.
QTextTableFormat Parser::tableFormat(QTextTableFormat format, const OpenTable &open, const RowDef &def) const
{
    QList<QTextLength> widths;
    int left = open.origin;
    if (open.origin > 0)
        format.setLeftMargin(open.origin / 15.0);
    for (int edge : std::as_const(open.grid)) {
        widths.append(QTextLength(QTextLength::FixedLength, std::max(1, edge - left) / 15.0));
        left = edge;
    }
    format.setColumnWidthConstraints(widths);
    format.setProperty(detail::ColumnWidthsKeyProperty, int(qHashRange(open.grid.cbegin(), open.grid.cend())));
    const CellBorder &border = open.tableBorder;
    format.setBorder(!open.border ? 0 : border.width >= 0 ? border.width / 15.0 : 1.0);
    format.setBorderStyle(open.border ? border.style : QTextFrameFormat::BorderStyle_Solid);
    if (open.border)
        format.setBorderBrush(borderBrush(border));
    format.setBorderCollapse(true);
    if (def.gap > 0)
        format.setCellPadding(def.gap / 15.0);
    return format;
}

// A border's colour: 0 or none given is the automatic colour, black.
QBrush Parser::borderBrush(const CellBorder &border) const
{
    const bool coloured = border.colour > 0 && border.colour < m_colours.size() && m_colours.at(border.colour).isValid();
    return coloured ? QBrush(m_colours.at(border.colour)) : QBrush(Qt::black);
}

// A cell's shading and borders, side by side: a side without a border has none, even in a
// table with borders. Made once for each kind of cell of a table.
QTextTableCellFormat Parser::cellFormat(const OpenTable &open, const CellDef &cell)
{
    auto same = [&](const MadeCellFormat &made) {
        return made.cell.borders == cell.borders && made.cell.shading == cell.shading
               && made.tableBorder == open.tableBorder;
    };
    const auto found = std::find_if(m_cellFormats.cbegin(), m_cellFormats.cend(), same);
    if (found != m_cellFormats.cend())
        return found->format;

    QTextTableCellFormat format;
    if (cell.shading > 0 && cell.shading < m_colours.size() && m_colours.at(cell.shading).isValid())
        format.setBackground(m_colours.at(cell.shading));
    if (open.border && std::any_of(cell.borders.begin(), cell.borders.end(),
                                   [&](const CellBorder &side) { return !(side == open.tableBorder); })) {
        using Width = void (QTextTableCellFormat::*)(qreal);
        using Style = void (QTextTableCellFormat::*)(QTextFrameFormat::BorderStyle);
        using Brush = void (QTextTableCellFormat::*)(const QBrush &);
        static constexpr Width widths[] = {&QTextTableCellFormat::setTopBorder, &QTextTableCellFormat::setLeftBorder,
                                           &QTextTableCellFormat::setBottomBorder, &QTextTableCellFormat::setRightBorder};
        static constexpr Style styles[] = {
            &QTextTableCellFormat::setTopBorderStyle, &QTextTableCellFormat::setLeftBorderStyle,
            &QTextTableCellFormat::setBottomBorderStyle, &QTextTableCellFormat::setRightBorderStyle};
        static constexpr Brush brushes[] = {
            &QTextTableCellFormat::setTopBorderBrush, &QTextTableCellFormat::setLeftBorderBrush,
            &QTextTableCellFormat::setBottomBorderBrush, &QTextTableCellFormat::setRightBorderBrush};
        // Only what differs from the table's border: the rest follows it.
        const CellBorder &table = open.tableBorder;
        for (int side = 0; side < 4; ++side) {
            const CellBorder &border = cell.borders[side];
            if (!border.present) { // no width and no style: Qt draws a hairline for a width of 0
                (format.*widths[side])(0);
                (format.*styles[side])(QTextFrameFormat::BorderStyle_None);
                continue;
            }
            if (border.width != table.width)
                (format.*widths[side])(border.width >= 0 ? border.width / 15.0 : 1.0); // none given: a pixel
            if (border.style != table.style)
                (format.*styles[side])(border.style);
            if (borderBrush(border) != borderBrush(table))
                (format.*brushes[side])(borderBrush(border));
        }
    }
    if (m_cellFormats.size() < 256)
        m_cellFormats.append({open.tableBorder, cell, format});
    return format;
}

} // namespace Rtf::detail
