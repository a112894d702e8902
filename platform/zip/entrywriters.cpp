#include "entrywriters.h"

#include "unzipsecrets.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pnvzip::unzip {

namespace {

// Small files read ahead of the writers, at most.
constexpr size_t MaxQueuedBytes = 8 * 1024 * 1024;
constexpr size_t MaxQueuedFiles = 512;
// What a writer takes from the queue at once (at least one file).
constexpr size_t BatchFiles = 16;
constexpr size_t BatchBytes = 256 * 1024;

} // namespace

WriteJob::~WriteJob()
{
    if (entry.cipher != Cipher::None)
        wipeString(data); // decrypted data
}

EntryWriters::EntryWriters(int rootFd, mode_t umask, QString folderShown)
    : m_root(rootFd), m_umask(umask), m_folderShown(std::move(folderShown))
{
}

EntryWriters::~EntryWriters()
{
    stop(true);
}

bool EntryWriters::roomAgain() const
{
    return m_writeFailure || m_jobs.empty()
        || (m_jobs.size() <= MaxQueuedFiles / 2 && m_queuedBytes <= MaxQueuedBytes / 2);
}

mode_t EntryWriters::fileMode(const Entry &e) const
{
    mode_t mode = e.mode ? (*e.mode & 0777) : (e.dosReadOnly ? 0444 : 0666);
    return (mode & ~m_umask) | S_IRUSR; // no set-user/group-ID or sticky bits; the owner can read
}

// A new, empty file in `dir` with its final permissions: unnamed until it is complete
// where the file system allows, otherwise under a fresh temporary name (`tempName`).
UniqueFd EntryWriters::createFile(int dir, const std::string &leaf, mode_t mode, std::string *tempName, int *err) const
{
    tempName->clear();
    if (m_anonymousFiles) {
        const int fd = ::openat(dir, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, mode);
        if (fd >= 0)
            return UniqueFd(fd);
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
            *err = errno;
            return {};
        }
    }
    return createTempFile(dir, leaf, tempName, err, mode);
}

// Creates the file, lets `fill` write its data, sets its times and puts it in place under
// its name (or a numbered one); on any failure nothing of it is left.
bool EntryWriters::store(const Entry &e, int dir, const std::string &diskParent, bool renamed, mode_t mode,
                         const std::function<bool(int, bool *)> &fill, Done *line, Failure *f,
                         const std::function<bool()> &mayPlace) const
{
    const std::string &leaf = e.parts.back();
    std::string tempName;
    int err = 0;
    // Decrypted data is readable by its owner only until it is verified.
    const mode_t createMode = e.cipher != Cipher::None ? (mode & S_IRWXU) : mode;
    UniqueFd out = createFile(dir, leaf, createMode, &tempName, &err);
    if (!out.valid()) {
        *f = writeFailure(err, QStringLiteral("“%1”").arg(e.name), m_folderShown);
        return false;
    }
    bool keep = false;
    struct TempGuard {
        int dir;
        const std::string &name;
        bool &keep;
        ~TempGuard() { if (!keep && !name.empty()) ::unlinkat(dir, name.c_str(), 0); }
    } guard{dir, tempName, keep};

    bool endsInHole = false;
    if (!fill(out.get(), &endsInHole))
        return false;
    if (endsInHole && ::ftruncate(out.get(), off_t(e.size)) != 0) { // the size, after a final hole
        *f = writeFailure(errno, QStringLiteral("“%1”").arg(e.name), m_folderShown);
        return false;
    }
    if ((createMode != mode || (m_umask & S_IRUSR)) && ::fchmod(out.get(), mode) != 0) { // verified; or the umask took the owner's read
        *f = writeFailure(errno, QStringLiteral("“%1”").arg(e.name), m_folderShown);
        return false;
    }
    if (e.hasTime) {
        const timespec times[2] = {e.atime, e.mtime};
        ::futimens(out.get(), times); // a time the file system cannot hold is not an error
    }
    if (mayPlace && !mayPlace())
        return false; // dropped: nothing of it is left
    std::string placed;
    if (tempName.empty()) {
        if (!place(dir, diskParent, tempName, leaf, &placed, f, out.get()))
            return false;
        if (::close(out.release()) != 0) {
            const int closeErr = errno;
            ::unlinkat(dir, placed.c_str(), 0);
            *f = writeFailure(closeErr, QStringLiteral("“%1”").arg(e.name), m_folderShown);
            return false;
        }
    } else {
        if (::close(out.release()) != 0) {
            *f = writeFailure(errno, QStringLiteral("“%1”").arg(e.name), m_folderShown);
            return false;
        }
        if (!place(dir, diskParent, tempName, leaf, &placed, f))
            return false;
    }
    keep = true;
    const std::string shown = diskParent.empty() ? placed : diskParent + "/" + placed;
    *line = {fromStd(shown), (renamed || placed != leaf) ? e.name : QString(), Kind::File, false};
    return true;
}

bool EntryWriters::placeFolder(int parentFd, const std::string &name, const std::string &diskParent,
                               std::string *placed, bool *created, Failure *f)
{
    // A file queued for this folder may take the name first, as it would have in archive order.
    drain();
    for (int n = 1; n <= MaxNumberedNames; n = n == 1 ? m_numberHints.next(diskParent, name) : n + 1) {
        const std::string candidate = n == 1 ? name : numberedName(name, n);
        if (::mkdirat(parentFd, candidate.c_str(), 0700) == 0) {
            *placed = candidate;
            *created = true;
            if (n > 1)
                m_numberHints.given(diskParent, name, n);
            return true;
        }
        const int err = errno;
        if (err != EEXIST) {
            *f = writeFailure(err, QStringLiteral("the folder “%1”").arg(fromStd(diskParent.empty() ? candidate : diskParent + "/" + candidate)), m_folderShown);
            return false;
        }
        // The entry's own name is merged into when it is a real folder; a link, a file
        // or a numbered name that someone else made is never used.
        struct stat existing{};
        if (n == 1 && ::fstatat(parentFd, candidate.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISDIR(existing.st_mode)) {
            *placed = candidate;
            *created = false;
            return true;
        }
    }
    *f = {CannotWrite, QStringLiteral("No free name is left for the folder “%1”.").arg(fromStd(name))};
    return false;
}

// Gives the temporary file `tempName` (or the unnamed file open as `unnamedFd`) the name
// `name`, or the first free numbered one; nothing already there is replaced.
bool EntryWriters::place(int dirFd, const std::string &diskParent, const std::string &tempName,
                         const std::string &name, std::string *placed, Failure *f, int unnamedFd) const
{
    char procPath[40];
    if (unnamedFd >= 0)
        std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", unnamedFd);
    for (int n = 1; n <= MaxNumberedNames; n = n == 1 ? m_numberHints.next(diskParent, name) : n + 1) {
        const std::string candidate = n == 1 ? name : numberedName(name, n);
        const int err = unnamedFd < 0 ? renameNoReplace(dirFd, tempName.c_str(), candidate.c_str())
                      : ::linkat(AT_FDCWD, procPath, dirFd, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0
                                                                                                      : errno;
        if (err == 0) {
            *placed = candidate;
            if (n > 1)
                m_numberHints.given(diskParent, name, n);
            return true;
        }
        if (err != EEXIST) {
            *f = writeFailure(err, QStringLiteral("“%1”").arg(fromStd(candidate)), m_folderShown);
            return false;
        }
    }
    *f = {CannotWrite, QStringLiteral("No free name is left for “%1”.").arg(fromStd(name))};
    return false;
}

bool EntryWriters::queue(WriteJob job, Failure *f)
{
    const size_t bytes = job.data.size();
    std::unique_lock lock(m_lock);
    if (!m_writeFailure && !m_jobs.empty()
        && (m_queuedBytes + bytes > MaxQueuedBytes || m_jobs.size() >= MaxQueuedFiles)) {
        // Full: wait until half of it is written, rather than wake for every file written.
        m_waitingRoom = true;
        m_room.wait(lock, [&] { return roomAgain(); });
        m_waitingRoom = false;
    }
    if (m_writeFailure) {
        *f = *m_writeFailure;
        return false;
    }
    m_queuedBytes += bytes;
    job.number = m_queuedCount++;
    m_jobs.push_back(std::move(job));
    if (m_writers.empty()) {
        // Making files is mostly the kernel's work, and that work spreads over the cores.
        const unsigned count = std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
        for (unsigned i = 0; i < count; ++i)
            m_writers.emplace_back([this] { writerLoop(); });
    }
    if (m_idleWriters > 0)
        m_wake.notify_one();
    return true;
}

// Writers take jobs in archive order and write them side by side, but give them their
// names one after another in archive order, so numbered names come out as one thread
// would make them; after a failure, later files are dropped.
void EntryWriters::writerLoop()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        ++m_idleWriters;
        m_wake.wait(lock, [&] { return m_writerEnds || !m_jobs.empty(); });
        --m_idleWriters;
        if (m_jobs.empty())
            return; // the end
        if (m_writerDiscards) {
            m_queuedBytes = 0;
            m_jobs.clear();
            m_settled.notify_all();
            m_room.notify_all();
            continue;
        }
        // A few files at once: the names are given in archive order, so a writer that took
        // one file at a time would wait for the other writer's turn at almost every file.
        std::vector<WriteJob> batch;
        size_t batchBytes = 0;
        while (!m_jobs.empty() && batch.size() < BatchFiles && (batch.empty() || batchBytes < BatchBytes)) {
            batchBytes += m_jobs.front().data.size();
            batch.push_back(std::move(m_jobs.front()));
            m_jobs.pop_front();
            ++m_writing;
        }
        lock.unlock();
        for (WriteJob &job : batch)
            writeJob(job, lock);
    }
}

// Writes one file taken from the queue; returns with `lock` held.
void EntryWriters::writeJob(WriteJob &job, std::unique_lock<std::mutex> &lock)
{
    if (lock.owns_lock())
        lock.unlock();
    const int dir = job.folder ? job.folder->get() : m_root;
    Failure failure;
    const auto fill = [&](int out, bool *endsInHole) {
        if (const int err = writeWithHoles(out, job.data.data(), job.data.size(), endsInHole)) {
            failure = writeFailure(err, QStringLiteral("“%1”").arg(job.entry.name), m_folderShown);
            return false;
        }
        return true;
    };
    bool turnTaken = false;
    bool dropped = false;
    const auto takeTurn = [&] {
        std::unique_lock turn(m_lock);
        if (m_namesInTurn)
        {
            ++m_waitingSettled;
            m_settled.wait(turn, [&] { return m_placeTurn == job.number; });
            --m_waitingSettled;
        }
        turnTaken = true;
        dropped = m_writerDiscards || (m_writeFailure && m_failedJob < job.number);
        return !dropped;
    };
    const bool ok = store(job.entry, dir, job.diskParent, job.renamed, job.mode, fill, job.slot, &failure,
                              takeTurn);
    if (!turnTaken)
        takeTurn();
    const size_t bytes = job.data.size();
    job.folder.reset(); // the folder may close here
    lock.lock();
    job.slot->settled = true;
    if (!ok && !dropped && (!m_writeFailure || job.number < m_failedJob)) {
        m_writeFailure = failure;
        m_failedJob = job.number;
    }
    ++m_placeTurn; // in turn, or only counting
    --m_writing;
    m_queuedBytes -= std::min(m_queuedBytes, bytes);
    if (m_waitingSettled > 0)
        m_settled.notify_all();
    if (m_waitingRoom && roomAgain())
        m_room.notify_all();
}

// Waits until every queued file is written (or dropped after a failure).
void EntryWriters::drain()
{
    std::unique_lock lock(m_lock);
    ++m_waitingSettled;
    m_settled.wait(lock, [&] { return m_jobs.empty() && m_writing == 0; });
    --m_waitingSettled;
}

bool EntryWriters::failed(Failure *f)
{
    std::lock_guard lock(m_lock);
    if (!m_writeFailure)
        return false;
    *f = *m_writeFailure;
    return true;
}

// Ends the writer: after the queued files, or dropping them after a cancel or a failure.
void EntryWriters::stop(bool discard)
{
    if (m_writers.empty())
        return;
    {
        std::lock_guard lock(m_lock);
        m_writerDiscards = discard;
        if (discard) {
            m_jobs.clear();
            m_queuedBytes = 0;
        }
        m_writerEnds = true;
    }
    m_wake.notify_all();
    // The writers finish their jobs first unless told to drop them.
    drain();
    for (std::thread &writer : m_writers)
        writer.join();
    m_writers.clear();
}

} // namespace pnvzip::unzip
