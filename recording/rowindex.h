#pragma once

#include <QString>
#include <QtGlobal>

#include <vector>

class QSqlQuery;

/// Where the stored rows of a record table are, so that a view reaches any row by its
/// position in key order. Keys normally run without gaps, but a table written elsewhere may
/// have holes, so the index keeps the key of every kAnchorStride-th row and a row is reached
/// from the anchor below it. Rows the engine holds beyond the stored ones (pending, not yet
/// saved) are anchored as they are added; the stored count moves only with a save.
class RowIndex {
public:
    static constexpr int kAnchorStride = 256;

    /// Rows the file holds as of the last save.
    qint64 storedRows() const { return m_storedRows; }
    /// The key of the last of them (0 for none; -1 when the engine could not tell).
    qint64 lastKey() const { return m_lastKey; }

    /// Reads the index of `table`, its rows found by `key` (SQL), through `q`. False
    /// with q.lastError() set when the engine failed; the index then holds no stored row.
    bool load(QSqlQuery &q, const QString &table, const QString &key);
    /// No row at all.
    void clear();
    /// No stored row, the last key kept as it is.
    void clearRows();
    void setLastKey(qint64 key) { m_lastKey = key; }
    /// `n` rows more (pending ones a save stored) or fewer (negative: rows loaded that are
    /// pending again) count as stored.
    void addStored(qint64 n) { m_storedRows += n; }

    /// Whether the row at position `row`, added now, needs its key kept.
    static bool wantsAnchor(qint64 row) { return row % kAnchorStride == 0; }
    /// Keeps the key of the next anchor row.
    void addAnchor(qint64 key) { m_anchors.push_back(key); }

    /// The anchor's key below the row at position `row`, and how many rows `row` lies after
    /// it; false when the index does not reach that far.
    bool locate(qint64 row, qint64 *fromKey, qint64 *skip) const;

private:
    qint64 m_storedRows = 0;
    qint64 m_lastKey = 0;
    std::vector<qint64> m_anchors; // key of rows 0, kAnchorStride, 2 * kAnchorStride, ...
};
