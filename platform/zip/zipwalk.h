#pragma once
// The walk over the files and folders a tree zip takes in: every item given, and everything
// under the folders among them, in a fixed order (each folder's items sorted by name, a
// folder's entry before what it holds). Nothing is followed: a symbolic link is an item of
// its own, whatever it points at. What cannot go into an archive is left out and named:
// sockets, pipes and devices, folders that cannot be listed, and the files `skip` names
// (the archive being written, so that it never lands inside itself).
//
// The list is kept compact (one record and one name in a shared block of bytes per item),
// as it is the one part of a tree zip that grows with the number of files.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace pnvzip {

struct TreeItem
{
    enum Kind : uint8_t { File, Folder, Link };
    uint64_t nameAt = 0;   // into TreeList::names: the entry name, then a link's target
    uint32_t nameLength = 0;
    uint32_t targetLength = 0;
    uint32_t root = 0;     // which given path it came from
    uint32_t mode = 0;     // st_mode
    int64_t mtime = 0;
    uint64_t size = 0;     // a file's size when walked; a link's target length
    Kind kind = File;
};

// An item left out of the archive, with why.
struct LeftOut
{
    std::string name; // the entry name it would have had
    QString reason;
};

struct TreeList
{
    std::vector<TreeItem> items;
    std::string names;
    std::vector<std::string> parents; // per given path: its folder, where entry names start
    std::vector<LeftOut> leftOut;     // the first MaxNamedLeftOut of them
    size_t leftOutCount = 0;
    uint64_t fileBytes = 0;           // the sum of the files' sizes

    static constexpr size_t MaxNamedLeftOut = 200;

    std::string_view name(const TreeItem &item) const { return {names.data() + item.nameAt, item.nameLength}; }
    std::string_view target(const TreeItem &item) const
    {
        return {names.data() + item.nameAt + item.nameLength, item.targetLength};
    }
    // The item's path in the file system.
    std::string path(const TreeItem &item) const { return parents[item.root] + '/' + std::string(name(item)); }
    void leaveOut(std::string name, QString reason);
};

struct FileId
{
    dev_t device = 0;
    ino_t inode = 0;
};

// Walks `paths` (absolute or relative, each a file, folder or link). Entry names start at
// each path's own name: "/home/a/Photos" gives "Photos/", "Photos/x.jpg"...; a folder's
// entry name ends with '/'. `skip` holds files never taken in. Fails (returns false with
// `problem` set) only when a given path itself does not exist or two given paths share a
// name; everything else that cannot be taken is left out and named in the list.
bool walkTree(const QStringList &paths, const std::vector<FileId> &skip, TreeList *list, QString *problem);

} // namespace pnvzip
