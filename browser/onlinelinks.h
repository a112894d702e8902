#pragma once
// The browser's Online menu: fixed links into the publisher's web site. Each entry opens the
// publisher's address, "/" and its page path (letter case kept).

#include <QList>

namespace OnlineLinks {

struct Link
{
    const char *name;    // object name of the menu entry
    const char *caption;
    const char *path;    // page path on the publisher's site; "" is the site's root
    bool enabled = true; // a disabled entry has no command
};

// The menu's own entries, in order (the submenus and separators sit between them).
const QList<Link> &pages();        // product page .. support/feedback
const QList<Link> &databaseTrials(); // "&Database Trial Downloads", 5 entries, one disabled
const QList<Link> &javaDemos();    // "&Java Demo Downloads", 7 entries
const QList<Link> &freePrograms(); // "Free Downlo&ads", 6 entries
const Link &freeDownloadsPage();
const QList<Link> &news();         // "Today's &News"
const Link &friendSearch();

// The trial installer the about box advertises (also the first database trial).
inline constexpr const char *AdvertisedTrialPath = "trials/tarnbase/tarnbase-personal-3.2-setup.run";

} // namespace OnlineLinks
