#pragma once
// Every modal or outside-world interaction of the windows goes through one of these small
// interfaces. The process-wide Services object holds one implementation of each: main()
// installs the Qt ones, tests install scripted ones.

#include <QColor>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class ComponentFactory;
class QPrinter;
class RegistryBackend;
class QWidget;

enum class MsgIcon { None, Critical, Question, Exclamation, Information };
enum class MsgButtons { OK, OKCancel, AbortRetryIgnore, YesNoCancel, YesNo, RetryCancel };
enum class MsgResult { OK, Cancel, Abort, Retry, Ignore, Yes, No };

struct MessageRequest
{
    QWidget *owner = nullptr;
    QString prompt;
    QString title;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::OK;
};

struct InputRequest
{
    QWidget *owner = nullptr;
    QString prompt;
    QString title;
    QString defaultText;
    bool masked = false; // a password: the typed characters are not shown
};

struct FileDialogRequest
{
    QWidget *owner = nullptr;
    QString title;
    QStringList filters; // Qt syntax, "Text (*.txt *.rtf)"
    int filterIndex = 0; // index into filters
    QString initialPath; // a file or a folder
    QString defaultSuffix;
    bool confirmOverwrite = false; // save dialog only
};

// A site (or a proxy) asks who the user is before it shows a page.
struct SignInRequest
{
    QWidget *owner = nullptr;
    QString site;  // host, with the port when it is not the scheme's own
    QString realm; // the site's own name for what it protects
    bool proxy = false;
};

struct SignIn
{
    QString user;
    QString password;
};

struct PrintRequest
{
    QWidget *owner = nullptr;
    QPrinter *printer = nullptr;
    bool pageRangeAllowed = true;
    bool selectionAllowed = false;
    bool selectionPreselected = false;
};

struct FontChoice
{
    QString name;
    double size = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    QColor color;
};

class MessageBoxBackend
{
public:
    virtual ~MessageBoxBackend() = default;
    virtual MsgResult showMessage(const MessageRequest &request) = 0;
    // The typed text, or nothing when the user cancelled.
    virtual std::optional<QString> askText(const InputRequest &request) = 0;
};

class DialogBackend
{
public:
    virtual ~DialogBackend() = default;
    // Each returns nothing when the user cancels.
    virtual std::optional<QString> openFile(const FileDialogRequest &request) = 0;
    virtual std::optional<QString> saveFile(const FileDialogRequest &request) = 0;
    // The folder chosen in a folder picker, or empty text on cancel.
    virtual QString browseFolder(QWidget *owner, const QString &prompt) = 0;
    // Sets up request.printer (device, range); false on cancel.
    virtual bool print(const PrintRequest &request) = 0;
    virtual std::optional<FontChoice> chooseFont(QWidget *owner, const FontChoice &initial,
                                                 bool withEffects) = 0;
    virtual std::optional<QColor> chooseColor(QWidget *owner, const QColor &initial) = 0;
    // The user name and password typed for a site, or nothing when the user cancels.
    virtual std::optional<SignIn> askSignIn(const SignInRequest &request) = 0;
};

enum class LaunchStyle { Hidden, NormalFocus };

class DesktopBackend
{
public:
    virtual ~DesktopBackend() = default;
    // Opens a document, folder or web address with the desktop's associated program.
    virtual bool openWithShell(QWidget *owner, const QString &target) = 0;
    // Starts a command line and returns without waiting for it.
    virtual bool launch(const QString &commandLine, LaunchStyle style) = 0;
};

class Services
{
public:
    static Services &instance();

    MessageBoxBackend &messages() const { return *m_messages; }
    DialogBackend &dialogs() const { return *m_dialogs; }
    DesktopBackend &desktop() const { return *m_desktop; }
    ComponentFactory &components() const { return *m_components; }
    // The registry's values (registry/registry.h), read only.
    RegistryBackend &registry() const { return *m_registry; }

    // The Qt implementations: real message boxes, dialogs, xdg-open, QProcess, plugins,
    // and the registry store beside the program.
    void installQtDefaults();

    // Each setter keeps a reference only; the caller keeps the object alive while installed.
    void setMessages(MessageBoxBackend *backend);
    void setDialogs(DialogBackend *backend);
    void setDesktop(DesktopBackend *backend);
    void setComponents(ComponentFactory *factory);
    void setRegistry(RegistryBackend *backend);

private:
    Services();
    MessageBoxBackend *m_messages = nullptr;
    DialogBackend *m_dialogs = nullptr;
    DesktopBackend *m_desktop = nullptr;
    ComponentFactory *m_components = nullptr;
    RegistryBackend *m_registry = nullptr;
};
