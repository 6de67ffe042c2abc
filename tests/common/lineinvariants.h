#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>

#include "bargraphdecoder.h"
#include "frameassembler.h"
#include "graphpoint.h"
#include "readingdecoder.h"

/// The promise of a damaged line, checked on one stretch of the meter's answers: every
/// reading taken is one the meter showed, in the order shown, and a damaged answer costs at
/// most its own reading and the next answer's.
///
/// A reading is what a frame shows: a display frame's value, unit, AC/DC and graph value, or a
/// secondary frame's bar. The frames carry no checksum, so damage that leaves a whole frame's
/// pattern within the damaged answer's own bytes (the opener, the kind's length, a line feed
/// last, and neither a line feed nor an opener before it) makes a frame no receiver can tell
/// from a sent one. Readings of such a forged frame, taken in the damaged answer's place, are
/// counted apart (forgedBars(), forgedDisplays()), not as violations; anything else that was
/// not shown is.
class LineInvariants {
public:
    /// The reading `frame` makes (which must be a whole frame of its kind), as the sweep
    /// compares readings.
    static QString readingOf(const QByteArray &frame) {
        const QString hex = hexOf(frame.constData(), frame.size());
        if (frame.size() == FrameAssembler::kSecondaryFrameBytes)
            return bar(BarGraphDecoder::decode(mltTextOf(hex)));
        const DecodedFrame f = ReadingDecoder::decode(hex, 0);
        return display(f.valueText, f.unitText, f.acDcText, GraphPoint::valueOf(f));
    }
    static QString display(const QString &value, const QString &unit, const QString &acDc,
                           double graphValue) {
        return QStringLiteral("%1 %2 %3 (plotted %4)").arg(value, unit, acDc).arg(graphValue);
    }
    static QString bar(const BarGraphDecoder::Bar &b) {
        return QStringLiteral("bar %1%2")
            .arg(b.sign)
            .arg(std::min(b.position, int(BarGraphDecoder::kFullPosition)));
    }

    /// The readings of the whole frame patterns in `bytes` other than `sent`.
    static QStringList forgedReadings(const QByteArray &bytes, const QByteArray &sent) {
        QStringList forged;
        for (qsizetype end = bytes.indexOf('\n'); end >= 0; end = bytes.indexOf('\n', end + 1))
            for (const auto &[opener, length] :
                 {std::pair{'\x8A', FrameAssembler::kSecondaryFrameBytes},
                  std::pair{'\x89', FrameAssembler::kDisplayFrameBytes}}) {
                const QByteArray frame = bytes.mid(end + 1 - length, length);
                const QByteArray body = frame.mid(1);
                if (end + 1 >= length && frame.front() == opener && body.count('\n') == 1 &&
                    !body.contains('\x89') && !body.contains('\x8A') && frame != sent)
                    forged << readingOf(frame);
            }
        return forged;
    }

    /// The meter sent `frame`; `received` is what the line made of it when it was damaged.
    void shown(const QByteArray &frame, const QByteArray &received) {
        const bool damaged = received != frame;
        m_shown.append(
            {readingOf(frame), damaged, damaged ? forgedReadings(received, frame) : QStringList()});
    }
    void taken(const QString &reading) { m_taken << reading; }

    /// Checks the stretch shown and taken since the last call and starts the next; returns
    /// what broke the promise.
    QStringList finish() {
        QStringList violations;
        QList<bool> accounted(m_shown.size(), false);
        qsizetype next = 0;
        for (const QString &reading : std::as_const(m_taken)) {
            ++m_checks;
            qsizetype at = next;
            bool forged = false;
            for (; at < m_shown.size(); ++at) {
                const Shown &s = m_shown.at(at);
                forged = s.damaged && s.forged.contains(reading);
                if (s.reading == reading || forged)
                    break;
            }
            if (at == m_shown.size()) {
                violations << QStringLiteral("false reading \"%1\"").arg(reading);
                continue;
            }
            accounted[at] = true;
            if (forged)
                ++(reading.startsWith(u"bar ") ? m_forgedBars : m_forgedDisplays);
            // A forged frame stands in the damaged answer's place; the answer's own reading
            // may still come with it.
            next = forged ? at : at + 1;
        }
        for (qsizetype i = 0; i < m_shown.size(); ++i) {
            ++m_checks;
            if (!accounted.at(i) && !m_shown.at(i).damaged && !(i > 0 && m_shown.at(i - 1).damaged))
                violations
                    << QStringLiteral("answer %1 lost (\"%2\")").arg(i).arg(m_shown.at(i).reading);
        }
        m_shown.clear();
        m_taken.clear();
        return violations;
    }

    /// Readings and answers checked so far, and the readings of forged frames among them:
    /// bars, and display readings (recorded and plotted).
    qint64 checks() const { return m_checks; }
    qint64 forgedBars() const { return m_forgedBars; }
    qint64 forgedDisplays() const { return m_forgedDisplays; }

private:
    struct Shown {
        QString reading;
        bool damaged = false;
        QStringList forged;
    };
    QList<Shown> m_shown;
    QStringList m_taken;
    qint64 m_checks = 0;
    qint64 m_forgedBars = 0;
    qint64 m_forgedDisplays = 0;
};
