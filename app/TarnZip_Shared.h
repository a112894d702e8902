#pragma once
// Routines shared by the windows.

#include <QString>

namespace TarnZip_Shared {
// The folder that holds the program file, always ending with one "/" ("/" stays "/").
QString AppPath();
} // namespace TarnZip_Shared
