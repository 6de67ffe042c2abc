#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "recordgrid.h"
#include "recordtable.h"
#include "recordtablemodel.h"
#include "tfcomm.h"
#include "windowharness.h"

namespace {

/// A window working in the given folder, offered readings as the decoder leaves them.
struct Harness : WindowHarness {
    explicit Harness(const QString &workFolder) : WindowHarness({.folder = workFolder}) {}

    /// Offers a reading as the decoder leaves it.
    void reading(const QString &value, const QString &unit = QStringLiteral("V")) {
        w->INDataToTable(readingFrame(value, value.toFloat(), QStringLiteral("DC"), unit,
                                      QStringLiteral("AUTO")));
    }
    /// Offers `n` readings that all differ from each other.
    void readings(int n) {
        for (int i = 0; i < n; ++i)
            reading(QString::number(++m_serial));
    }
    qint64 records() const { return w->recordTable()->count(); }
    QStringList column(int c) const {
        QStringList out;
        for (int r = 0; r < w->recordModel()->rowCount(); ++r)
            out << w->recordModel()->index(r, c).data().toString();
        return out;
    }

    int m_serial = 0;
};

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestRecording : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void controlsMenuAndStart() {
        Harness h(m_dir->path());
        QVERIFY(h.errors.isEmpty());
        QVERIFY(QFileInfo::exists(h.path(QStringLiteral("Qm20db.db"))));
        QVERIFY(h.w->recordTable()->isOpen());

        QStringList menu;
        for (QAction *a : control<QMenu>(*h.w, "Record1")->actions())
            menu << (a->isSeparator() ? QStringLiteral("-") : a->objectName() + u'=' + a->text());
        QCOMPARE(menu, (QStringList{"New1=New", "Save1=Save", "-", "N10001=1000", "N50001=5000",
                                    "N100001=10000", "N500001=50000", "N1000001=100000",
                                    "limitess=limitess"}));
        QVERIFY(control<QAction>(*h.w, "N100001")->isChecked());
        QCOMPARE(h.w->RecordLimit(), 10000);

        const std::pair<QAction *, int> items[] = {{control<QAction>(*h.w, "N10001"), 1000},
                                                   {control<QAction>(*h.w, "N50001"), 5000},
                                                   {control<QAction>(*h.w, "N100001"), 10000},
                                                   {control<QAction>(*h.w, "N500001"), 50000},
                                                   {control<QAction>(*h.w, "N1000001"), 100000},
                                                   {control<QAction>(*h.w, "limitess"), 10000000}};
        for (auto [item, limit] : items) {
            item->trigger();
            QCOMPARE(h.w->RecordLimit(), limit);
            for (auto [other, unused] : items)
                QCOMPARE(other->isChecked(), other == item);
        }

        QVERIFY(control<QCheckBox>(*h.w, "RepeatSet")->isChecked());
        QCOMPARE(control<QCheckBox>(*h.w, "RepeatSet")->toolTip(),
                 QStringLiteral("Repeage Record"));
        QVERIFY(!control<QCheckBox>(*h.w, "RecordSI")->isChecked());
        QCOMPARE(control<QCheckBox>(*h.w, "RecordSI")->text(),
                 QStringLiteral("Sampling Interval             'S"));
        QCOMPARE(control<QLineEdit>(*h.w, "RecordSITime")->text(), QStringLiteral("10"));
        QCOMPARE(control<QTimer>(*h.w, "Trecord")->interval(), 1000);
        QVERIFY(control<QTimer>(*h.w, "Trecord")->isActive());

        const std::tuple<QToolButton *, int, const char *> buttons[] = {
            {control<QToolButton>(*h.w, "RecordNew"), 213, "Close Data"},
            {control<QToolButton>(*h.w, "OpenDataFiles"), 235, "Open old data files"},
            {control<QToolButton>(*h.w, "saveas"), 257, "Save data files"},
            {control<QToolButton>(*h.w, "SpeedButton2"), 279, "Print"}};
        for (auto [button, left, hint] : buttons) {
            QCOMPARE(button->geometry(), QRect(left, 243, 22, 22));
            QCOMPARE(button->toolTip(), QLatin1String(hint));
        }
        QCOMPARE(control<RecordGrid>(*h.w, "DBGrid1")->geometry().topLeft(), QPoint(3, 264));
        QCOMPARE(control<RecordGrid>(*h.w, "DBGrid1")->recordModel(), h.w->recordModel());
    }

    void readingsAppearInTheGridAsTheCurrentRow() {
        Harness h(m_dir->path());
        h.reading(QStringLiteral("1.234"), QStringLiteral("k*"));
        h.reading(QStringLiteral("1.235"), QStringLiteral("k*"));
        QCOMPARE(h.records(), 2);
        QCOMPARE(h.column(RecordRow::No), (QStringList{"1", "2"}));
        QCOMPARE(h.column(RecordRow::Unit), (QStringList{"k*", "k*"}));
        QCOMPARE(control<RecordGrid>(*h.w, "DBGrid1")->currentRow(), 1);
        QCOMPARE(h.w->RecordNo(), 3);
        QCOMPARE(h.w->RecordedCount(), 2);
    }

    void limitThroughTheMenu() {
        Harness h(m_dir->path());
        control<QAction>(*h.w, "N10001")->trigger();
        h.readings(1100);
        QCOMPARE(h.records(), 1000);
        control<QAction>(*h.w, "N100001")->trigger();
        h.readings(5);
        QCOMPARE(h.records(), 1005);
        QCOMPARE(h.w->recordModel()->index(1004, RecordRow::No).data().toString(),
                 QStringLiteral("1005"));
        // Lower than what is recorded: stops at once.
        control<QAction>(*h.w, "N10001")->trigger();
        h.readings(3);
        QCOMPARE(h.records(), 1005);
    }

    void clearKeepsTheRepeatKey() {
        Harness h(m_dir->path());
        h.reading(QStringLiteral("5"));
        h.reading(QStringLiteral("5"));
        QCOMPARE(h.records(), 1);
        h.w->RecordNewClick();
        QCOMPARE(h.infos, QStringList{" Record deleted "});
        QCOMPARE(h.records(), 0);
        QCOMPARE(h.w->RecordNo(), 1);
        QCOMPARE(h.w->RecordedCount(), 0);
        h.reading(QStringLiteral("5"));
        QCOMPARE(h.records(), 0);
        h.reading(QStringLiteral("6"));
        QCOMPARE(h.column(RecordRow::No), QStringList{"1"});

        // Clearing an empty table still says so and restarts the numbers (the table may have
        // been emptied while the numbers ran on).
        h.w->RecordNewClick();
        h.readings(6);
        h.w->recordTable()->empty();
        QCOMPARE(h.w->RecordNo(), 7);
        h.w->RecordNewClick();
        QCOMPARE(h.infos.size(), 3);
        QCOMPARE(h.w->RecordNo(), 1);
        QVERIFY(h.errors.isEmpty());
    }

    void samplingInterval() {
        Harness h(m_dir->path());
        control<QCheckBox>(*h.w, "RecordSI")->setChecked(true);
        h.readings(1);
        QCOMPARE(h.w->SampleCountdown(), 10);
        for (int tick = 0; tick < 9; ++tick) {
            h.w->TrecordTimer();
            h.readings(1);
        }
        QCOMPARE(h.records(), 1);
        h.w->TrecordTimer();
        h.readings(1);
        QCOMPARE(h.records(), 2);

        // Editing the interval restarts the wait at once; an empty box means no wait.
        control<QLineEdit>(*h.w, "RecordSITime")->setText(QStringLiteral("3"));
        QCOMPARE(h.w->SampleCountdown(), 3);
        control<QLineEdit>(*h.w, "RecordSITime")->clear();
        QCOMPARE(h.w->SampleCountdown(), 0);
        h.readings(3);
        QCOMPARE(h.records(), 5);

        control<QLineEdit>(*h.w, "RecordSITime")->setText(QStringLiteral("12"));
        QCOMPARE(h.w->SampleCountdown(), 12);
    }

    // A pasted text that is no interval is refused once, when it arrives: the box shows the
    // last valid interval again and recording goes on with it, quietly.
    void refusedIntervalTexts_data() {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("message");
        QTest::newRow("not a number") << "1x"
                                      << "'1x' is not a valid integer value";
        QTest::newRow("negative")
            << "-3"
            << "'-3' is not a valid sampling interval: it must be 0 or more seconds";
    }
    void refusedIntervalTexts() {
        QFETCH(QString, pasted);
        QFETCH(QString, message);
        Harness h(m_dir->path());
        control<QLineEdit>(*h.w, "RecordSITime")->setText(QStringLiteral("2"));
        for (bool intervalOn : {false, true}) {
            control<QCheckBox>(*h.w, "RecordSI")->setChecked(true);
            while (h.w->SampleCountdown() > 0) // the wait runs out first
                h.w->TrecordTimer();
            control<QCheckBox>(*h.w, "RecordSI")->setChecked(intervalOn);
            h.errors.clear();
            control<QLineEdit>(*h.w, "RecordSITime")->setText(pasted);
            QCOMPARE(h.errors, QStringList{message});
            QCOMPARE(control<QLineEdit>(*h.w, "RecordSITime")->text(), QStringLiteral("2"));
            QCOMPARE(h.w->SampleCountdown(), 0);
            const qint64 before = h.records();
            h.readings(3);
            QCOMPARE(h.errors.size(), 1);
            QCOMPARE(h.w->SampleCountdown(), 2);
            QCOMPARE(h.records() - before, intervalOn ? 1 : 3);
            for (int tick = 0; tick < 4; ++tick)
                h.w->TrecordTimer();
            QCOMPARE(h.w->SampleCountdown(), intervalOn ? 0 : 2);
        }
    }

    // Clear and Save say they succeeded only once they have; a failure shows its error alone.
    void commandMessagesFollowTheOutcome() {
        Harness h(m_dir->path());
        h.readings(2);
        h.w->RecordSaveClick();
        QCOMPARE(h.infos, QStringList{"Record has saved, it will be there when you enter the "
                                      "application next time."});
        h.w->RecordNewClick();
        QCOMPARE(h.infos.last(), QStringLiteral(" Record deleted "));
        QVERIFY(h.errors.isEmpty());

        h.infos.clear();
        h.w->recordTable()->close();
        h.w->RecordSaveClick();
        h.w->RecordNewClick();
        QCOMPARE(h.infos, QStringList());
        QCOMPARE(h.errors.size(), 2);
        for (const QString &e : h.errors)
            QVERIFY2(e.contains(QStringLiteral("not open")), qPrintable(e));
    }

    void savedRecordsSurviveARestartPendingOnesDoNot() {
        {
            Harness h(m_dir->path());
            h.readings(5);
            h.w->RecordSaveClick();
            QCOMPARE(h.infos, QStringList{"Record has saved, it will be there when you enter the "
                                          "application next time."});
            h.readings(3);
            QCOMPARE(h.records(), 8);
            h.w->BtExit1Click();
        }
        {
            Harness h(m_dir->path());
            QCOMPARE(h.records(), 5);
            QCOMPARE(h.column(RecordRow::No), (QStringList{"1", "2", "3", "4", "5"}));
            // Numbering starts again at 1 in every run.
            h.readings(1);
            QCOMPARE(h.column(RecordRow::No).last(), QStringLiteral("1"));
            // Clear, then leave through the window's close box without a save.
            h.w->RecordNewClick();
            h.w->close();
        }
        Harness h(m_dir->path());
        QCOMPARE(h.records(), 0);
    }

    void openingAFileDropsPendingRecords() {
        const QString other = m_dir->filePath(QStringLiteral("Other Data.db"));
        {
            RecordTable t;
            t.open(other, RecordTable::OpenMode::CreateIfMissing);
            for (int i = 0; i < 4; ++i)
                t.append(RecordValues{});
            t.applyUpdates();
        }
        {
            Harness h(m_dir->path());
            h.readings(2);
            h.w->RecordSaveClick();
            h.readings(3);
            h.nextFile = other;
            // Asked first, No the default: nothing changes.
            h.w->OpenDataFilesClick();
            const QString asked =
                QStringLiteral("3 records are not saved. Open another table anyway?");
            QCOMPARE(h.questions, QStringList{asked});
            QCOMPARE(h.records(), 5);
            h.answer = true;
            h.w->OpenDataFilesClick();
            QCOMPARE(h.questions, (QStringList{asked, asked}));
            QVERIFY(h.errors.isEmpty());
            QCOMPARE(h.dialogs.last().filter,
                     QStringLiteral("access data files (*.DB);;All files (*.*)"));
            QCOMPARE(h.w->recordTable()->fileName(), other); // as chosen, letters not raised
            QCOMPARE(h.records(), 4);
            QCOMPARE(h.w->recordModel()->rowCount(), 4);
            // The running count goes on in the opened table.
            h.readings(1);
            QCOMPARE(h.column(RecordRow::No).last(), QStringLiteral("6"));
            // Cancelling the dialog changes nothing.
            h.nextFile.clear();
            h.w->OpenDataFilesClick();
            QCOMPARE(h.records(), 5);
            QCOMPARE(h.questions.size(), 2);
        }
        Harness h(m_dir->path());
        QCOMPARE(h.records(), 2);
    }

    void aFailedOpenLeavesTheWindowUsable() {
        const QString bad = m_dir->filePath(QStringLiteral("bad.db"));
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bad"));
            db.setDatabaseName(bad);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(
                QStringLiteral("CREATE TABLE bad (\"Not\" INTEGER PRIMARY KEY, "
                               "\"No\" INTEGER, \"Time\" TEXT, \"Value\" TEXT)")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("bad"));

        Harness h(m_dir->path());
        h.readings(1);
        h.nextFile = bad;
        h.answer = true; // the record not yet saved may go
        h.w->OpenDataFilesClick();
        QCOMPARE(h.errors.size(), 1);
        QVERIFY2(h.errors[0].contains(QStringLiteral("Field 'DC/AC' not found")),
                 qPrintable(h.errors[0]));
        QCOMPARE(h.w->recordModel()->rowCount(), 0);

        // Recording says once that there is no table, then waits quietly.
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, h.readings(1));
        for (int i = 0; i < 5; ++i)
            h.readings(1);
        QCOMPARE(h.w->RecordedCount(), 1);
        // The data commands report the engine's message.
        h.w->RecordSaveClick();
        QCOMPARE(h.errors.size(), 2);
        QVERIFY(h.errors[1].contains(QStringLiteral("not open")));

        h.nextFile = h.path(QStringLiteral("Qm20db.db"));
        h.w->OpenDataFilesClick();
        QCOMPARE(h.errors.size(), 2);
        h.readings(1);
        QCOMPARE(h.records(), 1);
    }

    void saveAs_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("written");
        QTest::addColumn<bool>("text");
        QTest::newRow("no extension") << "data"
                                      << "data.xls" << true;
        QTest::newRow("txt") << "data.txt"
                             << "data.txt" << true;
        QTest::newRow("DB capitals") << "data.DB"
                                     << "data.DB" << true;
        QTest::newRow("db") << "data.db"
                            << "data.db" << false;
    }

    void saveAs() {
        QFETCH(QString, chosen);
        QFETCH(QString, written);
        QFETCH(bool, text);
        Harness h(m_dir->path());
        h.reading(QStringLiteral("0.001"));
        h.reading(QStringLiteral("0.002"));
        control<RecordGrid>(*h.w, "DBGrid1")->setCurrentRow(0);
        h.nextFile = h.path(chosen);
        h.w->saveasClick();
        QVERIFY(h.errors.isEmpty());
        const UiPrompts::FileDialogRequest &request = h.dialogs.last();
        QCOMPARE(
            request.filter,
            QStringLiteral("Excel File(*.xls);;DB File(*.db);;Txt File(*.txt);;All File(*.*)"));
        QCOMPARE(request.defaultSuffix, QStringLiteral("xls"));
        QVERIFY(h.questions.isEmpty()); // nothing there to replace
        const QString file = h.path(written);
        if (text) {
            QCOMPARE(h.infos, QStringList{"save table to specified file: " + file + " Scuss!"});
            const QList<QByteArray> lines = readAll(file).split('\n');
            QCOMPARE(lines.size(), 4); // three lines and the empty rest after the last LF
            QCOMPARE(lines[0], QByteArray("No\tTime\tDC/AC\tValue\tUnit\tAUTO\r"));
            QVERIFY(lines[2].startsWith("2\t"));
            QCOMPARE(lines[2].count('\t'), 5);
            QCOMPARE(control<RecordGrid>(*h.w, "DBGrid1")->currentRow(), 1);
        } else {
            QVERIFY(h.infos.isEmpty());
            RecordTable copy;
            copy.open(file, RecordTable::OpenMode::MustExist);
            QCOMPARE(copy.count(), 2);
        }
    }

    // The program asks before it replaces any file, also one whose extension it added to the
    // name chosen in the dialog; a "no" leaves the file as it was.
    void saveAsAsksBeforeReplacing_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("existing");
        QTest::addColumn<bool>("answer");
        QTest::newRow("completed, no") << "data"
                                       << "data.xls" << false;
        QTest::newRow("completed, yes") << "data"
                                        << "data.xls" << true;
        QTest::newRow("as chosen, no") << "data.txt"
                                       << "data.txt" << false;
        QTest::newRow("table copy, yes") << "data.db"
                                         << "data.db" << true;
    }
    void saveAsAsksBeforeReplacing() {
        QFETCH(QString, chosen);
        QFETCH(QString, existing);
        QFETCH(bool, answer);
        Harness h(m_dir->path());
        h.readings(2);
        const QString target = h.path(existing);
        {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old content");
        }
        h.nextFile = h.path(chosen);
        h.answer = answer;
        h.w->saveasClick();
        QCOMPARE(
            h.questions,
            QStringList{target + QStringLiteral(" already exists.\nDo you want to replace it?")});
        QVERIFY(h.errors.isEmpty());
        QCOMPARE(readAll(target) == "old content", !answer);
        QCOMPARE(h.infos.isEmpty(), !answer || existing.endsWith(QLatin1String(".db")));
    }

    void failedTextSaveSaysSo() {
        Harness h(m_dir->path());
        h.readings(2);
        const QString missing = h.path(QStringLiteral("nofolder/out.txt"));
        h.nextFile = missing;
        h.w->saveasClick();
        QCOMPARE(h.infos, QStringList{"Could not save table to specified file: " + missing});
        h.infos.clear();
        const QString folder = h.path(QStringLiteral("folder.txt"));
        QVERIFY(QDir(h.folder()).mkdir(QStringLiteral("folder.txt")));
        h.nextFile = folder;
        h.w->saveasClick();
        QCOMPARE(h.infos, QStringList{"Could not save table to specified file: " + folder});
        QVERIFY(h.errors.isEmpty());
    }

    void aSecondCopyCannotOpenTheTable() {
        Harness first(m_dir->path());
        first.readings(2);
        {
            Harness second(m_dir->path());
            QCOMPARE(second.errors.size(), 1);
            QVERIFY2(second.errors[0].contains(QStringLiteral("in use")),
                     qPrintable(second.errors[0]));
            QVERIFY(second.errors[0].contains(first.path(QStringLiteral("Qm20db.db"))));
            QVERIFY(!second.w->recordTable()->isOpen());
        }
        first.readings(1);
        first.w->RecordSaveClick();
        QVERIFY(first.errors.isEmpty());
        QCOMPARE(first.records(), 3);
    }
};

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
#include "windowcontrols.h"
