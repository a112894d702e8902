#include "appinfo.h"

#include "buildinfo.h"

namespace AppInfo {

QString title()
{
    return QStringLiteral("Parcelo");
}

int versionMajor() { return BuildInfo::VersionMajor; }
int versionMinor() { return BuildInfo::VersionMinor; }
int versionRevision() { return BuildInfo::VersionRevision; }

QString versionText()
{
    return QStringLiteral("%1.%2.%3").arg(versionMajor()).arg(versionMinor()).arg(versionRevision());
}

QString publisherUrl()
{
    QString url = qEnvironmentVariable("PARCELO_PUBLISHER_URL").trimmed();
    if (url.isEmpty())
        url = QString::fromUtf8(BuildInfo::DefaultPublisherUrl);
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

} // namespace AppInfo
