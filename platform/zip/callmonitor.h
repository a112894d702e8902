#pragma once
// The engine's side of a ZipQuery while a call runs: progress reported at the start of an
// entry, every few MiB and at the end, never backwards and never past the total; the cancel
// request polled and, once seen, kept, so that every later poll and every worker thread
// agrees that the call is stopping.
//
// Everything but stopRequested() runs on the thread that runs the call, as ZipQuery expects.

#include "zipfunctions.h"

#include <atomic>

namespace pnvzip {

class CallMonitor
{
public:
    // Bytes between two progress reports within an entry.
    static constexpr qint64 ReportStep = qint64(4) << 20;

    // `query` may be nullptr (a caller that asks for nothing); `total` is the sum of the
    // uncompressed sizes the call handles.
    CallMonitor(ZipQuery *query, qint64 total);
    CallMonitor(const CallMonitor &) = delete;
    CallMonitor &operator=(const CallMonitor &) = delete;

    // The entry `name` starts: reported at once.
    void startEntry(const QString &name);
    // The entry `name` starts `done` bytes into the call (a call over many entries keeps its
    // own count): reported at once, never below what was reported before.
    void startEntryAt(const QString &name, qint64 done);
    // `bytes` more of the current pass over the entry are handled.
    void advance(qint64 bytes);
    // The entry is read once more from its start (written again another way): the bytes of
    // the new pass count only once they pass what was reported already.
    void restartPass();
    // A new pass over the entry whose bytes count `weight` each from `offset` bytes into
    // the entry: a scan before the writing takes the first part of the bar, the writing
    // the rest (weight 1 and offset 0 is restartPass()).
    void startPass(qint64 offset, double weight);
    // The call succeeded: reports done == total.
    void finish();

    // Asks the query whether to stop; true from the first true answer on.
    bool cancelled();
    // Whether a stop was seen; safe on any thread.
    bool stopRequested() const { return m_stop.load(std::memory_order_relaxed); }

    ZipQuery *query() const { return m_query; }

private:
    void report(qint64 done);

    ZipQuery *m_query;
    const qint64 m_total;
    qint64 m_passStart = 0; // `done` when the current pass over the entry began
    qint64 m_pass = 0;      // bytes of the current pass
    double m_weight = 1;    // what a byte of the current pass counts
    qint64 m_entryStart = 0;
    qint64 m_reported = -1; // the last `done` reported
    QString m_entry;
    std::atomic<bool> m_stop{false};
};

} // namespace pnvzip
