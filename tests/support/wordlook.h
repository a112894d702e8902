#pragma once
// How each word of a document looks: face, size, bold, italic, underline, strike-through,
// colour, raised or lowered, capitals. Read from LibreOffice's HTML export (which names the
// face and size of every run) and from a QTextDocument as the editor shows it, so that a
// document can be compared word by word as two programs read it.

#include <QList>
#include <QString>
#include <QStringList>

class QTextDocument;

struct WordLook
{
    QString text;        // a word, or the part of a word that looks one way
    QString face;        // empty: the reader's own default face (no face named)
    double points = 0;   // 0: the reader's default size
    bool bold = false, italic = false, underline = false, strike = false;
    QString colour = QStringLiteral("#000000");
    int script = 0;      // 1 superscript, 2 subscript
    int caps = 0;        // 1 small capitals, 2 all capitals

    QString describe() const;
};

// The words of LibreOffice's HTML export, with the face and size its style sheet gives the
// paragraphs where a run names none.
QList<WordLook> wordLooksOfHtml(const QByteArray &html);
// The words of a document, every format resolved against the document's default font.
QList<WordLook> wordLooksOf(const QTextDocument *doc);

// The first difference between two readings of a document (empty when every word looks the
// same). A face or size that the first reading leaves to the reader's default matches any.
QString firstLookDifference(const QList<WordLook> &expected, const QList<WordLook> &actual);

// Runs LibreOffice (headless, with a profile of its own in profile) to convert files into
// outDir; target as --convert-to takes it ("html", "rtf:Rich Text Format"). Empty on success,
// else what went wrong.
QString convertWithLibreOffice(const QString &soffice, const QString &profile, const QString &target,
                               const QString &outDir, const QStringList &files);
