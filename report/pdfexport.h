#pragma once

#include "datareport.h"

#include <QString>

#include <vector>

class QIODevice;

/// Writes a report, laid out as it is, to a PDF file. The file appears only once it is
/// complete: until then an existing file of that name stays as it was, and a failed or
/// stopped export leaves nothing behind. A folder or a read-only file is refused before
/// anything is written, since putting a new file in its place would silently replace it.
class PdfExport {
public:
    /// Every page. Returns false when `progress` stopped the export. Throws
    /// std::runtime_error saying why the file could not be written.
    static bool write(const DataReport &report, const QString &path,
                      const DataReport::Progress &progress = {});
    /// The pages of `pages` (from 0, in that order; a page may come again for a further
    /// copy), as a print into a file asks for them.
    static bool write(const DataReport &report, const QString &path,
                      const std::vector<qint64> &pages, const DataReport::Progress &progress = {});
    /// Paints `pages` as a PDF document into `device`, open for writing. Returns false when
    /// `progress` stopped it. Throws std::runtime_error when a page cannot be made.
    static bool paint(const DataReport &report, QIODevice &device, const std::vector<qint64> &pages,
                      const DataReport::Progress &progress);
};
