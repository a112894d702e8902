#include "icons.h"

#include <QApplication>
#include <QDir>

namespace Icons {

void setUpTheme()
{
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString &path : {QStringLiteral("/usr/share/icons"), QStringLiteral("/usr/local/share/icons")}) {
        if (QDir(path).exists() && !paths.contains(path))
            paths << path;
    }
    QIcon::setThemeSearchPaths(paths);
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor")) {
        for (const QString &theme : {QStringLiteral("Adwaita"), QStringLiteral("breeze")}) {
            if (QDir(QStringLiteral("/usr/share/icons/") + theme).exists()) {
                QIcon::setThemeName(theme);
                break;
            }
        }
    }
}

QIcon themed(const QString &name, QStyle::StandardPixmap fallback)
{
    if (QIcon::hasThemeIcon(name))
        return QIcon::fromTheme(name);
    if (fallback != QStyle::SP_CustomBase)
        return QApplication::style()->standardIcon(fallback);
    return {};
}

} // namespace Icons
