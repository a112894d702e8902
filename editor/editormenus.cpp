// How the editor's commands are reached: the menu bar, the context menu of the text area and
// the tool bar.

#include "frmEditor.h"

#include "TarnZip_Shared.h"
#include "frmAbout.h"
#include "icons.h"
#include "richtextbox.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

QAction *frmEditor::addAction(QMenu *menu, const char *name, const QString &caption,
                              void (frmEditor::*command)(), const QKeySequence &shortcut)
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    if (command)
        connect(action, &QAction::triggered, this, command);
    return action;
}

void frmEditor::setupFileActions()
{
    QMenu *menu = menuBar()->addMenu(QStringLiteral("&File"));
    menu->setObjectName(QStringLiteral("mnuFile"));
    addAction(menu, "mnuNewEditor", QStringLiteral("New &Editor"), &frmEditor::mnuNewEditor_Click);
    addAction(menu, "mnuNew", QStringLiteral("&New Page"), &frmEditor::mnuNew_Click);
    addAction(menu, "mnuOpen", QStringLiteral("&Open..."), &frmEditor::mnuOpen_Click);
    addAction(menu, "mnuSaveAs", QStringLiteral("&Save As..."), &frmEditor::mnuSaveAs_Click);
    menu->addSeparator();
    addAction(menu, "mnuPrint", QStringLiteral("&Print"), &frmEditor::mnuPrint_Click);
    addAction(menu, "mnuSend", QStringLiteral("Se&nd..."), &frmEditor::mnuSend_Click);
    menu->addSeparator();
    addAction(menu, "mnuExit", QStringLiteral("Close Text&Editor"), &frmEditor::mnuExit_Click);
}

void frmEditor::setupEditActions()
{
    QMenu *menu = menuBar()->addMenu(QStringLiteral("&Edit"));
    menu->setObjectName(QStringLiteral("mnuEdit"));
    addAction(menu, "mnuInsertImage", QStringLiteral("Insert &Image..."), &frmEditor::mnuInsertImage_Click);
    menu->addSeparator();
    addAction(menu, "mnuAL", QStringLiteral("Align &Left"), &frmEditor::mnuRAL_Click);
    addAction(menu, "mnuAC", QStringLiteral("Align &Center"), &frmEditor::mnuRAC_Click);
    addAction(menu, "mnuAR", QStringLiteral("Align &Right"), &frmEditor::mnuRAR_Click);
    menu->addSeparator();
    addAction(menu, "mnuFind", QStringLiteral("&Find"), &frmEditor::mnuFind_Click, QKeySequence(Qt::CTRL | Qt::Key_F));
    addAction(menu, "mnuFindNext", QStringLiteral("Find &Next"), &frmEditor::mnuFindNext_Click, QKeySequence(Qt::Key_F3));
    menu->addSeparator();
    addAction(menu, "mnuCopy", QStringLiteral("C&opy"), &frmEditor::mnuCopy_Click);
    addAction(menu, "mnuCut", QStringLiteral("C&ut"), &frmEditor::mnuCut_Click);
    addAction(menu, "mnuPaste", QStringLiteral("P&aste"), &frmEditor::mnuPaste_Click);
    menu->addSeparator();
    addAction(menu, "mnuSelect", QStringLiteral("&Select All"), &frmEditor::mnuSelect_Click);
    addAction(menu, "mnuClear", QStringLiteral("Cl&ear All"), &frmEditor::mnuClear_Click);
    menu->addSeparator();
    addAction(menu, "mnuRefresh", QStringLiteral("&Refresh"), &frmEditor::mnuRefresh_Click);
}

void frmEditor::setupOnlineActions()
{
    QMenu *menu = menuBar()->addMenu(QStringLiteral("&Online"));
    menu->setObjectName(QStringLiteral("mnuOnline"));
    TarnZip_Shared::AddPublisherPages(menu);
}

void frmEditor::setupWindowAndHelpActions()
{
    QMenu *window = menuBar()->addMenu(QStringLiteral("&Window"));
    window->setObjectName(QStringLiteral("mnuWindow"));
    addAction(window, "mnuTH", QStringLiteral("Tile &Horizentally"), nullptr);
    addAction(window, "mnuTV", QStringLiteral("Tile &Vertically"), nullptr);
    addAction(window, "mnuCascade", QStringLiteral("&Cascade"), nullptr);
    addAction(window, "mnuArrange", QStringLiteral("&Arrange Icons"), nullptr);
    window->menuAction()->setEnabled(false);

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    addAction(help, "mnuAbout", QStringLiteral("&About Parcelo..."), &frmEditor::mnuAbout_Click);
}

void frmEditor::mnuAbout_Click()
{
    // The one about box of the application, not a new one each time.
    frmAbout *about = frmAbout::instance();
    about->show();
    about->raise();
    about->activateWindow();
}

void frmEditor::setupToolBar()
{
    Toolbar1 = addToolBar(QStringLiteral("Toolbar1"));
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setMovable(false);
    Toolbar1->setIconSize(QSize(22, 22));
    const struct { const char *key; const char *tip; const char *icon; QStyle::StandardPixmap fallback; bool pressable; } keys[] = {
        {"New", "New", "document-new", QStyle::SP_FileIcon, false},
        {"Open", "Open", "document-open", QStyle::SP_DialogOpenButton, false},
        {"Save", "Save", "document-save", QStyle::SP_DialogSaveButton, false},
        {nullptr, nullptr, nullptr, QStyle::SP_CustomBase, false},
        {"Print", "Print", "document-print", QStyle::SP_CustomBase, false},
        {"Mail", "Send", "mail-send", QStyle::SP_CustomBase, false},
        {nullptr, nullptr, nullptr, QStyle::SP_CustomBase, false},
        {"Cut", "Cut", "edit-cut", QStyle::SP_CustomBase, false},
        {"Copy", "Copy", "edit-copy", QStyle::SP_CustomBase, false},
        {"Paste", "Paste", "edit-paste", QStyle::SP_CustomBase, false},
        {"Delete", "Delete", "edit-delete", QStyle::SP_TrashIcon, false},
        {nullptr, nullptr, nullptr, QStyle::SP_CustomBase, false},
        {"Find", "Find", "edit-find", QStyle::SP_FileDialogContentsView, false},
        {nullptr, nullptr, nullptr, QStyle::SP_CustomBase, false},
        {"Bold", "Bold", "format-text-bold", QStyle::SP_CustomBase, true},
        {"Italic", "Italic", "format-text-italic", QStyle::SP_CustomBase, true},
        {"Underline", "Underline", "format-text-underline", QStyle::SP_CustomBase, true},
        {"Strike Through", "Strike Through", "format-text-strikethrough", QStyle::SP_CustomBase, true},
        {nullptr, nullptr, nullptr, QStyle::SP_CustomBase, false},
        {"Align Left", "Align Left", "format-justify-left", QStyle::SP_CustomBase, true},
        {"Center", "Center", "format-justify-center", QStyle::SP_CustomBase, true},
        {"Align Right", "Align Right", "format-justify-right", QStyle::SP_CustomBase, true},
        {"Justify", "Justify", "format-justify-fill", QStyle::SP_CustomBase, false},
    };
    for (const auto &entry : keys) {
        if (!entry.key) {
            Toolbar1->addSeparator();
            continue;
        }
        const QString key = QString::fromLatin1(entry.key);
        QIcon icon = Icons::themed(QString::fromLatin1(entry.icon), entry.fallback);
        QAction *button = Toolbar1->addAction(icon, key);
        button->setObjectName(QStringLiteral("tb") + QString(key).remove(QLatin1Char(' ')));
        button->setToolTip(QString::fromLatin1(entry.tip));
        button->setCheckable(entry.pressable);
        connect(button, &QAction::triggered, this, [this, key] { Toolbar1_ButtonClick(key); });
        m_buttons.insert(key, button);
    }
}

void frmEditor::Toolbar1_ButtonClick(const QString &key)
{
    static const QHash<QString, void (frmEditor::*)()> commands = {
        {QStringLiteral("New"), &frmEditor::mnuNew_Click},
        {QStringLiteral("Open"), &frmEditor::mnuOpen_Click},
        {QStringLiteral("Save"), &frmEditor::mnuSaveAs_Click},
        {QStringLiteral("Print"), &frmEditor::mnuPrint_Click},
        {QStringLiteral("Mail"), &frmEditor::mnuSend_Click},
        {QStringLiteral("Cut"), &frmEditor::mnuCut_Click},
        {QStringLiteral("Copy"), &frmEditor::mnuCopy_Click},
        {QStringLiteral("Paste"), &frmEditor::mnuPaste_Click},
        {QStringLiteral("Find"), &frmEditor::mnuFind_Click},
        {QStringLiteral("Align Left"), &frmEditor::mnuRAL_Click},
        {QStringLiteral("Center"), &frmEditor::mnuRAC_Click},
        {QStringLiteral("Align Right"), &frmEditor::mnuRAR_Click},
    };
    if (key == QLatin1String("Bold"))
        toggle(key, &RichTextBox::selBold, &RichTextBox::setSelBold);
    else if (key == QLatin1String("Italic"))
        toggle(key, &RichTextBox::selItalic, &RichTextBox::setSelItalic);
    else if (key == QLatin1String("Underline"))
        toggle(key, &RichTextBox::selUnderline, &RichTextBox::setSelUnderline);
    else if (key == QLatin1String("Strike Through"))
        toggle(key, &RichTextBox::selStrikeThru, &RichTextBox::setSelStrikeThru);
    else if (const auto command = commands.value(key))
        (this->*command)();
    // "Delete" and "Justify" have no command.
    // A click flips a pressable button by itself; the seven show the document's state instead
    // (a click on a pressed "Align Left" leaves it pressed, "Center" releases "Align Left").
    Rtf_SelChange();
}

void frmEditor::setupContextMenu()
{
    mnuRClick = new QMenu(QStringLiteral("RightClick"), this);
    mnuRClick->setObjectName(QStringLiteral("mnuRClick"));
    QMenu *m = mnuRClick;
    addAction(m, "mnuRInsertImage", QStringLiteral("Insert Image..."), &frmEditor::mnuInsertImage_Click);
    m->addSeparator();
    addAction(m, "mnuROpen", QStringLiteral("Open..."), &frmEditor::mnuOpen_Click);
    addAction(m, "mnuRSaveAS", QStringLiteral("Save As..."), &frmEditor::mnuSaveAs_Click);
    m->addSeparator();
    addAction(m, "mnuRPrint", QStringLiteral("Print"), &frmEditor::mnuPrint_Click);
    addAction(m, "mnuRSend", QStringLiteral("Send..."), &frmEditor::mnuSend_Click);
    m->addSeparator();
    addAction(m, "mnuRFont", QStringLiteral("Font"), &frmEditor::mnuRFont_Click);
    addAction(m, "mnuRBC", QStringLiteral("BackColor"), &frmEditor::mnuRBC_Click);
    m->addSeparator();
    addAction(m, "mnuRAL", QStringLiteral("Align Left"), &frmEditor::mnuRAL_Click);
    addAction(m, "mnuRAC", QStringLiteral("Align Center"), &frmEditor::mnuRAC_Click);
    addAction(m, "mnuRAR", QStringLiteral("Align Right"), &frmEditor::mnuRAR_Click);
    m->addSeparator();
    addAction(m, "mnuRFind", QStringLiteral("Find"), &frmEditor::mnuFind_Click);
    addAction(m, "mnuRFindNext", QStringLiteral("Find Next"), &frmEditor::mnuFindNext_Click);
    m->addSeparator();
    addAction(m, "mnuRCopy", QStringLiteral("Copy"), &frmEditor::mnuCopy_Click);
    addAction(m, "mnuRCut", QStringLiteral("Cut"), &frmEditor::mnuCut_Click);
    addAction(m, "mnuRPaste", QStringLiteral("Paste"), &frmEditor::mnuPaste_Click);
    m->addSeparator();
    addAction(m, "mnuRSelectAll", QStringLiteral("Select All"), &frmEditor::mnuSelect_Click);
    addAction(m, "mnuRClear", QStringLiteral("Clear All"), &frmEditor::mnuClear_Click);
}
