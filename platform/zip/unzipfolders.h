#pragma once
// The folders an extraction meets, as a tree of names, and the pass that gives the folders
// it made their own permissions and times once everything inside them is written.
//
// Guarantees: a folder is found from its parent and its own name, so a path costs its own
// components however deep it lies; the closing pass opens every folder once, from its
// parent's descriptor (never through a link), keeps only a few descriptors open (the
// logarithm of the number of folders), and asks whether to stop every few folders.

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace pnvzip {

// Attributes a folder entry gives the folder it makes, set once everything is inside.
struct FolderAttributes
{
    std::optional<mode_t> mode;
    bool hasTime = false;
    timespec mtime{0, 0};
    timespec atime{0, 0};
};

class FolderTree
{
public:
    // One node per folder path of the archive; node 0 is the target folder.
    struct Node
    {
        uint32_t parent = 0;
        uint32_t same = 0;    // the node of the first path that led to this folder on disk
        std::string disk;     // the name it got on disk in its parent ("b (2)")
        bool renamed = false; // its path on disk differs from the archive's
        bool created = false; // this call made it (on the `same` node)
        bool listed = false;  // its entry is in the report (on the `same` node)
    };

    Node &operator[](uint32_t node) { return m_nodes[node]; }
    const Node &operator[](uint32_t node) const { return m_nodes[node]; }

    // The node of the archive folder `name` in `parent`, or 0 when it has none yet.
    uint32_t find(uint32_t parent, const std::string &name) const;
    // A new node for the archive folder `name` in `parent`, open as `fd` under the name
    // `disk` (made by this call when `created`).
    uint32_t add(uint32_t parent, const std::string &name, std::string disk, bool created, int fd);
    // What a folder entry says of the folder of `node` (a `same` node made by this call).
    void setAttributes(uint32_t node, const FolderAttributes &attributes) { m_attributes[node] = attributes; }

    // Gives every folder this call made its permissions (those of its entry, or all the
    // umask allows; the owner can always list, enter and change it) and its entry's times.
    // False when `stop` answered true; the folders not reached yet keep what they have.
    bool finish(int rootFd, mode_t umask, const std::function<bool()> &stop) const;

private:
    static std::string key(uint32_t parent, const std::string &name);

    std::vector<Node> m_nodes{Node{}};
    std::unordered_map<std::string, uint32_t> m_index;
    // Folders this call made under another path than the archive's, by device and inode.
    std::map<std::pair<dev_t, ino_t>, uint32_t> m_made;
    std::unordered_map<uint32_t, FolderAttributes> m_attributes; // from folder entries
};

} // namespace pnvzip
