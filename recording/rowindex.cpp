#include "rowindex.h"

#include "recordschema.h"

#include <QSqlQuery>
#include <QVariant>

bool RowIndex::load(QSqlQuery &q, const QString &table, const QString &key) {
    m_storedRows = 0;
    m_anchors.clear();
    q.setForwardOnly(true);
    // Three statements, not one: a bare count(*) lets the engine count the cells of each page
    // instead of stepping through every row, and min() and max() of the key alone are one
    // look-up each. Together in one statement they cost a full walk of the rows, which at a
    // million records dominated the program's start.
    auto single = [&](const QString &sql, qint64 *value) {
        if (!q.exec(sql) || !q.next())
            return false;
        *value = q.value(0).toLongLong();
        q.finish();
        return true;
    };
    qint64 count = 0;
    qint64 minKey = 0;
    qint64 maxKey = 0;
    if (!single(RecordSchema::countSql(table), &count) ||
        !single(RecordSchema::minKeySql(table, key), &minKey) ||
        !single(RecordSchema::maxKeySql(table, key), &maxKey))
        return false;
    m_lastKey = maxKey;
    if (count == 0)
        return true;
    m_anchors.reserve(static_cast<std::size_t>(count / kAnchorStride + 1));
    if (maxKey - minKey + 1 == count) {
        // Keys without holes, the usual case: no need to read them.
        for (qint64 row = 0; row < count; row += kAnchorStride)
            m_anchors.push_back(minKey + row);
    } else {
        if (!q.exec(RecordSchema::keysSql(table, key)))
            return false;
        for (qint64 row = 0; q.next(); ++row)
            if (row % kAnchorStride == 0)
                m_anchors.push_back(q.value(0).toLongLong());
        q.finish();
    }
    m_storedRows = count;
    return true;
}

void RowIndex::clear() {
    clearRows();
    m_lastKey = 0;
}

void RowIndex::clearRows() {
    m_storedRows = 0;
    m_anchors.clear();
}

bool RowIndex::locate(qint64 row, qint64 *fromKey, qint64 *skip) const {
    const auto anchor = static_cast<std::size_t>(row / kAnchorStride);
    if (row < 0 || anchor >= m_anchors.size())
        return false;
    *fromKey = m_anchors[anchor];
    *skip = row % kAnchorStride;
    return true;
}
