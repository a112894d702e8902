// Opens the mail window the way the program does, for driving it under a real X server
// (e2e_mail.sh). While it runs it writes the status box and the attachment rows to the state
// file, one line each ("status=...", "row=name|path|type|encoding"). The program ends when the
// window is closed, after the window has saved its settings.
//   maildriver --program-folder DIR --state FILE

#include "frmMail.h"
#include "windowdriver.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTreeWidget>

namespace {

QStringList state()
{
    QStringList lines;
    if (frmMail *mail = frmMail::existing()) {
        lines << QStringLiteral("title=") + mail->windowTitle();
        const auto *status = mail->findChild<QPlainTextEdit *>(QStringLiteral("txtStatus"));
        for (const QString &line : status->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            lines << QStringLiteral("status=") + line;
        const auto *list = mail->findChild<QTreeWidget *>(QStringLiteral("lvwAttachments"));
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *row = list->topLevelItem(i);
            lines << QStringLiteral("row=%1|%2|%3|%4").arg(row->text(0), row->text(1), row->text(2), row->text(3));
        }
    }
    return lines;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    return WindowDriver::run(app, [] { frmMail::open(); }, &state);
}
