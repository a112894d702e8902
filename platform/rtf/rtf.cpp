#include "rtf.h"

#include "rtfcodepage.h"
#include "rtflisttext.h"
#include "rtfreader.h"
#include "rtfwriter.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <QTextDocumentFragment>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QTextList>
#include <QUrl>

#include <atomic>
#include <iconv.h>
#include <langinfo.h>

namespace Rtf {

namespace {

constexpr qint64 kMaxFileSize = qint64(1) << 30;

// The locale's character set when it is neither UTF-8 nor plain ASCII, else nullptr.
QByteArray legacyLocaleCodeset()
{
    const QByteArray codeset = nl_langinfo(CODESET);
    const QByteArray upper = codeset.toUpper();
    if (upper.isEmpty() || upper == "UTF-8" || upper == "UTF8" || upper == "ANSI_X3.4-1968" || upper == "ASCII")
        return {};
    return codeset;
}

bool decodeWithIconv(const QByteArray &codeset, const QByteArray &data, QString &out)
{
    iconv_t handle = iconv_open("UTF-16LE", codeset.constData());
    if (handle == iconv_t(-1))
        return false;
    QByteArray buffer(data.size() * 4 + 16, Qt::Uninitialized);
    char *in = const_cast<char *>(data.constData());
    size_t inLeft = size_t(data.size());
    char *outPtr = buffer.data();
    size_t outLeft = size_t(buffer.size());
    const size_t result = iconv(handle, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(handle);
    if (result == size_t(-1))
        return false;
    out = QString(reinterpret_cast<const QChar *>(buffer.constData()),
                  qsizetype((buffer.size() - qsizetype(outLeft)) / 2));
    return true;
}

QString normalizeLineEnds(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(u'\r', u'\n');
    text.replace(QChar(u'\0'), QChar(QChar::ReplacementCharacter));
    return text;
}

} // namespace

bool looksLikeRtf(const QByteArray &data)
{
    qsizetype i = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (i < data.size() && (data.at(i) == ' ' || data.at(i) == '\t' || data.at(i) == '\r' || data.at(i) == '\n'))
        ++i;
    return QByteArrayView(data).sliced(i).startsWith("{\\rtf");
}

bool read(const QByteArray &data, QTextDocument *doc, QString *error)
{
    return RtfReader().read(data, doc, error);
}

QByteArray write(const QTextDocument *doc)
{
    return RtfWriter().write(doc);
}

QByteArray write(const QTextCursor &selection)
{
    if (selection.isNull())
        return {};
    const QTextDocument *doc = selection.document();
    return RtfWriter().write(doc, selection.selectionStart(), selection.selectionEnd());
}

QByteArray write(const QTextDocumentFragment &fragment, const QTextDocument *resources)
{
    QTextDocument doc;
    if (resources)
        doc.setDefaultFont(resources->defaultFont());
    QTextCursor(&doc).insertFragment(fragment);
    return RtfWriter().write(&doc, 0, doc.characterCount() - 1, resources);
}

bool insert(QTextCursor &cursor, const QByteArray &data, QString *error)
{
    QTextDocument *target = cursor.isNull() ? nullptr : cursor.document();
    if (!target) {
        if (error)
            *error = QStringLiteral("No document to insert into.");
        return false;
    }
    if (!looksLikeRtf(data)) {
        cursor.insertText(decodePlainText(data));
        return true;
    }
    QTextDocument source;
    source.setDefaultFont(target->defaultFont());
    RtfReader().read(data, &source, error);
    // The pictures go with the text; their names are unique, so they cannot clash.
    for (QTextBlock block = source.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (!format.isImageFormat())
                continue;
            const QUrl name(format.toImageFormat().name());
            target->addResource(QTextDocument::ImageResource, name,
                                source.resource(QTextDocument::ImageResource, name));
        }
    }
    if (source.isEmpty())
        cursor.removeSelectedText();
    else
        cursor.insertFragment(QTextDocumentFragment(&source));
    return true;
}

bool loadFile(const QString &path, QTextDocument *doc, QString *error, QStringList *lostOnSave)
{
    if (lostOnSave)
        lostOnSave->clear();
    auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    if (!doc)
        return fail(QStringLiteral("No document to load into."));
    const QFileInfo info(path);
    if (info.isDir())
        return fail(QStringLiteral("%1 is a folder, not a file.").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Cannot open %1: %2").arg(path, file.errorString()));
    if (file.size() > kMaxFileSize)
        return fail(QStringLiteral("%1 is too large to open (more than 1 GiB).").arg(path));
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    if (looksLikeRtf(data)) {
        RtfReader reader;
        if (!reader.read(data, doc, error))
            return false;
        if (lostOnSave)
            *lostOnSave = reader.stats().lostOnSave();
        return true;
    }
    const bool undo = doc->isUndoRedoEnabled();
    doc->setUndoRedoEnabled(false);
    doc->clear();
    doc->setPlainText(decodePlainText(data));
    doc->setUndoRedoEnabled(undo);
    doc->setModified(false);
    return true;
}

bool saveFile(const QString &path, const QTextDocument *doc, QString *error)
{
    auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    if (!doc)
        return fail(QStringLiteral("No document to save."));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    const QByteArray data = write(doc);
    if (file.write(data) != data.size() || !file.commit())
        return fail(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    return true;
}

QString decodePlainText(const QByteArray &data)
{
    if (data.startsWith("\xEF\xBB\xBF"))
        return normalizeLineEnds(QString::fromUtf8(data.mid(3)));
    if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(data.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        return normalizeLineEnds(decoder(data.mid(2)));
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8(data);
    if (!utf8.hasError())
        return normalizeLineEnds(text);
    const QByteArray codeset = legacyLocaleCodeset();
    if (!codeset.isEmpty() && decodeWithIconv(codeset, data, text))
        return normalizeLineEnds(text);
    text.clear();
    detail::ByteDecoder(1252).decode(data.constData(), data.size(), text);
    return normalizeLineEnds(text);
}

QString insertImage(QTextCursor &cursor, const QImage &image, const QSizeF &size)
{
    QTextDocument *doc = cursor.isNull() ? nullptr : cursor.document();
    if (!doc || image.isNull())
        return {};
    const QString name = detail::newImageName();
    doc->addResource(QTextDocument::ImageResource, QUrl(name), image);
    QTextImageFormat format;
    format.setName(name);
    const QSizeF shown = size.isEmpty() ? QSizeF(image.size()) : size;
    format.setWidth(shown.width());
    format.setHeight(shown.height());
    cursor.insertImage(format);
    return name;
}

QString plainText(const QTextDocument *doc)
{
    if (!doc)
        return {};
    // Cells of a table row are separated by tabs, as when a row is pasted as text.
    QString text;
    text.reserve(doc->characterCount());
    QTextTable *previousTable = nullptr;
    QTextTableCell previousCell;
    ListNumbering numbering;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        QTextTable *table = nullptr;
        QTextTableCell cell;
        for (QTextFrame *frame = doc->frameAt(block.position()); frame && !table; frame = frame->parentFrame()) {
            if ((table = qobject_cast<QTextTable *>(frame)))
                cell = table->cellAt(block.position());
        }
        if (block != doc->begin()) {
            const bool nextCell = table && table == previousTable && cell.row() == previousCell.row()
                                  && cell.column() != previousCell.column();
            text.append(nextCell ? u'\t' : u'\n');
        }
        previousTable = table;
        previousCell = cell;
        if (const QTextList *list = block.textList()) {
            // The item's bullet or number, as a word processor's text export gives it.
            const QString shown = numbering.textOf(block);
            switch (hasListItemTexts(list->format()) ? QTextListFormat::ListStyleUndefined : list->format().style()) {
            case QTextListFormat::ListStyleUndefined: text.append(shown); break;
            case QTextListFormat::ListDisc: text.append(u'\u2022'); break;
            case QTextListFormat::ListCircle: text.append(u'\u25E6'); break;
            case QTextListFormat::ListSquare: text.append(u'\u25AA'); break;
            default: text.append(list->itemText(block)); break;
            }
            text.append(u'\t');
        }
        QString blockText = block.text();
        blockText.replace(QChar::LineSeparator, u'\n');
        blockText.replace(QChar::Nbsp, u' ');
        text.append(blockText);
    }
    text.remove(QChar(QChar::ObjectReplacementCharacter));
    return text;
}

QString detail::newImageName()
{
    static std::atomic<quint64> counter{0};
    return QStringLiteral("rtfimage:%1").arg(++counter);
}

} // namespace Rtf
