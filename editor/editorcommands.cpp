// The editor's document commands: new page, new editor, open, save, print, send, close and
// the clipboard commands.

#include "frmEditor.h"

#include "apperror.h"
#include "errorstyles.h"
#include "frmMail.h"
#include "messagebox.h"
#include "richtextbox.h"
#include "rtf.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>

void frmEditor::mnuNew_Click()
{
    switch (MsgBox(QStringLiteral("Save Document?"), MsgButtons::YesNoCancel, MsgIcon::Question,
                   QStringLiteral("Save"), this)) {
    case MsgResult::Yes:
        mnuSaveAs_Click(); // the document stays, saved or not
        break;
    case MsgResult::No:
        Rtf->newDocument();
        break;
    default:
        break;
    }
}

void frmEditor::mnuNewEditor_Click()
{
    frmEditor *editor = createFurther();
    const frmEditor *reference = primary();
    editor->resize(reference->width(), editor->height());
    editor->resize(editor->width(), reference->height());
    editor->show();
}

void frmEditor::mnuOpen_Click()
{
    TrapAndAsk(this, {
        [&] {
            frmEditorCD.setDialogTitle(QStringLiteral("Open"));
            frmEditorCD.setFileName(QString());
            frmEditorCD.setFilter(
                QStringLiteral("Text(txt, rtf, wri, log, doc, java) |*.txt;*.doc;*.log; *.rtf; *.wri; *.java;"));
        },
        [&] { frmEditorCD.ShowOpen(); },
        [&] { Rtf->loadFile(frmEditorCD.fileName()); },
        [&] { Rtf->viewport()->update(); },
        [&] { frmEditorCD.setFileName(QString()); },
    });
}

void frmEditor::mnuSaveAs_Click()
{
    TrapAndAsk(this, {
        [&] {
            frmEditorCD.setDialogTitle(QStringLiteral("Save As"));
            frmEditorCD.setDefaultExt(QStringLiteral("txt"));
            frmEditorCD.setFileName(QString());
            frmEditorCD.setFlags(CommonDialog::OverwritePrompt);
            frmEditorCD.setFilter(QStringLiteral("Text |*.txt; *.rtf; *.doc"));
        },
        [&] { frmEditorCD.ShowSave(); },
        [&] {
            // Saving over the file the document came from loses what the editor left out of it.
            const QStringList lost = Rtf->lostBySavingOver(frmEditorCD.fileName());
            if (lost.isEmpty())
                return;
            QString list = lost.join(QStringLiteral(", "));
            if (lost.size() > 1)
                list.replace(list.lastIndexOf(QStringLiteral(", ")), 2, QStringLiteral(" and "));
            const QString prompt = QStringLiteral("%1 holds %2, which this editor does not keep. Saving over it "
                                                  "loses them for good. Save anyway?")
                                       .arg(QFileInfo(frmEditorCD.fileName()).fileName(), list);
            if (MsgBox(prompt, MsgButtons::YesNo, MsgIcon::Exclamation, QStringLiteral("TextEditor"), this)
                != MsgResult::Yes)
                throw AppError::cancelled();
        },
        [&] { Rtf->saveFile(frmEditorCD.fileName()); },
        [&] { frmEditorCD.setFileName(QString()); },
    });
}

void frmEditor::mnuPrint_Click()
{
    TrapAndAsk(this, {
        [&] {
            frmEditorCD.setDialogTitle(QStringLiteral("Print"));
            frmEditorCD.setCancelError(true);
            frmEditorCD.setFlags(CommonDialog::PrintReturnDC | CommonDialog::PrintNoPageNums);
        },
        [&] {
            if (Rtf->selLength() != 0)
                frmEditorCD.setFlags(frmEditorCD.flags() + CommonDialog::PrintSelection);
        },
        [&] { frmEditorCD.ShowPrinter(); },
        [&] {
            if (!frmEditorCD.printer())
                throw AppError(482, QStringLiteral("Printer error"));
            Rtf->selPrint(frmEditorCD.printer());
        },
    });
}

void frmEditor::mnuSend_Click()
{
    frmMail *mail = frmMail::open();
    mail->setMessageText(Rtf::plainText(Rtf->document()));
}

void frmEditor::mnuExit_Click()
{
    close();
}

bool frmEditor::mayDiscardDocument()
{
    if (!Rtf->document()->isModified())
        return true;
    if (isHidden() || isMinimized()) // show which document the question is about
        showNormal();
    raise();
    activateWindow();
    switch (MsgBox(QStringLiteral("Save changes to the document?"), MsgButtons::YesNoCancel, MsgIcon::Question,
                   QStringLiteral("TextEditor"), this)) {
    case MsgResult::Yes:
        mnuSaveAs_Click();
        return !Rtf->document()->isModified(); // a cancelled or failed save keeps the window
    case MsgResult::No:
        return true;
    default:
        return false;
    }
}

bool frmEditor::mayDiscardEveryDocument()
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        auto *editor = qobject_cast<frmEditor *>(window);
        if (editor && !editor->m_unloaded && !editor->mayDiscardDocument())
            return false;
    }
    return true;
}

// The selection's text for the clipboard: pictures, which stand in the text as U+FFFC, have no
// text and leave nothing there.
static QString clipboardText(const RichTextBox *rtf)
{
    return rtf->selText().remove(QChar::ObjectReplacementCharacter);
}

void frmEditor::mnuCopy_Click()
{
    TrapAndSkip({[&] { QApplication::clipboard()->setText(clipboardText(Rtf)); }});
}

void frmEditor::mnuCut_Click()
{
    TrapAndSkip({
        [&] { QApplication::clipboard()->setText(clipboardText(Rtf)); },
        [&] { Rtf->setSelText(QString()); },
    });
}

void frmEditor::mnuPaste_Click()
{
    TrapAndSkip({
        [&] { Rtf->setSelText(QApplication::clipboard()->text()); },
        [&] { Rtf->viewport()->update(); },
    });
}

void frmEditor::mnuSelect_Click()
{
    TrapAndSkip({
        [&] { Rtf->setSelStart(0); },
        [&] { Rtf->setSelLength(int(Rtf->toPlainText().size())); },
    });
}

void frmEditor::mnuClear_Click()
{
    Rtf->clear();
    Rtf->document()->setModified(false); // emptied on purpose: nothing typed is lost on closing
}

void frmEditor::mnuRefresh_Click()
{
    TrapAndSkip({[&] { Rtf->viewport()->update(); }});
}
