#include "scriptedui.h"

#include <QPrinter>

namespace {
template<typename T>
T nextOr(QQueue<T> &queue, T fallback)
{
    return queue.isEmpty() ? fallback : queue.dequeue();
}
} // namespace

ScriptedUi::ScriptedUi()
{
    Services &services = Services::instance();
    services.setMessages(this);
    services.setDialogs(this);
    services.setDesktop(this);
}

ScriptedUi::~ScriptedUi()
{
    Services &services = Services::instance();
    services.setMessages(nullptr);
    services.setDialogs(nullptr);
    services.setDesktop(nullptr);
}

MsgResult ScriptedUi::showMessage(const MessageRequest &request)
{
    messages << request;
    MsgResult fallback = MsgResult::OK;
    switch (request.buttons) {
    case MsgButtons::OK: case MsgButtons::OKCancel: fallback = MsgResult::OK; break;
    case MsgButtons::AbortRetryIgnore: fallback = MsgResult::Abort; break;
    case MsgButtons::YesNoCancel: case MsgButtons::YesNo: fallback = MsgResult::Yes; break;
    case MsgButtons::RetryCancel: fallback = MsgResult::Retry; break;
    }
    return nextOr(messageAnswers, fallback);
}

std::optional<QString> ScriptedUi::askText(const InputRequest &request)
{
    inputs << request;
    return nextOr<std::optional<QString>>(inputAnswers, std::nullopt);
}

std::optional<QString> ScriptedUi::openFile(const FileDialogRequest &request)
{
    openRequests << request;
    return nextOr<std::optional<QString>>(openAnswers, std::nullopt);
}

std::optional<QString> ScriptedUi::saveFile(const FileDialogRequest &request)
{
    saveRequests << request;
    return nextOr<std::optional<QString>>(saveAnswers, std::nullopt);
}

QString ScriptedUi::browseFolder(QWidget *, const QString &prompt)
{
    folderPrompts << prompt;
    return nextOr(folderAnswers, QString());
}

bool ScriptedUi::print(const PrintRequest &request)
{
    printRequests << request;
    const bool confirmed = nextOr(printAnswers, false);
    if (confirmed && !printToPdf.isEmpty()) {
        request.printer->setOutputFormat(QPrinter::PdfFormat);
        request.printer->setOutputFileName(printToPdf);
    }
    return confirmed;
}

std::optional<FontChoice> ScriptedUi::chooseFont(QWidget *, const FontChoice &initial, bool)
{
    fontRequests << initial;
    return nextOr<std::optional<FontChoice>>(fontAnswers, std::nullopt);
}

std::optional<QColor> ScriptedUi::chooseColor(QWidget *, const QColor &initial)
{
    colorRequests << initial;
    return nextOr<std::optional<QColor>>(colorAnswers, std::nullopt);
}

std::optional<SignIn> ScriptedUi::askSignIn(const SignInRequest &request)
{
    signInRequests << request;
    return nextOr<std::optional<SignIn>>(signInAnswers, std::nullopt);
}

bool ScriptedUi::openWithShell(QWidget *, const QString &target)
{
    shellOpened << target;
    return true;
}

bool ScriptedUi::launch(const QString &commandLine, LaunchStyle style)
{
    launches << Launch{commandLine, style};
    if (onLaunch)
        onLaunch(commandLine);
    return true;
}

ScriptedComponents::ScriptedComponents()
{
    Services::instance().setComponents(this);
}

ScriptedComponents::~ScriptedComponents()
{
    Services::instance().setComponents(nullptr);
}

QObject *ScriptedComponents::createObject(const QString &progId)
{
    requested << progId;
    return objects.value(progId);
}
