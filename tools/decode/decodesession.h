#pragma once

#include "frameassembler.h"

#include <QString>

#include <functional>

/// Turns meter frames into one JSON line each, the way the window handles them: display
/// frames through the reading decoder, secondary frames through the bar graph decoder,
/// anything else reported as "other". Unlike the window, a frame of the wrong length is
/// still decoded by its first byte; its line says how many bytes it had ("length").
///
/// Like the window, a session keeps the scale settings that the last display frame left
/// and frames raw bytes with a FrameAssembler whose clock never moves (so a fragment never
/// goes stale however the input is chunked).
class DecodeSession {
public:
    using LineHandler = std::function<void(const QString &json)>;

    explicit DecodeSession(int relState = 0) : m_relState(relState) {}

    /// The bytes of one line of a hex capture: a frame, or frames run together, each ended
    /// by its line feed (a last one without it is decoded as it is).
    void feedLine(const QByteArray &bytes, const LineHandler &onLine);

    /// Raw bytes, cut into frames as the window cuts them; every finished frame and every
    /// piece of line noise is reported.
    void feedBytes(const char *data, int size, const LineHandler &onLine);
    /// The bytes of a frame that the raw input has not finished.
    const QByteArray &unfinishedBytes() const { return m_frames.pending(); }

    bool hundredMode() const { return m_hundredMode; }
    int span() const { return m_span; }
    int offset() const { return m_offset; }

    /// A JSON string literal for `text`.
    static QString jsonString(const QString &text);

private:
    /// JSON line for one frame's hex text.
    QString decodeFrame(const QString &hex);
    /// `hex` holds at least the bytes that the decoders read of a frame of `bytes` bytes.
    QString decode(const QString &hex, qsizetype bytes);

    int m_relState;
    FrameAssembler m_frames;
    // Start values of the window's scale settings.
    bool m_hundredMode = false;
    int m_span = 80;
    int m_offset = 0;
};
