#pragma once
// The production implementations of the service interfaces, over Qt's own dialogs,
// QDesktopServices and QProcess.

#include "services.h"

class QtMessageBoxes : public MessageBoxBackend
{
public:
    MsgResult showMessage(const MessageRequest &request) override;
    std::optional<QString> askText(const InputRequest &request) override;
};

class QtDialogs : public DialogBackend
{
public:
    std::optional<QString> openFile(const FileDialogRequest &request) override;
    std::optional<QString> saveFile(const FileDialogRequest &request) override;
    QString browseFolder(QWidget *owner, const QString &prompt) override;
    bool print(const PrintRequest &request) override;
    std::optional<FontChoice> chooseFont(QWidget *owner, const FontChoice &initial,
                                         bool withEffects) override;
    std::optional<QColor> chooseColor(QWidget *owner, const QColor &initial) override;
    std::optional<SignIn> askSignIn(const SignInRequest &request) override;
};

class QtDesktop : public DesktopBackend
{
public:
    bool openWithShell(QWidget *owner, const QString &target) override;
    bool launch(const QString &commandLine, LaunchStyle style) override;
};
