#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

/// What the storage sweep promises, checked against a model of what the user was told: the
/// records whose Save said so are stored, those recorded since are pending, each once, in
/// order, numbered as the recorder numbered them. The sweep feeds it what the window did
/// and showed; it counts every check and keeps a line for each one that failed, naming the
/// invariant (1 the file is sound, 2 it holds exactly the saved and pending records, 3 no
/// failure called a success, 4 a failure told at most once, 5 recording goes on once room
/// returns, 6 a power cut keeps the last Save and offers the rest back).
class StorageInvariants {
public:
    struct Record {
        int no = 0;
        QString value;
        bool operator==(const Record &) const = default;
    };
    using Records = QList<Record>;

    /// What the user was told so far: the records saved, and what else the file may hold
    /// after a save or a clearing that said it may have been done.
    Records saved;
    QList<Records> savedOr;
    Records pending;
    /// The number the next recorded reading must carry; 0: whatever the window begins with
    /// (after it opened a table).
    int nextNo = 1;

    /// Where the checks stand, for the lines of violations: the fault point and the step.
    QString point;
    QString step;

    bool check(bool ok, int invariant, const QString &what) {
        ++m_checks;
        if (!ok)
            m_violations << QStringLiteral("%1, at %2: invariant %3 failed: %4")
                                .arg(point, step)
                                .arg(invariant)
                                .arg(what);
        return ok;
    }

    /// A reading offered: `stored` whether the table took it, numbered `no`; `nextAfter` the
    /// number the window holds for the one after.
    void offered(const QString &value, bool stored, int no, int nextAfter, bool healed) {
        if (nextNo == 0)
            nextNo = no;
        if (stored) {
            check(no == nextNo, 2,
                  QStringLiteral("reading %1 numbered %2, not %3").arg(value).arg(no).arg(nextNo));
            pending.append({no, value});
            nextNo = no + 1;
        }
        check(nextAfter == nextNo, 2,
              QStringLiteral("after reading %1 (%2) the next number is %3, not %4")
                  .arg(value, stored ? "stored" : "not stored")
                  .arg(nextAfter)
                  .arg(nextNo));
        if (healed)
            check(stored, 5,
                  QStringLiteral("reading %1 not recorded after room returned").arg(value));
    }
    void savedAll() {
        // Where a save may have been done, the next stores the rest of its records.
        for (Records &other : savedOr)
            for (const Record &r : std::as_const(pending))
                if (!other.contains(r))
                    other.append(r);
        saved += pending;
        pending.clear();
    }
    void cleared() {
        saved.clear();
        savedOr.clear();
        pending.clear();
        nextNo = 1;
    }
    void maybeSaved() {
        for (qsizetype i = 0, n = savedOr.size(); i < n; ++i)
            savedOr.append(savedOr[i] + pending);
        savedOr.append(saved + pending);
    }
    void maybeCleared() { savedOr.append(Records{}); }
    /// Whether `rows` is what the file may hold now.
    bool mayHold(const Records &rows) const { return rows == saved || savedOr.contains(rows); }
    /// Another table opened (or this one again): the pending records went by the user's will.
    void reopened() {
        pending.clear();
        nextNo = 0;
    }

    /// What an operation showed: at most one error; a success message only with no error and
    /// when `succeeded` (what the window's state says) holds.
    void told(const QStringList &errors, const QStringList &infos, const QString &success,
              bool succeeded) {
        check(errors.size() <= 1, 4,
              QStringLiteral("%1 errors: %2").arg(errors.size()).arg(errors.join(u" | ")));
        const bool claimed = !success.isEmpty() && infos.contains(success);
        if (claimed)
            check(errors.isEmpty() && succeeded, 3,
                  QStringLiteral("\"%1\" shown%2")
                      .arg(success, errors.isEmpty() ? QStringLiteral(", not done")
                                                     : QStringLiteral(" with ") + errors.first()));
    }

    /// The file after the last Save and a reopening: sound and holding exactly the model.
    void storedAre(const QString &integrity, const Records &rows, const Records &expected,
                   int invariant = 2) {
        check(integrity == u"ok", 1, QStringLiteral("integrity check says \"%1\"").arg(integrity));
        check(rows == expected || (invariant == 2 && savedOr.contains(rows)), invariant,
              QStringLiteral("file holds %1 not %2").arg(describe(rows), describe(expected)));
    }

    static QString describe(const Records &records) {
        QStringList parts;
        for (qsizetype i = 0; i < records.size(); ++i) {
            qsizetype j = i;
            while (j + 1 < records.size() && records[j + 1].no == records[j].no + 1 &&
                   records[j + 1].value.toInt() == records[j].value.toInt() + 1)
                ++j;
            parts << (i == j ? QStringLiteral("%1:%2").arg(records[i].no).arg(records[i].value)
                             : QStringLiteral("%1:%2..%3:%4")
                                   .arg(records[i].no)
                                   .arg(records[i].value)
                                   .arg(records[j].no)
                                   .arg(records[j].value));
            i = j;
        }
        return u'[' + parts.join(u", ") + u']';
    }

    qint64 checks() const { return m_checks; }
    const QStringList &violations() const { return m_violations; }

private:
    qint64 m_checks = 0;
    QStringList m_violations;
};
