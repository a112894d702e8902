// The RTF reader's parser core: RTF bytes become tokens (groups, control words and symbols,
// text), each group a copy of its parent's state that its closing brace drops again, and each
// control word goes to the unit that reads its part of the document. However damaged or deep
// its input, the parser reads it in one pass, stops at its end, and never nests deeper than
// ReadLimits::maxDepth. The other units: rtfkeywords.cpp (control words), rtfdestinations.cpp
// (where text goes, code pages), rtfcharformat.cpp, rtfparagraphs.cpp, rtflists.cpp,
// rtftables.cpp, rtfobjects.cpp (pictures and shapes).

#include "rtfreader.h"
#include "rtfparser_p.h"

#include "rtf.h"

#include <QTextDocument>

#include <algorithm>
#include <climits>
#include <string_view>

namespace Rtf {

using namespace detail;

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
        pictureHex(start, m_pos);
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

    // Each unit reads the words of its part of the document.
    if (kw == Kw::Unknown)
        return;
    if (kw >= Kw::Plain && kw <= Kw::Hidden) {
        charWord(kw, hasParam, param);
        return;
    }
    if (kw >= Kw::F && kw <= Kw::Blue) {
        fontTableWord(kw, param);
        return;
    }
    if (kw >= Kw::Pard && kw <= Kw::Sect) {
        paragraphWord(kw, hasParam, param);
        return;
    }
    if (kw >= Kw::InTbl && kw <= Kw::NestRow) {
        tableWord(kw, hasParam, param);
        return;
    }
    if (kw >= Kw::Ls && kw <= Kw::PnStart) {
        listWord(kw, hasParam, param);
        return;
    }
    if (kw >= Kw::PngBlip && kw <= Kw::WbmWidthBytes) {
        pictureWord(kw, param);
        return;
    }

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
        if (group.chr.font < 0)
            group.chr.font = param;
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
    default:
        break;
    }
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
