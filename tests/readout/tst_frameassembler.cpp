#include <QRandomGenerator>
#include <QTest>

#include <stdexcept>

#include "frameassembler.h"

namespace {
using namespace std::chrono_literals;
using Clock = FrameAssembler::Clock;
const Clock::time_point t0{};

QByteArray bytes(const char *spaced) {
    return QByteArray::fromHex(spaced);
}

const QByteArray kDisplay = bytes("89 70 00 00 00 0F 01 02 03 04 0A");
const QByteArray kSecondary = bytes("8A 00 37 00 12 34 0A");
// The next answers, told apart from the cut ones by their contents.
const QByteArray kNextDisplay = bytes("89 70 00 00 10 0F 05 06 07 08 0A");
const QByteArray kNextSecondary = bytes("8A 00 00 00 00 06 0A");

QString tagged(FrameKind kind, const QString &hex) {
    static const char *const kTags[] = {"display ", "secondary ", "other ", "noise "};
    return QLatin1String(kTags[int(kind)]) + hex;
}
QString tagged(FrameKind kind, const QByteArray &frame) {
    return tagged(kind, hexOf(frame.constData(), frame.size()));
}
QString tagged(const QByteArray &frame) {
    return tagged(frame.size() == 11 ? FrameKind::Display : FrameKind::Secondary, frame);
}

/// A display frame with a reading of its own: DC volts, the digits of `n`.
QByteArray displayFrame(int n) {
    QByteArray f = kDisplay;
    for (int at = 9; at >= 6; --at, n /= 10)
        f[at] = char(n % 10);
    return f;
}
} // namespace

class TestFrameAssembler : public QObject {
    Q_OBJECT

    QStringList frames;
    FrameAssembler::FrameHandler collect = [this](const QString &hex, FrameKind kind) {
        frames << tagged(kind, hex);
    };
    /// The frames handed on as display or secondary frames.
    QStringList wholeFrames() const {
        QStringList whole;
        for (const QString &f : frames)
            if (f.startsWith(u"display") || f.startsWith(u"secondary"))
                whole << f;
        return whole;
    }
    void feed(FrameAssembler &a, const QByteArray &chunk, Clock::time_point at) {
        a.feed(chunk.constData(), int(chunk.size()), at, collect);
    }

private slots:
    void init() { frames.clear(); }

    void twoFramesInOneChunkInOrder() {
        FrameAssembler a;
        feed(a, kDisplay + kSecondary, t0);
        QCOMPARE(frames, QStringList({tagged(FrameKind::Display, kDisplay),
                                      tagged(FrameKind::Secondary, kSecondary)}));
        QCOMPARE(frameKindOf(hexOf(kSecondary.constData(), 7)), FrameKind::Secondary);
        QCOMPARE(mltTextOf(hexOf(kSecondary.constData(), 7)), QStringLiteral("34127"));
        QVERIFY(a.pending().isEmpty());
        QCOMPARE(a.noiseCount(), 0);
    }

    // However a frame is cut across deliveries, it is handed on once and whole.
    void frameSplitAtEveryBoundary() {
        for (const QByteArray &frame : {kDisplay, kSecondary}) {
            for (int cut = 1; cut < frame.size(); ++cut) {
                frames.clear();
                FrameAssembler a;
                feed(a, frame.left(cut), t0);
                QVERIFY(frames.isEmpty());
                feed(a, frame.mid(cut), t0 + 60ms);
                QCOMPARE(frames, QStringList{tagged(frame)});
            }
        }
        // And byte by byte, each in a delivery of its own.
        FrameAssembler a;
        frames.clear();
        for (int i = 0; i < kDisplay.size(); ++i)
            feed(a, kDisplay.mid(i, 1), t0 + i * 5ms);
        QCOMPARE(frames, QStringList{tagged(FrameKind::Display, kDisplay)});
    }

    // What one delivery is cut into, and what each piece is. A frame is read from the end
    // of its line: whatever comes before it is damage, and so is a frame of another length.
    void kinds_data() {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<QStringList>("pieces");
        QTest::newRow("lone line feed") << bytes("0A") << QStringList{"other 0A"};
        QTest::newRow("other kind") << bytes("55 AA 0A") << QStringList{"other 55AA0A"};
        QTest::newRow("short display") << bytes("89 70 0A") << QStringList{"noise 89700A"};
        QTest::newRow("display cut after 6 bytes")
            << bytes("89 70 00 00 00 0F 0A") << QStringList{"noise 89700000000F0A"};
        QTest::newRow("long display") << bytes("89 01 02 03 04 05 06 07 08 09 10 11 0A")
                                      << QStringList{"noise 8901020304050607080910110A"};
        QTest::newRow("short secondary")
            << bytes("8A 00 37 00 12 0A") << QStringList{"noise 8A003700120A"};
        QTest::newRow("junk before a display frame")
            << bytes("55 89 89 0D") + kDisplay
            << QStringList{"noise 5589890D", tagged(FrameKind::Display, kDisplay)};
        QTest::newRow("junk before a secondary frame")
            << bytes("8A 12") + kSecondary
            << QStringList{"noise 8A12", tagged(FrameKind::Secondary, kSecondary)};
        // Four bytes of a display frame before a whole secondary one also make 11 bytes that
        // open with 0x89: the shorter frame wins.
        QTest::newRow("display cut after 4 bytes, then a secondary frame")
            << bytes("89 70 00 00") + kSecondary
            << QStringList{"noise 89700000", tagged(FrameKind::Secondary, kSecondary)};
        QTest::newRow("secondary cut short swallows no display frame")
            << bytes("8A 00 37") + kDisplay
            << QStringList{"noise 8A0037", tagged(FrameKind::Display, kDisplay)};
        // The meter sends an opener only to open a frame: one inside a frame's length means
        // two pieces, here the head of a cut answer and a damaged next one, or an opener
        // doubled and a byte lost, which make no frame however long they come out.
        QTest::newRow("cut secondary, then a damaged one")
            << bytes("8A 00 00 8A 00 00 0A") << QStringList{"noise 8A0000", "noise 8A00000A"};
        QTest::newRow("opener doubled, a byte lost")
            << bytes("89 89 70 00 00 0F 01 02 03 04 0A")
            << QStringList{"noise 89", "noise 897000000F010203040A"};
        QTest::newRow("junk, then a short frame")
            << bytes("55 89 70 0A") << QStringList{"noise 55", "noise 89700A"};
    }
    void kinds() {
        QFETCH(QByteArray, chunk);
        QFETCH(QStringList, pieces);
        FrameAssembler a;
        feed(a, chunk, t0);
        QCOMPARE(frames, pieces);
        QCOMPARE(a.noiseCount(), pieces.filter(QStringLiteral("noise ")).size());
    }

    void mltText_data() {
        QTest::addColumn<QString>("hex");
        QTest::addColumn<QString>("mlt");
        QTest::newRow("full") << "8A00370012340A"
                              << "34127";
        QTest::newRow("five bytes") << "8A0037000A"
                                    << "0A7";
        QTest::newRow("three bytes") << "8A370A"
                                     << "A";
        QTest::newRow("two bytes") << "8A0A"
                                   << "";
    }
    void mltText() {
        QFETCH(QString, hex);
        QFETCH(QString, mlt);
        QCOMPARE(mltTextOf(hex), mlt);
    }

    // An answer that loses its tail on the line, followed by the next answer a request
    // later (or a poll later, when the polls fall so): whatever comes out is the next answer,
    // never the two glued together, and the cut one is told as noise. The next answer may
    // itself straddle two polls.
    void cutAnswerThenTheNext_data() {
        QTest::addColumn<QByteArray>("cut");
        QTest::addColumn<QByteArray>("next");
        QTest::addColumn<int>("afterMs");
        QTest::addColumn<int>("nextSplitAt");
        for (const QByteArray &frame : {kDisplay, kSecondary})
            for (int kept = 1; kept < frame.size(); ++kept)
                for (const QByteArray &next : {kNextDisplay, kNextSecondary})
                    for (int afterMs : {50, 100})
                        for (int splitAt : {0, 3})
                            QTest::addRow("%s cut after %d, %s %d ms later%s",
                                          frame.size() == 11 ? "display" : "secondary", kept,
                                          next.size() == 11 ? "display" : "secondary", afterMs,
                                          splitAt ? ", split" : "")
                                << frame.left(kept) << next << afterMs << splitAt;
    }
    void cutAnswerThenTheNext() {
        QFETCH(QByteArray, cut);
        QFETCH(QByteArray, next);
        QFETCH(int, afterMs);
        QFETCH(int, nextSplitAt);
        FrameAssembler a;
        feed(a, cut, t0);
        const auto at = t0 + std::chrono::milliseconds(afterMs);
        if (nextSplitAt > 0) {
            feed(a, next.left(nextSplitAt), at);
            feed(a, next.mid(nextSplitAt), at + 50ms);
        } else {
            feed(a, next, at);
        }
        QCOMPARE(wholeFrames(), QStringList{tagged(next)});
        QCOMPARE(frames.size(), 2);
        QCOMPARE(frames.first(), tagged(FrameKind::Noise, cut));
        QVERIFY(a.pending().isEmpty());
    }

    // Random bytes of any value, the frames' own among them, before every answer, the
    // answers in the request cycle's order and the stream in random deliveries: every frame
    // handed on is one that was sent, in order, and none is lost.
    void junkBeforeEveryAnswer() {
        QRandomGenerator random(28);
        QList<QByteArray> sent;
        FrameAssembler a;
        Clock::time_point at = t0;
        for (int answer = 0; answer < 4000; ++answer) {
            const QByteArray frame = answer % 4 == 3 ? displayFrame(answer) : kSecondary;
            sent << frame;
            QByteArray stream(random.bounded(20), Qt::Uninitialized);
            for (char &c : stream)
                c = char(random.bounded(256));
            stream += frame;
            // One delivery, or two a poll apart, cut anywhere.
            const int cut = random.bounded(2) ? random.bounded(int(stream.size())) : 0;
            feed(a, stream.left(cut), at);
            feed(a, stream.mid(cut), at + 50ms);
            at += 100ms;
        }
        QStringList expected;
        for (const QByteArray &frame : sent)
            expected << tagged(frame);
        QCOMPARE(wholeFrames(), expected);
        QVERIFY(a.noiseCount() > 3000);
    }

    // More than kMaxCarryBytes without a line feed is junk: it is told once and dropped up
    // to the next line feed, however it is cut into deliveries, the frame that line feed
    // ends included. The carry never grows past its bound.
    void junkPastTheCarryIsDropped_data() {
        QTest::addColumn<int>("junk");
        QTest::addColumn<int>("delivery");
        QTest::addColumn<QByteArray>("end");
        const int bound = FrameAssembler::kMaxCarryBytes;
        for (int junk : {bound + 1, bound + 2, 2 * bound + 3, 300})
            for (int delivery : {1, 7, 1000}) {
                QTest::addRow("%d bytes in deliveries of %d, then a frame's tail", junk, delivery)
                    << junk << delivery << kDisplay.mid(3);
                QTest::addRow("%d bytes in deliveries of %d, then a frame", junk, delivery)
                    << junk << delivery << kDisplay;
            }
    }
    void junkPastTheCarryIsDropped() {
        QFETCH(int, junk);
        QFETCH(int, delivery);
        QFETCH(QByteArray, end);
        QByteArray stream;
        for (int i = 0; i < junk; ++i)
            stream.append(char(0x89 + i % 2)); // frame openers, never a line feed
        stream += end + kSecondary;
        FrameAssembler a;
        for (int at = 0; at < stream.size(); at += delivery) {
            feed(a, stream.mid(at, delivery), t0);
            QVERIFY(a.pending().size() <= FrameAssembler::kMaxCarryBytes);
        }
        QCOMPARE(frames.size(), 2);
        QCOMPARE(frames.first(), tagged(FrameKind::Noise, stream.left(65)));
        QCOMPARE(frames.last(), tagged(kSecondary));
        QCOMPARE(a.noiseCount(), 1);
    }

    // A fragment is carried for kCarryWindow only: what comes later is not its rest. A long
    // junk run that stops drops nothing that comes after a pause.
    void carryWindow() {
        FrameAssembler a;
        feed(a, kDisplay.left(6), t0);
        feed(a, kDisplay.mid(6), t0 + FrameAssembler::kCarryWindow);
        QCOMPARE(frames, QStringList{tagged(FrameKind::Display, kDisplay)});

        frames.clear();
        feed(a, kDisplay.left(6), t0 + 1s);
        feed(a, kDisplay.mid(6), t0 + 1s + FrameAssembler::kCarryWindow + 1ms);
        QCOMPARE(frames, QStringList({tagged(FrameKind::Noise, kDisplay.left(6)),
                                      tagged(FrameKind::Other, kDisplay.mid(6))}));

        frames.clear();
        feed(a, QByteArray(100, '\x55'), t0 + 2s);
        feed(a, kDisplay, t0 + 2s + 100ms);
        QCOMPARE(frames.size(), 2);
        QCOMPARE(frames.last(), tagged(FrameKind::Display, kDisplay));
    }

    void throwingHandlerDropsTheRestOfTheDelivery() {
        FrameAssembler a;
        const QByteArray chunk = kDisplay + kSecondary + kDisplay.left(4);
        const auto failOnDisplay = [this](const QString &hex, FrameKind kind) {
            frames << hex;
            if (kind == FrameKind::Display)
                throw std::runtime_error("decoder fault");
        };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 a.feed(chunk.constData(), chunk.size(), t0, failOnDisplay));
        QCOMPARE(frames.size(), 1);
        QVERIFY(a.pending().isEmpty());
        feed(a, kSecondary, t0);
        QCOMPARE(frames.last(), tagged(FrameKind::Secondary, kSecondary));
    }

    void resetForgetsTheFragment() {
        FrameAssembler a;
        feed(a, kDisplay.left(5), t0);
        a.reset();
        feed(a, kDisplay.mid(5), t0);
        QCOMPARE(frames, QStringList{tagged(FrameKind::Other, kDisplay.mid(5))});
    }
};

QTEST_GUILESS_MAIN(TestFrameAssembler)
#include "tst_frameassembler.moc"
