#include "commondialog.h"

#include "apperror.h"

#include <QDir>
#include <QFileInfo>
#include <QPrinter>

CommonDialog::CommonDialog(QWidget *owner)
    : m_owner(owner)
{
}

CommonDialog::~CommonDialog() = default;

QStringList CommonDialog::qtFilters(const QString &filter)
{
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts.at(i).trimmed();
        QStringList patterns;
        for (const QString &pattern : parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString trimmed = pattern.trimmed();
            if (trimmed.isEmpty())
                continue;
            // On this system a file needs no extension: "*.*" stands for every file.
            patterns << (trimmed == QLatin1String("*.*") ? QStringLiteral("*") : trimmed);
        }
        if (patterns.isEmpty())
            patterns << QStringLiteral("*");
        result << QStringLiteral("%1 (%2)").arg(description.isEmpty() ? patterns.join(QLatin1Char(' '))
                                                                      : description,
                                                patterns.join(QLatin1Char(' ')));
    }
    return result;
}

FileDialogRequest CommonDialog::fileRequest() const
{
    FileDialogRequest request;
    request.owner = m_owner;
    request.title = m_dialogTitle;
    request.filters = qtFilters(m_filter);
    request.filterIndex = qMax(0, m_filterIndex - 1);
    // Start from the file named, else the folder asked for, else where the user was last.
    request.initialPath = !m_fileName.isEmpty() ? m_fileName
                          : !m_initDir.isEmpty() ? m_initDir
                          : !m_lastFolder.isEmpty() ? m_lastFolder
                                                    : QDir::homePath();
    request.defaultSuffix = m_defaultExt;
    request.confirmOverwrite = (m_flags & OverwritePrompt) != 0;
    return request;
}

void CommonDialog::acceptFile(const std::optional<QString> &chosen)
{
    if (!chosen) {
        cancelled();
        return;
    }
    m_fileName = *chosen;
    m_fileTitle = QFileInfo(m_fileName).fileName();
    m_lastFolder = QFileInfo(m_fileName).absolutePath();
}

void CommonDialog::cancelled() const
{
    if (m_cancelError)
        throw AppError::cancelled();
}

void CommonDialog::ShowOpen()
{
    acceptFile(Services::instance().dialogs().openFile(fileRequest()));
}

void CommonDialog::ShowSave()
{
    std::optional<QString> chosen = Services::instance().dialogs().saveFile(fileRequest());
    // A name typed without an extension gets the default one.
    if (chosen && !m_defaultExt.isEmpty() && QFileInfo(*chosen).suffix().isEmpty())
        *chosen += QLatin1Char('.') + m_defaultExt;
    acceptFile(chosen);
}

void CommonDialog::ShowPrinter()
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    PrintRequest request;
    request.owner = m_owner;
    request.printer = printer.get();
    request.pageRangeAllowed = (m_flags & PrintNoPageNums) == 0;
    request.selectionAllowed = (m_flags & PrintSelection) != 0;
    request.selectionPreselected = (m_flags & PrintSelection) != 0;
    if (!Services::instance().dialogs().print(request)) {
        cancelled();
        return;
    }
    m_printer = std::move(printer);
}

void CommonDialog::ShowFont()
{
    FontChoice initial = m_font;
    initial.color = m_color;
    const auto chosen = Services::instance().dialogs().chooseFont(m_owner, initial,
                                                                  (m_flags & FontEffects) != 0);
    if (!chosen) {
        cancelled();
        return;
    }
    m_font = *chosen;
    if ((m_flags & FontEffects) && chosen->color.isValid())
        m_color = chosen->color;
}

void CommonDialog::ShowColor()
{
    const QColor start = (m_flags & ColorRgbInit) ? m_color : QColor(Qt::black);
    const auto chosen = Services::instance().dialogs().chooseColor(m_owner, start);
    if (!chosen) {
        cancelled();
        return;
    }
    m_color = *chosen;
}
