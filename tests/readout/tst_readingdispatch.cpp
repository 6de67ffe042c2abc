// The order of a display frame's steps and the values handed to them, observed through a
// recorder standing in for the window.
#include "readingdispatch.h"

#include <QStringList>
#include <QTest>

#include <stdexcept>

namespace {

/// Notes every step as a word, with the values that matter.
class Recorder : public ReadingDispatch::Steps {
public:
    QStringList steps;
    QString failAt; ///< the step that throws, if any

    void linkAlive() override { note(QStringLiteral("link")); }
    void valueAxis(double minimum, double maximum) override {
        note(QStringLiteral("axis %1..%2").arg(minimum).arg(maximum));
    }
    void scaleMode(bool hundredMode, int span, int offset) override {
        note(QStringLiteral("mode %1/%2/%3").arg(hundredMode).arg(span).arg(offset));
    }
    void scaleSetup() override { note(QStringLiteral("setup")); }
    void showOnLcd(const DecodedFrame &f) override { note(QStringLiteral("lcd ") + f.unitText); }
    void takeReading(const DecodedFrame &f) override {
        note(QStringLiteral("reading ") + f.valueText);
    }
    void needle(int position) override { note(QStringLiteral("needle %1").arg(position)); }
    void alarmCheck(const DecodedFrame &) override { note(QStringLiteral("alarm")); }
    void extremesUpdate(const DecodedFrame &) override { note(QStringLiteral("extremes")); }
    void record(const DecodedFrame &f) override { note(QStringLiteral("record ") + f.valueText); }
    void graphPoint(double value) override { note(QStringLiteral("point %1").arg(value)); }
    void lastPage() override { note(QStringLiteral("last page")); }
    void scaleFault(std::exception_ptr) override { note(QStringLiteral("scale fault")); }

private:
    void note(const QString &step) {
        steps << step;
        if (step.startsWith(failAt) && !failAt.isEmpty())
            throw std::runtime_error("fails at " + failAt.toStdString());
    }
};

QString hex(const char *spaced) {
    return QString::fromLatin1(spaced).remove(u' ');
}

const QString kVolts = hex("89 70 00 00 00 0F 01 02 03 04 0A");
const QStringList kVoltsSteps{"link",     "axis -8000..8000", "mode 0/80/0", "setup",
                              "lcd V",    "reading 01.234",   "needle 462",  "alarm",
                              "extremes", "record 01.234",    "point 1234",  "last page"};

} // namespace

class TestReadingDispatch : public QObject {
    Q_OBJECT

private slots:
    // Only a whole display frame is a reading; one of any other length is line damage and
    // runs no step, the link's and the resets' included.
    void stepsInOrder_data() {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("display frame") << kVolts << kVoltsSteps;
        QTest::newRow("3 bytes") << hex("89 70 0A") << QStringList{};
        QTest::newRow("10 bytes") << hex("89 70 00 00 00 0F 01 02 03 0A") << QStringList{};
        QTest::newRow("12 bytes") << hex("89 70 00 00 00 0F 01 02 03 04 05 0A") << QStringList{};
    }
    void stepsInOrder() {
        QFETCH(QString, frame);
        QFETCH(QStringList, steps);
        Recorder r;
        QCOMPARE(ReadingDispatch().run(frame, 0, r).has_value(), !steps.isEmpty());
        QCOMPARE(r.steps, steps);
    }

    // The value axis and the scale mode follow each frame.
    void axisAndModeAcrossFrames_data() {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("axis");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("point");
        QTest::newRow("volts") << hex("89 70 00 00 00 0F 01 02 03 04 0A") << "axis -8000..8000"
                               << "mode 0/80/0"
                               << "point 1234";
        QTest::newRow("kilohertz")
            << hex("89 70 14 00 04 0F 01 02 03 04 0A") << "axis -100000..100000"
            << "mode 1/100/100"
            << "point 1234";
        QTest::newRow("duty") << hex("89 70 05 00 00 03 01 02 03 04 0A") << "axis -10000..10000"
                              << "mode 1/100/100"
                              << "point 1234";
        QTest::newRow("five digits")
            << hex("89 70 18 00 04 05 01 02 03 04 0A") << "axis -80000..80000"
            << "mode 0/80/0"
            << "point 51234";
        QTest::newRow("overload") << hex("89 70 00 00 08 0F 01 02 03 04 0A") << "axis -8000..8000"
                                  << "mode 0/80/0"
                                  << "point 8000";
        QTest::newRow("negative overload, five digits")
            << hex("89 70 00 00 1C 05 01 02 03 04 0A") << "axis -80000..80000"
            << "mode 0/80/0"
            << "point -80000";
    }
    void axisAndModeAcrossFrames() {
        QFETCH(QString, frame);
        QFETCH(QString, axis);
        QFETCH(QString, mode);
        QFETCH(QString, point);
        Recorder r;
        ReadingDispatch().run(frame, 0, r);
        QCOMPARE(r.steps.at(1), axis);
        QCOMPARE(r.steps.at(2), mode);
        QCOMPARE(r.steps.at(10), point);
    }

    // A step that fails costs only itself: every other step still runs for the frame (a
    // reading that recording fails on still reaches the graph), and the failure goes on to
    // the caller afterwards; a scale fault is told at the end instead.
    void faults_data() {
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<bool>("thrown");
        QTest::newRow("scale") << "setup" << kVoltsSteps + QStringList{"scale fault"} << false;
        QTest::newRow("needle") << "needle" << kVoltsSteps + QStringList{"scale fault"} << false;
        for (const QString &step : kVoltsSteps) {
            const QString name = step.section(u' ', 0, 0);
            if (name != u"setup" && name != u"needle")
                QTest::newRow(qPrintable(step)) << name << kVoltsSteps << true;
        }
    }
    void faults() {
        QFETCH(QString, failAt);
        QFETCH(bool, thrown);
        Recorder r;
        r.failAt = failAt;
        bool threw = false;
        try {
            ReadingDispatch().run(kVolts, 0, r);
        } catch (const std::runtime_error &) {
            threw = true;
        }
        QCOMPARE(threw, thrown);
        QTEST(r.steps, "steps");
    }

    // A scale that keeps failing is told once; after a frame it draws, a new fault is told.
    void scaleFaultToldOnce() {
        ReadingDispatch dispatch;
        Recorder r;
        auto faultsTold = [&](const char *failAt) {
            r.failAt = QString::fromLatin1(failAt);
            r.steps.clear();
            dispatch.run(kVolts, 0, r);
            return r.steps.count(QStringLiteral("scale fault"));
        };
        QCOMPARE(faultsTold("setup"), 1);
        QCOMPARE(faultsTold("needle"), 0);
        QCOMPARE(faultsTold("setup"), 0);
        QCOMPARE(faultsTold(""), 0);
        QCOMPARE(faultsTold("needle"), 1);
    }
};

QTEST_GUILESS_MAIN(TestReadingDispatch)
#include "tst_readingdispatch.moc"
