// The editor window itself: creation, the primary window, loading and storing the settings.

#include "frmEditor.h"

#include "TarnZip_Shared.h"
#include "appinfo.h"
#include "errorstyles.h"
#include "propertybag.h"
#include "richtextbox.h"
#include "settingsfile.h"
#include "settingslocation.h"
#include "twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QToolBar>

#include <cmath>
#include <optional>

namespace {

frmEditor *thePrimary = nullptr;

const QString SettingsFileName = QStringLiteral("TextEditor.set");

// Colour values are stored as 0x00BBGGRR.
qint32 colorValue(const QColor &color)
{
    return qint32(color.red() | (color.green() << 8) | (color.blue() << 16));
}

QColor colorFromValue(qint32 value)
{
    return QColor(value & 0xff, (value >> 8) & 0xff, (value >> 16) & 0xff);
}

qint16 windowStateValue(Qt::WindowStates state)
{
    if (state & Qt::WindowMinimized)
        return 1;
    if (state & Qt::WindowMaximized)
        return 2;
    return 0;
}

// A stored position or size in twips as a whole number, or nothing for a value no window can
// have: not a number, infinite, or beyond the 16-bit coordinates of a desktop.
std::optional<int> storedTwips(float value)
{
    constexpr float Limit = float(Twips::fromPixels(32767));
    if (!std::isfinite(value) || value < -Limit || value > Limit)
        return std::nullopt;
    return qRound(value);
}

} // namespace

frmEditor *frmEditor::primary()
{
    if (!thePrimary)
        new frmEditor(true); // registers itself before loading
    return thePrimary;
}

frmEditor *frmEditor::existingPrimary()
{
    return thePrimary;
}

frmEditor *frmEditor::createFurther()
{
    return new frmEditor(false);
}

frmEditor::frmEditor(bool isPrimary)
    : QMainWindow(nullptr)
    , m_isPrimary(isPrimary)
    , frmEditorCD(this)
{
    if (m_isPrimary)
        thePrimary = this;
    setObjectName(m_isPrimary ? QStringLiteral("frmEditor") : QStringLiteral("frmEditorFurther"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(normalCaption());
    resize(Twips::size(9600, 7200));

    Rtf = new RichTextBox(this);
    Rtf->setObjectName(QStringLiteral("Rtf"));
    Rtf->setAccessibleName(QStringLiteral("Document"));
    Rtf->setBaseFont(QFont(QStringLiteral("Verdana"), 12));
    Rtf->setBackColor(Qt::white);
    Rtf->setContextMenuPolicy(Qt::PreventContextMenu);
    Rtf->viewport()->installEventFilter(this);
    setCentralWidget(Rtf);

    // Every dialog of the editor ends its command silently when cancelled.
    frmEditorCD.setCancelError(true);

    setupFileActions();
    setupEditActions();
    setupOnlineActions();
    setupWindowAndHelpActions();
    setupToolBar();
    setupContextMenu();

    connect(Rtf, &QTextEdit::cursorPositionChanged, this, &frmEditor::Rtf_SelChange);
    connect(Rtf, &QTextEdit::selectionChanged, this, &frmEditor::Rtf_SelChange);
    // Formatting that changes under a still caret (commands, undo, redo) shows at once too.
    connect(Rtf->document(), &QTextDocument::contentsChanged, this, &frmEditor::Rtf_SelChange);

    Form_Load();
}

frmEditor::~frmEditor()
{
    if (thePrimary == this)
        thePrimary = nullptr;
}

QString frmEditor::normalCaption()
{
    return QStringLiteral("Text Editor") + QString(17, QLatin1Char(' ')) + AppInfo::publisherUrl();
}

QString frmEditor::AppPath()
{
    return TarnZip_Shared::AppPath();
}

void frmEditor::Form_Load()
{
    PropertyBag bag;
    TrapAndSkip({
        [&] { bag.setContents(SettingsFile::read(SettingsLocation::forReading(SettingsFileName))); },
        [&] { applySettings(bag); },
        // The font dialog opens showing the base font.
        [&] {
            const QFont base = Rtf->baseFont();
            frmEditorCD.setFontSize(base.pointSizeF());
            frmEditorCD.setFontUnderline(base.underline());
            frmEditorCD.setFontStrikethru(base.strikeOut());
            frmEditorCD.setFontBold(base.bold());
            frmEditorCD.setFontItalic(base.italic());
            frmEditorCD.setFontName(base.family());
        },
        [&] { Form_Resize(); },
    });
    frmEditorCD.setColor(Qt::black);
}

void frmEditor::Form_Resize()
{
    // The text area is the window's central widget: the layout gives it the whole client area
    // under the tool bar, and a window too small for it leaves it at its minimum size.
    Rtf->updateGeometry();
}

void frmEditor::closeEvent(QCloseEvent *event)
{
    if (!m_unloaded && !mayDiscardDocument()) {
        event->ignore(); // Cancel, or the save did not happen: the window and its text stay
        return;
    }
    Form_Unload();
    event->accept();
}

void frmEditor::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    PropertyBag bag;
    TrapAndSkip({
        [&] {
            if (windowState() & Qt::WindowMinimized)
                setWindowState(Qt::WindowNoState); // back to the normal state first

        },
        [&] { writeSettings(bag); },
        [&] { SettingsFile::write(SettingsLocation::forWriting(SettingsFileName), bag.contents()); },
    });
    // Unloaded: the next use of the primary window makes a fresh one.
    if (thePrimary == this)
        thePrimary = nullptr;
}

void frmEditor::writeSettings(PropertyBag &bag)
{
    frmEditor *geometry = m_isPrimary ? this : primary();
    TrapAndSkip({
        [&] { bag.writeProperty(QStringLiteral("frmEditorWidth"), float(Twips::fromPixels(geometry->width()))); },
        [&] { bag.writeProperty(QStringLiteral("frmEditorHeight"), float(Twips::fromPixels(geometry->height()))); },
        [&] { bag.writeProperty(QStringLiteral("frmEditorTop"), float(Twips::fromPixels(geometry->y()))); },
        [&] { bag.writeProperty(QStringLiteral("frmEditorLeft"), float(Twips::fromPixels(geometry->x()))); },
        [&] { bag.writeProperty(QStringLiteral("frmEditorWindowState"), qint16(windowStateValue(geometry->windowState()))); },
        [&] { bag.writeProperty(QStringLiteral("rtfBackColor"), colorValue(Rtf->backColor())); },
        [&] { bag.writeProperty(QStringLiteral("rtfTextSize"), Currency::fromDouble(Rtf->baseFont().pointSizeF())); },
        [&] { bag.writeProperty(QStringLiteral("rtfTextUnderline"), Rtf->baseFont().underline()); },
        [&] { bag.writeProperty(QStringLiteral("rtfTextStrikeThrough"), Rtf->baseFont().strikeOut()); },
        [&] { bag.writeProperty(QStringLiteral("rtfTextBold"), Rtf->baseFont().bold()); },
        [&] { bag.writeProperty(QStringLiteral("rtfTextItalic"), Rtf->baseFont().italic()); },
        [&] { bag.writeProperty(QStringLiteral("rtfTextName"), Rtf->baseFont().family()); },
    });
}

void frmEditor::applySettings(const PropertyBag &bag)
{
    // The geometry always goes to the primary window, created unseen when it is not open.
    frmEditor *geometry = m_isPrimary ? this : primary();
    auto withFont = [this](const std::function<void(QFont &)> &change) {
        QFont font = Rtf->baseFont();
        change(font);
        Rtf->setBaseFont(font);
    };
    float f = 0;
    qint16 i16 = 0;
    qint32 i32 = 0;
    Currency size;
    bool b = false;
    QString text;
    TrapAndSkip({
        [&] {
            if (bag.readFloat(QStringLiteral("frmEditorWidth"), &f) && f > 0)
                if (const auto twips = storedTwips(f))
                    geometry->resize(Twips::toPixels(*twips), geometry->height());
        },
        [&] {
            if (bag.readFloat(QStringLiteral("frmEditorHeight"), &f) && f > 0)
                if (const auto twips = storedTwips(f))
                    geometry->resize(geometry->width(), Twips::toPixels(*twips));
        },
        [&] {
            if (bag.readFloat(QStringLiteral("frmEditorTop"), &f))
                if (const auto twips = storedTwips(f))
                    geometry->move(geometry->x(), Twips::toPixels(*twips));
        },
        [&] {
            if (bag.readFloat(QStringLiteral("frmEditorLeft"), &f))
                if (const auto twips = storedTwips(f))
                    geometry->move(Twips::toPixels(*twips), geometry->y());
        },
        [&] {
            if (!bag.readInt16(QStringLiteral("frmEditorWindowState"), &i16))
                return;
            const Qt::WindowStates others = geometry->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
            if (i16 == 1)
                geometry->setWindowState(others | Qt::WindowMinimized);
            else if (i16 == 2)
                geometry->setWindowState(others | Qt::WindowMaximized);
            else if (i16 == 0)
                geometry->setWindowState(others);
        },
        [&] {
            if (bag.readInt32(QStringLiteral("rtfBackColor"), &i32))
                Rtf->setBackColor(colorFromValue(i32));
        },
        [&] {
            // Sizes the text area refuses (none, or beyond 1638 points) are skipped.
            if (bag.readCurrency(QStringLiteral("rtfTextSize"), &size) && size.scaled > 0
                && size.scaled <= 1638 * Currency::Scale)
                withFont([&](QFont &font) { font.setPointSizeF(double(size.scaled) / Currency::Scale); });
        },
        [&] {
            if (bag.readBool(QStringLiteral("rtfTextUnderline"), &b))
                withFont([&](QFont &font) { font.setUnderline(b); });
        },
        [&] {
            if (bag.readBool(QStringLiteral("rtfTextStrikeThrough"), &b))
                withFont([&](QFont &font) { font.setStrikeOut(b); });
        },
        [&] {
            if (bag.readBool(QStringLiteral("rtfTextBold"), &b))
                withFont([&](QFont &font) { font.setBold(b); });
        },
        [&] {
            if (bag.readBool(QStringLiteral("rtfTextItalic"), &b))
                withFont([&](QFont &font) { font.setItalic(b); });
        },
        [&] {
            if (bag.readText(QStringLiteral("rtfTextName"), &text) && !text.trimmed().isEmpty())
                withFont([&](QFont &font) { font.setFamily(text); });
        },
    });
}

bool frmEditor::eventFilter(QObject *watched, QEvent *event)
{
    // The context menu comes up on the right button's press, at the pointer.
    if (watched == Rtf->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton) {
            mnuRClick->popup(mouse->globalPosition().toPoint());
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
