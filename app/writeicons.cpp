// Writes the application icon, drawn by the program itself, as PNG files in the layout of the
// freedesktop icon theme: OUTPUT/<size>x<size>/apps/parcelo.png. Run at build time.

#include "artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: parcelo-writeicons OUTPUT\n");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    const QIcon icon = Artwork::applicationIcon();
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1x%1/apps").arg(side);
        if (!output.mkpath(folder) || !icon.pixmap(side, side).save(output.filePath(folder + "/parcelo.png"))) {
            std::fprintf(stderr, "parcelo-writeicons: cannot write %s\n", qPrintable(output.filePath(folder)));
            return 1;
        }
    }
    return 0;
}
