#pragma once
// The zip component as the windows call it: created by its identifier through the component
// factory, its calls raise AppError with the component's own number and description.

#include "apperror.h"

#include <QString>
#include <functional>
#include <memory>

class ZipFunctions;
struct ZipResult;

class ZipComponent
{
public:
    // The component, or nullptr when it cannot be created.
    static std::unique_ptr<ZipComponent> create();

    // Returns the component's account of what it did.
    QString ZipFile(const QString &source, const QString &archive);
    QString UnzipFile(const QString &archive, const QString &folder);

private:
    explicit ZipComponent(ZipFunctions *functions);
    static ZipResult wait(const std::function<ZipResult()> &call);
    ZipFunctions *m_functions;
};
