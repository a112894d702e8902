// The RTF writer, always checked by reading its output back: formatting, paragraphs, Unicode,
// pictures, links; selections and pasting at a cursor; loading and saving files.

#include "rtf.h"
#include "rtfsamples.h"
#include "testenv.h"

#include <QApplication>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextImageFormat>
#include <QUrl>
#include <QTextList>
#include <QTextTable>
#include <QtTest>

#include <memory>

namespace {

const QFont kBase(QStringLiteral("Verdana"), 12);

std::unique_ptr<QTextDocument> readBack(const QByteArray &rtf)
{
    auto doc = std::make_unique<QTextDocument>();
    doc->setDefaultFont(kBase);
    if (!Rtf::read(rtf, doc.get()))
        qWarning("not read back");
    return doc;
}

// Every run of characters with its formatting resolved against the document's default font,
// so that explicit and inherited values compare alike; images as "[image WxH]".
QStringList describe(const QTextDocument &doc)
{
    QStringList runs;
    QString last;
    const QFont base = doc.defaultFont();
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const QTextBlockFormat bf = block.blockFormat();
        runs.append(QStringLiteral("¶ align=%1 margins=%2,%3,%4,%5,%6 break=%7")
                        .arg(int(bf.alignment() & Qt::AlignHorizontal_Mask))
                        .arg(bf.leftMargin()).arg(bf.rightMargin()).arg(bf.textIndent())
                        .arg(bf.topMargin()).arg(bf.bottomMargin())
                        .arg(bool(bf.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)));
        last.clear();
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat f = fragment.charFormat();
            if (f.isImageFormat()) {
                const QTextImageFormat image = f.toImageFormat();
                runs.append(QStringLiteral("[image %1x%2]").arg(image.width()).arg(image.height()));
                last.clear();
                continue;
            }
            const QStringList families = f.fontFamilies().toStringList();
            const QString key = QStringLiteral("%1 %2pt b%3 i%4 u%5 s%6 fg=%7 bg=%8 va%9 href=%10")
                                    .arg(families.isEmpty() ? base.family() : families.first())
                                    .arg(f.hasProperty(QTextFormat::FontPointSize) ? f.fontPointSize() : base.pointSizeF())
                                    .arg(f.hasProperty(QTextFormat::FontWeight) ? f.fontWeight() >= QFont::DemiBold : base.bold())
                                    .arg(f.fontItalic()).arg(int(f.underlineStyle())).arg(f.fontStrikeOut())
                                    .arg(f.hasProperty(QTextFormat::ForegroundBrush) ? f.foreground().color().name() : QStringLiteral("auto"))
                                    .arg(f.hasProperty(QTextFormat::BackgroundBrush) ? f.background().color().name() : QStringLiteral("none"))
                                    .arg(int(f.verticalAlignment()))
                                    .arg(f.isAnchor() ? f.anchorHref() : QString())
                                  + QStringLiteral(" caps%1").arg(int(f.fontCapitalization()));
            if (key == last) {
                runs.last() += fragment.text();
            } else {
                runs.append(key + QStringLiteral(": ") + fragment.text());
                last = key;
            }
        }
    }
    return runs;
}

QList<QImage> imagesOf(const QTextDocument &doc)
{
    QList<QImage> images;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat())
                images.append(doc.resource(QTextDocument::ImageResource, QUrl(format.toImageFormat().name())).value<QImage>());
        }
    }
    return images;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestRtfWriter : public QObject
{
    Q_OBJECT

private slots:
    void header();
    void characterFormats();
    void paragraphFormats();
    void paragraphCount_data();
    void paragraphCount();
    void unicode();
    void pictures();
    void hyperlinks();
    void structureRoundTrip();
    void listNumbers_data();
    void listNumbers();
    void selection();
    void insertAtCursor();
    void loadFile_data();
    void loadFile();
    void loadAndSaveFailures();
    void saveAndLoad();
};

void TestRtfWriter::header()
{
    QTextDocument doc;
    QFont base = kBase;
    base.setBold(true);
    doc.setDefaultFont(base);
    QTextCursor cursor(&doc);
    cursor.insertText(QStringLiteral("unformatted "));
    QTextCharFormat named;
    named.setFontFamilies({QStringLiteral("ＭＳ 明朝")});
    named.setForeground(QColor(1, 2, 3));
    cursor.insertText(QStringLiteral("named"), named);

    const QByteArray rtf = Rtf::write(&doc);
    QVERIFY(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1252\\deff0"));
    QVERIFY(rtf.endsWith("}\n"));
    QVERIFY(rtf.contains("{\\f0\\fnil\\fcharset0 Verdana;}"));
    QVERIFY(rtf.contains("{\\f1\\fnil\\fcharset0 \\u-211\\'3f\\u-205\\'3f \\u26126\\'3f\\u26397\\'3f;}"));
    QVERIFY(rtf.contains("{\\colortbl;\\red1\\green2\\blue3;}")); // colour 0 is "auto"
    // Every run names its face and size, the defaults too (readers differ in what \\plain gives).
    QVERIFY(rtf.contains("\\plain\\f0\\fs24\\b unformatted "));
    QVERIFY(rtf.contains("\\plain\\f1\\fs24\\b\\cf1 named"));
    for (char byte : rtf)
        QVERIFY(uchar(byte) < 0x80);
    QCOMPARE(describe(*readBack(rtf)), describe(doc));
}

void TestRtfWriter::characterFormats()
{
    QTextDocument doc;
    doc.setDefaultFont(kBase);
    QTextCursor cursor(&doc);
    auto add = [&cursor](const QString &text, const std::function<void(QTextCharFormat &)> &setup) {
        QTextCharFormat format;
        setup(format);
        cursor.insertText(text, format);
    };
    add(QStringLiteral("plain "), [](QTextCharFormat &) {});
    add(QStringLiteral("bold "), [](QTextCharFormat &f) { f.setFontWeight(QFont::Bold); });
    add(QStringLiteral("italic "), [](QTextCharFormat &f) { f.setFontItalic(true); });
    add(QStringLiteral("under "), [](QTextCharFormat &f) { f.setFontUnderline(true); });
    add(QStringLiteral("dotted "), [](QTextCharFormat &f) { f.setUnderlineStyle(QTextCharFormat::DotLine); });
    add(QStringLiteral("wavy "), [](QTextCharFormat &f) { f.setUnderlineStyle(QTextCharFormat::WaveUnderline); });
    add(QStringLiteral("struck "), [](QTextCharFormat &f) { f.setFontStrikeOut(true); });
    add(QStringLiteral("red "), [](QTextCharFormat &f) { f.setForeground(QColor(200, 10, 20)); });
    add(QStringLiteral("on yellow "), [](QTextCharFormat &f) { f.setBackground(QColor(Qt::yellow)); });
    add(QStringLiteral("courier 18 "), [](QTextCharFormat &f) {
        f.setFontFamilies({QStringLiteral("Courier New")});
        f.setFontPointSize(18);
    });
    add(QStringLiteral("small "), [](QTextCharFormat &f) { f.setFontPointSize(9.5); });
    add(QStringLiteral("up"), [](QTextCharFormat &f) { f.setVerticalAlignment(QTextCharFormat::AlignSuperScript); });
    add(QStringLiteral("down"), [](QTextCharFormat &f) { f.setVerticalAlignment(QTextCharFormat::AlignSubScript); });
    add(QStringLiteral(" Small"), [](QTextCharFormat &f) { f.setFontCapitalization(QFont::SmallCaps); });
    add(QStringLiteral(" Upper"), [](QTextCharFormat &f) { f.setFontCapitalization(QFont::AllUppercase); });
    add(QStringLiteral(" everything"), [](QTextCharFormat &f) {
        f.setFontWeight(QFont::Bold);
        f.setFontItalic(true);
        f.setFontUnderline(true);
        f.setFontStrikeOut(true);
        f.setForeground(QColor(0, 0, 255));
        f.setBackground(QColor(200, 10, 20));
        f.setFontFamilies({QStringLiteral("Liberation Serif")});
        f.setFontPointSize(30);
    });
    add(QStringLiteral(" base again"), [](QTextCharFormat &) {});
    const QStringList before = describe(doc);
    QCOMPARE(before.size(), 18); // one paragraph, seventeen distinct runs
    const QByteArray rtf = Rtf::write(&doc);
    QCOMPARE(describe(*readBack(rtf)), before);
    // Raised and lowered text goes in a group of its own; what follows needs no reset.
    QVERIFY2(rtf.contains("{\\plain\\f0\\fs24\\super up}{\\plain\\f0\\fs24\\sub down}\\plain\\f0\\fs24\\scaps  Small"), rtf.constData());
}

void TestRtfWriter::paragraphFormats()
{
    QTextDocument doc;
    doc.setDefaultFont(kBase);
    QTextCursor cursor(&doc);
    const Qt::Alignment alignments[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight, Qt::AlignJustify};
    for (int i = 0; i < 4; ++i) {
        QTextBlockFormat format;
        format.setAlignment(alignments[i]);
        if (i == 2) {
            format.setLeftMargin(48);
            format.setRightMargin(24);
            format.setTextIndent(-24);
            format.setTopMargin(16);
            format.setBottomMargin(8);
        }
        if (i == 3)
            format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        if (i > 0)
            cursor.insertBlock(format);
        else
            cursor.setBlockFormat(format);
        cursor.insertText(QStringLiteral("paragraph %1").arg(i));
    }
    QCOMPARE(describe(*readBack(Rtf::write(&doc))), describe(doc));
}

void TestRtfWriter::paragraphCount_data()
{
    QTest::addColumn<QString>("text");
    for (const char *text : {"", "a", "a\n", "\n", "\n\n", "a\n\nb", "\na", "a\nb\n\n"})
        QTest::newRow(QByteArray(text).replace("\n", "\\n").prepend('"').append('"')) << QString::fromLatin1(text);
}

void TestRtfWriter::paragraphCount()
{
    QFETCH(QString, text);
    QTextDocument doc;
    doc.setPlainText(text);
    const auto back = readBack(Rtf::write(&doc));
    QCOMPARE(back->toPlainText(), text);
    QCOMPARE(back->blockCount(), doc.blockCount());
}

void TestRtfWriter::unicode()
{
    QTextDocument doc;
    const QString text = QStringLiteral("Grüße € 日本語 😀 𝄞 \\ { } tab\t nbsp\u00A0 soft\u00ADhy non\u2011break "
                                        "line\u2028sep اَلْعَرَبِيَّةُ ; ?");
    QTextCursor(&doc).insertText(text);
    const QByteArray rtf = Rtf::write(&doc);
    QVERIFY(rtf.contains("\\u-10179\\'3f\\u-8704\\'3f")); // U+1F600 as a surrogate pair
    QVERIFY(rtf.contains("Gr\\u252\\'fc\\u223\\'dfe \\u8364\\'80 ")); // Windows-1252 fallbacks
    QVERIFY(rtf.contains("\\\\ \\{ \\} tab\\tab "));
    QVERIFY(rtf.contains("line\\line sep"));
    for (char byte : rtf)
        QVERIFY(uchar(byte) < 0x80);
    QCOMPARE(readBack(rtf)->toRawText(), text);
}

void TestRtfWriter::pictures()
{
    QTextDocument doc;
    doc.setDefaultFont(kBase);
    QTextCursor cursor(&doc);
    cursor.insertText(QStringLiteral("pictures: "));
    const QImage halves = RtfSamples::halves(40, 20);
    const QString name = Rtf::insertImage(cursor, halves, QSizeF(80, 40));
    cursor.insertText(QStringLiteral(" same again "));
    QTextImageFormat again;
    again.setName(name);
    cursor.insertImage(again); // shown at its own size
    QImage translucent(3, 3, QImage::Format_ARGB32);
    translucent.fill(qRgba(0, 255, 0, 128));
    translucent.setPixel(0, 0, qRgba(0, 0, 0, 0));
    Rtf::insertImage(cursor, translucent);
    // Resources a QTextEdit might hold: a pixmap, encoded bytes; and one that is missing.
    doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("pixmap:1")), QPixmap::fromImage(halves));
    QTextImageFormat pixmap;
    pixmap.setName(QStringLiteral("pixmap:1"));
    pixmap.setWidth(20); // height follows the proportions
    cursor.insertImage(pixmap);
    doc.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("bytes:1")), RtfSamples::encoded(halves, "JPEG"));
    QTextImageFormat bytes;
    bytes.setName(QStringLiteral("bytes:1"));
    cursor.insertImage(bytes);
    QTextImageFormat missing;
    missing.setName(QStringLiteral("missing:1"));
    cursor.insertImage(missing);
    cursor.insertText(QStringLiteral(" end"));

    const QByteArray rtf = Rtf::write(&doc);
    QVERIFY(rtf.contains("{\\pict\\pngblip\\picw40\\pich20\\picwgoal1200\\pichgoal600\n89504e47"));
    QVERIFY(rtf.contains("\\picw40\\pich20\\picwgoal300\\pichgoal150\n"));
    const auto back = readBack(rtf);
    QCOMPARE(Rtf::plainText(back.get()), QStringLiteral("pictures:  same again  end"));
    // Pictures without a size get their own size; the missing one is left out.
    QStringList expected = describe(doc);
    expected.replace(expected.indexOf(QStringLiteral("[image 0x0]")), QStringLiteral("[image 40x20]"));
    expected.replace(expected.indexOf(QStringLiteral("[image 20x0]")), QStringLiteral("[image 20x10]"));
    expected.replace(expected.indexOf(QStringLiteral("[image 0x0]")), QStringLiteral("[image 40x20]"));
    expected.removeOne(QStringLiteral("[image 0x0]"));
    QCOMPARE(describe(*back), expected);

    const QList<QImage> images = imagesOf(*back);
    QCOMPARE(images.size(), 5);
    for (int i : {0, 1, 3})
        QCOMPARE(images.at(i).convertToFormat(QImage::Format_RGB32), halves);
    QCOMPARE(images.at(2).convertToFormat(QImage::Format_ARGB32), translucent); // alpha kept
    QCOMPARE(images.at(4).size(), halves.size());
}

void TestRtfWriter::hyperlinks()
{
    QTextDocument doc;
    doc.setDefaultFont(kBase);
    QTextCursor cursor(&doc);
    auto link = [](const QString &href) {
        QTextCharFormat format;
        format.setAnchor(true);
        format.setAnchorHref(href);
        format.setForeground(QColor(0, 0, 255));
        return format;
    };
    cursor.insertText(QStringLiteral("see "));
    cursor.insertText(QStringLiteral("one"), link(QStringLiteral("http://example.org/?q=\"x\"&y={z}")));
    QTextCharFormat bold = link(QStringLiteral("http://example.org/?q=\"x\"&y={z}"));
    bold.setFontWeight(QFont::Bold);
    cursor.insertText(QStringLiteral(" bold part"), bold);
    cursor.insertText(QStringLiteral("two"), link(QStringLiteral("#anchor")));
    cursor.insertText(QStringLiteral(" and "), QTextCharFormat());
    cursor.insertText(QStringLiteral("last"), link(QStringLiteral("mailto:a@example.org")));
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("next"), QTextCharFormat());

    const QByteArray rtf = Rtf::write(&doc);
    QCOMPARE(rtf.count("HYPERLINK"), 3);
    QVERIFY(rtf.contains("HYPERLINK \"http://example.org/?q=%22x%22&y=\\{z\\}\""));
    QStringList expected = describe(doc);
    expected.replaceInStrings(QStringLiteral("\"x\""), QStringLiteral("%22x%22"));
    QCOMPARE(describe(*readBack(rtf)), expected);
}

// Tables (with their merged cells, column widths and nested tables) and lists, each block's
// place in them, as one line per block.
QStringList structureOf(QTextDocument &doc)
{
    QStringList lines;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        QString line;
        QTextCursor cursor(block);
        QList<QTextTable *> chain;
        for (QTextFrame *frame = cursor.currentFrame(); frame; frame = frame->parentFrame()) {
            if (auto *table = qobject_cast<QTextTable *>(frame))
                chain.prepend(table);
        }
        for (QTextTable *table : chain) {
            const QTextTableCell cell = table->cellAt(block.position());
            const QTextTableFormat format = table->format();
            QStringList widths;
            for (const QTextLength &width : format.columnWidthConstraints())
                widths.append(QString::number(qRound(width.rawValue())));
            // The table's indent and border; a cell's borders where it has its own.
            QStringList borders;
            const QTextCharFormat cellFormat = cell.format();
            for (int property = QTextFormat::TableCellTopBorder; property <= QTextFormat::TableCellRightBorderBrush; ++property) {
                if (cellFormat.hasProperty(property))
                    borders.append(cellFormat.property(property).userType() == QMetaType::QBrush
                                       ? cellFormat.brushProperty(property).color().name()
                                       : QString::number(cellFormat.doubleProperty(property) + cellFormat.intProperty(property)));
                else
                    borders.append(QStringLiteral("-"));
            }
            const QString border = format.border() > 0 ? QStringLiteral("%1/%2/%3").arg(format.border())
                                                             .arg(int(format.borderStyle()))
                                                             .arg(format.borderBrush().color().name())
                                                       : QStringLiteral("0");
            line += QStringLiteral("[%1x%2 w=%3 m=%8 b=%9 cell %4,%5 span %6x%7 %10] ")
                        .arg(table->rows()).arg(table->columns()).arg(widths.join(u','))
                        .arg(cell.row()).arg(cell.column()).arg(cell.rowSpan()).arg(cell.columnSpan())
                        .arg(format.leftMargin()).arg(border, borders.join(u' '));
        }
        if (const QTextList *list = block.textList())
            line += QStringLiteral("(list %1 indent %2 item %3) ").arg(int(list->format().style()))
                        .arg(list->format().indent()).arg(list->itemNumber(block));
        const QTextBlockFormat format = block.blockFormat();
        if (format.hasProperty(QTextFormat::LineHeight))
            line += QStringLiteral("{height %1 %2} ").arg(format.lineHeightType()).arg(format.lineHeight());
        for (const QTextOption::Tab &tab : format.tabPositions())
            line += QStringLiteral("{tab %1 at %2} ").arg(int(tab.type)).arg(tab.position);
        if (format.hasProperty(Rtf::detail::TabLeadersProperty))
            line += QStringLiteral("{leaders %1} ").arg(format.stringProperty(Rtf::detail::TabLeadersProperty));
        lines.append(line + block.text());
    }
    return lines;
}

void TestRtfWriter::structureRoundTrip()
{
    // What a QTextEdit holds after pasting from a web page: lists of two levels, a table with
    // cells merged across and down and a table in a cell, relative sizes.
    QTextDocument doc;
    doc.setDefaultFont(kBase);
    doc.setHtml(QStringLiteral(
        "<ul><li>one<ul><li>inner</li></ul></li><li>two</li></ul><ol><li>first</li><li>second</li></ol>"
        "<ol type=\"a\"><li>alpha</li></ol>"
        "<table border=\"1\"><tr><td width=\"100\" rowspan=\"2\">tall</td><td width=\"50\">b1</td><td width=\"60\">c1</td></tr>"
        "<tr><td colspan=\"2\">wide<table><tr><td width=\"40\">n1</td><td width=\"40\">n2</td></tr></table></td></tr>"
        "<tr><td>a3</td><td>b3</td><td bgcolor=\"#ffff00\">c3</td></tr></table><p><font size=\"5\">big</font></p>"));
    // Line spacing and tab stops (a right tab with dot leaders, a centred and a decimal one).
    QTextCursor cursor(&doc);
    cursor.movePosition(QTextCursor::End);
    QTextBlockFormat spaced;
    spaced.setLineHeight(150, QTextBlockFormat::ProportionalHeight);
    spaced.setTabPositions({QTextOption::Tab(100, QTextOption::RightTab), QTextOption::Tab(200, QTextOption::CenterTab),
                            QTextOption::Tab(300, QTextOption::DelimiterTab, u'.')});
    spaced.setProperty(Rtf::detail::TabLeadersProperty, QStringLiteral("d  "));
    cursor.insertBlock(spaced);
    cursor.insertText(QStringLiteral("name\tcentre\t1.5"));
    QTextBlockFormat exact;
    exact.setLineHeight(20, QTextBlockFormat::FixedHeight);
    cursor.insertBlock(exact);
    cursor.insertText(QStringLiteral("exact"));
    // An indented table whose cells have borders of their own: a red dotted bottom, none on top.
    QTextTableFormat indented;
    indented.setLeftMargin(40);
    indented.setBorder(2);
    indented.setBorderBrush(Qt::black);
    indented.setBorderCollapse(true);
    indented.setColumnWidthConstraints({QTextLength(QTextLength::FixedLength, 80), QTextLength(QTextLength::FixedLength, 90)});
    QTextTable *bordered = cursor.insertTable(2, 2, indented);
    QTextTableCellFormat own;
    own.setBottomBorder(3);
    own.setBottomBorderStyle(QTextFrameFormat::BorderStyle_Dotted);
    own.setBottomBorderBrush(QColor(255, 0, 0));
    bordered->cellAt(0, 0).setFormat(own);
    QTextTableCellFormat open;
    open.setTopBorder(0);
    open.setTopBorderStyle(QTextFrameFormat::BorderStyle_None);
    bordered->cellAt(1, 1).setFormat(open);
    for (int i = 0; i < 4; ++i)
        bordered->cellAt(i / 2, i % 2).firstCursorPosition().insertText(QStringLiteral("c%1").arg(i));

    const QByteArray rtf = Rtf::write(&doc);
    const auto back = readBack(rtf);
    QCOMPARE(Rtf::plainText(back.get()), Rtf::plainText(&doc));
    QCOMPARE(structureOf(*back), structureOf(doc));
    QVERIFY(Rtf::plainText(&doc).startsWith(QStringLiteral("•\tone\n•\tinner\n•\ttwo\n1.\tfirst\n2.\tsecond\na.\talpha\n")));
    QVERIFY(rtf.contains("\\clvmgf") && rtf.contains("\\clvmrg") && rtf.contains("\\nestcell") && rtf.contains("\\itap2"));
    QVERIFY(rtf.contains("{\\pntext\\pard\\plain \\u8226\\'95\\tab}")); // the bullet as text for old readers
    QVERIFY(rtf.contains("\\tqr\\tldot\\tx1500\\tqc\\tx3000\\tqdec\\tx4500"));
    QVERIFY(rtf.contains("\\sl360\\slmult1"));
    QVERIFY(rtf.contains("\\trleft600") && rtf.contains("\\clbrdrb\\brdrdot\\brdrw45\\brdrcf"));
    QTextCursor big = back->find(QStringLiteral("big"));
    QCOMPARE(big.charFormat().fontPointSize(), 18.0); // size 5 is 1.5 times the base font
}

// Lists whose numbers Qt cannot show keep the word processor's numbers through saving: in the
// list table (start, number format, level text with the levels above) and as each item's text.
void TestRtfWriter::listNumbers_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArrayList>("written");
    QTest::addColumn<int>("lists");
    const QHash<QString, std::pair<QByteArrayList, int>> written = {
        {QStringLiteral("list starting at 3"),
         {{"\\levelnfc0\\levelnfcn0\\leveljc0\\leveljcn0\\levelfollow0\\levelstartat3{\\leveltext\\'02\\'00.;}",
           "{\\pntext\\pard\\plain 3.\\tab}{\\*\\listtext\\pard\\plain 3.\\tab}\\pard\\ls1\\ilvl0", "\\listtext\\pard\\plain 4.\\tab}"},
          1}},
        {QStringLiteral("outline numbers"),
         {{"{\\leveltext\\'04\\'00.\\'01.;}{\\levelnumbers\\'01\\'03;}",
           "{\\leveltext\\'06\\'00.\\'01.\\'02.;}{\\levelnumbers\\'01\\'03\\'05;}",
           "\\listtext\\pard\\plain 2.1.3.\\tab}\\pard\\ls1\\ilvl2", "\\listtext\\pard\\plain 3.1.\\tab}\\pard\\ls1\\ilvl1"},
          1}},
        {QStringLiteral("a level counts again after an item above"),
         {{"\\levelnfc4\\levelnfcn4", "\\listtext\\pard\\plain a.\\tab}\\pard\\ls1\\ilvl1\\ql\\li1200\\fi-360 z"}, 1}},
        {QStringLiteral("text before the number"), {{"{\\leveltext\\'03(\\'00);}{\\levelnumbers\\'02;}"}, 1}},
        {QStringLiteral("number formats Qt lacks"),
         {{"\\levelnfc22\\levelnfcn22", "\\levelnfc5\\levelnfcn5", "\\listtext\\pard\\plain 2nd\\tab}"}, 2}},
        {QStringLiteral("list text the list cannot give"),
         {{"\\levelnfc14\\levelnfcn14", "\\listtext\\pard\\plain \\u20108\\'3f.\\tab}"}, 1}},
        {QStringLiteral("old numbering starting at 4"),
         {{"\\levelnfc2\\levelnfcn2\\leveljc0\\leveljcn0\\levelfollow0\\levelstartat4{\\leveltext\\'02\\'00);}",
           "\\listtext\\pard\\plain v)\\tab}"},
          1}},
        {QStringLiteral("old numbering after the level above"),
         {{"\\levelstartat3{\\leveltext\\'02\\'00.;}", "{\\leveltext\\'04\\'00.\\'01.;}{\\levelnumbers\\'01\\'03;}",
           "\\listtext\\pard\\plain 4.1.\\tab}"},
          1}},
    };
    for (const RtfSamples::ListSample &sample : RtfSamples::listNumbering()) {
        const auto expected = written.value(QLatin1String(sample.name));
        QVERIFY2(!expected.first.isEmpty(), sample.name);
        QTest::newRow(sample.name) << sample.rtf << sample.text << expected.first << expected.second;
    }
}

void TestRtfWriter::listNumbers()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, text);
    QFETCH(QByteArrayList, written);
    QFETCH(int, lists);
    const auto doc = readBack(rtf);
    const QByteArray ours = Rtf::write(doc.get());
    for (const QByteArray &part : std::as_const(written))
        QVERIFY2(ours.contains(part), part.constData());
    QCOMPARE(int(ours.count("{\\listoverride\\")), lists);
    QCOMPARE(Rtf::plainText(readBack(ours).get()), text);
}

void TestRtfWriter::selection()
{
    QTextDocument doc;
    doc.setDefaultFont(kBase);
    QTextCursor cursor(&doc);
    cursor.insertText(QStringLiteral("first para"));
    cursor.insertBlock();
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    cursor.insertText(QStringLiteral("second "), bold);
    Rtf::insertImage(cursor, RtfSamples::halves(6, 2));
    cursor.insertText(QStringLiteral(" bold"), bold);
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("third"));

    QTextCursor selection(&doc);
    selection.setPosition(6);
    selection.setPosition(doc.find(QStringLiteral("bold")).selectionStart() + 2, QTextCursor::KeepAnchor);
    for (const QByteArray &rtf : {Rtf::write(selection), Rtf::write(QTextDocumentFragment(selection), &doc)}) {
        const auto back = readBack(rtf);
        QCOMPARE(Rtf::plainText(back.get()), QStringLiteral("para\nsecond  bo"));
        QCOMPARE(back->find(QStringLiteral("second")).charFormat().fontWeight(), int(QFont::Bold));
        QCOMPARE(imagesOf(*back).size(), 1);
        QCOMPARE(imagesOf(*back).first(), RtfSamples::halves(6, 2));
    }
    // A selection that ends at the start of a paragraph takes the paragraph mark with it.
    selection.setPosition(0);
    selection.setPosition(doc.findBlockByNumber(1).position(), QTextCursor::KeepAnchor);
    QCOMPARE(readBack(Rtf::write(selection))->toPlainText(), QStringLiteral("first para\n"));
    selection.clearSelection();
    QCOMPARE(readBack(Rtf::write(selection))->toPlainText(), QString());
}

void TestRtfWriter::insertAtCursor()
{
    QTextDocument doc;
    doc.setDefaultFont(kBase);
    doc.setPlainText(QStringLiteral("Hello world"));
    QTextCursor cursor = doc.find(QStringLiteral("world"));

    // Inline RTF replaces the selection and keeps its formatting.
    QVERIFY(Rtf::insert(cursor, "{\\rtf1 {\\b big} news}"));
    QCOMPARE(doc.toPlainText(), QStringLiteral("Hello big news"));
    QCOMPARE(doc.find(QStringLiteral("big")).charFormat().fontWeight(), int(QFont::Bold));
    QCOMPARE(doc.find(QStringLiteral("news")).charFormat().fontWeight(), int(QFont::Normal));

    // Several paragraphs and a picture; the picture's resource comes along.
    cursor.setPosition(5);
    const QByteArray picture = "{\\pict\\pngblip " + RtfSamples::encoded(RtfSamples::halves(4, 2), "PNG").toHex() + "}";
    QVERIFY(Rtf::insert(cursor, "{\\rtf1 ,\\par{\\qc middle}\\par " + picture + "end:}"));
    QCOMPARE(Rtf::plainText(&doc), QStringLiteral("Hello,\nmiddle\nend: big news"));
    QCOMPARE(imagesOf(doc).size(), 1);
    QCOMPARE(imagesOf(doc).first(), RtfSamples::halves(4, 2));

    // Plain text, as bytes from the clipboard; empty RTF just deletes the selection.
    cursor = doc.find(QStringLiteral("news"));
    QVERIFY(Rtf::insert(cursor, "plain\r\ntext"));
    QCOMPARE(Rtf::plainText(&doc), QStringLiteral("Hello,\nmiddle\nend: big plain\ntext"));
    cursor = doc.find(QStringLiteral("big "));
    QVERIFY(Rtf::insert(cursor, "{\\rtf1}"));
    QCOMPARE(Rtf::plainText(&doc), QStringLiteral("Hello,\nmiddle\nend: plain\ntext"));

    QTextCursor nowhere;
    QString error;
    QVERIFY(!Rtf::insert(nowhere, "{\\rtf1 x}", &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(Rtf::write(nowhere).isEmpty());
    QVERIFY(Rtf::insertImage(nowhere, RtfSamples::halves(2, 2)).isEmpty());
}

void TestRtfWriter::loadFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("utf-8") << QByteArray("h\xc3\xa9llo\r\nw\xc3\xb6rld\rend") << QStringLiteral("héllo\nwörld\nend");
    QTest::newRow("utf-8 with bom") << QByteArray("\xef\xbb\xbfj\xc3\xa4") << QStringLiteral("jä");
    QTest::newRow("not utf-8") << QByteArray("caf\xe9 \x80 \x93quoted\x94") << QStringLiteral("café € “quoted”");
    QTest::newRow("utf-16le") << QByteArray("\xff\xfe" "a\0\xe9\0", 6) << QStringLiteral("aé");
    QTest::newRow("utf-16be") << QByteArray("\xfe\xff\0a\0\xe9", 6) << QStringLiteral("aé");
    QTest::newRow("nul bytes") << QByteArray("a\0b", 3) << QStringLiteral("a\uFFFDb");
    QTest::newRow("rtf in a .txt file") << QByteArray("{\\rtf1 rich {\\b text}}") << QStringLiteral("rich text");
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestRtfWriter::loadFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("file.txt"));
    writeFile(path, bytes);
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("old"));
    QString error;
    QVERIFY2(Rtf::loadFile(path, &doc, &error), qPrintable(error));
    QCOMPARE(Rtf::plainText(&doc), text);
    QVERIFY(!doc.isUndoAvailable());
    if (bytes.startsWith("{\\rtf"))
        QCOMPARE(doc.find(QStringLiteral("text")).charFormat().fontWeight(), int(QFont::Bold));
}

void TestRtfWriter::loadAndSaveFailures()
{
    QTemporaryDir dir;
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("unchanged"));
    QString error;
    const QString missing = dir.filePath(QStringLiteral("missing.rtf"));
    QVERIFY(!Rtf::loadFile(missing, &doc, &error));
    QVERIFY2(error.contains(missing), qPrintable(error));
    error.clear();
    QVERIFY(!Rtf::loadFile(dir.path(), &doc, &error));
    QVERIFY(error.contains(QStringLiteral("folder")));
    QCOMPARE(doc.toPlainText(), QStringLiteral("unchanged"));

    error.clear();
    QVERIFY(!Rtf::saveFile(dir.filePath(QStringLiteral("no/such/folder/x.rtf")), &doc, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!Rtf::loadFile(QString(), nullptr, &error));
}

void TestRtfWriter::saveAndLoad()
{
    // The editor saves rich text under any name and loads it back.
    QTemporaryDir dir;
    QTextDocument doc;
    doc.setDefaultFont(kBase);
    QTextCursor cursor(&doc);
    QTextCharFormat red;
    red.setForeground(QColor(255, 0, 0));
    cursor.insertText(QStringLiteral("saved "), red);
    Rtf::insertImage(cursor, RtfSamples::halves(10, 4));
    const QString path = dir.filePath(QStringLiteral("note.txt"));
    writeFile(path, "an older, longer file that the save replaces entirely");
    QString error;
    QVERIFY2(Rtf::saveFile(path, &doc, &error), qPrintable(error));
    QCOMPARE(fileBytes(path), Rtf::write(&doc));

    QTextDocument loaded;
    loaded.setDefaultFont(kBase);
    QVERIFY2(Rtf::loadFile(path, &loaded, &error), qPrintable(error));
    QCOMPARE(describe(loaded), describe(doc));
    QCOMPARE(imagesOf(loaded), imagesOf(doc));
}

PARCELO_TEST_MAIN(TestRtfWriter)
#include "tst_rtfwriter.moc"
