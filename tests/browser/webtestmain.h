#pragma once
// main() for tests that use the web engine: the private test environment first, then the
// engine's process settings (sandbox off for root), then the application.

#include "testenv.h"
#include "webbrowsercontrol.h"

#include <QApplication>
#include <QtTest>

#define PARCELO_WEB_TEST_MAIN(TestClass)                                                      \
    int main(int argc, char *argv[])                                                          \
    {                                                                                         \
        TestEnvironment environment;                                                          \
        QByteArray rules = qgetenv("QT_LOGGING_RULES");                                       \
        rules += rules.isEmpty() ? "" : ";";                                                  \
        qputenv("QT_LOGGING_RULES", rules + "qt.webenginecontext.info=false");                \
        WebBrowserControl::prepareProcess();                                                  \
        QApplication app(argc, argv);                                                         \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                              \
        TestClass test;                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                            \
        return QTest::qExec(&test, argc, argv);                                               \
    }
