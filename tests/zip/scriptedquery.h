#pragma once
// A ZipQuery that records what the engine reports and asks the call to stop once a given
// amount is reported done.

#include "zipfunctions.h"

#include <QElapsedTimer>
#include <QList>
#include <QThread>

struct ScriptedQuery : ZipQuery
{
    struct Report
    {
        qint64 done, total;
        QString entry;
    };
    QList<Report> reports;
    int polls = 0;
    qint64 stopAt = -1; // asks to stop once a report says this much is done; -1: never
    QElapsedTimer sinceStop; // started at the first true answer
    QList<QThread *> threads; // the threads the engine called on

    void progress(qint64 done, qint64 total, const QString &entry) override
    {
        noteThread();
        reports << Report{done, total, entry};
    }

    bool cancelRequested() override
    {
        noteThread();
        ++polls;
        const bool stop = stopAt >= 0 && !reports.isEmpty() && reports.last().done >= stopAt;
        if (stop && !sinceStop.isValid())
            sinceStop.start();
        return stop;
    }

    // Empty when the reports keep the contract: the first at the entry's start, `done`
    // never down and at most `maxStep` apart, `total` fixed, the last one done == total
    // and no other one at the total.
    QString reportProblem(qint64 total, qint64 maxStep) const
    {
        if (reports.isEmpty())
            return QStringLiteral("no progress reported");
        if (reports.first().done != 0)
            return QStringLiteral("the first report is at %1, not 0").arg(reports.first().done);
        for (qsizetype i = 0; i < reports.size(); ++i) {
            const Report &r = reports.at(i);
            if (r.total != total)
                return QStringLiteral("report %1 has the total %2, not %3").arg(i).arg(r.total).arg(total);
            if (i > 0 && r.done < reports.at(i - 1).done)
                return QStringLiteral("report %1 goes down to %2").arg(i).arg(r.done);
            if (i > 0 && r.done - reports.at(i - 1).done > maxStep)
                return QStringLiteral("report %1 jumps by %2").arg(i).arg(r.done - reports.at(i - 1).done);
            if (r.done == total && i + 1 != reports.size() && total != 0)
                return QStringLiteral("report %1 is at the total before the end").arg(i);
        }
        if (reports.last().done != total)
            return QStringLiteral("the last report is at %1, not %2").arg(reports.last().done).arg(total);
        return {};
    }

private:
    void noteThread()
    {
        if (!threads.contains(QThread::currentThread()))
            threads << QThread::currentThread();
    }
};
