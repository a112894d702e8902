#include "richtextbox.h"

#include "apperror.h"
#include "rtf.h"
#include "rtflisttext.h"

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QPrinter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextLayout>
#include <QTextList>
#include <QFileInfo>
#include <QUrl>

#include <memory>

RichTextBox::RichTextBox(QWidget *parent)
    : QTextEdit(parent)
{
    setAcceptRichText(true);
    setAutoFillBackground(true);
    connect(document(), &QTextDocument::contentsChanged, this, [this] { m_listItemTextsValid = false; });
}

namespace {

// Whether a block shows a list text that Qt's list cannot show (Qt draws no number there).
bool showsListItemText(const QTextBlock &block)
{
    const QTextList *list = block.textList();
    return list && Rtf::hasListItemTexts(list->format())
           && block.blockFormat().hasProperty(QTextFormat::ListStyle)
           && block.blockFormat().intProperty(QTextFormat::ListStyle) == QTextListFormat::ListStyleUndefined;
}

// Puts the list texts Qt's lists cannot show into a copy of a document made for printing, as
// text before each item's own. False when there are none.
bool writeListItemTexts(QTextDocument *copy)
{
    Rtf::ListNumbering numbering;
    QList<std::pair<int, QString>> texts;
    for (QTextBlock block = copy->begin(); block.isValid(); block = block.next()) {
        const QString text = numbering.textOf(block);
        if (showsListItemText(block))
            texts.append({block.position(), text + u'\t'});
    }
    for (auto it = texts.crbegin(); it != texts.crend(); ++it) {
        QTextCursor cursor(copy);
        cursor.setPosition(it->first);
        cursor.insertText(it->second);
    }
    return !texts.isEmpty();
}

} // namespace

const QHash<int, QString> &RichTextBox::listItemTexts()
{
    if (!m_listItemTextsValid) {
        m_listItemTexts.clear();
        Rtf::ListNumbering numbering;
        for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
            const QString text = numbering.textOf(block);
            if (!text.isEmpty())
                m_listItemTexts.insert(block.blockNumber(), text);
        }
        m_listItemTextsValid = true;
    }
    return m_listItemTexts;
}

void RichTextBox::paintEvent(QPaintEvent *event)
{
    QTextEdit::paintEvent(event);
    // The visible blocks, in document coordinates; the texts are worked out only when one of
    // them needs its text, and drawn as Qt draws a list's number.
    QTextDocument *doc = document();
    QAbstractTextDocumentLayout *layout = doc->documentLayout();
    const QPoint scrolled(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const QRect exposed = event->rect().translated(scrolled);
    const int first = layout->hitTest(exposed.topLeft(), Qt::FuzzyHit);
    QPainter painter(viewport());
    painter.translate(-scrolled);
    painter.setClipRect(exposed);
    for (QTextBlock block = first >= 0 ? doc->findBlock(first) : doc->begin(); block.isValid(); block = block.next()) {
        const QRectF bounds = layout->blockBoundingRect(block);
        if (bounds.top() > exposed.bottom() && doc->frameAt(block.position()) == doc->rootFrame())
            break;
        if (bounds.bottom() < exposed.top() || !showsListItemText(block))
            continue;
        const QTextLayout *lines = block.layout();
        const QString text = listItemTexts().value(block.blockNumber());
        if (!lines || lines->lineCount() == 0 || text.isEmpty())
            continue;
        const QTextCharFormat charFormat = QTextCursor(block).charFormat();
        QFont font = charFormat.font();
        if (layout->paintDevice())
            font = QFont(font, layout->paintDevice());
        const QFontMetrics metrics(font);
        const Qt::LayoutDirection direction = block.textDirection();
        const QRectF firstLine = lines->lineAt(0).naturalTextRect();
        QPointF at = bounds.topLeft().toPoint() + firstLine.topLeft().toPoint();
        if (direction == Qt::RightToLeft)
            at.rx() += firstLine.width();
        const qreal width = metrics.horizontalAdvance(text);
        const qreal space = metrics.horizontalAdvance(u' ');
        const qreal left = direction == Qt::LeftToRight ? at.x() - space - width : at.x() + space;
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        QBrush foreground = charFormat.foreground();
        if (foreground == Qt::NoBrush)
            foreground = palette().text();
        painter.setPen(QPen(foreground, 0));
        QTextLayout marker(text, font, layout->paintDevice());
        QTextOption option(Qt::AlignLeft | Qt::AlignAbsolute);
        option.setTextDirection(direction);
        marker.setTextOption(option);
        marker.beginLayout();
        QTextLine line = marker.createLine();
        if (line.isValid())
            line.setLeadingIncluded(true);
        marker.endLayout();
        marker.draw(&painter, QPointF(left, at.y()));
        painter.restore();
    }
}

int RichTextBox::selStart() const
{
    return textCursor().selectionStart();
}

void RichTextBox::setSelStart(int position)
{
    QTextCursor cursor = textCursor();
    cursor.setPosition(qBound(0, position, document()->characterCount() - 1));
    setTextCursor(cursor);
}

int RichTextBox::selLength() const
{
    const QTextCursor cursor = textCursor();
    return cursor.selectionEnd() - cursor.selectionStart();
}

void RichTextBox::setSelLength(int length)
{
    QTextCursor cursor = textCursor();
    const int start = cursor.selectionStart();
    cursor.setPosition(start);
    cursor.setPosition(qBound(start, start + length, document()->characterCount() - 1),
                       QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

QString RichTextBox::selText() const
{
    // Paragraph breaks come back as line ends, as in the plain text.
    return textCursor().selection().toPlainText();
}

void RichTextBox::setSelText(const QString &text)
{
    QTextCursor cursor = textCursor();
    cursor.insertText(text);
    setTextCursor(cursor);
}

std::optional<bool> RichTextBox::selFlag(const std::function<bool(const QTextCharFormat &)> &flag) const
{
    const QTextCursor cursor = textCursor();
    const QFont base = document()->defaultFont();
    // A run without a style of its own shows the base font's.
    auto resolved = [&](const QTextCharFormat &format) {
        QTextCharFormat full;
        full.setFont(base);
        full.merge(format);
        return flag(full);
    };
    if (!cursor.hasSelection())
        return resolved(cursor.charFormat());

    std::optional<bool> value;
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    for (QTextBlock block = document()->findBlock(start); block.isValid() && block.position() < end;
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.position() + fragment.length() <= start || fragment.position() >= end)
                continue;
            const bool on = resolved(fragment.charFormat());
            if (value && *value != on)
                return std::nullopt;
            value = on;
        }
    }
    if (!value) // only paragraph breaks selected: the format where the selection starts
        return resolved(cursor.charFormat());
    return value;
}

std::optional<bool> RichTextBox::selBold() const
{
    return selFlag([](const QTextCharFormat &f) { return f.fontWeight() > QFont::Medium; });
}

std::optional<bool> RichTextBox::selItalic() const
{
    return selFlag([](const QTextCharFormat &f) { return f.fontItalic(); });
}

std::optional<bool> RichTextBox::selUnderline() const
{
    return selFlag([](const QTextCharFormat &f) { return f.fontUnderline(); });
}

std::optional<bool> RichTextBox::selStrikeThru() const
{
    return selFlag([](const QTextCharFormat &f) { return f.fontStrikeOut(); });
}

std::optional<int> RichTextBox::selAlignment() const
{
    const QTextCursor cursor = textCursor();
    std::optional<int> value;
    QTextBlock block = document()->findBlock(cursor.selectionStart());
    const QTextBlock last = document()->findBlock(cursor.selectionEnd());
    for (;;) {
        const Qt::Alignment alignment = block.blockFormat().alignment() & Qt::AlignHorizontal_Mask;
        int code = AlignLeft;
        if (alignment & (Qt::AlignRight | Qt::AlignTrailing))
            code = AlignRight;
        else if (alignment & Qt::AlignHCenter)
            code = AlignCenter;
        else if (alignment & Qt::AlignJustify)
            return std::nullopt; // justified text is none of the three
        if (value && *value != code)
            return std::nullopt;
        value = code;
        if (block == last || !block.isValid())
            break;
        block = block.next();
    }
    return value;
}

void RichTextBox::mergeSel(const QTextCharFormat &format)
{
    QTextCursor cursor = textCursor();
    cursor.mergeCharFormat(format);
    mergeCurrentCharFormat(format);
}

void RichTextBox::setSelBold(bool on)
{
    QTextCharFormat format;
    format.setFontWeight(on ? QFont::Bold : QFont::Normal);
    mergeSel(format);
}

void RichTextBox::setSelItalic(bool on)
{
    QTextCharFormat format;
    format.setFontItalic(on);
    mergeSel(format);
}

void RichTextBox::setSelUnderline(bool on)
{
    QTextCharFormat format;
    format.setFontUnderline(on);
    mergeSel(format);
}

void RichTextBox::setSelStrikeThru(bool on)
{
    QTextCharFormat format;
    format.setFontStrikeOut(on);
    mergeSel(format);
}

void RichTextBox::setSelColor(const QColor &color)
{
    QTextCharFormat format;
    format.setForeground(color);
    mergeSel(format);
}

void RichTextBox::setSelFont(const QFont &font)
{
    QTextCharFormat format;
    format.setFontFamilies(QStringList{font.family()});
    if (font.pointSizeF() > 0)
        format.setFontPointSize(font.pointSizeF());
    format.setFontWeight(font.bold() ? QFont::Bold : QFont::Normal);
    format.setFontItalic(font.italic());
    format.setFontUnderline(font.underline());
    format.setFontStrikeOut(font.strikeOut());
    mergeSel(format);
}

void RichTextBox::setSelAlignment(int alignment)
{
    QTextBlockFormat format;
    switch (alignment) {
    case AlignRight: format.setAlignment(Qt::AlignRight | Qt::AlignAbsolute); break;
    case AlignCenter: format.setAlignment(Qt::AlignHCenter); break;
    default: format.setAlignment(Qt::AlignLeft | Qt::AlignAbsolute); break;
    }
    textCursor().mergeBlockFormat(format);
}

QFont RichTextBox::baseFont() const
{
    return document()->defaultFont();
}

void RichTextBox::setBaseFont(const QFont &font)
{
    document()->setDefaultFont(font);
    setFont(font);
}

QColor RichTextBox::backColor() const
{
    return palette().color(QPalette::Base);
}

void RichTextBox::setBackColor(const QColor &color)
{
    QPalette colours = palette();
    colours.setColor(QPalette::Base, color);
    colours.setColor(QPalette::Window, color);
    setPalette(colours);
}

int RichTextBox::find(const QString &text, int start, int end)
{
    if (text.isEmpty())
        return -1;
    const int from = qMax(0, start);
    const QTextCursor found = document()->find(text, from);
    if (found.isNull())
        return -1;
    if (end >= 0 && found.selectionEnd() > end)
        return -1;
    setTextCursor(found);
    return found.selectionStart();
}

void RichTextBox::selPrint(QPrinter *printer) const
{
    const QTextCursor cursor = textCursor();
    if (!cursor.hasSelection()) {
        // List numbers Qt cannot show are printed as text.
        std::unique_ptr<QTextDocument> copy(document()->clone());
        if (writeListItemTexts(copy.get()))
            copy->print(printer);
        else
            document()->print(printer);
        return;
    }
    QTextDocument selection;
    selection.setDefaultFont(document()->defaultFont());
    // Keep the pictures: the fragment refers to them by name in this document's resources.
    QTextCursor into(&selection);
    into.insertFragment(cursor.selection());
    for (QTextBlock block = selection.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (!format.isImageFormat())
                continue;
            const QUrl name(format.toImageFormat().name());
            selection.addResource(QTextDocument::ImageResource, name,
                                  document()->resource(QTextDocument::ImageResource, name));
        }
    }
    writeListItemTexts(&selection);
    selection.print(printer);
}

void RichTextBox::insertPicture(const QImage &image)
{
    QTextCursor cursor = textCursor();
    Rtf::insertImage(cursor, image);
    setTextCursor(cursor);
}

void RichTextBox::loadFile(const QString &path)
{
    const QFileInfo file(path);
    if (path.isEmpty() || !file.exists())
        throw AppError(53, QStringLiteral("File not found: %1").arg(path));
    // The loaded content replaces the whole document; the base font stays the area's own.
    const QFont base = baseFont();
    QString error;
    QStringList lost;
    if (!Rtf::loadFile(path, document(), &error, &lost))
        throw AppError(75, error.isEmpty() ? QStringLiteral("Path/File access error: %1").arg(path) : error);
    m_loadedPath = file.absoluteFilePath();
    m_lostOnSave = lost;
    setBaseFont(base);
    setTextCursor(QTextCursor(document()));
    document()->setModified(false);
}

void RichTextBox::newDocument()
{
    clear();
    m_loadedPath.clear();
    m_lostOnSave.clear();
    document()->setModified(false);
}

void RichTextBox::saveFile(const QString &path)
{
    QString error;
    if (!Rtf::saveFile(path, document(), &error))
        throw AppError(75, error.isEmpty() ? QStringLiteral("Path/File access error: %1").arg(path) : error);
    // The file now holds what the area shows, and nothing more to lose.
    if (isLoadedFile(path))
        m_lostOnSave.clear();
    document()->setModified(false);
}

bool RichTextBox::isLoadedFile(const QString &path) const
{
    if (m_loadedPath.isEmpty() || path.isEmpty())
        return false;
    const QFileInfo target(path);
    const QFileInfo loaded(m_loadedPath);
    return target.exists() && loaded.exists() ? target.canonicalFilePath() == loaded.canonicalFilePath()
                                              : target.absoluteFilePath() == loaded.absoluteFilePath();
}

QStringList RichTextBox::lostBySavingOver(const QString &path) const
{
    return isLoadedFile(path) ? m_lostOnSave : QStringList();
}

namespace {

// What leaves the area (copy, cut, drag, the selection clipboard) as the area's own data would,
// but with a plain text in which pictures leave no mark (the area holds each as U+FFFC). The
// formats are still made only when a reader asks for them.
class TextWithoutPictureMarks : public QMimeData
{
public:
    explicit TextWithoutPictureMarks(QMimeData *own)
        : m_own(own)
    {
    }
    QStringList formats() const override { return m_own->formats(); }
    bool hasFormat(const QString &mimeType) const override { return m_own->hasFormat(mimeType); }

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override
    {
        if (mimeType == QLatin1String("text/plain"))
            return m_own->text().remove(QChar::ObjectReplacementCharacter);
        Q_UNUSED(type);
        return m_own->data(mimeType);
    }

private:
    std::unique_ptr<QMimeData> m_own;
};

} // namespace

QMimeData *RichTextBox::createMimeDataFromSelection() const
{
    return new TextWithoutPictureMarks(QTextEdit::createMimeDataFromSelection());
}

bool RichTextBox::canInsertFromMimeData(const QMimeData *source) const
{
    return source->hasImage() || QTextEdit::canInsertFromMimeData(source);
}

void RichTextBox::insertFromMimeData(const QMimeData *source)
{
    if (source->hasImage() && !source->hasText()) {
        const QImage image = qvariant_cast<QImage>(source->imageData());
        if (!image.isNull()) {
            insertPicture(image);
            return;
        }
    }
    QTextEdit::insertFromMimeData(source);
}
