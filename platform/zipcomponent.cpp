#include "zipcomponent.h"

#include "components.h"
#include "services.h"
#include "zip/zipfunctions.h"

#include <memory>

ZipComponent::ZipComponent(ZipFunctions *functions)
    : m_functions(functions)
{
}

std::unique_ptr<ZipComponent> ZipComponent::create()
{
    QObject *object = Services::instance().components().createObject(QString::fromLatin1(ZipComponentProgId));
    auto *functions = qobject_cast<ZipFunctions *>(object);
    if (!functions)
        return nullptr;
    return std::unique_ptr<ZipComponent>(new ZipComponent(functions));
}

namespace {
QString outcome(const ZipResult &result)
{
    if (!result.ok())
        throw AppError(result.number, result.text);
    return result.text;
}
} // namespace

QString ZipComponent::ZipFile(const QString &source, const QString &archive)
{
    return outcome(m_functions->ZipFile(source, archive));
}

QString ZipComponent::UnzipFile(const QString &archive, const QString &folder)
{
    return outcome(m_functions->UnzipFile(archive, folder));
}
