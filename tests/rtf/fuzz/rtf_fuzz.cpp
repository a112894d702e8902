// libFuzzer target for the RTF reader. Every input is read; what the reader made of it is
// written and read again, which must give the same text and pictures; and the input is pasted
// into a document that already has text.

#include "rtf.h"
#include "rtfreader.h"

#include <QGuiApplication>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

int imageCount(const QTextDocument &doc)
{
    int count = 0;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isImageFormat())
                count += it.fragment().length();
        }
    }
    return count;
}

QString paragraphs(const QTextDocument &doc)
{
    QString text;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        text += block.text() + u'\n';
    text.remove(QChar(QChar::ObjectReplacementCharacter));
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "*=false");
    static int argc = 1;
    static char name[] = "rtf_fuzz";
    static char *argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    Rtf::ReadLimits limits;
    limits.imageBudget = qint64(64) << 20;
    QTextDocument doc;
    Rtf::RtfReader(limits).read(input, &doc);

    const QByteArray written = Rtf::write(&doc);
    QTextDocument again;
    if (!Rtf::read(written, &again)) {
        std::fprintf(stderr, "the writer's output is not RTF\n");
        std::abort();
    }
    // The text of every paragraph and cell, in order: a lost or added paragraph, cell or row
    // shows. (List numbers are left out: an empty list item in merged cells may lose its list.)
    const QString first = paragraphs(doc);
    const QString second = paragraphs(again);
    if (first != second || imageCount(doc) != imageCount(again)) {
        std::fprintf(stderr, "text or pictures changed on the way through the writer:\n[%s]\n[%s]\n%d %d\n",
                     qPrintable(first.left(500)), qPrintable(second.left(500)), imageCount(doc), imageCount(again));
        std::abort();
    }

    QTextCursor cursor(&again);
    cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    Rtf::insert(cursor, input);
    return 0;
}
