#pragma once
// Message boxes and input boxes as the windows use them. Without a title they show the
// program's title, "Parcelo".

#include "services.h"

MsgResult MsgBox(const QString &prompt, MsgButtons buttons = MsgButtons::OK,
                 MsgIcon icon = MsgIcon::None, const QString &title = {}, QWidget *owner = nullptr);

// The typed text; empty text when the user cancels.
QString InputBox(const QString &prompt, const QString &title = {}, const QString &defaultText = {},
                 QWidget *owner = nullptr);
