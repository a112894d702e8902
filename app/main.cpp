// Parcelo starts with its splash window; everything else is reached from the main window.

#include "appinfo.h"
#include "artwork.h"
#include "frmSplash.h"
#include "icons.h"
#include "services.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppInfo::title());
    QApplication::setOrganizationName(QStringLiteral("Orvanne"));
    QApplication::setApplicationVersion(AppInfo::versionText());
    QApplication::setDesktopFileName(QStringLiteral("parcelo"));
    QApplication::setWindowIcon(Artwork::applicationIcon());
    Icons::setUpTheme();
    Services::instance().installQtDefaults();

    auto *splash = new frmSplash;
    splash->show();
    return app.exec();
}
