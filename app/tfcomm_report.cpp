#include "tfcomm.h"

#include "datareport.h"
#include "recordtable.h"
#include "recordtablesource.h"
#include "reportpreview.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QToolButton>

#include <memory>

namespace {

/// A small printer: paper going in at the top, the body, the printed sheet coming out.
QIcon printerGlyph() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QColor(64, 64, 64));
    p.setBrush(Qt::white);
    p.drawRect(4, 1, 7, 5);
    p.setBrush(QColor(176, 176, 176));
    p.drawRect(1, 6, 13, 5);
    p.setBrush(Qt::white);
    p.drawRect(4, 9, 7, 5);
    p.drawLine(6, 11, 9, 11);
    p.setPen(QColor(0, 160, 0));
    p.drawPoint(12, 8);
    return QIcon(pixmap);
}

} // namespace

void TFCOMM::buildReport() {
    SpeedButton2->setIcon(QIcon::fromTheme(QStringLiteral("document-print"), printerGlyph()));
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
