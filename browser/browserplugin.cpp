#include "browserplugin.h"

#include "frmBrowser.h"

QWidget *BrowserPlugin::showWindow()
{
    return frmBrowser::showInstance();
}

QWidget *BrowserPlugin::existingWindow()
{
    return frmBrowser::existing();
}

void BrowserPlugin::navigateTo(const QString &address)
{
    frmBrowser::instance()->NavigateTo(address);
}
