// The RTF reader on documents written by hand: formatting, code pages and Unicode, the
// destinations word processors write, tables and lists, every kind of picture, and input
// meant to break it.

#include "rtf.h"
#include "rtfpicture.h"
#include "rtfreader.h"
#include "rtfsamples.h"
#include "testenv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>
#include <QUrl>
#include <QtTest>

namespace {

using RtfSamples::formatOf;

QString textOf(const QByteArray &rtf)
{
    QTextDocument doc;
    if (!Rtf::read(rtf, &doc))
        return QStringLiteral("<not read>");
    return Rtf::plainText(&doc);
}

struct ImageInfo
{
    QImage image;
    QSizeF shown;
};

QList<ImageInfo> imagesOf(const QTextDocument &doc)
{
    QList<ImageInfo> images;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (!format.isImageFormat())
                continue;
            const QTextImageFormat image = format.toImageFormat();
            images.append({doc.resource(QTextDocument::ImageResource, QUrl(image.name())).value<QImage>(),
                           QSizeF(image.width(), image.height())});
        }
    }
    return images;
}

QList<QTextTable *> tablesOf(QTextDocument &doc)
{
    QList<QTextTable *> tables;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        QTextTable *table = QTextCursor(block).currentTable();
        if (table && !tables.contains(table))
            tables.append(table);
    }
    return tables;
}

QByteArray wrap(const QByteArray &body)
{
    return "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}" + body + "}";
}

} // namespace

class TestRtfReader : public QObject
{
    Q_OBJECT

private slots:
    void characterFormatting();
    void paragraphs();
    void codePages_data();
    void codePages();
    void unicode_data();
    void unicode();
    void destinations_data();
    void destinations();
    void hyperlinks();
    void tables();
    void wordProcessorDocument();
    void pictures_data();
    void pictures();
    void picturesLeftOut_data();
    void picturesLeftOut();
    void notRtf();
    void replacesDocument();
    void hostileInput_data();
    void hostileInput();
    void everyPrefixReads();
    void largeInputsStayFast();
};

void TestRtfReader::characterFormatting()
{
    QTextDocument doc;
    QVERIFY(Rtf::read("{\\rtf1\\ansi\\deff1{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\froman Times New Roman;}}"
                      "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green128\\blue0;\\red255\\green255\\blue0;}"
                      "plain {\\b bold}{\\b\\b0 notbold} {\\i italic} {\\ul under}{\\ul\\ulnone noline}{\\ul\\ul0 "
                      "noline2} {\\uldash dashed} {\\strike struck}{\\strike\\strike0 unstruck} {\\f0\\fs40 big arial}"
                      " {\\cf1 red}{\\cf1\\cf0 auto} {\\highlight3 yellowbg} {\\cb2 greenbg} {\\chcbpat1 redbg}"
                      " {\\b\\i\\f0 both\\plain reset} {\\super sup}{\\sub sub} {\\scaps small}{\\caps upper}"
                      "{\\caps\\caps0 mixed} {\\up8 raised}{\\dn2 lowered}{\\up8\\up0 level}}",
                      &doc));
    QCOMPARE(Rtf::plainText(&doc), QStringLiteral("plain boldnotbold italic undernolinenoline2 dashed "
                                                  "struckunstruck big arial redauto yellowbg greenbg redbg "
                                                  "bothreset supsub smallupper" "mixed raisedloweredlevel"));

    const QTextCharFormat plain = formatOf(doc, QStringLiteral("plain"));
    // Text in the default font (\deff1) at the default size keeps both: saved again, it has
    // them, whatever the editor's base font.
    QCOMPARE(plain.fontFamilies().toStringList(), QStringList{QStringLiteral("Times New Roman")});
    QCOMPARE(plain.fontPointSize(), 12.0);
    QVERIFY(!plain.hasProperty(QTextFormat::FontWeight));
    QVERIFY(!plain.hasProperty(QTextFormat::FontItalic));
    QVERIFY(!plain.hasProperty(QTextFormat::ForegroundBrush));
    QVERIFY(!plain.hasProperty(QTextFormat::BackgroundBrush));

    QCOMPARE(formatOf(doc, QStringLiteral("bold")).fontWeight(), int(QFont::Bold));
    QCOMPARE(formatOf(doc, QStringLiteral("notbold")).fontWeight(), int(QFont::Normal));
    QVERIFY(formatOf(doc, QStringLiteral("italic")).fontItalic());
    QCOMPARE(formatOf(doc, QStringLiteral("under")).underlineStyle(), QTextCharFormat::SingleUnderline);
    QCOMPARE(formatOf(doc, QStringLiteral("noline")).underlineStyle(), QTextCharFormat::NoUnderline);
    QCOMPARE(formatOf(doc, QStringLiteral("noline2")).underlineStyle(), QTextCharFormat::NoUnderline);
    QCOMPARE(formatOf(doc, QStringLiteral("dashed")).underlineStyle(), QTextCharFormat::DashUnderline);
    QVERIFY(formatOf(doc, QStringLiteral("struck")).fontStrikeOut());
    QVERIFY(!formatOf(doc, QStringLiteral("unstruck")).fontStrikeOut());
    const QTextCharFormat big = formatOf(doc, QStringLiteral("big arial"));
    QCOMPARE(big.fontFamilies().toStringList(), QStringList{QStringLiteral("Arial")});
    QCOMPARE(big.fontPointSize(), 20.0);
    QCOMPARE(formatOf(doc, QStringLiteral("red")).foreground().color(), QColor(255, 0, 0));
    QVERIFY(!formatOf(doc, QStringLiteral("auto")).hasProperty(QTextFormat::ForegroundBrush));
    QCOMPARE(formatOf(doc, QStringLiteral("yellowbg")).background().color(), QColor(255, 255, 0));
    QCOMPARE(formatOf(doc, QStringLiteral("greenbg")).background().color(), QColor(0, 128, 0));
    QCOMPARE(formatOf(doc, QStringLiteral("redbg")).background().color(), QColor(255, 0, 0));
    const QTextCharFormat both = formatOf(doc, QStringLiteral("both"));
    QVERIFY(both.fontWeight() == QFont::Bold && both.fontItalic());
    const QTextCharFormat reset = formatOf(doc, QStringLiteral("reset"));
    QVERIFY(reset.fontWeight() == QFont::Normal && !reset.fontItalic());
    QCOMPARE(reset.fontFamilies().toStringList(), QStringList{QStringLiteral("Times New Roman")}); // \plain: the default font
    QCOMPARE(formatOf(doc, QStringLiteral("sup")).verticalAlignment(), QTextCharFormat::AlignSuperScript);
    QCOMPARE(formatOf(doc, QStringLiteral("sub")).verticalAlignment(), QTextCharFormat::AlignSubScript);
    QCOMPARE(formatOf(doc, QStringLiteral("small")).fontCapitalization(), QFont::SmallCaps);
    QCOMPARE(formatOf(doc, QStringLiteral("upper")).fontCapitalization(), QFont::AllUppercase);
    QCOMPARE(formatOf(doc, QStringLiteral("mixed")).fontCapitalization(), QFont::MixedCase);
    QCOMPARE(formatOf(doc, QStringLiteral("raised")).verticalAlignment(), QTextCharFormat::AlignSuperScript);
    QCOMPARE(formatOf(doc, QStringLiteral("lowered")).verticalAlignment(), QTextCharFormat::AlignSubScript);
    QCOMPARE(formatOf(doc, QStringLiteral("level")).verticalAlignment(), QTextCharFormat::AlignNormal);
}

void TestRtfReader::paragraphs()
{
    QTextDocument doc;
    QVERIFY(Rtf::read(wrap("\\pard\\qc centre\\par \\pard\\qr right\\par \\pard\\qj\\li720\\ri360\\fi-360\\sb240\\sa120 "
                           "justified\\par \\pard left\\line second line\\tab tabbed\\par\\page after page\\par "
                           "{\\qc grouped\\par}\\pard\\qr last"),
                      &doc));
    const QStringList blocks = doc.toRawText().split(QChar::ParagraphSeparator);
    QCOMPARE(blocks, (QStringList{QStringLiteral("centre"), QStringLiteral("right"), QStringLiteral("justified"),
                                  QStringLiteral("left\u2028second line\ttabbed"), QStringLiteral("after page"),
                                  QStringLiteral("grouped"), QStringLiteral("last")}));
    const auto block = [&doc](int n) { return doc.findBlockByNumber(n).blockFormat(); };
    QCOMPARE(block(0).alignment(), Qt::AlignHCenter);
    QCOMPARE(block(1).alignment(), Qt::AlignRight);
    QCOMPARE(block(2).alignment(), Qt::AlignJustify);
    QCOMPARE(block(2).leftMargin(), 48.0); // twips / 15 = pixels at 96 dpi
    QCOMPARE(block(2).rightMargin(), 24.0);
    QCOMPARE(block(2).textIndent(), -24.0);
    QCOMPARE(block(2).topMargin(), 16.0);
    QCOMPARE(block(2).bottomMargin(), 8.0);
    QCOMPARE(block(3).alignment(), Qt::AlignLeft);
    QCOMPARE(block(3).leftMargin(), 0.0);
    QCOMPARE(block(4).pageBreakPolicy(), QTextFormat::PageBreak_AlwaysBefore);
    QCOMPARE(block(5).alignment(), Qt::AlignHCenter); // the \par inside the group saw \qc
    QCOMPARE(block(6).alignment(), Qt::AlignRight);   // last paragraph without a mark

    // The last paragraph mark ends the last paragraph; an empty paragraph before it stays.
    QCOMPARE(textOf(wrap("one\\par")), QStringLiteral("one"));
    QCOMPARE(textOf(wrap("one\\par\\par")), QStringLiteral("one\n"));
    QCOMPARE(textOf(wrap("")), QString());
    QCOMPARE(textOf(wrap("a\\\nb")), QStringLiteral("a\nb")); // backslash + line end is \par
    QCOMPARE(textOf(wrap("a\r\nb c")), QStringLiteral("ab c"));
}

void TestRtfReader::codePages_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("text");
    QTest::newRow("cp1252 by default") << QByteArray("{\\rtf1 caf\\'e9 \\'80 \\'93q\\'94}") << QStringLiteral("café € “q”");
    QTest::newRow("ansicpg1251") << QByteArray("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}") << QStringLiteral("При");
    QTest::newRow("raw 8-bit bytes") << QByteArray("{\\rtf1\\ansi caf\xe9}") << QStringLiteral("café");
    QTest::newRow("mac") << QByteArray("{\\rtf1\\mac caf\\'8e}") << QStringLiteral("café");
    QTest::newRow("font charset 204 overrides") << QByteArray("{\\rtf1\\ansi{\\fonttbl{\\f0 A;}{\\f1\\fcharset204 B;}}"
                                                              "\\'e0{\\f1 \\'e0}}")
                                                << QStringLiteral("àа");
    for (const char *page : {"932", "936", "949", "950"}) {
        QTest::addRow("Western font in ansicpg%s", page)
            << QByteArray("{\\rtf1\\ansi\\ansicpg") + page + "\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}"
                                                          "caf\\'e9 M\\'fcnchen espa\\'f1ola}"
            << QStringLiteral("café München española");
    }
    QTest::newRow("font cpg") << QByteArray("{\\rtf1{\\fonttbl{\\f1\\cpg1253 G;}}\\f1 \\'e1}") << QStringLiteral("α");
    QTest::newRow("shift-jis pairs") << QByteArray("{\\rtf1{\\fonttbl{\\f1\\fcharset128 M;}}\\f1 \\'93\\'fa\\'96\\'7b a\\'82\\'a0}")
                                     << QStringLiteral("日本 aあ");
    QTest::newRow("broken shift-jis") << QByteArray("{\\rtf1{\\fonttbl{\\f1\\fcharset128 M;}}\\f1 \\'93}")
                                      << QStringLiteral("\uFFFD");
    QTest::newRow("gbk") << QByteArray("{\\rtf1{\\fonttbl{\\f1\\fcharset134 S;}}\\f1 \\'d6\\'d0}") << QStringLiteral("中");
    QTest::newRow("symbol bytes") << QByteArray("{\\rtf1{\\fonttbl{\\f1\\fcharset2 Symbol;}}{\\f1 \\'61\\'44\\'b7\\'a5}x}")
                                  << QStringLiteral("αΔ•∞x");
    QTest::newRow("symbol as unicode") << QByteArray("{\\rtf1{\\fonttbl{\\f1\\fcharset2 Symbol;}}{\\f1 \\u-3999\\'61}}")
                                       << QStringLiteral("α");
    QTest::newRow("wingdings") << QByteArray("{\\rtf1{\\fonttbl{\\f1\\fcharset2 Wingdings;}}{\\f1 \\'fc\\'a7}}")
                               << QStringLiteral("✓▪");
    QTest::newRow("other symbol font") << QByteArray("{\\rtf1{\\fonttbl{\\f1\\fcharset2 Dingbats;}}{\\f1 \\'41}}")
                                       << QStringLiteral("\uF041");
    QTest::newRow("unknown code page") << QByteArray("{\\rtf1\\ansicpg99999 \\'e9}") << QStringLiteral("é");
    // Bytes a code page leaves undefined are U+FFFD, never control characters.
    QTest::newRow("undefined in cp1252") << QByteArray("{\\rtf1\\ansi a\\'81b\\'9dc}") << QStringLiteral("a\uFFFDb\uFFFDc");
    QTest::newRow("undefined in cp874") << QByteArray("{\\rtf1\\ansi\\ansicpg874 \\'a1\\'db}") << QStringLiteral("\u0E01\uFFFD");
    // Mac font charsets: Roman, Japanese (Shift-JIS), Greek and Cyrillic, Central European,
    // Hebrew and Arabic (letters, a right-to-left parenthesis and digit, a sequence's base letter).
    QTest::newRow("mac charsets") << QByteArray("{\\rtf1\\mac{\\fonttbl{\\f0\\fcharset77 Times;}{\\f1\\fcharset78 Osaka;}"
                                                "{\\f2\\fcharset85 G;}{\\f3\\fcharset89 C;}{\\f4\\fcharset88 E;}{\\f5\\fcharset83 H;}"
                                                "{\\f6\\fcharset84 A;}}"
                                                "\\f0 \\'8e\\'d2 {\\f1 \\'93\\'fa\\'96\\'7b\\'8c\\'ea} {\\f2 \\'e1} {\\f3 \\'80} {\\f4 \\'87} "
                                                "{\\f5 a\\'e0\\'f9\\'a8\\'a6\\'c0\\'81} {\\f6 \\'c7\\'e4\\'b3\\'a8\\'bf}}")
                                  << QStringLiteral("é“ 日本語 α А á a\u05D0\u05E9)\u20AA\u05DC\u05F2 \u0627\u0644\u0663(\u061F");
    QTest::newRow("ansicpg of Mac Hebrew") << QByteArray("{\\rtf1\\mac\\ansicpg10005 \\'e0\\'b1}") << QStringLiteral("\u05D01");
    QTest::newRow("mac text editor document")
        << QByteArray("{\\rtf1\\mac\\ansicpg10000\\cocoartf102{\\fonttbl\\f0\\fswiss\\fcharset77 Helvetica;"
                      "\\f1\\fnil\\fcharset78 Osaka\\'81\\'7c\\'93\\'99\\'95\\'9d;}\n{\\colortbl;\\red255\\green255\\blue255;}\n"
                      "\\margl1440\\margr1440\\vieww9000\\viewh8400\\viewkind0\n"
                      "\\pard\\tx560\\tx1120\\ql\\qnatural\n\n\\f0\\fs24 \\cf0 Caf\\'8e cr\\'8fme br\\'9el\\'8ee \\'d2quoted\\'d3\\\n"
                      "\\f1 \\'93\\'fa\\'96\\'7b\\'8c\\'ea\\'82\\'cc\\'95\\'b6\\'8f\\'cd\\f0 \\'a5}")
        << QStringLiteral("Café crème brûlée “quoted”\n日本語の文章•");
    QTest::newRow("ansicpg of Mac Japanese") << QByteArray("{\\rtf1\\mac\\ansicpg10001 \\'82\\'a0}") << QStringLiteral("あ");
    QTest::newRow("oem 737") << QByteArray("{\\rtf1\\pc\\ansicpg737 \\'80}") << QStringLiteral("Α");
}

void TestRtfReader::codePages()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, text);
    QCOMPARE(textOf(rtf), text);
}

void TestRtfReader::unicode_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("text");
    QTest::newRow("uc1 skips the fallback") << QByteArray("{\\rtf1 \\u233?\\u8364?}") << QStringLiteral("é€");
    QTest::newRow("negative values") << QByteArray("{\\rtf1 \\u-156?}") << QStringLiteral("\uFF64");
    QTest::newRow("uc2 with hex fallbacks") << QByteArray("{\\rtf1\\uc2 \\u26085\\'93\\'fa!}") << QStringLiteral("日!");
    QTest::newRow("uc0 skips nothing") << QByteArray("{\\rtf1\\uc0 \\u26085 x}") << QStringLiteral("日x");
    QTest::newRow("control word as fallback") << QByteArray("{\\rtf1 \\u8212\\emdash x}") << QStringLiteral("—x");
    QTest::newRow("group end stops skipping") << QByteArray("{\\rtf1\\uc3 {\\u233}ab}") << QStringLiteral("éab");
    QTest::newRow("uc is per group") << QByteArray("{\\rtf1 {\\uc2 \\u233??}\\u233?x}") << QStringLiteral("ééx");
    QTest::newRow("surrogate pair, skipped fallbacks") << QByteArray("{\\rtf1 \\u-10179?\\u-8704?!}")
                                                       << QStringLiteral("😀!");
    QTest::newRow("surrogate pair, uc changes between")
        << QByteArray("{\\rtf1 \\uc0 \\u55357\\uc1 \\u56832\\'3f}") << QStringLiteral("😀");
    QTest::newRow("lone high surrogate") << QByteArray("{\\rtf1 \\u-10179?x}") << QStringLiteral("\uFFFDx");
    QTest::newRow("lone low surrogate") << QByteArray("{\\rtf1 x\\u-8704?}") << QStringLiteral("x\uFFFD");
    QTest::newRow("high at the end") << QByteArray("{\\rtf1 x\\u-10179?}") << QStringLiteral("x\uFFFD");
    QTest::newRow("escapes and specials")
        << QByteArray("{\\rtf1 \\{\\}\\\\ a\\~b\\-c\\_d \\lquote\\rquote\\ldblquote\\rdblquote\\bullet\\endash}")
        << QStringLiteral("{}\\ a b\u00ADc\u2011d ‘’“”•–");
    QTest::newRow("control characters dropped") << QByteArray("{\\rtf1\\uc0 a\\u0 \\u7 \\u65532 \\u65279 \\u65535 b\\u9 c}")
                                                << QStringLiteral("ab\tc");
}

void TestRtfReader::unicode()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, text);
    QCOMPARE(textOf(rtf), text);
}

void TestRtfReader::destinations_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("text");
    QTest::newRow("unknown ignorable") << QByteArray("{\\rtf1 a{\\*\\whatever b{c}}d}") << QStringLiteral("ad");
    QTest::newRow("unknown word, text kept") << QByteArray("{\\rtf1 a{\\whatever b}c}") << QStringLiteral("abc");
    QTest::newRow("\\* after other words means nothing")
        << QByteArray("{\\rtf1 a{\\b\\*\\cs7 The quick brown fox}c}") << QStringLiteral("aThe quick brown foxc");
    QTest::newRow("\\* after a line end opens the group") << QByteArray("{\\rtf1 a{\r\n\\*\\cs7 b}c}") << QStringLiteral("ac");
    QTest::newRow("known word after \\*") << QByteArray("{\\rtf1 a{\\*\\b b}c}") << QStringLiteral("ac");
    QTest::newRow("document information") << QByteArray("{\\rtf1{\\info{\\title T}{\\author A}}{\\stylesheet{\\s1 H;}}x}")
                                          << QStringLiteral("x");
    QTest::newRow("headers, footers, footnotes")
        << QByteArray("{\\rtf1{\\header h}{\\footerl f}{\\headerf g}a{\\footnote n}b}") << QStringLiteral("ab");
    QTest::newRow("list tables without \\*") << QByteArray("{\\rtf1{\\listtable{\\list{\\listlevel{\\leveltext x;}}}}"
                                                           "{\\listoverridetable{\\listoverride\\ls1}}y}")
                                             << QStringLiteral("y");
    QTest::newRow("list text without control characters")
        << QByteArray("{\\rtf1\\uc0{\\listtext\\u-1 \\u7 \\u65532 1.\\tab}item}") << QStringLiteral("1.\titem");
    QTest::newRow("list text kept") << QByteArray("{\\rtf1{\\listtext 1.\\tab}item\\par{\\pntext\\'b7\\tab}item}")
                                    << QStringLiteral("1.\titem\n·\titem");
    QTest::newRow("list override 0 is a list")
        << QByteArray("{\\rtf1{\\*\\listtable{\\list\\listid5{\\listlevel\\levelnfc0}}}{\\*\\listoverridetable"
                      "{\\listoverride\\listid5\\listoverridecount0\\ls0}}\\pard\\ls0 one\\par\\ls0 two\\par\\pard three}")
        << QStringLiteral("1.\tone\n2.\ttwo\nthree");
    QTest::newRow("old numbering is a list") << QByteArray("{\\rtf1{\\pn\\pnlvlbody{\\pntxta .}}item}")
                                             << QStringLiteral("1.\titem");
    // Numbers Qt's lists cannot show, as the word processor shows them.
    for (const RtfSamples::ListSample &sample : RtfSamples::listNumbering())
        QTest::newRow(sample.name) << sample.rtf << sample.text;
    QTest::newRow("field result kept") << QByteArray("{\\rtf1 p{\\field{\\*\\fldinst PAGE}{\\fldrslt 7}}q}") << QStringLiteral("p7q");
    QTest::newRow("field without \\*") << QByteArray("{\\rtf1{\\field{\\fldinst DATE}{\\fldrslt today}}}") << QStringLiteral("today");
    QTest::newRow("upr takes the ud part") << QByteArray("{\\rtf1{\\upr{ansi}{\\*\\ud{uni\\u233?}}}}") << QStringLiteral("unié");
    QTest::newRow("hidden text") << QByteArray("{\\rtf1 a{\\v b}c\\v d\\v0 e}") << QStringLiteral("ace");
    QTest::newRow("bin data in text") << QByteArray("{\\rtf1 a\\bin4 {}{x}b}") << QStringLiteral("a");
    QTest::newRow("bin as fallback") << QByteArray("{\\rtf1 \\u233\\bin2 xyz}") << QStringLiteral("éz");
    QTest::newRow("bin in a skipped group") << QByteArray("{\\rtf1{\\*\\x\\bin2 }}}b}") << QStringLiteral("b");
    QTest::newRow("object result") << QByteArray("{\\rtf1{\\object\\objemb{\\*\\objclass P}{\\*\\objdata 0102}"
                                                 "{\\result r}}}")
                                   << QStringLiteral("r");
    QTest::newRow("nested table") << QByteArray("{\\rtf1 a\\nestcell b\\nestcell{\\*\\nesttableprops\\trowd\\nestrow}"
                                                "{\\nonesttables a b\\par}c\\nestcell{\\*\\nesttableprops\\nestrow}"
                                                "{\\nonesttables c\\par}\\cell\\row after}")
                                  << QStringLiteral("a\tb\nc\nafter");
    QTest::newRow("shape text, result skipped")
        << QByteArray("{\\rtf1{\\shp{\\*\\shpinst{\\sp{\\sn fillColor}{\\sv 255}}{\\shptxt box}}{\\shprslt fallback}}}")
        << QStringLiteral("box");
    QTest::newRow("shape without instructions") << QByteArray("{\\rtf1{\\shp{\\shprslt fallback}}}")
                                                << QStringLiteral("fallback");
    QTest::newRow("text after the document") << QByteArray("{\\rtf1 a}b{c}") << QStringLiteral("a");
}

void TestRtfReader::destinations()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, text);
    QCOMPARE(textOf(rtf), text);
}

void TestRtfReader::hyperlinks()
{
    QTextDocument doc;
    QVERIFY(Rtf::read("{\\rtf1 a {\\field{\\*\\fldinst {HYPERLINK \"http://example.org/x?a=1\" \\\\o \"tip\"}}"
                      "{\\fldrslt {\\ul web}}} {\\field{\\*\\fldinst HYPERLINK \\\\l \"part2\"}{\\fldrslt local}} "
                      "{\\field{\\*\\fldinst PAGE}{\\fldrslt 3}} after}",
                      &doc));
    QCOMPARE(Rtf::plainText(&doc), QStringLiteral("a web local 3 after"));
    const QTextCharFormat web = formatOf(doc, QStringLiteral("web"));
    QVERIFY(web.isAnchor());
    QCOMPARE(web.anchorHref(), QStringLiteral("http://example.org/x?a=1"));
    QCOMPARE(formatOf(doc, QStringLiteral("local")).anchorHref(), QStringLiteral("#part2"));
    QVERIFY(!formatOf(doc, QStringLiteral("3")).isAnchor());
    QVERIFY(!formatOf(doc, QStringLiteral("after")).isAnchor());
}

void TestRtfReader::tables()
{
    // Rows of cells become a table; a paragraph inside a cell stays a paragraph; as text the
    // cells of a row are separated by tabs.
    const QByteArray rtf = "{\\rtf1 before\\par\\trowd\\cellx1000\\cellx2000\\cellx3000"
                           "\\pard\\intbl a1\\cell a2\\cell a3\\cell\\row"
                           "\\trowd\\cellx1000\\cellx2000\\cellx3000\\pard\\intbl \\cell b2\\cell\\cell\\row"
                           "\\trowd\\cellx1000\\cellx2000\\pard\\intbl c1 first\\par c1 second\\cell c2\\cell\\row"
                           "\\pard after}";
    QCOMPARE(textOf(rtf), QStringLiteral("before\na1\ta2\ta3\n\tb2\t\nc1 first\nc1 second\tc2\t\nafter"));
    QTextDocument doc;
    QVERIFY(Rtf::read(rtf, &doc));
    QList<QTextTable *> tables = tablesOf(doc);
    QCOMPARE(tables.size(), 1);
    QCOMPARE(tables.at(0)->rows(), 3);
    QCOMPARE(tables.at(0)->columns(), 3);
    const QList<QTextLength> widths = tables.at(0)->format().columnWidthConstraints();
    QCOMPARE(widths.size(), 3);
    QCOMPARE(widths.at(1).rawValue(), 1000 / 15.0);

    // Rows whose cells lack \\intbl are a table too; a row definition no \\cell follows is not.
    QTextDocument loose;
    QVERIFY(Rtf::read("{\\rtf1 before\\par\\trowd\\cellx1000\\cellx2000 a1\\cell a2\\cell\\row"
                      "\\trowd\\cellx1000\\cellx2000\\pard b1\\par b1 more\\cell b2\\cell\\row"
                      "\\pard after\\par\\trowd\\cellx1000\\pard plain\\par}",
                      &loose));
    tables = tablesOf(loose);
    QCOMPARE(tables.size(), 1);
    QCOMPARE(tables.at(0)->rows(), 2);
    QCOMPARE(tables.at(0)->columns(), 2);
    QCOMPARE(tables.at(0)->cellAt(1, 1).firstCursorPosition().block().text(), QStringLiteral("b2"));
    QCOMPARE(Rtf::plainText(&loose), QStringLiteral("before\na1\ta2\nb1\nb1 more\tb2\nafter\nplain"));

    // Merges across (\\clmgf, and a row with fewer, wider cells) and down (\\clvmgf); a table in
    // a cell (\\itap2, \\nestcell, \\nesttableprops); cell borders and shading.
    const QByteArray merged = "{\\rtf1{\\colortbl;\\red255\\green255\\blue0;}"
        "\\trowd\\clvmgf\\clbrdrt\\brdrs\\cellx1000\\clmgf\\cellx2000\\clmrg\\cellx3000\\clcbpat1\\cellx4000"
        "\\pard\\intbl tall\\cell wide\\cell\\cell d1\\cell\\row"
        "\\trowd\\clvmrg\\cellx1000\\cellx3000\\cellx4000\\pard\\intbl\\cell b\\cell c\\cell\\row"
        "\\trowd\\cellx1000\\cellx2000\\cellx3000\\cellx4000"
        "\\pard\\intbl\\itap2 n1\\nestcell n2\\nestcell{\\*\\nesttableprops\\trowd\\cellx500\\cellx900\\nestrow}"
        "\\pard\\intbl\\itap2 n3\\nestcell n4\\nestcell{\\*\\nesttableprops\\trowd\\cellx500\\cellx900\\nestrow}"
        "{\\nonesttables n1 n2}\\pard\\intbl\\itap1 after nested\\cell y\\cell z\\cell w\\cell\\row\\pard end}";
    QTextDocument mdoc;
    QVERIFY(Rtf::read(merged, &mdoc));
    tables = tablesOf(mdoc);
    QCOMPARE(tables.size(), 2);
    QTextTable *outer = tables.at(0);
    QCOMPARE(outer->rows(), 3);
    QCOMPARE(outer->columns(), 4);
    QCOMPARE(outer->cellAt(0, 0).rowSpan(), 2);
    QCOMPARE(outer->cellAt(0, 1).columnSpan(), 2);
    QCOMPARE(outer->cellAt(1, 1).columnSpan(), 2);
    QCOMPARE(outer->cellAt(1, 3).firstCursorPosition().block().text(), QStringLiteral("c"));
    QCOMPARE(outer->cellAt(0, 3).format().background().color(), QColor(255, 255, 0));
    QCOMPARE(outer->format().border(), 1.0);
    QTextTable *inner = tables.at(1);
    QCOMPARE(inner->rows(), 2);
    QCOMPARE(inner->columns(), 2);
    QCOMPARE(inner->cellAt(1, 1).firstCursorPosition().block().text(), QStringLiteral("n4"));
    QCOMPARE(QTextCursor(inner->firstCursorPosition()).currentTable(), inner);
    QCOMPARE(outer->cellAt(inner->firstPosition()).column(), 0); // inside the outer first cell
    QVERIFY(Rtf::plainText(&mdoc).contains(QStringLiteral("after nested\ty\tz\tw")));
    QVERIFY(Rtf::plainText(&mdoc).endsWith(QStringLiteral("\nend")));
    QVERIFY(!Rtf::plainText(&mdoc).contains(QStringLiteral("n1 n2"))); // \\nonesttables is for old readers

    // A cell wider than any page, merged with the narrow cell after it, still ends on the edge
    // the row above has there (the writer writes such rows for a merge beside a 22-inch column).
    const QByteArray wide = "{\\rtf1\\trowd\\cellx31680\\cellx31681\\cellx33121\\pard\\intbl a\\cell b\\cell c\\cell\\row"
                            "\\trowd\\cellx31681\\cellx33121\\pard\\intbl ab\\cell c\\cell\\row}";
    QTextDocument wdoc;
    QVERIFY(Rtf::read(wide, &wdoc));
    tables = tablesOf(wdoc);
    QCOMPARE(tables.size(), 1);
    QCOMPARE(tables.at(0)->columns(), 3);
    QCOMPARE(tables.at(0)->cellAt(1, 0).columnSpan(), 2);
    QCOMPARE(tables.at(0)->cellAt(1, 2).firstCursorPosition().block().text(), QStringLiteral("c"));

    // A cell merged down over rows whose edges differ by a few twips (as word processors
    // write them): the same columns, every cell's text in its cell once.
    const QByteArray jittered = "{\\rtf1\\trowd\\clvmgf\\cellx3008\\cellx9240\\pard\\intbl Permit Application\\cell "
                                "Equipment Status\\cell\\row\\trowd\\clvmrg\\cellx3011\\cellx9243\\pard\\intbl\\cell PermitNo"
                                "\\cell\\row\\trowd\\clvmrg\\cellx3004\\cellx9236\\pard\\intbl\\cell d10\\cell\\row}";
    QTextDocument jdoc;
    QVERIFY(Rtf::read(jittered, &jdoc));
    tables = tablesOf(jdoc);
    QCOMPARE(tables.size(), 1);
    QCOMPARE(tables.at(0)->rows(), 3);
    QCOMPARE(tables.at(0)->columns(), 2);
    QCOMPARE(tables.at(0)->cellAt(0, 0).rowSpan(), 3);
    QCOMPARE(Rtf::plainText(&jdoc), QStringLiteral("\nPermit Application\tEquipment Status\nPermitNo\nd10\n"));

    // Cells moved to a row of another layout keep their paragraphs as they were: a first
    // paragraph in a list gains no empty one before it, the cell above gains no list, and a
    // list going on from a row above goes on counting.
    const QByteArray moved = "{\\rtf1{\\*\\listtable{\\list\\listid1{\\listlevel\\levelnfc0}}}"
                             "{\\*\\listoverridetable{\\listoverride\\listid1\\ls1}}"
                             "\\trowd\\cellx1000\\cellx2000\\pard\\intbl a\\cell b\\cell\\row"
                             "\\trowd\\cellx500\\cellx2000\\pard\\intbl\\qc c\\cell\\pard\\intbl\\ls1 x\\par\\ls1 y\\cell\\row"
                             "\\trowd\\cellx2000\\pard\\intbl\\ls1 z\\cell\\row}";
    QTextDocument ldoc;
    QVERIFY(Rtf::read(moved, &ldoc));
    QCOMPARE(Rtf::plainText(&ldoc), QStringLiteral("\na\tb\nc\t1.\tx\n2.\ty\n3.\tz\n")); // z goes on counting
    tables = tablesOf(ldoc);
    QCOMPARE(tables.size(), 1);
    QCOMPARE(tables.at(0)->columns(), 3);
    QVERIFY(!tables.at(0)->cellAt(0, 1).firstCursorPosition().block().textList());
    QCOMPARE(tables.at(0)->cellAt(1, 0).firstCursorPosition().blockFormat().alignment(), Qt::AlignHCenter);
    const QTextBlock x = tables.at(0)->cellAt(1, 1).firstCursorPosition().block();
    QCOMPARE(x.text(), QStringLiteral("x"));
    QVERIFY(x.textList());
    QCOMPARE(x.next().textList(), x.textList());
    QCOMPARE(tables.at(0)->cellAt(2, 0).firstCursorPosition().block().text(), QStringLiteral("z"));

    // Borders side by side (width, style, colour; a side without one has none) and the row's
    // indent. The table takes the border most sides of its first bordered cell have; a cell
    // keeps only what differs from it, and a later row does not take an earlier row's borders.
    const QByteArray bordered = "{\\rtf1{\\colortbl;\\red255\\green0\\blue0;}\\trowd\\trgaph108\\trleft720"
        "\\clbrdrt\\brdrs\\brdrw30\\clbrdrl\\brdrs\\brdrw30\\clbrdrb\\brdrdb\\brdrw15\\brdrcf1\\clbrdrr\\brdrs\\brdrw30"
        "\\cellx2160\\clbrdrt\\brdrs\\brdrw30\\clbrdrl\\brdrs\\brdrw30\\clbrdrb\\brdrs\\brdrw30\\clbrdrr\\brdrs\\brdrw30"
        "\\cellx3600\\pard\\intbl a\\cell b\\cell\\row\\trowd\\trgaph108\\trleft720"
        "\\clbrdrl\\brdrs\\brdrw30\\clbrdrb\\brdrdot\\brdrw30\\clbrdrr\\brdrnone\\cellx2160\\cellx3600"
        "\\pard\\intbl\\brdrb\\brdrs\\brdrw90 c\\cell d\\cell\\row}";
    QTextDocument bdoc;
    QVERIFY(Rtf::read(bordered, &bdoc));
    tables = tablesOf(bdoc);
    QCOMPARE(tables.size(), 1);
    const QTextTableFormat tableFormat = tables.at(0)->format();
    QCOMPARE(tableFormat.leftMargin(), 720 / 15.0);
    QCOMPARE(tableFormat.columnWidthConstraints().at(0).rawValue(), 1440 / 15.0);
    QCOMPARE(tableFormat.border(), 2.0);
    QCOMPARE(tableFormat.borderStyle(), QTextFrameFormat::BorderStyle_Solid);
    QCOMPARE(tableFormat.borderBrush().color(), QColor(Qt::black));
    auto cellFormat = [&](int row, int column) { return tables.at(0)->cellAt(row, column).format().toTableCellFormat(); };
    QTextTableCellFormat cell = cellFormat(0, 0);
    QCOMPARE(cell.bottomBorder(), 1.0);
    QCOMPARE(cell.bottomBorderStyle(), QTextFrameFormat::BorderStyle_Double);
    QCOMPARE(cell.bottomBorderBrush().color(), QColor(255, 0, 0));
    QVERIFY(!cell.hasProperty(QTextFormat::TableCellTopBorder) && !cell.hasProperty(QTextFormat::TableCellTopBorderStyle));
    QVERIFY(!cellFormat(0, 1).hasProperty(QTextFormat::TableCellBottomBorder));
    cell = cellFormat(1, 0);
    QCOMPARE(cell.topBorder(), 0.0);
    QCOMPARE(cell.topBorderStyle(), QTextFrameFormat::BorderStyle_None); // else Qt draws a hairline
    QCOMPARE(cell.rightBorder(), 0.0); // \\brdrnone
    QCOMPARE(cell.bottomBorderStyle(), QTextFrameFormat::BorderStyle_Dotted);
    QVERIFY(!cell.hasProperty(QTextFormat::TableCellLeftBorder));
    cell = cellFormat(1, 1);
    QCOMPARE(QList<qreal>({cell.topBorder(), cell.leftBorder(), cell.bottomBorder(), cell.rightBorder()}),
             QList<qreal>({0, 0, 0, 0}));
}

void TestRtfReader::wordProcessorDocument()
{
    QTextDocument doc;
    Rtf::RtfReader reader;
    QVERIFY(reader.read(RtfSamples::wordProcessorDocument(), &doc));
    QCOMPARE(Rtf::plainText(&doc).split(u'\n'), RtfSamples::wordProcessorText());
    QCOMPARE(reader.stats().paragraphs, doc.blockCount()); // table cells count as paragraphs

    // The Shift-JIS font name, the link, the title's font and weight.
    QCOMPARE(formatOf(doc, QStringLiteral("日本語")).fontFamilies().toStringList(), QStringList{QStringLiteral("ＭＳ 明朝")});
    QCOMPARE(formatOf(doc, QStringLiteral("Example")).anchorHref(), QStringLiteral("http://example.org/page"));
    QCOMPARE(formatOf(doc, QStringLiteral("Example")).foreground().color(), QColor(0, 0, 255));
    const QTextCharFormat title = formatOf(doc, QStringLiteral("Title"));
    QCOMPARE(title.fontFamilies().toStringList(), QStringList{QStringLiteral("Calibri")});
    QCOMPARE(title.fontWeight(), int(QFont::Bold));
    QCOMPARE(title.fontPointSize(), 11.0);
    QCOMPARE(doc.findBlockByNumber(1).blockFormat().alignment(), Qt::AlignHCenter);
    // The bullets are a list (new-style \\ls with its \\listtext for old readers), indented by it.
    const QTextList *bullets = doc.findBlockByNumber(3).textList();
    QVERIFY(bullets);
    QCOMPARE(bullets->format().style(), QTextListFormat::ListDisc);
    QCOMPARE(doc.findBlockByNumber(3).blockFormat().leftMargin(), 0.0);

    // One picture from \shppict (not its \nonshppict copy) and one from the floating shape,
    // shown at goal size times scale.
    const QList<ImageInfo> images = imagesOf(doc);
    QCOMPARE(images.size(), 2);
    QCOMPARE(reader.stats().images, 2);
    for (const ImageInfo &info : images) {
        QCOMPARE(info.image.size(), QSize(30, 15));
        QCOMPARE(info.shown, QSizeF(40, 20));
        QCOMPARE(info.image.pixel(0, 0), qRgb(255, 0, 0));
        QCOMPARE(info.image.pixel(29, 14), qRgb(0, 0, 255));
    }
}

void TestRtfReader::pictures_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSizeF>("shown");
    using RtfSamples::encoded;
    using RtfSamples::halves;
    const QImage picture = halves(8, 4);
    auto pict = [](const QByteArray &keywords, const QByteArray &data) {
        return "{\\rtf1 {\\pict" + keywords + " " + data + "}}";
    };
    QTest::newRow("png, own size") << pict("\\pngblip", encoded(picture, "PNG").toHex()) << QSize(8, 4) << QSizeF(8, 4);
    QTest::newRow("png, goal size") << pict("\\pngblip\\picwgoal300\\pichgoal600", encoded(picture, "PNG").toHex())
                                    << QSize(8, 4) << QSizeF(20, 40);
    QTest::newRow("png, goal and scale")
        << pict("\\pngblip\\picwgoal300\\pichgoal600\\picscalex200\\picscaley50", encoded(picture, "PNG").toHex())
        << QSize(8, 4) << QSizeF(40, 20);
    QTest::newRow("png, binary") << pict("\\pngblip\\bin" + QByteArray::number(encoded(picture, "PNG").size()),
                                         encoded(picture, "PNG"))
                                 << QSize(8, 4) << QSizeF(8, 4);
    QTest::newRow("png, binary in a group after an id")
        << pict("\\pngblip{\\*\\blipuid 00112233445566778899aabbccddeeff}{\\bin"
                    + QByteArray::number(encoded(picture, "PNG").size()),
                encoded(picture, "PNG") + "}")
        << QSize(8, 4) << QSizeF(8, 4);
    QTest::newRow("png, upper-case hex with blanks")
        << pict("\\pngblip", RtfSamples::hex(encoded(picture, "PNG")).toUpper().replace("\n", " \r\n\t"))
        << QSize(8, 4) << QSizeF(8, 4);
    QTest::newRow("jpeg") << pict("\\jpegblip\\picw8\\pich4", encoded(picture, "JPEG").toHex()) << QSize(8, 4) << QSizeF(8, 4);
    QTest::newRow("24-bit dib") << pict("\\dibitmap0", encoded(picture, "BMP").mid(14).toHex()) << QSize(8, 4) << QSizeF(8, 4);
    QTest::newRow("8-bit dib with palette")
        << pict("\\dibitmap0", encoded(picture.convertToFormat(QImage::Format_Indexed8), "BMP").mid(14).toHex())
        << QSize(8, 4) << QSizeF(8, 4);
    const QByteArray dib = encoded(picture, "BMP").mid(14);
    QTest::newRow("metafile wrapping a dib") << pict("\\wmetafile8\\picwgoal120\\pichgoal60", RtfSamples::wmfWithDib(dib, 8, 4).toHex())
                                             << QSize(8, 4) << QSizeF(8, 4);
    QTest::newRow("metafile, size in 0.01 mm") << pict("\\wmetafile8\\picw2540\\pich1270", RtfSamples::wmfWithDib(dib, 8, 4).toHex())
                                               << QSize(8, 4) << QSizeF(96, 48);
    QTest::newRow("enhanced metafile wrapping a dib")
        << pict("\\emfblip\\picwgoal120\\pichgoal60", RtfSamples::emfWithDib(dib, 8, 4).toHex()) << QSize(8, 4) << QSizeF(8, 4);
    // Device-dependent bitmaps: 1 bit per pixel, rows padded to 16 bits (0 black, 1 white),
    // and 24 bits in blue-green-red order.
    QTest::newRow("monochrome wbitmap")
        << pict("\\wbitmap0\\picw8\\pich4\\wbmbitspixel1\\wbmplanes1\\wbmwidthbytes2", "f000f000f000f000")
        << QSize(8, 4) << QSizeF(8, 4);
    QTest::newRow("24-bit wbitmap")
        << pict("\\wbitmap0\\picw8\\pich4\\wbmbitspixel24\\wbmplanes1\\wbmwidthbytes24",
                QByteArray("0000ff").repeated(4).append(QByteArray("ff0000").repeated(4)).repeated(4))
        << QSize(8, 4) << QSizeF(8, 4);
}

void TestRtfReader::pictures()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QSize, size);
    QFETCH(QSizeF, shown);
    QTextDocument doc;
    QVERIFY(Rtf::read(rtf, &doc));
    const QList<ImageInfo> images = imagesOf(doc);
    QCOMPARE(images.size(), 1);
    QCOMPARE(images.first().image.size(), size);
    QCOMPARE(images.first().shown, shown);
    // Left half red (or black for the monochrome one), right half blue (or white).
    const QImage &image = images.first().image;
    const bool mono = QByteArray(QTest::currentDataTag()).startsWith("monochrome");
    const bool lossy = QByteArray(QTest::currentDataTag()) == "jpeg";
    const QColor left = image.pixelColor(1, 1);
    const QColor right = image.pixelColor(6, 2);
    const QColor wantLeft = mono ? Qt::white : Qt::red;
    const QColor wantRight = mono ? Qt::black : Qt::blue;
    const int tolerance = lossy ? 60 : 0;
    QVERIFY2(std::abs(left.red() - wantLeft.red()) <= tolerance && std::abs(left.blue() - wantLeft.blue()) <= tolerance,
             qPrintable(left.name()));
    QVERIFY2(std::abs(right.red() - wantRight.red()) <= tolerance && std::abs(right.blue() - wantRight.blue()) <= tolerance,
             qPrintable(right.name()));
}

void TestRtfReader::picturesLeftOut_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<qint64>("budget");
    const QByteArray png = RtfSamples::encoded(RtfSamples::halves(64, 64), "PNG").toHex();
    QTest::newRow("metafile without a bitmap") << QByteArray("{\\rtf1 a{\\pict\\wmetafile8 010009000003}b}") << qint64(-1);
    const QByteArray dib = RtfSamples::encoded(RtfSamples::halves(8, 4), "BMP").mid(14);
    const QByteArray wmf = RtfSamples::wmfWithDib(dib, 8, 4);
    QTest::newRow("metafile, bitmap record cut short")
        << QByteArray("{\\rtf1 a{\\pict\\wmetafile8 " + wmf.left(wmf.size() - 20).toHex() + "}b}") << qint64(-1);
    QByteArray emf = RtfSamples::emfWithDib(dib, 8, 4);
    emf.replace(8 + 48, 4, RtfSamples::littleEndian(0x7fffff00, 4)); // where the bitmap header is
    QTest::newRow("enhanced metafile, offsets outside") << QByteArray("{\\rtf1 a{\\pict\\emfblip " + emf.toHex() + "}b}")
                                                        << qint64(-1);
    QTest::newRow("enhanced metafile") << QByteArray("{\\rtf1 a{\\pict\\emfblip 01000000}b}") << qint64(-1);
    QTest::newRow("damaged png") << QByteArray("{\\rtf1 a{\\pict\\pngblip " + png.left(200) + "}b}") << qint64(-1);
    QTest::newRow("over the budget") << QByteArray("{\\rtf1 a{\\pict\\pngblip " + png + "}b}") << qint64(64 * 64 * 4 - 1);
    QTest::newRow("dib with a bad header") << QByteArray("{\\rtf1 a{\\pict\\dibitmap0 ffffffff0000}b}") << qint64(-1);
    QTest::newRow("wbitmap short of data")
        << QByteArray("{\\rtf1 a{\\pict\\wbitmap0\\picw800\\pich600\\wbmbitspixel24 00ff}b}") << qint64(-1);
    QTest::newRow("wbitmap, huge size")
        << QByteArray("{\\rtf1 a{\\pict\\wbitmap0\\picw2147483647\\pich2147483647\\wbmbitspixel32 00}b}") << qint64(-1);
    QTest::newRow("wbitmap, planes times bits beyond 32 bits")
        << QByteArray("{\\rtf1 a{\\pict\\wbitmap0\\picw8\\pich2\\wbmbitspixel2\\wbmplanes2147483647 f00f0ff0}b}")
        << qint64(-1);
    QTest::newRow("picture inside a font table") << QByteArray("{\\rtf1{\\fonttbl{\\pict\\pngblip " + png + "}}ab}")
                                                 << qint64(-1);
}

void TestRtfReader::picturesLeftOut()
{
    QFETCH(QByteArray, rtf);
    QFETCH(qint64, budget);
    QTextDocument doc;
    Rtf::ReadLimits limits;
    limits.imageBudget = budget;
    QVERIFY(Rtf::RtfReader(limits).read(rtf, &doc));
    QCOMPARE(Rtf::plainText(&doc), QStringLiteral("ab"));
    QVERIFY(imagesOf(doc).isEmpty());
}

void TestRtfReader::notRtf()
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("keep me"));
    QString error;
    for (const QByteArray &data : {QByteArray(), QByteArray("plain text"), QByteArray("{\\rtx1 x}"),
                                   QByteArray("\x89PNG\r\n")}) {
        QVERIFY(!Rtf::read(data, &doc, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(doc.toPlainText(), QStringLiteral("keep me"));
    }
    QVERIFY(Rtf::looksLikeRtf("\xEF\xBB\xBF \r\n{\\rtf1 x}"));
    QCOMPARE(textOf("\xEF\xBB\xBF\n{\\rtf1 x}"), QStringLiteral("x"));
}

void TestRtfReader::replacesDocument()
{
    QTextDocument doc;
    QFont base(QStringLiteral("Verdana"), 12);
    doc.setDefaultFont(base);
    QTextCursor cursor(&doc);
    cursor.insertText(QStringLiteral("old text"));
    Rtf::insertImage(cursor, RtfSamples::halves(4, 4));
    QCOMPARE(imagesOf(doc).size(), 1);
    QVERIFY(doc.isUndoAvailable());

    QVERIFY(Rtf::read("{\\rtf1 new}", &doc));
    QCOMPARE(Rtf::plainText(&doc), QStringLiteral("new"));
    QVERIFY(imagesOf(doc).isEmpty());
    QVERIFY(!doc.isUndoAvailable());
    QVERIFY(doc.isUndoRedoEnabled());
    QVERIFY(!doc.isModified());
    QCOMPARE(doc.defaultFont(), base);
}

void TestRtfReader::hostileInput_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("text");
    QTest::newRow("deep nesting") << "{\\rtf1 a" + QByteArray(200000, '{') + "x" + QByteArray(200000, '}') + "b}"
                                  << QStringLiteral("ab");
    QTest::newRow("deep nesting, never closed") << "{\\rtf1 a" + QByteArray(300000, '{') << QStringLiteral("a");
    QTest::newRow("huge \\bin") << QByteArray("{\\rtf1 a\\bin2147483647 xyz") << QStringLiteral("a");
    QTest::newRow("negative \\bin") << QByteArray("{\\rtf1 a\\bin-5 b}") << QStringLiteral("ab");
    QTest::newRow("huge \\uc") << QByteArray("{\\rtf1\\uc2147483647 \\u233 abc}x}") << QStringLiteral("é");
    QTest::newRow("huge parameters") << QByteArray("{\\rtf1\\fs99999999999999999999\\li-99999999999999 a\\u99999999999?}")
                                     << QStringLiteral("a\uFFFD");
    QTest::newRow("long control word") << "{\\rtf1 a\\" + QByteArray(100000, 'x') + " b}" << QStringLiteral("ab");
    QTest::newRow("truncated escape") << QByteArray("{\\rtf1 a\\'4") << QStringLiteral("a");
    QTest::newRow("backslash at the end") << QByteArray("{\\rtf1 a\\") << QStringLiteral("a");
    QTest::newRow("nul bytes") << QByteArray("{\\rtf1 a\0b\\'00c}", 16) << QStringLiteral("abc");
    QTest::newRow("stray closing braces") << QByteArray("{\\rtf1 a}}}}b") << QStringLiteral("a");
    QTest::newRow("font table never ends") << QByteArray("{\\rtf1{\\fonttbl{\\f0 Arial") << QString();
    QTest::newRow("undefined font and colour") << QByteArray("{\\rtf1\\f99\\cf99\\highlight-3 a}") << QStringLiteral("a");
    QTest::newRow("picture never ends") << QByteArray("{\\rtf1 a{\\pict\\pngblip 89504e47") << QStringLiteral("a");
    QTest::newRow("many fields") << "{\\rtf1 " + QByteArray("{\\field{\\*\\fldinst x}{\\fldrslt y}}").repeated(20000) + "}"
                                 << QString(20000, u'y');
}

void TestRtfReader::hostileInput()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, text);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(textOf(rtf), text);
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
}

void TestRtfReader::everyPrefixReads()
{
    // A file cut off anywhere reads without failing, and never gives more text than the whole.
    const QByteArray whole = RtfSamples::wordProcessorDocument();
    const qsizetype full = textOf(whole).size();
    for (qsizetype size = 5; size < whole.size(); size += 7) {
        QTextDocument doc;
        QVERIFY(Rtf::read(whole.left(size), &doc));
        QVERIFY2(Rtf::plainText(&doc).size() <= full, qPrintable(QString::number(size)));
    }
}

void TestRtfReader::largeInputsStayFast()
{
    // Many small paragraphs, many format changes and a long picture, each a few megabytes.
    const QList<QByteArray> inputs = {
        "{\\rtf1 " + QByteArray("Some words in a paragraph\\par\n").repeated(100000) + "}",
        "{\\rtf1 " + QByteArray("{\\b bold}{\\i it} ").repeated(100000) + "}",
        "{\\rtf1 {\\pict\\pngblip " + QByteArray("00").repeated(2000000) + "}}",
        "{\\rtf1 " + QByteArray("\\u26085\\'3f").repeated(200000) + "}",
    };
    for (const QByteArray &input : inputs) {
        QElapsedTimer timer;
        timer.start();
        QTextDocument doc;
        QVERIFY(Rtf::read(input, &doc));
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QStringLiteral("%1 ms for %2 bytes").arg(timer.elapsed()).arg(input.size())));
    }
}

PARCELO_TEST_MAIN(TestRtfReader)
#include "tst_rtfreader.moc"
