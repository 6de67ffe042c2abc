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
    return write(report, path, report.allPages(), progress);
}

bool PdfExport::write(const DataReport &report, const QString &path,
                      const std::vector<qint64> &pages, const DataReport::Progress &progress) {
    const QString shown = QDir::toNativeSeparators(path);
    if (report.pageCount() == 0)
        raise(QStringLiteral("There are no records to print."));
    const QFileInfo target(path);
    if (target.isDir())
        raise(QStringLiteral("%1 is a folder: the report was not exported.").arg(shown));
    // The owner's write permission, not access(): as administrator every file is writable,
    // and a file marked read-only must stay as it is all the same.
    if (target.exists() && (!target.isWritable() || !target.permission(QFile::WriteOwner)))
        raise(QStringLiteral("%1 is read-only: the report was not exported.").arg(shown));

    ReplacingFile file(path);
    if (!file.open())
        raise(QStringLiteral("The report could not be exported to %1: %2")
                  .arg(shown, file.errorString()));
    // Not committed, the file goes with its temporary copy; the target is untouched.
    if (!paint(report, file.file(), pages, progress))
        return false;
    if (!file.commit())
        raise(QStringLiteral("The report could not be exported to %1: %2")
                  .arg(shown, file.errorString()));
    return true;
}

bool PdfExport::paint(const DataReport &report, QIODevice &device, const std::vector<qint64> &pages,
                      const DataReport::Progress &progress) {
    QPdfWriter writer(&device);
    writer.setPageLayout(report.pageLayout());
    writer.setTitle(QLatin1String(BandLayout::kTitle));
    return report.render(writer, pages, progress);
}
