#include "browserwindow.h"

#include "apperror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QOpenGLContext>
#include <QPluginLoader>
#include <QSurfaceFormat>

#include <unistd.h>

// The application-wide context that every OpenGL context of the process shares with (exported
// by Qt Gui; the engine declares it the same way).
QT_BEGIN_NAMESPACE
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext *context);
Q_GUI_EXPORT QOpenGLContext *qt_gl_global_share_context();
QT_END_NAMESPACE

namespace {

BrowserWindowFactory *theFactory = nullptr;

void deleteShareContext()
{
    QOpenGLContext *context = qt_gl_global_share_context();
    qt_gl_set_global_share_context(nullptr);
    delete context;
}

// The engine hands its pictures to the window through OpenGL contexts that share with one
// application-wide context, which must exist before the engine's library is loaded (without
// it the engine crashes on its first page). Made here on first use rather than when the
// application starts, so that a session that never opens the browser never loads OpenGL.
void prepareEngine()
{
    BrowserWindow::allowEngineAsRoot();
    if (qt_gl_global_share_context())
        return; // made at start-up (a process that links the engine itself)
    auto *context = new QOpenGLContext;
    context->setFormat(QSurfaceFormat::defaultFormat());
    // Without OpenGL (e.g. offscreen) creation fails and the engine draws in software.
    context->create();
    qt_gl_set_global_share_context(context);
    qAddPostRoutine(deleteShareContext); // runs after the engine's own clean-up
}

BrowserWindowFactory *factory()
{
    if (theFactory)
        return theFactory;
    const QString path = QDir(QCoreApplication::applicationDirPath())
                             .filePath(QString::fromLatin1(BrowserWindow::LibraryFile));
    auto *loader = new QPluginLoader(path, qApp);
    QString reason;
    if (!QFileInfo::exists(path)) {
        reason = QStringLiteral("%1 is missing.").arg(QDir::toNativeSeparators(path));
    } else {
        prepareEngine();
        if (auto *found = qobject_cast<BrowserWindowFactory *>(loader->instance()))
            theFactory = found;
        else if (loader->isLoaded())
            reason = QStringLiteral("%1 is not the browser of this version of the program.")
                         .arg(QDir::toNativeSeparators(path));
        else
            reason = loader->errorString();
    }
    if (!theFactory) {
        delete loader;
        throw AppError(AppError::ObjectAbsent,
                       QStringLiteral("The web browser cannot be started: %1").arg(reason));
    }
    return theFactory;
}

} // namespace

namespace BrowserWindow {

QWidget *show()
{
    return factory()->showWindow();
}

void navigateTo(const QString &address)
{
    factory()->navigateTo(address);
}

QWidget *existing()
{
    return theFactory ? theFactory->existingWindow() : nullptr;
}

bool isLoaded()
{
    return theFactory != nullptr;
}

void allowEngineAsRoot()
{
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")
        && !qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").contains("--no-sandbox")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
}

} // namespace BrowserWindow
