#pragma once

#include "datareport.h"

#include <QString>

/// Writes a report, laid out as it is, to a PDF file. The file appears only once it is
/// complete: until then an existing file of that name stays as it was, and a failed or
/// stopped export leaves nothing behind. A read-only file is refused before anything is
/// written, since putting a new file in its place would silently replace it.
class PdfExport {
public:
    /// Returns false when `progress` stopped the export. Throws std::runtime_error saying
    /// why the file could not be written.
    static bool write(const DataReport &report, const QString &path,
                      const DataReport::Progress &progress = {});
};
