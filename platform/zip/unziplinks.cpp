#include "unziplinks.h"

#include "fsutil.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pnvzip {

bool resolvesInside(const std::string &rootReal, const std::string &absolutePath)
{
    std::string path = absolutePath;
    for (;;) {
        if (char *real = ::realpath(path.c_str(), nullptr)) {
            const std::string r(real);
            std::free(real);
            return r == rootReal || (r.size() > rootReal.size() && r.compare(0, rootReal.size(), rootReal) == 0
                                     && (rootReal == "/" || r[rootReal.size()] == '/'));
        }
        if (errno != ENOENT)
            return false;
        // Only a name that does not exist at all may be stripped: a dangling link
        // could point anywhere.
        struct stat st{};
        if (::lstat(path.c_str(), &st) == 0)
            return false;
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos || slash == 0)
            return false;
        path.resize(slash);
    }
}

bool namesTakenBackAreFolders(int rootFd, const std::string &diskParent, std::string_view target)
{
    // The path from the target folder as the target walks it; the link's own folders are
    // real folders this extraction made or merged into, the target's names are checked
    // when a ".." takes them back.
    struct Name
    {
        std::string_view text;
        bool own; // one of the link's own folders
    };
    std::vector<Name> path;
    for (size_t start = 0; start < diskParent.size();) {
        const size_t slash = std::min(diskParent.find('/', start), diskParent.size());
        path.push_back({std::string_view(diskParent).substr(start, slash - start), true});
        start = slash + 1;
    }
    std::string joined;
    for (size_t start = 0; start <= target.size();) {
        const size_t slash = std::min(target.find('/', start), target.size());
        const std::string_view part = target.substr(start, slash - start);
        start = slash + 1;
        if (part.empty() || part == ".")
            continue;
        if (part != "..") {
            path.push_back({part, false});
            continue;
        }
        if (path.empty())
            return false;
        if (!path.back().own) {
            joined.clear();
            for (const Name &name : path) {
                if (!joined.empty())
                    joined.push_back('/');
                joined.append(name.text);
            }
            struct stat st{};
            if (::fstatat(rootFd, joined.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
                return false;
        }
        path.pop_back();
    }
    return true;
}

std::string makeTemporaryLink(int dir, const std::string &hint, const std::string &target, int *err)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate;
        // Reserve a random name, then put the link there instead of the file.
        UniqueFd reserved = createTempFile(dir, hint, &candidate, err);
        if (!reserved.valid())
            return {};
        reserved.reset();
        ::unlinkat(dir, candidate.c_str(), 0);
        if (::symlinkat(target.c_str(), dir, candidate.c_str()) == 0)
            return candidate;
        if (errno != EEXIST) {
            *err = errno;
            return {};
        }
    }
    *err = EEXIST;
    return {};
}

} // namespace pnvzip
