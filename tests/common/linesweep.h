#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QList>
#include <QProgressBar>
#include <QRandomGenerator>

#include <chrono>

#include "graphchart.h"
#include "lineinvariants.h"
#include "metersession.h"
#include "recordrow.h"
#include "recordtable.h"
#include "tfcomm.h"
#include "windowcontrols.h"

/// Plays the meter's answers into the window's receive handler in the request cycle's rhythm,
/// one answer damaged (and perhaps the one after it), and checks what the window recorded,
/// plotted and showed on its bar against what the meter sent (LineInvariants).
///
/// Time is simulated: the requests go out 100 ms apart (three secondary, one display, one
/// silent tick), each answer starts a few milliseconds after its request and takes 1.04 ms a
/// byte (9600 baud), and the serial driver hands on what has arrived every 50 ms. The polls
/// are placed so that the damaged answer is cut after `split` of its bytes (0: it comes in
/// one delivery); the other answers fall where that puts them.
///
/// Each point plays two cycles: the first with the damage, the second clean, so an answer's
/// loss shows and the next point starts on a clean line. Every display reading differs from
/// the others and every bar from the last few, so each reading tells which answer it came
/// from.
class LineSweep {
public:
    struct Fault {
        enum Kind { Cut, Drop, Double, Insert };
        Kind kind = Cut;
        int at = 0;      ///< cut after `at` bytes; drop, double or insert before byte `at`
        quint8 byte = 0; ///< the inserted byte
    };
    struct Point {
        FrameKind frame = FrameKind::Display;
        QList<Fault> faults;     ///< applied in turn, each to what the one before left
        QList<Fault> nextFaults; ///< the same for the answer after the damaged one
        int split = 0;
        int slot = 2; ///< which of the cycle's secondary answers is damaged
        /// Each answer starts up to this much later; up to 30 ms keeps the bytes of two
        /// answers out of one delivery, which telling bars apart needs.
        int jitterMs = 0;
        quint32 seed = 0; ///< of the jitter (random inserted bytes are in `faults`)
        QString text() const {
            static const char *const kKinds[] = {"cut after", "drop", "double", "insert"};
            const auto said = [](const QList<Fault> &faults) {
                QStringList f;
                for (const Fault &x : faults)
                    f << (x.kind == Fault::Insert ? QStringLiteral("insert %1 at %2")
                                                        .arg(x.byte, 2, 16, QLatin1Char('0'))
                                                        .arg(x.at)
                                                  : QStringLiteral("%1 %2")
                                                        .arg(QLatin1String(kKinds[x.kind]))
                                                        .arg(x.at));
                return f.join(QLatin1String(", "));
            };
            return QStringLiteral("%1%2: %3%4; split after %5, jitter %6 ms, seed %7")
                .arg(frame == FrameKind::Display ? QStringLiteral("display")
                                                 : QStringLiteral("secondary"),
                     frame == FrameKind::Display ? QString() : QStringLiteral(" %1").arg(slot),
                     said(faults),
                     nextFaults.isEmpty() ? QString()
                                          : QStringLiteral("; next answer: ") + said(nextFaults))
                .arg(split)
                .arg(jitterMs)
                .arg(seed);
        }
    };

    static constexpr std::chrono::microseconds kByteTime{1042};
    static constexpr std::chrono::microseconds kPoll{50000};
    static constexpr std::chrono::microseconds kRequest{100000};
    static constexpr std::chrono::microseconds kLatency{3000};

    static QByteArray damaged(QByteArray bytes, const QList<Fault> &faults) {
        for (const Fault &f : faults) {
            switch (f.kind) {
            case Fault::Cut:
                bytes.truncate(f.at);
                break;
            case Fault::Drop:
                bytes.remove(f.at, 1);
                break;
            case Fault::Double:
                bytes.insert(f.at, bytes.at(f.at));
                break;
            case Fault::Insert:
                bytes.insert(f.at, char(f.byte));
                break;
            }
        }
        return bytes;
    }

    /// Every single fault of a frame of `size` bytes: cut after each byte, drop and double
    /// each, insert 0x89, 0x8A, 0x0A and `randomBytes` random bytes at each position.
    static QList<Fault> singleFaults(qsizetype size, QRandomGenerator &random,
                                     int randomBytes = 1) {
        QList<Fault> faults;
        for (int at = 0; at <= size; ++at) {
            if (at > 0 && at < size)
                faults.append({Fault::Cut, at});
            if (at < size)
                faults << Fault{Fault::Drop, at} << Fault{Fault::Double, at};
            for (quint8 b : {0x89, 0x8A, 0x0A})
                faults.append({Fault::Insert, at, b});
            for (int i = 0; i < randomBytes; ++i)
                faults.append({Fault::Insert, at, quint8(random.bounded(256))});
        }
        return faults;
    }

    static QByteArray displayFrame(int n) {
        QByteArray f = QByteArray::fromHex("8970000000 0F 00000000 0A");
        f[4] = n % 2 ? 0x10 : 0x00; // minus
        for (int at = 9, rest = n % 10000; at >= 6; --at, rest /= 10)
            f[at] = char(rest % 10);
        return f;
    }
    static QByteArray secondaryFrame(int n) {
        QByteArray f = QByteArray::fromHex("8A000000000000");
        const int bar = n % 41;
        f[4] = n / 41 % 2 ? 0x10 : 0x00;
        f[5] = char(bar == 10 ? 0x4A : bar); // the meter never sends a line feed inside
        f[6] = '\n';
        return f;
    }

    explicit LineSweep(TFCOMM &w)
        : m_w(w), m_barSign(control<QLabel>(w, "MltSN")), m_bar(control<QProgressBar>(w, "PBar2")),
          m_chart(control<GraphChart>(w, "Chtshow")) {
        // Every reading recorded: no repeat filter, no limit.
        control<QCheckBox>(w, "RepeatSet")->setChecked(false);
        control<QCheckBox>(w, "RecordSI")->setChecked(false);
        w.limitessClick();
        w.setReceiveClock([this] { return m_now; });
        m_barTaken = QObject::connect(w.findChild<MeterSession *>(), &MeterSession::barFrame,
                                      [this] { m_barShown = true; });
        m_records = w.recordTable()->count();
        m_points = m_chart->pointCount();
    }
    ~LineSweep() { QObject::disconnect(m_barTaken); }
    LineSweep(const LineSweep &) = delete;
    LineSweep &operator=(const LineSweep &) = delete;

    /// Plays `point`; returns what broke the promise, each line naming the point.
    QStringList run(const Point &point) {
        using namespace std::chrono;
        QRandomGenerator jitter(point.seed);
        const int damagedTick = point.frame == FrameKind::Display ? 3 : point.slot;
        const int nextTick = damagedTick == 3 ? 5 : damagedTick + 1;
        struct Byte {
            microseconds at;
            char value;
        };
        QList<Byte> line;
        microseconds pollAt{};
        for (int tick = 0; tick < 10; ++tick) {
            if (tick % 5 == 4)
                continue; // the silent tick
            const QByteArray frame =
                tick % 5 == 3 ? displayFrame(m_displays++) : secondaryFrame(m_secondaries++);
            const QByteArray sent = tick == damagedTick ? damaged(frame, point.faults)
                                    : tick == nextTick  ? damaged(frame, point.nextFaults)
                                                        : frame;
            m_invariants.shown(frame, sent);
            const microseconds start =
                tick * kRequest + kLatency + milliseconds(jitter.bounded(point.jitterMs + 1));
            if (tick == damagedTick)
                pollAt = start + point.split * kByteTime + kByteTime / 2;
            for (qsizetype i = 0; i < sent.size(); ++i)
                line.append({start + (i + 1) * kByteTime, sent.at(i)});
        }
        pollAt %= kPoll;
        QByteArray delivery;
        for (qsizetype i = 0; i < line.size(); pollAt += kPoll) {
            delivery.clear();
            for (; i < line.size() && line.at(i).at <= pollAt; ++i)
                delivery += line.at(i).value;
            deliver(delivery, m_segment + pollAt);
        }
        m_segment += 10 * kRequest;
        QStringList violations = m_invariants.finish();
        for (QString &v : violations)
            v = point.text() + QLatin1String(": ") + v;
        return violations;
    }

    const LineInvariants &invariants() const { return m_invariants; }

private:
    void deliver(const QByteArray &bytes, std::chrono::microseconds at) {
        if (bytes.isEmpty())
            return;
        m_now = FrameAssembler::Clock::time_point(at);
        m_barShown = false;
        m_w.QM34RData(m_w.COMM2(), bytes.constData(), int(bytes.size()));
        // One delivery holds one answer's bytes, so it shows at most one bar.
        if (m_barShown)
            m_invariants.taken(LineInvariants::bar({m_barSign->text(), m_bar->value()}));
        const qint64 records = m_w.recordTable()->count();
        const qint64 points = m_chart->pointCount();
        if (records == m_records && points == m_points)
            return;
        // Every reading is both recorded and plotted, the point last.
        const qint64 added = records - m_records;
        const auto rows = m_w.recordTable()->rows(m_records, int(added));
        for (qint64 i = 0; i < added; ++i) {
            const qint64 point = points - added + i;
            const RecordRow &r = rows.at(i);
            m_invariants.taken(LineInvariants::display(
                r.texts[RecordRow::Value], r.texts[RecordRow::Unit], r.texts[RecordRow::DcAc],
                point >= 0 ? m_chart->points()->at(int(point))->value : qQNaN()));
        }
        // A reading of another unit or range clears the graph to its one sample point first.
        if (points != m_points + added && points != added + 1)
            m_invariants.taken(QStringLiteral("%1 points plotted for %2 records")
                                   .arg(points - m_points)
                                   .arg(added));
        m_records = records;
        m_points = points;
    }

    TFCOMM &m_w;
    const QLabel *m_barSign;
    const QProgressBar *m_bar;
    const GraphChart *m_chart;
    LineInvariants m_invariants;
    FrameAssembler::Clock::time_point m_now{};
    std::chrono::microseconds m_segment{std::chrono::hours(1)};
    int m_displays = 0;
    int m_secondaries = 0;
    qint64 m_records = 0;
    qint64 m_points = 0;
    /// The session handed a secondary frame to the bar in this delivery.
    bool m_barShown = false;
    QMetaObject::Connection m_barTaken;
};
