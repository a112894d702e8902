#pragma once
// The browser window as a plugin: the program loads it on first use (browserwindow.h), so the
// web engine stays out of the process until a browser window is opened.

#include "browserwindow.h"

#include <QObject>

class BrowserPlugin : public QObject, public BrowserWindowFactory
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID BrowserWindowFactory_iid)
    Q_INTERFACES(BrowserWindowFactory)

public:
    QWidget *showWindow() override;
    QWidget *existingWindow() override;
    void navigateTo(const QString &address) override;
};
