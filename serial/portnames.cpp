#include "portnames.h"

#include <QFileInfo>

namespace PortNames {

static int portNumber(TComPortNumber port) { return static_cast<int>(port) + 1; }

QString displayName(TComPortNumber port) { return QStringLiteral("COM%1").arg(portNumber(port)); }

QString devicePath(TComPortNumber port) {
    const QByteArray override = qgetenv(qPrintable(QStringLiteral("QM_COM%1").arg(portNumber(port))));
    if (!override.isEmpty())
        return QString::fromLocal8Bit(override);
#ifdef Q_OS_WIN
    return displayName(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber(port) - 1);
#endif
}

QString canonicalDevicePath(TComPortNumber port) {
    const QString path = devicePath(port);
#ifndef Q_OS_WIN
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
#endif
    return path;
}

} // namespace PortNames
