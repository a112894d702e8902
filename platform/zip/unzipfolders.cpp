#include "unzipfolders.h"

#include "fsutil.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pnvzip {

std::string FolderTree::key(uint32_t parent, const std::string &name)
{
    std::string key(sizeof parent + name.size(), '\0');
    std::memcpy(key.data(), &parent, sizeof parent);
    std::memcpy(key.data() + sizeof parent, name.data(), name.size());
    return key;
}

uint32_t FolderTree::find(uint32_t parent, const std::string &name) const
{
    const auto found = m_index.find(key(parent, name));
    return found == m_index.end() ? 0 : found->second;
}

uint32_t FolderTree::add(uint32_t parent, const std::string &name, std::string disk, bool created, int fd)
{
    const auto node = uint32_t(m_nodes.size());
    Node folder;
    folder.parent = parent;
    folder.same = node;
    folder.renamed = m_nodes[parent].renamed || disk != name;
    folder.created = created;
    folder.disk = std::move(disk);
    // Another archive path can lead into a folder this call made only where that folder's
    // path differs from its own archive path ("x (2)/" after "x/" became "x (2)"): only
    // those are noted, and looked for when a path merges into a folder already there.
    struct stat st{};
    if ((created ? folder.renamed : !m_made.empty()) && ::fstat(fd, &st) == 0) {
        if (created) {
            m_made.emplace(std::pair(st.st_dev, st.st_ino), node);
        } else {
            const auto made = m_made.find(std::pair(st.st_dev, st.st_ino));
            if (made != m_made.end())
                folder.same = made->second;
        }
    }
    m_nodes.push_back(std::move(folder));
    m_index.emplace(key(parent, name), node);
    return node;
}

bool FolderTree::finish(int rootFd, mode_t umask, const std::function<bool()> &stop) const
{
    // A folder's permissions and times can be set in any order once the files are in place
    // (the owner keeps every right on each folder): the tree is walked from the top, each
    // folder opened from its parent. The children of a folder are listed, the one with the
    // largest subtree last: a parent's descriptor is closed on the way into its last child,
    // so only the parents of a smaller subtree stay open, halving it each time.
    const auto count = uint32_t(m_nodes.size());
    if (count <= 1)
        return true;
    std::vector<uint32_t> sizes(count, 1);
    std::vector<uint32_t> first(count + 1, 0); // children of n: list[first[n], first[n + 1])
    for (uint32_t n = count; n-- > 1;) {
        sizes[m_nodes[n].parent] += sizes[n]; // a parent comes before its children
        ++first[m_nodes[n].parent + 1];
    }
    for (uint32_t n = 0; n < count; ++n)
        first[n + 1] += first[n];
    std::vector<uint32_t> list(count - 1);
    {
        std::vector<uint32_t> fill(first.begin(), first.end() - 1);
        for (uint32_t n = 1; n < count; ++n)
            list[fill[m_nodes[n].parent]++] = n;
    }
    for (uint32_t n = 0; n < count; ++n) {
        const auto begin = list.begin() + first[n], end = list.begin() + first[n + 1];
        if (begin != end)
            std::iter_swap(std::max_element(begin, end, [&](uint32_t a, uint32_t b) { return sizes[a] < sizes[b]; }),
                           end - 1);
    }
    std::vector<uint32_t>().swap(sizes);

    struct Frame
    {
        uint32_t node;
        UniqueFd fd;
        uint32_t next; // the next child in `list`
    };
    std::vector<Frame> stack;
    stack.push_back({0, UniqueFd(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0)), first[0]});
    if (!stack.back().fd.valid())
        return true;
    unsigned visited = 0;
    while (!stack.empty()) {
        Frame &top = stack.back();
        if (top.next == first[top.node + 1]) {
            stack.pop_back();
            continue;
        }
        const uint32_t child = list[top.next++];
        if (++visited % 64 == 0 && stop())
            return false;
        UniqueFd fd(::openat(top.fd.get(), m_nodes[child].disk.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (top.next == first[top.node + 1])
            stack.pop_back(); // its last child: nothing more is opened from it
        if (!fd.valid())
            continue; // gone or replaced meanwhile: nothing inside it is touched
        const Node &folder = m_nodes[child];
        if (folder.same == child && folder.created) {
            const auto given = m_attributes.find(child);
            const FolderAttributes *entry = given == m_attributes.end() ? nullptr : &given->second;
            mode_t mode = entry && entry->mode ? (*entry->mode & 0777) : 0777;
            mode = (mode & ~umask) | S_IRWXU;
            ::fchmod(fd.get(), mode);
            if (entry && entry->hasTime) {
                const timespec times[2] = {entry->atime, entry->mtime};
                ::futimens(fd.get(), times);
            }
        }
        if (first[child] != first[child + 1])
            stack.push_back({child, std::move(fd), first[child]});
    }
    return true;
}

} // namespace pnvzip
