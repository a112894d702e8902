// Formatting: the four character toggles, alignment, the font and back-colour dialogs, the
// tool-bar buttons that follow the selection, and pictures inserted through the clipboard.

#include "frmEditor.h"

#include "apperror.h"
#include "errorstyles.h"
#include "richtextbox.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QImageReader>


void frmEditor::toggle(const QString &key, std::optional<bool> (RichTextBox::*read)() const,
                       void (RichTextBox::*write)(bool))
{
    TrapAndSkip({
        // A selection that is partly on becomes wholly on.
        [&] { (Rtf->*write)(!(Rtf->*read)().value_or(false)); },
        [&] { m_buttons.value(key)->setChecked((Rtf->*read)().value_or(false)); },
    });
}

void frmEditor::mnuRAL_Click()
{
    TrapAndSkip({[&] { Rtf->setSelAlignment(RichTextBox::AlignLeft); }});
}

void frmEditor::mnuRAC_Click()
{
    TrapAndSkip({[&] { Rtf->setSelAlignment(RichTextBox::AlignCenter); }});
}

void frmEditor::mnuRAR_Click()
{
    TrapAndSkip({[&] { Rtf->setSelAlignment(RichTextBox::AlignRight); }});
}

void frmEditor::mnuRFont_Click()
{
    try {
        frmEditorCD.setFlags(CommonDialog::FontScreenFonts | CommonDialog::FontPrinterFonts
                             | CommonDialog::FontEffects);
        frmEditorCD.ShowFont();
        Rtf->setSelColor(frmEditorCD.color());
        // The choice goes to the selection, or to the typing position, only: the base font, which
        // text without a font of its own follows, stays as it is.
        QFont font = Rtf->baseFont();
        font.setFamily(frmEditorCD.fontName());
        if (frmEditorCD.fontSize() > 0)
            font.setPointSizeF(frmEditorCD.fontSize());
        font.setBold(frmEditorCD.fontBold());
        font.setItalic(frmEditorCD.fontItalic());
        font.setUnderline(frmEditorCD.fontUnderline());
        font.setStrikeOut(frmEditorCD.fontStrikethru());
        Rtf->setSelFont(font);
        Rtf->viewport()->update();
    } catch (...) {
        // A cancel, or any failure, ends the command; what was applied stays.
    }
}

void frmEditor::mnuRBC_Click()
{
    try {
        frmEditorCD.setFlags(CommonDialog::ColorRgbInit);
        frmEditorCD.ShowColor();
        Rtf->setBackColor(frmEditorCD.color());
    } catch (...) {
    }
}

void frmEditor::mnuInsertImage_Click()
{
    TrapAndAsk(this, {
        [&] {
            frmEditorCD.setDialogTitle(QStringLiteral("Pics"));
            frmEditorCD.setFileName(QString());
            frmEditorCD.setFilter(
                QStringLiteral("All picture files |*.ico; *.gif; *.jpeg; *.jpg; *.bmp; *.dib; *.gfif;"));
        },
        [&] { frmEditorCD.ShowOpen(); },
        [&] {
            QImageReader reader(frmEditorCD.fileName());
            reader.setDecideFormatFromContent(true);
            ImageForRtf = reader.read();
            if (ImageForRtf.isNull())
                throw AppError(481, QStringLiteral("Invalid picture: %1").arg(reader.errorString()));
        },
        [&] { QApplication::clipboard()->clear(); },
        [&] { QApplication::clipboard()->setImage(ImageForRtf); },
        [&] { Rtf->paste(); }, // the picture goes in at the caret, replacing the selection
        [&] { ImageForRtf = QImage(); },
    });
}

void frmEditor::Rtf_SelChange()
{
    auto show = [this](const char *key, std::optional<bool> on) {
        TrapAndSkip({[&] { m_buttons.value(QLatin1String(key))->setChecked(on.value_or(false)); }});
    };
    show("Bold", Rtf->selBold());
    show("Italic", Rtf->selItalic());
    show("Underline", Rtf->selUnderline());
    show("Strike Through", Rtf->selStrikeThru());
    const std::optional<int> alignment = Rtf->selAlignment();
    show("Align Left", alignment ? std::optional(*alignment == RichTextBox::AlignLeft) : std::nullopt);
    show("Center", alignment ? std::optional(*alignment == RichTextBox::AlignCenter) : std::nullopt);
    show("Align Right", alignment ? std::optional(*alignment == RichTextBox::AlignRight) : std::nullopt);
}
