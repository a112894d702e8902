// zipbench: runs the zip component's ZipFile / UnzipFile once, through the very plugin
// file the program loads, and reports the time and throughput.
//
//   zipbench [--plugin PATH] [--progress] zip SOURCE ARCHIVE
//   zipbench [--plugin PATH] [--progress] [--password P] [--names CP] unzip ARCHIVE FOLDER
//
// Without --plugin, pnvzip12.so is loaded from the folder of this executable.
// --progress shows how far the call has come on standard error. --password answers the
// component's password request once; a wrong one is not asked again, so the call fails
// (the password shows in the process list: for tests and measurements, not for secrets).
// --names reads the entry names stored without the UTF-8 mark in the code page CP (CP437,
// CP850, CP866, CP874, CP932, CP936, CP949, CP950, CP1250 to CP1256 or UTF-8) instead of
// the one the component chooses from the names.
// Ctrl+C (SIGINT) or SIGTERM asks the call to stop; it cleans up as after a failure
// (a zip leaves no archive) and a second Ctrl+C ends the program at once.
// Exit status 0 on success; otherwise "Error N: description" on stderr and status 1
// (2 for a usage or loading problem, 130 when stopped by a signal).

#include "ziperrors.h"
#include "zipfunctions.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonObject>
#include <QPluginLoader>

#include <zip.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: zipbench [--plugin PATH] [--progress] zip SOURCE... ARCHIVE\n"
                         "       zipbench [--plugin PATH] [--progress] [--password P] [--names CP] unzip ARCHIVE FOLDER\n");
    return 2;
}

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onStopSignal(int)
{
    stopRequested.store(true);
    // The next one ends the program the ordinary way.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

void catchStopSignals()
{
    struct sigaction action{};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// The command line's answers to the component: progress on standard error, a stop on
// SIGINT, the password given with --password, once, and the code page given with --names.
class CommandLineQuery : public ZipQuery
{
public:
    CommandLineQuery(bool showProgress, std::optional<QByteArray> password, QString codePage)
        : m_showProgress(showProgress), m_password(std::move(password)), m_codePage(std::move(codePage))
    {
        m_sinceShown.start();
    }
    ~CommandLineQuery() override
    {
        if (m_password)
            m_password->fill('\0');
    }

    void progress(qint64 done, qint64 total, const QString &entry) override
    {
        m_total = total;
        // On a terminal one line is rewritten ten times a second; in a log a line a second.
        if (!m_showProgress || (done < total && m_shown && m_sinceShown.elapsed() < (m_terminal ? 100 : 1000)))
            return;
        m_shown = true;
        m_sinceShown.restart();
        const double percent = total > 0 ? 100.0 * double(done) / double(total) : 100.0;
        std::fprintf(stderr, "%s%5.1f%%  %.1f of %.1f MB  %s%s", m_terminal ? "\r" : "", percent,
                     double(done) / 1e6, double(total) / 1e6, qPrintable(entry), m_terminal ? "\033[K" : "\n");
        if (m_terminal && done >= total)
            std::fputc('\n', stderr);
        std::fflush(stderr);
    }

    bool cancelRequested() override { return stopRequested.load(); }

    PasswordAnswer password(const QString &, const QString &, bool wrongBefore, QByteArray *password) override
    {
        if (!m_password || wrongBefore)
            return PasswordAnswer::Unanswered; // there is no one to ask again
        *password = *m_password;
        return PasswordAnswer::Given;
    }

    QString namesCodePage() override { return m_codePage; }

    // The bytes of data the call reported handling in all, -1 before any report.
    qint64 total() const { return m_total; }

    // Ends a progress line cut short by a failure.
    void endLine()
    {
        if (m_shown && m_terminal)
            std::fputc('\n', stderr);
        m_shown = false;
    }

private:
    const bool m_terminal = ::isatty(STDERR_FILENO) == 1;
    bool m_showProgress;
    std::optional<QByteArray> m_password;
    QString m_codePage;
    bool m_shown = false;
    QElapsedTimer m_sinceShown;
    qint64 m_total = -1;
};

// The uncompressed size of everything in an archive, for the throughput figure, where the
// component reports no progress (this reads the archive's whole directory).
unsigned long long uncompressedSize(const QString &archive)
{
    int error = 0;
    zip_t *za = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &error);
    if (!za)
        return 0;
    unsigned long long total = 0;
    const zip_int64_t n = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        if (zip_stat_index(za, zip_uint64_t(i), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE))
            total += st.size;
    }
    zip_discard(za);
    return total;
}

} // namespace

int main(int argc, char *argv[])
{
    readSystemTimeZoneOnce(); // as the program does
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString pluginPath = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("pnvzip12.so"));
    bool showProgress = false;
    std::optional<QByteArray> password;
    QString codePage;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--progress")) {
            showProgress = true;
        } else if ((option == QLatin1String("--plugin") || option == QLatin1String("--password")
                    || option == QLatin1String("--names"))
                   && !args.isEmpty()) {
            const QString value = args.takeFirst();
            if (option == QLatin1String("--plugin"))
                pluginPath = value;
            else if (option == QLatin1String("--names"))
                codePage = value;
            else
                password = value.toUtf8();
        } else {
            return usage();
        }
    }
    const bool several = args.size() > 3 || (args.size() == 3 && QFileInfo(args.at(1)).isDir());
    if (args.size() < 3 || (args.first() != QLatin1String("zip") && args.first() != QLatin1String("unzip"))
        || (args.first() == QLatin1String("unzip") && args.size() != 3))
        return usage();
    // Keep the password out of the process list from now on.
    for (int i = 1; password && i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--password") == 0)
            std::memset(argv[i + 1], 'x', std::strlen(argv[i + 1]));
    }

    QPluginLoader loader(pluginPath);
    auto *functions = qobject_cast<ZipFunctions *>(loader.instance());
    if (!functions) {
        std::fprintf(stderr, "zipbench: cannot load the zip component %s: %s\n", qPrintable(pluginPath),
                     qPrintable(loader.errorString()));
        return 2;
    }
    const QString progId = loader.metaData().value(QStringLiteral("MetaData")).toObject()
                               .value(QStringLiteral("ProgId")).toString();

    const bool zipping = args.first() == QLatin1String("zip");
    const QString first = args.at(1);
    const QString second = args.last();
    const QStringList sources = args.mid(1, args.size() - 2);
    auto *queried = qobject_cast<ZipFunctionsQueried *>(loader.instance());
    if (!queried && (showProgress || password || several || !codePage.isEmpty())) {
        std::fprintf(stderr, "zipbench: the zip component %s reports no progress, asks for no password, "
                             "takes no code page and zips one file only\n",
                     qPrintable(pluginPath));
        return 2;
    }
    CommandLineQuery query(showProgress, password, codePage);
    catchStopSignals();
    QElapsedTimer timer;
    timer.start();
    ZipResult result;
    if (queried && several)
        result = queried->ZipPathsQueried(sources, second, query);
    else if (queried)
        result = zipping ? queried->ZipFileQueried(first, second, query) : queried->UnzipFileQueried(first, second, query);
    else
        result = zipping ? functions->ZipFile(first, second) : functions->UnzipFile(first, second);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (!result.ok()) {
        query.endLine();
        std::fprintf(stderr, "Error %d: %s\n", result.number, qPrintable(result.text));
        return result.number == pnvzip::Cancelled && stopRequested.load() ? 130 : 1;
    }
    const unsigned long long bytes = several            ? (unsigned long long)std::max<qint64>(0, query.total())
                                   : zipping          ? (unsigned long long)QFileInfo(first).size()
                                   : query.total() >= 0 ? (unsigned long long)query.total()
                                                        : uncompressedSize(first);
    std::printf("%s\n", qPrintable(result.text));
    std::printf("%s %s: %.3f s, %.1f MB/s of uncompressed data (%llu bytes)\n", qPrintable(progId),
                several ? "ZipPaths" : zipping ? "ZipFile" : "UnzipFile", seconds,
                seconds > 0 ? double(bytes) / 1e6 / seconds : 0.0, bytes);
    return 0;
}
