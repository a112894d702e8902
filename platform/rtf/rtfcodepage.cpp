#include "rtfcodepage.h"

#include <QHash>
#include <QStringDecoder>

#include <cerrno>
#include <iconv.h>

namespace Rtf::detail {

namespace {

// Adobe Symbol encoding, bytes 0x20..0xFF (0 where the font has no glyph). 0xA0 is the euro
// sign of the Windows version of the font.
constexpr char16_t kSymbol[224] = {
    // 0x20
    0x0020, 0x0021, 0x2200, 0x0023, 0x2203, 0x0025, 0x0026, 0x220B,
    0x0028, 0x0029, 0x2217, 0x002B, 0x002C, 0x2212, 0x002E, 0x002F,
    // 0x30
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,
    // 0x40
    0x2245, 0x0391, 0x0392, 0x03A7, 0x0394, 0x0395, 0x03A6, 0x0393,
    0x0397, 0x0399, 0x03D1, 0x039A, 0x039B, 0x039C, 0x039D, 0x039F,
    // 0x50
    0x03A0, 0x0398, 0x03A1, 0x03A3, 0x03A4, 0x03A5, 0x03C2, 0x03A9,
    0x039E, 0x03A8, 0x0396, 0x005B, 0x2234, 0x005D, 0x22A5, 0x005F,
    // 0x60
    0x203E, 0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3,
    0x03B7, 0x03B9, 0x03D5, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BF,
    // 0x70
    0x03C0, 0x03B8, 0x03C1, 0x03C3, 0x03C4, 0x03C5, 0x03D6, 0x03C9,
    0x03BE, 0x03C8, 0x03B6, 0x007B, 0x007C, 0x007D, 0x223C, 0,
    // 0x80..0x9F: no glyphs
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0xA0
    0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192, 0x2663,
    0x2666, 0x2665, 0x2660, 0x2194, 0x2190, 0x2191, 0x2192, 0x2193,
    // 0xB0
    0x00B0, 0x00B1, 0x2033, 0x2265, 0x00D7, 0x221D, 0x2202, 0x2022,
    0x00F7, 0x2260, 0x2261, 0x2248, 0x2026, 0x23D0, 0x23AF, 0x21B5,
    // 0xC0
    0x2135, 0x2111, 0x211C, 0x2118, 0x2297, 0x2295, 0x2205, 0x2229,
    0x222A, 0x2283, 0x2287, 0x2284, 0x2282, 0x2286, 0x2208, 0x2209,
    // 0xD0
    0x2220, 0x2207, 0x00AE, 0x00A9, 0x2122, 0x220F, 0x221A, 0x22C5,
    0x00AC, 0x2227, 0x2228, 0x21D4, 0x21D0, 0x21D1, 0x21D2, 0x21D3,
    // 0xE0
    0x25CA, 0x2329, 0x00AE, 0x00A9, 0x2122, 0x2211, 0x239B, 0x239C,
    0x239D, 0x23A1, 0x23A2, 0x23A3, 0x23A7, 0x23A8, 0x23A9, 0x23AA,
    // 0xF0
    0, 0x232A, 0x222B, 0x2320, 0x23AE, 0x2321, 0x239E, 0x239F,
    0x23A0, 0x23A4, 0x23A5, 0x23A6, 0x23AB, 0x23AC, 0x23AD, 0,
};

// The Wingdings glyphs that list bullets and check marks use.
struct WingdingsGlyph { unsigned char byte; char16_t unicode; };
constexpr WingdingsGlyph kWingdings[] = {
    {0x46, 0x261E}, {0x4A, 0x263A}, {0x4C, 0x2639}, {0x6C, 0x25CF}, {0x6E, 0x25A0},
    {0x6F, 0x25A1}, {0x71, 0x2751}, {0x75, 0x25C6}, {0x76, 0x2756}, {0x9F, 0x2022},
    {0xA7, 0x25AA}, {0xA8, 0x25FB}, {0xD8, 0x27A2}, {0xFB, 0x2717}, {0xFC, 0x2713},
    {0xFE, 0x2611},
};

// Mac OS Hebrew (code page 10005) and Mac OS Arabic (10004), bytes 0x80..0xFF, from the vendor's
// published mapping tables (Apple's HEBREW.TXT and ARABIC.TXT); neither iconv nor ICU has them
// here. Where the vendor maps a byte to a right-to-left copy of an ASCII character, the byte
// gives that character; where it maps a byte to a sequence, the sequence's base character
// (0x81 YOD YOD PATAH: U+05F2, 0xC0 LAMED HOLAM: U+05DC, 0xDE QAMATS QATAN: U+05B8). The four
// obsolete Hebrew canorals keep the vendor's private-use characters.
constexpr char16_t kMacHebrew[128] = {
    0x00C4, 0x05F2, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x20AA, 0x0027, 0x0029, 0x0028, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,
    0x05DC, 0x201E, 0xF89B, 0xF89C, 0xF89D, 0xF89E, 0x05BC, 0xFB4B, 0xFB35, 0x2026, 0x00A0, 0x05B8, 0x05B7, 0x05B5, 0x05B6, 0x05B4,
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0xFB2A, 0xFB2B, 0x05BF, 0x05B0, 0x05B2, 0x05B1, 0x05BB, 0x05B9, 0x05B8, 0x05B3,
    0x05D0, 0x05D1, 0x05D2, 0x05D3, 0x05D4, 0x05D5, 0x05D6, 0x05D7, 0x05D8, 0x05D9, 0x05DA, 0x05DB, 0x05DC, 0x05DD, 0x05DE, 0x05DF,
    0x05E0, 0x05E1, 0x05E2, 0x05E3, 0x05E4, 0x05E5, 0x05E6, 0x05E7, 0x05E8, 0x05E9, 0x05EA, 0x007D, 0x005D, 0x007B, 0x005B, 0x007C,
};

constexpr char16_t kMacArabic[128] = {
    0x00C4, 0x00A0, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x06BA, 0x00AB, 0x00E7, 0x00E9, 0x00E8,
    0x00EA, 0x00EB, 0x00ED, 0x2026, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00BB, 0x00F4, 0x00F6, 0x00F7, 0x00FA, 0x00F9, 0x00FB, 0x00FC,
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x066A, 0x0026, 0x0027, 0x0028, 0x0029, 0x002A, 0x002B, 0x060C, 0x002D, 0x002E, 0x002F,
    0x0660, 0x0661, 0x0662, 0x0663, 0x0664, 0x0665, 0x0666, 0x0667, 0x0668, 0x0669, 0x003A, 0x061B, 0x003C, 0x003D, 0x003E, 0x061F,
    0x274A, 0x0621, 0x0622, 0x0623, 0x0624, 0x0625, 0x0626, 0x0627, 0x0628, 0x0629, 0x062A, 0x062B, 0x062C, 0x062D, 0x062E, 0x062F,
    0x0630, 0x0631, 0x0632, 0x0633, 0x0634, 0x0635, 0x0636, 0x0637, 0x0638, 0x0639, 0x063A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,
    0x0640, 0x0641, 0x0642, 0x0643, 0x0644, 0x0645, 0x0646, 0x0647, 0x0648, 0x0649, 0x064A, 0x064B, 0x064C, 0x064D, 0x064E, 0x064F,
    0x0650, 0x0651, 0x0652, 0x067E, 0x0679, 0x0686, 0x06D5, 0x06A4, 0x06AF, 0x0688, 0x0691, 0x007B, 0x007C, 0x007D, 0x0698, 0x06D2,
};

// The code pages decoded from a table of this file.
const char16_t *upperHalf(int codePage)
{
    switch (codePage) {
    case 10004: return kMacArabic;
    case 10005: return kMacHebrew;
    default: return nullptr;
    }
}

// The C library's iconv names a code page; where it has none, ICU does (through QStringDecoder,
// which Qt builds on ICU here). Apple's code pages for Japanese, Chinese and Korean are their
// Windows supersets' subsets; Mac Thai is TIS-620 with a few punctuation marks more.
struct CodePageName { int codePage; const char *name; bool icu; bool multiByte; };
constexpr CodePageName kCodePages[] = {
    {437, "CP437", false, false},     {708, "ISO-8859-6", false, false}, {720, "ibm-720", true, false},
    {737, "CP737", false, false},     {775, "CP775", false, false},      {850, "CP850", false, false},
    {852, "CP852", false, false},     {855, "CP855", false, false},      {857, "CP857", false, false},
    {858, "CP858", false, false},     {860, "CP860", false, false},      {861, "CP861", false, false},
    {862, "CP862", false, false},     {863, "CP863", false, false},      {864, "CP864", false, false},
    {865, "CP865", false, false},     {866, "CP866", false, false},      {869, "CP869", false, false},
    {874, "CP874", false, false},     {932, "CP932", false, true},       {936, "CP936", false, true},
    {949, "CP949", false, true},      {950, "CP950", false, true},       {1250, "CP1250", false, false},
    {1251, "CP1251", false, false},   {1252, "CP1252", false, false},    {1253, "CP1253", false, false},
    {1254, "CP1254", false, false},   {1255, "CP1255", false, false},    {1256, "CP1256", false, false},
    {1257, "CP1257", false, false},   {1258, "CP1258", false, false},    {1361, "JOHAB", false, true},
    {10000, "MACINTOSH", false, false}, {10001, "CP932", false, true},   {10002, "BIG5", false, true},
    {10003, "CP949", false, true},    {10006, "x-mac-greek", true, false}, {10007, "MAC-CYRILLIC", false, false},
    {10008, "GB2312", false, true},   {10017, "MACUKRAINIAN", false, false}, {10021, "TIS-620", false, false},
    {10029, "MAC-CENTRALEUROPE", false, false}, {10079, "MAC-IS", false, false},
    {10081, "x-mac-turkish", true, false}, {20127, "ASCII", false, false}, {20866, "KOI8-R", false, false},
    {20932, "EUC-JP", false, true},   {21866, "KOI8-U", false, false},   {28591, "ISO-8859-1", false, false},
    {28592, "ISO-8859-2", false, false}, {28593, "ISO-8859-3", false, false}, {28594, "ISO-8859-4", false, false},
    {28595, "ISO-8859-5", false, false}, {28596, "ISO-8859-6", false, false}, {28597, "ISO-8859-7", false, false},
    {28598, "ISO-8859-8", false, false}, {28599, "ISO-8859-9", false, false}, {28603, "ISO-8859-13", false, false},
    {28605, "ISO-8859-15", false, false}, {51932, "EUC-JP", false, true}, {51936, "GB2312", false, true},
    {51949, "EUC-KR", false, true},   {54936, "GB18030", false, true},   {65001, "UTF-8", false, true},
};

const CodePageName *entryFor(int codePage)
{
    for (const auto &entry : kCodePages) {
        if (entry.codePage == codePage)
            return &entry;
    }
    return nullptr;
}

// A control character where a byte of 0x80 or more should have given a character: the code
// page does not define that byte.
bool isUndefined(char16_t unit)
{
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == QChar::ReplacementCharacter;
}

iconv_t toIconv(void *handle) { return static_cast<iconv_t>(handle); }

} // namespace

const char *iconvName(int codePage)
{
    const CodePageName *entry = entryFor(codePage);
    return entry ? entry->name : nullptr;
}

bool isKnownCodePage(int codePage)
{
    return upperHalf(codePage) || entryFor(codePage);
}

int codePageForCharset(int charset)
{
    switch (charset) {
    case 2: return SymbolCodePage;
    case 77: return 10000;  // Mac Roman
    case 78: return 10001;  // Mac Japanese
    case 79: return 10003;  // Mac Korean
    case 80: return 10008;  // Mac Simplified Chinese
    case 81: return 10002;  // Mac Traditional Chinese
    case 82: return 1361;   // Mac Johab
    case 85: return 10006;  // Mac Greek
    case 86: return 10081;  // Mac Turkish
    case 87: return 10021;  // Mac Thai
    case 88: return 10029;  // Mac Central European
    case 89: return 10007;  // Mac Cyrillic
    case 83: return 10005;  // Mac Hebrew
    case 84: return 10004;  // Mac Arabic
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 179: return 1256;
    case 180: return 1256;
    case 181: return 1255;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 254: return 437;
    case 255: return 850;
    default: return 0; // 0 ANSI, 1 default and the rest: the document's code page
    }
}

ByteDecoder::ByteDecoder(int codePage)
    : m_codePage(codePage)
{
    for (int byte = 0; byte < 0x80; ++byte)
        m_table[byte] = char16_t(byte);
    for (int byte = 0x80; byte < 256; ++byte)
        m_table[byte] = QChar::ReplacementCharacter;
    if (codePage == UndefinedCodePage)
        return;
    if (const char16_t *table = upperHalf(codePage)) {
        std::copy(table, table + 128, m_table.begin() + 0x80);
        return;
    }
    const CodePageName *entry = entryFor(codePage);
    if (!entry) {
        m_codePage = 1252;
        entry = entryFor(1252);
    }
    if (entry->multiByte) {
        iconv_t handle = iconv_open("UTF-16LE", entry->name);
        if (handle != iconv_t(-1)) {
            m_iconv = handle;
            return;
        }
        m_codePage = 1252;
        entry = entryFor(1252);
    }
    if (entry->icu) {
        for (int byte = 0x80; byte < 256; ++byte) {
            QStringDecoder decoder(entry->name, QStringConverter::Flag::Stateless);
            const char in = char(byte);
            const QString out = decoder.isValid() ? decoder.decode(QByteArrayView(&in, 1)) : QString();
            if (out.size() == 1 && !isUndefined(out.at(0).unicode()))
                m_table[byte] = out.at(0).unicode();
        }
        return;
    }
    iconv_t handle = iconv_open("UTF-16LE", entry->name);
    if (handle == iconv_t(-1))
        return;
    for (int byte = 0x80; byte < 256; ++byte) {
        char in = char(byte);
        char16_t unit = 0;
        char *inPtr = &in;
        size_t inLeft = 1;
        char *outPtr = reinterpret_cast<char *>(&unit);
        size_t outLeft = sizeof unit;
        iconv(handle, nullptr, nullptr, nullptr, nullptr);
        if (iconv(handle, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1) && outLeft == 0 && !isUndefined(unit))
            m_table[byte] = unit;
    }
    iconv_close(handle);
}

ByteDecoder::~ByteDecoder()
{
    if (m_iconv)
        iconv_close(toIconv(m_iconv));
}

void ByteDecoder::decode(const char *bytes, qsizetype size, QString &out)
{
    if (!m_iconv) {
        const qsizetype start = out.size();
        out.resize(start + size);
        QChar *dest = out.data() + start;
        for (qsizetype i = 0; i < size; ++i)
            dest[i] = QChar(m_table[static_cast<unsigned char>(bytes[i])]);
        return;
    }
    iconv_t handle = toIconv(m_iconv);
    iconv(handle, nullptr, nullptr, nullptr, nullptr);
    char *inPtr = const_cast<char *>(bytes);
    size_t inLeft = size_t(size);
    char16_t buffer[512];
    while (inLeft > 0) {
        char *outPtr = reinterpret_cast<char *>(buffer);
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(handle, &inPtr, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        out.append(reinterpret_cast<const QChar *>(buffer),
                   qsizetype((sizeof buffer - outLeft) / sizeof(char16_t)));
        if (result != size_t(-1) || error == E2BIG)
            continue;
        // An invalid or incomplete sequence: one replacement character per bad byte.
        out.append(QChar(QChar::ReplacementCharacter));
        ++inPtr;
        --inLeft;
        iconv(handle, nullptr, nullptr, nullptr, nullptr);
    }
}

int toWindows1252(char16_t ch)
{
    if (ch < 0x80)
        return ch;
    static const QHash<char16_t, int> bytes = [] {
        QHash<char16_t, int> table;
        QString decoded;
        char all[128];
        for (int i = 0; i < 128; ++i)
            all[i] = char(0x80 + i);
        ByteDecoder(1252).decode(all, 128, decoded);
        for (int i = 0; i < 128; ++i) {
            if (decoded.at(i) != QChar::ReplacementCharacter)
                table.insert(decoded.at(i).unicode(), 0x80 + i);
        }
        return table;
    }();
    return bytes.value(ch, -1);
}

SymbolFont symbolFontKind(const QString &family)
{
    if (family.compare(QLatin1String("Symbol"), Qt::CaseInsensitive) == 0)
        return SymbolFont::Symbol;
    if (family.startsWith(QLatin1String("Wingdings"), Qt::CaseInsensitive))
        return SymbolFont::Wingdings;
    return SymbolFont::Other;
}

char32_t symbolToUnicode(SymbolFont kind, unsigned char byte)
{
    if (byte < 0x20)
        return byte;
    if (kind == SymbolFont::Symbol && kSymbol[byte - 0x20] != 0)
        return kSymbol[byte - 0x20];
    if (kind == SymbolFont::Wingdings) {
        for (const auto &glyph : kWingdings) {
            if (glyph.byte == byte)
                return glyph.unicode;
        }
    }
    return 0xF000u + byte;
}

} // namespace Rtf::detail
