#include "namecodepage.h"

#include <QLocale>
#include <QStringList>

#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/ustring.h>
#include <unicode/utrans.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <unordered_set>
#include <vector>

namespace pnvzip {

namespace {

enum class Script { Latin, Cyrillic, Greek, Hebrew, Arabic, Thai, Cjk, Other };

struct PageInfo
{
    CodePage page;
    const char *id;
    const char *converter; // the library's converter name
    const char *label;
    bool oem;             // written by tools that use the DOS code page of the system
    bool doubleByte;
    Script script;
    const char16_t *frequent; // lower-case letters frequent in the page's languages; null: all of its script
};

// In the order a tie is settled: the first of equal scores wins.
const PageInfo Pages[] = {
    {CodePage::Utf8, "UTF-8", "UTF-8", "Unicode (UTF-8)", false, false, Script::Latin, nullptr},
    {CodePage::Cp437, "CP437", "ibm-437_P100-1995", "DOS (CP437)", true, false, Script::Latin,
     u"éèêëàâäåáçíìîïóòôöúùûüñæß"},
    {CodePage::Cp850, "CP850", "ibm-850_P100-1995", "Western European (DOS, CP850)", true, false, Script::Latin,
     u"éèêëàâäåáãçíìîïóòôöõúùûüñæøß"},
    {CodePage::Cp1252, "CP1252", "ibm-5348_P100-1997", "Western European (Windows-1252)", false, false, Script::Latin,
     u"àáâãäåæçèéêëíîïñòóôõöúûüßÿœ"},
    {CodePage::Cp1250, "CP1250", "ibm-5346_P100-1998", "Central European (Windows-1250)", false, false, Script::Latin,
     u"áäčďéěíľňóôöőřšťúůüűýžąćęłńśźżăâîşţß"},
    {CodePage::Cp1254, "CP1254", "ibm-5350_P100-1998", "Turkish (Windows-1254)", false, false, Script::Latin,
     u"çğıöşüâîû"},
    {CodePage::Cp866, "CP866", "ibm-866_P100-1995", "Cyrillic (DOS, CP866)", true, false, Script::Cyrillic,
     u"оеаинтсрвлкмдпуяызьгбіїє"},
    {CodePage::Cp1251, "CP1251", "ibm-5347_P100-1998", "Cyrillic (Windows-1251)", false, false, Script::Cyrillic,
     u"оеаинтсрвлкмдпуяызьгбіїє"},
    {CodePage::Cp1253, "CP1253", "ibm-5349_P100-1998", "Greek (Windows-1253)", false, false, Script::Greek, nullptr},
    {CodePage::Cp1255, "CP1255", "ibm-9447_P100-2002", "Hebrew (Windows-1255)", false, false, Script::Hebrew, nullptr},
    {CodePage::Cp1256, "CP1256", "ibm-9448_X100-2005", "Arabic (Windows-1256)", false, false, Script::Arabic, nullptr},
    {CodePage::Cp874, "CP874", "windows-874-2000", "Thai (Windows-874)", true, false, Script::Thai, nullptr},
    {CodePage::Cp932, "CP932", "ibm-943_P15A-2003", "Japanese (Shift-JIS)", true, true, Script::Cjk, nullptr},
    {CodePage::Cp936, "CP936", "windows-936-2000", "Simplified Chinese (GBK)", true, true, Script::Cjk, nullptr},
    {CodePage::Cp949, "CP949", "windows-949-2000", "Korean (UHC)", true, true, Script::Cjk, nullptr},
    {CodePage::Cp950, "CP950", "windows-950-2000", "Traditional Chinese (Big5)", true, true, Script::Cjk, nullptr},
};
constexpr size_t PageCount = std::size(Pages);

const PageInfo &info(CodePage page)
{
    for (const PageInfo &p : Pages) {
        if (p.page == page)
            return p;
    }
    return Pages[1];
}

// The characters most used in Chinese text and in file names; the traditional forms are
// made from them by the library's Hans-Hant transliteration.
const char16_t FrequentHans[] =
    u"的一是不了人我在有他这中大来上国个到说们为子和你地出道也时年得就那要下以生会自着去之过家学对可她"
    u"里后小么心多天而能好都然没日于起还发成事只作当想看文无开手十用主行方又如前所本见经头面公同三已老"
    u"从动两长知民样现分将外但身些与高意进把法此实回二理美点月明其种声全工己话儿者向情部正名定女问力机"
    u"给等几很业最间新什打便位因重被走电四第门相次东政海口使教西再平真听世气信北少关并内加化由却代军产"
    u"入先山五太水万市眼体别处总才场师书比住员九笑性通目华报立马命张活难神数件安表原车白应路期叫死常提"
    u"感金何更反合放做系计或司利受光王果亲界及今京务制解各任至清物台象记边共风战干接它许八特觉望直服毛"
    u"林题建南度统色字请交爱让认算论百吃义科怎元社术结六功指思非流每青管夫连远资队跟带花快条院变联言权"
    u"往展该领传近留红治决周保达办运武半候七必城父强步完革深区即求品士转量空甚众技轻程告江语英基派满式"
    u"李息写呢识极令黄德收脸钱党倒未持取设始版双历越史商千片容研像找友孩站广改议形委早房音火际则首单据"
    u"导影失拿网香似斯专石若兵弟谁校读志飞观争究包组造落视济喜离虽坐集编宝谈府拉黑且随格尽讲布杀微怕母"
    u"调局根曾准团段终乐切级克精哪官示冷域档案稿照图频备份项划录纪要协简申格夹料册票预修审核客户销售财"
    u"季份周末习课考试笔材购采物流库存质检测验收货附件汇价格清单登账务税费用户端程序源码设计需求规范操作"
    u"册维护培训招聘简历面试合同协议签订批复通知公告函请示汇报总结计划方案草稿终版定稿扫描复印";
const char16_t FrequentJapanese[] =
    u"書類会議資料写真報告様式届申請見積請求納品契約画像営業総務経理売上予算案最終版確認済社内外部発注事録"
    u"企画提案設計仕様説明変更一覧表集計結果検討依頼回答図面関係顧客情報管理規定稟議旅行出張経費精算"
    u"週月年度期間予定議題参加者名簿連絡先住所電話番号写本稿原新旧修正追加削除完了未対応中止延期";
const char16_t FrequentHangul[] =
    u"이의다는에을하가고지기서사로도한자리대수있인시정나일어해적부그들아게전성스주보면요우과니제소상여라만"
    u"중동원되것공장러구세신조였관문위경안국무내연화방실마식입모생를진거은비유반점용결학개발물회계획료파최"
    u"종본월년번호차명단목록표양견청검토작업운영음악데터백트프젝교육강의행현황분석록리첨부수정확인완료버전"
    u"사진영상휴가출장비용매예산품납주문약금액세금영수증직원인사급여평가팀장님께드림안내공지외";

bool contains(const char16_t *letters, UChar32 c)
{
    for (const char16_t *p = letters; *p; ++p) {
        if (UChar32(*p) == c)
            return true;
    }
    return false;
}

struct Frequent
{
    std::unordered_set<UChar32> hans, hant, kanji, hangul;
};

void addAll(std::unordered_set<UChar32> *set, const char16_t *text, int32_t length = -1)
{
    const int32_t n = length < 0 ? u_strlen(reinterpret_cast<const UChar *>(text)) : length;
    for (int32_t i = 0; i < n;) {
        UChar32 c;
        U16_NEXT(text, i, n, c);
        set->insert(c);
    }
}

const Frequent &frequent()
{
    static const Frequent sets = [] {
        Frequent f;
        addAll(&f.hans, FrequentHans);
        addAll(&f.hangul, FrequentHangul);
        std::vector<UChar> traditional(FrequentHans, FrequentHans + std::size(FrequentHans) - 1);
        traditional.resize(traditional.size() * 2 + 16);
        UErrorCode error = U_ZERO_ERROR;
        UTransliterator *toHant = utrans_openU(u"Hans-Hant", -1, UTRANS_FORWARD, nullptr, 0, nullptr, &error);
        int32_t length = int32_t(std::size(FrequentHans) - 1);
        if (U_SUCCESS(error)) {
            int32_t limit = length;
            utrans_transUChars(toHant, traditional.data(), &length, int32_t(traditional.size()), 0, &limit, &error);
            utrans_close(toHant);
        }
        if (U_FAILURE(error))
            length = 0;
        addAll(&f.hant, FrequentHans); // characters the two share
        addAll(&f.hant, reinterpret_cast<const char16_t *>(traditional.data()), length);
        f.kanji = f.hant;
        f.kanji.insert(f.hans.begin(), f.hans.end());
        addAll(&f.kanji, FrequentJapanese);
        return f;
    }();
    return sets;
}

Script scriptOf(UChar32 c)
{
    UErrorCode error = U_ZERO_ERROR;
    switch (uscript_getScript(c, &error)) {
    case USCRIPT_LATIN: return Script::Latin;
    case USCRIPT_CYRILLIC: return Script::Cyrillic;
    case USCRIPT_GREEK: return Script::Greek;
    case USCRIPT_HEBREW: return Script::Hebrew;
    case USCRIPT_ARABIC: return Script::Arabic;
    case USCRIPT_THAI: return Script::Thai;
    case USCRIPT_HAN:
    case USCRIPT_HIRAGANA:
    case USCRIPT_KATAKANA:
    case USCRIPT_HANGUL: return Script::Cjk;
    default: return Script::Other;
    }
}

bool isLetter(UChar32 c) { return u_isalpha(c); }
bool isMark(UChar32 c) { return (U_GET_GC_MASK(c) & U_GC_M_MASK) != 0; }
// A character no name is written with: the page does not really hold these bytes.
bool isForeignToNames(UChar32 c)
{
    return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0xfffd || (c >= 0xe000 && c <= 0xf8ff) || c == 0x1a
           || u_charType(c) == U_UNASSIGNED || c == 0x200e || c == 0x200f;
}

// Punctuation that names written by people do contain.
bool isTypographic(UChar32 c)
{
    switch (c) {
    case 0x00ab: case 0x00bb: case 0x2013: case 0x2014: case 0x2018: case 0x2019: case 0x201a:
    case 0x201c: case 0x201d: case 0x201e: case 0x2026: case 0x20ac: case 0x00b0: case 0x00a7:
    case 0x00a9: case 0x00ae: case 0x2122: case 0x2116:
        return true;
    default:
        return false;
    }
}

struct Decoded
{
    UChar32 c;
    uint8_t lead = 0, trail = 0;
    int bytes = 1; // how many bytes of the name it took
};

// How well the non-ASCII characters of one decoded name fit a single-byte page. The sum
// of weights (0..1 each) per byte.
double singleByteFit(const PageInfo &page, const std::vector<Decoded> &text)
{
    double sum = 0;
    const size_t n = text.size();
    auto letterAt = [&](size_t i) { return i < n && isLetter(text[i].c); };
    for (size_t i = 0; i < n; ++i) {
        const UChar32 c = text[i].c;
        if (c < 0x80)
            continue;
        double w;
        const bool prevLetter = i > 0 && letterAt(i - 1);
        const bool nextLetter = letterAt(i + 1);
        if (isLetter(c)) {
            const Script script = scriptOf(c);
            if (script == page.script) {
                const UChar32 lower = u_tolower(c);
                w = !page.frequent || contains(page.frequent, lower) ? 1.0 : 0.7;
            } else {
                w = 0.2;
            }
            if (u_isupper(c) && prevLetter && u_islower(text[i - 1].c))
                w *= 0.3; // a capital inside a word
            for (size_t j : {i - 1, i + 1}) {
                if (j < n && isLetter(text[j].c) && scriptOf(text[j].c) != script) {
                    w *= 0.4; // scripts mixed inside a word
                    break;
                }
            }
            if (page.script == Script::Latin) {
                size_t from = i, to = i;
                while (from > 0 && text[from - 1].c >= 0x80 && isLetter(text[from - 1].c))
                    --from;
                while (to + 1 < n && text[to + 1].c >= 0x80 && isLetter(text[to + 1].c))
                    ++to;
                if (to - from >= 2)
                    w *= 0.5; // three accented letters in a row are rare in Latin script
            }
            if (c == 0x03c2 && nextLetter)
                w *= 0.2; // the final sigma inside a word
            if (page.script == Script::Thai) {
                const bool leadingVowel = c >= 0x0e40 && c <= 0x0e44;
                const bool followingVowel = c == 0x0e30 || c == 0x0e32 || c == 0x0e33 || c == 0x0e45;
                if (leadingVowel && !(nextLetter && text[i + 1].c >= 0x0e01 && text[i + 1].c <= 0x0e2e))
                    w *= 0.3;
                if (followingVowel && !(i > 0 && scriptOf(text[i - 1].c) == Script::Thai))
                    w *= 0.3;
            }
        } else if (isMark(c)) {
            const bool afterSameScript = i > 0 && scriptOf(text[i - 1].c) == scriptOf(c)
                                         && (isLetter(text[i - 1].c) || isMark(text[i - 1].c));
            w = !afterSameScript ? 0.1 : scriptOf(c) == Script::Hebrew ? 0.4 : 0.8;
        } else if (c >= 0x2500 && c <= 0x259f) {
            w = page.oem && !prevLetter && !nextLetter ? 0.5 : 0.1; // box drawing
        } else if (isTypographic(c)) {
            w = 0.4;
        } else {
            w = 0.1;
        }
        sum += w;
    }
    return sum;
}

double doubleByteFit(const PageInfo &page, const std::vector<Decoded> &text)
{
    const Frequent &f = frequent();
    double sum = 0;
    for (const Decoded &d : text) {
        const UChar32 c = d.c;
        if (d.bytes == 1) {
            if (c >= 0x80)
                sum += page.page == CodePage::Cp932 && c >= 0xff61 && c <= 0xff9f ? 0.5 : 0.1; // half-width kana
            continue;
        }
        const uint8_t lead = d.lead, trail = d.trail;
        double w;
        if ((c >= 0x3041 && c <= 0x30ff) || (c >= 0x31f0 && c <= 0x31ff)) {
            w = page.page == CodePage::Cp932 ? 1.0 : 0.2; // kana
        } else if (c >= 0xac00 && c <= 0xd7a3) {
            w = page.page != CodePage::Cp949  ? 0.2
                : f.hangul.count(c)           ? 1.0
                : lead >= 0xb0 && lead <= 0xc8 ? 0.6 // the syllables of the older national set
                                               : 0.25;
        } else if ((c >= 0x4e00 && c <= 0x9fff) || (c >= 0x3400 && c <= 0x4dbf) || (c >= 0xf900 && c <= 0xfaff)) {
            switch (page.page) {
            case CodePage::Cp932:
                w = f.kanji.count(c) ? 1.0 : lead >= 0x88 && lead <= 0x98 ? 0.55 : 0.25;
                break;
            case CodePage::Cp936:
                w = f.hans.count(c) ? 1.0 : lead >= 0xb0 && lead <= 0xd7 && trail >= 0xa1 ? 0.55 : 0.25;
                break;
            case CodePage::Cp950:
                w = f.hant.count(c) ? 1.0 : lead >= 0xa4 && lead <= 0xc6 ? 0.55 : 0.25;
                break;
            default:
                w = 0.3; // hanja: rare in Korean names
                break;
            }
        } else if ((c >= 0x3000 && c <= 0x303f) || (c >= 0xff01 && c <= 0xff60) || (c >= 0xffe0 && c <= 0xffee)) {
            w = 0.7; // ideographic space, brackets and full-width forms
        } else if (isLetter(c)) {
            w = 0.15; // Greek, Cyrillic or Latin letters from the symbol rows
        } else {
            w = 0.3;
        }
        sum += 2 * w;
    }
    return sum;
}

struct Converter
{
    UConverter *cnv = nullptr;
    Converter() = default;
    explicit Converter(const char *name, bool stop)
    {
        UErrorCode error = U_ZERO_ERROR;
        cnv = ucnv_open(name, &error);
        if (U_FAILURE(error)) {
            cnv = nullptr;
            return;
        }
        if (stop)
            ucnv_setToUCallBack(cnv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;
    ~Converter()
    {
        if (cnv)
            ucnv_close(cnv);
    }
};

// The name decoded character by character; false when the page cannot hold it.
bool decodeChars(UConverter *cnv, std::string_view raw, std::vector<Decoded> *out)
{
    out->clear();
    ucnv_resetToUnicode(cnv);
    const char *at = raw.data();
    const char *end = raw.data() + raw.size();
    while (at < end) {
        const char *start = at;
        UErrorCode error = U_ZERO_ERROR;
        const UChar32 c = ucnv_getNextUChar(cnv, &at, end, &error);
        if (U_FAILURE(error) || at <= start)
            return false;
        Decoded d{c};
        d.bytes = int(at - start);
        d.lead = uint8_t(start[0]);
        d.trail = d.bytes > 1 ? uint8_t(start[1]) : 0;
        if (d.bytes > 1 || uint8_t(start[0]) >= 0x80) {
            if (isForeignToNames(c))
                return false;
        } else if (c != UChar32(uint8_t(start[0]))) {
            return false; // an ASCII byte read as something else
        }
        out->push_back(d);
    }
    return true;
}

bool validUtf8(std::string_view s)
{
    UErrorCode error = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, s.data(), int32_t(s.size()), &error);
    return error == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(error);
}

// The pages a system language writes names in, the DOS one first.
std::vector<CodePage> localePages(const QString &locale)
{
    const QString lang = locale.section(QLatin1Char('_'), 0, 0).section(QLatin1Char('.'), 0, 0).toLower();
    const QString country = locale.section(QLatin1Char('_'), 1).left(2).toUpper();
    using P = CodePage;
    if (lang == u"ja")
        return {P::Cp932};
    if (lang == u"zh")
        return (country == u"TW" || country == u"HK" || country == u"MO") ? std::vector<P>{P::Cp950}
                                                                           : std::vector<P>{P::Cp936};
    if (lang == u"ko")
        return {P::Cp949};
    if (lang == u"ru" || lang == u"uk" || lang == u"be" || lang == u"bg" || lang == u"sr" || lang == u"mk")
        return {P::Cp866, P::Cp1251};
    if (lang == u"pl" || lang == u"cs" || lang == u"sk" || lang == u"hu" || lang == u"sl" || lang == u"hr"
        || lang == u"ro" || lang == u"bs")
        return {P::Cp1250};
    if (lang == u"el")
        return {P::Cp1253};
    if (lang == u"tr" || lang == u"az")
        return {P::Cp1254};
    if (lang == u"he" || lang == u"iw")
        return {P::Cp1255};
    if (lang == u"ar" || lang == u"fa" || lang == u"ur")
        return {P::Cp1256};
    if (lang == u"th")
        return {P::Cp874};
    if (lang == u"en")
        return {P::Cp437, P::Cp1252};
    return {P::Cp850, P::Cp1252};
}

// The pages a name of the library's charset detection stands for.
bool detectedPage(const char *name, CodePage *page)
{
    static const std::pair<const char *, CodePage> names[] = {
        {"Shift_JIS", CodePage::Cp932},      {"GB18030", CodePage::Cp936},        {"EUC-KR", CodePage::Cp949},
        {"Big5", CodePage::Cp950},           {"ISO-8859-1", CodePage::Cp1252},    {"windows-1252", CodePage::Cp1252},
        {"ISO-8859-2", CodePage::Cp1250},    {"windows-1250", CodePage::Cp1250},  {"windows-1251", CodePage::Cp1251},
        {"ISO-8859-7", CodePage::Cp1253},    {"windows-1253", CodePage::Cp1253},  {"ISO-8859-9", CodePage::Cp1254},
        {"windows-1254", CodePage::Cp1254},  {"ISO-8859-8", CodePage::Cp1255},    {"ISO-8859-8-I", CodePage::Cp1255},
        {"windows-1255", CodePage::Cp1255},  {"windows-1256", CodePage::Cp1256},
    };
    for (const auto &[n, p] : names) {
        if (std::strcmp(n, name) == 0) {
            *page = p;
            return true;
        }
    }
    return false;
}

constexpr qsizetype MaxSample = 32 * 1024; // of names kept for the charset detection
constexpr double WeakEvidence = 0.45;     // the least fit a page other than CP437 needs

} // namespace

struct NameCodePage::State
{
    std::optional<CodePage> forced;
    QString locale = QLocale::system().name();
    CodePage chosen = CodePage::Cp437;
    bool allUtf8 = true;
    quint64 names = 0;
    std::array<bool, PageCount> valid{};
    std::array<double, PageCount> fit{};
    double bytes = 0; // of non-ASCII characters, as weighed
    int dosHosts = 0, unixHosts = 0;
    QByteArray sample;
    std::vector<std::unique_ptr<Converter>> checkers;
    std::vector<Decoded> chars;
    mutable std::unique_ptr<Converter> decoder;
};

NameCodePage::NameCodePage() : d(std::make_unique<State>())
{
    d->valid.fill(true);
}
NameCodePage::~NameCodePage() = default;
NameCodePage::NameCodePage(NameCodePage &&) noexcept = default;
NameCodePage &NameCodePage::operator=(NameCodePage &&) noexcept = default;

void NameCodePage::force(CodePage page)
{
    d->forced = page;
}

void NameCodePage::setLocale(const QString &localeName)
{
    d->locale = localeName;
}

void NameCodePage::add(std::string_view raw, int host)
{
    if (std::none_of(raw.begin(), raw.end(), [](char c) { return uint8_t(c) >= 0x80; }))
        return;
    if (d->forced)
        return;
    ++d->names;
    if (host == 0 || host == 11 || host == 14) // MS-DOS / FAT, NTFS, VFAT
        ++d->dosHosts;
    else if (host == 3 || host == 19)
        ++d->unixHosts;
    if (d->sample.size() < MaxSample)
        d->sample.append(raw.data(), qsizetype(raw.size())).append('\n');
    d->allUtf8 = d->allUtf8 && validUtf8(raw);
    if (d->checkers.empty()) {
        for (const PageInfo &p : Pages)
            d->checkers.push_back(std::make_unique<Converter>(p.converter, true));
    }
    double nonAscii = 0;
    for (char c : raw)
        nonAscii += uint8_t(c) >= 0x80 ? 1 : 0;
    d->bytes += nonAscii;
    for (size_t i = 1; i < PageCount; ++i) { // UTF-8 is judged on its own
        if (!d->valid[i])
            continue;
        const PageInfo &page = Pages[i];
        UConverter *cnv = d->checkers[i]->cnv;
        if (!cnv || !decodeChars(cnv, raw, &d->chars)) {
            d->valid[i] = false;
            continue;
        }
        d->fit[i] += page.doubleByte ? doubleByteFit(page, d->chars) : singleByteFit(page, d->chars);
    }
}

void NameCodePage::decide()
{
    d->decoder.reset();
    if (d->forced) {
        d->chosen = *d->forced;
        return;
    }
    d->chosen = CodePage::Cp437;
    if (d->names == 0)
        return;
    if (d->allUtf8) {
        d->chosen = CodePage::Utf8;
        return;
    }
    std::array<double, PageCount> detected{};
    UErrorCode error = U_ZERO_ERROR;
    UCharsetDetector *detector = ucsdet_open(&error);
    if (U_SUCCESS(error)) {
        ucsdet_setText(detector, d->sample.constData(), int32_t(d->sample.size()), &error);
        int32_t found = 0;
        const UCharsetMatch **matches = ucsdet_detectAll(detector, &found, &error);
        for (int32_t m = 0; U_SUCCESS(error) && m < found; ++m) {
            UErrorCode e = U_ZERO_ERROR;
            const char *name = ucsdet_getName(matches[m], &e);
            CodePage page;
            if (U_SUCCESS(e) && name && detectedPage(name, &page)) {
                const size_t i = size_t(&info(page) - Pages);
                detected[i] = std::max(detected[i], ucsdet_getConfidence(matches[m], &e) / 100.0);
            }
        }
        ucsdet_close(detector);
    }
    const std::vector<CodePage> local = localePages(d->locale);
    const bool fromDos = d->dosHosts > d->unixHosts;
    size_t best = 1;
    double bestScore = -1;
    for (size_t i = 1; i < PageCount; ++i) {
        if (!d->valid[i])
            continue;
        const PageInfo &page = Pages[i];
        double score = d->fit[i] / std::max(1.0, d->bytes) + 0.1 * detected[i];
        if (page.page == CodePage::Cp437)
            score += 0.04; // the default holds where the evidence is weak
        if (page.page == CodePage::Cp1252)
            score += 0.005; // before its neighbours where their letters agree
        if (fromDos ? page.oem : !page.oem)
            score += 0.02;
        if (std::find(local.begin(), local.end(), page.page) != local.end())
            score += 0.01;
        if (score > bestScore) {
            bestScore = score;
            best = i;
        }
    }
    if (Pages[best].page != CodePage::Cp437 && d->fit[best] / std::max(1.0, d->bytes) < WeakEvidence)
        best = 1;
    d->chosen = Pages[best].page;
}

CodePage NameCodePage::chosen() const
{
    return d->chosen;
}

bool NameCodePage::readAsLegacy() const
{
    return d->chosen != CodePage::Cp437 && d->chosen != CodePage::Utf8;
}

std::string NameCodePage::decode(std::string_view raw) const
{
    if (d->chosen == CodePage::Utf8)
        return std::string(raw);
    if (!d->decoder)
        d->decoder = std::make_unique<Converter>(info(d->chosen).converter, false);
    UConverter *cnv = d->decoder->cnv;
    if (!cnv)
        return std::string(raw);
    ucnv_resetToUnicode(cnv);
    std::vector<UChar> wide(raw.size() * 2 + 4);
    UErrorCode error = U_ZERO_ERROR;
    const int32_t n = ucnv_toUChars(cnv, wide.data(), int32_t(wide.size()), raw.data(), int32_t(raw.size()), &error);
    if (U_FAILURE(error))
        return std::string(raw);
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(wide.data()), n).toStdString();
}

QString codePageId(CodePage page)
{
    return QString::fromLatin1(info(page).id);
}

QString codePageLabel(CodePage page)
{
    return QString::fromLatin1(info(page).label);
}

bool codePageNamed(const QString &name, CodePage *page)
{
    QString key = name.trimmed().toUpper();
    key.remove(QLatin1Char('-'));
    if (key == u"UTF8") {
        *page = CodePage::Utf8;
        return true;
    }
    if (!key.startsWith(u"CP"))
        key.prepend(u"CP");
    for (const PageInfo &p : Pages) {
        if (key == QLatin1String(p.id)) {
            *page = p.page;
            return true;
        }
    }
    return false;
}

QString knownCodePages()
{
    QStringList ids;
    for (const PageInfo &p : Pages)
        ids << QString::fromLatin1(p.id);
    return ids.join(QStringLiteral(", "));
}

} // namespace pnvzip
