#include "TarnZip_Shared.h"

#include "appinfo.h"
#include "errorstyles.h"
#include "frmBrowser.h"
#include "programfolder.h"

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
        frmBrowser *browser = frmBrowser::showInstance();
        browser->NavigateTo(AppInfo::publisherUrl() + QLatin1Char('/') + pageName);
    } catch (...) {
        ReportError(AppError::fromCurrentException(), frmBrowser::existing());
    }
}

} // namespace TarnZip_Shared
