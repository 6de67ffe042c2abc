#include "consoletext.h"

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#endif

namespace ConsoleText {

void write(FILE *stream, const QString &text) {
#ifdef Q_OS_WIN
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        std::fflush(stream);
        const std::wstring wide = text.toStdWString();
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
#endif
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

} // namespace ConsoleText
