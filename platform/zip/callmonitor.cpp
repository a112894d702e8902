#include "callmonitor.h"

#include <algorithm>

namespace pnvzip {

CallMonitor::CallMonitor(ZipQuery *query, qint64 total)
    : m_query(query), m_total(std::max<qint64>(0, total))
{
}

void CallMonitor::startEntry(const QString &name)
{
    m_entry = name;
    m_entryStart = std::max<qint64>(0, m_reported);
    m_passStart = m_entryStart;
    m_pass = 0;
    m_weight = 1;
    report(m_entryStart);
}

void CallMonitor::startEntryAt(const QString &name, qint64 done)
{
    m_entry = name;
    m_entryStart = std::max(std::min(done, m_total), std::max<qint64>(0, m_reported));
    m_passStart = m_entryStart;
    m_pass = 0;
    m_weight = 1;
    report(m_entryStart);
}

void CallMonitor::advance(qint64 bytes)
{
    if (bytes <= 0)
        return;
    m_pass += bytes;
    const qint64 done = std::min(m_total, m_passStart + qint64(double(m_pass) * m_weight));
    // The total itself is reported once, by finish(), when the call has succeeded.
    if (done >= m_reported + ReportStep && done < m_total)
        report(done);
}

void CallMonitor::restartPass()
{
    startPass(0, 1);
}

void CallMonitor::startPass(qint64 offset, double weight)
{
    m_passStart = m_entryStart + std::max<qint64>(0, offset);
    m_pass = 0;
    m_weight = weight;
}

void CallMonitor::finish()
{
    report(m_total);
}

void CallMonitor::report(qint64 done)
{
    // Equal values are reported too (an entry's start, the end), lower ones never.
    if (done < m_reported)
        return;
    m_reported = done;
    if (m_query)
        m_query->progress(done, m_total, m_entry);
}

bool CallMonitor::cancelled()
{
    if (stopRequested())
        return true;
    if (m_query && m_query->cancelRequested()) {
        m_stop.store(true, std::memory_order_relaxed);
        return true;
    }
    return false;
}

} // namespace pnvzip
