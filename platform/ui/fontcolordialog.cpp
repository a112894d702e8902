#include "fontcolordialog.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

FontColorDialog::FontColorDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("FontColorDialog"));
    setWindowTitle(tr("Font"));

    m_fonts = new QFontDialog(this);
    m_fonts->setObjectName(QStringLiteral("fonts"));
    m_fonts->setWindowFlags(Qt::Widget);
    m_fonts->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);

    m_colorButton = new QPushButton(this);
    m_colorButton->setObjectName(QStringLiteral("color"));
    m_colorButton->setMinimumWidth(120);
    connect(m_colorButton, &QPushButton::clicked, this, &FontColorDialog::chooseColor);
    auto *colourLabel = new QLabel(tr("&Colour:"), this);
    colourLabel->setBuddy(m_colorButton);

    auto *colourRow = new QHBoxLayout;
    colourRow->addWidget(colourLabel);
    colourRow->addWidget(m_colorButton);
    colourRow->addStretch();

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_fonts);
    layout->addLayout(colourRow);
    layout->addWidget(buttons);
    setColor(m_color);
}

QFont FontColorDialog::selectedFont() const
{
    return m_fonts->currentFont();
}

void FontColorDialog::setSelectedFont(const QFont &font)
{
    m_fonts->setCurrentFont(font);
}

void FontColorDialog::setColor(const QColor &color)
{
    m_color = color.isValid() ? color : QColor(Qt::black);
    QPixmap swatch(28, 14);
    swatch.fill(m_color);
    QPainter(&swatch).drawRect(swatch.rect().adjusted(0, 0, -1, -1));
    m_colorButton->setIcon(QIcon(swatch));
    m_colorButton->setText(m_color.name());
}

void FontColorDialog::chooseColor()
{
    const QColor chosen = QColorDialog::getColor(m_color, this, tr("Colour"));
    if (chosen.isValid())
        setColor(chosen);
}
