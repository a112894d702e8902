#include "rtfreader.h"
#include "rtfparser_p.h"

#include "rtf.h"
#include "rtfcodepage.h"
#include "rtfpicture.h"

#include <QColor>
#include <QHash>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>
#include <QPointer>
#include <QUrl>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <string_view>
#include <unordered_map>

namespace Rtf {

using namespace detail;

namespace {

// ---------------------------------------------------------------------------------------------
// Control words


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

const KeywordTable &keywords()
{
    static const KeywordTable table = [] {
        KeywordTable t;
        auto add = [&t](std::initializer_list<std::string_view> names, Kw kw) {
            for (auto name : names)
                t.add(name, kw);
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
        add({"listtable"}, Kw::ListTable);
        add({"list"}, Kw::List);
        add({"listlevel"}, Kw::ListLevel);
        add({"leveltext"}, Kw::LevelText);
        add({"listoverridetable"}, Kw::ListOverrideTable);
        add({"listoverride"}, Kw::ListOverride);
        add({"pn"}, Kw::Pn);
        add({"footnote"}, Kw::Footnote);
        add({"header", "headerl", "headerr", "headerf", "footer", "footerl", "footerr", "footerf"},
            Kw::HeaderFooter);
        add({"annotation"}, Kw::Annotation);
        add({"do"}, Kw::DrawingObject);
        // Destinations whose text is not part of the document, written with or without \*.
        add({"stylesheet", "info", "pntxta", "pntxtb", "lfolevel", "revtbl", "rsidtbl", "filetbl", "pgdsctbl",
             "template", "xe", "tc", "txe", "rxe", "userprops", "docvar", "comment", "author",
             "operator", "title", "subject", "keywords", "doccomm", "company", "bkmkstart",
             "bkmkend", "atnid", "atnauthor", "atndate", "atnref", "atrfstart", "atrfend",
             "ftnsep", "ftnsepc", "ftncn", "aftnsep", "aftnsepc", "aftncn", "themedata",
             "colorschememapping", "datastore", "latentstyles", "xmlnstbl", "generator",
             "objdata", "objclass", "objname", "nonesttables", "fldtype", "formfield",
             "listpicture", "picprop", "blipuid", "panose", "falt", "fname",
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
        add({"caps"}, Kw::Caps);
        add({"up"}, Kw::Up);
        add({"dn"}, Kw::Dn);
        add({"scaps"}, Kw::SmallCaps);
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
        add({"sl"}, Kw::Sl);
        add({"slmult"}, Kw::SlMult);
        add({"tx"}, Kw::Tx);
        add({"tb"}, Kw::Tb);
        add({"tqr"}, Kw::Tqr);
        add({"tqc"}, Kw::Tqc);
        add({"tqdec"}, Kw::Tqdec);
        add({"tldot"}, Kw::TlDot);
        add({"tlhyph"}, Kw::TlHyph);
        add({"tlul"}, Kw::TlUl);
        add({"tlth"}, Kw::TlTh);
        add({"tleq"}, Kw::TlEq);
        add({"tlmdot"}, Kw::TlMdot);
        add({"intbl"}, Kw::InTbl);
        add({"itap"}, Kw::Itap);
        add({"trowd"}, Kw::Trowd);
        add({"cellx"}, Kw::Cellx);
        add({"clmgf"}, Kw::ClMgf);
        add({"clmrg"}, Kw::ClMrg);
        add({"clvmgf"}, Kw::ClVmgf);
        add({"clvmrg"}, Kw::ClVmrg);
        add({"trgaph"}, Kw::TrGaph);
        add({"trleft"}, Kw::TrLeft);
        add({"clbrdrt"}, Kw::ClBrdrT);
        add({"clbrdrl"}, Kw::ClBrdrL);
        add({"clbrdrb"}, Kw::ClBrdrB);
        add({"clbrdrr"}, Kw::ClBrdrR);
        // Borders of rows, paragraphs, characters and pages, whose properties a cell must not take.
        add({"trbrdrt", "trbrdrl", "trbrdrb", "trbrdrr", "trbrdrh", "trbrdrv", "brdrt", "brdrl", "brdrb",
             "brdrr", "brdrbox", "brdrbtw", "brdrbar", "chbrdr", "pgbrdrt", "pgbrdrl", "pgbrdrb", "pgbrdrr"},
            Kw::OtherBrdr);
        add({"brdrnone", "brdrnil", "brdrtbl"}, Kw::BrdrNone);
        // Border styles, by the QTextFrameFormat::BorderStyle they become.
        add({"brdrs", "brdrth", "brdrsh", "brdrhair", "brdrwavy", "brdrframe"}, Kw::BrdrSolid);
        add({"brdrdb", "brdrtriple", "brdrwavydb"}, Kw::BrdrDouble);
        add({"brdrdot"}, Kw::BrdrDotted);
        add({"brdrdash", "brdrdashsm"}, Kw::BrdrDashed);
        add({"brdrdashd"}, Kw::BrdrDotDash);
        add({"brdrdashdd"}, Kw::BrdrDotDotDash);
        add({"brdrengrave"}, Kw::BrdrGroove);
        add({"brdremboss"}, Kw::BrdrRidge);
        add({"brdrinset"}, Kw::BrdrInset);
        add({"brdroutset"}, Kw::BrdrOutset);
        add({"brdrw"}, Kw::BrdrW);
        add({"brdrcf"}, Kw::BrdrCf);
        add({"clcbpat"}, Kw::ClCbPat);
        add({"ls"}, Kw::Ls);
        add({"ilvl"}, Kw::Ilvl);
        add({"listid"}, Kw::ListId);
        add({"levelnfc", "levelnfcn"}, Kw::LevelNfc);
        add({"levelstartat"}, Kw::LevelStartAt);
        add({"pnlvlblt"}, Kw::PnLvlBlt);
        add({"pnlvlbody"}, Kw::PnLvlBody);
        add({"pnlvl"}, Kw::PnLvl);
        add({"pndec"}, Kw::PnDec);
        add({"pnucltr"}, Kw::PnUcLtr);
        add({"pnlcltr"}, Kw::PnLcLtr);
        add({"pnucrm"}, Kw::PnUcRm);
        add({"pnlcrm"}, Kw::PnLcRm);
        add({"pnstart"}, Kw::PnStart);
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

bool isDestination(Kw kw)
{
    return kw >= Kw::FontTable && kw <= Kw::SkipDestination;
}

bool isLetter(char c) { return unsigned((c | 0x20) - 'a') < 26u; }
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


} // namespace

namespace detail {

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

// Whether only line ends and blanks stand between the last '{' and at.
bool Parser::isGroupStart(const char *at) const
{
    for (const char *p = m_groupOpenedAt; p < at; ++p) {
        if (*p != '\r' && *p != '\n' && *p != ' ')
            return false;
    }
    return m_groupOpenedAt <= at;
}

void Parser::openGroup()
{
    m_ignorable = false;
    m_groupOpenedAt = m_pos;
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
    case Dest::Picture: // properties and ids; binary data in a group of its own is the picture's
        child.dest = Dest::Discard;
        child.role = Role::PictureGroup;
        break;
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
    const PnState pn = top().para.pn;
    m_stack.pop_back();
    if (role == Role::PnOwner && !m_stack.empty())
        top().para.pn = pn;
    if (role == Role::OverrideOwner && m_overrideLs >= 0 && m_overrideList >= 0 && m_overrides.size() < 10000) {
        m_overrides.insert(m_overrideLs, m_overrideList);
        m_blockFormatValid = false;
    }
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
    quint32 hash = KeywordTable::kSeed;
    while (m_pos < m_end && isLetter(*m_pos))
        hash = KeywordTable::step(hash, *m_pos++);
    const std::string_view name(nameStart, m_pos - nameStart);
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
    word(keywords().find(name, hash), hasParam, param);
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
    // \* marks an ignorable destination only where it opens its group: after other words
    // ({\b\*\cs7 text}) it means nothing, and the group's text stays.
    m_ignorable = symbol == '*' && m_groupOpenedAt && isGroupStart(m_pos - 2);
    if (symbol == '*')
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
    // The bytes that end a run of text.
    static constexpr auto stops = [] {
        std::array<bool, 256> table{};
        for (unsigned char c : {'{', '}', '\\', '\r', '\n'})
            table[c] = true;
        return table;
    }();
    const char *start = m_pos;
    while (m_pos < m_end && !stops[static_cast<unsigned char>(*m_pos)])
        ++m_pos;
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
        if (detail::isKnownCodePage(param))
            m_docCodePage = param;
        break;
    case Kw::Deff:
        m_defaultFont = param;
        m_formatCount = 0;
        if (chr.font < 0)
            chr.font = param;
        break;
    case Kw::F:
        if (group.dest == Dest::FontTable) {
            commitFont();
            m_fontIndex = param;
            m_fontCharset = -1;
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
        if (group.dest == Dest::FontTable && detail::isKnownCodePage(param))
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

    case Kw::Par:
        if (group.dest == Dest::Body)
            endParagraph();
        break;
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
        if ((group.dest == Dest::Picture || group.role == Role::PictureGroup) && param > 0) {
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
        m_formatCount = 0;
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
            else if (!m_fieldInstructions.at(group.field).trimmed().isEmpty())
                ++m_stats.fields;
        }
        break;
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
    case Kw::Footnote:
        ++m_stats.footnotes;
        skipGroup();
        return;
    case Kw::HeaderFooter:
        ++m_stats.headersFooters;
        skipGroup();
        return;
    case Kw::Annotation:
        ++m_stats.comments;
        skipGroup();
        return;
    case Kw::DrawingObject:
        ++m_stats.drawings;
        skipGroup();
        return;
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
    case Kw::ListText:
    case Kw::PnText:
        if (body) {
            group.dest = Dest::ListText;
            m_listText.clear();
            m_listTextState = group.chr;
        }
        break;
    case Kw::Ud:
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
        codePage = m_fontCodePage ? m_fontCodePage : detail::codePageForCharset(std::max(m_fontCharset, 0));
        if (codePage == detail::SymbolCodePage)
            codePage = 0;
    } else if (group.dest == Dest::Body || group.dest == Dest::ListText) {
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
        if (codePage > 0 || codePage == detail::UndefinedCodePage)
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
    case Dest::ListText:
        if (m_listText.size() < 256)
            m_listText.append(text);
        break;
    case Dest::LevelText:
        if (!m_listDefs.isEmpty() && !m_listDefs.last().levels.isEmpty()
            && m_listDefs.last().levels.last().text.size() < 64)
            m_listDefs.last().levels.last().text.append(text);
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
        info.codePage = m_fontCodePage ? m_fontCodePage : detail::codePageForCharset(std::max(m_fontCharset, 0));
        // A Western font (\fcharset0) in an East Asian document has Western text: its bytes are
        // Windows-1252, not the document's double-byte code page.
        const bool eastAsian = m_docCodePage == 932 || m_docCodePage == 936 || m_docCodePage == 949 || m_docCodePage == 950;
        if (!m_fontCodePage && m_fontCharset == 0 && eastAsian)
            info.codePage = 1252;
        if (info.codePage == detail::SymbolCodePage)
            info.symbol = detail::symbolFontKind(info.family);
        if (!info.family.isEmpty() || !m_fonts.contains(m_fontIndex))
            m_fonts.insert(m_fontIndex, info);
        m_formatCount = 0;
    }
    m_fontName.clear();
}

void Parser::commitColour()
{
    if (m_colours.size() < 100000)
        m_colours.append(m_colourSet ? QColor(m_red, m_green, m_blue) : QColor());
    m_red = m_green = m_blue = 0;
    m_colourSet = false;
    m_formatCount = 0;
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
        if (m_blockList)
            m_blockFormat.setObjectIndex(m_blockList->objectIndex());
        m_blockState = para;
        m_blockPageBreak = m_pageBreak;
        m_blockFormatValid = true;
    }
    if (m_cursor.blockFormat() != m_blockFormat)
        m_cursor.setBlockFormat(m_blockFormat);
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
        if (QTextList *list = listFor(para))
            list->add(m_cursor.block());
    } else {
        finishBlock(para, top().chr);
    }
    ++m_stats.paragraphs;
}

// ---------------------------------------------------------------------------------------------
// Lists

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
    if (nestOf(top().para) != int(m_tables.size()) || (!m_tables.empty() && !m_tables.back().cellEntered))
        placeCursor(nestOf(top().para));
    if (!m_listText.isEmpty())
        takeListText();
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
    startPendingParagraph();
    m_cursor.insertImage(format);
    m_blockHasContent = true;
    m_afterParagraph = false;
    ++m_stats.images;
}

} // namespace detail

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
    m_stats.paragraphs = doc->blockCount();
    doc->setUndoRedoEnabled(undo);
    doc->setModified(false);
    return true;
}

} // namespace Rtf

QStringList Rtf::ReadStats::lostOnSave() const
{
    QStringList lost;
    if (footnotes)
        lost.append(QStringLiteral("footnotes"));
    if (headersFooters)
        lost.append(QStringLiteral("headers and footers"));
    if (comments)
        lost.append(QStringLiteral("comments"));
    if (drawings)
        lost.append(QStringLiteral("drawings"));
    if (picturesLeftOut)
        lost.append(QStringLiteral("pictures it cannot show"));
    if (fields)
        lost.append(QStringLiteral("fields"));
    return lost;
}
