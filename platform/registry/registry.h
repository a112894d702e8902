#pragma once
// The system registry, read only, as the about box reads it: open a key, query one value into a
// caller's buffer, close the key. Key paths and value names are 8-bit text in the system's code
// page; root keys and results use the registry's own numbers.
//
// The values come from a RegistryBackend held by Services: on Linux the store of
// fileregistry.h, in tests a scripted one.

#include <QByteArray>
#include <QtGlobal>
#include <optional>

namespace Registry {

using HKEY = quintptr;

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;

inline constexpr long ERROR_SUCCESS = 0;
inline constexpr long ERROR_FILE_NOT_FOUND = 2;
inline constexpr long ERROR_INVALID_HANDLE = 6;
inline constexpr long ERROR_INVALID_PARAMETER = 87;
inline constexpr long ERROR_MORE_DATA = 234;

inline constexpr quint32 REG_NONE = 0;
inline constexpr quint32 REG_SZ = 1;
inline constexpr quint32 REG_EXPAND_SZ = 2;
inline constexpr quint32 REG_BINARY = 3;
inline constexpr quint32 REG_DWORD = 4;
inline constexpr quint32 REG_MULTI_SZ = 7;
inline constexpr quint32 REG_QWORD = 11;

inline constexpr quint32 KEY_QUERY_VALUE = 0x0001;
inline constexpr quint32 KEY_ALL_ACCESS = 0xF003F;

// Opens sub-key lpSubKey of hKey (a root key or a key opened before). The store is read only:
// access bits asking for more than reading are accepted, and nothing can be written anyway.
long RegOpenKeyExA(HKEY hKey, const char *lpSubKey, quint32 ulOptions, quint32 samDesired,
                   HKEY *phkResult);

// Reads value lpValueName of an open key. On entry *lpcbData is the size of lpData; on return
// it is the number of bytes written, or the size needed when the buffer was too small
// (ERROR_MORE_DATA, nothing written). lpType receives the value's type.
long RegQueryValueExA(HKEY hKey, const char *lpValueName, quint32 *lpReserved, quint32 *lpType,
                      unsigned char *lpData, quint32 *lpcbData);

long RegCloseKey(HKEY hKey);

} // namespace Registry

// One stored value: its type and its exact bytes (a string value carries its terminating zero
// when it was stored with one).
struct RegistryValue
{
    quint32 type = Registry::REG_NONE;
    QByteArray data;
};

// Where the values come from. Key paths are relative to the root, "\"-separated, and compared
// without regard to ASCII letter case, as the registry does.
class RegistryBackend
{
public:
    virtual ~RegistryBackend() = default;
    virtual bool hasKey(Registry::HKEY root, const QByteArray &keyPath) = 0;
    virtual std::optional<RegistryValue> value(Registry::HKEY root, const QByteArray &keyPath,
                                               const QByteArray &valueName) = 0;
};
