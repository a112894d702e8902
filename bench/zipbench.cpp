// zipbench: runs the zip component's ZipFile / UnzipFile once, through the very plugin
// file the program loads, and reports the time and throughput.
//
//   zipbench [--plugin PATH] zip SOURCE ARCHIVE
//   zipbench [--plugin PATH] unzip ARCHIVE FOLDER
//
// Without --plugin, pnvzip12.so is loaded from the folder of this executable.
// Exit status 0 on success; otherwise "Error N: description" on stderr and status 1
// (2 for a usage or loading problem).

#include "zipfunctions.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonObject>
#include <QPluginLoader>

#include <zip.h>

#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: zipbench [--plugin PATH] zip SOURCE ARCHIVE\n"
                         "       zipbench [--plugin PATH] unzip ARCHIVE FOLDER\n");
    return 2;
}

// The uncompressed size of everything in an archive, for the throughput figure.
unsigned long long uncompressedSize(const QString &archive)
{
    int error = 0;
    zip_t *za = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &error);
    if (!za)
        return 0;
    unsigned long long total = 0;
    const zip_int64_t n = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        if (zip_stat_index(za, zip_uint64_t(i), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE))
            total += st.size;
    }
    zip_discard(za);
    return total;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString pluginPath = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("pnvzip12.so"));
    if (args.size() >= 2 && args.first() == QLatin1String("--plugin")) {
        pluginPath = args.at(1);
        args = args.mid(2);
    }
    if (args.size() != 3 || (args.first() != QLatin1String("zip") && args.first() != QLatin1String("unzip")))
        return usage();

    QPluginLoader loader(pluginPath);
    auto *functions = qobject_cast<ZipFunctions *>(loader.instance());
    if (!functions) {
        std::fprintf(stderr, "zipbench: cannot load the zip component %s: %s\n", qPrintable(pluginPath),
                     qPrintable(loader.errorString()));
        return 2;
    }
    const QString progId = loader.metaData().value(QStringLiteral("MetaData")).toObject()
                               .value(QStringLiteral("ProgId")).toString();

    const bool zipping = args.first() == QLatin1String("zip");
    const QString first = args.at(1);
    const QString second = args.at(2);
    QElapsedTimer timer;
    timer.start();
    const ZipResult result = zipping ? functions->ZipFile(first, second) : functions->UnzipFile(first, second);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (!result.ok()) {
        std::fprintf(stderr, "Error %d: %s\n", result.number, qPrintable(result.text));
        return 1;
    }
    const unsigned long long bytes = zipping ? (unsigned long long)QFileInfo(first).size() : uncompressedSize(first);
    std::printf("%s\n", qPrintable(result.text));
    std::printf("%s %s: %.3f s, %.1f MB/s of uncompressed data (%llu bytes)\n", qPrintable(progId),
                zipping ? "ZipFile" : "UnzipFile", seconds,
                seconds > 0 ? double(bytes) / 1e6 / seconds : 0.0, bytes);
    return 0;
}
