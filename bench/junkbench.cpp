// False readings from a damaged line: the meter's answers in the request cycle's order
// (three secondary frames, one display frame), each preceded by 0 to 19 random bytes of any
// value, go through the real window's receive handler in one or two deliveries each. Every
// recorded reading is checked against the display frames that were sent, in order: a record
// that is none of them is false, a display frame that left no record is lost.
//
// By default the deliveries come faster than the real line brings them, so no carried
// fragment ever goes stale on the clock: only what the bytes themselves say keeps junk out.
// With --pace the answers come MS milliseconds apart, as the request cycle asks for them
// (100), the second piece of an answer cut in two half-way between.
//
//   qm-bench-junk [--answers N] [--seed S] [--pace MS]

#include "benchsupport.h"
#include "readingdecoder.h"
#include "recordrow.h"
#include "recordtable.h"
#include "tfcomm.h"
#include "uiprompts.h"
#include "windowcontrols.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <memory>

namespace {

constexpr int kMostJunkBytes = 19;

/// A secondary frame for answer `i`: a bar that moves.
QByteArray secondaryFrame(int i) {
    QByteArray f = QByteArray::fromHex("8A000000000000");
    f[5] = char(i % 40 == 10 ? 0x4A : i % 40);
    f[6] = '\n';
    return f;
}

/// What a reading shows, as the record table keeps it.
QString shownText(const QString &value, const QString &unit, const QString &acDc) {
    return value + u' ' + unit + u' ' + acDc;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int answers = BenchSupport::option(args, "--answers", 40000);
    const int seed = BenchSupport::option(args, "--seed", 28);
    const int paceMs = BenchSupport::option(args, "--pace", 0);
    if (answers < 4) {
        std::fprintf(stderr, "--answers must be at least 4\n");
        return 2;
    }

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    UiPrompts prompts;
    int errors = 0;
    prompts.onError = [&errors](const QString &text) {
        if (errors++ == 0)
            std::fprintf(stderr, "error: %s\n", qPrintable(text));
    };
    prompts.onInformation = [](const QString &) {};
    prompts.onBeep = [] {};
    auto window = std::make_unique<TFCOMM>(ModelFlag::QM30, &prompts);
    TFCOMM &w = *window;
    // Every reading is recorded: no limit, no repeat filter.
    control<QCheckBox>(w, "RepeatSet")->setChecked(false);
    w.limitessClick();

    QRandomGenerator random{quint32(seed)};
    QStringList sent;
    for (int i = 0; i < answers; ++i) {
        const bool display = i % 4 == 3;
        const QByteArray frame =
            display ? BenchSupport::displayFrame(i / 4, i / 4 % 4) : secondaryFrame(i);
        if (display) {
            const DecodedFrame f =
                ReadingDecoder::decode(QString::fromLatin1(frame.toHex().toUpper()), w.RelState());
            sent << shownText(f.valueText, f.unitText, f.acDcText);
        }
        QByteArray bytes(random.bounded(kMostJunkBytes + 1), Qt::Uninitialized);
        for (char &c : bytes)
            c = char(random.bounded(256));
        bytes += frame;
        const int cut = random.bounded(2) ? random.bounded(int(bytes.size())) : 0;
        if (cut > 0) {
            w.QM34RData(w.COMM2(), bytes.constData(), cut);
            QThread::msleep(paceMs / 2);
        }
        w.QM34RData(w.COMM2(), bytes.constData() + cut, int(bytes.size()) - cut);
        QApplication::processEvents();
        QThread::msleep(cut > 0 ? paceMs - paceMs / 2 : paceMs);
    }
    QApplication::processEvents();

    // Records in order against the frames sent in order.
    const qint64 records = w.recordTable()->count();
    qint64 falseReadings = 0, matched = 0;
    qsizetype next = 0;
    for (qint64 first = 0; first < records; first += 1000) {
        for (const RecordRow &row :
             w.recordTable()->rows(first, int(std::min<qint64>(1000, records - first)))) {
            const QString shown = shownText(row.texts[RecordRow::Value], row.texts[RecordRow::Unit],
                                            row.texts[RecordRow::DcAc]);
            const qsizetype at = sent.indexOf(shown, next);
            if (at < 0) {
                if (falseReadings++ < 10)
                    std::printf("false reading: %s\n", qPrintable(shown));
                continue;
            }
            ++matched;
            next = at + 1;
        }
    }
    const qint64 lost = sent.size() - matched;
    std::printf("answers %d (display frames %lld), 0 to %d random bytes before each, seed %d, "
                "%d ms apart\n",
                answers, static_cast<long long>(sent.size()), kMostJunkBytes, seed, paceMs);
    std::printf(
        "readings recorded %lld: false %lld (%.2f %%), display frames lost %lld (%.2f %%)\n",
        static_cast<long long>(records), static_cast<long long>(falseReadings),
        records ? 100.0 * double(falseReadings) / double(records) : 0.0,
        static_cast<long long>(lost), 100.0 * double(lost) / double(sent.size()));
    BenchSupport::figure("false readings, junk before every frame", double(falseReadings),
                         "readings", "<=0");
    BenchSupport::figure("display frames lost, junk before every frame", double(lost), "frames");
    return errors == 0 ? 0 : 1;
}
