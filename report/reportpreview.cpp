#include "reportpreview.h"

#include "datareport.h"
#include "reportprinting.h"

#include <QAction>
#include <QGuiApplication>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QScopeGuard>

#include <exception>
#include <limits>

namespace {

/// The print dialog as the report wants it: pages 1 to the page count to choose from.
void askAndPrint(QPrintPreviewDialog &preview, QPrinter &printer, qint64 pageCount) {
    QPrintDialog dialog(&printer, &preview);
    dialog.setMinMax(1, int(std::clamp<qint64>(pageCount, 1, std::numeric_limits<int>::max())));
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setOption(QAbstractPrintDialog::PrintCollateCopies, true);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The preview asks for the pages again, now with the printer's chosen settings.
    if (auto *widget = preview.findChild<QPrintPreviewWidget *>())
        widget->print();
    preview.accept();
}

} // namespace

std::unique_ptr<QPrintPreviewDialog> ReportPreview::makeDialog(const DataReport &report,
                                                               QPrinter &printer, QWidget *parent,
                                                               ErrorSink onError) {
    ReportPrinting::preparePrinter(printer, report);
    auto dialog = std::make_unique<QPrintPreviewDialog>(&printer, parent);
    QObject::connect(dialog.get(), &QPrintPreviewDialog::paintRequested, dialog.get(),
                     [&report, onError](QPrinter *target) {
                         // Every page is painted before the preview shows (seconds for a
                         // large table): say that the program is busy, not hung.
                         QGuiApplication::setOverrideCursor(Qt::WaitCursor);
                         const auto restore =
                             qScopeGuard([] { QGuiApplication::restoreOverrideCursor(); });
                         try {
                             ReportPrinting::print(report, *target);
                         } catch (const std::exception &e) {
                             if (onError)
                                 onError(QString::fromUtf8(e.what()));
                         }
                     });
    // The dialog's own print command opens a print dialog that knows nothing of the page
    // count. Its action is found by its connection, so that a Qt that names or orders its
    // tool bar differently still gets the plain command.
    QPrintPreviewDialog *preview = dialog.get();
    const qint64 pages = report.pageCount();
    for (QAction *action : dialog->findChildren<QAction *>()) {
        if (QObject::disconnect(action, SIGNAL(triggered(bool)), preview, SLOT(_q_print()))) {
            action->setObjectName(QStringLiteral("printAction"));
            QObject::connect(action, &QAction::triggered, preview,
                             [preview, &printer, pages] { askAndPrint(*preview, printer, pages); });
            break;
        }
    }
    // The bands are laid out for portrait paper; on a landscape sheet the lower half of
    // every page would be cut off.
    if (auto *widget = dialog->findChild<QPrintPreviewWidget *>()) {
        for (QAction *action : dialog->findChildren<QAction *>()) {
            const bool landscape = QObject::disconnect(action, SIGNAL(triggered(bool)), widget,
                                                       SLOT(setLandscapeOrientation()));
            const bool portrait = QObject::disconnect(action, SIGNAL(triggered(bool)), widget,
                                                      SLOT(setPortraitOrientation()));
            if (landscape || portrait)
                action->setVisible(false);
        }
    }
    return dialog;
}

void ReportPreview::exec(const DataReport &report, QWidget *parent, ErrorSink onError) {
    QPrinter printer(QPrinter::HighResolution);
    const auto dialog = makeDialog(report, printer, parent, std::move(onError));
    dialog->exec();
}
