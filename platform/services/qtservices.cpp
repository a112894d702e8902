#include "qtservices.h"

#include "fontcolordialog.h"

#include <QColorDialog>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFontDialog>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QMessageBox::Icon qtIcon(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Critical: return QMessageBox::Critical;
    case MsgIcon::Question: return QMessageBox::Question;
    case MsgIcon::Exclamation: return QMessageBox::Warning;
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

struct ButtonSet
{
    QList<QPair<QMessageBox::StandardButton, MsgResult>> buttons; // first one is the default
    QMessageBox::StandardButton escape;
};

ButtonSet buttonSet(MsgButtons buttons)
{
    switch (buttons) {
    case MsgButtons::OKCancel:
        return {{{QMessageBox::Ok, MsgResult::OK}, {QMessageBox::Cancel, MsgResult::Cancel}},
                QMessageBox::Cancel};
    case MsgButtons::AbortRetryIgnore:
        return {{{QMessageBox::Abort, MsgResult::Abort},
                 {QMessageBox::Retry, MsgResult::Retry},
                 {QMessageBox::Ignore, MsgResult::Ignore}},
                QMessageBox::NoButton};
    case MsgButtons::YesNoCancel:
        return {{{QMessageBox::Yes, MsgResult::Yes},
                 {QMessageBox::No, MsgResult::No},
                 {QMessageBox::Cancel, MsgResult::Cancel}},
                QMessageBox::Cancel};
    case MsgButtons::YesNo:
        return {{{QMessageBox::Yes, MsgResult::Yes}, {QMessageBox::No, MsgResult::No}},
                QMessageBox::NoButton};
    case MsgButtons::RetryCancel:
        return {{{QMessageBox::Retry, MsgResult::Retry}, {QMessageBox::Cancel, MsgResult::Cancel}},
                QMessageBox::Cancel};
    case MsgButtons::OK:
        break;
    }
    return {{{QMessageBox::Ok, MsgResult::OK}}, QMessageBox::Ok};
}

void prepareFileDialog(QFileDialog &dialog, const FileDialogRequest &request)
{
    dialog.setWindowTitle(request.title);
    if (!request.filters.isEmpty()) {
        dialog.setNameFilters(request.filters);
        dialog.selectNameFilter(request.filters.value(request.filterIndex, request.filters.first()));
    }
    if (!request.initialPath.isEmpty()) {
        const QFileInfo initial(request.initialPath);
        if (initial.isDir()) {
            dialog.setDirectory(initial.absoluteFilePath());
        } else {
            dialog.setDirectory(initial.absolutePath());
            dialog.selectFile(initial.fileName());
        }
    }
    dialog.setDefaultSuffix(request.defaultSuffix);
}

} // namespace

MsgResult QtMessageBoxes::showMessage(const MessageRequest &request)
{
    QMessageBox box(qtIcon(request.icon), request.title, request.prompt, QMessageBox::NoButton,
                    request.owner);
    const ButtonSet set = buttonSet(request.buttons);
    for (const auto &[button, result] : set.buttons)
        box.addButton(button);
    box.setDefaultButton(set.buttons.first().first);
    if (set.escape != QMessageBox::NoButton)
        box.setEscapeButton(set.escape);
    const auto clicked = static_cast<QMessageBox::StandardButton>(box.exec());
    for (const auto &[button, result] : set.buttons) {
        if (button == clicked)
            return result;
    }
    // Closed without a button (only possible where Escape maps to nothing).
    return request.buttons == MsgButtons::OK ? MsgResult::OK : MsgResult::Cancel;
}

std::optional<QString> QtMessageBoxes::askText(const InputRequest &request)
{
    bool ok = false;
    const QString text = QInputDialog::getText(request.owner, request.title, request.prompt,
                                               request.masked ? QLineEdit::Password : QLineEdit::Normal,
                                               request.defaultText, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

std::optional<QString> QtDialogs::openFile(const FileDialogRequest &request)
{
    QFileDialog dialog(request.owner);
    prepareFileDialog(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

std::optional<QString> QtDialogs::saveFile(const FileDialogRequest &request)
{
    QFileDialog dialog(request.owner);
    prepareFileDialog(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

QString QtDialogs::browseFolder(QWidget *owner, const QString &prompt)
{
    return QFileDialog::getExistingDirectory(owner, prompt, QDir::homePath(),
                                             QFileDialog::ShowDirsOnly);
}

bool QtDialogs::print(const PrintRequest &request)
{
    QPrintDialog dialog(request.printer, request.owner);
    QAbstractPrintDialog::PrintDialogOptions options = dialog.options();
    options.setFlag(QAbstractPrintDialog::PrintPageRange, request.pageRangeAllowed);
    options.setFlag(QAbstractPrintDialog::PrintSelection, request.selectionAllowed);
    dialog.setOptions(options);
    if (request.selectionAllowed && request.selectionPreselected)
        dialog.setPrintRange(QAbstractPrintDialog::Selection);
    return dialog.exec() == QDialog::Accepted;
}

std::optional<FontChoice> QtDialogs::chooseFont(QWidget *owner, const FontChoice &initial,
                                                bool withEffects)
{
    QFont font(initial.name);
    if (initial.size > 0)
        font.setPointSizeF(initial.size);
    font.setBold(initial.bold);
    font.setItalic(initial.italic);
    font.setUnderline(initial.underline);
    font.setStrikeOut(initial.strikeOut);

    FontChoice choice = initial;
    QFont chosen;
    if (withEffects) {
        // Effects include the colour, which Qt's font dialog does not offer on its own.
        FontColorDialog dialog(owner);
        dialog.setSelectedFont(font);
        dialog.setColor(initial.color);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        chosen = dialog.selectedFont();
        choice.color = dialog.color();
        choice.underline = chosen.underline();
        choice.strikeOut = chosen.strikeOut();
    } else {
        bool ok = false;
        chosen = QFontDialog::getFont(&ok, font, owner);
        if (!ok)
            return std::nullopt;
    }
    choice.name = chosen.family();
    choice.size = chosen.pointSizeF();
    choice.bold = chosen.bold();
    choice.italic = chosen.italic();
    return choice;
}

std::optional<QColor> QtDialogs::chooseColor(QWidget *owner, const QColor &initial)
{
    const QColor color = QColorDialog::getColor(initial.isValid() ? initial : QColor(Qt::black), owner);
    if (!color.isValid())
        return std::nullopt;
    return color;
}

std::optional<SignIn> QtDialogs::askSignIn(const SignInRequest &request)
{
    QDialog dialog(request.owner);
    dialog.setWindowTitle(request.proxy ? QStringLiteral("Proxy Sign In") : QStringLiteral("Sign In"));
    auto *layout = new QVBoxLayout(&dialog);
    const QString asker = request.proxy ? QStringLiteral("The proxy %1").arg(request.site)
                                        : QStringLiteral("The site %1").arg(request.site);
    QString text = asker + QStringLiteral(" asks for a user name and password.");
    if (!request.realm.isEmpty())
        text += QStringLiteral("\nIt calls what it protects \"%1\".").arg(request.realm);
    auto *prompt = new QLabel(text, &dialog);
    prompt->setWordWrap(true);
    layout->addWidget(prompt);
    auto *form = new QFormLayout;
    auto *user = new QLineEdit(&dialog);
    auto *password = new QLineEdit(&dialog);
    password->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("&User name:"), user);
    form->addRow(QStringLiteral("&Password:"), password);
    layout->addLayout(form);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    user->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return SignIn{user->text(), password->text()};
}

bool QtDesktop::openWithShell(QWidget *, const QString &target)
{
    const QUrl url = QUrl(target, QUrl::StrictMode);
    if (url.isValid() && url.scheme().size() > 1)
        return QDesktopServices::openUrl(url);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(target));
}

bool QtDesktop::launch(const QString &commandLine, LaunchStyle style)
{
    QStringList args = QProcess::splitCommand(commandLine);
    if (args.isEmpty())
        return false;
    QProcess process;
    process.setProgram(args.takeFirst());
    process.setArguments(args);
    if (style == LaunchStyle::Hidden) {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
    }
    return process.startDetached();
}
