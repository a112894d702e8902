#include "pnvzipplugin.h"

#include "zipengine.h"

#include <exception>

namespace {

// No exception leaves the component: the caller only knows ZipResult.
template <typename Call>
ZipResult guarded(Call call)
{
    try {
        return call();
    } catch (const std::bad_alloc &) {
        return ZipResult{pnvzip::InternalError, QStringLiteral("Out of memory.")};
    } catch (const std::exception &e) {
        return ZipResult{pnvzip::InternalError, QStringLiteral("Unexpected failure: %1").arg(QString::fromLocal8Bit(e.what()))};
    }
}

} // namespace

ZipResult PnvzipPlugin::ZipFile(const QString &source, const QString &archive)
{
    return guarded([&] { return pnvzip::zipFile(source, archive); });
}

ZipResult PnvzipPlugin::UnzipFile(const QString &archive, const QString &folder)
{
    return guarded([&] { return pnvzip::unzipFile(archive, folder); });
}

ZipResult PnvzipPlugin::ZipFileQueried(const QString &source, const QString &archive, ZipQuery &query)
{
    return guarded([&] { return pnvzip::zipFile(source, archive, &query); });
}

ZipResult PnvzipPlugin::UnzipFileQueried(const QString &archive, const QString &folder, ZipQuery &query)
{
    return guarded([&] { return pnvzip::unzipFile(archive, folder, &query); });
}

ZipResult PnvzipPlugin::ZipPathsQueried(const QStringList &paths, const QString &archive, ZipQuery &query)
{
    return guarded([&] { return pnvzip::zipPaths(paths, archive, &query); });
}
