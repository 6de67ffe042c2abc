#pragma once

#include <QString>

#include "comporttypes.h"

/// Maps the program's four port choices to the operating system's device names.
///
/// COM1..COM4 are /dev/ttyS0../dev/ttyS3 on Linux and COM1..COM4 on Windows. The
/// environment variable QM_COMn (QM_COM1=/dev/ttyUSB0, say) points port n anywhere
/// else, which is how a USB adapter or the meter emulator's pseudo-terminal is used.
namespace PortNames {

/// "COM1".."COM4": the name the user sees.
QString displayName(TComPortNumber port);

/// The device path that opening the port uses, with the QM_COMn override applied.
QString devicePath(TComPortNumber port);

/// `path` with symbolic links resolved, so that a link and its target are one port for the
/// lock that makes the open exclusive. Unchanged when the path does not exist.
QString canonicalPath(const QString &path);

/// devicePath() as canonicalPath() gives it.
QString canonicalDevicePath(TComPortNumber port);

} // namespace PortNames
