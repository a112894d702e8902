// The splash window: its design, and the three ways it hands over to the main window.

#include "fakezip.h"
#include "frmSplash.h"
#include "frmZip.h"
#include "scriptedui.h"
#include "testenv.h"
#include "twips.h"

#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

class TestSplash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void showsDesign();
    void timerOpensMainWindowThenCloses();
    void keyPressOpensMainWindowAtOnce();
    void frameClickOpensMainWindowAtOnce();

private:
    void verifyHandedOver(const QPointer<frmSplash> &splash);
    std::unique_ptr<ScriptedUi> ui;
    std::unique_ptr<ScriptedComponents> components;
    FakeZip zip;
};

void TestSplash::init()
{
    ui = std::make_unique<ScriptedUi>();
    components = std::make_unique<ScriptedComponents>();
    components->objects.insert("Pnvzip.ZipFunctions", &zip);
}

void TestSplash::cleanup()
{
    delete frmZip::existing();
    components.reset();
    ui.reset();
}

void TestSplash::showsDesign()
{
    QPointer<frmSplash> splash = new frmSplash;
    splash->show();
    QCOMPARE(splash->size(), QSize(487, 445));
    QVERIFY(splash->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(splash->findChild<QLabel *>("lblVersion")->text(), QString("Version 1.0.20"));
    QCOMPARE(splash->findChild<QLabel *>("lblCompanyProduct")->text(), QString("Orvanne"));
    QVERIFY(splash->findChild<QLabel *>("lblWarning")->text().contains("Parcelo"));
    QVERIFY(!splash->findChild<QLabel *>("imgLogo")->pixmap().isNull());
    QCOMPARE(splash->findChild<QFrame *>("Frame1")->geometry(), Twips::rect(112, 120, 7080, 6435));
    auto *timer = splash->findChild<QTimer *>("Timer1");
    QCOMPARE(timer->interval(), 2000);
    QVERIFY(timer->isActive());
    QVERIFY(!frmZip::existing()); // nothing before the splash ends
    delete splash;
}

void TestSplash::verifyHandedOver(const QPointer<frmSplash> &splash)
{
    QVERIFY(frmZip::existing());
    QVERIFY(frmZip::existing()->isVisible());
    QTRY_VERIFY(splash.isNull()); // unloaded, its timer with it
}

void TestSplash::timerOpensMainWindowThenCloses()
{
    QPointer<frmSplash> splash = new frmSplash;
    splash->show();
    QElapsedTimer clock;
    clock.start();
    // The main window is visible before the splash goes away.
    bool mainVisibleAtUnload = false;
    connect(splash, &QObject::destroyed, this,
            [&] { mainVisibleAtUnload = frmZip::existing() && frmZip::existing()->isVisible(); });
    QTRY_VERIFY_WITH_TIMEOUT(splash.isNull(), 5000);
    QVERIFY(clock.elapsed() >= 1900);
    QVERIFY(mainVisibleAtUnload);
    verifyHandedOver(splash);
    QVERIFY(frmZip::existing()->hasZipComponent());
}

void TestSplash::keyPressOpensMainWindowAtOnce()
{
    QPointer<frmSplash> splash = new frmSplash;
    splash->show();
    // Keyboard preview: a key pressed on any of its controls counts.
    QTest::keyClick(splash->findChild<QLabel *>("lblVersion"), Qt::Key_Escape);
    verifyHandedOver(splash);
}

void TestSplash::frameClickOpensMainWindowAtOnce()
{
    QPointer<frmSplash> splash = new frmSplash;
    splash->show();
    auto *timer = splash->findChild<QTimer *>("Timer1");
    QSignalSpy ticks(timer, &QTimer::timeout);
    QTest::mouseClick(splash->findChild<QFrame *>("Frame1"), Qt::LeftButton, {}, QPoint(5, 5));
    verifyHandedOver(splash);
    // The tick never comes after an early close. A late tick would open the main window again,
    // so that window is closed first and must stay closed past the two seconds.
    delete frmZip::existing();
    QTest::qWait(2300);
    QCOMPARE(ticks.count(), 0);
    QVERIFY(!frmZip::existing());
}

PARCELO_TEST_MAIN(TestSplash)
#include "tst_splash.moc"
