// Opens the browser window the way the program does, for driving it under a real X server
// (e2e_browser.sh). While it runs it writes the window's title and its address list, one per
// line, to the state file, and the titles of the about boxes that are open.
//   browserdriver --program-folder DIR --state FILE

#include "appinfo.h"
#include "artwork.h"
#include "frmAbout.h"
#include "frmBrowser.h"
#include "icons.h"
#include "programfolder.h"
#include "services.h"
#include "webbrowsercontrol.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QSaveFile>
#include <QTimer>

namespace {

void writeState(const QString &path)
{
    QStringList lines;
    if (frmBrowser *browser = frmBrowser::existing()) {
        lines << QStringLiteral("title=") + browser->windowTitle();
        const auto *list = browser->findChild<QComboBox *>(QStringLiteral("cboAddress"));
        for (int i = 0; i < list->count(); ++i)
            lines << QStringLiteral("entry=") + list->itemText(i);
    }
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<frmAbout *>(widget) && widget->isVisible())
            lines << QStringLiteral("about=") + widget->windowTitle();
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
        file.commit();
    }
}

} // namespace

int main(int argc, char *argv[])
{
    WebBrowserControl::prepareProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppInfo::title());
    QApplication::setOrganizationName(QStringLiteral("Orvanne"));
    QApplication::setWindowIcon(Artwork::applicationIcon());
    Icons::setUpTheme();
    Services::instance().installQtDefaults();

    QCommandLineParser parser;
    parser.addOption({QStringLiteral("program-folder"), QStringLiteral("Folder looked in for Parcelo.reg."),
                      QStringLiteral("folder")});
    parser.addOption({QStringLiteral("state"), QStringLiteral("File the window's state is written to."),
                      QStringLiteral("file")});
    parser.process(app);
    if (parser.isSet(QStringLiteral("program-folder")))
        ProgramFolder::setOverride(parser.value(QStringLiteral("program-folder")));

    frmBrowser::showInstance();

    QTimer state;
    if (parser.isSet(QStringLiteral("state"))) {
        const QString path = parser.value(QStringLiteral("state"));
        QObject::connect(&state, &QTimer::timeout, [path] { writeState(path); });
        state.start(100);
    }
    return app.exec();
}
