#pragma once
// Documents for the RTF tests and the fuzzing seeds, written by hand the way word processors
// write them (style sheets, list tables, headers, footnotes, fields, tables, Shift-JIS and
// symbol fonts, pictures twice over, floating shapes).

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QTextCursor>
#include <QTextDocument>

namespace RtfSamples {

// The character format of the first character of needle in the document.
inline QTextCharFormat formatOf(const QTextDocument &doc, const QString &needle)
{
    const QTextCursor found = doc.find(needle, 0, QTextDocument::FindCaseSensitively);
    if (found.isNull())
        return {};
    QTextCursor cursor(const_cast<QTextDocument *>(&doc));
    cursor.setPosition(found.selectionStart() + 1);
    return cursor.charFormat();
}

inline QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A two-colour picture whose left half is red and right half blue.
inline QImage halves(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, x < width / 2 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    }
    return image;
}

inline QByteArray hex(const QByteArray &bytes)
{
    QByteArray out = bytes.toHex();
    for (qsizetype i = 128; i < out.size(); i += 129)
        out.insert(i, '\n');
    return out;
}

inline QByteArray littleEndian(quint32 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
    return out;
}

// A Windows metafile that draws a device-independent bitmap (META_STRETCHDIB), as rich-edit
// controls store pasted pictures.
inline QByteArray wmfWithDib(const QByteArray &dib, int width, int height)
{
    QByteArray body = littleEndian(0x00CC0020, 4) + littleEndian(0, 2) + littleEndian(height, 2)
                      + littleEndian(width, 2) + littleEndian(0, 4) + littleEndian(height, 2)
                      + littleEndian(width, 2) + littleEndian(0, 4) + dib;
    if (body.size() % 2)
        body.append('\0');
    const QByteArray record = littleEndian(quint32(body.size() + 6) / 2, 4) + littleEndian(0x0F43, 2) + body;
    const QByteArray end = littleEndian(3, 4) + littleEndian(0, 2);
    const quint32 words = quint32(18 + record.size() + end.size()) / 2;
    return littleEndian(1, 2) + littleEndian(9, 2) + littleEndian(0x0300, 2) + littleEndian(words, 4)
           + littleEndian(0, 2) + littleEndian(quint32(record.size()) / 2, 4) + littleEndian(0, 2) + record + end;
}

// An enhanced metafile with the bitmap in an EMR_STRETCHDIBITS record (24-bit bitmap: a
// 40-byte header and no palette).
inline QByteArray emfWithDib(const QByteArray &dib, int width, int height)
{
    const QByteArray header = dib.left(40);
    const QByteArray bits = dib.mid(40);
    const QByteArray record = littleEndian(81, 4) + littleEndian(quint32(80 + dib.size()), 4) + QByteArray(16, '\0')
                              + littleEndian(0, 16) + littleEndian(width, 4) + littleEndian(height, 4)
                              + littleEndian(80, 4) + littleEndian(40, 4) + littleEndian(120, 4)
                              + littleEndian(quint32(bits.size()), 4) + littleEndian(0, 4)
                              + littleEndian(0x00CC0020, 4) + littleEndian(width, 4) + littleEndian(height, 4)
                              + header + bits;
    return littleEndian(1, 4) + littleEndian(8, 4) + record + littleEndian(14, 4) + littleEndian(20, 4)
           + QByteArray(12, '\0');
}

// What a word processor writes: the text of every paragraph is in wordProcessorText.
inline QByteArray wordProcessorDocument()
{
    const QByteArray png = hex(encoded(halves(30, 15), "PNG"));
    return QByteArray(
        "{\\rtf1\\adeflang1025\\ansi\\ansicpg1252\\uc1\\adeff0\\deff0\\stshfdbch11\\deflang1033\\deflangfe1041\n"
        "{\\fonttbl{\\f0\\froman\\fcharset0\\fprq2{\\*\\panose 02020603050405020304}Times New Roman;}\n"
        "{\\f3\\fbidi \\froman\\fcharset2\\fprq2{\\*\\panose 05050102010706020507}Symbol;}\n"
        "{\\f10\\fbidi \\fnil\\fcharset2\\fprq2 Wingdings;}\n"
        "{\\f11\\fbidi \\fmodern\\fcharset128\\fprq1 \\'82\\'6c\\'82\\'72 \\'96\\'be\\'92\\'a9{\\*\\falt MS Mincho};}\n"
        "{\\f37\\fswiss\\fcharset0\\fprq2 Calibri;}}\n"
        "{\\colortbl;\\red0\\green0\\blue0;\\red0\\green0\\blue255;\\red255\\green0\\blue0;}\n"
        "{\\*\\defchp \\fs22\\lang1033\\langfe1041}{\\*\\defpap \\ql \\li0\\ri0\\sa200\\sl276\\slmult1}\n"
        "{\\stylesheet{\\ql \\li0\\ri0\\sa200\\widctlpar \\fs22\\lang1033 \\snext0 \\sqformat Normal;}\n"
        "{\\*\\cs10 \\additive \\ssemihidden Default Paragraph Font;}}\n"
        "{\\*\\listtable{\\list\\listtemplateid-1{\\listlevel\\levelnfc23\\leveljc0\\levelfollow0\\levelstartat1"
        "{\\leveltext\\leveltemplateid67698689\\'01\\u-3913 ?;}{\\levelnumbers;}\\f3\\fbias0 \\fi-360\\li720 }"
        "{\\listname ;}\\listid1}}\n"
        "{\\*\\listoverridetable{\\listoverride\\listid1\\listoverridecount0\\ls1}}\n"
        "{\\info{\\title Sample title}{\\author Somebody}{\\creatim\\yr2024\\mo1\\dy2\\hr3\\min4}{\\version1}}\n"
        "{\\*\\xmlnstbl {\\xmlns1 http://schemas.example.com/wordml}}\n"
        "\\paperw12240\\paperh15840\\margl1440\\margr1440\\widowctrl\\ftnbj\\aenddoc\n"
        "{\\*\\themedata 504b030414000600080000002100e9de0fbfff0000001c020000130000}\n"
        "\\sectd \\ltrsect\\linex0\\endnhere\\sectlinegrid360\n"
        "{\\header \\ltrpar \\pard\\plain \\ltrpar\\s15\\ql HeaderWords\\par }\n"
        "{\\footer \\ltrpar \\pard\\plain \\ltrpar\\s16\\ql FooterWords {\\field{\\*\\fldinst {PAGE }}{\\fldrslt {1}}}\\par }\n"
        "{\\*\\pnseclvl1\\pnucrm\\pnstart1\\pnindent720\\pnhang {\\pntxta .}}\n"
        "\\pard\\plain \\ltrpar\\ql \\li0\\ri0\\sa200\\sl276\\slmult1\\widctlpar\\rin0\\lin0\\itap0 \\rtlch\\fcs1 "
        "\\af0\\afs22 \\ltrch\\fcs0 \\f37\\fs22\\lang1033\\langfe1041 {\\rtlch\\fcs1 \\af0 \\ltrch\\fcs0 \\b\\insrsid1 "
        "Title line}{\\rtlch\\fcs1 \\af0 \\ltrch\\fcs0 \\insrsid1 \\par }\n"
        "\\pard \\ltrpar\\qc Centred with a footnote{\\cs17\\super\\chftn}{\\footnote \\ltrpar \\pard\\plain "
        "\\ltrpar\\s18 {\\cs17\\super\\chftn } FootnoteWords}.\\par\n"
        "\\pard \\ltrpar\\ql {\\f11\\fs24 \\'93\\'fa\\'96\\'7b\\'8c\\'ea}{ and }{\\f11 \\uc2\\u26085\\'93\\'fa\\u26412\\'96\\'7b}\\par\n"
        "{\\listtext\\pard\\plain\\ltrpar \\f3\\fs22 \\loch\\af3\\hich\\af3\\dbch\\af11 \\'b7\\tab}\\pard\\plain "
        "\\ltrpar\\ql \\fi-360\\li720\\ls1 First bullet\\par\n"
        "{\\listtext\\pard\\plain\\ltrpar \\f3 \\'b7\\tab}Second bullet\\par\n"
        "\\pard\\ltrpar\\ql Symbols: {\\f3 \\'61\\'62\\'b7} and {\\f10 \\'fc}\\par\n"
        "\\pard\\ltrpar\\ql Link: {\\field{\\*\\fldinst {\\rtlch\\fcs1 \\af0 \\ltrch\\fcs0  HYPERLINK "
        "\"http://example.org/page\" }}{\\fldrslt {\\rtlch\\fcs1 \\af0 \\ltrch\\fcs0 \\cs15\\ul\\cf2 Example site}}}\\par\n"
        "\\trowd \\irow0\\irowband0\\ltrrow\\ts11\\trgaph108\\trleft-108\\trbrdrt\\brdrs\\brdrw10 \\clvertalt"
        "\\clbrdrt\\brdrs\\brdrw10 \\cltxlrtb\\clftsWidth3\\clwWidth4788 \\cellx4680\\clvertalt\\cltxlrtb"
        "\\clftsWidth3\\clwWidth4788 \\cellx9468\\pard\\plain \\ltrpar\\ql \\li0\\ri0\\widctlpar\\intbl "
        "{Cell A1}\\cell {Cell B1}\\cell \\pard\\plain \\ltrpar\\ql \\widctlpar\\intbl {\\trowd \\irow0\\cellx4680"
        "\\cellx9468\\row }\n"
        "\\trowd \\irow1\\cellx4680\\cellx9468\\pard\\plain \\ltrpar\\intbl {Cell A2}\\cell \\cell \\pard "
        "\\ltrpar\\intbl {\\trowd \\irow1\\cellx4680\\cellx9468\\row }\n"
        "\\pard\\plain\\ltrpar Picture: {\\*\\shppict{\\pict{\\*\\picprop\\shplid1025{\\sp{\\sn shapeType}{\\sv 75}}}"
        "\\picscalex50\\picscaley50\\piccropl0\\piccropr0\\picw2117\\pich1058\\picwgoal1200\\pichgoal600"
        "\\pngblip\\bliptag255{\\*\\blipuid 0123456789abcdef}\n")
        + png
        + "}}{\\nonshppict{\\pict\\picscalex50\\picscaley50\\picw2117\\pich1058\\picwgoal1200\\pichgoal600"
          "\\wmetafile8\\bliptag255 0100090000036c00000000004600000000000500}}\\par\n"
          "\\pard\\plain Floating: {\\shp{\\*\\shpinst\\shpleft0\\shptop0\\shpright1200\\shpbottom600"
          "{\\sp{\\sn shapeType}{\\sv 75}}{\\sp{\\sn pib}{\\sv {\\pict\\picscalex100\\picscaley100\\picw2117"
          "\\pich1058\\picwgoal600\\pichgoal300\\pngblip\n"
        + png
        + "}}}}{\\shprslt{\\*\\do\\dobxcolumn\\dobypara\\dodhgt8192\\dptxbx{\\dptxbxtext\\pard FallbackWords"
          "\\par}}}} after shape\\par\n"
          "\\pard {\\upr{Ansi version}{\\*\\ud{Unicode \\u8364? version}}}\\par\n"
          "{\\*\\bkmkstart mark}Bookmarked{\\*\\bkmkend mark} {\\v HiddenWords}visible\\par\n"
          "Last paragraph \\emdash  no mark}";
}

inline QStringList wordProcessorText()
{
    return {
        QStringLiteral("Title line"),
        QStringLiteral("Centred with a footnote."),
        QStringLiteral("日本語 and 日本"),
        QStringLiteral("•\tFirst bullet"),
        QStringLiteral("•\tSecond bullet"),
        QStringLiteral("Symbols: αβ• and ✓"),
        QStringLiteral("Link: Example site"),
        QStringLiteral("Cell A1\tCell B1"),
        QStringLiteral("Cell A2\t"),
        QStringLiteral("Picture: "),
        QStringLiteral("Floating:  after shape"),
        QStringLiteral("Unicode € version"),
        QStringLiteral("Bookmarked visible"),
        QStringLiteral("Last paragraph — no mark"),
    };
}

// Short documents, one construct each, for the fuzzing seeds.
inline QList<QByteArray> snippets()
{
    const QImage picture = halves(4, 2);
    const QByteArray dib = encoded(picture, "BMP").mid(14);
    return {
        "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset2 Symbol;}}{\\colortbl;\\red255\\green0\\blue0;}"
        "\\pard\\qc\\f0\\fs28\\b bold\\b0\\i it\\i0\\ul u\\ulnone\\strike s\\strike0\\cf1 red\\highlight1 x\\par"
        "\\pard\\qr\\li720\\fi-360 right\\line next\\tab t\\par\\pard\\qj {\\f1 \\'61}}",
        "{\\rtf1\\ansi\\ansicpg932\\deff0{\\fonttbl{\\f0\\fcharset0 Arial;}}{\\b\\*\\cs7 caf\\'e9}{\\scaps s}{\\caps c}"
        "x\\up8 2\\dn2 3\\up0 \\trowd\\clvmgf\\cellx3008\\cellx9240\\pard\\intbl a\\cell b\\cell\\row"
        "\\trowd\\clvmrg\\cellx3011\\cellx9243\\pard\\intbl\\cell c\\cell\\row\\trowd\\clvmrg\\cellx3004\\cellx9260"
        "\\pard\\intbl\\cell d\\cell\\row\\trowd\\cellx3020\\cellx3030\\cellx9240\\pard\\intbl e\\cell f\\cell g\\cell\\row}",
        "{\\rtf1\\ansi\\ansicpg1251 \\'c0\\'e1\\uc2\\u1040\\'c0\\'c0\\uc0\\u-10179\\u-8704 \\u55357}",
        "{\\rtf1{\\fonttbl{\\f0\\fcharset128 \\'82\\'6c;}}\\f0 \\'93\\'fa\\'96}",
        "{\\rtf1 {\\field{\\*\\fldinst HYPERLINK \"http://a/\" \\\\l \"b\"}{\\fldrslt link}}{\\*\\unknown x}"
        "{\\upr{a}{\\*\\ud{b}}}\\trowd\\cellx1\\intbl a\\cell b\\cell\\row c\\nestcell\\nestrow}",
        "{\\rtf1{\\pict\\pngblip\\picwgoal60\\pichgoal30 " + encoded(picture, "PNG").toHex() + "}}",
        "{\\rtf1{\\pict\\jpegblip\\picscalex200\\picscaley50 " + encoded(picture, "JPEG").toHex() + "}}",
        "{\\rtf1{\\pict\\dibitmap0\\picw4\\pich2 " + dib.toHex() + "}}",
        "{\\rtf1{\\pict\\wbitmap0\\picw8\\pich2\\wbmbitspixel1\\wbmplanes1\\wbmwidthbytes2 f00f0ff0}}",
        "{\\rtf1{\\pict\\wbitmap0\\picw8\\pich2\\wbmbitspixel2\\wbmplanes2147483647 f00f0ff0}}",
        "{\\rtf1{\\pict\\pngblip\\bin" + QByteArray::number(encoded(picture, "PNG").size()) + " "
            + encoded(picture, "PNG") + "}}",
        "{\\rtf1{\\pict\\pngblip{\\*\\blipuid 0011}{\\bin" + QByteArray::number(encoded(picture, "PNG").size()) + " "
            + encoded(picture, "PNG") + "}}}",
        "{\\rtf1{\\pict\\pngblip{\\bin9 {}\\bin2 x}{\\bin99999 }}",
        "{\\rtf1{\\pict\\wmetafile8\\picw106\\pich53 " + wmfWithDib(dib, 4, 2).toHex() + "}}",
        "{\\rtf1{\\pict\\emfblip\\picwgoal60\\pichgoal30 " + emfWithDib(dib, 4, 2).toHex() + "}}",
        "{\\rtf1{\\*\\shppict{\\pict\\pngblip " + encoded(picture, "PNG").toHex()
            + "}}{\\nonshppict{\\pict\\wmetafile8 0100}}\\page\\sect x}",
        // Tables: merges across and down, rows of other widths, a table in a cell.
        "{\\rtf1{\\colortbl;\\red0\\green0\\blue255;}\\trowd\\trgaph108\\trleft-108\\clvmgf\\clbrdrt\\brdrs\\cellx1000"
        "\\clmgf\\cellx2000\\clmrg\\clcbpat1\\cellx3000\\pard\\intbl a\\cell b\\cell\\cell\\row\\trowd\\clvmrg\\cellx1000"
        "\\cellx1500\\cellx3000\\pard\\intbl\\cell c\\par d\\cell\\pard\\intbl\\itap2 e\\nestcell f\\nestcell"
        "{\\*\\nesttableprops\\trowd\\cellx400\\cellx800\\nestrow}{\\nonesttables e f\\par}\\pard\\intbl\\itap1 g\\cell"
        "\\row\\pard after\\par}",
        // Lists: a list table with two levels, its \\listtext, and old-style numbering.
        "{\\rtf1{\\*\\listtable{\\list\\listtemplateid1{\\listlevel\\levelnfc0\\levelstartat3{\\leveltext\\'02\\'00);}"
        "{\\levelnumbers\\'01;}}{\\listlevel\\levelnfc23{\\leveltext\\'01\\u8226 ?;}{\\levelnumbers;}}\\listid7}}"
        "{\\*\\listoverridetable{\\listoverride\\listid7\\listoverridecount0\\ls1}}"
        "{\\listtext 3)\\tab}\\pard\\ls1\\ilvl0 one\\par{\\listtext \\u8226 ?\\tab}\\pard\\ls1\\ilvl1 inner\\par"
        "{\\pntext iv.\\tab}\\pard{\\*\\pn\\pnlvlbody\\pnlcrm\\pnstart4{\\pntxta .}}old\\par\\pard plain}",
        // Cell edges beyond any page, a merge at the edge; a list number with a long suffix.
        "{\\rtf\\intbl l\\row\\l\\cell\\cell\\s\\cellx1000000\\clmgf\\cellx\\clmrg\\cellx\\cell}",
        "{\\rtf\\cellx3000\\intbl\\cell\\row\\trowd\\cellx\\cell\\cell\\cell\\l\\itap2b\\cell\\row c}",
        "{\\rtf1{\\*\\listtable{\\list{\\listlevel\\levelnfc0{\\leveltext\\'02\\'00" + QByteArray(40, 'x')
            + ";}}\\listid1}}{\\*\\listoverridetable{\\listoverride\\listid1\\ls1}}\\pard\\ls1 one}",
        // Rows whose cells lack \\intbl, and a row definition no cell follows.
        "{\\rtf1 a\\par\\trowd\\cellx1000\\cellx2000 b\\cell c\\par d\\cell\\row\\trowd\\cellx900\\pard e\\cell\\row"
        "\\pard f\\par\\trowd\\cellx500 g\\par\\intbl h\\cell\\row}",
        // A list whose override is number 0, and paragraphs naming 0 where no override 0 exists.
        "{\\rtf1{\\*\\listtable{\\list\\listid5{\\listlevel\\levelnfc4\\levelstartat2}}}{\\*\\listoverridetable"
        "{\\listoverride\\listid5\\listoverridecount0\\ls0}}\\pard\\ls0 a\\par\\ls0\\ilvl3 b\\par\\ls-4 c\\par\\pard d}",
        "{\\rtf1\\pard\\ls0 a\\par{\\*\\listoverridetable{\\listoverride\\ls0}}\\ls0 b}",
        // Paragraph layout and Mac code pages.
        "{\\rtf1\\mac{\\fonttbl{\\f0\\fcharset77 T;}{\\f1\\fcharset78 O;}{\\f2\\fcharset84 A;}}\\pard\\sl-360\\slmult0"
        "\\tqr\\tldot\\tx2000\\tqc\\tx4000\\tqdec\\tx5000 \\f0 \\'8e\\tab{\\f1 \\'93\\'fa}\\tab{\\f2 \\'c7}\\par"
        "\\pard\\sl480\\slmult1\\pagebb x\\page y}",
    };
}

// Lists whose numbers Qt's own lists cannot show, and the text a word processor shows for them
// (each item's number, a tab, its text).
struct ListSample
{
    const char *name;
    QByteArray rtf;
    QString text;
};

inline QList<ListSample> listNumbering()
{
    const QByteArray outline = "{\\*\\listtable{\\list{\\listlevel\\levelnfc0{\\leveltext\\'02\\'00.;}{\\levelnumbers\\'01;}}"
                               "{\\listlevel\\levelnfc0{\\leveltext\\'04\\'00.\\'01.;}{\\levelnumbers\\'01\\'03;}}"
                               "{\\listlevel\\levelnfc0{\\leveltext\\'06\\'00.\\'01.\\'02.;}{\\levelnumbers\\'01\\'03\\'05;}}"
                               "\\listid1}}{\\*\\listoverridetable{\\listoverride\\listid1\\listoverridecount0\\ls1}}";
    return {
        {"list starting at 3",
         "{\\rtf1{\\*\\listtable{\\list{\\listlevel\\levelnfc0\\levelstartat3{\\leveltext\\'02\\'00.;}}\\listid1}}"
         "{\\*\\listoverridetable{\\listoverride\\listid1\\ls1}}{\\listtext 3.\\tab}\\pard\\ls1 a\\par"
         "{\\listtext 4.\\tab}\\ls1 b\\par\\pard c}",
         QStringLiteral("3.\ta\n4.\tb\nc")},
        {"outline numbers",
         "{\\rtf1" + outline + "\\pard\\ls1 a\\par b\\par\\ilvl1 c\\par\\ilvl2 d\\par e\\par f\\par\\ilvl1 g\\par"
                               "\\ilvl0 h\\par\\ilvl1 i}",
         QStringLiteral("1.\ta\n2.\tb\n2.1.\tc\n2.1.1.\td\n2.1.2.\te\n2.1.3.\tf\n2.2.\tg\n3.\th\n3.1.\ti")},
        {"a level counts again after an item above",
         "{\\rtf1{\\*\\listtable{\\list{\\listlevel\\levelnfc0{\\leveltext\\'02\\'00.;}}{\\listlevel\\levelnfc4"
         "{\\leveltext\\'02\\'01.;}}\\listid1}}{\\*\\listoverridetable{\\listoverride\\listid1\\ls1}}"
         "\\pard\\ls1 one\\par\\ilvl1 x\\par y\\par\\ilvl0 two\\par\\ilvl1 z}",
         QStringLiteral("1.\tone\na.\tx\nb.\ty\n2.\ttwo\na.\tz")},
        {"text before the number",
         "{\\rtf1{\\*\\listtable{\\list{\\listlevel\\levelnfc4{\\leveltext\\'03(\\'00);}}\\listid1}}"
         "{\\*\\listoverridetable{\\listoverride\\listid1\\ls1}}\\pard\\ls1 x\\par y}",
         QStringLiteral("(a)\tx\n(b)\ty")},
        {"number formats Qt lacks",
         "{\\rtf1{\\*\\listtable{\\list{\\listlevel\\levelnfc22{\\leveltext\\'02\\'00.;}}\\listid1}"
         "{\\list{\\listlevel\\levelnfc5{\\leveltext\\'01\\'00;}}\\listid2}}{\\*\\listoverridetable"
         "{\\listoverride\\listid1\\ls1}{\\listoverride\\listid2\\ls2}}\\pard\\ls1 a\\par b\\par\\ls2 c\\par d}",
         QStringLiteral("01.\ta\n02.\tb\n1st\tc\n2nd\td")},
        {"list text the list cannot give",
         "{\\rtf1{\\*\\listtable{\\list{\\listlevel\\levelnfc14{\\leveltext\\'02\\'00.;}}\\listid1}}"
         "{\\*\\listoverridetable{\\listoverride\\listid1\\ls1}}{\\listtext \\u19968?.\\tab}\\pard\\ls1 a\\par"
         "{\\listtext \\u20108?.\\tab}b\\par c}",
         QStringLiteral("一.\ta\n二.\tb\n3.\tc")},
        {"old numbering starting at 4",
         "{\\rtf1{\\pntext iv)\\tab}{\\*\\pn\\pnlvlbody\\pnlcrm\\pnstart4{\\pntxta )}}a\\par{\\pntext v)\\tab}"
         "{\\*\\pn\\pnlvlbody\\pnlcrm\\pnstart4{\\pntxta )}}b\\par\\pard c}",
         QStringLiteral("iv)\ta\nv)\tb\nc")},
        {"old numbering after the level above",
         "{\\rtf1\\pard{\\*\\pn\\pnlvlbody\\pndec\\pnstart3{\\pntxta .}}a\\par\\pard{\\*\\pn\\pnlvl2\\pndec\\pnprev"
         "{\\pntxta .}}b\\par c\\par\\pard{\\*\\pn\\pnlvlbody\\pndec\\pnstart3{\\pntxta .}}d\\par\\pard"
         "{\\*\\pn\\pnlvl2\\pndec\\pnprev{\\pntxta .}}e}",
         QStringLiteral("3.\ta\n3.1.\tb\n3.2.\tc\n4.\td\n4.1.\te")},
    };
}

} // namespace RtfSamples
