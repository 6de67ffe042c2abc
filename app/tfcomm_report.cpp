#include "tfcomm.h"

#include "datareport.h"
#include "recordtable.h"
#include "recordtablesource.h"
#include "replacetarget.h"
#include "reportpreview.h"

#include <QFileInfo>
#include <QToolButton>

#include <memory>

void TFCOMM::buildReport() {
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { BtPrintClick(); });

    SpeedButton1 = new QToolButton(m_client);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setToolTip(QStringLiteral("Print"));
    SpeedButton1->setVisible(false);
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { BtPrintClick(); });
    connect(BtPrint, &QToolButton::clicked, this, [this] { BtPrintClick(); });

    onPreviewReport = [this](DataReport &report) {
        ReportPreview::Prompts prompts;
        prompts.error = [this](const QString &text) { m_prompts->error(text); };
        prompts.pdfFile = [this] {
            const QString path =
                m_prompts->saveFile({QStringLiteral("Export PDF"),
                                     QStringLiteral("PDF File(*.pdf)"), QStringLiteral("pdf")});
            // A folder is refused by the export itself, without asking to replace it.
            if (path.isEmpty() || !QFileInfo::exists(path) || QFileInfo(path).isDir())
                return path;
            // A PDF in place of the open record table (or one held by another copy of the
            // program) would take every record with it.
            const bool free = m_prompts->guard([&] { ReplaceTarget::ensureFree(*TQM10DB, path); });
            // The window's save dialog leaves replacing to the command; a report replaces
            // a file only when asked.
            if (free &&
                m_prompts->question(
                    QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(path)))
                return path;
            return QString();
        };
        // Print to File's name comes from the print dialog, which knows nothing of tables.
        prompts.checkOutput = [this](const QString &path) {
            ReplaceTarget::ensureFree(*TQM10DB, path);
        };
        ReportPreview preview(report, prompts, this);
        preview.exec();
    };
}

void TFCOMM::BtPrintClick() {
    m_prompts->guard([this] {
        // The report is the table as it is now: readings that arrive while the preview is
        // open are recorded, but they are not in this report.
        auto source = std::make_shared<RecordTableSource>(*TQM10DB);
        if (source->count() == 0) {
            m_prompts->information(QStringLiteral("There are no records to print."));
            return;
        }
        DataReport report(source);
        if (onPreviewReport)
            onPreviewReport(report);
    });
}
