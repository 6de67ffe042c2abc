#include <QTest>

#include <stdexcept>

#include "frameassembler.h"

namespace {
using namespace std::chrono_literals;
const FrameAssembler::Clock::time_point t0{};

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

const QByteArray kDisplay =
    bytes({0x89, 0x70, 0x00, 0x00, 0x00, 0x0F, 0x01, 0x02, 0x03, 0x04, 0x0A});
const QByteArray kSecondary = bytes({0x8A, 0x00, 0x37, 0x00, 0x12, 0x34, 0x0A});
} // namespace

class TestFrameAssembler : public QObject {
    Q_OBJECT

    QStringList frames;
    FrameAssembler::FrameHandler collect = [this](const QString &hex) { frames << hex; };

private slots:
    void init() { frames.clear(); }

    void twoFramesInOneChunkInOrder() {
        FrameAssembler a;
        const QByteArray chunk = kDisplay + kSecondary;
        a.feed(chunk.constData(), chunk.size(), t0, collect);
        QCOMPARE(frames, QStringList({"89700000000F010203040A", "8A00370012340A"}));
        QCOMPARE(frameKindOf(frames[0]), FrameKind::Display);
        QCOMPARE(frameKindOf(frames[1]), FrameKind::Secondary);
        QCOMPARE(mltTextOf(frames[1]), QStringLiteral("34127"));
        QVERIFY(a.pendingHex().isEmpty());
    }

    // However a frame is cut across deliveries, it is handed on once and whole.
    void frameSplitAtEveryBoundary() {
        for (const QByteArray &frame : {kDisplay, kSecondary}) {
            for (int cut = 1; cut < frame.size(); ++cut) {
                frames.clear();
                FrameAssembler a;
                a.feed(frame.constData(), cut, t0, collect);
                QVERIFY(frames.isEmpty());
                a.feed(frame.constData() + cut, frame.size() - cut, t0 + 50ms, collect);
                QCOMPARE(frames, QStringList{hexOf(frame.constData(), frame.size())});
            }
        }
        // And byte by byte, each in a delivery of its own.
        FrameAssembler a;
        frames.clear();
        for (int i = 0; i < kDisplay.size(); ++i)
            a.feed(kDisplay.constData() + i, 1, t0 + i * 5ms, collect);
        QCOMPARE(frames, QStringList{"89700000000F010203040A"});
    }

    void frameKinds_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("hex");
        QTest::addColumn<int>("kind");
        QTest::newRow("lone line feed") << bytes({0x0A}) << "0A" << int(FrameKind::Other);
        QTest::newRow("short display") << bytes({0x89, 0x0A}) << "890A" << int(FrameKind::Display);
        QTest::newRow("long display") << bytes({0x89, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x10, 0x11, 0x0A})
                                      << "8901020304050607080910110A" << int(FrameKind::Display);
        QTest::newRow("other") << bytes({0x55, 0xAA, 0x0A}) << "55AA0A" << int(FrameKind::Other);
    }
    void frameKinds() {
        QFETCH(QByteArray, frame);
        QFETCH(QString, hex);
        QFETCH(int, kind);
        FrameAssembler a;
        a.feed(frame.constData(), frame.size(), t0, collect);
        QCOMPARE(frames, QStringList{hex});
        QCOMPARE(int(frameKindOf(hex)), kind);
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

    void garbageWithoutLineFeedIsBounded() {
        FrameAssembler a;
        QByteArray junk(1000, char(0x55));
        for (int i = 0; i < junk.size(); i += 37) {
            a.feed(junk.constData() + i, std::min(37, int(junk.size()) - i), t0, collect);
            QVERIFY(a.pendingHex().size() <= 2 * FrameAssembler::kMaxCarryBytes);
        }
        QVERIFY(frames.isEmpty());
        // Once the junk has been dropped for being stale, the next frame comes through.
        a.feed(kDisplay.constData(), kDisplay.size(), t0 + 500ms, collect);
        QCOMPARE(frames, QStringList{"89700000000F010203040A"});
    }

    // The carry holds at most kMaxCarryBytes: the byte beyond drops the fragment and the
    // bytes after it start a new one, however the run is cut into deliveries.
    void carryDropsTheFragmentAtTheByteBeyondItsBound_data() {
        QTest::addColumn<int>("junk");
        QTest::addColumn<int>("delivery");
        const int bound = FrameAssembler::kMaxCarryBytes;
        for (int junk : {bound, bound + 1, bound + 2, 2 * bound + 1, 2 * bound + 3, 300})
            for (int delivery : {1, 7, 50, 1000})
                QTest::addRow("%d bytes in deliveries of %d", junk, delivery) << junk << delivery;
    }
    void carryDropsTheFragmentAtTheByteBeyondItsBound() {
        QFETCH(int, junk);
        QFETCH(int, delivery);
        QByteArray stream;
        for (int i = 0; i < junk; ++i)
            stream.append(char(0x10 + i % 200)); // never a line feed
        stream.append(char(0x0A));
        FrameAssembler a;
        for (int at = 0; at < stream.size(); at += delivery) {
            a.feed(stream.constData() + at, std::min(delivery, int(stream.size()) - at), t0,
                   collect);
            QVERIFY(a.pendingHex().size() <= 2 * FrameAssembler::kMaxCarryBytes);
        }
        const int kept = junk % (FrameAssembler::kMaxCarryBytes + 1);
        QCOMPARE(frames, QStringList{hexOf(stream.constData() + junk - kept, kept + 1)});
    }

    void staleFragmentIsNotGluedToTheNextFrame() {
        FrameAssembler a;
        a.feed(kDisplay.constData(), 6, t0, collect);
        a.feed(kSecondary.constData(), kSecondary.size(), t0 + 250ms, collect);
        QCOMPARE(frames, QStringList{"8A00370012340A"});

        frames.clear();
        a.feed(kDisplay.constData(), 6, t0 + 1s, collect);
        a.feed(kDisplay.constData() + 6, kDisplay.size() - 6, t0 + 1s + 150ms, collect);
        QCOMPARE(frames, QStringList{"89700000000F010203040A"});
    }

    void throwingHandlerDropsTheRestOfTheDelivery() {
        FrameAssembler a;
        const QByteArray chunk = kDisplay + kSecondary + kDisplay.left(4);
        const auto failOnDisplay = [this](const QString &hex) {
            frames << hex;
            if (frameKindOf(hex) == FrameKind::Display)
                throw std::runtime_error("decoder fault");
        };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 a.feed(chunk.constData(), chunk.size(), t0, failOnDisplay));
        QCOMPARE(frames.size(), 1);
        QVERIFY(a.pendingHex().isEmpty());
        a.feed(kSecondary.constData(), kSecondary.size(), t0, collect);
        QCOMPARE(frames.last(), QStringLiteral("8A00370012340A"));
    }

    void resetForgetsTheFragment() {
        FrameAssembler a;
        a.feed(kDisplay.constData(), 5, t0, collect);
        a.reset();
        a.feed(kDisplay.constData() + 5, kDisplay.size() - 5, t0, collect);
        QCOMPARE(frames, QStringList{"0F010203040A"});
    }
};

QTEST_GUILESS_MAIN(TestFrameAssembler)
#include "tst_frameassembler.moc"
