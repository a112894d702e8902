#include "entrynames.h"

namespace pnvzip {

namespace {

std::vector<std::string_view> splitOn(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find(separator, start);
        const size_t stop = end == std::string_view::npos ? text.size() : end;
        parts.push_back(text.substr(start, stop - start));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return parts;
}

bool isDriveLetter(std::string_view part)
{
    return part.size() >= 2 && part[1] == ':'
           && ((part[0] >= 'A' && part[0] <= 'Z') || (part[0] >= 'a' && part[0] <= 'z'));
}

} // namespace

EntryPath splitEntryName(std::string_view name)
{
    EntryPath result;
    std::string normalised(name);
    for (char &c : normalised) {
        if (c == '\\')
            c = '/';
    }
    const QString shown = QString::fromUtf8(name.data(), qsizetype(name.size()));
    if (!normalised.empty() && normalised.front() == '/') {
        result.problem = QStringLiteral("“%1” has an absolute path").arg(shown);
        result.outside = true;
        return result;
    }
    bool first = true;
    for (std::string_view part : splitOn(normalised, '/')) {
        if (first && isDriveLetter(part)) {
            result.problem = QStringLiteral("“%1” starts with a drive letter").arg(shown);
            result.outside = true;
            result.parts.clear();
            return result;
        }
        first = false;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            result.problem = QStringLiteral("“%1” climbs out of the folder with “..”").arg(shown);
            result.outside = true;
            result.parts.clear();
            return result;
        }
        result.parts.emplace_back(part);
    }
    return result;
}

bool linkTargetStaysInside(std::string_view target, size_t linkDepth, QString *why)
{
    if (target.empty()) {
        *why = QStringLiteral("the link has an empty target");
        return false;
    }
    if (target.find('\0') != std::string_view::npos) {
        *why = QStringLiteral("the link target contains a zero byte");
        return false;
    }
    if (target.front() == '/') {
        *why = QStringLiteral("the link points to the absolute path “%1”")
                   .arg(QString::fromUtf8(target.data(), qsizetype(target.size())));
        return false;
    }
    // Resolved by name alone: each ".." takes back the folder before it, and none may take
    // back more than the link's own folders and the names before it.
    size_t depth = linkDepth;
    for (std::string_view part : splitOn(target, '/')) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (depth == 0) {
                *why = QStringLiteral("the link target “%1” leads out of the folder")
                           .arg(QString::fromUtf8(target.data(), qsizetype(target.size())));
                return false;
            }
            --depth;
            continue;
        }
        ++depth;
    }
    return true;
}

std::string numberedName(std::string_view name, int number)
{
    const std::string tag = " (" + std::to_string(number) + ")";
    const size_t dot = name.rfind('.');
    // A leading dot marks a hidden file, not a suffix; a trailing dot is no suffix either.
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size())
        return std::string(name) + tag;
    return std::string(name.substr(0, dot)) + tag + std::string(name.substr(dot));
}

std::string NumberHints::key(const std::string &folder, const std::string &name)
{
    std::string key;
    key.reserve(folder.size() + 1 + name.size());
    key.append(folder).push_back('\0');
    key.append(name);
    return key;
}

int NumberHints::next(const std::string &folder, const std::string &name)
{
    std::lock_guard lock(m_lock);
    if (m_next.empty())
        return 2;
    const auto found = m_next.find(key(folder, name));
    return found == m_next.end() ? 2 : found->second;
}

void NumberHints::given(const std::string &folder, const std::string &name, int number)
{
    constexpr size_t MaxNames = 4096;
    std::lock_guard lock(m_lock);
    if (m_next.size() >= MaxNames)
        m_next.clear(); // a hint only: names seen again start over from 2
    m_next[key(folder, name)] = number + 1;
}

} // namespace pnvzip
