#include "TarnZip_Shared.h"

#include "programfolder.h"

namespace TarnZip_Shared {

QString AppPath()
{
    QString folder = ProgramFolder::path();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

} // namespace TarnZip_Shared
