#pragma once
// One common dialog object per window: it drives the file, print, font and colour dialogs and
// keeps its properties between uses (a command changes only what it sets). With cancel
// reporting on, a cancel raises AppError 32755 and leaves every property as it was.

#include "services.h"

#include <QColor>
#include <QString>
#include <memory>

class QPrinter;
class QWidget;

class CommonDialog
{
public:
    // Option flags, as the windows pass them.
    enum Flag : int {
        OverwritePrompt = 2,      // save: ask before replacing a file
        PrintSelection = 1,       // print: start with the selection as the range
        PrintNoPageNums = 8,      // print: no page range
        PrintReturnDC = 256,      // print: hand back the printer to print on
        ColorRgbInit = 1,         // colour: start from the current colour
        FontScreenFonts = 1,      // font: screen fonts
        FontPrinterFonts = 2,     // font: printer fonts
        FontEffects = 256,        // font: underline, strike-through and colour
    };

    explicit CommonDialog(QWidget *owner = nullptr);
    ~CommonDialog();
    CommonDialog(const CommonDialog &) = delete;
    CommonDialog &operator=(const CommonDialog &) = delete;

    QString fileName() const { return m_fileName; }
    void setFileName(const QString &name) { m_fileName = name; }
    QString fileTitle() const { return m_fileTitle; }
    // Takes a file as if it had been picked in the open dialog: name, title and folder.
    void takeFile(const QString &fileName) { acceptFile(fileName); }
    QString filter() const { return m_filter; }
    void setFilter(const QString &filter) { m_filter = filter; }
    int filterIndex() const { return m_filterIndex; } // 1-based, as in the filter text's pairs
    void setFilterIndex(int index) { m_filterIndex = index; }
    QString dialogTitle() const { return m_dialogTitle; }
    void setDialogTitle(const QString &title) { m_dialogTitle = title; }
    QString defaultExt() const { return m_defaultExt; }
    void setDefaultExt(const QString &ext) { m_defaultExt = ext; }
    QString initDir() const { return m_initDir; }
    void setInitDir(const QString &dir) { m_initDir = dir; }
    int flags() const { return m_flags; }
    void setFlags(int flags) { m_flags = flags; }
    bool cancelError() const { return m_cancelError; }
    void setCancelError(bool on) { m_cancelError = on; }

    QColor color() const { return m_color; }
    void setColor(const QColor &color) { m_color = color; }
    QString fontName() const { return m_font.name; }
    void setFontName(const QString &name) { m_font.name = name; }
    double fontSize() const { return m_font.size; }
    void setFontSize(double size) { m_font.size = size; }
    bool fontBold() const { return m_font.bold; }
    void setFontBold(bool on) { m_font.bold = on; }
    bool fontItalic() const { return m_font.italic; }
    void setFontItalic(bool on) { m_font.italic = on; }
    bool fontUnderline() const { return m_font.underline; }
    void setFontUnderline(bool on) { m_font.underline = on; }
    bool fontStrikethru() const { return m_font.strikeOut; }
    void setFontStrikethru(bool on) { m_font.strikeOut = on; }

    // The printer set up by the last confirmed print dialog (nullptr before).
    QPrinter *printer() const { return m_printer.get(); }

    void ShowOpen();
    void ShowSave();
    void ShowPrinter();
    void ShowFont();
    void ShowColor();

    // "Text |*.txt; *.rtf" -> {"Text (*.txt *.rtf)"}; "*.*" means every file.
    static QStringList qtFilters(const QString &filter);

private:
    FileDialogRequest fileRequest() const;
    void acceptFile(const std::optional<QString> &chosen);
    void cancelled() const;

    QWidget *m_owner;
    QString m_fileName;
    QString m_fileTitle;
    QString m_filter;
    int m_filterIndex = 1;
    QString m_dialogTitle;
    QString m_defaultExt;
    QString m_initDir;
    QString m_lastFolder; // where the last confirmed file dialog was left
    int m_flags = 0;
    bool m_cancelError = false;
    QColor m_color = Qt::black;
    FontChoice m_font;
    std::unique_ptr<QPrinter> m_printer;
};
