#pragma once
// The rich-text area: a QTextEdit with the operations the editor window uses. Positions are
// character indexes into the document's plain text, counted from 0; a picture counts as one
// character and a paragraph break as one.

#include <QHash>
#include <QTextEdit>
#include <functional>
#include <optional>

class QPrinter;

class RichTextBox : public QTextEdit
{
    Q_OBJECT

public:
    enum Alignment { AlignLeft = 0, AlignRight = 1, AlignCenter = 2 };

    explicit RichTextBox(QWidget *parent = nullptr);

    // --- selection
    int selStart() const;
    void setSelStart(int position); // places the caret there, dropping the selection
    int selLength() const;
    void setSelLength(int length);  // extends from the selection start
    QString selText() const;
    void setSelText(const QString &text); // replaces the selection; takes the formatting there

    // --- selection formatting; nothing when the selection mixes values
    std::optional<bool> selBold() const;
    std::optional<bool> selItalic() const;
    std::optional<bool> selUnderline() const;
    std::optional<bool> selStrikeThru() const;
    std::optional<int> selAlignment() const;
    void setSelBold(bool on);
    void setSelItalic(bool on);
    void setSelUnderline(bool on);
    void setSelStrikeThru(bool on);
    void setSelAlignment(int alignment);
    void setSelColor(const QColor &color);
    // Face, size, bold, italic, underline and strike-through of the font go to the selection
    // (to the typing position when nothing is selected).
    void setSelFont(const QFont &font);

    // --- the area as a whole
    QString text() const { return toPlainText(); }
    QFont baseFont() const;
    void setBaseFont(const QFont &font);
    QColor backColor() const;
    void setBackColor(const QColor &color);

    // Finds `text` ignoring letter case, anywhere in words, between `start` (default: the
    // beginning) and `end` (default: the end). Selects the match and returns its position,
    // or -1. An empty text is never found.
    int find(const QString &text, int start = -1, int end = -1);

    // Empties the area for a new document, which comes from no file.
    void newDocument();
    // Loads a rich-text file, or any other file as plain text; raises AppError on failure.
    void loadFile(const QString &path);
    // Saves the whole document as rich text; raises AppError on failure.
    void saveFile(const QString &path);
    // The three above leave the document unchanged (document()->isModified() false) until the
    // next edit, so that closing can tell whether anything would be lost.
    // What saving to path would lose when the document was loaded from path and that file
    // holds content the area leaves out ("footnotes", "comments" ...); empty otherwise (also
    // after New, and once the document has been saved over that file).
    QStringList lostBySavingOver(const QString &path) const;
    // Prints the selection, or the whole document when nothing is selected.
    void selPrint(QPrinter *printer) const;

    // Inserts a picture at the caret, replacing the selection.
    void insertPicture(const QImage &image);

protected:
    // List items whose numbers Qt's lists cannot show (a list starting at 3, "2.1.") get the
    // word processor's numbers (Rtf::listItemText), drawn where Qt draws its own.
    void paintEvent(QPaintEvent *event) override;
    // Text that leaves the area by any way (copy, cut, drag) carries no mark for a picture.
    QMimeData *createMimeDataFromSelection() const override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    std::optional<bool> selFlag(const std::function<bool(const QTextCharFormat &)> &flag) const;
    void mergeSel(const QTextCharFormat &format);
    bool isLoadedFile(const QString &path) const;
    const QHash<int, QString> &listItemTexts();

    QHash<int, QString> m_listItemTexts; // by block number, while m_listItemTextsValid
    bool m_listItemTextsValid = false;
    QString m_loadedPath;
    QStringList m_lostOnSave;
};
