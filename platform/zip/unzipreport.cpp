#include "unzipreport.h"

#include "fsutil.h"
#include "namecodepage.h"

namespace pnvzip::unzip {

namespace {

constexpr int ListedInFull = 20; // longer lists are summarised
constexpr int ListedInSummary = 10;

} // namespace

UnzipReport::UnzipReport(QString archiveShown, QString folderShown, std::mutex &lock)
    : m_archiveShown(std::move(archiveShown)), m_folderShown(std::move(folderShown)), m_lock(lock)
{
}

void UnzipReport::settle(bool all)
{
    std::lock_guard lock(m_lock);
    while (!m_done.empty() && (all || m_done.front().settled)) {
        Done d = std::move(m_done.front());
        m_done.pop_front();
        if (d.shown.isEmpty())
            continue; // queued, never written
        ++(d.kind == Kind::File ? m_files : d.kind == Kind::Folder ? m_folders : m_links);
        if (!d.renamedFrom.isEmpty()) {
            ++m_renamed;
            if (m_firstRenamed.size() < ListedInSummary)
                m_firstRenamed << QStringLiteral("%1 (the name “%2” was taken)").arg(d.shown, d.renamedFrom);
        }
        if (m_first.size() < size_t(ListedInFull))
            m_first.push_back(std::move(d));
    }
}

void UnzipReport::leaveOut(const Entry &e, const QString &why)
{
    if (m_firstLeftOut.size() < ListedInSummary)
        m_firstLeftOut << QStringLiteral("%1 → %2 (%3)").arg(e.name, fromStd(e.linkTarget), why);
    ++m_leftOut;
}

QString UnzipReport::text(const NameCodePage &names) const
{
    QString leftOut;
    if (m_leftOut) {
        leftOut = m_leftOut == 1 ? QStringLiteral("1 link was left out, as it would lead outside the folder:\n")
                                 : QStringLiteral("%1 links were left out, as they would lead outside the folder:\n")
                                       .arg(groupedNumber(m_leftOut));
        for (const QString &item : m_firstLeftOut)
            leftOut += QStringLiteral("  ") + item + QLatin1Char('\n');
        if (m_leftOut > quint64(m_firstLeftOut.size()))
            leftOut += QStringLiteral("  … and %1 more.\n").arg(groupedNumber(m_leftOut - quint64(m_firstLeftOut.size())));
    }
    if (lines() == 0) {
        if (!leftOut.isEmpty())
            return QStringLiteral("Nothing was extracted from %1 into %2.\n").arg(m_archiveShown, m_folderShown) + leftOut;
        return QStringLiteral("The archive %1 is empty; nothing was extracted into %2.").arg(m_archiveShown, m_folderShown);
    }

    QStringList counts;
    if (m_files)
        counts << (m_files == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(groupedNumber(m_files)));
    if (m_folders)
        counts << (m_folders == 1 ? QStringLiteral("1 folder") : QStringLiteral("%1 folders").arg(groupedNumber(m_folders)));
    if (m_links)
        counts << (m_links == 1 ? QStringLiteral("1 link") : QStringLiteral("%1 links").arg(groupedNumber(m_links)));
    QString text = QStringLiteral("Extracted %1 from %2 into %3")
                       .arg(counts.join(QStringLiteral(", ")), m_archiveShown, m_folderShown);
    if (names.readAsLegacy())
        text += QStringLiteral(", names read as %1").arg(codePageLabel(names.chosen()));

    const bool summarise = lines() > quint64(ListedInFull);
    const int listed = summarise ? ListedInSummary : int(lines());
    text += summarise ? QStringLiteral(". The first %1:\n").arg(listed) : QStringLiteral(":\n");
    for (int i = 0; i < listed; ++i) {
        const Done &d = m_first[size_t(i)];
        text += QStringLiteral("  ") + d.shown;
        if (d.merged)
            text += QStringLiteral(" (already there; merged)");
        else if (!d.renamedFrom.isEmpty())
            text += QStringLiteral(" (the name “%1” was taken)").arg(d.renamedFrom);
        text += QLatin1Char('\n');
    }
    if (summarise)
        text += QStringLiteral("  … and %1 more.\n").arg(groupedNumber(lines() - quint64(listed)));
    if (m_renamed) {
        text += m_renamed == 1 ? QStringLiteral("1 item was saved under a new name, as its name was taken.\n")
                               : QStringLiteral("%1 items were saved under new names, as their names were taken.\n")
                                     .arg(groupedNumber(m_renamed));
        if (summarise) {
            for (const QString &item : m_firstRenamed)
                text += QStringLiteral("  ") + item + QLatin1Char('\n');
            if (m_renamed > quint64(ListedInSummary))
                text += QStringLiteral("  … and %1 more.\n").arg(groupedNumber(m_renamed - quint64(ListedInSummary)));
        }
    }
    text += leftOut;
    text += QStringLiteral("Nothing already in the folder was replaced.");
    return text;
}

QString UnzipReport::keptNote(bool cancelled) const
{
    const quint64 lines = this->lines();
    if (lines == 0)
        return QStringLiteral("Nothing was extracted.");
    return QStringLiteral("The %1 extracted before the %2 %3 kept; each of them is complete and checked, "
                          "and nothing half-written was left.")
        .arg(lines == 1 ? QStringLiteral("item") : QStringLiteral("%1 items").arg(groupedNumber(lines)),
             cancelled ? QStringLiteral("cancel") : QStringLiteral("error"),
             lines == 1 ? QStringLiteral("was") : QStringLiteral("were"));
}

} // namespace pnvzip::unzip
