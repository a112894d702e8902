#pragma once
// Scripted stand-ins for every modal or outside-world interaction, installed by tests in place
// of the real dialogs. Each answer is queued before the action; every request is recorded.
// An interaction with nothing queued gets the neutral answer (OK, cancel) and is recorded too,
// so a test can check that nothing unexpected was shown.

#include "components.h"
#include "services.h"

#include <QHash>
#include <QList>
#include <QQueue>
#include <functional>

class ScriptedUi : public MessageBoxBackend, public DialogBackend, public DesktopBackend
{
public:
    // Installs this object as the message, dialog and desktop backends; uninstalls on destruction.
    ScriptedUi();
    ~ScriptedUi() override;

    // --- message and input boxes
    QList<MessageRequest> messages;
    QQueue<MsgResult> messageAnswers;
    QList<InputRequest> inputs;
    QQueue<std::optional<QString>> inputAnswers;

    // --- common dialogs; std::nullopt means the user cancels
    QList<FileDialogRequest> openRequests;
    QQueue<std::optional<QString>> openAnswers;
    QList<FileDialogRequest> saveRequests;
    QQueue<std::optional<QString>> saveAnswers;
    QStringList folderPrompts;
    QQueue<QString> folderAnswers; // empty text means cancel
    QList<PrintRequest> printRequests;
    QQueue<bool> printAnswers;
    // Where a confirmed print dialog sends the output (a PDF file), when set.
    QString printToPdf;
    QList<FontChoice> fontRequests; // what each font dialog started from
    QQueue<std::optional<FontChoice>> fontAnswers;
    QList<QColor> colorRequests;
    QQueue<std::optional<QColor>> colorAnswers;
    QList<SignInRequest> signInRequests;
    QQueue<std::optional<SignIn>> signInAnswers;

    // --- desktop
    QStringList shellOpened;
    struct Launch { QString commandLine; LaunchStyle style; };
    QList<Launch> launches;
    // Runs when a command line is launched (for example to play the registration helper).
    std::function<void(const QString &)> onLaunch;

    MsgResult showMessage(const MessageRequest &request) override;
    std::optional<QString> askText(const InputRequest &request) override;
    std::optional<QString> openFile(const FileDialogRequest &request) override;
    std::optional<QString> saveFile(const FileDialogRequest &request) override;
    QString browseFolder(QWidget *owner, const QString &prompt) override;
    bool print(const PrintRequest &request) override;
    std::optional<FontChoice> chooseFont(QWidget *owner, const FontChoice &initial,
                                         bool withEffects) override;
    std::optional<QColor> chooseColor(QWidget *owner, const QColor &initial) override;
    std::optional<SignIn> askSignIn(const SignInRequest &request) override;
    bool openWithShell(QWidget *owner, const QString &target) override;
    bool launch(const QString &commandLine, LaunchStyle style) override;
};

// A component factory that hands out objects the test made (or nothing).
class ScriptedComponents : public ComponentFactory
{
public:
    ScriptedComponents();
    ~ScriptedComponents() override;
    QHash<QString, QObject *> objects;
    QStringList requested;
    QObject *createObject(const QString &progId) override;
};
