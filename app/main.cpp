// Parcelo starts with its splash window, or, given a command on its command line, with the
// main window running that command; --help and --version need no display.

#include "appinfo.h"
#include "artwork.h"
#include "commandline.h"
#include "frmSplash.h"
#include "frmZip.h"
#include "icons.h"
#include "services.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine request = CommandLine::parse(arguments);
    switch (request.action) {
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
        std::fprintf(stdout, "%s\n", request.text.toLocal8Bit().constData());
        return CommandLine::Done;
    case CommandLine::Action::Invalid:
        std::fprintf(stderr, "parcelo: %s\n", request.text.toLocal8Bit().constData());
        return CommandLine::UsageError;
    default:
        break;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppInfo::title());
    QApplication::setOrganizationName(QStringLiteral("Orvanne"));
    QApplication::setApplicationVersion(AppInfo::versionText());
    QApplication::setDesktopFileName(QStringLiteral("parcelo"));
    QApplication::setWindowIcon(Artwork::applicationIcon());
    Icons::setUpTheme();
    Services::instance().installQtDefaults();

    auto run = [request] {
        if (const std::optional<int> status = frmZip::instance()->runCommandLine(request))
            QCoreApplication::exit(*status);
    };
    if (request.action == CommandLine::Action::Start) {
        auto *splash = new frmSplash;
        if (!request.file.isEmpty())
            QObject::connect(splash, &frmSplash::mainWindowShown, &app, run, Qt::QueuedConnection);
        splash->show();
    } else {
        // A command: no splash; the main window shows the file and runs the command at once.
        frmZip::instance()->show();
        QTimer::singleShot(0, &app, run);
    }
    return app.exec();
}
