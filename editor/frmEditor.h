#pragma once
// The rich-text editor window. The primary window is the one the main window's "Text Editor"
// command shows; "New Editor" opens further, independent windows of the same kind. Every window
// has its own document, search text and dialog object; all share the settings file
// "TextEditor.set", which holds the primary window's geometry and the base font and back colour
// of the window that closed last.

#include "commondialog.h"

#include <QHash>
#include <QImage>
#include <QMainWindow>

class PropertyBag;
class QAction;
class QMenu;
class QToolBar;
class RichTextBox;

class frmEditor : public QMainWindow
{
    Q_OBJECT

public:
    // The primary window, created (and loaded, but not shown) on first use.
    static frmEditor *primary();
    static frmEditor *existingPrimary();
    // A further window; loaded, not shown.
    static frmEditor *createFurther();
    ~frmEditor() override;

    RichTextBox *richText() const { return Rtf; }
    CommonDialog &commonDialog() { return frmEditorCD; }
    QString searchText() const { return m_searchText; }
    static QString normalCaption();
    // The folder of the program, ending with "/".
    static QString AppPath();

    // --- document commands
    void mnuNew_Click();
    void mnuNewEditor_Click();
    void mnuOpen_Click();
    void mnuSaveAs_Click();
    void mnuPrint_Click();
    void mnuSend_Click();
    void mnuExit_Click();
    void mnuCopy_Click();
    void mnuCut_Click();
    void mnuPaste_Click();
    void mnuSelect_Click();
    void mnuClear_Click();
    void mnuRefresh_Click();
    // --- find
    void mnuFind_Click();
    void mnuFindNext_Click();
    // --- formatting and pictures
    void mnuRAL_Click();
    void mnuRAC_Click();
    void mnuRAR_Click();
    void mnuRFont_Click();
    void mnuRBC_Click();
    void mnuInsertImage_Click();
    void mnuAbout_Click();
    // Whether the document may go: unchanged since it was opened, saved or emptied, or else
    // the user answers "Save changes to the document?" with Yes (and the save works) or No.
    bool mayDiscardDocument();
    // The same for every editor window, one after the other; false once one of them stays.
    static bool mayDiscardEveryDocument();
    // A click on a tool-bar button, dispatched by its key.
    void Toolbar1_ButtonClick(const QString &key);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit frmEditor(bool isPrimary);
    void Form_Load();
    void Form_Unload();
    void Form_Resize();
    void Rtf_SelChange();
    void toggle(const QString &key, std::optional<bool> (RichTextBox::*read)() const,
                void (RichTextBox::*write)(bool));

    void setupFileActions();
    void setupEditActions();
    void setupOnlineActions();
    void setupWindowAndHelpActions();
    void setupToolBar();
    void setupContextMenu();
    QAction *addAction(QMenu *menu, const char *name, const QString &caption,
                       void (frmEditor::*command)(), const QKeySequence &shortcut = {});

    // The settings values as the table of the settings file lists them.
    void writeSettings(PropertyBag &bag);
    void applySettings(const PropertyBag &bag);
    QString settingsFileForReading() const;
    QString settingsFileForWriting() const;

    const bool m_isPrimary;
    RichTextBox *Rtf;
    QToolBar *Toolbar1;
    QHash<QString, QAction *> m_buttons; // the tool-bar buttons by key
    QMenu *mnuRClick;
    CommonDialog frmEditorCD;
    QImage ImageForRtf;
    QString m_searchText;
    bool m_unloaded = false;
};
