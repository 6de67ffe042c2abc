#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "commportdriver.h"
#include "metersession.h"
#include "ptypair.h"

namespace {

QByteArray bytes(const char *spaced) {
    return QByteArray::fromHex(QByteArray(spaced));
}

const char *const kDisplay = "89 70 00 00 00 0F 01 02 03 04 0A";

/// A session whose framing joins every carried fragment (the clock stands still), with what
/// it handed on written down as letters: the frame's kind (D, S, O or N for noise), "a" for
/// meterAnswered, "d" for a display frame and "b" for a bar.
struct Recorded {
    MeterSession session;
    QString events;
    QStringList readings;
    QString bar;

    Recorded() {
        session.setReceiveClock([] { return MeterSession::Clock::time_point{}; });
        QObject::connect(&session, &MeterSession::frameText, [this](const QString &, FrameKind k) {
            events += QLatin1Char("DSON"[int(k)]);
        });
        QObject::connect(&session, &MeterSession::meterAnswered, [this] { events += u'a'; });
        QObject::connect(&session, &MeterSession::displayFrame, [this](const DecodedFrame &f) {
            events += u'd';
            readings << QStringLiteral("%1 %2%3%4")
                            .arg(f.valueText, f.autoText,
                                 f.flags.rel ? QStringLiteral(" rel") : QString(),
                                 f.flags.percent ? QStringLiteral(" %") : QString());
        });
        QObject::connect(&session, &MeterSession::barFrame, [this](const QString &text) {
            events += u'b';
            bar = text;
        });
    }
    void receive(const QByteArray &chunk) { session.receive(chunk.constData(), int(chunk.size())); }
};

} // namespace

class TestMeterSession : public QObject {
    Q_OBJECT

private slots:
    // Each kind of frame reaches its own signal; only whole display and secondary frames
    // mark the link alive, and display frames are decoded with the REL state.
    void frameKindsAreRouted_data() {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<int>("relPresses");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QStringList>("readings");
        QTest::addColumn<QString>("bar");
        QTest::addColumn<bool>("alive");
        QTest::addColumn<int>("noise");
        QTest::newRow("display") << bytes(kDisplay) << 0 << "Dad" << QStringList{"01.234 AUTO"}
                                 << "" << true << 0;
        QTest::newRow("display, REL once")
            << bytes(kDisplay) << 1 << "Dad" << QStringList{"01.234 MANU rel"} << "" << true << 0;
        QTest::newRow("display, REL twice")
            << bytes(kDisplay) << 2 << "Dad" << QStringList{"01.234 MANU rel %"} << "" << true << 0;
        QTest::newRow("display, REL round to off")
            << bytes(kDisplay) << 3 << "Dad" << QStringList{"01.234 AUTO"} << "" << true << 0;
        QTest::newRow("secondary")
            << bytes("8A 00 37 00 12 34 0A") << 0 << "Sab" << QStringList() << "34127" << true << 0;
        QTest::newRow("both in one chunk")
            << bytes("8A 00 37 00 12 34 0A 89 70 00 00 00 0F 01 02 03 04 0A") << 0 << "SabDad"
            << QStringList{"01.234 AUTO"} << "34127" << true << 0;
        QTest::newRow("other line")
            << bytes("55 01 0A") << 0 << "O" << QStringList() << "" << false << 0;
        QTest::newRow("display frame too short")
            << bytes("89 70 00 0A") << 0 << "N" << QStringList() << "" << false << 1;
        QTest::newRow("secondary frame too long")
            << bytes("8A 00 37 00 12 34 56 0A") << 0 << "N" << QStringList() << "" << false << 1;
        QTest::newRow("junk before a frame")
            << bytes("12 89 70 00 00 00 0F 01 02 03 04 0A") << 0 << "NDad"
            << QStringList{"01.234 AUTO"} << "" << true << 1;
    }
    void frameKindsAreRouted() {
        QFETCH(QByteArray, chunk);
        QFETCH(int, relPresses);
        Recorded r;
        for (int i = 0; i < relPresses; ++i)
            r.session.stepRelState();
        r.receive(chunk);
        QTEST(r.events, "events");
        QTEST(r.readings, "readings");
        QTEST(r.bar, "bar");
        QTEST(r.session.lastBarText(), "bar");
        QTEST(r.session.link().isAlive(), "alive");
        QTEST(int(r.session.noiseCount()), "noise");
    }

    // A frame cut by an open, a close, a lost or a reopened port is not glued to the bytes
    // after it: they make a line of their own.
    void framingStartsAfresh_data() {
        QTest::addColumn<QString>("between");
        QTest::addColumn<QString>("events");
        QTest::newRow("nothing: the halves join") << "nothing"
                                                  << "Dad";
        QTest::newRow("close") << "close"
                               << "O";
        QTest::newRow("open") << "open"
                              << "O";
        QTest::newRow("port lost") << "lost"
                                   << "O";
        QTest::newRow("port reopened") << "reopened"
                                       << "O";
    }
    void framingStartsAfresh() {
        QFETCH(QString, between);
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("meter"));
        auto first = std::make_unique<PtyPair>();
        QVERIFY(QFile::link(first->path(), link));
        Recorded r;
        r.session.setDevicePath(link);
        r.session.link().setReopenInterval(std::chrono::milliseconds(20));
        QSignalSpy lost(&r.session, &MeterSession::portLost);
        QSignalSpy reopened(&r.session, &MeterSession::portReopened);
        QVERIFY(r.session.open());
        const auto loseThePort = [&] {
            first->closeSlave();
            first->closeMaster();
            QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 3000);
        };
        if (between == u"reopened")
            loseThePort();
        const QByteArray frame = bytes(kDisplay);
        r.receive(frame.left(4));
        if (between == u"close") {
            r.session.close();
        } else if (between == u"open") {
            r.session.close();
            QVERIFY(r.session.open());
        } else if (between == u"lost") {
            loseThePort();
        } else if (between == u"reopened") {
            PtyPair second;
            QVERIFY(QFile::remove(link) && QFile::link(second.path(), link));
            QTRY_COMPARE_WITH_TIMEOUT(reopened.size(), 1, 3000);
        }
        r.receive(frame.mid(4));
        QTEST(r.events, "events");
    }

    // The line settings reach the driver, and its port, before it opens and while it is
    // open. (A pseudo-terminal keeps 8 data bits whatever it is told: only the speed is
    // read back from the line.)
    void lineSettingsReachThePort_data() {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<bool>("whileOpen");
        QTest::addColumn<int>("lineSpeed");
        QTest::newRow("the meter's") << int(br9600) << int(db8BITS) << false << int(B9600);
        QTest::newRow("slower, 7 bits") << int(br2400) << int(db7BITS) << false << int(B2400);
        QTest::newRow("changed while open") << int(br4800) << int(db7BITS) << true << int(B4800);
    }
    void lineSettingsReachThePort() {
        QFETCH(int, speed);
        QFETCH(int, dataBits);
        QFETCH(bool, whileOpen);
        PtyPair pty;
        MeterSession session;
        session.setDevicePath(pty.path());
        const LineSettings line{TComPortBaudRate(speed), TComPortDataBits(dataBits)};
        if (!whileOpen)
            session.setLineSettings(line);
        QVERIFY(session.open());
        if (whileOpen)
            session.setLineSettings(line);
        QCOMPARE(session.lineSettings(), line);
        QCOMPARE(session.driver().ComPortSpeed(), line.speed);
        QCOMPARE(session.driver().ComPortDataBits(), line.dataBits);
        termios t{};
        QCOMPARE(tcgetattr(pty.slaveFd(), &t), 0);
        QTEST(int(cfgetospeed(&t)), "lineSpeed");
    }
};

QTEST_GUILESS_MAIN(TestMeterSession)
#include "tst_metersession.moc"
