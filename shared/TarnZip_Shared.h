#pragma once
// Routines shared by the windows.

#include <QString>

class QMenu;

namespace TarnZip_Shared {
// The folder that holds the program file, always ending with one "/" ("/" stays "/").
QString AppPath();

// Opens a page of the publisher's web site in the browser window (created and shown when
// needed): the publisher's address, "/" and the page name ("" gives the site's root). An error
// is shown in the "Error: N" box.
void OpenPublisherPage(const QString &pageName);

// Adds the publisher's pages to an Online menu, as the main window and the editor show them:
// Product Page, Publisher Home, Catalog, Store, Support/Feedback, a separator and Today's News.
void AddPublisherPages(QMenu *menu);
} // namespace TarnZip_Shared
