#pragma once
// Facts about the program itself: its title, version and the publisher's web address.

#include <QString>

namespace AppInfo {
// "Parcelo", shown as the default title of message boxes.
QString title();
// Version numbers of this release, and "1.0.20" made of them (plain decimal, no padding).
int versionMajor();
int versionMinor();
int versionRevision();
QString versionText();
// Scheme and host of the publisher's web site without a trailing "/". The build sets a default;
// the environment variable PARCELO_PUBLISHER_URL overrides it (tests point it at a local server).
QString publisherUrl();
} // namespace AppInfo
