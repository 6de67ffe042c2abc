#include "portnames.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <stdlib.h>
#endif

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

bool setOverride(TComPortNumber port, const QString &path) {
#ifdef Q_OS_WIN
    const std::wstring entry =
        (QString::fromLatin1(overrideName(port)) + QLatin1Char('=') + path).toStdWString();
    return _wputenv(entry.c_str()) == 0;
#else
    return qputenv(overrideName(port).constData(), QFile::encodeName(path));
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
