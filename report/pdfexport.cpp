#include "pdfexport.h"

#include "bandlayout.h"
#include "replacingfile.h"

#include <QDir>
#include <QFileInfo>
#include <QPdfWriter>

#include <stdexcept>

namespace {

[[noreturn]] void raise(const QString &text) {
    throw std::runtime_error(text.toStdString());
}

} // namespace

bool PdfExport::write(const DataReport &report, const QString &path,
                      const DataReport::Progress &progress) {
    const QString shown = QDir::toNativeSeparators(path);
    if (report.pageCount() == 0)
        raise(QStringLiteral("There are no records to print."));
    const QFileInfo target(path);
    // The owner's write permission, not access(): as administrator every file is writable,
    // and a file marked read-only must stay as it is all the same.
    if (target.exists() &&
        (target.isDir() || !target.isWritable() || !target.permission(QFile::WriteOwner)))
        raise(QStringLiteral("%1 is read-only: the report was not exported.").arg(shown));

    ReplacingFile file(path);
    if (!file.open())
        raise(QStringLiteral("The report could not be exported to %1: %2")
                  .arg(shown, file.errorString()));
    bool complete = false;
    {
        QPdfWriter writer(&file.file());
        writer.setPageLayout(report.pageLayout());
        writer.setTitle(QLatin1String(BandLayout::kTitle));
        // Not committed, the file goes with its temporary copy; the target is untouched.
        complete = report.render(writer, report.allPages(), progress);
    }
    if (!complete)
        return false;
    if (!file.commit())
        raise(QStringLiteral("The report could not be exported to %1: %2")
                  .arg(shown, file.errorString()));
    return true;
}
