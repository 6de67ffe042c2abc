#include "datafilenames.h"

QString DataFileNames::openFilter() {
    return QStringLiteral("access data files (*.DB);;All files (*.*)");
}

QString DataFileNames::saveFilter() {
    return QStringLiteral("Excel File(*.xls);;DB File(*.db);;Txt File(*.txt);;All File(*.*)");
}

QString DataFileNames::defaultExtension() {
    return QStringLiteral("xls");
}

QString DataFileNames::extensionOf(const QString &path) {
    const qsizetype nameStart = path.lastIndexOf(u'/') + 1;
    const qsizetype dot = path.lastIndexOf(u'.');
    return dot >= nameStart ? path.mid(dot) : QString();
}

QString DataFileNames::withDefaultExtension(const QString &path) {
    if (!extensionOf(path).isEmpty())
        return path;
    return path + u'.' + defaultExtension();
}

bool DataFileNames::isTableCopy(const QString &path) {
    return extensionOf(path) == u".db";
}
