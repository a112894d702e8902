// parcelo-regcomp: records a component library in the per-user component registry so that
// Parcelo can create it by its identifier.
//
//   parcelo-regcomp [-s] [-u] LIBRARY
//     -s  silent: print nothing, report only through the exit status
//     -u  remove the library's record instead of adding it

#include "components.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    bool silent = false;
    bool unregister = false;
    QString library;
    const QStringList args = app.arguments().mid(1);
    for (const QString &arg : args) {
        if (arg == QLatin1String("-s") || arg == QLatin1String("/s"))
            silent = true;
        else if (arg == QLatin1String("-u") || arg == QLatin1String("/u"))
            unregister = true;
        else if (library.isEmpty())
            library = arg;
    }
    if (library.isEmpty()) {
        if (!silent)
            std::fprintf(stderr, "usage: parcelo-regcomp [-s] [-u] LIBRARY\n");
        return 2;
    }

    QString error;
    if (unregister) {
        if (!ComponentRegistry::unregisterLibrary(library, &error)) {
            if (!silent)
                std::fprintf(stderr, "parcelo-regcomp: %s\n", qPrintable(error));
            return 1;
        }
        if (!silent)
            std::printf("Unregistered %s\n", qPrintable(library));
        return 0;
    }
    const QString progId = ComponentRegistry::registerLibrary(library, &error);
    if (progId.isEmpty()) {
        if (!silent)
            std::fprintf(stderr, "parcelo-regcomp: %s\n", qPrintable(error));
        return 1;
    }
    if (!silent)
        std::printf("Registered %s as %s\n", qPrintable(library), qPrintable(progId));
    return 0;
}
