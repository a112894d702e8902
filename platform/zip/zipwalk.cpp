#include "zipwalk.h"

#include "fsutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace pnvzip {

void TreeList::leaveOut(std::string name, QString reason)
{
    ++leftOutCount;
    if (leftOut.size() < MaxNamedLeftOut)
        leftOut.push_back(LeftOut{std::move(name), std::move(reason)});
}

namespace {

QString kindText(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    return QStringLiteral("not a file, folder or link");
}

class Walker
{
public:
    Walker(const std::vector<FileId> &skip, TreeList *list) : m_skip(skip), m_list(list) {}

    // Takes in the item `leaf` of the folder `dirFd` under the entry name `name` (without
    // a folder's trailing '/'), described by `st`.
    void take(int dirFd, const char *leaf, std::string name, const struct stat &st, uint32_t root)
    {
        for (const FileId &id : m_skip) {
            if (id.device == st.st_dev && id.inode == st.st_ino)
                return; // the archive itself
        }
        TreeItem item;
        item.root = root;
        item.mode = uint32_t(st.st_mode);
        item.mtime = int64_t(st.st_mtime);
        std::string target;
        if (S_ISREG(st.st_mode)) {
            item.kind = TreeItem::File;
            item.size = uint64_t(st.st_size);
        } else if (S_ISLNK(st.st_mode)) {
            item.kind = TreeItem::Link;
            target.resize(size_t(std::max<off_t>(st.st_size, 0)) + 256);
            for (;;) {
                const ssize_t n = ::readlinkat(dirFd, leaf, target.data(), target.size());
                if (n < 0) {
                    m_list->leaveOut(std::move(name), errnoText(errno));
                    return;
                }
                if (size_t(n) < target.size()) {
                    target.resize(size_t(n));
                    break;
                }
                target.resize(target.size() * 2);
            }
            item.size = target.size();
        } else if (S_ISDIR(st.st_mode)) {
            item.kind = TreeItem::Folder;
            name += '/';
        } else {
            m_list->leaveOut(std::move(name), kindText(st.st_mode));
            return;
        }
        UniqueFd folder;
        if (item.kind == TreeItem::Folder) {
            folder.reset(::openat(dirFd, leaf, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!folder.valid()) {
                name.pop_back();
                m_list->leaveOut(std::move(name), errnoText(errno));
                return;
            }
        }
        item.nameAt = m_list->names.size();
        item.nameLength = uint32_t(name.size());
        item.targetLength = uint32_t(target.size());
        m_list->names += name;
        m_list->names += target;
        if (item.kind == TreeItem::File)
            m_list->fileBytes += item.size;
        const size_t index = m_list->items.size();
        m_list->items.push_back(item);
        if (item.kind == TreeItem::Folder && !list(folder.get(), name, root)) {
            // A folder that cannot be listed is left out whole, its entry too.
            m_list->items.erase(m_list->items.begin() + qsizetype(index), m_list->items.end());
            m_list->names.resize(item.nameAt);
            name.pop_back();
            m_list->leaveOut(std::move(name), errnoText(m_listError));
        }
    }

private:
    // Takes in everything the folder `fd` holds, sorted by name; false (m_listError set)
    // when it cannot be read.
    bool list(int fd, const std::string &prefix, uint32_t root)
    {
        const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        DIR *dir = copy < 0 ? nullptr : ::fdopendir(copy);
        if (!dir) {
            m_listError = errno;
            if (copy >= 0)
                ::close(copy);
            return false;
        }
        std::vector<std::string> leaves;
        errno = 0;
        while (const dirent *e = ::readdir(dir)) {
            const std::string_view leaf(e->d_name);
            if (leaf != "." && leaf != "..")
                leaves.emplace_back(leaf);
            errno = 0;
        }
        const int readError = errno;
        ::closedir(dir);
        if (readError) {
            m_listError = readError;
            return false;
        }
        std::sort(leaves.begin(), leaves.end());
        for (const std::string &leaf : leaves) {
            struct stat st{};
            if (::fstatat(fd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno != ENOENT) // gone meanwhile: nothing to name
                    m_list->leaveOut(prefix + leaf, errnoText(errno));
                continue;
            }
            take(fd, leaf.c_str(), prefix + leaf, st, root);
        }
        return true;
    }

    const std::vector<FileId> &m_skip;
    TreeList *m_list;
    int m_listError = 0;
};

} // namespace

bool walkTree(const QStringList &paths, const std::vector<FileId> &skip, TreeList *list, QString *problem)
{
    Walker walker(skip, list);
    std::set<QString> names;
    for (const QString &given : paths) {
        const QString path = QDir::cleanPath(QFileInfo(given).absoluteFilePath());
        const QString leaf = QFileInfo(path).fileName();
        if (leaf.isEmpty()) {
            *problem = QStringLiteral("“%1” cannot be zipped: it has no name of its own. Zip what it holds instead.").arg(path);
            return false;
        }
        if (!names.insert(leaf).second) {
            *problem = QStringLiteral("Two of the items to zip are called “%1”; an archive can hold only one of them. "
                                      "Zip them separately.")
                           .arg(leaf);
            return false;
        }
        const QString parent = QFileInfo(path).path();
        UniqueFd dirFd(::open(QFile::encodeName(parent).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const QByteArray leafBytes = QFile::encodeName(leaf);
        struct stat st{};
        if (!dirFd.valid() || ::fstatat(dirFd.get(), leafBytes.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            const int err = errno;
            *problem = err == ENOENT || err == ENOTDIR
                           ? QStringLiteral("“%1” does not exist.").arg(path)
                           : QStringLiteral("“%1” cannot be read: %2.").arg(path, errnoText(err));
            return false;
        }
        list->parents.push_back(QFile::encodeName(parent).toStdString());
        if (list->parents.back() == "/")
            list->parents.back().clear(); // path() adds the separator
        walker.take(dirFd.get(), leafBytes.constData(), leafBytes.toStdString(), st, uint32_t(list->parents.size() - 1));
    }
    return true;
}

} // namespace pnvzip
