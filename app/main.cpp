// Parcelo starts with its splash window, or, given a command on its command line, with the
// main window running that command; --help and --version need no display.

#include "appinfo.h"
#include "artwork.h"
#include "commandline.h"
#include "frmSplash.h"
#include "frmZip.h"
#include "icons.h"
#include "services.h"
#include "zip/zipfunctions.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <functional>

namespace {

// Runs `then` once `window` is on the screen (placed by the window manager), so that the
// message boxes of a command open over the window rather than where it was before.
class WhenOnScreen : public QObject
{
public:
    WhenOnScreen(QWidget *window, std::function<void()> then)
        : QObject(window)
        , m_then(std::move(then))
    {
        QWindow *handle = window->windowHandle();
        if (handle && !handle->isExposed())
            handle->installEventFilter(this);
        else
            QTimer::singleShot(0, this, &WhenOnScreen::run);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed()) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, &WhenOnScreen::run); // after the window's first paint
        }
        return false;
    }

private:
    void run()
    {
        deleteLater();
        std::exchange(m_then, nullptr)();
    }
    std::function<void()> m_then;
};

} // namespace

int main(int argc, char *argv[])
{
    readSystemTimeZoneOnce();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine request = CommandLine::parse(arguments);
    switch (request.action) {
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
        std::fprintf(stdout, "%s\n", request.text.toLocal8Bit().constData());
        return CommandLine::Done;
    case CommandLine::Action::Invalid:
        std::fprintf(stderr, "parcelo: %s\n", request.text.toLocal8Bit().constData());
        return CommandLine::UsageError;
    default:
        break;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppInfo::title());
    QApplication::setOrganizationName(QStringLiteral("Orvanne"));
    QApplication::setApplicationVersion(AppInfo::versionText());
    QApplication::setDesktopFileName(QStringLiteral("parcelo"));
    QApplication::setWindowIcon(Artwork::applicationIcon());
    Icons::setUpTheme();
    Services::instance().installQtDefaults();

    auto run = [request] {
        new WhenOnScreen(frmZip::instance(), [request] {
            if (const std::optional<int> status = frmZip::instance()->runCommandLine(request))
                QCoreApplication::exit(*status);
        });
    };
    if (request.action == CommandLine::Action::Start) {
        auto *splash = new frmSplash;
        if (!request.file.isEmpty())
            QObject::connect(splash, &frmSplash::mainWindowShown, &app, run);
        splash->show();
    } else {
        // A command: no splash; the main window shows the file and runs the command at once.
        frmZip::instance()->show();
        run();
    }
    return app.exec();
}
