#pragma once

#include "datareport.h"

#include <QDialog>

#include <functional>
#include <memory>

class PreviewView;
class QAction;
class QLabel;
class QPrinter;
class QSpinBox;

/// The preview window of a built report: its pages as the printer will get them, paged
/// with the tool bar or the keys, zoomed, one or two side by side; page set-up lays the
/// report out for the chosen paper at once. Print… sends the chosen pages to a printer and
/// Export PDF… writes them to a file, both under a progress window that can cancel them
/// while the program goes on handling its events; where a cancelled print job would still
/// print the pages painted so far, the progress window says so from the start.
///
/// The dialogs it opens are Prompts, which a caller may replace (tests answer them without
/// blocking); the standard dialogs stand in for those left empty.
class ReportPreview : public QDialog {
    Q_OBJECT

public:
    struct Prompts {
        /// The print dialog on `printer`, offering pages 1 to `pageCount`; true to print.
        std::function<bool(QPrinter &printer, int pageCount)> print;
        /// The page set-up dialog on `printer`; true when accepted.
        std::function<bool(QPrinter &printer)> pageSetup;
        /// The name of the PDF file to write; empty to cancel.
        std::function<QString()> pdfFile;
        /// Throws std::runtime_error when the report must not take the place of `path` (the
        /// open record table, say); asked before Print… writes to a file.
        std::function<void(const QString &path)> checkOutput;
        /// Shows a failure.
        std::function<void(const QString &text)> error;
    };

    /// Let a long run show its progress only after this long.
    static constexpr int kProgressDelayMs = 400;

    /// `report` must outlive the preview; it is laid out for the printer's sheet.
    explicit ReportPreview(DataReport &report, Prompts prompts = {}, QWidget *parent = nullptr);
    ~ReportPreview() override;

    Prompts &prompts() { return m_prompts; }
    PreviewView *view() const { return m_view; }
    QPrinter &printer() { return *m_printer; }

    void printReport();
    void exportPdf();
    void pageSetup();

private:
    QAction *addCommand(const QString &name, const QString &text, const QIcon &icon,
                        const std::function<void()> &run);
    /// Lays the report out for the printer's sheet where that changed. False (the error
    /// shown, the printer back on the report's sheet) when the sheet cannot hold the report.
    bool followPrinter();
    /// Runs `job` under a progress window. Returns what the job returns.
    bool withProgress(const QString &what,
                      const std::function<bool(const DataReport::Progress &)> &job);
    void showCurrentPage(qint64 page);
    void fail(const QString &text);

    DataReport &m_report;
    Prompts m_prompts;
    std::unique_ptr<QPrinter> m_printer;
    PreviewView *m_view = nullptr;
    QSpinBox *m_pageBox = nullptr;
    QLabel *m_pageCount = nullptr;
    bool m_busy = false;
};
