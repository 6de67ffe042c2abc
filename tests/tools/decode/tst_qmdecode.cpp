#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QStringList kExpected{
    R"({"kind":"display","value":"01.234","nval":1234,"acdc":"DC","unit":"V","auto":"AUTO",)"
    R"("range":0,"span":80,"offset":0,"hundred":false,"needle":462,)"
    R"("digits":["0","1","2","3","4"],)"
    R"("shown":["LcdAuto","LcdDa","LcdDb","LcdDc","LcdDc1","LcdDd","LcdP1","LcdV","PBar2"]})",
    R"({"kind":"secondary","mlt":"34127","sign":"-","bar":53})",
    R"({"kind":"display","value":"0.1234","nval":1234,"acdc":"","unit":"kHz","auto":"AUTO",)"
    R"("range":2,"span":100,"offset":100,"hundred":true,"needle":406,)"
    R"("digits":["0","1","2","3","4"],)"
    R"("shown":["LCDHz","LCDk","LcdDa","LcdDb","LcdDc","LcdDd","LcdP0","PBar2"]})",
    R"({"kind":"display","value":"-.0L","nval":-8001,"acdc":"DC","unit":"V","auto":"AUTO",)"
    R"("range":0,"span":80,"offset":0,"hundred":false,"needle":0,)"
    R"("digits":["(","","0","@",""],)"
    R"("shown":["LcdAuto","LcdDa","LcdDb","LcdDc","LcdDc1","LcdDd","LcdFH","LcdP1","LcdV",)"
    R"("PBar2"]})",
    R"({"kind":"other"})",
    R"({"kind":"other"})",
    R"({"kind":"display","value":"012.34","nval":1234,"acdc":"","unit":"nS","auto":"AUTO",)"
    R"("range":6,"span":80,"offset":0,"hundred":false,"needle":462,)"
    R"("digits":["0","1","2","3","4"],)"
    R"("shown":["LCDn","LcdAuto","LcdDa","LcdDb","LcdDc","LcdDd","LcdP2","LcdS"]})",
};

struct Run {
    int exitCode = -1;
    QStringList lines;
    QByteArray err;
};

/// Runs the tool; `chunks` are written to its standard input one after another, with a
/// pause between them so that each arrives as a read of its own. `output` takes the place
/// of standard output when it is given.
Run run(const QStringList &args, const QList<QByteArray> &chunks = {}, const QString &output = {}) {
    QProcess p;
    if (!output.isEmpty())
        p.setStandardOutputFile(output);
    p.start(QStringLiteral(QM_DECODE_EXE), args);
    if (!p.waitForStarted())
        return {};
    for (const QByteArray &chunk : chunks) {
        p.write(chunk);
        p.waitForBytesWritten();
        QTest::qWait(15);
    }
    p.closeWriteChannel();
    // A run that fails early may be over already.
    if (p.state() != QProcess::NotRunning && !p.waitForFinished(10000)) {
        p.kill();
        return {};
    }
    Run r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    r.lines = out.split(QLatin1Char('\n'));
    if (r.lines.last().isEmpty())
        r.lines.removeLast();
    r.err = p.readAllStandardError();
    return r;
}

/// The sample file's frames as the meter sends them: raw bytes, one after another.
QByteArray sampleBytes() {
    QFile f(QStringLiteral(QM_DECODE_SAMPLES));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes;
    for (const QByteArray &line : f.readAll().split('\n')) {
        QByteArray hex = line.simplified();
        hex.replace(' ', "");
        hex.replace('\t', "");
        bytes += QByteArray::fromHex(hex);
    }
    return bytes;
}

} // namespace

class TestQmDecode : public QObject {
    Q_OBJECT

private slots:
    void hexLinesFromFile();
    void hexLinesFromStdin();
    void relState();
    void failuresAndLineEnds_data();
    void failuresAndLineEnds();
    void linesComeOutWhileInputStaysOpen_data();
    void linesComeOutWhileInputStaysOpen();
    void streamFromFile();
    void streamInOddChunks_data();
    void streamInOddChunks();
    void badArguments();
};

void TestQmDecode::hexLinesFromFile() {
    const Run r = run({QStringLiteral(QM_DECODE_SAMPLES)});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.lines, kExpected);
}

void TestQmDecode::hexLinesFromStdin() {
    QFile f(QStringLiteral(QM_DECODE_SAMPLES));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QByteArray text = f.readAll();
    text.chop(1); // the last line without its line end still counts
    const Run r = run({}, {text.left(7), text.mid(7, 30), text.mid(37)});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.lines, kExpected);
}

void TestQmDecode::relState() {
    const Run r =
        run({QStringLiteral("--rel"), QStringLiteral("2")}, {"89 70 00 00 00 0F 01 02 03 04 0A\n"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(
        r.lines,
        QStringList{R"({"kind":"display","value":"01.234","nval":1234,"acdc":"DC","unit":"V",)"
                    R"("auto":"MANU","range":0,"span":80,"offset":0,"hundred":false,"needle":462,)"
                    R"("digits":["0","1","2","3","4"],"shown":["LCDBF","LCDRel","LcdAuto","LcdDa",)"
                    R"("LcdDb","LcdDc","LcdDc1","LcdDd","LcdP1","LcdV","PBar2"]})"});
}

// Whatever goes wrong is said on standard error with its reason, the good lines still come
// out, and the exit code is 1 exactly when something failed. Line ends of every kind count.
void TestQmDecode::failuresAndLineEnds_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("lines"); // the "kind" and "value" or "mlt" of each
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said"); // every line of it on standard error
    const QByteArray volts = "89 70 00 00 00 0F 01 02 03 04 0A";
    const QByteArray bar = "8A 00 37 00 12 34 0A";
    const QStringList three{"display 01.234", "secondary 34127", "display 01.234"};
    QTest::newRow("CR line ends") << QStringList{} << volts + '\r' + bar + '\r' + volts << ""
                                  << three << 0 << "";
    QTest::newRow("CR LF line ends")
        << QStringList{} << volts + "\r\n" + bar + "\r\n" + volts << "" << three << 0 << "";
    QTest::newRow("frames run together on a line")
        << QStringList{} << volts + bar + ' ' + volts + '\n'
        << "" << three << 0 << "";
    QTest::newRow("a display frame of 7 bytes keeps its length")
        << QStringList{} << QByteArray("89 70 00 00 00 0F 0A\n") << ""
        << QStringList{"display 00.000 length 7"} << 0 << "";
    QTest::newRow("letter O for a zero")
        << QStringList{} << "89 70 00 00 1O 0F 01 02 03 04 0A\n" + bar << ""
        << QStringList{"secondary 34127"} << 1
        << "qm-decode: line 1 skipped: \"O\" at column 14 is no hex digit";
    QTest::newRow("commas, then an odd digit")
        << QStringList{} << "89,70,00\r\n" + volts + "\n8A 0\n"
        << "" << QStringList{"display 01.234"} << 1
        << "qm-decode: line 1 skipped: \",\" at column 3 is no hex digit\n"
           "qm-decode: line 3 skipped: an odd number of hex digits";
    QTest::newRow("raw bytes without --stream")
        << QStringList{} << QByteArray::fromHex(volts) << "" << QStringList{} << 1
        << "qm-decode: line 1 skipped: byte 0x89 at column 1 is no hex digit\n"
           "qm-decode: the input holds raw bytes, not lines of hex; read a raw capture with "
           "--stream";
    QTest::newRow("output to a full disk")
        << QStringList{} << volts << "/dev/full" << QStringList{} << 1
        << "qm-decode: write error: No space left on device";
    QTest::newRow("stream output to a full disk")
        << QStringList{"--stream"} << QByteArray::fromHex(volts) << "/dev/full" << QStringList{}
        << 1 << "qm-decode: write error: No space left on device";
    QTest::newRow("a file that cannot be read")
        << QStringList{"/proc/self/mem"} << QByteArray() << "" << QStringList{}
        << 1
#ifdef Q_OS_WIN
        // The system's own words for the reason differ there: only they may.
        << "qm-decode: read error: …";
#else
        << "qm-decode: read error: Input/output error";
#endif
    QTest::newRow("stream ends inside a frame")
        << QStringList{"--stream"} << QByteArray::fromHex(volts + "89 70 00") << ""
        << QStringList{"display 01.234"} << 0
        << "qm-decode: the input ends inside a frame: 89 70 00 (3 bytes)";
    QTest::newRow("stream with damage")
        << QStringList{"--stream"} << QByteArray::fromHex("89 70 0A 55 0A 89 70 00 00" + bar) << ""
        << QStringList{"display 0.L length 3", "other", "display 00.000 length 4",
                       "secondary 34127"}
        << 0 << "";
}

void TestQmDecode::failuresAndLineEnds() {
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QString, output);
    QFETCH(QStringList, lines);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    const Run r = run(args, {input}, output);
    QCOMPARE(r.exitCode, exitCode);
    QStringList got;
    for (const QString &line : r.lines) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        QString brief = o.value(u"kind").toString();
        for (const char *key : {"value", "mlt", "length"})
            if (o.contains(QLatin1String(key)))
                brief += u' ' +
                         (qstrcmp(key, "length") == 0 ? QStringLiteral("length ") : QString()) +
                         o.value(QLatin1String(key)).toVariant().toString();
        got << brief;
    }
    QCOMPARE(got, lines);
    // Standard error is text: Windows ends its lines with CR LF.
    const QString err =
        QString::fromUtf8(r.err).trimmed().replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (said.endsWith(u'…'))
        QVERIFY2(err.startsWith(said.chopped(1)) && err.size() > said.size(), qPrintable(err));
    else
        QCOMPARE(err, said);
}

void TestQmDecode::linesComeOutWhileInputStaysOpen_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("hex line") << QStringList{} << QByteArray("8A 00 37 00 12 34 0A\n");
    QTest::newRow("raw bytes") << QStringList{QStringLiteral("--stream")}
                               << QByteArray::fromHex("8A00370012340A");
}

void TestQmDecode::linesComeOutWhileInputStaysOpen() {
    // Output is written once per read, not held back until the input ends: a reader of a
    // live capture sees each frame as it comes.
    QFETCH(QStringList, args);
    QFETCH(QByteArray, frame);
    QProcess p;
    p.start(QStringLiteral(QM_DECODE_EXE), args);
    QVERIFY(p.waitForStarted());
    for (int i = 0; i < 2; ++i) {
        p.write(frame);
        QVERIFY(p.waitForBytesWritten());
        QTRY_VERIFY_WITH_TIMEOUT(p.canReadLine(), 5000);
        QCOMPARE(p.readLine(),
                 QByteArray(R"({"kind":"secondary","mlt":"34127","sign":"-","bar":53})"
                            "\n"));
    }
    p.closeWriteChannel();
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 0);
}

void TestQmDecode::streamFromFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("capture.bin"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    const QByteArray bytes = sampleBytes();
    QCOMPARE(bytes.count('\n'), 7); // each frame ends with its line feed
    f.write(bytes);
    f.close();
    const Run r = run({QStringLiteral("--stream"), path});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.lines, kExpected);
}

void TestQmDecode::streamInOddChunks_data() {
    QTest::addColumn<QList<int>>("sizes");
    QTest::newRow("one byte, then three") << QList<int>{1, 3, 1, 3, 1, 3, 1, 3};
    QTest::newRow("straddling frames") << QList<int>{5, 13, 2, 21, 9};
    QTest::newRow("all at once") << QList<int>{};
}

void TestQmDecode::streamInOddChunks() {
    QFETCH(QList<int>, sizes);
    const QByteArray bytes = sampleBytes();
    QList<QByteArray> chunks;
    int pos = 0;
    for (int size : sizes) {
        chunks << bytes.mid(pos, size);
        pos += size;
    }
    chunks << bytes.mid(pos);
    const Run r = run({QStringLiteral("--stream")}, chunks);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.lines, kExpected);
}

void TestQmDecode::badArguments() {
    QCOMPARE(run({QStringLiteral("--rel"), QStringLiteral("3")}).exitCode, 2);
    QCOMPARE(run({QStringLiteral("--rel"), QStringLiteral("x")}).exitCode, 2);
    const Run missing = run({QStringLiteral("/nonexistent/frames.hex")});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY(missing.err.contains("cannot open"));
    QVERIFY(missing.lines.isEmpty());
    const Run help = run({QStringLiteral("--help")});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.lines.join(QLatin1Char('\n')).contains(QLatin1String("--stream")));
}

QTEST_GUILESS_MAIN(TestQmDecode)
#include "tst_qmdecode.moc"
