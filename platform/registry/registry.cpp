#include "registry.h"

#include "services.h"

#include <QHash>
#include <QMutex>
#include <cstring>

namespace Registry {

namespace {

struct OpenKey
{
    HKEY root;
    QByteArray path;
};

struct HandleTable
{
    QMutex mutex;
    QHash<HKEY, OpenKey> keys;
    HKEY next = 0x1000;
};

HandleTable &handles()
{
    static HandleTable table;
    return table;
}

bool isRoot(HKEY key)
{
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE
           || key == HKEY_USERS || key == HKEY_CURRENT_CONFIG;
}

// "A\\B\\" and "\\A\\B" both mean "A\\B".
QByteArray cleanPath(QByteArray path)
{
    while (path.startsWith('\\'))
        path.remove(0, 1);
    while (path.endsWith('\\'))
        path.chop(1);
    return path;
}

std::optional<OpenKey> resolve(HKEY key)
{
    if (isRoot(key))
        return OpenKey{key, {}};
    HandleTable &table = handles();
    QMutexLocker lock(&table.mutex);
    const auto found = table.keys.constFind(key);
    if (found == table.keys.constEnd())
        return std::nullopt;
    return *found;
}

} // namespace

long RegOpenKeyExA(HKEY hKey, const char *lpSubKey, quint32, quint32, HKEY *phkResult)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = 0;
    const std::optional<OpenKey> parent = resolve(hKey);
    if (!parent)
        return ERROR_INVALID_HANDLE;
    QByteArray path = parent->path;
    const QByteArray sub = cleanPath(QByteArray(lpSubKey ? lpSubKey : ""));
    if (!sub.isEmpty())
        path = path.isEmpty() ? sub : path + '\\' + sub;
    if (!path.isEmpty() && !Services::instance().registry().hasKey(parent->root, path))
        return ERROR_FILE_NOT_FOUND;
    HandleTable &table = handles();
    QMutexLocker lock(&table.mutex);
    const HKEY handle = table.next++;
    table.keys.insert(handle, OpenKey{parent->root, path});
    *phkResult = handle;
    return ERROR_SUCCESS;
}

long RegQueryValueExA(HKEY hKey, const char *lpValueName, quint32 *, quint32 *lpType,
                      unsigned char *lpData, quint32 *lpcbData)
{
    const std::optional<OpenKey> key = resolve(hKey);
    if (!key)
        return ERROR_INVALID_HANDLE;
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    const std::optional<RegistryValue> value = Services::instance().registry().value(
        key->root, key->path, QByteArray(lpValueName ? lpValueName : ""));
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    if (lpType)
        *lpType = value->type;
    const auto needed = static_cast<quint32>(value->data.size());
    if (!lpcbData)
        return ERROR_SUCCESS;
    if (lpData && needed > *lpcbData) {
        *lpcbData = needed;
        return ERROR_MORE_DATA;
    }
    if (lpData && needed > 0)
        std::memcpy(lpData, value->data.constData(), needed);
    *lpcbData = needed;
    return ERROR_SUCCESS;
}

long RegCloseKey(HKEY hKey)
{
    if (isRoot(hKey))
        return ERROR_SUCCESS;
    HandleTable &table = handles();
    QMutexLocker lock(&table.mutex);
    return table.keys.remove(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

} // namespace Registry
