// Writes the seed corpus of the RTF fuzzing target into the folder given: the word-processor
// sample, one short document per construct, the lists whose numbers Qt cannot show, and the
// writer's output for a formatted document with a picture.

#include "rtf.h"
#include "rtfsamples.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTextCursor>
#include <QTextDocument>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: rtf_fuzzseeds FOLDER\n");
        return 2;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral(".")))
        return 1;

    QList<QByteArray> seeds = RtfSamples::snippets();
    seeds.append(RtfSamples::wordProcessorDocument());
    for (const RtfSamples::ListSample &sample : RtfSamples::listNumbering())
        seeds.append(sample.rtf);
    QTextDocument doc;
    QTextCursor cursor(&doc);
    QTextCharFormat format;
    format.setFontWeight(QFont::Bold);
    format.setForeground(QColor(10, 20, 30));
    format.setAnchor(true);
    format.setAnchorHref(QStringLiteral("http://example.org/"));
    cursor.insertText(QStringLiteral("Grüße 日本 😀 {\\}\t"), format);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    cursor.insertBlock(centred);
    Rtf::insertImage(cursor, RtfSamples::halves(3, 2), QSizeF(6, 4));
    seeds.append(Rtf::write(&doc));
    // The writer's tables and lists.
    QTextDocument structured;
    structured.setHtml(QStringLiteral("<ol><li>a<ul><li>b</li></ul></li></ol><table border=\"1\"><tr><td rowspan=\"2\">c</td>"
                                      "<td colspan=\"2\">d</td></tr><tr><td>e<table><tr><td>f</td></tr></table></td><td>g</td>"
                                      "</tr></table>"));
    seeds.append(Rtf::write(&structured));

    for (int i = 0; i < seeds.size(); ++i) {
        QFile file(folder.filePath(QStringLiteral("seed-%1.rtf").arg(i, 2, 10, QLatin1Char('0'))));
        if (!file.open(QIODevice::WriteOnly) || file.write(seeds.at(i)) != seeds.at(i).size())
            return 1;
    }
    return 0;
}
