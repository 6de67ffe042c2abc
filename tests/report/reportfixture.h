#pragma once

#include "datareport.h"
#include "recordrow.h"
#include "reportrowsource.h"

#include <QFile>
#include <QList>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#ifdef QT_PRINTSUPPORT_LIB
#include "reportpreview.h"

#include <QAction>
#include <QLabel>
#include <QSpinBox>
#endif

#ifdef Q_OS_WIN
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

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
        if (delayMs > 0) // as a large table on a slow disk
            QThread::msleep(delayMs);
        largestRead = std::max(largestRead, n);
        ++reads;
        return rowsHeld.mid(first, n);
    }

    QList<RecordRow> rowsHeld;
    unsigned long delayMs = 0;
    mutable int largestRead = 0;
    mutable int reads = 0;
};

/// A report over rows held in memory.
struct Report {
    explicit Report(qint64 records, std::shared_ptr<MemorySource> rows = {})
        : source(rows ? std::move(rows) : std::make_shared<MemorySource>(records)), report(source) {
    }
    std::shared_ptr<MemorySource> source;
    DataReport report;
};

#ifdef QT_PRINTSUPPORT_LIB
/// The preview of such a report, with every dialog answered by the test.
struct Preview : Report {
    explicit Preview(qint64 records) : Report(records) {
        ReportPreview::Prompts prompts;
        prompts.error = [this](const QString &text) { errors << text; };
        prompts.print = [this](QPrinter &, int) {
            ++printAsked;
            return false;
        };
        prompts.pdfFile = [this] { return pdfFile; };
        window = std::make_unique<ReportPreview>(report, prompts);
        window->resize(700, 900);
    }
    QAction *action(const char *name) const {
        return window->findChild<QAction *>(QLatin1String(name));
    }
    int shownPage() const {
        return window->findChild<QSpinBox *>(QStringLiteral("pageBox"))->value();
    }
    QString shownCount() const {
        return window->findChild<QLabel *>(QStringLiteral("pageCountLabel"))->text().trimmed();
    }

    std::unique_ptr<ReportPreview> window;
    QStringList errors;
    QString pdfFile;
    int printAsked = 0;
};
#endif

/// What an export must leave alone when it does not complete.
inline const QByteArray kOldContent("old content");

/// Puts kOldContent at `path`, read-only if asked.
inline bool writeOld(const QString &path, bool readOnly = false) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(kOldContent) != kOldContent.size())
        return false;
    file.close();
    return !readOnly || file.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
}

inline QByteArray contentOf(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

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

inline bool pdftotextMissing() {
    bool missing = false;
    pdfPages(QString(), &missing);
    return missing;
}

} // namespace ReportFixture

/// Skips the test when `missing` (pdftotext is needed to read a PDF back).
#define SKIP_WITHOUT_PDFTOTEXT(missing)                                                            \
    do {                                                                                           \
        if (missing)                                                                               \
            QSKIP("pdftotext (poppler-utils) is not installed; ./qm.sh test installs it");         \
    } while (false)
