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
#include <string>
#include <vector>

#ifdef Q_OS_WIN
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <windows.h>
#endif

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

#ifdef Q_OS_WIN
/// The Unix name of a Windows path under Wine; empty where there is no Wine.
inline QString wineUnixName(const QString &path) {
    using ToUnix = char *(CDECL *)(LPCWSTR);
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    char *name = toUnix ? toUnix(reinterpret_cast<LPCWSTR>(
                              QDir::toNativeSeparators(QDir::cleanPath(path)).utf16()))
                        : nullptr;
    const QString unixName = name ? QString::fromUtf8(name) : QString();
    HeapFree(GetProcessHeap(), 0, name);
    return unixName;
}

/// What pdftotext says about `path`, under Wine, where Windows has no pdftotext: the build
/// machine's, whose Unix path QM_PDFTOTEXT names. Wine starts a Unix program as it starts a
/// Windows one, but with no process handle to wait on and no way into a Windows pipe, so a
/// Unix shell runs it into a file that appears, whole, once it is done. An empty `tool` when
/// that is not at hand.
inline QByteArray pdftotextOutput(const QString &path, QString *tool) {
    *tool = qEnvironmentVariable("QM_PDFTOTEXT");
    if (tool->isEmpty() || wineUnixName(QStringLiteral("Z:/bin/sh")).isEmpty())
        return {};
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("text"));
    const QString script =
        QStringLiteral("'%1' -layout '%2' '%3.part' || echo '<pdftotext failed>' >'%3.part'; "
                       "mv '%3.part' '%3'")
            .arg(*tool, wineUnixName(path), wineUnixName(dir.path()) + QStringLiteral("/text"));
    std::wstring line = QStringLiteral("Z:\\bin\\sh -c \"%1\"").arg(script).toStdWString();
    STARTUPINFOW start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start,
                        &process))
        return {};
    for (HANDLE h : {process.hProcess, process.hThread})
        if (h)
            CloseHandle(h);
    // Well inside the test's own time limit, so that a stuck run is reported, not killed.
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(text) && clock.elapsed() < 30000)
        QThread::msleep(20);
    QFile file(text);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
#endif

/// The text of a PDF file, one entry per page, as pdftotext lays it out. Empty with
/// `*missing` set when pdftotext is not installed.
inline QStringList pdfPages(const QString &path, bool *missing = nullptr) {
#ifdef Q_OS_WIN
    QString tool;
    const QByteArray text = pdftotextOutput(path, &tool);
    if (missing)
        *missing = tool.isEmpty();
    if (tool.isEmpty())
        return {};
    if (text.isEmpty())
        return {QStringLiteral("<pdftotext gave no text>")};
#else
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
    const QByteArray text = p.readAllStandardOutput();
#endif
    QStringList pages = QString::fromUtf8(text).split(QLatin1Char('\f'));
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
