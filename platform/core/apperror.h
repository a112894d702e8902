#pragma once
// Errors are values with a number and a description, thrown by a failing step and trapped by
// the handler that ran it (see errorstyles.h for the ways a handler traps them).

#include <QByteArray>
#include <QString>
#include <exception>

class AppError : public std::exception
{
public:
    // Numbers with a meaning of their own to every window.
    static constexpr int ObjectAbsent = 91; // a component or window that should be there is not
    static constexpr int Cancelled = 32755; // the user cancelled a common dialog
    static constexpr int Internal = 51;     // an unexpected failure of the program itself

    AppError(int number, QString description);

    int number() const noexcept { return m_number; }
    const QString &description() const noexcept { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

    bool isCancel() const noexcept { return m_number == Cancelled; }

    static AppError objectAbsent();
    static AppError cancelled();
    // The AppError for whatever is currently being handled in a catch block.
    static AppError fromCurrentException();

private:
    int m_number;
    QString m_description;
    QByteArray m_what;
};
