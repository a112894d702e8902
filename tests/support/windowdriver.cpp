#include "windowdriver.h"

#include "appinfo.h"
#include "icons.h"
#include "programfolder.h"
#include "services.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSaveFile>
#include <QTimer>

namespace WindowDriver {

int run(QApplication &app, const Open &open, const State &state)
{
    QApplication::setApplicationName(AppInfo::title());
    QApplication::setOrganizationName(QStringLiteral("Orvanne"));
    Icons::setUpTheme();
    Services::instance().installQtDefaults();

    QCommandLineParser parser;
    parser.addOption({QStringLiteral("program-folder"), QStringLiteral("The program's folder."),
                      QStringLiteral("folder")});
    parser.addOption({QStringLiteral("state"), QStringLiteral("File the window's state is written to."),
                      QStringLiteral("file")});
    parser.process(app);
    if (parser.isSet(QStringLiteral("program-folder")))
        ProgramFolder::setOverride(parser.value(QStringLiteral("program-folder")));

    open();

    QTimer timer;
    if (parser.isSet(QStringLiteral("state"))) {
        const QString path = parser.value(QStringLiteral("state"));
        QObject::connect(&timer, &QTimer::timeout, [path, state] {
            QSaveFile file(path);
            if (file.open(QIODevice::WriteOnly)) {
                file.write(state().join(QLatin1Char('\n')).toUtf8() + '\n');
                file.commit();
            }
        });
        timer.start(100);
    }
    return app.exec();
}

} // namespace WindowDriver
