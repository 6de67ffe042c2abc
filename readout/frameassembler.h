#pragma once

#include <QString>

#include <chrono>
#include <functional>

/// Cuts the meter's byte stream into frames.
///
/// A frame runs up to and including a line feed (0x0A) and is handed on as its hex text:
/// two upper-case digits per byte, "0A" included. Bytes of a frame that is not finished
/// when a delivery ends are carried over to the next delivery, because a frame often
/// straddles two polls of the port. The carry is bounded: more than kMaxCarryBytes without
/// a line feed is garbage and is dropped, and a fragment older than kStaleAfter is dropped
/// before new bytes are added, since a frame's bytes arrive within milliseconds of each
/// other and an old fragment would only corrupt the next frame.
class FrameAssembler {
public:
    using Clock = std::chrono::steady_clock;
    using FrameHandler = std::function<void(const QString &hex)>;

    static constexpr int kMaxCarryBytes = 64;
    static constexpr std::chrono::milliseconds kStaleAfter{200};

    /// Feeds one delivery of bytes received at `now`; calls `onFrame` for every frame that
    /// completes, in order. If `onFrame` throws, the rest of the delivery and the carried
    /// fragment are dropped and the exception goes on to the caller.
    void feed(const char *data, int size, Clock::time_point now, const FrameHandler &onFrame);

    /// Forgets any unfinished frame (the port was closed or reopened).
    void reset();

    /// Hex text of the unfinished frame carried to the next delivery.
    const QString &pendingHex() const { return m_pending; }

private:
    QString m_pending;
    Clock::time_point m_pendingSince{};
};

/// What the first byte of a frame says it is.
enum class FrameKind { Display, Secondary, Other };

/// "89..." is a main display frame, "8A..." a secondary frame, anything else is only logged.
FrameKind frameKindOf(const QString &hex);

/// The five hex digits that a secondary frame carries for the bar graph: byte 6, byte 5,
/// then the low nibble of byte 3 (characters 11-12, 9-10 and 6 of the hex text). Missing
/// characters of a short frame contribute nothing.
QString mltTextOf(const QString &hex);

/// Two upper-case hex digits per byte.
QString hexOf(const char *data, int size);

/// Value of an upper-case hex digit of a frame's text, or -1 for any other character.
int hexDigitValue(QChar c);
