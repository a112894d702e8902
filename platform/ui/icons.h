#pragma once
// Icons by their freedesktop names, with a standard style icon where the theme has none.

#include <QIcon>
#include <QStyle>

namespace Icons {
// Makes the installed freedesktop themes findable when the desktop set no theme of its own.
void setUpTheme();
QIcon themed(const QString &name, QStyle::StandardPixmap fallback = QStyle::SP_CustomBase);
} // namespace Icons
