#include "messagebox.h"

#include "appinfo.h"

namespace {
QString titleOrDefault(const QString &title)
{
    return title.isEmpty() ? AppInfo::title() : title;
}
} // namespace

MsgResult MsgBox(const QString &prompt, MsgButtons buttons, MsgIcon icon, const QString &title,
                 QWidget *owner)
{
    return Services::instance().messages().showMessage(
        {owner, prompt, titleOrDefault(title), icon, buttons});
}

QString InputBox(const QString &prompt, const QString &title, const QString &defaultText,
                 QWidget *owner)
{
    return Services::instance().messages().askText({owner, prompt, titleOrDefault(title), defaultText})
        .value_or(QString());
}
