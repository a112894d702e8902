#include "errorstyles.h"

#include "messagebox.h"

void ReportError(const AppError &error, QWidget *owner)
{
    MsgBox(error.description(), MsgButtons::OK, MsgIcon::Critical,
           QStringLiteral("Error: %1").arg(error.number()), owner);
}

bool TrapAndReport(QWidget *owner, std::initializer_list<Step> steps)
{
    try {
        for (const Step &step : steps)
            step();
        return true;
    } catch (...) {
        ReportError(AppError::fromCurrentException(), owner);
        return false;
    }
}

AskWording DefaultAskWording()
{
    return {[](const AppError &e) { return e.description(); },
            [](const AppError &e) { return QString::number(e.number()); }};
}

bool TrapAndAsk(QWidget *owner, std::initializer_list<Step> steps, const AskWording &wording)
{
    for (const Step &step : steps) {
        for (;;) {
            try {
                step();
                break;
            } catch (...) {
                const AppError error = AppError::fromCurrentException();
                if (error.isCancel())
                    return false;
                const MsgResult answer = MsgBox(wording.prompt(error), MsgButtons::AbortRetryIgnore,
                                                MsgIcon::Critical, wording.title(error), owner);
                if (answer == MsgResult::Retry)
                    continue;
                if (answer == MsgResult::Ignore)
                    break;
                return false;
            }
        }
    }
    return true;
}

int TrapAndSkip(std::initializer_list<Step> steps)
{
    int failed = 0;
    for (const Step &step : steps) {
        try {
            step();
        } catch (...) {
            ++failed;
        }
    }
    return failed;
}
