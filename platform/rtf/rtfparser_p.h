#pragma once
// The RTF reader's parser: its state and steps, shared by the units that read each part of
// the document (rtfreader.cpp: tokens and groups; rtfkeywords.cpp: control words;
// rtfdestinations.cpp: where text goes, code pages; rtfcharformat.cpp: character formats;
// rtfparagraphs.cpp: paragraphs; rtflists.cpp: lists; rtftables.cpp: tables; rtfobjects.cpp:
// pictures and shapes). Private to the engine.

#include "rtfcodepage.h"
#include "rtflisttext.h"
#include "rtfpicture.h"
#include "rtfreader.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextList>
#include <QTextTable>

#include <array>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Rtf::detail {

// ---------------------------------------------------------------------------------------------
// Control words

enum class Kw {
    Unknown,
    // document
    Ansi, Mac, Pc, Pca, AnsiCpg, Deff,
    // destinations
    FontTable, ColorTable, Field, FldInst, FldRslt, Pict, ShpPict, NonShpPict, Shp, ShpGrp,
    ShpInst, ShpTxt, ShpRslt, Sp, Sn, Sv, Upr, Ud, ListText, PnText, Object, Result,
    NestTableProps, ListTable, List, ListLevel, LevelText, ListOverrideTable, ListOverride, Pn, PnTxtA, PnTxtB,
    Footnote, HeaderFooter, Annotation, DrawingObject, SkipDestination,
    // font and colour tables
    F, FCharset, Cpg, Red, Green, Blue,
    // character formatting
    Plain, B, I, Caps, SmallCaps, Ul, UlDotted, UlDash, UlDashDot, UlDashDotDot, UlWave, UlNone, Strike, Fs,
    Cf, Cb, Highlight, ChCbPat, Super, Sub, Up, Dn, NoSuperSub, Hidden,
    // paragraph formatting and ends
    Pard, Ql, Qc, Qr, Qj, Li, Ri, Fi, Sb, Sa, PageBb, Sl, SlMult,
    Tx, Tb, Tqr, Tqc, Tqdec, TlDot, TlHyph, TlUl, TlTh, TlEq, TlMdot, Par, Page, Sect,
    // tables
    InTbl, Itap, Trowd, Cellx, ClMgf, ClMrg, ClVmgf, ClVmrg, TrGaph, TrLeft, ClBrdrT, ClBrdrL, ClBrdrB, ClBrdrR,
    OtherBrdr, BrdrNone, BrdrSolid, BrdrDouble, BrdrDotted, BrdrDashed, BrdrDotDash, BrdrDotDotDash,
    BrdrGroove, BrdrRidge, BrdrInset, BrdrOutset, BrdrW, BrdrCf, ClCbPat, Cell, NestCell, Row, NestRow,
    // lists
    Ls, Ilvl, ListId, LevelNfc, LevelStartAt, LevelNoRestart, PnLvlBlt, PnLvlBody, PnLvl, PnDec, PnUcLtr, PnLcLtr,
    PnUcRm, PnLcRm, PnPrev, PnStart,
    // text
    Line, Tab, U, Uc, Bin,
    EmDash, EnDash, EmSpace, EnSpace, QmSpace, Bullet, LQuote, RQuote, LDblQuote, RDblQuote,
    Zwj, Zwnj, LtrMark, RtlMark,
    // pictures
    PngBlip, JpegBlip, DiBitmap, WBitmap, WMetafile, EmfBlip, MacPict, PmMetafile,
    PicW, PicH, PicWGoal, PicHGoal, PicScaleX, PicScaleY, WbmBitsPixel, WbmPlanes, WbmWidthBytes,
};

inline bool isDestination(Kw kw)
{
    return kw >= Kw::FontTable && kw <= Kw::SkipDestination;
}

// The control words by name. Every control word of a document is looked up, and most documents
// are mostly control words, so the table is open addressing over a short hash of the name
// (cheaper than std::hash on names of a few letters), filled to well under half.
class KeywordTable
{
public:
    void add(std::string_view name, Kw kw)
    {
        size_t i = slot(hashed(name));
        while (!m_names[i].empty())
            i = (i + 1) & (kSize - 1);
        m_names[i] = name;
        m_kws[i] = kw;
        ++m_count;
        Q_ASSERT(m_count < kSize / 2);
    }

    // The hash of a name, a letter at a time, as the parser reads it.
    static constexpr quint32 kSeed = 2166136261u;
    static quint32 step(quint32 h, char c) { return (h ^ quint8(c)) * 16777619u; }

    Kw find(std::string_view name, quint32 h) const
    {
        for (size_t i = slot(h); !m_names[i].empty(); i = (i + 1) & (kSize - 1)) {
            if (m_names[i] == name)
                return m_kws[i];
        }
        return Kw::Unknown;
    }

private:
    static constexpr size_t kSize = 1024;

    static quint32 hashed(std::string_view name)
    {
        quint32 h = kSeed;
        for (char c : name)
            h = step(h, c);
        return h;
    }
    static size_t slot(quint32 h) { return (h ^ (h >> 15)) & (kSize - 1); }

    std::array<std::string_view, kSize> m_names{};
    std::array<Kw, kSize> m_kws{};
    size_t m_count = 0;
};

// The table of the control words the reader knows (rtfkeywords.cpp).
const KeywordTable &keywords();

inline bool isLetter(char c) { return unsigned((c | 0x20) - 'a') < 26u; }
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// ---------------------------------------------------------------------------------------------
// Reader state

enum class Dest : quint8 {
    Body,       // text of the document
    Discard,    // text dropped, nested destinations still read (shapes)
    FontTable,
    ColorTable,
    Picture,    // hexadecimal or \bin picture data
    FieldInst,  // a field's instruction (for hyperlinks)
    ShapeName,  // the name of a shape property
    Upr,        // \upr: only its \ud part counts
    UprPart,    // a group inside \upr, until it shows whether it is the \ud part
    ListTable,  // \listtable and its lists and levels
    LevelText,  // a list level's number text
    ListOverrideTable,
    ListText,   // \listtext, \pntext: a list item's number as text
    Pn,         // old-style numbering of a paragraph
    PnBefore,   // \pntxtb: old-style numbering's text before the number
    PnAfter,    // \pntxta: and after it
};

// PnOwner: a group whose old-style numbering goes to the group around it when it closes.
enum class Role : quint8 { None, PictureOwner, PictureGroup, Shppict, FontTableRoot, FontEntry, PnOwner, OverrideOwner };

struct CharState
{
    int font = -1;
    int halfPoints = 24;
    bool bold = false;
    bool italic = false;
    bool strike = false;
    bool hidden = false;
    QFont::Capitalization caps = QFont::MixedCase;
    QTextCharFormat::UnderlineStyle underline = QTextCharFormat::NoUnderline;
    QTextCharFormat::VerticalAlignment vertical = QTextCharFormat::AlignNormal;
    int foreground = 0;
    int background = 0;
    QString href;
    bool operator==(const CharState &) const = default;
};

// Old-style numbering (\pn): kind 0 none, else a QTextListFormat::Style.
struct PnState
{
    int style = 0;
    int level = 0;
    int start = 1;
    bool previous = false; // \pnprev: the number follows the level above's ("1.1.")
    // \pntxtb, \pntxta: indexes into Parser::m_pnTexts, -1 none (a group's state is copied for
    // every group, so it holds no strings of its own)
    int before = -1, after = -1;
    bool operator==(const PnState &) const = default;
};

struct ParaState
{
    Qt::Alignment alignment = Qt::AlignLeft;
    int leftIndent = 0, rightIndent = 0, firstIndent = 0, spaceBefore = 0, spaceAfter = 0;
    int lineSpacing = 0; // \sl: twips, negative for exactly, a multiple of 240 with \slmult
    bool lineMultiple = false;
    bool pageBreakBefore = false;
    int nest = 0;        // table nesting: 0 outside tables
    int ls = -1, ilvl = 0; // list override (0 is one too) and level; -1 none
    PnState pn;
    QList<QTextOption::Tab> tabs;
    QString leaders;     // one character per tab: ' ', or the leader's letter
    bool operator==(const ParaState &) const = default;
};

// A table row's definition: its cells' right edges and merges, as \trowd ... \cellx give them.
// One side of a cell's border (\\clbrdrt ... and the \\brdr words after it).
struct CellBorder
{
    bool present = false;
    int width = -1;   // twips; -1: not given
    int colour = -1;  // colour table index; -1: not given
    QTextFrameFormat::BorderStyle style = QTextFrameFormat::BorderStyle_Solid;
    bool operator==(const CellBorder &) const = default;
};

struct CellDef
{
    int right = 0;
    bool mergeFirst = false, merged = false, vMergeFirst = false, vMerged = false;
    std::array<CellBorder, 4> borders; // top, left, bottom, right
    int shading = -1;
    bool hasBorders() const
    {
        return std::any_of(borders.begin(), borders.end(), [](const CellBorder &b) { return b.present; });
    }
};

// The properties of a cell's format that its borders and shading set.
constexpr int kCellFormatProperties[] = {
    QTextFormat::BackgroundBrush,
    QTextFormat::TableCellTopBorder, QTextFormat::TableCellLeftBorder, QTextFormat::TableCellBottomBorder,
    QTextFormat::TableCellRightBorder, QTextFormat::TableCellTopBorderStyle, QTextFormat::TableCellLeftBorderStyle,
    QTextFormat::TableCellBottomBorderStyle, QTextFormat::TableCellRightBorderStyle,
    QTextFormat::TableCellTopBorderBrush, QTextFormat::TableCellLeftBorderBrush,
    QTextFormat::TableCellBottomBorderBrush, QTextFormat::TableCellRightBorderBrush,
};

struct RowDef
{
    QList<CellDef> cells;
    CellDef pending;
    int side = -1; // the side of pending's border that \\brdr words describe, or -1
    int left = 0;
    int gap = 0;
};

struct OpenTable
{
    QTextTable *table = nullptr;
    int row = 0;
    int rowsUsed = 1;         // the table's rows that rows of the document fill; the rest wait
    int col = 0;              // the cell being filled, as counted in the row's cells
    bool rowOpen = true;      // row exists in the table and is being filled
    bool cellEntered = true;  // the cursor is in that cell
    QList<int> grid;          // right edges of the columns, twips
    QList<int> vMergeStart;   // per column: the row a vertical merge started in, or -1
    bool border = false;
    CellBorder tableBorder;   // the border of the table and of cells without one of their own
    bool cellFormatted = false; // some cell has borders or shading of its own
    int origin = 0;           // twips from the margin to the table's left edge (\\trleft)
};

struct ListLevelDef
{
    int nfc = 0;
    int start = 1;
    bool noRestart = false; // \levelnorestart: items after an item of a level above count on
    QString text;           // \leveltext: its length, then text and level placeholders \'00..\'08
};

struct ListDef
{
    int id = 0;
    QList<ListLevelDef> levels;
    int itemTexts = -1; // whether a level has numbers Qt cannot show; -1 not known yet
};

struct Group
{
    Dest dest = Dest::Body;
    Dest outer = Dest::Body; // \upr: where its \ud part goes
    Role role = Role::None;
    bool inShape = false;      // inside a \shp whose surroundings are document text
    bool shapeHadInst = false; // this \shp group has had its \shpinst
    bool nestedTableProps = false; // \nesttableprops: its \nestrow ends a nested row
    int uc = 1;
    int field = -1;
    CharState chr;
    ParaState para;
};

struct FontInfo
{
    QString family;
    int codePage = 0; // 0: the document's; detail::SymbolCodePage: a symbol font
    SymbolFont symbol = SymbolFont::Other;
};

struct DecodeContext
{
    int codePage = 1252;
    SymbolFont symbol = SymbolFont::Other;
    bool isSymbol = false;
    bool operator==(const DecodeContext &) const = default;
};

// ---------------------------------------------------------------------------------------------

class Parser
{
public:
    Parser(const QByteArray &data, QTextDocument *doc, QTextCursor &cursor, qint64 imageBudget,
           int maxDepth, ReadStats &stats)
        : m_pos(data.constData()), m_end(data.constData() + data.size()), m_doc(doc),
          m_cursor(cursor), m_imageBudget(imageBudget), m_maxDepth(maxDepth), m_stats(stats)
    {
    }

    void run();

private:
    Group &top() { return m_stack.back(); }

    // tokens
    void openGroup();
    bool isGroupStart(const char *at) const;
    void closeGroup();
    void controlWord();
    void controlSymbol(char symbol);
    void hexByte();
    void text();
    void word(Kw kw, bool hasParam, int param);
    void destination(Kw kw);
    // the words of each part of the document, and destinations
    void fontTableWord(Kw kw, int param);
    void charWord(Kw kw, bool hasParam, int param);
    void paragraphWord(Kw kw, bool hasParam, int param);
    void tableWord(Kw kw, bool hasParam, int param);
    void listWord(Kw kw, bool hasParam, int param);
    void listDestination(Kw kw);
    void pictureWord(Kw kw, int param);
    void objectDestination(Kw kw);
    void pictureHex(const char *from, const char *to);
    void skipGroup();
    void skipGroupContent();
    void skipBinary(int count);

    // text on its way to the destination
    DecodeContext decodeContext();
    ByteDecoder &decoder(int codePage);
    void appendBytes(const char *bytes, qsizetype size);
    void flushBytes();
    void deliver(QStringView text);
    void deliverChar(char32_t ch);
    void unicode(int value);
    void resolveSurrogate();

    // the document
    void bodyText(QStringView text);
    void flushRun();
    void pendingCells();
    void endParagraph();
    void placeCursor(int level);
    void openTable();
    void closeTable();
    void enterCell(OpenTable &table);
    void endCell(int level);
    void endRow(int level, const RowDef &def);
    bool rowWithoutInTbl() const;
    // A paragraph's table nesting; the cells of a row without \\intbl are in the table too.
    int nestOf(const ParaState &para) const { return m_looseRow ? std::max(para.nest, 1) : para.nest; }
    void applyRow(OpenTable &open, const RowDef &def);
    QTextTableCellFormat cellFormat(const OpenTable &open, const CellDef &cell);
    static bool isPlainText(char16_t unit);
    void startPendingParagraph();
    bool madeBlockFormatFits(const ParaState &para) const;
    static void snapToGrid(QList<int> &edges, const QList<int> &grid);
    static QList<CellDef> rowCells(const RowDef &def, int origin, int count);
    static void takeTableBorder(OpenTable &open, const CellDef &cell);
    static QList<QTextBlock> blocksOf(const QTextTableCell &cell);
    QTextTableFormat tableFormat(QTextTableFormat format, const OpenTable &open, const RowDef &def) const;
    QBrush borderBrush(const CellBorder &border) const;
    void takeListText();
    QTextList *listFor(const ParaState &para);
    QTextListFormat newListFormat(const ParaState &para);
    void restartLevelsBelow(const ParaState &para);
    void numberItem(QTextList *list);
    bool hasList(const ParaState &para) const;
    void finishBlock(const ParaState &para, const CharState &chr);
    void finish();
    QTextCharFormat charFormat(const CharState &state);
    QTextBlockFormat blockFormat(const ParaState &state) const;
    void insertPicture();
    void commitFont();
    void commitColour();

    const char *m_pos;
    const char *m_end;
    QTextDocument *m_doc;
    QTextCursor &m_cursor;
    qint64 m_imageBudget;
    int m_maxDepth;
    ReadStats &m_stats;

    std::vector<Group> m_stack;
    bool m_done = false;
    bool m_ignorable = false; // the last token was \* at the start of its group
    const char *m_groupOpenedAt = nullptr; // just after the last '{'
    int m_ucSkip = 0;         // fallback characters after \uN still to skip
    char16_t m_highSurrogate = 0;

    int m_docCodePage = 1252;
    int m_defaultFont = -1;
    QHash<int, FontInfo> m_fonts;
    std::unordered_map<int, std::unique_ptr<ByteDecoder>> m_decoders;
    QList<QColor> m_colours;

    // font table entry being read
    int m_fontIndex = -1;
    int m_fontCharset = -1; // -1: not given
    int m_fontCodePage = 0;
    QString m_fontName;

    // colour table entry being read
    int m_red = 0, m_green = 0, m_blue = 0;
    bool m_colourSet = false;

    // bytes not yet decoded
    QByteArray m_bytes;
    DecodeContext m_bytesContext;
    QString m_decoded;

    // the run of text not yet inserted, and its formatting
    QString m_run;
    CharState m_runState;
    // The formats of the last few character states: runs of a paragraph often go back and
    // forth between a handful (plain, bold, italic, a colour).
    struct MadeCharFormat {
        CharState state;
        QTextCharFormat format;
    };
    std::array<MadeCharFormat, 8> m_formats;
    int m_formatCount = 0;
    int m_formatNext = 0;

    int m_cells = 0;              // cell ends since the last text of this row (outside tables)
    std::vector<OpenTable> m_tables; // the tables the cursor is in, outermost first
    struct MadeCellFormat
    {
        CellBorder tableBorder;
        CellDef cell;
        QTextTableCellFormat format;
    };
    QList<MadeCellFormat> m_cellFormats; // cells' borders and shading made so far
    RowDef m_rowDef;              // the outermost table's row
    RowDef m_nestRowDef;          // a nested table's row (\nesttableprops)
    int m_afterTable = -1;        // the position of the block after the table closed last
    bool m_looseRow = false;      // the row being read ends its cells with \\cell but has no \\intbl

    QList<ListDef> m_listDefs;
    QHash<int, int> m_overrides;  // \ls number -> index into m_listDefs
    int m_overrideLs = -1;        // \listoverride being read: its \ls
    int m_overrideList = -1;      // and its list
    QHash<int, QPointer<QTextList>> m_lists; // a list goes when its last item goes
    QString m_listText;           // \listtext or \pntext waiting for its paragraph
    CharState m_listTextState;
    QString m_itemText;           // the list text of the list item being read
    ListNumbering m_numbering;    // the list texts the document's lists give their items
    std::array<QString, 9> m_pnLevelTexts; // old-style numbering: each level's text, as rtf.h has it
    QStringList m_pnTexts;        // the texts before and after old-style numbers
    QString m_pnText;             // the \pntxtb or \pntxta being read
    bool m_pnFamily = false;      // old-style lists form a family, one of them shows "1.1."
    int m_tabType = 0;            // 0 left, 1 right, 2 centre, 3 decimal: for the next \tx
    QChar m_tabLeader = u' ';
    bool m_blockHasContent = false;
    bool m_afterParagraph = false; // nothing was added since the last paragraph end
    bool m_paragraphPending = false; // a paragraph mark was read; the next paragraph is not in yet
    bool m_pageBreak = false;      // the next paragraph starts a page
    // The block format finishBlock made last, with its list, for the next paragraph like it.
    ParaState m_blockState;
    bool m_blockPageBreak = false;
    QTextBlockFormat m_blockFormat;
    QPointer<QTextList> m_blockList;
    bool m_blockListNumbered = false; // m_blockList's items are counted (ListNumbering)
    bool m_blockFormatValid = false;
    ParaState m_finalPara;

    QStringList m_fieldInstructions;
    QString m_shapeName;
    bool m_shppictJustClosed = false;

    detail::Picture m_picture;
    int m_pictureNibble = -1;
};

} // namespace Rtf::detail
