#pragma once
// Files and folders put in place under their names, and the threads that write the small
// files while the next entries are read.
//
// Guarantees: a file is created unnamed (O_TMPFILE) and linked into place once complete,
// or, where the file system cannot, under a fresh temporary name with O_EXCL and renamed
// into place with RENAME_NOREPLACE: neither ever replaces or follows anything already
// there, and a file that fails leaves nothing behind. Its data was checked (size, CRC-32)
// before it is put in place, its permissions never carry set-user/group-ID or sticky bits,
// and decrypted data is readable by its owner only until it is verified. A taken name gets
// the first free number ("notes (2).txt"). Small files queued here are written by two
// threads but take their names one after another in archive order whenever two entries
// may want one name, so names come out as one thread would make them; after a failure the
// later files are dropped, and a cancel drops those not yet begun.

#include "entrynames.h"
#include "fsutil.h"
#include "unzipentry.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pnvzip::unzip {

// An open folder, shared by the reading side and the thread that writes files into it.
using FolderRef = std::shared_ptr<const UniqueFd>;

// A small file read and checked in memory, waiting to be written.
struct WriteJob
{
    Entry entry; // its own copy: the part of the archive it came from may be gone
    FolderRef folder;
    std::string diskParent;
    bool renamed = false;
    mode_t mode = 0;
    std::string data;
    Done *slot = nullptr; // its line of the report, filled in once the file is in place
    quint64 number = 0;   // in archive order

    WriteJob() = default;
    WriteJob(WriteJob &&) = default;
    WriteJob &operator=(WriteJob &&) = default;
    ~WriteJob();
};

class EntryWriters
{
public:
    EntryWriters(int rootFd, mode_t umask, QString folderShown);
    ~EntryWriters();
    EntryWriters(const EntryWriters &) = delete;
    EntryWriters &operator=(const EntryWriters &) = delete;

    // Files are made unnamed (O_TMPFILE) and linked into place.
    void setAnonymousFiles(bool anonymous) { m_anonymousFiles = anonymous; }
    // Two entries may compete for a name: name files in archive order.
    void setNamesInTurn(bool inTurn) { m_namesInTurn = inTurn; }

    // The permissions of the entry's file, less the umask; the owner can read.
    mode_t fileMode(const Entry &e) const;
    // Creates the file in `dir`, lets `fill` write its data, sets its times and puts it in
    // place under its name (or a numbered one), filling in `*line`; on any failure nothing
    // of it is left. `mayPlace`, when given, is asked just before the name is taken.
    bool store(const Entry &e, int dir, const std::string &diskParent, bool renamed, mode_t mode,
               const std::function<bool(int, bool *)> &fill, Done *line, Failure *f,
               const std::function<bool()> &mayPlace = {}) const;
    // Gives the temporary file `tempName` (or the unnamed file open as `unnamedFd`) the name
    // `name`, or the first free numbered one; nothing already there is replaced.
    bool place(int dirFd, const std::string &diskParent, const std::string &tempName, const std::string &name,
               std::string *placed, Failure *f, int unnamedFd = -1) const;
    // Makes the folder `name` in `parentFd` (or the first free numbered one), after the
    // files queued before it; the entry's own name, when a real folder, is merged into.
    bool placeFolder(int parentFd, const std::string &name, const std::string &diskParent, std::string *placed,
                     bool *created, Failure *f);

    // Queues a small file for the writers, waiting while the queue is full.
    bool queue(WriteJob job, Failure *f);
    // Waits until every queued file is written (or dropped after a failure).
    void drain();
    // The failure of a queued file, if any.
    bool failed(Failure *f);
    // Ends the writers: after the queued files, or dropping them after a cancel or a failure.
    void stop(bool discard);
    // Held while the writers fill in or settle a line of the report.
    std::mutex &lock() { return m_lock; }

private:
    UniqueFd createFile(int dir, const std::string &leaf, mode_t mode, std::string *tempName, int *err) const;
    void writerLoop();
    void writeJob(WriteJob &job, std::unique_lock<std::mutex> &lock);
    // With m_lock held: whether a full queue has been written down far enough to add to it.
    bool roomAgain() const;

    int m_root;
    mode_t m_umask;
    QString m_folderShown;
    // The next number to try for names already taken (files are placed on several threads).
    mutable NumberHints m_numberHints;
    bool m_anonymousFiles = false;
    bool m_namesInTurn = true;

    // Small files are written by a second thread while the next entries are read and
    // inflated; it writes them in archive order, so names and the report come out as
    // one thread would make them. Everything else (large or encrypted entries, folders that
    // must be made, links) waits until the queue is empty.
    std::mutex m_lock;
    std::condition_variable m_wake;    // the writer: work or the end
    std::condition_variable m_settled; // the reader: the queue empty; the writers: their turn
    std::condition_variable m_room;    // the reader: a full queue written down to half
    bool m_waitingRoom = false;
    std::vector<std::thread> m_writers;
    std::deque<WriteJob> m_jobs;
    size_t m_queuedBytes = 0;
    int m_writing = 0; // jobs the writers hold outside the queue
    int m_idleWriters = 0;     // waiting on m_wake
    int m_waitingSettled = 0;  // waiting on m_settled: woken only when someone waits
    quint64 m_queuedCount = 0; // jobs ever queued: the next one's number
    quint64 m_placeTurn = 0;   // the number of the job whose turn it is to take its name
    quint64 m_failedJob = 0;   // with m_writeFailure: the job that failed
    bool m_writerEnds = false;
    bool m_writerDiscards = false;
    std::optional<Failure> m_writeFailure;
};

} // namespace pnvzip::unzip
