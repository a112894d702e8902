#include "onlinelinks.h"

namespace OnlineLinks {

const QList<Link> &pages()
{
    static const QList<Link> links{
        {"mnuProduct", "Product &Page", "parcelo.htm"},
        {"mnuPublisher", "Publisher &Home", ""},
        {"mnuCatalog", "Publisher &Catalog", "catalog.htm"},
        {"mnuStore", "Publisher &Store", "store.htm"},
        {"mnuFeedback", "Support/&Feedback", "Feedback.htm"},
    };
    return links;
}

const QList<Link> &databaseTrials()
{
    static const QList<Link> links{
        {"mnuTrialTarnBasePersonal", "TarnBase Personal 3.2 (11MB)", AdvertisedTrialPath},
        {"mnuTrialTarnBaseWorkgroup", "TarnBase Workgroup 3.2 (14MB)",
         "trials/tarnbase/tarnbase-workgroup-3.2-setup.run"},
        {"mnuTrialInventory", "Tarn Inventory Keeper 2.0 (8.4MB)",
         "trials/inventory/tarn-inventory-2.0-setup.run"},
        {"mnuTrialContacts", "Tarn Contacts Organizer 1.5 (3.1MB)",
         "trials/contacts/tarn-contacts-1.5-setup.run"},
        {"mnuTrialTarnBaseServer", "TarnBase Server 4.0 - coming soon (22MB)",
         "trials/tarnbase/tarnbase-server-4.0-setup.run", false},
    };
    return links;
}

const QList<Link> &javaDemos()
{
    static const QList<Link> links{
        {"mnuJavaChess", "Tarn Pocket Chess Demo (1.2MB)", "java/chess/tarn-chess-demo.jar"},
        {"mnuJavaClock", "Tarn World Clock Demo (420KB)", "java/clock/tarn-worldclock-demo.jar"},
        {"mnuJavaNotes", "Tarn Sticky Notes Demo (860KB)", "java/notes/tarn-notes-demo.jar"},
        {"mnuJavaChart", "Tarn Chart Maker Demo (2.3MB)", "java/chart/tarn-chartmaker-demo.jar"},
        {"mnuJavaLoan", "Tarn Loan Calculator Demo (310KB)", "java/loan/tarn-loancalc-demo.jar"},
        {"mnuJavaPictures", "Tarn Picture Viewer Demo (1.6MB)", "java/pictures/tarn-picview-demo.jar"},
        {"mnuJavaChat", "Tarn Chat Room Demo (540KB)", "java/chat/tarn-chatroom-demo.jar"},
    };
    return links;
}

const QList<Link> &freePrograms()
{
    static const QList<Link> links{
        {"mnuFreeNotepad", "Tarn Notepad Lite (1.8MB)", "free/notepad/tarn-notepad-lite-setup.run"},
        {"mnuFreeRuler", "Tarn Screen Ruler (650KB)", "free/ruler/tarn-screenruler-setup.run"},
        {"mnuFreeClipboard", "Tarn Clipboard Keeper (1.1MB)", "free/clipboard/tarn-clipkeeper-setup.run"},
        {"mnuFreeColour", "Tarn Colour Picker (720KB)", "free/colour/tarn-colourpicker-setup.run"},
        {"mnuFreeRenamer", "Tarn Batch Renamer (990KB)", "free/renamer/tarn-renamer-setup.run"},
        {"mnuFreeStopwatch", "Tarn Stopwatch (380KB)", "free/stopwatch/tarn-stopwatch-setup.run"},
    };
    return links;
}

const Link &freeDownloadsPage()
{
    static const Link link{"mnuFree", "&Free Downloads Page", "Free_Downloads.htm"};
    return link;
}

const QList<Link> &news()
{
    static const QList<Link> links{
        {"mnuTech", "Technology News (Computer, Internet, ...)", "tech_news.htm"},
        {"mnuEntertain", "Entertainment News (Movies, Games, ...)", "entertainment_news.htm"},
        {"mnuBus", "Business News (Stock Market)", "business_news.htm"},
        {"mnuSports", "Sports News (Golf, Tennis, ...)", "sports_news.htm"},
        {"mnuWorld", "World News (Politics, World Events, ...)", "world_news.htm"},
    };
    return links;
}

const Link &friendSearch()
{
    static const Link link{"mnuFriend", "F&riendSearch Service", "friendsearch.htm"};
    return link;
}

} // namespace OnlineLinks
