#include "services.h"

#include "components.h"
#include "qtservices.h"
#include "registry/fileregistry.h"

Services::Services() = default;

Services &Services::instance()
{
    static Services services;
    return services;
}

void Services::installQtDefaults()
{
    static QtMessageBoxes messages;
    static QtDialogs dialogs;
    static QtDesktop desktop;
    static PluginComponentFactory components;
    static FileRegistry registry;
    setMessages(&messages);
    setDialogs(&dialogs);
    setDesktop(&desktop);
    setComponents(&components);
    setRegistry(&registry);
}

void Services::setMessages(MessageBoxBackend *backend) { m_messages = backend; }
void Services::setDialogs(DialogBackend *backend) { m_dialogs = backend; }
void Services::setDesktop(DesktopBackend *backend) { m_desktop = backend; }
void Services::setComponents(ComponentFactory *factory) { m_components = factory; }
void Services::setRegistry(RegistryBackend *backend) { m_registry = backend; }
