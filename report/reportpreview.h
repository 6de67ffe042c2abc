#pragma once

#include <QString>

#include <functional>
#include <memory>

class DataReport;
class QPrintPreviewDialog;
class QPrinter;
class QWidget;

/// The preview window of a built report: pages shown as the printer will get them, with
/// printing and page set-up from its tool bar. Its print command offers the page range 1 to
/// the report's page count and the number of copies, then prints those pages.
class ReportPreview {
public:
    /// Shows a failure of painting or printing; the preview cannot let it escape.
    using ErrorSink = std::function<void(const QString &text)>;

    /// A preview of `report` on `printer`, not yet shown. Both must outlive the dialog.
    static std::unique_ptr<QPrintPreviewDialog>
    makeDialog(const DataReport &report, QPrinter &printer, QWidget *parent, ErrorSink onError);
    /// Shows the preview of `report` and returns when the user closes it.
    static void exec(const DataReport &report, QWidget *parent, ErrorSink onError);
};
