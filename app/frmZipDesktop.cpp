// The main window's ways in from the rest of the desktop: the command line (a file manager's
// "Open with" and context-menu entries run it too) and files dropped on the window.

#include "frmZip.h"

#include "apperror.h"
#include "appinfo.h"
#include "busyguard.h"
#include "commandline.h"
#include "messagebox.h"

#include <QDir>
#include <QDropEvent>
#include <QMimeData>

namespace {

bool offersUrls(const QDropEvent *event)
{
    return event->mimeData()->hasUrls() && !BusyGuard::isBusy();
}

} // namespace

std::optional<int> frmZip::runCommandLine(const CommandLine &request)
{
    if (!request.problem.isEmpty()) {
        MsgBox(request.problem, MsgButtons::OK, MsgIcon::Exclamation, AppInfo::title(), this);
        if (request.action == CommandLine::Action::Start)
            return std::nullopt; // the window stays, its path box empty
        return int(CommandLine::Failed);
    }
    if (!request.items.isEmpty())
        chooseItems(request.items);
    else if (!request.file.isEmpty())
        chooseFile(request.file);
    if (request.action == CommandLine::Action::Start)
        return std::nullopt;

    // Beside the file or into --to, without asking and whatever the check box says; the
    // stored settings stay as they are.
    m_commandLineFolder = request.folder;
    m_commandLineReplaces = request.replace;
    if (!request.folder.isEmpty())
        QDir().mkpath(request.folder); // if that fails, the component says why
    m_commandDone = false;
    m_lastZipMadeArchive = false;
    const bool named = !request.file.isEmpty();
    switch (request.action) {
    case CommandLine::Action::Zip:
        if (named)
            cmdZipp_Click();
        else
            mnuZipp_Click();
        break;
    case CommandLine::Action::Unzip:
        if (named)
            cmdUnzipp_Click();
        else
            mnuUnzipp_Click();
        break;
    case CommandLine::Action::ZipAndMail:
        if (named) {
            cmdZipp_Click();
            mailLastArchive();
        } else {
            mnuMailZip_Click();
        }
        break;
    default:
        break;
    }
    m_commandLineFolder.reset();
    m_commandLineReplaces = false;
    if (request.action == CommandLine::Action::ZipAndMail && m_lastZipMadeArchive)
        return std::nullopt; // the mail window stays open with the archive
    return int(m_commandDone ? CommandLine::Done : CommandLine::Failed);
}

void frmZip::dragEnterEvent(QDragEnterEvent *event)
{
    // Every list of addresses is taken, so that a refused one can be explained after the drop.
    if (offersUrls(event))
        event->acceptProposedAction();
}

void frmZip::dragMoveEvent(QDragMoveEvent *event)
{
    if (offersUrls(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void frmZip::dropEvent(QDropEvent *event)
{
    if (!offersUrls(event))
        return;
    event->acceptProposedAction();
    // Answered once the drop is over, so the program the files came from is not kept waiting
    // while a message box is open.
    const QList<QUrl> urls = event->mimeData()->urls();
    QMetaObject::invokeMethod(this, [this, urls] { takeDrop(urls); }, Qt::QueuedConnection);
}

void frmZip::takeDrop(const QList<QUrl> &urls)
{
    if (BusyGuard::isBusy())
        return;
    // One file is chosen as Browse chooses it; a folder or several items, for one archive.
    QString problem;
    QStringList paths;
    for (const QUrl &url : urls) {
        if (!url.isLocalFile()) {
            problem = QStringLiteral("\u201c%1\u201d is not a file on this computer. Save it in a folder first, "
                                     "then drop the saved file here.")
                          .arg(url.toDisplayString());
            break;
        }
        paths << QDir::cleanPath(url.toLocalFile());
        const bool alone = urls.size() == 1 && !QFileInfo(paths.last()).isDir();
        problem = alone ? CommandLine::problemWithFile(paths.last()) : CommandLine::problemWithItem(paths.last());
        if (!problem.isEmpty())
            break;
    }
    if (!problem.isEmpty()) {
        MsgBox(problem, MsgButtons::OK, MsgIcon::Exclamation, AppInfo::title(), this);
        return;
    }
    chooseItems(paths);
}
