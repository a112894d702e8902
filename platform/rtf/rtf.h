#pragma once
// Rich text (RTF) for the editor's QTextDocument: load and save files, copy and paste.
//
// In an editor window whose text area is the QTextEdit textEdit:
//
//     QString error;
//     if (!Rtf::loadFile(path, textEdit->document(), &error))   // RTF, or any other file as
//         report(error);                                       // plain text
//     if (!Rtf::saveFile(path, textEdit->document(), &error))   // always RTF
//         report(error);
//
//     QTextCursor cursor = textEdit->textCursor();
//     Rtf::insert(cursor, bytes);                     // RTF or plain text; replaces the selection
//     Rtf::insertImage(cursor, clipboardImage);       // a picture, saved with the document
//     QByteArray copied = Rtf::write(textEdit->textCursor());   // the selection as RTF
//
// Pictures are QImages held in the document's resources (QTextDocument::ImageResource) under
// the name of their QTextImageFormat; insertImage gives them names that no other picture in
// this program uses. The writer also finds pictures that a QTextEdit added itself (a QImage,
// QPixmap or encoded bytes as the resource) and writes every picture as PNG.

#include <QByteArray>
#include <QSizeF>
#include <QString>
#include <QStringList>

class QImage;
class QTextCursor;
class QTextDocument;
class QTextDocumentFragment;

namespace Rtf {

// Whether data is RTF: it starts with "{\rtf", after an optional UTF-8 byte order mark and blanks.
bool looksLikeRtf(const QByteArray &data);

// Replaces the document's content with the RTF in data. Fails (document unchanged) only when
// data is not RTF; see RtfReader.
bool read(const QByteArray &data, QTextDocument *doc, QString *error = nullptr);

// The whole document as RTF.
QByteArray write(const QTextDocument *doc);
// The cursor's selection as RTF (empty RTF without a selection).
QByteArray write(const QTextCursor &selection);
// A fragment as RTF; its pictures are looked up in resources.
QByteArray write(const QTextDocumentFragment &fragment, const QTextDocument *resources = nullptr);

// Inserts RTF, or plain text when data is not RTF, at the cursor, replacing its selection.
// Pictures are added to the cursor's document. False when there is nothing to insert into.
bool insert(QTextCursor &cursor, const QByteArray &data, QString *error = nullptr);

// Loads a file into the document: RTF as rich text, any other file as plain text (see
// decodePlainText). Fails with a message when the file cannot be read. lostOnSave receives
// what the document holds that the editor leaves out ("footnotes", "comments" ...), so that
// saving over the file would lose it.
bool loadFile(const QString &path, QTextDocument *doc, QString *error = nullptr,
              QStringList *lostOnSave = nullptr);
// Saves the document as RTF, whatever the file's name. Fails with a message when the file
// cannot be written; an existing file is then left as it was.
bool saveFile(const QString &path, const QTextDocument *doc, QString *error = nullptr);

// The text of a file that is not RTF: UTF-8 or UTF-16 with a byte order mark, else UTF-8 when
// it is valid UTF-8, else the locale's encoding when that is not UTF-8, else Windows-1252
// (Latin-1 with the printable characters at 0x80..0x9F). Line ends become "\n".
QString decodePlainText(const QByteArray &data);

// Inserts a picture at the cursor, shown at size in pixels (the picture's own size when size
// is empty), and returns its resource name.
QString insertImage(QTextCursor &cursor, const QImage &image, const QSizeF &size = QSizeF());

// The document's text as the editor shows it: one line per paragraph (and per line break),
// each list item's number or bullet before its text, pictures left out.
QString plainText(const QTextDocument *doc);

namespace detail {
// A resource name for a picture, unique in this program run.
QString newImageName();

// Format properties that the reader sets and the writer reads where Qt has none:
// a list's first number (int) and a paragraph's tab leaders (QString, one character per tab
// stop: ' ' none, 'd' dots, 'h' hyphens, 'u' underline, 't' thick line, 'e' equals, 'm' middle dots).
constexpr int ListStartProperty = 0x100000 + 0x5201;
constexpr int TabLeadersProperty = 0x100000 + 0x5202;
// A table's column widths as one number (int), set beside the widths themselves: Qt hashes a
// format's list of widths by its type alone, so without it every table of a document would share
// one hash, and each new table's format would be compared with the formats of all tables before.
constexpr int ColumnWidthsKeyProperty = 0x100000 + 0x5203;
// Lists whose numbers Qt's lists cannot show (rtflisttext.h): a list format with a level text
// (QString: "%1.%2." shows the numbers of levels 1 and 2 of its family, "%%" a percent sign) and
// a number format (int: RTF \levelnfc, 0 decimal, 1 and 2 upper and lower roman, 3 and 4 upper
// and lower letters, 5 ordinal, 22 two digits, 23 bullet, 255 none) keeps Qt's nearest style; its
// items' block formats say QTextFormat::ListStyle ListStyleUndefined, so that Qt draws no number
// of its own. The lists of one multi-level list of a document (one \ls) share a family (int),
// each at its level (indent - 1).
constexpr int ListLevelTextProperty = 0x100000 + 0x5204;
constexpr int ListNumberFormatProperty = 0x100000 + 0x5205;
constexpr int ListFamilyProperty = 0x100000 + 0x5206;
// A list item's text as its document gave it (QString) where it differs from what its list
// computes, and the item's place in its list then (int, from 0): it is shown while the item
// keeps that place.
constexpr int ListItemTextProperty = 0x100000 + 0x5207;
constexpr int ListItemIndexProperty = 0x100000 + 0x5208;
} // namespace detail

} // namespace Rtf
