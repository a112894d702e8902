#pragma once
// The browser window as the other windows reach it. The window and the web engine under it live
// in a plugin of their own, "parcelo-browser.so" beside the program, loaded the first time a
// browser window is asked for: until then the process maps neither the engine's libraries nor
// the OpenGL libraries it draws with. Once loaded, the plugin stays for the life of the process.

#include <QtPlugin>

class QString;
class QWidget;

// What the plugin offers: the one browser window of the application.
class BrowserWindowFactory
{
public:
    virtual ~BrowserWindowFactory() = default;
    // The window, created on first use, shown modeless and brought to the front.
    virtual QWidget *showWindow() = 0;
    // The window if it exists, else nullptr.
    virtual QWidget *existingWindow() = 0;
    // The window's NavigateTo (the window is created when needed). Errors reach the caller.
    virtual void navigateTo(const QString &address) = 0;
};

#define BrowserWindowFactory_iid "com.orvanne.Parcelo.BrowserWindowFactory/1.0"
Q_DECLARE_INTERFACE(BrowserWindowFactory, BrowserWindowFactory_iid)

namespace BrowserWindow {

inline constexpr char LibraryFile[] = "parcelo-browser.so";

// Shows the browser window, loading the plugin first when needed. Raises AppError 91 with the
// reason when the plugin cannot be loaded.
QWidget *show();
// The browser window's NavigateTo, loading the plugin first when needed; errors reach the caller.
void navigateTo(const QString &address);
// The browser window if it exists; never loads the plugin.
QWidget *existing();
// Whether the plugin (and so the web engine) is in the process.
bool isLoaded();

// The engine's helper processes refuse to start as root while their sandbox is on: switches it
// off for root only. Runs before the engine starts.
void allowEngineAsRoot();

} // namespace BrowserWindow
