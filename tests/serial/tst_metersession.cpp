#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "commportdriver.h"
#include "metersession.h"
#include "ptypair.h"

namespace {

const QByteArray kDisplay = QByteArray::fromHex("89700000000F010203040A");

/// A session whose framing joins every carried fragment (its clock stands still), and what
/// it handed on, in order: the frame's kind (D, S, O, N for noise), "a" for meterAnswered,
/// a display frame as [value AUTO/MANU rel %], a bar as <digits>.
struct Recorded {
    MeterSession session;
    QString events;

    Recorded() {
        session.setReceiveClock([] { return MeterSession::Clock::time_point{}; });
        QObject::connect(&session, &MeterSession::frameText, [this](const QString &, FrameKind k) {
            events += QLatin1Char("DSON"[int(k)]);
        });
        QObject::connect(&session, &MeterSession::meterAnswered, [this] { events += u'a'; });
        QObject::connect(&session, &MeterSession::displayFrame, [this](const DecodedFrame &f) {
            events += QStringLiteral("[%1 %2%3%4]")
                          .arg(f.valueText, f.autoText, f.flags.rel ? " rel" : "",
                               f.flags.percent ? " %" : "");
        });
        QObject::connect(&session, &MeterSession::barFrame,
                         [this](const QString &bar) { events += u'<' + bar + u'>'; });
    }
    void receive(const QByteArray &chunk) { session.receive(chunk.constData(), int(chunk.size())); }
};

} // namespace

class TestMeterSession : public QObject {
    Q_OBJECT

private slots:
    // Each kind of frame reaches its own signal; only whole display and secondary frames
    // mark the link alive, damage is counted, and display frames are decoded with REL.
    void frameKindsAreRouted_data() {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<int>("relPresses");
        QTest::addColumn<QString>("outcome"); // events; alive or quiet; pieces of noise
        QTest::newRow("display") << kDisplay << 0 << "Da[01.234 AUTO] alive 0";
        QTest::newRow("REL once") << kDisplay << 1 << "Da[01.234 MANU rel] alive 0";
        QTest::newRow("REL twice") << kDisplay << 2 << "Da[01.234 MANU rel %] alive 0";
        QTest::newRow("REL round to off") << kDisplay << 3 << "Da[01.234 AUTO] alive 0";
        QTest::newRow("secondary")
            << QByteArray::fromHex("8A00370012340A") << 0 << "Sa<34127> alive 0";
        QTest::newRow("both in one chunk") << QByteArray::fromHex("8A00370012340A") + kDisplay << 0
                                           << "Sa<34127>Da[01.234 AUTO] alive 0";
        QTest::newRow("other line") << QByteArray::fromHex("55010A") << 0 << "O quiet 0";
        QTest::newRow("short display") << QByteArray::fromHex("8970000A") << 0 << "N quiet 1";
        QTest::newRow("long secondary")
            << QByteArray::fromHex("8A0037001234560A") << 0 << "N quiet 1";
        QTest::newRow("junk before a frame")
            << "\x12" + kDisplay << 0 << "NDa[01.234 AUTO] alive 1";
    }
    void frameKindsAreRouted() {
        QFETCH(QByteArray, chunk);
        QFETCH(int, relPresses);
        Recorded r;
        for (int i = 0; i < relPresses; ++i)
            r.session.stepRelState();
        r.receive(chunk);
        QTEST(QStringLiteral("%1 %2 %3")
                  .arg(r.events, r.session.link().isAlive() ? "alive" : "quiet")
                  .arg(r.session.noiseCount()),
              "outcome");
    }

    // A frame cut by a close, an open, a lost or a reopened port is not glued to the bytes
    // after it: they make a line of their own.
    void framingStartsAfresh_data() {
        QTest::addColumn<QString>("between");
        QTest::addColumn<QString>("events");
        for (const char *event : {"close", "open", "lost", "reopened"})
            QTest::newRow(event) << event << "O";
        QTest::newRow("nothing: the halves join") << "nothing"
                                                  << "Da[01.234 AUTO]";
    }
    void framingStartsAfresh() {
        QFETCH(QString, between);
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("meter"));
        PtyPair first, second;
        QVERIFY(QFile::link(first.path(), link));
        Recorded r;
        r.session.setDevicePath(link);
        r.session.link().setReopenInterval(std::chrono::milliseconds(20));
        QSignalSpy lost(&r.session, &MeterSession::portLost);
        QSignalSpy reopened(&r.session, &MeterSession::portReopened);
        QVERIFY(r.session.open());
        if (between == u"lost" || between == u"reopened") {
            first.closeSlave();
            first.closeMaster();
            if (between == u"reopened")
                QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 3000);
        }
        r.receive(kDisplay.left(4));
        if (between == u"close")
            r.session.close();
        if (between == u"open")
            QVERIFY(r.session.open());
        if (between == u"lost")
            QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 3000);
        if (between == u"reopened") {
            QVERIFY(QFile::remove(link) && QFile::link(second.path(), link));
            QTRY_COMPARE_WITH_TIMEOUT(reopened.size(), 1, 3000);
        }
        r.receive(kDisplay.mid(4));
        QTEST(r.events, "events");
    }

    // The line settings reach the driver and its port, set before the port opens or while
    // it is open. (A pseudo-terminal keeps 8 data bits whatever it is told.)
    void lineSettingsReachThePort_data() {
        QTest::addColumn<bool>("whileOpen");
        QTest::newRow("before opening") << false;
        QTest::newRow("while open") << true;
    }
    void lineSettingsReachThePort() {
        QFETCH(bool, whileOpen);
        PtyPair pty;
        MeterSession session;
        session.setDevicePath(pty.path());
        const LineSettings line{br2400, db7BITS};
        if (!whileOpen)
            session.setLineSettings(line);
        QVERIFY(session.open());
        if (whileOpen)
            session.setLineSettings(line);
        QCOMPARE(session.lineSettings(), line);
        QCOMPARE(session.driver().ComPortDataBits(), db7BITS);
        termios t{};
        QCOMPARE(tcgetattr(pty.slaveFd(), &t), 0);
        QCOMPARE(cfgetospeed(&t), speed_t(B2400));
    }
};

QTEST_GUILESS_MAIN(TestMeterSession)
#include "tst_metersession.moc"
