#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

/// Reads a capture written as lines of hex, chunk by chunk as it arrives. A line ends at a
/// line feed, a carriage return or both; its hex digits (either case) become bytes, and
/// blanks (spaces, tabs) between them are skipped. A line holding anything else, or an odd
/// number of digits, is refused with its number and the reason. Each byte is looked at once,
/// so a line of any length costs time in proportion to its length.
class HexLineReader {
public:
    /// A line's bytes; blank lines are not handed on.
    using LineHandler = std::function<void(const QByteArray &bytes)>;
    using RefusalHandler = std::function<void(qint64 lineNumber, const QString &reason)>;

    HexLineReader(LineHandler onLine, RefusalHandler onRefusal)
        : m_onLine(std::move(onLine)), m_onRefusal(std::move(onRefusal)) {}

    void feed(const char *data, qsizetype size);
    /// The end of the input: a last line without a line end still counts.
    void finish();

    qint64 refusedLines() const { return m_refused; }
    /// A refused line held bytes that no text file holds: the input is likely a capture of
    /// raw bytes.
    bool sawRawBytes() const { return m_sawRawBytes; }

private:
    void endLine();
    void refuse(const QString &reason);

    LineHandler m_onLine;
    RefusalHandler m_onRefusal;
    QByteArray m_bytes;
    int m_highNibble = -1;
    qint64 m_column = 0;
    qint64 m_lineNumber = 1;
    QString m_refusal;
    bool m_afterCarriageReturn = false;
    bool m_sawRawBytes = false;
    qint64 m_refused = 0;
};
