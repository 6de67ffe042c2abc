#pragma once

#include <QLatin1String>
#include <QObject>
#include <QtGlobal>

/// The control or component of `window` whose objectName is `name` (its design name). One
/// that is missing, or of another type, ends the program naming it: every later step would
/// only crash on a null pointer without saying which control it missed.
template <class T> T *control(const QObject &window, const char *name) {
    T *found = window.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("%s: no %s named %s", qPrintable(window.objectName()),
               T::staticMetaObject.className(), name);
    return found;
}
