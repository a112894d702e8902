// RTF against programs nobody here wrote. LibreOffice Writer (headless) turns HTML and flat
// ODT documents made here into RTF, which ours must read with text, formatting and pictures;
// it reads our RTF back into text and flat ODT, whose styles and pictures are checked; unrtf
// is a second reader of ours. rtfbench is checked on LibreOffice's files.

#include "rtf.h"
#include "rtfreader.h"
#include "rtfsamples.h"
#include "testenv.h"
#include "wordlook.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QTextList>
#include <QTextTable>
#include <QUrl>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

using RtfSamples::formatOf;

constexpr int kLargePictures = 8;
constexpr int kLargeParagraphs = 400;

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QList<QTextImageFormat> imageFormats(const QTextDocument &doc)
{
    QList<QTextImageFormat> images;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isImageFormat())
                images.append(it.fragment().charFormat().toImageFormat());
        }
    }
    return images;
}

QImage imageOf(const QTextDocument &doc, const QTextImageFormat &format)
{
    return doc.resource(QTextDocument::ImageResource, QUrl(format.name())).value<QImage>();
}

// Pictures that compress badly, so that the large document is large.
QImage noise(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    return image;
}

QByteArray fodt(const QByteArray &automaticStyles, const QByteArray &masterPage, const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
           " xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\""
           " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
           " xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\""
           " xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\""
           " xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\""
           " office:version=\"1.3\" office:mimetype=\"application/vnd.oasis.opendocument.text\">\n"
           "<office:font-face-decls><style:font-face style:name=\"MS Mincho\" svg:font-family=\"'MS Mincho'\"/>"
           "<style:font-face style:name=\"Symbol\" svg:font-family=\"Symbol\" style:font-charset=\"x-symbol\"/>"
           "</office:font-face-decls>\n<office:automatic-styles>"
        + automaticStyles
        + "<style:page-layout style:name=\"pm1\"><style:page-layout-properties fo:page-width=\"8.5in\""
          " fo:page-height=\"11in\"/></style:page-layout></office:automatic-styles>\n"
          "<office:master-styles><style:master-page style:name=\"Standard\" style:page-layout-name=\"pm1\">"
        + masterPage + "</style:master-page></office:master-styles>\n<office:body><office:text>\n" + body
        + "</office:text></office:body></office:document>\n";
}

QByteArray frame(const QImage &image, const char *format, const QByteArray &width, const QByteArray &height)
{
    return "<draw:frame text:anchor-type=\"as-char\" svg:width=\"" + width + "\" svg:height=\"" + height
           + "\"><draw:image><office:binary-data>" + RtfSamples::encoded(image, format).toBase64()
           + "</office:binary-data></draw:image></draw:frame>";
}

// A text run of a flat ODT file with the properties of its span and paragraph styles.
struct OdtRun
{
    QString text;
    QHash<QString, QString> properties; // text properties, and "align" for the paragraph
};

struct OdtFrame
{
    QString width, height;
    QImage image;
};

struct Odt
{
    QList<OdtRun> runs;
    QList<OdtFrame> frames;

    // The properties of the run that contains text.
    QHash<QString, QString> at(const QString &text) const
    {
        for (const OdtRun &run : runs) {
            if (run.text.contains(text))
                return run.properties;
        }
        return {{QStringLiteral("missing"), text}};
    }
};

Odt parseFodt(const QByteArray &xml)
{
    QHash<QString, QHash<QString, QString>> styles;
    Odt odt;
    QXmlStreamReader reader(xml);
    QString currentStyle;
    QList<QHash<QString, QString>> stack; // properties of the open paragraphs and spans
    bool inBinary = false;
    QByteArray binary;
    while (!reader.atEnd()) {
        reader.readNext();
        const QStringView name = reader.qualifiedName();
        const QXmlStreamAttributes attributes = reader.attributes();
        if (reader.isStartElement()) {
            if (name == u"style:style") {
                currentStyle = attributes.value(QLatin1String("style:name")).toString();
            } else if (name == u"style:text-properties" || name == u"style:paragraph-properties") {
                for (const QXmlStreamAttribute &attribute : attributes)
                    styles[currentStyle].insert(attribute.qualifiedName().toString(), attribute.value().toString());
            } else if (name == u"text:p" || name == u"text:h" || name == u"text:span") {
                QHash<QString, QString> properties = stack.isEmpty() ? QHash<QString, QString>() : stack.last();
                const QHash<QString, QString> style = styles.value(attributes.value(QLatin1String("text:style-name")).toString());
                for (auto it = style.begin(); it != style.end(); ++it)
                    properties.insert(it.key() == u"fo:text-align" ? QStringLiteral("align") : it.key(), it.value());
                stack.append(properties);
                if (name != u"text:span")
                    odt.runs.append({QString(), properties}); // marks the paragraph start
            } else if (name == u"draw:frame") {
                odt.frames.append({attributes.value(QLatin1String("svg:width")).toString(), attributes.value(QLatin1String("svg:height")).toString(), {}});
            } else if (name == u"office:binary-data") {
                inBinary = true;
                binary.clear();
            } else if (name == u"text:tab") {
                odt.runs.append({QStringLiteral("\t"), stack.value(stack.size() - 1)});
            }
        } else if (reader.isEndElement()) {
            if (name == u"text:p" || name == u"text:h" || name == u"text:span") {
                if (!stack.isEmpty())
                    stack.removeLast();
            } else if (name == u"office:binary-data") {
                inBinary = false;
                if (!odt.frames.isEmpty())
                    odt.frames.last().image = QImage::fromData(QByteArray::fromBase64(binary));
            }
        } else if (reader.isCharacters()) {
            if (inBinary)
                binary += reader.text().toLatin1();
            else if (!stack.isEmpty())
                odt.runs.append({reader.text().toString(), stack.last()});
        }
    }
    return odt;
}

} // namespace

class TestRtfPeers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readsLibreOfficeFromHtml();
    void readsLibreOfficeFromOdt();
    void readsLargeDocumentQuickly();
    void libreOfficeReadsOurText();
    void libreOfficeReadsOurStyles();
    void libreOfficeReadsOurPictures();
    void unrtfReadsOurs();
    void rtfbenchPrintsText();
    void tablesAndListsBothWays();
    void listNumbersBothWays();
    void everyWordKeepsItsLook();
    void layoutBothWays();

private:
    void convert(const QString &target, const QString &outDir, const QStringList &files);
    void buildOurDocument();

    QTemporaryDir m_dir;
    QString m_soffice;
    QTextDocument m_ours;
    QString m_ourFile;
    QImage m_largePictures[kLargePictures];
};

void TestRtfPeers::initTestCase()
{
    m_soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    PARCELO_REQUIRE_PEER(!m_soffice.isEmpty(), "LibreOffice (soffice) is not installed; deps/rtf.txt lists it");
    QVERIFY(m_dir.isValid());
    QDir root(m_dir.path());
    for (const char *folder : {"in", "lo", "ours", "back-text", "back-odt", "html", "back-layout"})
        QVERIFY(root.mkpath(QLatin1String(folder)));

    // HTML: styles, alignment, Japanese and an emoji, lists, a table, a link, a picture.
    const QByteArray png = RtfSamples::encoded(RtfSamples::halves(40, 20), "PNG").toBase64();
    writeAll(m_dir.filePath(QStringLiteral("in/styles.html")),
             "<html><head><meta charset=\"utf-8\"></head><body>\n"
             "<p>Plain <b>bold</b> <i>italic</i> <u>under</u> <s>strike</s> <font color=\"#ff0000\">red</font> "
             "<span style=\"background:#ffff00\">yellowbg</span></p>\n"
             "<p align=\"center\"><font face=\"Courier New\" size=\"5\">Centered courier</font></p>\n"
             "<p align=\"right\">Right \xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e \xf0\x9f\x98\x80 Gr\xc3\xbc\xc3\x9f" "e</p>\n"
             "<p align=\"justify\">Justified</p>\n"
             "<ul><li>bullet one</li><li>bullet two</li></ul><ol><li>num one</li></ol>\n"
             "<table border=\"1\"><tr><td>c11</td><td>c12</td></tr><tr><td>c21</td><td>c22</td></tr></table>\n"
             "<p><a href=\"http://example.com/x\">link text</a></p>\n"
             "<p><img src=\"data:image/png;base64," + png + "\" width=\"80\" height=\"40\"></p>\n</body></html>\n");

    // Tables (merged across and down, a table in a cell) and lists of two levels.
    writeAll(m_dir.filePath(QStringLiteral("in/structure.html")),
             "<html><head><meta charset=\"utf-8\"></head><body><p>Before</p>\n"
             "<table border=\"1\"><tr><td rowspan=\"2\">tall</td><td colspan=\"2\">wide</td></tr>\n"
             "<tr><td>b2</td><td>c2<table border=\"1\"><tr><td>n1</td><td>n2</td></tr><tr><td>n3</td><td>n4</td></tr>"
             "</table></td></tr>\n<tr><td>a3</td><td>b3</td><td>c3</td></tr></table>\n"
             "<ul><li>bullet one<ul><li>inner bullet</li></ul></li><li>bullet two</li></ul>\n"
             "<ol><li>first</li><li>second<ol type=\"a\"><li>sub a</li><li>sub b</li></ol></li></ol>\n"
             "<p>After</p></body></html>\n");
    // Line spacing, tab stops (right with dots, centred) and a page break.
    writeAll(m_dir.filePath(QStringLiteral("in/layout.fodt")),
             fodt("<style:style style:name=\"P1\" style:family=\"paragraph\"><style:paragraph-properties"
                  " fo:line-height=\"150%\"><style:tab-stops><style:tab-stop style:position=\"2in\" style:type=\"right\""
                  " style:leader-style=\"dotted\" style:leader-text=\".\"/><style:tab-stop style:position=\"4in\""
                  " style:type=\"center\"/></style:tab-stops></style:paragraph-properties></style:style>"
                  "<style:style style:name=\"P2\" style:family=\"paragraph\"><style:paragraph-properties"
                  " fo:break-before=\"page\"/></style:style>",
                  {},
                  "<text:p text:style-name=\"P1\">name<text:tab/>price<text:tab/>centre</text:p>\n"
                  "<text:p text:style-name=\"P2\">next page</text:p>\n"));

    // Flat ODT: header, footer, footnote and fields; Japanese and Symbol fonts; a picture.
    writeAll(m_dir.filePath(QStringLiteral("in/fields.fodt")),
             fodt("<style:style style:name=\"T1\" style:family=\"text\"><style:text-properties"
                  " style:font-name=\"MS Mincho\" style:font-name-asian=\"MS Mincho\"/></style:style>"
                  "<style:style style:name=\"T2\" style:family=\"text\"><style:text-properties"
                  " style:font-name=\"Symbol\"/></style:style>",
                  "<style:header><text:p>HeaderWords</text:p></style:header><style:footer><text:p>FooterWords "
                  "<text:page-number>1</text:page-number></text:p></style:footer>",
                  "<text:p>Body one<text:note text:note-class=\"footnote\"><text:note-citation>1</text:note-citation>"
                  "<text:note-body><text:p>FootnoteWords</text:p></text:note-body></text:note> after.</text:p>\n"
                  "<text:p><text:span text:style-name=\"T1\">\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x83\x86\xe3\x82\xad"
                  "\xe3\x82\xb9\xe3\x83\x88</text:span> and <text:span text:style-name=\"T2\">&#xF061;&#xF062;&#xF0B7;"
                  "</text:span> sym</text:p>\n"
                  "<text:p>Pic: " + frame(RtfSamples::halves(30, 10), "PNG", "1in", "0.3333in") + " end</text:p>\n"
                  "<text:p>Field: <text:page-number>1</text:page-number> date</text:p>\n"));

    // A large document: paragraphs between pictures, PNG and JPEG alike.
    QByteArray large;
    for (int i = 0; i < kLargePictures; ++i) {
        m_largePictures[i] = noise(320, 240, quint32(i + 1));
        for (int p = 0; p < kLargeParagraphs / kLargePictures; ++p)
            large += "<text:p>Paragraph " + QByteArray::number(i) + "." + QByteArray::number(p)
                     + " of the large document, with some words to read.</text:p>\n";
        large += "<text:p>" + frame(m_largePictures[i], i % 2 ? "JPEG" : "PNG", "3.3333in", "2.5in") + "</text:p>\n";
    }
    writeAll(m_dir.filePath(QStringLiteral("in/large.fodt")), fodt({}, {}, large));

    buildOurDocument();
    m_ourFile = m_dir.filePath(QStringLiteral("ours/ours.rtf"));
    QString error;
    QVERIFY2(Rtf::saveFile(m_ourFile, &m_ours, &error), qPrintable(error));

    // Three conversions at once, each with a profile of its own.
    const QString in = m_dir.filePath(QStringLiteral("in/"));
    struct Job
    {
        QString profile, target, outDir;
        QStringList files;
    };
    const QList<Job> jobs = {
        {QStringLiteral("p1"), QStringLiteral("rtf:Rich Text Format"), m_dir.filePath(QStringLiteral("lo")),
         {in + QStringLiteral("styles.html"), in + QStringLiteral("fields.fodt"), in + QStringLiteral("large.fodt"),
          in + QStringLiteral("structure.html"), in + QStringLiteral("layout.fodt")}},
        {QStringLiteral("p2"), QStringLiteral("txt:Text (encoded):UTF8"), m_dir.filePath(QStringLiteral("back-text")), {m_ourFile}},
        {QStringLiteral("p3"), QStringLiteral("fodt"), m_dir.filePath(QStringLiteral("back-odt")), {m_ourFile}},
    };
    QList<QProcess *> processes;
    for (const Job &job : jobs) {
        auto *process = new QProcess(this);
        process->setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments{QStringLiteral("-env:UserInstallation=")
                                  + QUrl::fromLocalFile(m_dir.filePath(job.profile)).toString(),
                              QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--convert-to"),
                              job.target, QStringLiteral("--outdir"), job.outDir};
        process->start(m_soffice, arguments + job.files);
        processes.append(process);
    }
    for (QProcess *process : std::as_const(processes)) {
        QVERIFY2(process->waitForFinished(180000), "soffice did not finish");
        QVERIFY2(process->exitCode() == 0, process->readAll().constData());
    }
    for (const char *file : {"lo/styles.rtf", "lo/fields.rtf", "lo/large.rtf", "back-text/ours.txt", "back-odt/ours.fodt"})
        QVERIFY2(QFile::exists(m_dir.filePath(QLatin1String(file))), file);
}

void TestRtfPeers::convert(const QString &target, const QString &outDir, const QStringList &files)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList arguments{QStringLiteral("-env:UserInstallation=")
                                    + QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("p4"))).toString(),
                                QStringLiteral("--headless"), QStringLiteral("--norestore"),
                                QStringLiteral("--convert-to"), target, QStringLiteral("--outdir"), outDir};
    process.start(m_soffice, arguments + files);
    QVERIFY2(process.waitForFinished(180000), "soffice did not finish");
    QVERIFY2(process.exitCode() == 0, process.readAll().constData());
}

// Counts of tables, rows, cells (merged ones once) and list items, and the texts of the cells
// without tables in them, sorted: of a document, and of LibreOffice's HTML export.
struct Structure
{
    int tables = 0, rows = 0, cells = 0, items = 0, nesting = 0;
    QStringList cellTexts;
    bool operator==(const Structure &) const = default;
};

QDebug operator<<(QDebug debug, const Structure &s)
{
    return debug << s.tables << "tables" << s.rows << "rows" << s.cells << "cells" << s.items << "items, nesting"
                 << s.nesting << s.cellTexts;
}

char *toString(const Structure &s)
{
    QString text;
    QDebug(&text) << s;
    return qstrdup(text.toUtf8().constData());
}

Structure structureOf(QTextDocument &doc)
{
    Structure result;
    QSet<QTextTable *> seen;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (block.textList())
            ++result.items;
        int depth = 0;
        for (QTextFrame *frame = doc.frameAt(block.position()); frame; frame = frame->parentFrame()) {
            auto *table = qobject_cast<QTextTable *>(frame);
            if (!table)
                continue;
            ++depth;
            if (seen.contains(table))
                continue;
            seen.insert(table);
            ++result.tables;
            result.rows += table->rows();
            for (int r = 0; r < table->rows(); ++r) {
                for (int c = 0; c < table->columns(); ++c) {
                    const QTextTableCell cell = table->cellAt(r, c);
                    if (cell.row() != r || cell.column() != c)
                        continue;
                    ++result.cells;
                    QStringList texts;
                    bool hasTable = false;
                    for (auto it = cell.begin(); !it.atEnd(); ++it) {
                        if (it.currentFrame())
                            hasTable = true;
                        else if (!it.currentBlock().text().trimmed().isEmpty())
                            texts.append(it.currentBlock().text().trimmed());
                    }
                    if (!hasTable)
                        result.cellTexts.append(texts.join(u' '));
                }
            }
        }
        result.nesting = std::max(result.nesting, depth);
    }
    result.cellTexts.sort();
    return result;
}

Structure structureOfHtml(const QString &html)
{
    Structure result;
    static const QRegularExpression token(QStringLiteral("<(/?)([a-zA-Z0-9]+)[^>]*>|([^<]+)"));
    QList<QString> open;       // texts of the open cells
    QList<bool> openHasTable;
    int depth = 0;
    for (auto it = token.globalMatch(html); it.hasNext();) {
        const auto match = it.next();
        const QString tag = match.captured(2).toLower();
        const bool closing = !match.captured(1).isEmpty();
        if (!match.captured(3).isEmpty()) {
            if (!open.isEmpty())
                open.last() += u' ' + match.captured(3);
        } else if (tag == u"table") {
            depth += closing ? -1 : 1;
            if (!closing) {
                ++result.tables;
                result.nesting = std::max(result.nesting, depth);
                if (!openHasTable.isEmpty())
                    openHasTable.last() = true;
            }
        } else if (tag == u"tr" && !closing) {
            ++result.rows;
        } else if ((tag == u"td" || tag == u"th") && !closing) {
            ++result.cells;
            open.append(QString());
            openHasTable.append(false);
        } else if ((tag == u"td" || tag == u"th") && closing && !open.isEmpty()) {
            const QString text = open.takeLast().simplified();
            if (!openHasTable.takeLast())
                result.cellTexts.append(text);
        } else if (tag == u"li" && !closing) {
            ++result.items;
        }
    }
    result.cellTexts.sort();
    return result;
}

void TestRtfPeers::tablesAndListsBothWays()
{
    // Ours on LibreOffice's RTF: what LibreOffice's own HTML export of it holds.
    QTextDocument doc;
    QVERIFY(Rtf::loadFile(m_dir.filePath(QStringLiteral("lo/structure.rtf")), &doc));
    const QString ours = m_dir.filePath(QStringLiteral("ours/ours-structure.rtf"));
    QVERIFY(Rtf::saveFile(ours, &doc));
    convert(QStringLiteral("html"), m_dir.filePath(QStringLiteral("html")),
            {m_dir.filePath(QStringLiteral("lo/structure.rtf")), ours});
    const Structure read = structureOf(doc);
    const Structure libreOffice = structureOfHtml(QString::fromUtf8(readAll(m_dir.filePath(QStringLiteral("html/structure.html")))));
    QCOMPARE(read, libreOffice);
    QCOMPARE(read.tables, 2);
    QCOMPARE(read.rows, 5);
    QCOMPARE(read.items, 7);
    QCOMPARE(read.nesting, 2);
    QVERIFY(Rtf::plainText(&doc).contains(QStringLiteral("•\tbullet one\n•\tinner bullet\n•\tbullet two\n1.\tfirst\n2.\tsecond\n"
                                                         "a.\tsub a\nb.\tsub b")));

    // rtfbench --html prints the document as the editor holds it: the same again.
    QProcess rtfbench;
    rtfbench.start(QStringLiteral(PARCELO_BIN_DIR "/rtfbench"),
                   {QStringLiteral("--html"), m_dir.filePath(QStringLiteral("lo/structure.rtf"))});
    QVERIFY(rtfbench.waitForFinished(30000));
    QCOMPARE(rtfbench.exitCode(), 0);
    QCOMPARE(structureOfHtml(QString::fromUtf8(rtfbench.readAllStandardOutput())), libreOffice);

    // LibreOffice on ours: the same tables, cells and list items.
    const QString back = QString::fromUtf8(readAll(m_dir.filePath(QStringLiteral("html/ours-structure.html"))));
    QCOMPARE(structureOfHtml(back), libreOffice);
    QCOMPARE(back.count(QStringLiteral("<ol")), 2); // numbered lists stay numbered
    QVERIFY(back.contains(QStringLiteral("rowspan=\"2\"")) && back.contains(QStringLiteral("colspan=\"2\"")));
}

// The lines of LibreOffice's text export, a list item's number and text separated by a tab as
// in ours (LibreOffice indents an item by its level and puts a blank after its number).
QStringList libreOfficeLines(QByteArray text)
{
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    QStringList lines = QString::fromUtf8(text).trimmed().split(u'\n');
    for (QString &line : lines) {
        line.remove(u'\r');
        if (line.startsWith(u' ')) {
            line = line.trimmed();
            line.replace(line.indexOf(u' '), 1, u'\t');
        }
    }
    return lines;
}

// LibreOffice writes a list that starts at 3 and an outline-numbered one ("2.1.3."). The editor
// shows the numbers LibreOffice shows, and LibreOffice reads the same numbers from the copy the
// editor saves.
void TestRtfPeers::listNumbersBothWays()
{
    QDir root(m_dir.path());
    QVERIFY(root.mkpath(QStringLiteral("lists/in")) && root.mkpath(QStringLiteral("lists/text")));
    const QString in = m_dir.filePath(QStringLiteral("lists/in/"));
    const QString lists = m_dir.filePath(QStringLiteral("lists/"));
    writeAll(in + QStringLiteral("numbers.fodt"),
             fodt("<text:list-style style:name=\"L1\"><text:list-level-style-number text:level=\"1\" style:num-suffix=\".\""
                  " style:num-format=\"1\" text:start-value=\"3\"/></text:list-style>"
                  "<text:list-style style:name=\"L2\"><text:list-level-style-number text:level=\"1\" style:num-suffix=\".\""
                  " style:num-format=\"1\"/><text:list-level-style-number text:level=\"2\" style:num-suffix=\".\""
                  " style:num-format=\"1\" text:display-levels=\"2\"/><text:list-level-style-number text:level=\"3\""
                  " style:num-suffix=\".\" style:num-format=\"1\" text:display-levels=\"3\"/></text:list-style>",
                  {},
                  "<text:p>Before</text:p>\n<text:list text:style-name=\"L1\"><text:list-item><text:p>Third item</text:p>"
                  "</text:list-item><text:list-item><text:p>Fourth item</text:p></text:list-item></text:list>\n"
                  "<text:list text:style-name=\"L2\"><text:list-item><text:p>Chapter one</text:p></text:list-item>"
                  "<text:list-item><text:p>Chapter two</text:p><text:list><text:list-item><text:p>Section two one</text:p>"
                  "<text:list><text:list-item><text:p>Point a</text:p></text:list-item><text:list-item><text:p>Point b"
                  "</text:p></text:list-item><text:list-item><text:p>Point c</text:p></text:list-item></text:list>"
                  "</text:list-item><text:list-item><text:p>Section two two</text:p></text:list-item></text:list>"
                  "</text:list-item><text:list-item><text:p>Chapter three</text:p><text:list><text:list-item><text:p>"
                  "Section three one</text:p></text:list-item></text:list></text:list-item></text:list>\n"
                  "<text:p>After</text:p>\n"));
    convert(QStringLiteral("rtf:Rich Text Format"), lists, {in + QStringLiteral("numbers.fodt")});
    QTextDocument doc;
    QString error;
    QVERIFY2(Rtf::loadFile(lists + QStringLiteral("numbers.rtf"), &doc, &error), qPrintable(error));
    QVERIFY2(Rtf::saveFile(lists + QStringLiteral("saved-numbers.rtf"), &doc, &error), qPrintable(error));
    convert(QStringLiteral("txt:Text (encoded):UTF8"), lists + QStringLiteral("text"),
            {lists + QStringLiteral("numbers.rtf"), lists + QStringLiteral("saved-numbers.rtf")});

    const QStringList libreOffice = libreOfficeLines(readAll(lists + QStringLiteral("text/numbers.txt")));
    for (const char *line : {"3.\tThird item", "4.\tFourth item", "2.1.\tSection two one", "2.1.3.\tPoint c",
                             "2.2.\tSection two two", "3.1.\tSection three one"})
        QVERIFY2(libreOffice.contains(QLatin1String(line)), line);
    QCOMPARE(libreOfficeLines(readAll(lists + QStringLiteral("text/saved-numbers.txt"))), libreOffice);

    // The editor's text, as rtfbench --text prints it: the same numbers.
    QProcess rtfbench;
    rtfbench.start(QStringLiteral(PARCELO_BIN_DIR "/rtfbench"), {QStringLiteral("--text"), lists + QStringLiteral("numbers.rtf")});
    QVERIFY(rtfbench.waitForFinished(30000));
    QCOMPARE(rtfbench.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(rtfbench.readAllStandardOutput()).trimmed().split(u'\n'), libreOffice);
    QCOMPARE(Rtf::plainText(&doc).split(u'\n'), libreOffice);
}

// Documents from several writers, opened and saved again as the editor does (its base font
// unlike any of theirs): every word looks the same to LibreOffice in the copy as in the
// original (face, size, styles, colour, raised or lowered, capitals), ours reads every word as
// LibreOffice does, and tables, rows, cells and list items are those LibreOffice finds.
void TestRtfPeers::everyWordKeepsItsLook()
{
    QDir root(m_dir.path());
    QVERIFY(root.mkpath(QStringLiteral("looks/in")) && root.mkpath(QStringLiteral("looks/rtf"))
            && root.mkpath(QStringLiteral("looks/html")));
    const QString in = m_dir.filePath(QStringLiteral("looks/in/"));
    const QString rtf = m_dir.filePath(QStringLiteral("looks/rtf/"));
    // LibreOffice writes RTF from a document made in many fonts, sizes, styles and colours.
    writeAll(in + QStringLiteral("writer.html"),
             "<html><head><meta charset=\"utf-8\"></head><body>\n"
             "<p>Plain words <b>bold</b> <i>italic</i> <u>under</u> <s>strike</s> <font color=\"#c00000\">dark red</font>"
             " <font color=\"#0070c0\"><b>blue bold</b></font></p>\n"
             "<p><font face=\"Liberation Sans\" style=\"font-size: 8pt\">sans eight</font> <font face=\"DejaVu Sans Mono\""
             " style=\"font-size: 14pt\">mono fourteen</font> <font face=\"Liberation Serif\" style=\"font-size: 20pt\">"
             "<i>serif twenty</i></font> <span style=\"font-size: 10.5pt\">ten and a half</span></p>\n"
             "<p>E = mc<sup>2</sup> and H<sub>2</sub>O, <span style=\"font-variant: small-caps\">Small Capitals</span>"
             " <span style=\"text-transform: uppercase\">all capitals</span></p>\n"
             "<table border=\"1\"><tr><td rowspan=\"2\"><b>Permit</b> Application</td><td colspan=\"2\">"
             "<font face=\"DejaVu Sans Mono\">Equipment Status</font></td></tr>\n"
             "<tr><td>PermitNo</td><td><i>d10</i></td></tr><tr><td>a3</td><td>b3</td><td>c3</td></tr></table>\n"
             "<ul><li><font face=\"Liberation Sans\">bullet one</font></li><li><u>bullet two</u></li></ul>"
             "<ol><li>first item</li><li><font color=\"#00b050\">second item</font></li></ol>\n"
             "<p>After the lists.</p></body></html>\n");
    const QString failure = convertWithLibreOffice(m_soffice, m_dir.filePath(QStringLiteral("p5")),
                                                   QStringLiteral("rtf:Rich Text Format"), rtf,
                                                   {QStringLiteral("--infilter=HTML (StarWriter)"), in + QStringLiteral("writer.html")});
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    // WordPad: the document's default font named once (\f0), a size on every paragraph.
    writeAll(rtf + QStringLiteral("wordpad.rtf"),
             "{\\rtf1\\ansi\\ansicpg1252\\deff0\\nouicompat\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 Calibri;}"
             "{\\f1\\fnil\\fcharset0 Courier New;}{\\f2\\fnil\\fcharset2 Symbol;}}\r\n{\\colortbl ;\\red255\\green0\\blue0;"
             "\\red0\\green77\\blue187;}\r\n{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1 \r\n"
             "\\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang9 Body in the default font \\b bold\\b0  \\i italic\\i0  "
             "\\ul underlined\\ulnone  \\strike struck\\strike0  \\cf1 red\\cf0  \\cf2\\b blue bold\\cf0\\b0\\par\r\n"
             "\\f1\\fs20 Courier ten \\f0\\fs28 Calibri fourteen\\fs22  x\\super 2\\nosupersub  y\\sub i\\nosupersub\\par\r\n"
             "\\pard\\sa200\\sl276\\slmult1 Last line\\par\r\n}\r\n");
    // Word: a style sheet, font words in pairs, a table with a merged column and edges a few
    // twips apart, a list, capitals.
    writeAll(rtf + QStringLiteral("word.rtf"),
             "{\\rtf1\\adeflang1025\\ansi\\ansicpg1252\\uc1\\adeff31507\\deff0\\stshfdbch31505\\stshfloch31506\\deflang1033"
             "{\\fonttbl{\\f0\\fbidi \\froman\\fcharset0\\fprq2{\\*\\panose 02020603050405020304}Times New Roman;}"
             "{\\f37\\fbidi \\fswiss\\fcharset0\\fprq2{\\*\\panose 020f0502020204030204}Calibri;}"
             "{\\f38\\fbidi \\fswiss\\fcharset0\\fprq2 Arial;}{\\flomajor\\f31500\\fbidi \\froman\\fcharset0\\fprq2 Times New Roman;}}\n"
             "{\\colortbl;\\red0\\green0\\blue0;\\red255\\green0\\blue0;\\red0\\green112\\blue192;}\n"
             "{\\*\\defchp \\f37\\fs22 }{\\*\\defpap \\ql \\li0\\ri0\\sa160\\sl259\\slmult1 }\n"
             "{\\stylesheet{\\ql \\li0\\ri0\\sa160\\sl259\\slmult1\\widctlpar\\rtlch\\fcs1 \\af31507\\afs22 \\ltrch\\fcs0 "
             "\\f37\\fs22\\lang1033 \\snext0 Normal;}{\\*\\cs10 \\additive \\ssemihidden Default Paragraph Font;}}\n"
             "{\\*\\listtable{\\list\\listtemplateid1{\\listlevel\\levelnfc0\\levelstartat1{\\leveltext\\'02\\'00.;}"
             "{\\levelnumbers\\'01;}\\fi-360\\li720}\\listid100}}{\\*\\listoverridetable{\\listoverride\\listid100\\ls1}}\n"
             "\\pard\\plain \\ltrpar\\ql \\li0\\ri0\\sa160\\sl259\\slmult1\\widctlpar\\rtlch\\fcs1 \\af31507\\afs22 "
             "\\ltrch\\fcs0 \\f37\\fs22\\lang1033 {\\rtlch\\fcs1 \\af31507 \\ltrch\\fcs0 \\insrsid1 Word body in Calibri }"
             "{\\rtlch\\fcs1 \\ab\\af31507 \\ltrch\\fcs0 \\b\\cf2\\insrsid1 red bold}{\\rtlch\\fcs1 \\af31507 \\ltrch\\fcs0 "
             "\\insrsid1  }{\\rtlch\\fcs1 \\af31507 \\ltrch\\fcs0 \\scaps\\insrsid1 Small Caps}{\\rtlch\\fcs1 \\af31507 "
             "\\ltrch\\fcs0 \\insrsid1  }{\\rtlch\\fcs1 \\af31507 \\ltrch\\fcs0 \\caps\\insrsid1 upper}{\\rtlch\\fcs1 "
             "\\af31507 \\ltrch\\fcs0 \\f38\\fs28\\insrsid1  Arial fourteen}\\par\n"
             "\\trowd \\irow0\\irowband0\\ts11\\trgaph108\\trleft-108\\trbrdrt\\brdrs\\brdrw10 \\clvmgf\\clbrdrt\\brdrs\\brdrw10 "
             "\\cellx3008\\clbrdrt\\brdrs\\brdrw10 \\cellx6124\\clbrdrt\\brdrs\\brdrw10 \\cellx9240\\pard\\plain \\intbl "
             "\\f37\\fs22 {\\b Merged}\\cell Top middle\\cell Top right\\cell \\pard\\plain \\intbl \\f37\\fs22 \\trowd "
             "\\irow0\\trgaph108\\trleft-108\\clvmgf\\cellx3008\\cellx6124\\cellx9240\\row \\trowd \\irow1\\trgaph108"
             "\\trleft-108\\clvmrg\\cellx3011\\cellx6120\\cellx9243\\pard\\plain \\intbl \\f37\\fs22 \\cell {\\i Second "
             "middle}\\cell Second right\\cell \\pard\\plain \\intbl \\f37\\fs22 \\trowd \\irow1\\trgaph108\\trleft-108"
             "\\clvmrg\\cellx3011\\cellx6120\\cellx9243\\row \\trowd \\irow2\\lastrow\\trgaph108\\trleft-108\\cellx3005"
             "\\cellx6127\\cellx9240\\pard\\plain \\intbl \\f37\\fs22 Third left\\cell Third middle\\cell Third right\\cell "
             "\\pard\\plain \\intbl \\f37\\fs22 \\trowd \\irow2\\lastrow\\trgaph108\\trleft-108\\cellx3005\\cellx6127"
             "\\cellx9240\\row \\pard\\plain \\ltrpar\\ql \\fi-360\\li720\\ri0\\sa160\\sl259\\slmult1\\ls1\\f37\\fs22 "
             "{\\listtext\\pard\\plain \\f37\\fs22 1.\\tab}First point\\par {\\listtext\\pard\\plain \\f37\\fs22 2.\\tab}"
             "{\\f38 Second point}\\par \\pard\\plain \\f37\\fs22 Closing words\\par }\n");

    const QStringList names{QStringLiteral("writer"), QStringLiteral("wordpad"), QStringLiteral("word")};
    QStringList files;
    QList<QTextDocument *> read;
    for (const QString &name : names) {
        auto *doc = new QTextDocument(this);
        doc->setDefaultFont(QFont(QStringLiteral("Sans Serif"), 9)); // the editor's base font
        QString error;
        QVERIFY2(Rtf::loadFile(rtf + name + QStringLiteral(".rtf"), doc, &error), qPrintable(error));
        QVERIFY2(Rtf::saveFile(rtf + QStringLiteral("saved-") + name + QStringLiteral(".rtf"), doc, &error), qPrintable(error));
        read.append(doc);
        files << rtf + name + QStringLiteral(".rtf") << rtf + QStringLiteral("saved-") + name + QStringLiteral(".rtf");
    }
    const QString html = m_dir.filePath(QStringLiteral("looks/html/"));
    const QString converted = convertWithLibreOffice(m_soffice, m_dir.filePath(QStringLiteral("p5")), QStringLiteral("html"),
                                                     html, files);
    QVERIFY2(converted.isEmpty(), qPrintable(converted));
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString &name = names.at(i);
        const QByteArray original = readAll(html + name + QStringLiteral(".html"));
        const QList<WordLook> libreOffice = wordLooksOfHtml(original);
        QVERIFY2(libreOffice.size() > 20, qPrintable(name));
        QString difference = firstLookDifference(libreOffice, wordLooksOfHtml(readAll(html + QStringLiteral("saved-") + name
                                                                                      + QStringLiteral(".html"))));
        QVERIFY2(difference.isEmpty(), qPrintable(name + QStringLiteral(" saved again: ") + difference));
        difference = firstLookDifference(libreOffice, wordLooksOf(read.at(i)));
        QVERIFY2(difference.isEmpty(), qPrintable(name + QStringLiteral(" as ours reads it: ") + difference));
        const Structure ours = structureOf(*read.at(i));
        QCOMPARE(ours, structureOfHtml(QString::fromUtf8(original)));
        QVERIFY(ours.items >= 2 || name == QStringLiteral("wordpad"));
    }
    qDeleteAll(read);
}

void TestRtfPeers::layoutBothWays()
{
    QTextDocument doc;
    QVERIFY(Rtf::loadFile(m_dir.filePath(QStringLiteral("lo/layout.rtf")), &doc));
    const QTextBlockFormat tabbed = doc.findBlockByNumber(0).blockFormat();
    QCOMPARE(tabbed.lineHeightType(), int(QTextBlockFormat::ProportionalHeight));
    QCOMPARE(tabbed.lineHeight(), 150.0);
    const QList<QTextOption::Tab> tabs = tabbed.tabPositions();
    QCOMPARE(tabs.size(), 2);
    QCOMPARE(tabs.at(0).type, QTextOption::RightTab);
    QVERIFY(qAbs(tabs.at(0).position - 192) < 1); // 2 in
    QCOMPARE(tabs.at(1).type, QTextOption::CenterTab);
    QCOMPARE(tabbed.stringProperty(Rtf::detail::TabLeadersProperty), QStringLiteral("d "));
    QCOMPARE(doc.findBlockByNumber(1).blockFormat().pageBreakPolicy(), QTextFormat::PageBreak_AlwaysBefore);

    const QString ours = m_dir.filePath(QStringLiteral("ours/ours-layout.rtf"));
    QVERIFY(Rtf::saveFile(ours, &doc));
    convert(QStringLiteral("fodt"), m_dir.filePath(QStringLiteral("back-layout")), {ours});
    const QString fodt = QString::fromUtf8(readAll(m_dir.filePath(QStringLiteral("back-layout/ours-layout.fodt"))));
    QVERIFY(fodt.contains(QStringLiteral("fo:line-height=\"150%\"")));
    QVERIFY(fodt.contains(QRegularExpression(QStringLiteral("style:position=\"(2in|5.08cm)\" style:type=\"right\""
                                                            " style:leader-style=\"dotted\""))));
    QVERIFY(fodt.contains(QStringLiteral("style:type=\"center\"")));
    QVERIFY(fodt.contains(QStringLiteral("fo:break-before=\"page\"")));
}

void TestRtfPeers::buildOurDocument()
{
    m_ours.setDefaultFont(QFont(QStringLiteral("Verdana"), 12));
    QTextCursor cursor(&m_ours);
    auto run = [&cursor](const QString &text, const std::function<void(QTextCharFormat &)> &setup = {}) {
        QTextCharFormat format;
        if (setup)
            setup(format);
        cursor.insertText(text, format);
    };
    run(QStringLiteral("plain "));
    run(QStringLiteral("bold"), [](QTextCharFormat &f) { f.setFontWeight(QFont::Bold); });
    run(QStringLiteral(" "));
    run(QStringLiteral("italic"), [](QTextCharFormat &f) { f.setFontItalic(true); });
    run(QStringLiteral(" "));
    run(QStringLiteral("under"), [](QTextCharFormat &f) { f.setFontUnderline(true); });
    run(QStringLiteral(" "));
    run(QStringLiteral("struck"), [](QTextCharFormat &f) { f.setFontStrikeOut(true); });
    run(QStringLiteral(" "));
    run(QStringLiteral("red"), [](QTextCharFormat &f) { f.setForeground(QColor(200, 10, 20)); });
    run(QStringLiteral(" "));
    run(QStringLiteral("yellowbg"), [](QTextCharFormat &f) { f.setBackground(QColor(255, 255, 0)); });
    run(QStringLiteral(" "));
    run(QStringLiteral("courier"), [](QTextCharFormat &f) {
        f.setFontFamilies({QStringLiteral("Courier New")});
        f.setFontPointSize(18);
    });
    const std::pair<Qt::Alignment, QString> paragraphs[] = {
        {Qt::AlignHCenter, QStringLiteral("centred 日本語 😀 Grüße €")},
        {Qt::AlignRight, QStringLiteral("right")},
        {Qt::AlignJustify, QStringLiteral("justified")},
        {Qt::AlignLeft, QString()},
        {Qt::AlignLeft, QStringLiteral("picture: ")},
    };
    for (const auto &[alignment, text] : paragraphs) {
        QTextBlockFormat format;
        format.setAlignment(alignment);
        cursor.insertBlock(format, QTextCharFormat());
        run(text);
    }
    Rtf::insertImage(cursor, RtfSamples::halves(40, 20), QSizeF(80, 40));
    run(QStringLiteral(" end"));
}

void TestRtfPeers::readsLibreOfficeFromHtml()
{
    QTextDocument doc;
    Rtf::RtfReader reader;
    QVERIFY(reader.read(readAll(m_dir.filePath(QStringLiteral("lo/styles.rtf"))), &doc));
    QCOMPARE(Rtf::plainText(&doc).split(u'\n'),
             (QStringList{QStringLiteral("Plain bold italic under strike red yellowbg"), QStringLiteral("Centered courier"),
                          QStringLiteral("Right 日本語 😀 Grüße"), QStringLiteral("Justified"),
                          QStringLiteral("•\tbullet one"), QStringLiteral("•\tbullet two"), QStringLiteral("1.\tnum one"),
                          QStringLiteral("c11\tc12"), QStringLiteral("c21\tc22"), QStringLiteral("link text"), QString()}));
    QCOMPARE(formatOf(doc, QStringLiteral("bold")).fontWeight(), int(QFont::Bold));
    QCOMPARE(formatOf(doc, QStringLiteral("Plain")).fontWeight(), int(QFont::Normal));
    QVERIFY(formatOf(doc, QStringLiteral("italic")).fontItalic());
    QVERIFY(formatOf(doc, QStringLiteral("under")).fontUnderline());
    QVERIFY(formatOf(doc, QStringLiteral("strike")).fontStrikeOut());
    QCOMPARE(formatOf(doc, QStringLiteral("red")).foreground().color(), QColor(255, 0, 0));
    QCOMPARE(formatOf(doc, QStringLiteral("yellowbg")).background().color(), QColor(255, 255, 0));
    const QTextCharFormat courier = formatOf(doc, QStringLiteral("courier"));
    QCOMPARE(courier.fontFamilies().toStringList(), QStringList{QStringLiteral("Courier New")});
    QCOMPARE(courier.fontPointSize(), 18.0);
    QCOMPARE(doc.findBlockByNumber(1).blockFormat().alignment(), Qt::AlignHCenter);
    QCOMPARE(doc.findBlockByNumber(2).blockFormat().alignment(), Qt::AlignRight);
    QCOMPARE(doc.findBlockByNumber(3).blockFormat().alignment(), Qt::AlignJustify);
    QCOMPARE(formatOf(doc, QStringLiteral("link")).anchorHref(), QStringLiteral("http://example.com/x"));

    // The picture once (LibreOffice also writes it as a metafile), at the size the HTML gave.
    const QList<QTextImageFormat> images = imageFormats(doc);
    QCOMPARE(images.size(), 1);
    QCOMPARE(QSizeF(images.first().width(), images.first().height()), QSizeF(80, 40));
    QCOMPARE(imageOf(doc, images.first()).convertToFormat(QImage::Format_RGB32), RtfSamples::halves(40, 20));
    QCOMPARE(reader.stats().picturesLeftOut, 0);

    // Readers that do not know \\shppict get the metafile copy, which wraps the same bitmap.
    QByteArray withoutPng = readAll(m_dir.filePath(QStringLiteral("lo/styles.rtf")));
    QVERIFY(withoutPng.contains("\\wmetafile8"));
    withoutPng.replace("{\\*\\shppict", "{\\*\\unknownpict");
    QTextDocument metafile;
    QVERIFY(Rtf::read(withoutPng, &metafile));
    const QList<QTextImageFormat> fromMetafile = imageFormats(metafile);
    QCOMPARE(fromMetafile.size(), 1);
    QCOMPARE(QSizeF(fromMetafile.first().width(), fromMetafile.first().height()), QSizeF(80, 40));
    QCOMPARE(imageOf(metafile, fromMetafile.first()).convertToFormat(QImage::Format_RGB32), RtfSamples::halves(40, 20));
}

void TestRtfPeers::readsLibreOfficeFromOdt()
{
    QTextDocument doc;
    QVERIFY(Rtf::read(readAll(m_dir.filePath(QStringLiteral("lo/fields.rtf"))), &doc));
    // Header, footer and footnote are not body text; the fields keep their results.
    QCOMPARE(Rtf::plainText(&doc).split(u'\n'),
             (QStringList{QStringLiteral("Body one after."), QStringLiteral("日本語テキスト and αβ• sym"),
                          QStringLiteral("Pic:  end"), QStringLiteral("Field: 1 date")}));
    QCOMPARE(formatOf(doc, QStringLiteral("日本")).fontFamilies().toStringList(), QStringList{QStringLiteral("MS Mincho")});
    QCOMPARE(formatOf(doc, QStringLiteral("αβ")).fontFamilies().toStringList(), QStringList{QStringLiteral("Symbol")});
    const QList<QTextImageFormat> images = imageFormats(doc);
    QCOMPARE(images.size(), 1);
    QCOMPARE(QSizeF(images.first().width(), images.first().height()), QSizeF(96, 32)); // 1 in x 1/3 in
    QCOMPARE(imageOf(doc, images.first()).convertToFormat(QImage::Format_RGB32), RtfSamples::halves(30, 10));
}

void TestRtfPeers::readsLargeDocumentQuickly()
{
    const QByteArray data = readAll(m_dir.filePath(QStringLiteral("lo/large.rtf")));
    QVERIFY2(data.size() > 3000000, qPrintable(QString::number(data.size())));
    QTextDocument doc;
    Rtf::RtfReader reader;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(reader.read(data, &doc));
    const qint64 elapsed = timer.elapsed();
    qInfo("%.1f MB read in %lld ms", data.size() / 1e6, elapsed);
    QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed)));

    const QStringList lines = Rtf::plainText(&doc).split(u'\n');
    QCOMPARE(lines.count(QStringLiteral("")), kLargePictures); // the picture paragraphs
    QCOMPARE(lines.size(), kLargeParagraphs + kLargePictures);
    QCOMPARE(lines.first(), QStringLiteral("Paragraph 0.0 of the large document, with some words to read."));
    const QList<QTextImageFormat> images = imageFormats(doc);
    QCOMPARE(images.size(), kLargePictures);
    for (int i = 0; i < kLargePictures; ++i) {
        QVERIFY(qAbs(images.at(i).width() - 320) < 0.5 && qAbs(images.at(i).height() - 240) < 0.5);
        const QImage image = imageOf(doc, images.at(i)).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(image.size(), QSize(320, 240));
        if (i % 2 == 0)
            QCOMPARE(image, m_largePictures[i]); // PNG: exactly the pixels
    }
}

void TestRtfPeers::libreOfficeReadsOurText()
{
    QByteArray text = readAll(m_dir.filePath(QStringLiteral("back-text/ours.txt")));
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    QCOMPARE(QString::fromUtf8(text).trimmed(), Rtf::plainText(&m_ours).trimmed());
}

void TestRtfPeers::libreOfficeReadsOurStyles()
{
    const Odt odt = parseFodt(readAll(m_dir.filePath(QStringLiteral("back-odt/ours.fodt"))));
    using Props = QHash<QString, QString>;
    auto has = [](const Props &properties, const char *key, const char *value) {
        return properties.value(QLatin1String(key)) == QLatin1String(value);
    };
    QVERIFY(has(odt.at(QStringLiteral("bold")), "fo:font-weight", "bold"));
    QVERIFY(!odt.at(QStringLiteral("plain")).contains(QStringLiteral("fo:font-weight"))
            || has(odt.at(QStringLiteral("plain")), "fo:font-weight", "normal"));
    QVERIFY(has(odt.at(QStringLiteral("italic")), "fo:font-style", "italic"));
    QVERIFY(has(odt.at(QStringLiteral("under")), "style:text-underline-style", "solid"));
    QVERIFY(has(odt.at(QStringLiteral("struck")), "style:text-line-through-style", "solid"));
    QVERIFY(has(odt.at(QStringLiteral("red")), "fo:color", "#c80a14"));
    QVERIFY(has(odt.at(QStringLiteral("yellowbg")), "fo:background-color", "#ffff00"));
    QVERIFY(has(odt.at(QStringLiteral("courier")), "style:font-name", "Courier New"));
    QVERIFY(has(odt.at(QStringLiteral("courier")), "fo:font-size", "18pt"));
    QVERIFY(has(odt.at(QStringLiteral("plain")), "style:font-name", "Verdana"));
    // Text in the base font names no size: 12 points, the default.
    QVERIFY(!odt.at(QStringLiteral("plain")).contains(QStringLiteral("fo:font-size"))
            || has(odt.at(QStringLiteral("plain")), "fo:font-size", "12pt"));
    QVERIFY(has(odt.at(QStringLiteral("centred")), "align", "center"));
    QVERIFY(has(odt.at(QStringLiteral("right")), "align", "end"));
    QVERIFY(has(odt.at(QStringLiteral("justified")), "align", "justify"));
    QVERIFY(odt.at(QStringLiteral("centred 日本語 😀 Grüße €")).value(QStringLiteral("missing")).isEmpty());
}

void TestRtfPeers::libreOfficeReadsOurPictures()
{
    const Odt odt = parseFodt(readAll(m_dir.filePath(QStringLiteral("back-odt/ours.fodt"))));
    QCOMPARE(odt.frames.size(), 1);
    // 80 x 40 pixels at 96 dpi, in LibreOffice's inches.
    QCOMPARE(odt.frames.first().width, QStringLiteral("0.8335in"));
    QCOMPARE(odt.frames.first().height, QStringLiteral("0.4165in"));
    QCOMPARE(odt.frames.first().image.convertToFormat(QImage::Format_RGB32), RtfSamples::halves(40, 20));
}

void TestRtfPeers::unrtfReadsOurs()
{
    const QString unrtf = QStandardPaths::findExecutable(QStringLiteral("unrtf"));
    PARCELO_REQUIRE_PEER(!unrtf.isEmpty(), "unrtf is not installed; deps/rtf.txt lists it");
    QTemporaryDir work;
    QProcess process;
    process.setWorkingDirectory(work.path()); // it writes the pictures there
    process.start(unrtf, {QStringLiteral("--html"), m_ourFile});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    const QString html = QString::fromUtf8(process.readAllStandardOutput());
    for (const char *expected : {"<b>bold</b>", "<i>italic</i>", "<u>under</u>", "<s>struck</s>",
                                 "<font color=\"#c80a14\">red</font>", "background:#ffff00\">yellowbg</span>",
                                 "<font face=\"Courier New\">", "<center>centred &#26085;&#26412;&#35486;",
                                 "Gr&uuml;&szlig;e"}) {
        QVERIFY2(html.contains(QLatin1String(expected)), expected);
    }
    QVERIFY(html.contains(QRegularExpression(QStringLiteral("<div align=\"right\">\\s*right"))));
    const QImage picture(work.filePath(QStringLiteral("pict001.png")));
    QCOMPARE(picture.convertToFormat(QImage::Format_RGB32), RtfSamples::halves(40, 20));
}

void TestRtfPeers::rtfbenchPrintsText()
{
    const QString rtfbench = QStringLiteral(PARCELO_BIN_DIR "/rtfbench");
    const QString file = m_dir.filePath(QStringLiteral("lo/styles.rtf"));
    QProcess process;
    process.start(rtfbench, {QStringLiteral("--text"), file});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    QTextDocument doc;
    QVERIFY(Rtf::loadFile(file, &doc));
    QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()), Rtf::plainText(&doc) + u'\n');

    process.start(rtfbench, {QStringLiteral("--text"), m_dir.filePath(QStringLiteral("no-such-file.rtf"))});
    QVERIFY(process.waitForFinished(30000));
    QVERIFY(process.exitCode() != 0);
    QVERIFY(process.readAllStandardError().contains("no-such-file.rtf"));

    process.start(rtfbench, {file, m_dir.filePath(QStringLiteral("lo/large.rtf"))});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 0);
    const QString timings = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(timings.contains(QRegularExpression(QStringLiteral("large\\.rtf: [0-9.]+ MB in [0-9.]+ ms, [0-9.]+ MB/s, "
                                                                "408 paragraphs, 8 pictures"))),
             qPrintable(timings));
}

PARCELO_TEST_MAIN(TestRtfPeers)
#include "tst_rtfpeers.moc"
