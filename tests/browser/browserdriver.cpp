// Opens the browser window the way the program does, for driving it under a real X server
// (e2e_browser.sh). While it runs it writes the window's title and its address list, one per
// line, to the state file, and the titles of the about boxes that are open.
//   browserdriver --program-folder DIR --state FILE

#include "artwork.h"
#include "frmAbout.h"
#include "frmBrowser.h"
#include "webbrowsercontrol.h"
#include "windowdriver.h"

#include <QApplication>
#include <QComboBox>

namespace {

QStringList state()
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
    return lines;
}

} // namespace

int main(int argc, char *argv[])
{
    WebBrowserControl::prepareProcess(); // before the application object exists
    QApplication app(argc, argv);
    QApplication::setWindowIcon(Artwork::applicationIcon());
    return WindowDriver::run(app, &frmBrowser::showInstance, &state);
}
