#pragma once

#include "frameassembler.h"

#include <QString>

#include <functional>

/// Turns meter frames into one JSON line each, the way the window handles them: display
/// frames through the reading decoder, secondary frames through the bar graph decoder,
/// anything else reported as "other".
///
/// Like the window, a session keeps the scale settings that the last display frame left
/// and frames raw bytes with a FrameAssembler whose clock never moves (so a fragment never
/// goes stale however the input is chunked).
class DecodeSession {
public:
    using LineHandler = std::function<void(const QString &json)>;

    explicit DecodeSession(int relState = 0) : m_relState(relState) {}

    /// One frame given as hex text (two digits per byte, "0A" included). Spaces, tabs and
    /// line ends are dropped and small letters taken as capitals; the rest is handed whole
    /// to the decoder, without re-framing. Returns an empty string for a blank line.
    QString decodeHexLine(const QString &line);

    /// Raw bytes, cut into frames at each line feed; every finished frame is reported.
    void feedBytes(const char *data, int size, const LineHandler &onLine);

    /// JSON line for one frame's hex text.
    QString decodeFrame(const QString &hex);

    bool hundredMode() const { return m_hundredMode; }
    int span() const { return m_span; }
    int offset() const { return m_offset; }

    /// A JSON string literal for `text`.
    static QString jsonString(const QString &text);

private:
    int m_relState;
    FrameAssembler m_frames;
    // Start values of the window's scale settings.
    bool m_hundredMode = false;
    int m_span = 80;
    int m_offset = 0;
};
