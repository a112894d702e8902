#include "TarnZip_Shared.h"

#include "appinfo.h"
#include "browserwindow.h"
#include "errorstyles.h"
#include "programfolder.h"

#include <QAction>
#include <QMenu>

namespace TarnZip_Shared {

QString AppPath()
{
    QString folder = ProgramFolder::path();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

void OpenPublisherPage(const QString &pageName)
{
    try {
        BrowserWindow::show();
        BrowserWindow::navigateTo(AppInfo::publisherUrl() + QLatin1Char('/') + pageName);
    } catch (...) {
        ReportError(AppError::fromCurrentException(), BrowserWindow::existing());
    }
}

void AddPublisherPages(QMenu *menu)
{
    const struct { const char *name; const char *caption; const char *page; } pages[] = {
        {"mnuProduct", "Product &Page", "parcelo.htm"},
        {"mnuHome", "Publisher &Home", ""},
        {"mnuCatalog", "Publisher &Catalog", "catalog.htm"},
        {"mnuStore", "Publisher &Store", "store.htm"},
        {"mnuFeedback", "Support/&Feedback", "Feedback.htm"},
        {nullptr, nullptr, nullptr},
        {"mnuNews", "Today's &News", "tarn_news.htm"},
    };
    for (const auto &entry : pages) {
        if (!entry.name) {
            menu->addSeparator();
            continue;
        }
        QAction *action = menu->addAction(QString::fromLatin1(entry.caption));
        action->setObjectName(QString::fromLatin1(entry.name));
        const QString page = QString::fromLatin1(entry.page);
        QObject::connect(action, &QAction::triggered, menu, [page] { OpenPublisherPage(page); });
    }
}

} // namespace TarnZip_Shared
