#include "tfcomm.h"

#include "datareport.h"
#include "recordtable.h"
#include "recordtablesource.h"
#include "reportpreview.h"

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
        ReportPreview::exec(report, this, [this](const QString &text) { m_prompts->error(text); });
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
