#include "rowspillfile.h"

#include <QDataStream>

#include <stdexcept>

namespace {

[[noreturn]] void raise(const QTemporaryFile &file, const char *what) {
    throw std::runtime_error(QStringLiteral("%1 the report's copy of the records (%2): %3")
                                 .arg(QLatin1String(what), file.fileName(), file.errorString())
                                 .toStdString());
}

} // namespace

RowSpillFile::RowSpillFile() {
    if (!m_file.open())
        raise(m_file, "Could not make");
}

void RowSpillFile::append(const RecordRow &row) {
    // Asking the file for its size or seeking flushes its buffer, which would cost three
    // system calls a record; only a read in between moves the position off the end.
    if (m_file.pos() != m_end && !m_file.seek(m_end))
        raise(m_file, "Could not write");
    if (m_count % kStride == 0)
        m_offsets.push_back(m_file.pos());
    QDataStream out(&m_file);
    for (const QString &text : row.texts)
        out << text;
    if (out.status() != QDataStream::Ok)
        raise(m_file, "Could not write");
    m_end = m_file.pos();
    ++m_count;
}

QList<RecordRow> RowSpillFile::rows(qint64 first, int n) const {
    QList<RecordRow> result;
    if (first < 0 || first >= m_count || n <= 0)
        return result;
    const qint64 last = std::min(m_count, first + n);
    if (!m_file.flush() || !m_file.seek(m_offsets[std::size_t(first / kStride)]))
        raise(m_file, "Could not read");
    QDataStream in(&m_file);
    result.reserve(int(last - first));
    RecordRow row;
    for (qint64 i = first - first % kStride; i < last; ++i) {
        for (QString &text : row.texts)
            in >> text;
        if (in.status() != QDataStream::Ok)
            raise(m_file, "Could not read");
        if (i >= first)
            result.append(row);
    }
    return result;
}
