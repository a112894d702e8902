// Find and Find Next: one search text per window, no wrap-around, overlapping matches.

#include "frmEditor.h"

#include "messagebox.h"
#include "richtextbox.h"

void frmEditor::mnuFind_Click()
{
    try {
        m_searchText = InputBox(QStringLiteral("Type Text to Find"), QStringLiteral("Find"),
                                Rtf->selText(), this);
        Rtf->setSelStart(0);
        if (Rtf->find(m_searchText) == -1) {
            MsgBox(QStringLiteral("Cannot Find ") + m_searchText, MsgButtons::OK, MsgIcon::Information,
                   QStringLiteral("TextEditor"), this);
        }
        Rtf->setFocus();
    } catch (...) {
        // An unexpected failure ends the command where it stands.
    }
}

void frmEditor::mnuFindNext_Click()
{
    if (m_searchText.isEmpty()) {
        mnuFind_Click();
        return;
    }
    try {
        const int selection = Rtf->selStart();
        if (Rtf->find(m_searchText, selection + 1) == -1) {
            MsgBox(QStringLiteral("No more \"%1\" to find").arg(m_searchText), MsgButtons::OK,
                   MsgIcon::Exclamation, QStringLiteral("TextEditor"), this);
        }
    } catch (...) {
    }
}
