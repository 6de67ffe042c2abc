// What a run of the window leaves when it ends without closing its table, offered back by the
// next start or open: the question and both answers, the numbering after it, readings that
// come while the user decides, a spool of another state of the table set aside and told once.
//
// Against the meter emulator, a kill campaign. This executable doubles as the program: run
// with --child it builds the real window (TFCOMM, offscreen) in a folder, connects it to the
// emulator and records every reading, saves, clears, saves as, exports and reopens its table
// at random, and says on standard output what it did, with its table's count and the time.
// The test kills it with SIGKILL at random moments (while recording, inside each of those
// commands, and while the next start opens the table and asks), starts the window again in
// the same folder, answers Yes (No in one round of four) and saves: the table must hold
// exactly the records of the last save plus those offered, each once, in order, and every
// record older than two seconds must be among them. QM_KILL_ROUNDS sets the rounds
// (bench/killcampaign.sh runs 160), QM_DONE_READINGS the readings of the run killed after
// recording them all.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#ifdef QM_METER_SIM
#include "meteremulator.h"
#endif
#include "recordingrules.h"
#include "recordtable.h"
#include "recordtablemodel.h"
#include "testfiles.h"
#include "tfcomm.h"
#include "windowharness.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <thread>

#ifdef Q_OS_UNIX
#include <csignal>

#include <unistd.h>
#endif

namespace {

const QString kKeepQuestion = QStringLiteral("Keep them as unsaved records?");

qint64 nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QList<int> range(int first, int last) {
    QList<int> out;
    for (int i = first; i <= last; ++i)
        out.append(i);
    return out;
}

/// The numbers the grid shows, stored and pending.
QList<int> gridNumbers(const WindowHarness &h) {
    QList<int> out;
    for (int r = 0; r < h.w->recordModel()->rowCount(); ++r)
        out.append(h.w->recordModel()->index(r, 0).data().toInt());
    return out;
}

/// Offers a reading as the decoder leaves it.
void reading(WindowHarness &h, const QString &value) {
    h.w->INDataToTable(readingFrame(value, value.toFloat(), QStringLiteral("DC"),
                                    QStringLiteral("V"), QStringLiteral("AUTO")));
}

/// A SIGKILL to this process after `micros`, from a thread of its own: lands wherever the
/// window's thread is then.
void killSelfAfter(qint64 micros) {
#ifdef Q_OS_UNIX
    std::thread([micros] {
        std::this_thread::sleep_for(std::chrono::microseconds(micros));
        ::kill(::getpid(), SIGKILL);
    }).detach();
#else
    Q_UNUSED(micros);
#endif
}

/// The --child mode: the window in `folder`, driven through its own handlers.
///   --connect            records every reading of the meter on COM1 (up to --limit N)
///   --ops SEED           runs a command now and then: save, clear, save as, export, reopen
///   --favour OP          ... mostly OP
///   --kill-inside N      ... and dies at a random moment of the N-th OP
///   --answer yes|no      the answer about the readings a run left
///   --kill-at-question   dies at a random moment after giving it
int runChild(int argc, char **argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString folder = args.value(2);
    auto option = [&](const char *name) {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at < 0 ? QString() : args.value(at + 1);
    };
    const bool connect = args.contains(QStringLiteral("--connect"));
    const bool keep = option("--answer") != u"no";
    const QString favoured = option("--favour");
    const int limit = option("--limit").toInt();
    const int killInside = option("--kill-inside").toInt();
    const bool killAtQuestion = args.contains(QStringLiteral("--kill-at-question"));
    QRandomGenerator rng(option("--ops").toUInt() + quint32(QCoreApplication::applicationPid()));
    auto say = [](const QString &text) {
        std::printf("%s\n", text.simplified().toUtf8().constData());
        std::fflush(stdout);
    };
    WindowHarness::Setup setup;
    setup.folder = folder;
    setup.answerFor = [&](const QString &question) {
        if (!question.contains(kKeepQuestion))
            return true; // open another table anyway, replace a file: yes
        say(QStringLiteral("asked %1 %2").arg(question.section(u' ', 0, 0), keep ? "yes" : "no"));
        if (killAtQuestion)
            killSelfAfter(rng.bounded(40000));
        return keep;
    };
    WindowHarness h(setup);
    h.prompts.onError = [&](const QString &text) { say(QStringLiteral("error: ") + text); };
    for (const QString &error : std::as_const(h.errors))
        say(QStringLiteral("error: ") + error);
    auto state = [&] {
        RecordTable *t = h.w->recordTable();
        return QStringLiteral("%1 %2 %3 %4")
            .arg(t->isOpen() ? t->count() : -1)
            .arg(t->pendingCount())
            .arg(h.w->RecordNo())
            .arg(nowMs());
    };
    say(QStringLiteral("ready ") + state());

    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] { say(QStringLiteral("n ") + state()); });
    ticks.start(50);
    if (connect) {
        // Every reading recorded, up to the limit asked for.
        control<QCheckBox>(*h.w, "RepeatSet")->setChecked(false);
        if (limit > 0) {
            const auto &items = RecordingRules::limitItems();
            const auto item = std::find_if(items.begin(), items.end(),
                                           [&](const auto &i) { return i.limit == limit; });
            if (item == items.end())
                qFatal("--limit %d is none of the Record menu's limits", limit);
            h.w->findChild<QAction *>(QLatin1String(item->objectName))->trigger();
        } else {
            h.w->limitessClick();
        }
        h.w->BTCon1Click();
    }

    QTimer ops;
    int favouredRuns = 0;
    qint64 favouredMicros = 2000;
    ops.setSingleShot(true);
    const QStringList kinds{"save", "clear", "saveas", "export", "reopen"};
    QObject::connect(&ops, &QTimer::timeout, [&] {
        const int pick = int(rng.bounded(100));
        QString op = pick < 35   ? QStringLiteral("save")
                     : pick < 45 ? QStringLiteral("clear")
                     : pick < 60 ? QStringLiteral("saveas")
                     : pick < 75 ? QStringLiteral("export")
                     : pick < 85 ? QStringLiteral("reopen")
                                 : QString();
        if (!favoured.isEmpty() && rng.bounded(100) < 60)
            op = favoured;
        if (!op.isEmpty()) {
            say(QStringLiteral("begin %1 %2").arg(op, state()));
            const bool isFavoured = op == favoured;
            if (isFavoured && ++favouredRuns == killInside)
                killSelfAfter(rng.bounded(favouredMicros * 3 / 2 + 1));
            QElapsedTimer took;
            took.start();
            if (op == u"save") {
                h.w->RecordSaveClick();
            } else if (op == u"clear") {
                h.w->RecordNewClick();
            } else if (op == u"reopen") {
                h.nextFile = h.path(QStringLiteral("Qm20db.db"));
                h.w->OpenDataFilesClick();
            } else {
                h.nextFile = h.path(op == u"saveas" ? QStringLiteral("copy.db")
                                                    : QStringLiteral("export.xls"));
                h.w->saveasClick();
            }
            if (isFavoured)
                favouredMicros = std::max<qint64>(took.nsecsElapsed() / 1000, 500);
            say(QStringLiteral("done %1 %2").arg(op, state()));
        }
        ops.start(100 + int(rng.bounded(300)));
    });
    if (args.contains(QStringLiteral("--ops")))
        ops.start(100);
    return app.exec();
}

/// One line of a child's log: "<kind> [<op>] <count> <pending> <next number> <ms>".
struct Line {
    QString kind;
    QString op;
    qint64 count = 0;
    qint64 pending = 0;
    int next = 0;
    qint64 ms = 0;
};

/// A copy of the window in a process of its own.
class Child {
public:
    /// `meter`: the emulator's link for COM1; empty: the one in the environment.
    Child(const QString &folder, const QStringList &options, const QString &meter = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (!meter.isEmpty())
            env.insert(QStringLiteral("QM_COM1"), meter);
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(),
                        QStringList{QStringLiteral("--child"), folder} + options);
        m_started = nowMs();
    }
    ~Child() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    qint64 started() const { return m_started; }

    /// Reads what has come; waits up to `ms` for a line for which `until` is true.
    bool readUntil(const std::function<bool(const Line &)> &until, int ms) {
        const qint64 end = nowMs() + ms;
        for (;;) {
            while (m_process.canReadLine())
                if (take(m_process.readLine()) && until && until(m_lines.last()))
                    return true;
            if (nowMs() >= end || m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(5);
        }
    }
    /// Waits up to `ms` for it to die by itself (then kills it); the time it was seen gone.
    qint64 awaitDeath(int ms) {
        readUntil({}, ms);
        if (m_process.state() != QProcess::NotRunning)
            return kill();
        const qint64 at = nowMs();
        m_process.waitForFinished(5000);
        for (const QByteArray &raw : m_process.readAllStandardOutput().split('\n'))
            take(raw);
        return at;
    }
    /// SIGKILL; returns the time it was sent.
    qint64 kill() {
        readUntil({}, 0);
        const qint64 at = nowMs();
        m_process.kill();
        m_process.waitForFinished(5000);
        for (const QByteArray &raw : m_process.readAllStandardOutput().split('\n'))
            take(raw);
        return at;
    }
    const QList<Line> &lines() const { return m_lines; }
    QStringList errors;
    /// The answer it gave to the question about the records left, if it was asked.
    std::optional<bool> answered;

private:
    bool take(const QByteArray &raw) {
        const QStringList f = QString::fromUtf8(raw).trimmed().split(u' ');
        if (f.first() == u"error:") {
            errors << QString::fromUtf8(raw).trimmed();
            return false;
        }
        if (f.first() == u"asked") {
            answered = f.value(2) == u"yes";
            return false;
        }
        const bool withOp = f.first() == u"begin" || f.first() == u"done";
        if (f.size() != (withOp ? 6 : 5))
            return false;
        Line l;
        l.kind = f[0];
        const int at = withOp ? 2 : 1;
        l.op = withOp ? f[1] : QString();
        l.count = f[at].toLongLong();
        l.pending = f[at + 1].toLongLong();
        l.next = f[at + 2].toInt();
        l.ms = f[at + 3].toLongLong();
        m_lines.append(l);
        return true;
    }

    QProcess m_process;
    qint64 m_started = 0;
    QList<Line> m_lines;
};

/// What a child's log says the table may hold after its kill, and which records pending.
struct Expected {
    QList<int> stored;    ///< as the last command done left it
    int firstPending = 1; ///< number of the first record pending since
    /// The same, had the command under way when it was killed taken effect.
    std::optional<std::pair<QList<int>, int>> ifDone;
    QString underWay;
    int next = 1; ///< the next number when it last spoke
    /// The numbers pending at least two seconds before the kill (none when a clearing or a
    /// reopening came after that: the records then went by the user's will).
    int mustHaveUpTo = 0;

    /// When each number was first seen taken (the next number and the time of each line).
    QList<std::pair<int, qint64>> seen;
    qint64 killedAt = 0;

    /// How long before the kill the record after `number` was appended, at least (0: none).
    qint64 ageOfFirstAfter(int number) const {
        for (const auto &[next, ms] : seen)
            if (next - 1 > number)
                return std::max<qint64>(0, killedAt - ms);
        return 0;
    }

    void follow(const QList<Line> &lines, qint64 killed) {
        killedAt = killed;
        bool dropsSinceDeadline = false;
        for (const Line &l : lines) {
            next = l.next;
            seen.append({l.next, l.ms});
            if (l.kind == u"begin") {
                underWay = l.op;
                if (l.op == u"save")
                    ifDone = {stored + range(firstPending, l.next - 1), l.next};
                else if (l.op == u"clear")
                    ifDone = {QList<int>{}, 1};
                else if (l.op == u"reopen")
                    ifDone = {stored, l.next};
                else
                    ifDone = {stored, firstPending};
                if ((l.op == u"clear" || l.op == u"reopen") && l.ms > killedAt - 2000)
                    dropsSinceDeadline = true;
            } else if (l.kind == u"done") {
                const bool took = l.op == u"save" || l.op == u"reopen" ? l.pending == 0
                                  : l.op == u"clear"                   ? l.count == 0
                                                                       : true;
                if (took) {
                    stored = ifDone->first;
                    firstPending = ifDone->second;
                }
                ifDone.reset();
                underWay.clear();
            } else if (l.ms <= killedAt - 2000) {
                mustHaveUpTo = l.next - 1;
            }
            // A clearing restarts the numbers: what was seen before says nothing of them.
            if (l.kind == u"done" && l.op == u"clear")
                seen.clear();
        }
        if (dropsSinceDeadline)
            mustHaveUpTo = 0;
    }
};

/// Per kind of round: rounds, kills inside the command, records offered, the most lost.
struct Tally {
    int rounds = 0;
    int insideCommand = 0;
    qint64 offered = 0;
    int completeChecked = 0;
    int lostMost = 0;
    qint64 lostAgeMost = 0;
};

} // namespace

class TestRecovery : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString table() const { return m_dir->filePath(QStringLiteral("Qm20db.db")); }

    /// A run that recorded 3 readings, saved them, recorded 4 more (a second apart, when
    /// `spread`) and was killed (its spool's file as written outlives it). The times of the
    /// 4, as shown.
    QStringList runKilledWithFourPending(bool spread = false) {
        QStringList times;
        {
            WindowHarness h({.folder = m_dir->path()});
            control<QCheckBox>(*h.w, "RepeatSet")->setChecked(false);
            for (int i = 1; i <= 7; ++i) {
                reading(h, QStringLiteral("0%1.000").arg(i));
                if (i == 3)
                    h.w->RecordSaveClick();
                if (i > 3)
                    times << h.w->recordModel()->index(i - 1, 1).data().toString();
                if (spread && i == 5)
                    QTest::qWait(1100);
            }
            h.w->recordTable()->securePending();
            h.w->recordTable()->waitUntilSecured(5000);
            const QString spool = table() + QStringLiteral("-pending");
            QFile file(spool);
            file.open(QIODevice::ReadOnly);
            const QByteArray left = file.readAll();
            file.close();
            h.w.reset();
            writeFile(spool, left);
        }
        return times;
    }

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    // The next start asks, Yes preset; kept, the records are pending with their numbers and
    // times after the saved ones and the next Save stores them once; new readings are
    // numbered as in any new run. Not kept, only the last Save is there. "Open old data
    // files" asks the same of the table it opens, and numbering goes on there.
    void readingsOfARunThatDiedAreOfferedBack_data() {
        QTest::addColumn<bool>("atStart");
        QTest::addColumn<bool>("keep");
        QTest::addColumn<QList<int>>("stored");
        QTest::newRow("start, kept") << true << true << QList<int>{1, 2, 3, 4, 5, 6, 7, 1};
        QTest::newRow("start, not kept") << true << false << QList<int>{1, 2, 3, 1};
        QTest::newRow("open, kept") << false << true << QList<int>{1, 2, 3, 4, 5, 6, 7, 3};
        QTest::newRow("open, not kept") << false << false << QList<int>{1, 2, 3, 3};
    }
    void readingsOfARunThatDiedAreOfferedBack() {
        QFETCH(bool, atStart);
        QFETCH(bool, keep);
        QFETCH(QList<int>, stored);
        const QStringList times = runKilledWithFourPending(atStart && keep);
        if (atStart && keep)
            QVERIFY(times.first() != times.last());
        QTemporaryDir elsewhere;
        WindowHarness h({.folder = atStart ? m_dir->path() : elsewhere.path(),
                         .answerFor = [&](const QString &question) {
                             return question.contains(kKeepQuestion) ? keep : true;
                         }});
        control<QCheckBox>(*h.w, "RepeatSet")->setChecked(false);
        if (!atStart) {
            QCOMPARE(h.questions, QStringList());
            reading(h, QStringLiteral("11.000"));
            reading(h, QStringLiteral("12.000"));
            h.nextFile = table();
            h.w->OpenDataFilesClick(); // "2 records are not saved. Open another table anyway?"
            QCOMPARE(h.questions.size(), 2);
            h.questions.removeFirst();
            h.questionDefaults.removeFirst();
        }
        QCOMPARE(h.questions,
                 QStringList{QStringLiteral("4 readings recorded after the last Save were not "
                                            "saved when the program ended (from %1 to %2). Keep "
                                            "them as unsaved records?")
                                 .arg(times.first(), times.last())});
        QCOMPARE(h.questionDefaults,
                 QList<UiPrompts::DefaultAnswer>{UiPrompts::DefaultAnswer::Yes});
        QCOMPARE(h.errors, QStringList());
        QCOMPARE(gridNumbers(h), keep ? range(1, 7) : range(1, 3));
        if (keep) {
            QCOMPARE(h.w->recordTable()->pendingCount(), 4);
            QCOMPARE(h.w->recordModel()->index(3, 1).data().toString(), times.first());
            QCOMPARE(h.w->recordModel()->index(6, 3).data().toString(), QStringLiteral("07.000"));
        }
        reading(h, QStringLiteral("13.000"));
        h.w->RecordSaveClick();
        QCOMPARE(h.errors, QStringList());
        h.w.reset();
        QCOMPARE(storedNumbers(table()), stored);
        // Asked once: nothing is left to offer at the next start.
        WindowHarness next({.folder = m_dir->path()});
        QCOMPARE(next.questions, QStringList());
    }

    // Readings that arrive while the user decides are shown, not recorded, and say nothing.
    void readingsWaitForTheAnswer() {
        runKilledWithFourPending();
        QTemporaryDir elsewhere;
        WindowHarness *self = nullptr;
        int offeredMeanwhile = 0;
        WindowHarness h({.folder = elsewhere.path(), .answerFor = [&](const QString &) {
                             // The window's own reading path, as a frame would take it.
                             if (self) {
                                 reading(*self, QStringLiteral("09.999"));
                                 ++offeredMeanwhile;
                             }
                             return true;
                         }});
        self = &h;
        control<QCheckBox>(*h.w, "RepeatSet")->setChecked(false);
        h.nextFile = table();
        h.w->OpenDataFilesClick();
        QCOMPARE(offeredMeanwhile, 1);
        QCOMPARE(h.errors, QStringList());
        QCOMPARE(gridNumbers(h), range(1, 7));
        QCOMPARE(h.w->RecordedCount(), 0);
        reading(h, QStringLiteral("09.998"));
        QCOMPARE(gridNumbers(h), range(1, 7) + QList<int>{1});
    }

    // A spool made for another state of the table (here the table was replaced since) is
    // never applied: it is set aside under a name that says so, and the user is told once.
    void aSpoolOfAnotherTableIsSetAsideAndToldOnce() {
        runKilledWithFourPending();
        QVERIFY(QFile::copy(table(), table() + QStringLiteral(".copy")));
        QVERIFY(QFile::remove(table()));
        QVERIFY(QFile::rename(table() + QStringLiteral(".copy"), table()));
        const QString aside = table() + QStringLiteral("-pending.not-this-table");
        {
            WindowHarness h(
                {.folder = m_dir->path(), .answerFor = [](const QString &) { return true; }});
            QCOMPARE(h.questions, QStringList());
            QCOMPARE(h.errors.size(), 1);
            QVERIFY2(h.errors[0].contains(u"holds 4 readings") &&
                         h.errors[0].contains(u"They were not added to the table.") &&
                         h.errors[0].endsWith(QDir::toNativeSeparators(aside) + u'.'),
                     qPrintable(h.errors[0]));
            QCOMPARE(gridNumbers(h), range(1, 3));
            QVERIFY(QFile::exists(aside));
        }
        WindowHarness again({.folder = m_dir->path()});
        QCOMPARE(again.errors, QStringList());
        QCOMPARE(again.questions, QStringList());
        QVERIFY(QFile::exists(aside));
    }

#ifdef QM_METER_SIM
    // Recording up to the limit, killed a while after: the next start offers every reading,
    // and Save stores exactly 1..N.
    void everyReadingOfAKilledRunComesBack() {
        const int n = qEnvironmentVariableIntValue("QM_DONE_READINGS") > 0
                          ? qEnvironmentVariableIntValue("QM_DONE_READINGS")
                          : 1000;
        MeterEmulator sim({"--fixed", "--flood"}, m_dir->filePath(QStringLiteral("meter")), 5);
        QVERIFY(sim.readyAsCom1());
        Child child(m_dir->path(), {"--connect", "--limit", QString::number(n)});
        QVERIFY2(
            child.readUntil([&](const Line &l) { return l.count >= n; }, 60000),
            qPrintable(QString::number(child.lines().isEmpty() ? -1 : child.lines().last().count)));
        QTest::qWait(1500);
        child.kill();
        QCOMPARE(child.errors, QStringList());
        // Return presses the preset answer.
        WindowHarness h({.folder = m_dir->path(), .answerFor = [&](const QString &) {
                             return h.questionDefaults.last() == UiPrompts::DefaultAnswer::Yes;
                         }});
        QCOMPARE(h.questions.size(), 1);
        QVERIFY2(h.questions[0].startsWith(
                     QStringLiteral("%1 readings recorded after the last Save").arg(n)),
                 qPrintable(h.questions[0]));
        QCOMPARE(h.w->recordTable()->pendingCount(), n);
        h.w->RecordSaveClick();
        QCOMPARE(h.errors, QStringList());
        h.w.reset();
        QCOMPARE(storedNumbers(table()), range(1, n));
    }

    // The kill campaign; see the head of this file.
    void killedAtRandomMomentsLosesNoSavedOrSecuredRecord() {
        const int rounds = qEnvironmentVariableIntValue("QM_KILL_ROUNDS") > 0
                               ? qEnvironmentVariableIntValue("QM_KILL_ROUNDS")
                               : 4;
        const quint32 seed = qEnvironmentVariableIsSet("QM_KILL_SEED")
                                 ? qgetenv("QM_KILL_SEED").toUInt()
                                 : QRandomGenerator::global()->generate();
        QRandomGenerator rng(seed);
        // How long a run records at most before it is killed.
        const int longestMs =
            std::max(1000, qEnvironmentVariableIntValue("QM_KILL_LONGEST_MS") > 0
                               ? qEnvironmentVariableIntValue("QM_KILL_LONGEST_MS")
                               : 1500);
        // "slow": the meter answering as it does, two readings a second, so that only the
        // table's own timer writes them out; "recording": a flood, no command.
        const QStringList kinds{"recording", "save",   "clear", "saveas",
                                "export",    "reopen", "open",  "slow"};
        const int firstKind = int(rng.bounded(kinds.size()));
        std::map<QString, Tally> tally;
        QTemporaryDir emulatorFolder;
        MeterEmulator sim({"--fixed", "--flood"}, emulatorFolder.filePath(QStringLiteral("meter")),
                          int(seed % 1000));
        QVERIFY(sim.readyAsCom1());
        MeterEmulator steady({"--fixed"}, emulatorFolder.filePath(QStringLiteral("steady")),
                             int(seed % 1000) + 1);
        QVERIFY(steady.ready());
        for (int round = 0; round < rounds; ++round) {
            m_dir = std::make_unique<QTemporaryDir>();
            const QString kind = kinds[(firstKind + round) % kinds.size()];
            const bool keep = rng.bounded(4) != 0;
            QString where = QStringLiteral("seed %1, round %2 (%3, %4):")
                                .arg(seed)
                                .arg(round)
                                .arg(kind, keep ? "Yes" : "No");
            Tally &t = tally[kind];
            ++t.rounds;

            // A run killed while it records, or at a random moment of a command of its own.
            Expected expected;
            qint64 killedAt = 0;
            const bool command = !QStringList{"recording", "open", "slow"}.contains(kind);
            {
                QStringList options{"--connect"};
                if (kind != u"recording" && kind != u"slow")
                    options << "--ops" << QString::number(rng.generate());
                if (command)
                    options << "--favour" << kind << "--kill-inside"
                            << QString::number(2 + rng.bounded(3));
                Child child(m_dir->path(), options, kind == u"slow" ? steady.link() : QString());
                QVERIFY2(child.readUntil([](const Line &l) { return l.kind == u"ready"; }, 10000),
                         qPrintable(where));
                if (command) {
                    killedAt = child.awaitDeath(20000);
                } else {
                    const int shortest = kind == u"slow" ? 2200 : 300;
                    QTest::qWait(shortest + int(rng.bounded(std::max(1, longestMs - shortest))));
                    killedAt = child.kill();
                }
                QVERIFY2(child.errors.isEmpty(), qPrintable(where + child.errors.join(u' ')));
                expected.follow(child.lines(), killedAt);
                if (command && expected.underWay == kind)
                    ++t.insideCommand;
            }
            // The next start killed while it opens the table and asks, or just after it
            // answered.
            bool mayHaveDropped = false;
            if (kind == u"open") {
                const bool atQuestion = rng.bounded(2) == 0;
                QStringList options{"--answer", keep ? "yes" : "no"};
                if (atQuestion)
                    options << "--kill-at-question";
                Child next(m_dir->path(), options);
                if (atQuestion) {
                    next.awaitDeath(5000);
                } else {
                    QThread::usleep(rng.bounded(400000));
                    next.kill();
                }
                QVERIFY2(next.errors.isEmpty(), qPrintable(where + next.errors.join(u' ')));
                if (next.answered.has_value())
                    ++t.insideCommand;
                mayHaveDropped = next.answered == false;
            }

            // What a plain client finds, then the next start, which answers and saves.
            const QList<int> found = storedNumbers(table());
            WindowHarness h(
                {.folder = m_dir->path(), .answerFor = [&](const QString &) { return keep; }});
            QVERIFY2(h.errors.isEmpty(), qPrintable(where + h.errors.join(u' ')));
            QVERIFY2(h.questions.size() <= 1, qPrintable(where));
            const QList<int> shown = gridNumbers(h);
            const QList<int> offered = shown.mid(found.size());
            where += QStringLiteral(" stored %1, offered %2 (%3..%4), %5 under way, next %6, "
                                    "must have up to %7")
                         .arg(found.size())
                         .arg(offered.size())
                         .arg(offered.isEmpty() ? 0 : offered.first())
                         .arg(offered.isEmpty() ? 0 : offered.last())
                         .arg(expected.underWay.isEmpty() ? QStringLiteral("nothing")
                                                          : expected.underWay)
                         .arg(expected.next)
                         .arg(expected.mustHaveUpTo);
            QVERIFY2(shown.mid(0, found.size()) == found, qPrintable(where));
            QVERIFY2(keep || offered.isEmpty(), qPrintable(where));
            // The table holds the last save, or the one under way.
            int first = 0;
            if (found == expected.stored)
                first = expected.firstPending;
            if (expected.ifDone && found == expected.ifDone->first &&
                (first == 0 || (!offered.isEmpty() && offered.first() == expected.ifDone->second)))
                first = expected.ifDone->second;
            QVERIFY2(first > 0, qPrintable(where));
            // Offered: records pending since, each once, in order, none made up.
            if (!offered.isEmpty()) {
                QVERIFY2(offered == range(first, first + int(offered.size()) - 1),
                         qPrintable(where));
                QVERIFY2(offered.last() < expected.next + 500, qPrintable(where));
            }
            // Every record pending two seconds before the kill is among them.
            const bool dropped =
                expected.underWay == u"clear" || expected.underWay == u"reopen" || mayHaveDropped;
            if (keep && !dropped && expected.mustHaveUpTo >= first) {
                QVERIFY2(!offered.isEmpty() && offered.last() >= expected.mustHaveUpTo,
                         qPrintable(where));
                ++t.completeChecked;
            }
            if (keep && !dropped) {
                const int lastOffered = offered.isEmpty() ? first - 1 : offered.last();
                t.lostMost = std::max(t.lostMost, std::max(0, expected.next - 1 - lastOffered));
                t.lostAgeMost = std::max(t.lostAgeMost, expected.ageOfFirstAfter(lastOffered));
                t.offered += offered.size();
            }
            h.w->RecordSaveClick();
            QVERIFY2(h.errors.isEmpty(), qPrintable(where + h.errors.join(u' ')));
            h.w.reset();
            QVERIFY2(storedNumbers(table()) == found + offered, qPrintable(where));
            if (qEnvironmentVariableIsSet("QM_KILL_ROUNDS"))
                qInfo("%s", qPrintable(where));
        }
        qInfo("seed %u, %d rounds", seed, rounds);
        for (const auto &[kind, t] : tally)
            qInfo("%-9s %3d rounds, %3d killed inside, %7lld records offered back, %3d rounds with "
                  "records older than 2 s (all offered); not offered: at most %d readings, "
                  "recorded at most %lld ms before the kill",
                  qPrintable(kind), t.rounds, t.insideCommand, t.offered, t.completeChecked,
                  t.lostMost, t.lostAgeMost);
    }
#endif
};

int main(int argc, char **argv) {
    if (argc >= 3 && qstrcmp(argv[1], "--child") == 0)
        return runChild(argc, argv);
    QApplication app(argc, argv);
    TestRecovery test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recovery.moc"
#include "windowcontrols.h"
