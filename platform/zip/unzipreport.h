#pragma once
// The report of an extraction: what was written, what was renamed and which links were
// left out, as one text.
//
// Guarantees: lines settle in archive order whatever thread wrote their files, and the
// report keeps only the counts and the lines it can show (the first twenty, or ten and a
// summary; the first ten renamed items and links left out), however many entries the
// archive holds.

#include "unzipentry.h"

#include <QStringList>

#include <deque>
#include <mutex>
#include <vector>

namespace pnvzip {
class NameCodePage;
}

namespace pnvzip::unzip {

class UnzipReport
{
public:
    // `lock` is held by whoever fills in or settles a line.
    UnzipReport(QString archiveShown, QString folderShown, std::mutex &lock);

    // A new line at the end, to be filled in (and settled) by whoever writes its item.
    Done &add() { return m_done.emplace_back(); }
    // A line final already.
    void add(Done line) { m_done.push_back(std::move(line)); }
    // Lines not settled yet.
    size_t unsettled() const { return m_done.size(); }
    // Moves the settled lines at the front (or, at the end, all of them) into the counts.
    void settle(bool all);
    // A link that would lead outside the folder is not made; the report names it.
    void leaveOut(const Entry &e, const QString &why);

    // The text of a successful extraction; `names` says how names were read.
    QString text(const NameCodePage &names) const;
    // What a failure or a cancel leaves behind.
    QString keptNote(bool cancelled) const;

private:
    QString m_archiveShown;
    QString m_folderShown;
    std::mutex &m_lock;
    // Lines not settled yet, in archive order; they stay where they are while the writers
    // fill them in, and go into the counts once settled.
    std::deque<Done> m_done;
    quint64 m_files = 0;
    quint64 m_folders = 0;
    quint64 m_links = 0;
    std::vector<Done> m_first; // the first lines, as many as a report lists in full
    quint64 m_renamed = 0;
    QStringList m_firstRenamed; // the first renamed items, as many as a summary lists
    quint64 m_leftOut = 0;      // links not made, as they would lead outside the folder
    QStringList m_firstLeftOut; // the first of them
    quint64 lines() const { return m_files + m_folders + m_links; }
};

} // namespace pnvzip::unzip
