#pragma once
// Small POSIX helpers shared by the zip and unzip halves of the engine.

#include <QByteArray>
#include <QString>

#include <string>
#include <string_view>
#include <sys/types.h>

struct ZipResult;

namespace pnvzip {

// Owns a file descriptor and closes it when it goes out of scope.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : m_fd(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// The text of an errno value, without touching shared state (strerror is not reentrant).
QString errnoText(int err);

// The process umask, read without changing it (umask(2) would race with other threads).
mode_t processUmask();

// Writes the whole buffer, retrying short writes and EINTR. Returns 0 or an errno value.
int writeAll(int fd, const char *data, size_t size);
// Writes `size` bytes at the file's position; runs of zeros of 64 KiB or more become holes,
// as in disk images: no space taken, the same bytes read back. `*endsInHole` tells whether
// the bytes end in a hole, which only a truncate can place. Returns 0 or an errno value.
int writeWithHoles(int fd, const char *data, size_t size, bool *endsInHole);

// Opens the folder an archive is written in and gives the archive's name within it; a result
// that is not ok says why the archive cannot be written there (the zip writers' first step).
ZipResult openArchiveFolder(const QString &archive, const QString &archiveShown, UniqueFd *dirFd, QByteArray *leaf);
// Then creates the archive's temporary file beside it (named `*tempName`); a result that is not
// ok says why it could not be made.
ZipResult createArchiveTemp(int dirFd, const QByteArray &leaf, const QString &archiveShown, std::string *tempName,
                            UniqueFd *tempFd);

// Creates a new, empty file with a random hidden name inside the folder `dirFd`
// (O_EXCL, never through a link), with the permissions `mode` less the umask. Returns the
// open descriptor (writable whatever the mode) and the chosen name; on failure the
// descriptor is invalid and `err` holds the errno value.
UniqueFd createTempFile(int dirFd, std::string_view hint, std::string *name, int *err, mode_t mode = 0600);

// Renames `from` to `to` inside the folder `dirFd` only if `to` does not exist yet
// (as a file, folder or link). Returns 0 or an errno value (EEXIST when taken).
int renameNoReplace(int dirFd, const char *from, const char *to);

// "1.2 MB", "310 KB", "17 bytes": decimal units, as file managers show them.
QString readableSize(unsigned long long bytes);
// "1,234,567"
QString groupedNumber(unsigned long long n);

} // namespace pnvzip
