#pragma once
// The four ways a handler deals with an AppError raised by one of its steps:
//   trap and report - show "Error: N" with the description, then end the handler;
//   trap and ask    - ask Abort/Retry/Ignore: Abort ends the handler, Retry runs the failed
//                     step again, Ignore goes on with the next step;
//   trap and skip   - skip the failed step silently and go on with the next one;
//   no trap         - let the error travel to the caller (plain code, no helper).
// A handler lists its steps; the helper applies the style.

#include "apperror.h"

#include <QString>
#include <functional>
#include <initializer_list>

class QWidget;

using Step = std::function<void()>;

// Shows the standard error box: the description, title "Error: " and the number, critical icon.
void ReportError(const AppError &error, QWidget *owner = nullptr);

// Runs the steps in order; on an error shows the error box and stops. True when all steps ran.
bool TrapAndReport(QWidget *owner, std::initializer_list<Step> steps);

// How a trap-and-ask handler words its question; by default the description is the prompt
// and the error number the title.
struct AskWording
{
    std::function<QString(const AppError &)> prompt;
    std::function<QString(const AppError &)> title;
};
AskWording DefaultAskWording();

// Runs the steps in order, asking Abort/Retry/Ignore on each error. A cancel (32755) ends the
// handler silently. Returns false when the handler was aborted or cancelled.
bool TrapAndAsk(QWidget *owner, std::initializer_list<Step> steps,
                const AskWording &wording = DefaultAskWording());

// Runs every step, skipping those that fail. Returns the number of steps that failed.
int TrapAndSkip(std::initializer_list<Step> steps);
