#include "commandline.h"

#include "appinfo.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

// The windowing options that QApplication takes from the same command line: accepted here
// (and left to it) so that "parcelo -style fusion FILE" is not an error.
const char *const QtOptionsWithValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                          "qwindowgeometry", "qwindowicon", "qwindowtitle", "display",
                                          "geometry", "style", "stylesheet", "session", "name", "title"};
const char *const QtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// A file manager may hand over a file:// address instead of a path.
QString absolutePath(const QString &argument)
{
    QString path = argument;
    if (argument.startsWith(QLatin1String("file://"))) {
        const QUrl url(argument);
        if (url.isLocalFile())
            path = url.toLocalFile();
    }
    return path.isEmpty() ? path : QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString quoted(const QString &path)
{
    return QStringLiteral("\u201c%1\u201d").arg(path);
}

} // namespace

QString CommandLine::problemWithFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("Cannot open %1: there is no such file.").arg(quoted(path));
    if (info.isDir())
        return QStringLiteral("Cannot open %1: it is a folder, and Parcelo zips or unzips one file at a time.")
            .arg(quoted(path));
    if (!info.isFile())
        return QStringLiteral("Cannot open %1: it is not an ordinary file.").arg(quoted(path));
    if (!info.isReadable())
        return QStringLiteral("Cannot open %1: you are not allowed to read it.").arg(quoted(path));
    return {};
}

QString CommandLine::problemWithItem(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return QStringLiteral("Cannot open %1: there is no such file or folder.").arg(quoted(path));
    if (info.isDir() && !info.isSymLink() && !(info.isReadable() && info.isExecutable()))
        return QStringLiteral("Cannot open %1: you are not allowed to read this folder.").arg(quoted(path));
    return {};
}

CommandLine CommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Zips one file into FILE.zip beside it, or unzips one archive into its folder.\n"
                       "A folder becomes FOLDER.zip beside it; several files and folders from one folder\n"
                       "become one archive named after that folder, inside it.\n"
                       "With a FILE alone, the window opens with that file chosen; with --zip, --unzip or\n"
                       "--zip-and-mail the command runs at once and the program ends when its message box\n"
                       "is closed (status 0 after success, 1 after an error). Without FILE these commands\n"
                       "ask for the file first. Settings: ~/.config/Orvanne/Orvanne.ini."));
    const QCommandLineOption zip(QStringLiteral("zip"), QStringLiteral("Zips FILE into FILE.zip (or folders and several files into one archive)."));
    const QCommandLineOption unzip(QStringLiteral("unzip"), QStringLiteral("Unzips the archive FILE."));
    const QCommandLineOption zipAndMail(QStringLiteral("zip-and-mail"),
                                        QStringLiteral("Zips FILE and attaches the archive to a new mail."));
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("Writes into FOLDER (made if missing) instead of FILE's own folder."),
                                QStringLiteral("FOLDER"));
    const QCommandLineOption replace(QStringLiteral("replace"),
                                     QStringLiteral("Replaces an archive of the same name that is already there\n"
                                                    "(without it, the new one is written beside it as \"FILE (2).zip\")."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version."));
    parser.addOptions({zip, unzip, zipAndMail, to, replace, help, version});
    for (const char *name : QtOptionsWithValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char *name : QtFlags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The file or folder to zip (or several) or the archive to unzip (\"--\" "
                                                "before a name that starts with a dash)."),
                                 QStringLiteral("[FILE...]"));

    CommandLine result;
    auto invalid = [](const QString &why) {
        CommandLine refused;
        refused.action = Action::Invalid;
        refused.text = why + QStringLiteral(" See \"parcelo --help\".");
        return refused;
    };
    if (!parser.parse(arguments))
        return invalid(parser.errorText());
    if (parser.isSet(help)) {
        result.action = Action::Help;
        result.text = parser.helpText().replace(QLatin1String("<executable_name>"), QLatin1String("parcelo")).trimmed();
        return result;
    }
    if (parser.isSet(version)) {
        result.action = Action::Version;
        result.text = AppInfo::title() + QLatin1Char(' ') + AppInfo::versionText();
        return result;
    }

    int commands = 0;
    for (const auto &[option, action] : {std::pair{&zip, Action::Zip}, std::pair{&unzip, Action::Unzip},
                                        std::pair{&zipAndMail, Action::ZipAndMail}}) {
        if (parser.isSet(*option)) {
            result.action = action;
            ++commands;
        }
    }
    if (commands > 1)
        return invalid(QStringLiteral("--zip, --unzip and --zip-and-mail cannot be combined."));
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1 && result.action == Action::Unzip)
        return invalid(QStringLiteral("--unzip takes one archive at a time, not %1.").arg(files.size()));
    if (parser.isSet(to) && result.action != Action::Zip && result.action != Action::Unzip)
        return invalid(QStringLiteral("--to goes with --zip or --unzip."));
    if (parser.isSet(replace) && result.action != Action::Zip && result.action != Action::ZipAndMail)
        return invalid(QStringLiteral("--replace goes with --zip or --zip-and-mail."));
    result.replace = parser.isSet(replace);
    if (files.contains(QString()))
        return invalid(QStringLiteral("The file name is empty."));

    if (!files.isEmpty()) {
        result.file = absolutePath(files.first());
        // A folder, or several paths, go into one archive; one file is zipped or unzipped alone.
        if (result.action != Action::Unzip && (files.size() > 1 || QFileInfo(result.file).isDir())) {
            for (const QString &path : files) {
                result.items << absolutePath(path);
                if (result.problem.isEmpty())
                    result.problem = problemWithItem(result.items.last());
            }
        } else {
            result.problem = problemWithFile(result.file);
        }
    }
    if (parser.isSet(to)) {
        const QString folder = parser.value(to);
        if (folder.isEmpty())
            return invalid(QStringLiteral("--to needs a folder."));
        result.folder = absolutePath(folder);
        while (result.folder.size() > 1 && result.folder.endsWith(QLatin1Char('/')))
            result.folder.chop(1);
        const QFileInfo info(result.folder);
        if (result.problem.isEmpty() && info.exists() && !info.isDir())
            result.problem = QStringLiteral("Cannot write into %1: it is a file, not a folder.").arg(quoted(result.folder));
    }
    return result;
}
