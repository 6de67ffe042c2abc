#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>

/// What a piece of the meter's byte stream is.
enum class FrameKind {
    Display,   ///< a main display frame: 0x89, 11 bytes with its line feed
    Secondary, ///< a secondary frame: 0x8A, 7 bytes with its line feed
    Other,     ///< a line opened by any other byte: only logged
    Noise,     ///< line damage: a frame of the wrong length, a cut frame, junk before a frame
};

/// Cuts the meter's byte stream into frames.
///
/// A frame runs up to and including a line feed (0x0A) and is handed on as its hex text:
/// two upper-case digits per byte, "0A" included. The meter's frames have fixed lengths
/// (11 bytes for 0x89, 7 for 0x8A), and every line feed it sends ends a whole answer: a
/// frame that loses bytes on the line loses its line feed with them. Nor does it send 0x89
/// or 0x8A anywhere but at the start of a frame. So the frame is read from the end of a
/// line: it starts at the line's last opener, and when that gives the kind's length it is
/// the frame, while anything before it is damage (the head of a cut answer, junk); a line
/// that ends in no whole frame is damage too, unless its first byte names no frame at all
/// (an "other" line, logged and ignored). Damage is handed on as Noise, never as a frame,
/// so it cannot become a reading.
///
/// Bytes of a line that is not finished when a delivery ends are carried over to the next
/// one, because a frame often straddles two polls of the port. Carried bytes are joined
/// only with bytes that come within kCarryWindow of them: the rest of a split frame comes
/// with the next poll, while the next answer comes a request later. More than kMaxCarryBytes
/// without a line feed is junk: it is dropped up to the next line feed.
class FrameAssembler {
public:
    using Clock = std::chrono::steady_clock;
    using FrameHandler = std::function<void(const QString &hex, FrameKind kind)>;

    static constexpr int kDisplayFrameBytes = 11;
    static constexpr int kSecondaryFrameBytes = 7;
    static constexpr int kMaxCarryBytes = 64;
    /// The second half of a split frame reaches the framing one poll (50 ms) after the
    /// first, the next answer one request (100 ms) after the last; see bench/RESULTS.md.
    static constexpr std::chrono::milliseconds kCarryWindow{75};

    /// Feeds one delivery of bytes received at `now`; calls `onFrame` for every frame and
    /// every piece of noise that completes, in order. If `onFrame` throws, the rest of the
    /// delivery and the carried fragment are dropped and the exception goes on to the caller.
    void feed(const char *data, int size, Clock::time_point now, const FrameHandler &onFrame);

    /// Forgets any unfinished frame (the port was closed or reopened).
    void reset();

    /// The bytes of the unfinished line carried to the next delivery.
    const QByteArray &pending() const { return m_pending; }
    /// Pieces handed on as Noise since the assembler was made.
    qint64 noiseCount() const { return m_noiseCount; }

private:
    void carry(const char *data, int size, Clock::time_point now, const FrameHandler &onFrame);
    /// Hands on the carried bytes and the first of `data`, kMaxCarryBytes + 1 in all, as
    /// the noise of a line too long for any frame; the carry is left empty.
    void tellJunk(const char *data, qsizetype size, const FrameHandler &onFrame);
    void completeLine(const char *line, qsizetype size, const FrameHandler &onFrame);
    void hand(const char *bytes, qsizetype size, FrameKind kind, const FrameHandler &onFrame);

    QByteArray m_pending;
    /// When bytes were last carried over.
    Clock::time_point m_carriedAt{};
    /// The carry overflowed: bytes are dropped up to the next line feed.
    bool m_skipping = false;
    qint64 m_noiseCount = 0;
};

/// What the first byte of a frame says it is: "89..." is a main display frame, "8A..." a
/// secondary frame, anything else is only logged. Says nothing of the length.
FrameKind frameKindOf(const QString &hex);

/// The five hex digits that a secondary frame carries for the bar graph: byte 6, byte 5,
/// then the low nibble of byte 3 (characters 11-12, 9-10 and 6 of the hex text). Missing
/// characters of a short frame contribute nothing.
QString mltTextOf(const QString &hex);

/// Two upper-case hex digits per byte.
QString hexOf(const char *data, qsizetype size);

/// Value of an upper-case hex digit of a frame's text, or -1 for any other character.
int hexDigitValue(QChar c);
