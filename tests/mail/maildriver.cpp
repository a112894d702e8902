// Opens the mail window the way the program does, for driving it under a real X server
// (e2e_mail.sh). While it runs it writes the status box and the attachment rows to the state
// file, one line each ("status=...", "row=name|path|type|encoding"). The program ends when the
// window is closed, after the window has saved its settings.
//   maildriver --program-folder DIR --state FILE --ca-certificates FILE

#include "appinfo.h"
#include "frmMail.h"
#include "icons.h"
#include "programfolder.h"
#include "services.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTimer>
#include <QTreeWidget>

namespace {

void writeState(const QString &path)
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
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
        file.commit();
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppInfo::title());
    QApplication::setOrganizationName(QStringLiteral("Orvanne"));
    Icons::setUpTheme();
    Services::instance().installQtDefaults();

    QCommandLineParser parser;
    parser.addOption({QStringLiteral("program-folder"), QStringLiteral("The program's folder."), QStringLiteral("folder")});
    parser.addOption({QStringLiteral("state"), QStringLiteral("File the window's state is written to."),
                      QStringLiteral("file")});
    parser.process(app);
    if (parser.isSet(QStringLiteral("program-folder")))
        ProgramFolder::setOverride(parser.value(QStringLiteral("program-folder")));

    frmMail::open();

    QTimer state;
    if (parser.isSet(QStringLiteral("state"))) {
        const QString path = parser.value(QStringLiteral("state"));
        QObject::connect(&state, &QTimer::timeout, [path] { writeState(path); });
        state.start(100);
    }
    return app.exec();
}
