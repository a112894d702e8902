#pragma once
// What the program is asked to do on its command line, read before any window or display
// exists (so --help and --version work anywhere):
//   parcelo [PATH...]                             the splash, then the main window, PATH chosen
//   parcelo --zip [PATH...] [--to FOLDER]         that command at once; the program then ends
//   parcelo --unzip [FILE] [--to FOLDER]
//   parcelo --zip-and-mail [PATH...]              zip, then the mail window with the archive
// A PATH is a file or a folder; a folder or several paths make one archive of them all.
//   (--replace with a zip: an archive already there is replaced instead of kept beside the new one)
//   parcelo --help | --version
// Without FILE the commands start with the file dialog, as their menu entries do.

#include <QString>
#include <QStringList>

struct CommandLine
{
    enum class Action { Start, Zip, Unzip, ZipAndMail, Help, Version, Invalid };
    // Exit statuses: the command worked; it failed (after its message box); the command line
    // itself was wrong (nothing was shown).
    enum Status { Done = 0, Failed = 1, UsageError = 2 };

    Action action = Action::Start;
    // The file named, as an absolute path; empty when none was named. When a folder or several
    // paths were named, the first of them.
    QString file;
    // A folder or several files and folders named for one archive, as absolute paths; empty
    // when one file (or nothing) was named.
    QStringList items;
    // --to: absolute, without a trailing separator (except "/"); empty for the file's own folder.
    QString folder;
    // --replace: a zip replaces an archive of the same name; without it both are kept.
    bool replace = false;
    // Help: the help text. Version: "Parcelo 1.0.20". Invalid: the error, on one line.
    QString text;
    // Why the file or the folder named cannot be used (missing, a folder, unreadable...);
    // empty when both can.
    QString problem;

    // arguments[0] is the program itself.
    static CommandLine parse(const QStringList &arguments);
    // Why `path` cannot be zipped or unzipped, as a sentence naming it; empty when it can.
    static QString problemWithFile(const QString &path);
    // Why `path` cannot go into an archive of several items or a folder; empty when it can.
    static QString problemWithItem(const QString &path);
};
