#pragma once

#include "recordrow.h"
#include "reportrowsource.h"

#include <QFile>
#include <QList>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <vector>

/// Rows and report output as the report tests make and read them.
namespace ReportFixture {

/// Record `i` (from 0) of a made-up table; every field differs from record to record.
inline RecordRow row(qint64 i) {
    RecordRow r;
    r.texts[RecordRow::No] = QString::number(i + 1);
    r.texts[RecordRow::Time] = QStringLiteral("%1:%2:%3")
                                   .arg(8 + i / 3600 % 12, 2, 10, QLatin1Char('0'))
                                   .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                                   .arg(i % 60, 2, 10, QLatin1Char('0'));
    r.texts[RecordRow::DcAc] = i % 2 ? QStringLiteral("AC") : QStringLiteral("DC");
    r.texts[RecordRow::Value] =
        QStringLiteral("%1.%2").arg(i % 400).arg(i % 1000, 3, 10, QLatin1Char('0'));
    r.texts[RecordRow::Unit] = i % 3 ? QStringLiteral("mV") : QStringLiteral("k*");
    r.texts[RecordRow::Auto] = i % 5 ? QStringLiteral("AUTO") : QStringLiteral("MANU");
    return r;
}

/// Rows held in memory, with a log of what the report asked for.
class MemorySource : public ReportRowSource {
public:
    explicit MemorySource(qint64 count) {
        for (qint64 i = 0; i < count; ++i)
            rowsHeld.append(row(i));
    }
    qint64 count() const override { return rowsHeld.size(); }
    QList<RecordRow> rows(qint64 first, int n) const override {
        largestRead = std::max(largestRead, n);
        ++reads;
        return rowsHeld.mid(first, n);
    }

    QList<RecordRow> rowsHeld;
    mutable int largestRead = 0;
    mutable int reads = 0;
};

/// The text of a PDF file, one entry per page, as pdftotext lays it out. Empty with
/// `*missing` set when pdftotext is not installed.
inline QStringList pdfPages(const QString &path, bool *missing = nullptr) {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (missing)
        *missing = tool.isEmpty();
    if (tool.isEmpty())
        return {};
    QProcess p;
    p.start(tool, {QStringLiteral("-layout"), path, QStringLiteral("-")});
    // Well inside the test's own time limit, so that a stuck run is reported, not killed.
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {QStringLiteral("<pdftotext failed: %1 %2>")
                    .arg(p.errorString(), QString::fromLocal8Bit(p.readAllStandardError()))};
    QStringList pages = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast();
    return pages;
}

/// The detail lines of one page of pdftotext output, each split into its texts.
inline QList<QStringList> detailLines(const QString &page) {
    static const QRegularExpression kDetail(QStringLiteral("^\\s*\\d+\\s+\\d\\d:\\d\\d:\\d\\d\\s"));
    static const QRegularExpression kSpace(QStringLiteral("\\s+"));
    QList<QStringList> lines;
    for (const QString &line : page.split(QLatin1Char('\n')))
        if (kDetail.match(line).hasMatch())
            lines.append(line.split(kSpace, Qt::SkipEmptyParts));
    return lines;
}

inline QStringList texts(const RecordRow &r) {
    return QStringList(r.texts.begin(), r.texts.end());
}

} // namespace ReportFixture
