#include "rtfreader.h"

#include "rtf.h"
#include "rtfcodepage.h"
#include "rtfpicture.h"

#include <QColor>
#include <QHash>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>

#include <algorithm>
#include <climits>
#include <memory>
#include <string_view>
#include <unordered_map>

namespace Rtf {

namespace {

using detail::ByteDecoder;
using detail::SymbolFont;

// ---------------------------------------------------------------------------------------------
// Control words

enum class Kw {
    Unknown,
    // document
    Ansi, Mac, Pc, Pca, AnsiCpg, Deff,
    // destinations
    FontTable, ColorTable, Field, FldInst, FldRslt, Pict, ShpPict, NonShpPict, Shp, ShpGrp,
    ShpInst, ShpTxt, ShpRslt, Sp, Sn, Sv, Upr, Ud, ListText, PnText, Object, Result,
    NestTableProps, SkipDestination,
    // font and colour tables
    F, FCharset, Cpg, Red, Green, Blue,
    // character formatting
    Plain, B, I, Ul, UlDotted, UlDash, UlDashDot, UlDashDotDot, UlWave, UlNone, Strike, Fs,
    Cf, Cb, Highlight, ChCbPat, Super, Sub, NoSuperSub, Hidden,
    // paragraph formatting
    Pard, Ql, Qc, Qr, Qj, Li, Ri, Fi, Sb, Sa, PageBb,
    // text
    Par, Line, Tab, Cell, NestCell, Row, NestRow, Page, Sect, U, Uc, Bin,
    EmDash, EnDash, EmSpace, EnSpace, QmSpace, Bullet, LQuote, RQuote, LDblQuote, RDblQuote,
    Zwj, Zwnj, LtrMark, RtlMark,
    // pictures
    PngBlip, JpegBlip, DiBitmap, WBitmap, WMetafile, EmfBlip, MacPict, PmMetafile,
    PicW, PicH, PicWGoal, PicHGoal, PicScaleX, PicScaleY, WbmBitsPixel, WbmPlanes, WbmWidthBytes,
};

const std::unordered_map<std::string_view, Kw> &keywords()
{
    static const std::unordered_map<std::string_view, Kw> table = [] {
        std::unordered_map<std::string_view, Kw> t;
        auto add = [&t](std::initializer_list<std::string_view> names, Kw kw) {
            for (auto name : names)
                t.emplace(name, kw);
        };
        add({"ansi"}, Kw::Ansi);
        add({"mac"}, Kw::Mac);
        add({"pc"}, Kw::Pc);
        add({"pca"}, Kw::Pca);
        add({"ansicpg"}, Kw::AnsiCpg);
        add({"deff"}, Kw::Deff);
        add({"fonttbl"}, Kw::FontTable);
        add({"colortbl"}, Kw::ColorTable);
        add({"field"}, Kw::Field);
        add({"fldinst"}, Kw::FldInst);
        add({"fldrslt"}, Kw::FldRslt);
        add({"pict"}, Kw::Pict);
        add({"shppict"}, Kw::ShpPict);
        add({"nonshppict"}, Kw::NonShpPict);
        add({"shp"}, Kw::Shp);
        add({"shpgrp"}, Kw::ShpGrp);
        add({"shpinst"}, Kw::ShpInst);
        add({"shptxt"}, Kw::ShpTxt);
        add({"shprslt"}, Kw::ShpRslt);
        add({"sp"}, Kw::Sp);
        add({"sn"}, Kw::Sn);
        add({"sv"}, Kw::Sv);
        add({"upr"}, Kw::Upr);
        add({"ud"}, Kw::Ud);
        add({"listtext"}, Kw::ListText);
        add({"pntext"}, Kw::PnText);
        add({"object"}, Kw::Object);
        add({"result"}, Kw::Result);
        add({"nesttableprops"}, Kw::NestTableProps);
        // Destinations whose text is not part of the document, written with or without \*.
        add({"stylesheet", "info", "header", "headerl", "headerr", "headerf", "footer", "footerl",
             "footerr", "footerf", "footnote", "annotation", "pn", "pntxta", "pntxtb",
             "listtable", "listoverridetable", "revtbl", "rsidtbl", "filetbl", "pgdsctbl",
             "template", "xe", "tc", "txe", "rxe", "userprops", "docvar", "comment", "author",
             "operator", "title", "subject", "keywords", "doccomm", "company", "bkmkstart",
             "bkmkend", "atnid", "atnauthor", "atndate", "atnref", "atrfstart", "atrfend",
             "ftnsep", "ftnsepc", "ftncn", "aftnsep", "aftnsepc", "aftncn", "themedata",
             "colorschememapping", "datastore", "latentstyles", "xmlnstbl", "generator",
             "objdata", "objclass", "objname", "nonesttables", "fldtype", "formfield",
             "listpicture", "do", "picprop", "blipuid", "panose", "falt", "fname", "leveltext",
             "levelnumbers", "listname", "mmathPr", "background", "private", "pgptbl",
             "protusertbl", "wgrffmtfilter", "passwordhash", "defchp", "defpap",
             "hlinkbase", "buptim", "creatim", "printim", "revtim"},
            Kw::SkipDestination);
        add({"f"}, Kw::F);
        add({"fcharset"}, Kw::FCharset);
        add({"cpg"}, Kw::Cpg);
        add({"red"}, Kw::Red);
        add({"green"}, Kw::Green);
        add({"blue"}, Kw::Blue);
        add({"plain"}, Kw::Plain);
        add({"b"}, Kw::B);
        add({"i"}, Kw::I);
        add({"ul", "ulw", "uldb", "ulth"}, Kw::Ul);
        add({"uld", "ulthd"}, Kw::UlDotted);
        add({"uldash", "ulthdash", "ulldash", "ulthldash"}, Kw::UlDash);
        add({"uldashd", "ulthdashd"}, Kw::UlDashDot);
        add({"uldashdd", "ulthdashdd"}, Kw::UlDashDotDot);
        add({"ulwave", "ulhwave", "ululdbwave"}, Kw::UlWave);
        add({"ulnone"}, Kw::UlNone);
        add({"strike", "striked"}, Kw::Strike);
        add({"fs"}, Kw::Fs);
        add({"cf"}, Kw::Cf);
        add({"cb"}, Kw::Cb);
        add({"highlight"}, Kw::Highlight);
        add({"chcbpat"}, Kw::ChCbPat);
        add({"super"}, Kw::Super);
        add({"sub"}, Kw::Sub);
        add({"nosupersub"}, Kw::NoSuperSub);
        add({"v"}, Kw::Hidden);
        add({"pard"}, Kw::Pard);
        add({"ql"}, Kw::Ql);
        add({"qc"}, Kw::Qc);
        add({"qr"}, Kw::Qr);
        add({"qj", "qd"}, Kw::Qj);
        add({"li", "lin"}, Kw::Li);
        add({"ri", "rin"}, Kw::Ri);
        add({"fi"}, Kw::Fi);
        add({"sb"}, Kw::Sb);
        add({"sa"}, Kw::Sa);
        add({"pagebb"}, Kw::PageBb);
        add({"par"}, Kw::Par);
        add({"line"}, Kw::Line);
        add({"tab"}, Kw::Tab);
        add({"cell"}, Kw::Cell);
        add({"nestcell"}, Kw::NestCell);
        add({"row"}, Kw::Row);
        add({"nestrow"}, Kw::NestRow);
        add({"page"}, Kw::Page);
        add({"sect"}, Kw::Sect);
        add({"u"}, Kw::U);
        add({"uc"}, Kw::Uc);
        add({"bin"}, Kw::Bin);
        add({"emdash"}, Kw::EmDash);
        add({"endash"}, Kw::EnDash);
        add({"emspace"}, Kw::EmSpace);
        add({"enspace"}, Kw::EnSpace);
        add({"qmspace"}, Kw::QmSpace);
        add({"bullet"}, Kw::Bullet);
        add({"lquote"}, Kw::LQuote);
        add({"rquote"}, Kw::RQuote);
        add({"ldblquote"}, Kw::LDblQuote);
        add({"rdblquote"}, Kw::RDblQuote);
        add({"zwj"}, Kw::Zwj);
        add({"zwnj"}, Kw::Zwnj);
        add({"ltrmark"}, Kw::LtrMark);
        add({"rtlmark"}, Kw::RtlMark);
        add({"pngblip"}, Kw::PngBlip);
        add({"jpegblip"}, Kw::JpegBlip);
        add({"dibitmap"}, Kw::DiBitmap);
        add({"wbitmap"}, Kw::WBitmap);
        add({"wmetafile"}, Kw::WMetafile);
        add({"emfblip"}, Kw::EmfBlip);
        add({"macpict"}, Kw::MacPict);
        add({"pmmetafile"}, Kw::PmMetafile);
        add({"picw"}, Kw::PicW);
        add({"pich"}, Kw::PicH);
        add({"picwgoal"}, Kw::PicWGoal);
        add({"pichgoal"}, Kw::PicHGoal);
        add({"picscalex"}, Kw::PicScaleX);
        add({"picscaley"}, Kw::PicScaleY);
        add({"wbmbitspixel"}, Kw::WbmBitsPixel);
        add({"wbmplanes"}, Kw::WbmPlanes);
        add({"wbmwidthbytes"}, Kw::WbmWidthBytes);
        return t;
    }();
    return table;
}

Kw lookup(std::string_view name)
{
    const auto &table = keywords();
    const auto it = table.find(name);
    return it == table.end() ? Kw::Unknown : it->second;
}

bool isDestination(Kw kw)
{
    return kw >= Kw::FontTable && kw <= Kw::SkipDestination;
}

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c)
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
};

enum class Role : quint8 { None, PictureOwner, Shppict, FontTableRoot, FontEntry };

struct CharState
{
    int font = -1;
    int halfPoints = 24;
    bool bold = false;
    bool italic = false;
    bool strike = false;
    bool hidden = false;
    QTextCharFormat::UnderlineStyle underline = QTextCharFormat::NoUnderline;
    QTextCharFormat::VerticalAlignment vertical = QTextCharFormat::AlignNormal;
    int foreground = 0;
    int background = 0;
    QString href;
    bool operator==(const CharState &) const = default;
};

struct ParaState
{
    Qt::Alignment alignment = Qt::AlignLeft;
    int leftIndent = 0, rightIndent = 0, firstIndent = 0, spaceBefore = 0, spaceAfter = 0;
    bool pageBreakBefore = false;
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
    void closeGroup();
    void controlWord();
    void controlSymbol(char symbol);
    void hexByte();
    void text();
    void word(Kw kw, bool hasParam, int param);
    void destination(Kw kw);
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
    bool m_ignorable = false; // the last token was \*
    int m_ucSkip = 0;         // fallback characters after \uN still to skip
    char16_t m_highSurrogate = 0;

    int m_docCodePage = 1252;
    int m_defaultFont = -1;
    QHash<int, FontInfo> m_fonts;
    std::unordered_map<int, std::unique_ptr<ByteDecoder>> m_decoders;
    QList<QColor> m_colours;

    // font table entry being read
    int m_fontIndex = -1;
    int m_fontCharset = 0;
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
    CharState m_formatState;
    QTextCharFormat m_format;
    bool m_formatValid = false;

    int m_cells = 0;              // cell ends since the last text of this row
    bool m_blockHasContent = false;
    bool m_afterParagraph = false; // nothing was added since the last paragraph end
    bool m_pageBreak = false;      // the next paragraph starts a page
    ParaState m_finalPara;

    QStringList m_fieldInstructions;
    QString m_shapeName;
    bool m_shppictJustClosed = false;

    detail::Picture m_picture;
    int m_pictureNibble = -1;
};

void Parser::run()
{
    m_stack.reserve(64);
    while (m_pos < m_end && !m_done) {
        switch (*m_pos) {
        case '{':
            ++m_pos;
            openGroup();
            break;
        case '}':
            ++m_pos;
            closeGroup();
            break;
        case '\\':
            controlWord();
            break;
        case '\r':
        case '\n':
            ++m_pos;
            break;
        default:
            text();
            break;
        }
    }
    finish();
}

void Parser::openGroup()
{
    m_ignorable = false;
    flushBytes();
    m_ucSkip = 0;
    if (m_stack.empty()) {
        m_stack.emplace_back();
        return;
    }
    if (int(m_stack.size()) >= m_maxDepth) {
        ++m_stats.groupsLeftOut;
        skipGroupContent();
        return;
    }
    Group child = top();
    child.role = Role::None;
    child.shapeHadInst = false;
    switch (child.dest) {
    case Dest::Picture: child.dest = Dest::Discard; break;
    case Dest::Upr: child.dest = Dest::UprPart; break;
    case Dest::FontTable: child.role = Role::FontEntry; break;
    default: break;
    }
    m_stack.push_back(std::move(child));
}

void Parser::closeGroup()
{
    m_ignorable = false;
    flushBytes();
    m_ucSkip = 0;
    if (m_stack.empty())
        return;
    const Role role = top().role;
    if (role == Role::FontEntry || role == Role::FontTableRoot)
        commitFont();
    if (m_stack.size() == 1) {
        resolveSurrogate();
        m_finalPara = top().para;
    }
    m_stack.pop_back();
    if (role == Role::PictureOwner && !m_stack.empty())
        insertPicture();
    if (role == Role::Shppict)
        m_shppictJustClosed = true;
    if (m_stack.empty())
        m_done = true;
}

void Parser::skipGroupContent()
{
    int depth = 1;
    while (m_pos < m_end) {
        const char c = *m_pos++;
        if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (--depth == 0)
                return;
        } else if (c == '\\' && m_pos < m_end) {
            if (!isLetter(*m_pos)) {
                ++m_pos; // \{ \} \\ \'hh and the other control symbols
                continue;
            }
            const char *name = m_pos;
            while (m_pos < m_end && isLetter(*m_pos))
                ++m_pos;
            const bool isBin = m_pos - name == 3 && std::string_view(name, 3) == "bin";
            if (m_pos < m_end && *m_pos == '-')
                ++m_pos;
            qint64 value = 0;
            int digits = 0;
            while (m_pos < m_end && isDigit(*m_pos)) {
                if (++digits <= 10)
                    value = value * 10 + (*m_pos - '0');
                ++m_pos;
            }
            if (m_pos < m_end && *m_pos == ' ')
                ++m_pos;
            if (isBin)
                m_pos += std::min<qint64>(value, m_end - m_pos);
        }
    }
}

void Parser::skipGroup()
{
    skipGroupContent();
    if (m_stack.size() == 1)
        m_finalPara = top().para;
    m_stack.pop_back();
    if (m_stack.empty())
        m_done = true;
}

void Parser::skipBinary(int count)
{
    m_pos += std::clamp<qint64>(count, 0, m_end - m_pos);
}

void Parser::controlWord()
{
    ++m_pos; // the backslash
    if (m_pos >= m_end)
        return;
    if (!isLetter(*m_pos)) {
        const char symbol = *m_pos++;
        if (symbol == '\'') {
            hexByte();
            return;
        }
        controlSymbol(symbol);
        return;
    }
    const char *nameStart = m_pos;
    while (m_pos < m_end && isLetter(*m_pos))
        ++m_pos;
    const std::string_view name(nameStart, std::min<qsizetype>(m_pos - nameStart, 32));
    bool negative = false;
    if (m_pos + 1 < m_end && *m_pos == '-' && isDigit(m_pos[1])) {
        negative = true;
        ++m_pos;
    }
    bool hasParam = false;
    qint64 value = 0;
    int digits = 0;
    while (m_pos < m_end && isDigit(*m_pos)) {
        if (++digits <= 10)
            value = value * 10 + (*m_pos - '0');
        hasParam = true;
        ++m_pos;
    }
    if (m_pos < m_end && *m_pos == ' ')
        ++m_pos;
    if (negative)
        value = -value;
    const int param = int(std::clamp<qint64>(value, INT_MIN, INT_MAX));
    word(lookup(name), hasParam, param);
}

void Parser::hexByte()
{
    m_ignorable = false;
    int value = -1;
    if (m_pos < m_end && hexValue(*m_pos) >= 0) {
        const int high = hexValue(*m_pos++);
        if (m_pos < m_end && hexValue(*m_pos) >= 0)
            value = high * 16 + hexValue(*m_pos++);
    }
    if (m_ucSkip > 0) {
        --m_ucSkip;
        return;
    }
    if (value < 0 || m_stack.empty())
        return;
    const Dest dest = top().dest;
    if (dest == Dest::Picture || dest == Dest::Discard || dest == Dest::Upr || dest == Dest::UprPart)
        return;
    const char byte = char(value);
    appendBytes(&byte, 1);
}

void Parser::controlSymbol(char symbol)
{
    m_ignorable = symbol == '*';
    if (m_ignorable)
        return;
    if (m_ucSkip > 0) {
        --m_ucSkip;
        return;
    }
    if (m_stack.empty())
        return;
    switch (symbol) {
    case '\\':
    case '{':
    case '}':
        deliverChar(char32_t(symbol));
        break;
    case '~': deliverChar(0x00A0); break;
    case '-': deliverChar(0x00AD); break;
    case '_': deliverChar(0x2011); break;
    case '\r':
    case '\n':
        flushBytes();
        if (top().dest == Dest::Body)
            endParagraph();
        break;
    default:
        break;
    }
}

void Parser::text()
{
    m_ignorable = false;
    const char *start = m_pos;
    while (m_pos < m_end) {
        const char c = *m_pos;
        if (c == '{' || c == '}' || c == '\\' || c == '\r' || c == '\n')
            break;
        ++m_pos;
    }
    if (m_stack.empty())
        return;
    switch (top().dest) {
    case Dest::Picture:
        for (const char *p = start; p < m_pos; ++p) {
            const int nibble = hexValue(*p);
            if (nibble < 0)
                continue;
            if (m_pictureNibble < 0) {
                m_pictureNibble = nibble;
            } else {
                m_picture.data.append(char(m_pictureNibble * 16 + nibble));
                m_pictureNibble = -1;
            }
        }
        return;
    case Dest::Discard:
    case Dest::Upr:
    case Dest::UprPart:
        return;
    default:
        break;
    }
    if (m_ucSkip > 0) {
        const qsizetype skip = std::min<qsizetype>(m_ucSkip, m_pos - start);
        start += skip;
        m_ucSkip -= int(skip);
    }
    if (start < m_pos)
        appendBytes(start, m_pos - start);
}

void Parser::word(Kw kw, bool hasParam, int param)
{
    const bool ignorable = m_ignorable;
    m_ignorable = false;
    if (m_ucSkip > 0) {
        // A control word stands for one fallback character; \bin with its data.
        --m_ucSkip;
        if (kw == Kw::Bin)
            skipBinary(param);
        return;
    }
    if (m_stack.empty()) {
        if (kw == Kw::Bin)
            skipBinary(param);
        return;
    }
    flushBytes();
    Group &group = top();
    if (group.dest == Dest::UprPart) {
        if (kw == Kw::Ud)
            group.dest = group.outer;
        else
            skipGroup();
        return;
    }
    if (isDestination(kw)) {
        destination(kw);
        return;
    }
    if (ignorable) {
        skipGroup();
        return;
    }

    const bool on = !hasParam || param != 0;
    CharState &chr = group.chr;
    ParaState &para = group.para;
    switch (kw) {
    case Kw::Ansi: m_docCodePage = 1252; break;
    case Kw::Mac: m_docCodePage = 10000; break;
    case Kw::Pc: m_docCodePage = 437; break;
    case Kw::Pca: m_docCodePage = 850; break;
    case Kw::AnsiCpg:
        if (detail::iconvName(param))
            m_docCodePage = param;
        break;
    case Kw::Deff:
        m_defaultFont = param;
        if (chr.font < 0)
            chr.font = param;
        break;
    case Kw::F:
        if (group.dest == Dest::FontTable) {
            commitFont();
            m_fontIndex = param;
            m_fontCharset = 0;
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
        if (group.dest == Dest::FontTable && detail::iconvName(param))
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
    case Kw::NoSuperSub: chr.vertical = QTextCharFormat::AlignNormal; break;

    case Kw::Pard: para = ParaState(); break;
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

    case Kw::Par:
        if (group.dest == Dest::Body)
            endParagraph();
        break;
    case Kw::Row:
    case Kw::NestRow:
        // A row is a paragraph; a row of empty cells (or one holding only a nested table,
        // whose rows were paragraphs of their own) adds none.
        if (group.dest == Dest::Body || group.nestedTableProps) {
            m_cells = 0;
            if (m_blockHasContent)
                endParagraph();
        }
        break;
    case Kw::Cell:
    case Kw::NestCell:
        if (group.dest == Dest::Body)
            ++m_cells;
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
    case Kw::Line: deliverChar(QChar::LineSeparator); break;
    case Kw::Tab: deliverChar('\t'); break;
    case Kw::EmDash: deliverChar(0x2014); break;
    case Kw::EnDash: deliverChar(0x2013); break;
    case Kw::EmSpace: deliverChar(0x2003); break;
    case Kw::EnSpace: deliverChar(0x2002); break;
    case Kw::QmSpace: deliverChar(0x2005); break;
    case Kw::Bullet: deliverChar(0x2022); break;
    case Kw::LQuote: deliverChar(0x2018); break;
    case Kw::RQuote: deliverChar(0x2019); break;
    case Kw::LDblQuote: deliverChar(0x201C); break;
    case Kw::RDblQuote: deliverChar(0x201D); break;
    case Kw::Zwj: deliverChar(0x200D); break;
    case Kw::Zwnj: deliverChar(0x200C); break;
    case Kw::LtrMark: deliverChar(0x200E); break;
    case Kw::RtlMark: deliverChar(0x200F); break;
    case Kw::U:
        unicode(param);
        m_ucSkip = group.uc;
        break;
    case Kw::Uc: group.uc = std::clamp(param, 0, 1000); break;
    case Kw::Bin:
        if (group.dest == Dest::Picture && param > 0) {
            const qint64 count = std::min<qint64>(param, m_end - m_pos);
            m_picture.data.append(m_pos, qsizetype(count));
            m_pos += count;
        } else {
            skipBinary(param);
        }
        break;

    case Kw::PngBlip: m_picture.kind = detail::Picture::Png; break;
    case Kw::JpegBlip: m_picture.kind = detail::Picture::Jpeg; break;
    case Kw::DiBitmap: m_picture.kind = detail::Picture::Dib; break;
    case Kw::WBitmap: m_picture.kind = detail::Picture::Wbitmap; break;
    case Kw::WMetafile: m_picture.kind = detail::Picture::Metafile; break;
    case Kw::EmfBlip: m_picture.kind = detail::Picture::Emf; break;
    case Kw::MacPict: m_picture.kind = detail::Picture::Mac; break;
    case Kw::PmMetafile: m_picture.kind = detail::Picture::Os2; break;
    case Kw::PicW: m_picture.picw = param; break;
    case Kw::PicH: m_picture.pich = param; break;
    case Kw::PicWGoal: m_picture.goalWidth = param; break;
    case Kw::PicHGoal: m_picture.goalHeight = param; break;
    case Kw::PicScaleX: m_picture.scaleX = param; break;
    case Kw::PicScaleY: m_picture.scaleY = param; break;
    case Kw::WbmBitsPixel: m_picture.bitsPerPixel = param; break;
    case Kw::WbmPlanes: m_picture.planes = param; break;
    case Kw::WbmWidthBytes: m_picture.widthBytes = param; break;
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
        }
        break;
    case Kw::Pict:
        if (!body) {
            skipGroup();
            return;
        }
        group.dest = Dest::Picture;
        group.role = Role::PictureOwner;
        m_picture = detail::Picture();
        m_pictureNibble = -1;
        break;
    case Kw::ShpPict:
        group.role = Role::Shppict;
        break;
    case Kw::NonShpPict:
        // The same picture again, for readers that do not know \shppict.
        if (m_shppictJustClosed)
            skipGroup();
        break;
    case Kw::Shp:
    case Kw::ShpGrp:
        if (body)
            group.inShape = true;
        if (group.dest == Dest::Body)
            group.dest = Dest::Discard;
        break;
    case Kw::ShpInst:
        if (m_stack.size() >= 2)
            m_stack[m_stack.size() - 2].shapeHadInst = true;
        group.dest = Dest::Discard;
        break;
    case Kw::ShpTxt:
        if (group.inShape)
            group.dest = Dest::Body;
        else
            skipGroup();
        break;
    case Kw::ShpRslt: {
        const bool hadInst = m_stack.size() >= 2 && m_stack[m_stack.size() - 2].shapeHadInst;
        if (group.inShape && !hadInst)
            group.dest = Dest::Body;
        else
            skipGroup();
        break;
    }
    case Kw::Sp:
        break;
    case Kw::Sn:
        group.dest = Dest::ShapeName;
        m_shapeName.clear();
        break;
    case Kw::Sv:
        if (group.inShape && m_shapeName.trimmed() == QLatin1String("pib"))
            group.dest = Dest::Body;
        else
            skipGroup();
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
    case Kw::ListText:
    case Kw::PnText:
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
        codePage = m_fontCodePage ? m_fontCodePage : detail::codePageForCharset(m_fontCharset);
        if (codePage == detail::SymbolCodePage)
            codePage = 0;
    } else if (group.dest == Dest::Body) {
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
        if (codePage > 0)
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
    default:
        break;
    }
}

void Parser::commitFont()
{
    if (m_fontIndex >= 0) {
        FontInfo info;
        info.family = m_fontName.trimmed();
        info.codePage = m_fontCodePage ? m_fontCodePage : detail::codePageForCharset(m_fontCharset);
        if (info.codePage == detail::SymbolCodePage)
            info.symbol = detail::symbolFontKind(info.family);
        if (!info.family.isEmpty() || !m_fonts.contains(m_fontIndex))
            m_fonts.insert(m_fontIndex, info);
        m_formatValid = false;
    }
    m_fontName.clear();
}

void Parser::commitColour()
{
    if (m_colours.size() < 100000)
        m_colours.append(m_colourSet ? QColor(m_red, m_green, m_blue) : QColor());
    m_red = m_green = m_blue = 0;
    m_colourSet = false;
    m_formatValid = false;
}

// ---------------------------------------------------------------------------------------------
// Building the document

void Parser::bodyText(QStringView text)
{
    const Group &group = top();
    if (group.chr.hidden)
        return;
    m_shppictJustClosed = false;
    if (!m_run.isEmpty() && !(group.chr == m_runState))
        flushRun();
    m_runState = group.chr;
    const qsizetype before = m_run.size();
    if (m_cells > 0)
        pendingCells();
    for (QChar ch : text) {
        const char16_t unit = ch.unicode();
        if (unit < 0x20) {
            if (unit == '\t')
                m_run.append(ch);
            else if (unit == 0x0B)
                m_run.append(QChar(QChar::LineSeparator));
            continue;
        }
        if (unit == QChar::ObjectReplacementCharacter || unit == QChar::ByteOrderMark || unit >= 0xFFFE)
            continue;
        if (unit == QChar::ParagraphSeparator) {
            m_run.append(QChar(QChar::LineSeparator));
            continue;
        }
        m_run.append(ch);
    }
    if (m_run.size() != before) {
        m_blockHasContent = true;
        m_afterParagraph = false;
    }
}

// The cells that ended since the last text of the row become tabs between the cells' texts.
void Parser::pendingCells()
{
    m_run.append(QString(m_cells, u'\t'));
    m_cells = 0;
}

QTextCharFormat Parser::charFormat(const CharState &state)
{
    if (m_formatValid && state == m_formatState)
        return m_format;
    // Only what differs from the document's defaults (its default font, 12 points, regular):
    // the rest follows the editor's base font, as the editor's own text does.
    QTextCharFormat format;
    const auto font = state.font == m_defaultFont ? m_fonts.constEnd() : m_fonts.constFind(state.font);
    if (font != m_fonts.constEnd() && !font->family.isEmpty())
        format.setFontFamilies({font->family});
    if (state.halfPoints != 24)
        format.setFontPointSize(state.halfPoints / 2.0);
    if (state.bold)
        format.setFontWeight(QFont::Bold);
    if (state.italic)
        format.setFontItalic(true);
    if (state.underline != QTextCharFormat::NoUnderline)
        format.setUnderlineStyle(state.underline);
    if (state.strike)
        format.setFontStrikeOut(true);
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
    m_formatState = state;
    m_format = format;
    m_formatValid = true;
    return format;
}

QTextBlockFormat Parser::blockFormat(const ParaState &state) const
{
    QTextBlockFormat format;
    format.setAlignment(state.alignment);
    if (state.leftIndent)
        format.setLeftMargin(state.leftIndent / 15.0);
    if (state.rightIndent)
        format.setRightMargin(state.rightIndent / 15.0);
    if (state.firstIndent)
        format.setTextIndent(state.firstIndent / 15.0);
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
    m_cursor.insertText(m_run, charFormat(m_runState));
    m_run.resize(0);
}

void Parser::endParagraph()
{
    resolveSurrogate();
    flushRun();
    const Group &group = top();
    m_cursor.setBlockFormat(blockFormat(group.para));
    m_cursor.setBlockCharFormat(charFormat(group.chr));
    m_cursor.insertBlock();
    m_pageBreak = false;
    m_cells = 0;
    m_blockHasContent = false;
    m_afterParagraph = true;
    m_shppictJustClosed = false;
    ++m_stats.paragraphs;
}

void Parser::finish()
{
    flushBytes();
    resolveSurrogate();
    flushRun();
    if (m_afterParagraph) {
        // The last paragraph mark ends the last paragraph; it does not start another one.
        m_cursor.deletePreviousChar();
        return;
    }
    const ParaState para = m_stack.empty() ? m_finalPara : top().para;
    m_cursor.setBlockFormat(blockFormat(para));
    if (!m_stack.empty())
        m_cursor.setBlockCharFormat(charFormat(top().chr));
    ++m_stats.paragraphs;
}

void Parser::insertPicture()
{
    const detail::Picture picture = std::move(m_picture);
    m_picture = detail::Picture();
    if (top().dest != Dest::Body || top().chr.hidden)
        return;
    const QImage image = picture.decode(m_imageBudget);
    if (image.isNull()) {
        ++m_stats.picturesLeftOut;
        return;
    }
    m_imageBudget -= image.sizeInBytes();
    flushRun();
    if (m_cells > 0) {
        m_runState = top().chr;
        pendingCells();
        flushRun();
    }
    const QString name = detail::newImageName();
    m_doc->addResource(QTextDocument::ImageResource, QUrl(name), image);
    QTextImageFormat format;
    format.setName(name);
    const QSizeF size = picture.displaySize(image.size());
    format.setWidth(size.width());
    format.setHeight(size.height());
    m_cursor.insertImage(format);
    m_blockHasContent = true;
    m_afterParagraph = false;
    ++m_stats.images;
}

} // namespace

// ---------------------------------------------------------------------------------------------

RtfReader::RtfReader(ReadLimits limits)
    : m_limits(limits)
{
}

bool RtfReader::read(const QByteArray &data, QTextDocument *doc, QString *error)
{
    m_stats = ReadStats();
    if (!doc) {
        if (error)
            *error = QStringLiteral("No document to read into.");
        return false;
    }
    if (!looksLikeRtf(data)) {
        if (error)
            *error = QStringLiteral("The file is not in rich-text format.");
        return false;
    }
    const qint64 budget = m_limits.imageBudget >= 0 ? m_limits.imageBudget
                                                    : (qint64(256) << 20) + 64 * qint64(data.size());
    const bool undo = doc->isUndoRedoEnabled();
    doc->setUndoRedoEnabled(false);
    doc->clear();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    // Start after the byte order mark and blanks that looksLikeRtf allowed.
    const qsizetype start = data.indexOf('{');
    const QByteArray body = QByteArray::fromRawData(data.constData() + start, data.size() - start);
    Parser parser(body, doc, cursor, budget, std::max(m_limits.maxDepth, 2), m_stats);
    parser.run();
    cursor.endEditBlock();
    doc->setUndoRedoEnabled(undo);
    doc->setModified(false);
    return true;
}

} // namespace Rtf
