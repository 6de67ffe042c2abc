#pragma once

#include <QString>

#include <cstdio>

/// Writes the logger's messages. Into a file or a pipe they go as UTF-8; into a Windows
/// console as wide text, since a console shows bytes in its own code page and would turn
/// "C:\Users\Jürgen" into another name.
namespace ConsoleText {

/// Writes `text` to `stream` and flushes it.
void write(FILE *stream, const QString &text);

} // namespace ConsoleText
