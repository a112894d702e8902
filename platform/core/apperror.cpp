#include "apperror.h"

AppError::AppError(int number, QString description)
    : m_number(number)
    , m_description(std::move(description))
    , m_what(m_description.toUtf8())
{
}

AppError AppError::objectAbsent()
{
    return AppError(ObjectAbsent, QStringLiteral("Object variable not set"));
}

AppError AppError::cancelled()
{
    return AppError(Cancelled, QStringLiteral("Cancel was selected."));
}

AppError AppError::fromCurrentException()
{
    try {
        throw;
    } catch (const AppError &e) {
        return e;
    } catch (const std::exception &e) {
        return AppError(Internal, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        return AppError(Internal, QStringLiteral("Unexpected failure"));
    }
}
