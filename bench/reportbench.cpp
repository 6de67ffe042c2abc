// Timing program for the printed list of records at the sizes recording reaches: the
// report built from the record table, its preview made ready the way the preview window
// makes it (every page painted up front), and the whole report printed to a PDF file.
//
//   qm-bench-report [--count N]... [--dir FOLDER]
//
// Without --count it runs 10,000 and 100,000 records.

#include "benchsupport.h"
#include "datareport.h"
#include "recordtable.h"
#include "recordtablesource.h"
#include "reportpreview.h"
#include "reportprinting.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTime>

#include <malloc.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <stdexcept>

namespace {

/// Processor time of the whole process, which other programs on the machine do not inflate.
double cpuSeconds() {
    return double(std::clock()) / CLOCKS_PER_SEC;
}

/// Starts a new peak: freed heap goes back to the system, then the kernel sets the
/// high-water mark back to the present size.
void resetPeak() {
    malloc_trim(0);
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

RecordValues readingFor(int i) {
    RecordValues v;
    v.no = i + 1;
    v.time = QTime(8, 0).addSecs(i % 86400);
    v.value = QString::number((i % 16000 - 8000) / 1000.0, 'f', 3);
    v.nval = static_cast<float>(i % 16000 - 8000);
    v.dcAc = QStringLiteral("DC");
    v.unit = QStringLiteral("mV");
    v.autoText = QStringLiteral("AUTO");
    return v;
}

struct Figures {
    int records = 0;
    qint64 pages = 0;
    double buildSeconds = 0;
    double previewCpuSeconds = 0;
    double pdfCpuSeconds = 0;
    double previewSeconds = 0;
    double previewPeakMiB = 0;
    double pdfSeconds = 0;
    double pdfPeakMiB = 0;
    double pdfMiB = 0;
    double residentBeforeMiB = 0;
    double residentBeforePdfMiB = 0;
};

Figures run(const QString &folder, int count) {
    Figures f;
    f.records = count;
    RecordTable table;
    table.open(folder + QStringLiteral("/bench-%1.db").arg(count),
               RecordTable::OpenMode::CreateIfMissing);
    // Half saved, half pending, as after a save in the middle of a run.
    for (int i = 0; i < count; ++i) {
        if (i == count / 2)
            table.applyUpdates();
        table.append(readingFor(i));
    }

    resetPeak();
    f.residentBeforeMiB = BenchSupport::statusMiB("VmRSS");
    QElapsedTimer clock;
    clock.start();
    auto source = std::make_shared<RecordTableSource>(table);
    const DataReport report(source);
    f.buildSeconds = clock.nsecsElapsed() / 1e9;
    f.pages = report.pageCount();

    // What the Print button waits for: the preview window shown with every page ready.
    {
        clock.restart();
        const double cpu = cpuSeconds();
        QPrinter printer(QPrinter::HighResolution);
        QString failure;
        auto dialog = ReportPreview::makeDialog(report, printer, nullptr,
                                                [&](const QString &text) { failure = text; });
        dialog->show();
        QApplication::processEvents();
        f.previewSeconds = clock.nsecsElapsed() / 1e9;
        f.previewCpuSeconds = cpuSeconds() - cpu;
        const int shown = dialog->findChild<QPrintPreviewWidget *>()->pageCount();
        if (!failure.isEmpty() || shown != f.pages)
            throw std::runtime_error(QStringLiteral("preview showed %1 of %2 pages %3")
                                         .arg(shown)
                                         .arg(f.pages)
                                         .arg(failure)
                                         .toStdString());
        dialog->close();
    }
    f.previewPeakMiB = BenchSupport::statusMiB("VmHWM");

    resetPeak();
    f.residentBeforePdfMiB = BenchSupport::statusMiB("VmRSS");
    const QString pdf = folder + QStringLiteral("/report-%1.pdf").arg(count);
    clock.restart();
    const double cpu = cpuSeconds();
    {
        QPrinter printer(QPrinter::HighResolution);
        ReportPrinting::preparePrinter(printer, report);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        ReportPrinting::print(report, printer);
    }
    f.pdfSeconds = clock.nsecsElapsed() / 1e9;
    f.pdfCpuSeconds = cpuSeconds() - cpu;
    f.pdfPeakMiB = BenchSupport::statusMiB("VmHWM");
    f.pdfMiB = QFileInfo(pdf).size() / 1048576.0;
    QFile::remove(pdf);
    return f;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QList<int> counts;
    QString dir;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == u"--count" && i + 1 < args.size())
            counts << args[++i].toInt();
        else if (args[i] == u"--dir" && i + 1 < args.size())
            dir = args[++i];
    }
    if (counts.isEmpty())
        counts = {10000, 100000};
    std::optional<QTemporaryDir> scratch;
    if (dir.isEmpty()) {
        scratch.emplace();
        dir = scratch->path();
    }

    bool ok = true;
    try {
        for (int count : counts) {
            const Figures f = run(dir, count);
            // The targets are set for 10,000 and 100,000 records; between them, the larger.
            const double target = f.records <= 10000 ? 1.0 : 5.0;
            const bool within = f.previewSeconds < target;
            ok = ok && within;
            std::printf("records %d, pages %lld (resident before: %.1f MiB)\n", f.records,
                        static_cast<long long>(f.pages), f.residentBeforeMiB);
            std::printf("  build report               %.4f s\n", f.buildSeconds);
            std::printf("  preview ready              %.3f s (processor %.3f s), %.0f pages/s, "
                        "peak %.1f MiB (target under %.0f s)%s\n",
                        f.previewSeconds, f.previewCpuSeconds, f.pages / f.previewSeconds,
                        f.previewPeakMiB, target, within ? "" : "  OUTSIDE TARGET");
            std::printf("  print to PDF               %.3f s (processor %.3f s), %.0f pages/s, "
                        "peak %.1f MiB (from %.1f), file %.1f MiB\n",
                        f.pdfSeconds, f.pdfCpuSeconds, f.pages / f.pdfSeconds, f.pdfPeakMiB,
                        f.residentBeforePdfMiB, f.pdfMiB);
            const QByteArray n = QByteArray::number(f.records);
            BenchSupport::figure(("report preview ready, " + n + " records").constData(),
                                 f.previewSeconds, "s", f.records <= 10000 ? "<1" : "<5");
            BenchSupport::figure(("report print to PDF, " + n + " records").constData(),
                                 f.pdfSeconds, "s");
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
    std::printf("%s\n", ok ? "within targets" : "OUTSIDE TARGETS");
    return 0;
}
