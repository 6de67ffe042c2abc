// The emulator as a serial link: answering and falling silent, the byte log, frames cut
// in two, line noise, the symbolic link, reopening the port and ending the process.

#include "scratchfile.h"
#include "simprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace {

const QByteArray kFixedFrame = QByteArray::fromHex("89700000000F010203040A");
const QByteArray kFixedSecondary = QByteArray::fromHex("8A00000000060A");

bool hasRequestByte(const QByteArray &bytes) {
    return bytes.contains('\x89') || bytes.contains('\x8A');
}

struct NoiseCount {
    int frames = 0;
    int shortJunk = 0;
    int longJunk = 0;
    /// Junk with the bytes that open and end frames in it.
    int frameBytes = 0;
    QString fault;
};

// Sorts out the stream: the frames whole, and the junk runs between them.
NoiseCount sortStream(const QByteArray &stream) {
    NoiseCount count;
    for (qsizetype at = 0; at < stream.size();) {
        qsizetype frameAt = stream.indexOf(kFixedFrame, at);
        if (frameAt < 0) {
            count.fault = QStringLiteral("stream ends in junk");
            return count;
        }
        const QByteArray junk = stream.mid(at, frameAt - at);
        at = frameAt + kFixedFrame.size();
        ++count.frames;
        if (junk.isEmpty())
            continue;
        if (junk.size() <= 20) {
            ++count.shortJunk;
        } else if (junk.size() > 64 && !junk.contains('\n')) {
            // Longer than the receiver's 64-byte carry, without a line feed.
            ++count.longJunk;
        } else {
            count.fault = QStringLiteral("bad junk ") + QString::fromLatin1(junk.toHex(' '));
            return count;
        }
        count.frameBytes += hasRequestByte(junk) || junk.contains('\n');
    }
    return count;
}

QByteArray noisyStream(quint32 seed, int requests) {
    SimProcess sim;
    if (!sim.start({QStringLiteral("--fixed"), QStringLiteral("--noise"), QStringLiteral("--seed"),
                    QString::number(seed)}))
        return {};
    QByteArray stream;
    for (int sent = 0; sent < requests; sent += 20) {
        sim.send(QByteArray(20, '\x89'));
        stream += sim.readFor(30);
    }
    QElapsedTimer timer;
    timer.start();
    while (stream.count(kFixedFrame) < requests && timer.elapsed() < 2000)
        stream += sim.readFor(50);
    return stream;
}

} // namespace

class TestMeterSimLink : public QObject {
    Q_OBJECT

private slots:
    void answersTheRequestCycle();
    void repliesPromptly();
    void otherBytesAreIgnored();
    void silentAndAnswer();
    void logRecordsEveryByteAndWhatWasShown();
    void truncatedAnswersLoseTheirTail();
    void splitFramesArriveWhole();
    void noiseStaysBetweenFrames();
    void floodNeedsNoRequests();
    void burstSendsItsBytesUnasked_data();
    void burstSendsItsBytesUnasked();
    void portCanBeReopened();
    void deafFillsTheLineUntilHear();
    void hangupGoesAwayAndComesBack();
    void endOfInputDoesNotStop();
    void linkIsMadeAndRemoved();
    void linkNeverReplacesAFile();
    void badOptionsAreRefused();
};

void TestMeterSimLink::answersTheRequestCycle() {
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")}));
    QVERIFY(sim.send(QByteArray::fromHex("8A8A8A89")));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(sim.readFrame(), kFixedSecondary);
    QCOMPARE(sim.readFrame(), kFixedFrame);
    QVERIFY(sim.readFor(120).isEmpty());
}

void TestMeterSimLink::repliesPromptly() {
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")}));
    QList<qint64> times;
    for (int i = 0; i < 11; ++i) {
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(sim.ask(0x89), kFixedFrame);
        times << timer.elapsed();
    }
    // The program polls every 50 ms; a reply must be there well within one poll. The
    // median keeps a loaded test machine's scheduling hiccups out of the verdict.
    std::sort(times.begin(), times.end());
    QVERIFY2(times.at(times.size() / 2) < 15, qPrintable(QString::number(times.at(5))));
}

void TestMeterSimLink::otherBytesAreIgnored() {
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")}));
    QVERIFY(sim.send(QByteArray::fromHex("420AFF0090AE9F89")));
    QCOMPARE(sim.readFrame(), kFixedFrame);
    QVERIFY(sim.readFor(100).isEmpty());
}

void TestMeterSimLink::silentAndAnswer() {
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")}));
    QCOMPARE(sim.ask(0x89), kFixedFrame);
    sim.command("silent");
    QVERIFY(sim.ask(0x89, 150).isEmpty());
    QVERIFY(sim.ask(0x8A, 150).isEmpty());
    // Keys still reach the meter while it keeps quiet.
    sim.sendByte(0xA5);
    sim.command("answer");
    const QByteArray held = sim.ask(0x89);
    QCOMPARE(held.size(), 11);
    QCOMPARE(static_cast<unsigned char>(held.at(4)) & 0x01, 0x01);
}

// Every byte received, with its time of arrival, and every display frame answered, with
// the bytes of it that were sent.
void TestMeterSimLink::logRecordsEveryByteAndWhatWasShown() {
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("bytes.log"));
    {
        QFile old(logPath); // the log is appended to
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("0 00\n");
    }
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed"), QStringLiteral("--log"), logPath}));
    QCOMPARE(sim.ask(0x89), kFixedFrame);
    QTest::qWait(60);
    sim.command("silent");
    QVERIFY(sim.ask(0x8A, 60).isEmpty());
    sim.sendByte(0xA5);
    sim.sendByte(0x42);

    QStringList lines;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            QFile file(logPath);
            file.open(QIODevice::ReadOnly);
            lines =
                QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            return lines.size() == 6;
        }(),
        2000);
    QCOMPARE(lines.first(), QStringLiteral("0 00"));
    const QRegularExpression format(QStringLiteral("^(\\d+) ([0-9A-F]{2}|shows [0-9A-F]+)$"));
    const QStringList entries{QStringLiteral("89"), QStringLiteral("shows 89700000000F010203040A"),
                              QStringLiteral("8A"), QStringLiteral("A5"), QStringLiteral("42")};
    qint64 previous = -1;
    for (int i = 0; i < entries.size(); ++i) {
        const auto match = format.match(lines.at(i + 1));
        QVERIFY2(match.hasMatch(), qPrintable(lines.at(i + 1)));
        QCOMPARE(match.captured(2), entries.at(i));
        const qint64 ms = match.captured(1).toLongLong();
        QVERIFY(ms >= previous && ms < 5000);
        if (i == 2)
            QVERIFY2(ms - previous >= 50, "the times are not those of arrival");
        previous = ms;
    }
}

// A cut answer loses its tail, line feed included, for good; the log says how much of it
// went out. Split or not, cut or not, the answers leave one after another in order.
void TestMeterSimLink::truncatedAnswersLoseTheirTail() {
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("bytes.log"));
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed"), QStringLiteral("--truncate"),
                       QStringLiteral("0.5"), QStringLiteral("--split"),
                       QStringLiteral("--split-ms"), QStringLiteral("5"), QStringLiteral("--seed"),
                       QStringLiteral("3"), QStringLiteral("--log"), logPath}));
    constexpr int kAnswers = 16;
    sim.send(QByteArray(kAnswers, '\x89'));
    QList<int> sentSizes;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            QFile file(logPath);
            file.open(QIODevice::ReadOnly);
            sentSizes.clear();
            for (const QByteArray &line : file.readAll().split('\n')) {
                const QList<QByteArray> words = line.split(' ');
                if (words.value(1) == "shows" && words.value(2) == kFixedFrame.toHex().toUpper())
                    sentSizes << (words.value(3) == "cut" ? words.value(4).toInt() : 11);
            }
            return sentSizes.size() == kAnswers;
        }(),
        3000);
    QVERIFY(sentSizes.contains(11));
    QVERIFY(sentSizes.count(11) < kAnswers);
    QByteArray expected;
    for (int size : sentSizes)
        expected += kFixedFrame.left(size);
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < expected.size() && timer.elapsed() < 3000)
        got += sim.readSome(100);
    QCOMPARE(got, expected);
}

void TestMeterSimLink::splitFramesArriveWhole() {
    // A long pause keeps the two halves apart even on a busy machine.
    constexpr int kPauseMs = 150;
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed"), QStringLiteral("--split"),
                       QStringLiteral("--split-ms"), QString::number(kPauseMs),
                       QStringLiteral("--seed"), QStringLiteral("5")}));
    QSet<int> cuts;
    for (int i = 0; i < 4; ++i) {
        sim.drain();
        QElapsedTimer timer;
        timer.start();
        sim.sendByte(i % 2 == 0 ? 0x89 : 0x8A);
        const QByteArray firstPart = sim.readSome(kPauseMs / 2);
        QVERIFY(!firstPart.isEmpty());
        QVERIFY2(!firstPart.contains('\n'), "the frame was not cut");
        const QByteArray rest = sim.readFrame(1000);
        QVERIFY(timer.elapsed() >= kPauseMs - 5);
        QCOMPARE(firstPart + rest, i % 2 == 0 ? kFixedFrame : kFixedSecondary);
        cuts << firstPart.size();
    }
    QVERIFY(cuts.size() > 1); // the cut moves
    // Requests faster than the pause: frames queue up but never interleave.
    sim.drain();
    sim.send(QByteArray::fromHex("89898A"));
    QCOMPARE(sim.readFrame(), kFixedFrame);
    QCOMPARE(sim.readFrame(), kFixedFrame);
    QCOMPARE(sim.readFrame(), kFixedSecondary);
}

void TestMeterSimLink::noiseStaysBetweenFrames() {
    constexpr int kRequests = 400;
    const QByteArray stream = noisyStream(11, kRequests);
    const NoiseCount count = sortStream(stream);
    QVERIFY2(count.fault.isEmpty(), qPrintable(count.fault));
    QCOMPARE(count.frames, kRequests);
    QVERIFY(count.shortJunk > 0);
    QVERIFY(count.longJunk > 0);
    QVERIFY(count.frameBytes > 0);
    // The same seed gives the same noise.
    QCOMPARE(noisyStream(11, kRequests), stream);
}

// A flood sends frame pairs back to back without a request; with noise, junk sits only
// between frames. Frames are cut at line feeds after the first one, as the receiver does
// when it opens the port in the middle of the stream.
void TestMeterSimLink::floodNeedsNoRequests() {
    for (bool noise : {false, true}) {
        SimProcess sim;
        QStringList options{QStringLiteral("--fixed"), QStringLiteral("--flood"),
                            QStringLiteral("--seed"), QStringLiteral("5")};
        if (noise)
            options << QStringLiteral("--noise");
        QVERIFY(sim.start(options));
        QByteArray stream = sim.readFor(300);
        QVERIFY2(stream.size() > 100000, qPrintable(QString::number(stream.size())));
        stream = stream.mid(stream.indexOf('\n') + 1);
        stream.truncate(stream.lastIndexOf('\n') + 1);
        const qsizetype display = stream.count(kFixedFrame);
        const qsizetype secondary = stream.count(kFixedSecondary);
        QVERIFY(display > 5000);
        QVERIFY(std::abs(display - secondary) <= 2);
        if (noise)
            QVERIFY(stream.size() >
                    display * kFixedFrame.size() + secondary * kFixedSecondary.size());
        else
            QCOMPARE(stream.size(),
                     display * kFixedFrame.size() + secondary * kFixedSecondary.size());
        // "silent" stops the flood as it stops answers: what was queued still comes, then
        // nothing.
        sim.command("silent");
        QElapsedTimer draining;
        draining.start();
        while (!sim.readFor(100).isEmpty() && draining.elapsed() < 5000) {
        }
        QCOMPARE(sim.readFor(300), QByteArray());
    }
    // The longest literal frames flood as well.
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed"), QStringLiteral("--flood")}));
    const QByteArray longFrame = '\x89' + QByteArray(62, '0') + '\n';
    sim.command("state hex=" + longFrame.toHex());
    sim.readFor(200); // what was queued before
    const qsizetype longFrames = sim.readFor(300).count(longFrame);
    QVERIFY2(longFrames > 1000, qPrintable(QString::number(longFrames)));
}

void TestMeterSimLink::burstSendsItsBytesUnasked_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("expected"); // empty: the line is refused
    QTest::newRow("frame without its line feed")
        << QByteArray("burst 3 89700000000F01020304") << kFixedFrame.chopped(1).repeated(3);
    QTest::newRow("100 KB") << QByteArray("burst 10240 0102030405060708090B")
                            << QByteArray::fromHex("0102030405060708090B").repeated(10240);
    QTest::newRow("odd hex") << QByteArray("burst 2 8") << QByteArray();
    QTest::newRow("no count") << QByteArray("burst 0A") << QByteArray();
    QTest::newRow("past 1 MiB") << QByteArray("burst 600000 0A0A") << QByteArray();
}

// The burst comes whether or not anything was asked, silent included, and exactly once.
void TestMeterSimLink::burstSendsItsBytesUnasked() {
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, expected);
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")}));
    sim.command("silent");
    sim.command(line);
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < expected.size() && timer.elapsed() < 5000)
        got += sim.readFor(50);
    got += sim.readFor(150);
    QCOMPARE(got.size(), expected.size());
    QVERIFY(got == expected);
    QVERIFY(sim.quit());
}

void TestMeterSimLink::portCanBeReopened() {
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")}));
    for (int i = 0; i < 3; ++i) {
        sim.sendByte(0x89); // a reply may be lost with the port closed, as with a real line
        sim.closePort();
        QVERIFY(sim.openPort(sim.devicePath()));
        sim.readFor(30);
        QCOMPARE(sim.ask(0x89), kFixedFrame);
    }
    QVERIFY(sim.quit());
}

// A device that stopped reading: the line from the program stays full, whatever the
// program's purge empties, until "hear"; nothing of the pile-up is answered then.
void TestMeterSimLink::deafFillsTheLineUntilHear() {
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")}));
    sim.command("deaf");
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += sim.process().readAllStandardError()).contains("deaf"), 2000);
    QVERIFY(!sim.sendByte(0x89));
    QVERIFY(::tcflush(sim.portFd(), TCOFLUSH) == 0); // as opening the port does
    QTRY_VERIFY_WITH_TIMEOUT(!sim.sendByte(0x89), 2000);
    QVERIFY(sim.readFor(100).isEmpty());
    sim.command("hear");
    QVERIFY(sim.readFor(100).isEmpty());
    QCOMPARE(sim.ask(0x89), kFixedFrame);
    QVERIFY(sim.quit());
}

// "hangup MS": the device and its link go away, as a pulled adapter does, and a new device
// comes back under the same link, its path printed as at the start.
void TestMeterSimLink::hangupGoesAwayAndComesBack() {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("meter"));
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed"), QStringLiteral("--link"), link}));
    sim.command("hangup 300");
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(link), 2000);
    QVERIFY(!sim.sendByte(0x89) || sim.readFor(100).isEmpty());
    QVERIFY(sim.process().waitForReadyRead(3000));
    QTRY_VERIFY_WITH_TIMEOUT(sim.process().canReadLine(), 1000);
    const QString back = QString::fromLocal8Bit(sim.process().readLine()).trimmed();
    QVERIFY(back.startsWith(QStringLiteral("/dev/")));
    QCOMPARE(QFileInfo(link).symLinkTarget(), back);
    QVERIFY(sim.openPort(link));
    QCOMPARE(sim.ask(0x89), kFixedFrame);
    sim.command("hangup x");
    QCOMPARE(sim.ask(0x89), kFixedFrame); // a bad line changes nothing
    QVERIFY(sim.quit());
}

void TestMeterSimLink::endOfInputDoesNotStop() {
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--fixed")}));
    sim.process().closeWriteChannel();
    QTest::qWait(50);
    QCOMPARE(sim.process().state(), QProcess::Running);
    QCOMPARE(sim.ask(0x89), kFixedFrame);
    sim.process().terminate();
    QVERIFY(sim.process().waitForFinished(2000));
    QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process().exitCode(), 0);
}

void TestMeterSimLink::linkIsMadeAndRemoved() {
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("meter"));
    // A link left over from an earlier run is replaced.
    QVERIFY(::symlink("/dev/null/gone", link.toLocal8Bit().constData()) == 0);

    for (const bool bySignal : {true, false}) {
        SimProcess sim;
        QVERIFY(sim.start({QStringLiteral("--fixed"), QStringLiteral("--link"), link}));
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.devicePath());
        sim.closePort();
        QVERIFY(sim.openPort(link));
        QCOMPARE(sim.ask(0x89), kFixedFrame);
        if (bySignal) {
            ::kill(static_cast<pid_t>(sim.process().processId()), SIGTERM);
            QVERIFY(sim.process().waitForFinished(2000));
            QCOMPARE(sim.process().exitCode(), 0);
        } else {
            QVERIFY(sim.quit());
        }
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(!QFileInfo::exists(link));
    }
}

void TestMeterSimLink::linkNeverReplacesAFile() {
    const ScratchFile precious(QStringLiteral("precious"), "keep me");
    QVERIFY(precious.written());

    QProcess process;
    QVERIFY(SimProcess::runToEnd(process, {QStringLiteral("--link"), precious.path()}));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardOutput().isEmpty());
    QFile file(precious.path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
}

void TestMeterSimLink::badOptionsAreRefused() {
    for (const QStringList &arguments :
         {QStringList{QStringLiteral("--frobnicate")}, QStringList{QStringLiteral("--step")},
          QStringList{QStringLiteral("--step"), QStringLiteral("0")},
          QStringList{QStringLiteral("--seed"), QStringLiteral("x")},
          QStringList{QStringLiteral("--truncate"), QStringLiteral("1.5")},
          QStringList{QStringLiteral("--truncate"), QStringLiteral("0.2x")},
          QStringList{QStringLiteral("--script"), QStringLiteral("/nonexistent/script")}}) {
        QProcess process;
        QVERIFY(SimProcess::runToEnd(process, arguments));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardOutput().isEmpty());
    }
    QProcess help;
    QVERIFY(SimProcess::runToEnd(help, {QStringLiteral("--help")}));
    QCOMPARE(help.exitCode(), 0);
    QVERIFY(help.readAllStandardOutput().contains("State lines"));
}

QTEST_GUILESS_MAIN(TestMeterSimLink)
#include "tst_metersimlink.moc"
