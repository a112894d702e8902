#pragma once
// Keeps everything a test run writes inside temporary folders: the per-user configuration
// (settings store, component registry), the home folder and the runtime folder.
// Call before the QApplication is created, e.g. through PARCELO_TEST_MAIN.

#include <QTemporaryDir>

class TestEnvironment
{
public:
    TestEnvironment();
    QString home() const;
    QString config() const;

private:
    QTemporaryDir m_root;
};

// A peer program a test needs is missing: the test is skipped on a developer's machine and
// fails in CI (CI=true), where every peer is installed. `reason` says what is missing.
#define PARCELO_REQUIRE_PEER(found, reason)                                                   \
    do {                                                                                      \
        if (!(found)) {                                                                       \
            if (qEnvironmentVariable("CI") == QLatin1String("true"))                          \
                QFAIL(reason " (CI=true: every peer must be installed)");                     \
            QSKIP(reason);                                                                    \
        }                                                                                     \
    } while (false)

// QTEST_MAIN with the environment set up first.
#define PARCELO_TEST_MAIN(TestClass)                                                          \
    int main(int argc, char *argv[])                                                          \
    {                                                                                         \
        TestEnvironment environment;                                                          \
        QApplication app(argc, argv);                                                         \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                              \
        TestClass test;                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                            \
        return QTest::qExec(&test, argc, argv);                                               \
    }
