#include "portnames.h"

#include <QFileInfo>

namespace PortNames {

static int portNumber(TComPortNumber port) {
    return static_cast<int>(port) + 1;
}

static QByteArray overrideName(TComPortNumber port) {
    return QByteArray("QM_COM") + QByteArray::number(portNumber(port));
}

QString displayName(TComPortNumber port) {
    return QStringLiteral("COM%1").arg(portNumber(port));
}

QString devicePath(TComPortNumber port) {
    // Read as the system holds it: qgetenv() would pass a Windows value through the ANSI
    // code page, which loses every letter it lacks.
    const QString override = qEnvironmentVariable(overrideName(port).constData());
    if (!override.isEmpty())
        return override;
#ifdef Q_OS_WIN
    return displayName(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNumber(port) - 1);
#endif
}

QString canonicalPath(const QString &path) {
#ifndef Q_OS_WIN
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
#endif
    return path;
}

QString canonicalDevicePath(TComPortNumber port) {
    return canonicalPath(devicePath(port));
}

} // namespace PortNames
