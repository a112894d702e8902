#include "fsutil.h"

#include <QLocale>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pnvzip {

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

int UniqueFd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

QString errnoText(int err)
{
    char buffer[256];
    // GNU strerror_r returns a pointer that may or may not be `buffer`.
    const char *text = strerror_r(err, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

mode_t processUmask()
{
    // Linux reports the umask in /proc/self/status ("Umask:\t0022").
    if (FILE *f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                std::fclose(f);
                return mode_t(value & 0777);
            }
        }
        std::fclose(f);
    }
    return 022;
}

int writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        data += n;
        size -= size_t(n);
    }
    return 0;
}

namespace {

bool isAllZero(const char *data, size_t size)
{
    return size > 0 && data[0] == 0 && std::memcmp(data, data + 1, size - 1) == 0;
}

} // namespace

int writeWithHoles(int fd, const char *data, size_t size, bool *endsInHole)
{
    constexpr size_t HoleSlice = 64 * 1024;
    size_t pending = 0; // bytes from `data` not yet written, before `pos`
    size_t pos = 0;
    while (pos < size) {
        const size_t n = std::min(HoleSlice, size - pos);
        if (n == HoleSlice && isAllZero(data + pos, n)) {
            if (pending) {
                if (const int err = writeAll(fd, data + pos - pending, pending))
                    return err;
                pending = 0;
            }
            if (::lseek(fd, off_t(n), SEEK_CUR) < 0)
                return errno;
            *endsInHole = true;
        } else {
            pending += n;
        }
        pos += n;
    }
    if (!pending)
        return 0;
    *endsInHole = false;
    return writeAll(fd, data + size - pending, pending);
}

UniqueFd createTempFile(int dirFd, std::string_view hint, std::string *name, int *err, mode_t mode)
{
    // Keep the hint short so that the temporary name never hits NAME_MAX when the
    // final name is already close to it.
    std::string stem(hint.substr(0, 64));
    for (char &c : stem) {
        if (c == '/')
            c = '_';
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", QRandomGenerator::global()->generate());
        std::string candidate = ".~" + stem + "." + suffix + ".part";
        const int fd = ::openat(dirFd, candidate.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            *name = std::move(candidate);
            *err = 0;
            return UniqueFd(fd);
        }
        if (errno != EEXIST) {
            *err = errno;
            return UniqueFd();
        }
    }
    *err = EEXIST;
    return UniqueFd();
}

int renameNoReplace(int dirFd, const char *from, const char *to)
{
#ifdef SYS_renameat2
    if (::syscall(SYS_renameat2, dirFd, from, dirFd, to, 1u /* RENAME_NOREPLACE */) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
#endif
    // File systems without RENAME_NOREPLACE: a hard link fails atomically on an
    // existing name too.
    if (::linkat(dirFd, from, dirFd, to, 0) != 0)
        return errno;
    ::unlinkat(dirFd, from, 0);
    return 0;
}

QString readableSize(unsigned long long bytes)
{
    if (bytes == 1)
        return QStringLiteral("1 byte");
    if (bytes < 1000)
        return QStringLiteral("%1 bytes").arg(bytes);
    static const char *const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = double(bytes);
    int unit = -1;
    while (value >= 999.95 && unit < 5) {
        value /= 1000.0;
        ++unit;
    }
    // Three significant digits at most: "1.2 MB", "12.5 MB", "310 KB".
    const int decimals = value < 99.95 ? 1 : 0;
    return QStringLiteral("%1 %2").arg(value, 0, 'f', decimals).arg(QLatin1String(units[unit]));
}

QString groupedNumber(unsigned long long n)
{
    QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(qulonglong(n));
}

} // namespace pnvzip
