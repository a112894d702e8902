// rtfbench: loads RTF files through the editor's reader.
//
//   rtfbench --text FILE    prints the text as the editor shows it, one line per paragraph
//   rtfbench --html FILE    prints the document as the editor holds it, as HTML (tables, lists)
//   rtfbench --rtf FILE     prints the document as the editor saves it
//   rtfbench FILE...        prints the load time and speed of each file
//
// Files that are not RTF load as plain text, as in the editor.

#include "rtf.h"
#include "rtfreader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTextDocument>

#include <cstdio>

namespace {

enum class Output { Text, Html, Rtf };

int print(const QString &path, Output output)
{
    QTextDocument doc;
    QString error;
    if (!Rtf::loadFile(path, &doc, &error)) {
        std::fprintf(stderr, "rtfbench: %s\n", qPrintable(error));
        return 1;
    }
    QByteArray text;
    switch (output) {
    case Output::Text: text = Rtf::plainText(&doc).toUtf8() + '\n'; break;
    case Output::Html: text = doc.toHtml().toUtf8() + '\n'; break;
    case Output::Rtf: text = Rtf::write(&doc); break;
    }
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return 0;
}

int timeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "rtfbench: cannot open %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
        return 1;
    }
    const QByteArray data = file.readAll();
    if (!Rtf::looksLikeRtf(data)) {
        std::fprintf(stderr, "rtfbench: %s is not RTF\n", qPrintable(path));
        return 1;
    }
    // Best of several loads, each into a fresh document as when the editor opens a file.
    qint64 best = -1;
    Rtf::ReadStats stats;
    QElapsedTimer total;
    total.start();
    for (int run = 0; run < 10 && (run < 3 || total.elapsed() < 2000); ++run) {
        QTextDocument doc;
        Rtf::RtfReader reader;
        QElapsedTimer timer;
        timer.start();
        reader.read(data, &doc);
        const qint64 nanoseconds = timer.nsecsElapsed();
        if (best < 0 || nanoseconds < best)
            best = nanoseconds;
        stats = reader.stats();
    }
    const double megabytes = data.size() / 1e6;
    const double seconds = best / 1e9;
    std::printf("%s: %.2f MB in %.1f ms, %.1f MB/s, %d paragraphs, %d pictures (%d left out)\n",
                qPrintable(path), megabytes, seconds * 1000, seconds > 0 ? megabytes / seconds : 0.0,
                stats.paragraphs, stats.images, stats.picturesLeftOut);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args.at(0) == QLatin1String("--text"))
        return print(args.at(1), Output::Text);
    if (args.size() == 2 && args.at(0) == QLatin1String("--html"))
        return print(args.at(1), Output::Html);
    if (args.size() == 2 && args.at(0) == QLatin1String("--rtf"))
        return print(args.at(1), Output::Rtf);
    if (args.isEmpty() || args.at(0).startsWith(QLatin1String("--"))) {
        std::fprintf(stderr, "usage: rtfbench --text FILE\n       rtfbench --html FILE\n"
                             "       rtfbench --rtf FILE\n       rtfbench FILE...\n");
        return 2;
    }
    int status = 0;
    for (const QString &path : args)
        status |= timeFile(path);
    return status;
}
