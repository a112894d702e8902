#pragma once
// A font dialog that also picks the text colour: Qt's own font chooser with a colour row
// under it, as the editor's "Font" command needs (face, size, styles, effects and colour).

#include <QDialog>

class QFontDialog;
class QPushButton;

class FontColorDialog : public QDialog
{
    Q_OBJECT

public:
    explicit FontColorDialog(QWidget *parent = nullptr);

    QFont selectedFont() const;
    void setSelectedFont(const QFont &font);
    QColor color() const { return m_color; }
    void setColor(const QColor &color);

private:
    void chooseColor();

    QFontDialog *m_fonts;
    QPushButton *m_colorButton;
    QColor m_color = Qt::black;
};
