#pragma once
// The zip component as a Qt plugin: a thin wrapper that hands each call to the engine.

#include "zipfunctions.h"

#include <QObject>

class PnvzipPlugin : public QObject, public ZipFunctions, public ZipFunctionsQueried
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID ZipFunctions_iid FILE "pnvzip.json")
    Q_INTERFACES(ZipFunctions ZipFunctionsQueried)

public:
    ZipResult ZipFile(const QString &source, const QString &archive) override;
    ZipResult UnzipFile(const QString &archive, const QString &folder) override;
    ZipResult ZipFileQueried(const QString &source, const QString &archive, ZipQuery &query) override;
    ZipResult UnzipFileQueried(const QString &archive, const QString &folder, ZipQuery &query) override;
    ZipResult ZipPathsQueried(const QStringList &paths, const QString &archive, ZipQuery &query) override;
};
