#include "fileregistry.h"

#include "programfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Registry;

namespace {

QByteArray lowerAscii(const QByteArray &text)
{
    return text.toLower(); // QByteArray::toLower changes ASCII letters only
}

// The text of a quoted REGEDIT4 string starting at text[0] == '"', with \" and \\ undone.
// Returns false when the closing quote is missing; `end` receives the index after it.
bool unquote(const QByteArray &text, qsizetype start, QByteArray &out, qsizetype &end)
{
    out.clear();
    for (qsizetype i = start + 1; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '\\' && i + 1 < text.size()) {
            out.append(text.at(++i));
        } else if (c == '"') {
            end = i + 1;
            return true;
        } else {
            out.append(c);
        }
    }
    return false;
}

std::optional<QByteArray> hexBytes(const QByteArray &list)
{
    QByteArray bytes;
    for (const QByteArray &part : list.split(',')) {
        const QByteArray digits = part.trimmed();
        if (digits.isEmpty())
            continue;
        bool ok = false;
        const uint byte = digits.toUInt(&ok, 16);
        if (!ok || byte > 0xFF || digits.size() > 2)
            return std::nullopt;
        bytes.append(static_cast<char>(byte));
    }
    return bytes;
}

// The data part of a value line (after '='): "text", dword:xxxxxxxx, hex:.., hex(N):..
std::optional<RegistryValue> parseData(const QByteArray &data)
{
    if (data.startsWith('"')) {
        QByteArray text;
        qsizetype end = 0;
        if (!unquote(data, 0, text, end) || !data.mid(end).trimmed().isEmpty())
            return std::nullopt;
        return RegistryValue{REG_SZ, text + '\0'};
    }
    const QByteArray lower = lowerAscii(data);
    if (lower.startsWith("dword:")) {
        bool ok = false;
        const QByteArray digits = data.mid(6).trimmed();
        const quint32 number = digits.toUInt(&ok, 16);
        if (!ok || digits.size() > 8)
            return std::nullopt;
        QByteArray bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
        return RegistryValue{REG_DWORD, bytes};
    }
    quint32 type = REG_BINARY;
    qsizetype listStart = -1;
    if (lower.startsWith("hex:")) {
        listStart = 4;
    } else if (lower.startsWith("hex(")) {
        const qsizetype close = lower.indexOf("):");
        if (close < 0)
            return std::nullopt;
        bool ok = false;
        type = lower.mid(4, close - 4).toUInt(&ok, 16);
        if (!ok)
            return std::nullopt;
        listStart = close + 2;
    } else {
        return std::nullopt;
    }
    const std::optional<QByteArray> bytes = hexBytes(data.mid(listStart));
    if (!bytes)
        return std::nullopt;
    return RegistryValue{type, *bytes};
}

} // namespace

HKEY RegistryData::rootFromName(const QByteArray &name)
{
    const QByteArray upper = name.toUpper();
    if (upper == "HKEY_LOCAL_MACHINE" || upper == "HKLM")
        return HKEY_LOCAL_MACHINE;
    if (upper == "HKEY_CURRENT_USER" || upper == "HKCU")
        return HKEY_CURRENT_USER;
    if (upper == "HKEY_CLASSES_ROOT" || upper == "HKCR")
        return HKEY_CLASSES_ROOT;
    if (upper == "HKEY_USERS" || upper == "HKU")
        return HKEY_USERS;
    if (upper == "HKEY_CURRENT_CONFIG" || upper == "HKCC")
        return HKEY_CURRENT_CONFIG;
    return 0;
}

QByteArray RegistryData::keyId(HKEY root, const QByteArray &path)
{
    QByteArray clean = path;
    while (clean.startsWith('\\'))
        clean.remove(0, 1);
    while (clean.endsWith('\\'))
        clean.chop(1);
    return QByteArray::number(quint64(root), 16) + ':' + lowerAscii(clean);
}

void RegistryData::addKey(HKEY root, const QByteArray &path)
{
    m_keys[keyId(root, path)];
}

void RegistryData::setValue(HKEY root, const QByteArray &path, const QByteArray &name,
                            const RegistryValue &value)
{
    m_keys[keyId(root, path)].insert(lowerAscii(name), value);
}

bool RegistryData::hasKey(HKEY root, const QByteArray &path) const
{
    // A key exists when it was named, or when a key below it was.
    const QByteArray id = keyId(root, path);
    if (m_keys.contains(id))
        return true;
    const QByteArray below = id + '\\';
    for (auto it = m_keys.constBegin(); it != m_keys.constEnd(); ++it) {
        if (it.key().startsWith(below))
            return true;
    }
    return false;
}

std::optional<RegistryValue> RegistryData::value(HKEY root, const QByteArray &path,
                                                 const QByteArray &name) const
{
    const auto key = m_keys.constFind(keyId(root, path));
    if (key == m_keys.constEnd())
        return std::nullopt;
    const auto found = key->constFind(lowerAscii(name));
    if (found == key->constEnd())
        return std::nullopt;
    return *found;
}

RegistryData RegistryData::parse(const QByteArray &text)
{
    RegistryData data;
    HKEY root = 0;
    QByteArray path;

    // Join continued lines first: a line ending in a backslash goes on in the next one.
    QList<QByteArray> lines;
    QByteArray pending;
    for (const QByteArray &raw : text.split('\n')) {
        const QByteArray trimmed = raw.trimmed();
        if (!trimmed.startsWith('[') && trimmed.endsWith('\\')) {
            pending += trimmed.left(trimmed.size() - 1);
            continue;
        }
        lines << pending + trimmed;
        pending.clear();
    }
    if (!pending.isEmpty())
        lines << pending;

    for (const QByteArray &line : std::as_const(lines)) {
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            root = 0;
            if (!line.endsWith(']') || line.startsWith("[-"))
                continue; // a malformed header or a deletion: its values are ignored
            const QByteArray full = line.mid(1, line.size() - 2).trimmed();
            const qsizetype slash = full.indexOf('\\');
            const HKEY parsedRoot = rootFromName(slash < 0 ? full : full.left(slash));
            if (!parsedRoot)
                continue;
            root = parsedRoot;
            path = slash < 0 ? QByteArray() : full.mid(slash + 1);
            data.addKey(root, path);
            continue;
        }
        if (!root)
            continue; // a value outside any key, or the file's header line
        QByteArray name;
        qsizetype afterName = 0;
        if (line.startsWith('@')) {
            afterName = 1;
        } else if (line.startsWith('"')) {
            if (!unquote(line, 0, name, afterName))
                continue;
        } else {
            continue;
        }
        const QByteArray rest = line.mid(afterName).trimmed();
        if (!rest.startsWith('='))
            continue;
        const std::optional<RegistryValue> value = parseData(rest.mid(1).trimmed());
        if (value)
            data.setValue(root, path, name, *value);
    }
    return data;
}

QStringList FileRegistry::systemInfoCandidates()
{
    return {QStringLiteral("hardinfo2"), QStringLiteral("hardinfo"), QStringLiteral("kinfocenter"),
            QStringLiteral("gnome-system-monitor"), QStringLiteral("mate-system-monitor")};
}

RegistryData FileRegistry::builtIn()
{
    RegistryData data;
    for (const QString &program : systemInfoCandidates()) {
        const QString found = QStandardPaths::findExecutable(program);
        if (found.isEmpty())
            continue;
        data.setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH",
                      RegistryValue{REG_SZ, found.toLocal8Bit() + '\0'});
        break;
    }
    return data;
}

const RegistryData &FileRegistry::current()
{
    const QString file = QDir(ProgramFolder::path()).filePath(QString::fromLatin1(FileName));
    const QFileInfo info(file);
    if (info.isFile()) {
        if (!m_loaded || m_loadedFrom != file || m_loadedStamp != info.lastModified()) {
            QFile in(file);
            m_data = in.open(QIODevice::ReadOnly) ? RegistryData::parse(in.readAll()) : RegistryData();
            m_loadedFrom = file;
            m_loadedStamp = info.lastModified();
            m_loaded = true;
        }
    } else {
        // Looked up every time: a program installed meanwhile is found at once.
        m_data = builtIn();
        m_loadedFrom.clear();
        m_loaded = true;
    }
    return m_data;
}

bool FileRegistry::hasKey(HKEY root, const QByteArray &keyPath)
{
    return current().hasKey(root, keyPath);
}

std::optional<RegistryValue> FileRegistry::value(HKEY root, const QByteArray &keyPath,
                                                 const QByteArray &valueName)
{
    return current().value(root, keyPath, valueName);
}
