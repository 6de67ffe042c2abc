// A record table written by some other program, whose texts hold what this program never
// writes: tabs and line breaks, other control characters, bytes that are not UTF-8, blobs
// where texts belong, values of 100 KB. Opened in the window it must show, export and print
// with every record in a row of its own.
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStyleOptionViewItem>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstring>

#include "bandlayout.h"
#include "datareport.h"
#include "recordgrid.h"
#include "recordtable.h"
#include "recordtablemodel.h"
#include "residentmemory.h"
#include "testfiles.h"
#include "tfcomm.h"
#include "windowharness.h"

namespace {

constexpr int k100KB = 100 * 1024;

/// One record as SQL expressions for No, Time, DC/AC, Value, Unit and AUTO.
struct HostileRecord {
    const char *what;
    QStringList fields;
    bool hostile = true;
};

// SQL makes the bytes: CAST(X'..' AS TEXT) stores bytes as text unchecked, X'..' is a blob,
// printf('%.*c', n, c) repeats a character.
const QString kTab = QStringLiteral("char(9)");
const QString kLf = QStringLiteral("char(10)");
const QString kCr = QStringLiteral("char(13)");
/// `unit` (two characters or more) repeated to 100 KB or more.
QString hundredKB(const QString &unit) {
    return QStringLiteral("replace(printf('%.*c', %1, '#'), '#', %2)").arg(k100KB / 2).arg(unit);
}

const QList<HostileRecord> &records() {
    static const QList<HostileRecord> kRecords{
        {"tabs and line breaks",
         {"1", "'12:00:01'", "'D'||" + kTab + "||'C'", "'1'||" + kCr + "||" + kLf + "||'2'",
          "'V'||" + kLf, "'AU'||" + kCr + "||'TO'"}},
        {"control characters",
         {"2", "'12:00:02'", "char(1,2,3,7,8)", "char(11,12,27,127)||CAST(X'00' AS TEXT)||'9'",
          "char(133,8232,8233)", "'MA'||char(0)||'NU'"}},
        {"invalid UTF-8 and blobs",
         {"X'330A'", "X'0D0A09'", "X'0A0D09'", "CAST(X'FFFEC328E282' AS TEXT)",
          "CAST(X'C0AF80' AS TEXT)", "X'FF00FF'"}},
        {"100 KB values",
         {hundredKB("'4'||" + kTab + "||'x'||" + kLf), hundredKB("'ab'||" + kCr),
          hundredKB("'AC'||" + kLf), hundredKB("'1.5'||" + kTab),
          hundredKB("'k*'||" + kCr + "||" + kLf), hundredKB("'AUTO'")}},
        {"an ordinary record", {"5", "'12:00:05'", "'DC'", "'01.234'", "'V'", "'AUTO'"}, false},
    };
    return kRecords;
}

/// Writes the table, or with `blank` the same table with every hostile field empty.
void writeTable(const QString &path, bool blank) {
    const QString name = QStringLiteral("hostile-writer");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(RecordSchema::createSql(QFileInfo(path).completeBaseName())));
        int key = 0;
        for (const HostileRecord &r : records()) {
            QStringList fields = r.fields;
            if (blank && r.hostile)
                fields.fill(QStringLiteral("NULL"));
            QVERIFY2(q.exec(QStringLiteral("INSERT INTO %1 VALUES (%2, %3, 0)")
                                .arg(QFileInfo(path).completeBaseName())
                                .arg(++key)
                                .arg(fields.join(u", "))),
                     qPrintable(q.lastError().text()));
        }
    }
    QSqlDatabase::removeDatabase(name);
}

/// Page 1 of the report of the window's table, as a picture at 96 dpi.
QImage printedPage(WindowHarness &h) {
    QImage page;
    h.w->setPreviewHook([&](DataReport &report) {
        QCOMPARE(report.pageCount(), 1);
        page = QImage(BandLayout::kPaperWidth * 96 / 2540, BandLayout::kPaperHeight * 96 / 2540,
                      QImage::Format_RGB32);
        page.setDotsPerMeterX(3780);
        page.setDotsPerMeterY(3780);
        page.fill(Qt::white);
        QPainter painter(&page);
        report.paintPage(painter, 0);
    });
    h.w->BtPrintClick();
    return page;
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

/// The "Value" of every record a plain client finds in `table` of `path`, sorted.
QStringList storedValues(const QString &path, const QString &table) {
    QStringList values;
    const QString name = QStringLiteral("stored-values");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QSqlQuery q(db);
        if (db.open() && q.exec(QStringLiteral("SELECT \"Value\" FROM \"%1\"").arg(table)))
            while (q.next())
                values << q.value(0).toString();
    }
    QSqlDatabase::removeDatabase(name);
    values.sort();
    return values;
}

/// A table file written elsewhere: `table` with the records 01.000 and 02.000, then `sql`.
void writeForeign(const QString &path, const QString &table, const QStringList &sql) {
    runSql(path, QStringList{RecordSchema::createSql(table),
                             QStringLiteral("INSERT INTO \"%1\" (\"No\", \"Value\") VALUES "
                                            "(1, '01.000'), (2, '02.000')")
                                 .arg(table)} +
                     sql);
}

/// Offers `values` to recording in the window, one reading each, as the dispatch does.
void record(WindowHarness &h, const QStringList &values) {
    control<QCheckBox>(*h.w, "RepeatSet")->setChecked(false);
    for (const QString &v : values) {
        h.prompts.guard([&] { h.w->INDataToTable(readingFrame(v)); });
    }
}

} // namespace

class TestHostileTables : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<WindowHarness> m_h;

    /// The window with the hostile table opened through "Open old data files".
    WindowHarness &window() { return *m_h; }

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        const QString file = m_dir->filePath(QStringLiteral("hostile.db"));
        writeTable(file, false);
        m_h = std::make_unique<WindowHarness>(WindowHarness::Setup{.show = true});
        m_h->nextFile = file;
        m_h->w->OpenDataFilesClick();
        QCOMPARE(m_h->errors, QStringList());
        QCOMPARE(m_h->w->recordModel()->rowCount(), records().size());
    }
    void cleanup() { m_h.reset(); }

    // Every record in one grid row of the usual height, each text on one line.
    void gridShowsEveryRecordInItsRow_data() {
        QTest::addColumn<int>("row");
        for (int r = 0; r < records().size(); ++r)
            QTest::newRow(records()[r].what) << r;
    }
    void gridShowsEveryRecordInItsRow() {
        QFETCH(int, row);
        WindowHarness &h = window();
        RecordGrid *grid = control<RecordGrid>(*h.w, "DBGrid1");
        grid->setCurrentRow(row);
        QVERIFY(!grid->grab().isNull());
        QTableView *view = grid->view();
        for (int r = 0; r < view->model()->rowCount(); ++r)
            QCOMPARE(view->rowHeight(r), RecordGrid::kRowHeight);
        for (int c = 0; c < RecordRow::ColumnCount; ++c) {
            const QString text = h.w->recordModel()->index(row, c).data().toString();
            for (char16_t breaking :
                 {u'\t', u'\r', u'\n', u'\v', u'\f', u'\x85', u'\x2028', u'\x2029'})
                QVERIFY2(!text.contains(breaking), qPrintable(QString::number(c)));
            // The grid holds the first characters of a long text, never the whole of it.
            if (row == 3)
                QCOMPARE(text.size(), RecordRow::kMaxChars);
            // A cell lays out only what it can show: its size hint stays that of a short text
            // (laying out 100 KB on every paint took the window seconds).
            const QModelIndex cell = view->model()->index(row - grid->topRow(), c);
            QStyleOptionViewItem option;
            option.initFrom(view);
            const QSize hint = view->itemDelegateForColumn(c)->sizeHint(option, cell);
            QVERIFY2(hint.width() < 256 * 40, qPrintable(QString::number(hint.width())));
        }
        QCOMPARE(h.w->recordModel()->index(4, RecordRow::Value).data().toString(),
                 QStringLiteral("01.234"));
    }

    // A value of 100 MB: the grid and the report read and lay out only its first characters
    // (and read the fields stored after it right), so memory stays far below the value's
    // size; the text export and the table copy still carry all of it.
    void hugeValueIsCutForTheViewsOnly() {
        constexpr int k100MB = 100 * 1000 * 1000;
        const QString file = m_dir->filePath(QStringLiteral("huge.db"));
        runSql(file, {RecordSchema::createSql(QStringLiteral("huge")),
                      QStringLiteral("INSERT INTO huge VALUES (1, 1, '12:00:01', 'DC', "
                                     "printf('%.*c', %1, '7'), 'mV', 'MANU', 1)")
                          .arg(k100MB),
                      QStringLiteral("INSERT INTO huge VALUES (2, 2, '12:00:02', 'AC', '01.234', "
                                     "'V', 'AUTO', 1234)")});
        WindowHarness &h = window();
        const qint64 before = residentKiB();
        h.nextFile = file;
        h.w->OpenDataFilesClick();
        // A value too long to load is no failure of the engine: a reading pending in its
        // transaction stays there, and nothing is told.
        h.w->INDataToTable(readingFrame(QStringLiteral("03.000")));
        QVERIFY(!control<RecordGrid>(*h.w, "DBGrid1")->grab().isNull());
        const QImage page = printedPage(h);
        QVERIFY(!page.isNull());
        QCoreApplication::processEvents();
        QVERIFY(!h.w->recordTable()->detachedSpool());
        QCOMPARE(h.w->recordTable()->pendingCount(), 1);
        // Roughly: one copy of the value as text would be 200 MB. (The budget of 50 MB, and the
        // time, are the benchmark's; a sanitizer's heap keeps freed blocks for a while.)
        const qint64 rise = residentKiB() - before;
        QVERIFY2(rise < 100 * 1024, qPrintable(QStringLiteral("%1 KiB").arg(rise)));
        QCOMPARE(h.errors, QStringList());
        const auto cell = [&](int row, int column) {
            return h.w->recordModel()->index(row, column).data().toString();
        };
        QCOMPARE(cell(0, RecordRow::Value), QString(RecordRow::kMaxChars, u'7'));
        QCOMPARE(cell(0, RecordRow::Unit), QStringLiteral("mV"));
        QCOMPARE(cell(0, RecordRow::Auto), QStringLiteral("MANU"));
        QCOMPARE(cell(1, RecordRow::Value), QStringLiteral("01.234"));
        QCOMPARE(cell(2, RecordRow::Value), QStringLiteral("03.000"));

        const QString text = m_dir->filePath(QStringLiteral("huge.txt"));
        const QString copy = m_dir->filePath(QStringLiteral("copy.db"));
        for (const QString &target : {text, copy}) {
            h.nextFile = target;
            h.w->saveasClick();
        }
        QCOMPARE(h.errors, QStringList());
        QVERIFY(QFileInfo(text).size() > k100MB);
        QVERIFY(QFileInfo(copy).size() > k100MB);
    }

    // One line per record with six fields; the values whole, their bytes as stored except
    // that tabs and line breaks inside a text are written as blanks.
    void textExportKeepsOneLinePerRecord() {
        WindowHarness &h = window();
        const QString file = m_dir->filePath(QStringLiteral("hostile.txt"));
        h.nextFile = file;
        h.w->saveasClick();
        QCOMPARE(h.infos, QStringList{"save table to specified file: " + file + " Scuss!"});
        const QByteArray text = readAll(file);
        QVERIFY(text.endsWith("\r\n"));
        const QList<QByteArray> lines = text.chopped(1).split('\n');
        QCOMPARE(lines.size(), 1 + records().size());
        for (const QByteArray &line : lines) {
            QVERIFY2(line.endsWith('\r'), line.left(200).toHex(' ').constData());
            QVERIFY(!line.chopped(1).contains('\r'));
            QCOMPARE(line.count('\t'), 5);
        }
        QCOMPARE(lines[5], QByteArray("5\t12:00:05\tDC\t01.234\tV\tAUTO\r"));
        QVERIFY(lines[1].startsWith("1\t12:00:01\tD C\t1  2\tV \tAU TO\r"));
        QVERIFY(lines[2].contains(QByteArray::fromHex("0B0C1B7F00") + '9'));
        QVERIFY(lines[3].contains(QByteArray::fromHex("FFFEC328E282")));
        QVERIFY(lines[3].contains(QByteArray::fromHex("C0AF80")));
        QVERIFY(lines[4].size() > 6 * k100KB);
    }

    // The report holds the records in their own bands: what the hostile ones draw stays
    // inside their lines, so the page outside them is the page of a table whose hostile
    // records are empty.
    void reportKeepsEveryRecordInItsBand() {
        WindowHarness &h = window();
        const QImage hostile = printedPage(h);
        QVERIFY(!hostile.isNull());
        QCOMPARE(h.errors, QStringList());

        const QString blankFile = m_dir->filePath(QStringLiteral("blank.db"));
        writeTable(blankFile, true);
        h.nextFile = blankFile;
        h.w->OpenDataFilesClick();
        const QImage blank = printedPage(h);
        QCOMPARE(blank.size(), hostile.size());

        const int hostileLines = int(records().size()) - 1;
        const int bandsTop = BandLayout::detailTop(0) * 96 / 2540;
        const int bandsBottom = (BandLayout::detailTop(hostileLines) * 96 + 2539) / 2540;
        int differentInside = 0;
        for (int y = 0; y < hostile.height(); ++y) {
            const bool same = std::memcmp(hostile.constScanLine(y), blank.constScanLine(y),
                                          size_t(hostile.bytesPerLine())) == 0;
            if (y >= bandsTop && y < bandsBottom)
                differentInside += !same;
            else
                QVERIFY2(same, qPrintable(QStringLiteral("pixel row %1 differs").arg(y)));
        }
        QVERIFY(differentInside > 0); // the hostile records did print something
    }

    // A file handed over by someone else, or a folder others can write to, never gets to
    // change what is recorded: the table's triggers, a view in its place, columns that shadow
    // the row number, links planted where the program makes its files. Readings are recorded
    // as they are, or refused with one message that says why, and nothing outside the table
    // (a link's target) changes.
    void foreignFilesNeverChangeAReading_data() {
        QTest::addColumn<QStringList>("sql");    // run on the file after its two records
        QTest::addColumn<QString>("plant");      // put beside it: spool link, spool folder, ...
        QTest::addColumn<QString>("message");    // the one message; none when empty
        QTest::addColumn<QStringList>("stored"); // the values in the file afterwards
        QTest::addColumn<bool>("clears");        // whether Record, New empties it

        const QStringList untouched{"01.000", "02.000"};
        const QStringList recorded{"01.000", "02.000", "03.000", "04.000", "05.000"};
        QTest::newRow("AFTER INSERT trigger changing Value")
            << QStringList{"CREATE TRIGGER forge AFTER INSERT ON lab BEGIN UPDATE lab "
                           "SET \"Value\" = '99.999' WHERE \"Not\" = new.\"Not\"; END"}
            << ""
            << "has triggers (forge)" << untouched << false;
        QTest::newRow("trigger deleting records")
            << QStringList{"CREATE TRIGGER wipe AFTER INSERT ON lab BEGIN DELETE FROM "
                           "lab WHERE \"Not\" < new.\"Not\"; END",
                           "CREATE TRIGGER keep BEFORE DELETE ON LAB BEGIN SELECT "
                           "RAISE(IGNORE); END"}
            << ""
            << "has triggers (keep, wipe)" << untouched << false;
        QTest::newRow("trigger inserting records")
            << QStringList{"CREATE TRIGGER twin AFTER INSERT ON lab BEGIN INSERT INTO "
                           "lab (\"Value\") VALUES ('forged'); END"}
            << ""
            << "has triggers (twin)" << untouched << false;
        QTest::newRow("a view in the table's place")
            << QStringList{"ALTER TABLE lab RENAME TO data", "CREATE TABLE other (x)",
                           "CREATE VIEW lab AS SELECT * FROM data"}
            << ""
            << "lab is a view" << untouched << false;
        // The key's rows shuffled by the column, and a value long enough to be read apart
        // by the key.
        QTest::newRow("a _rowid_ column")
            << QStringList{"ALTER TABLE lab ADD COLUMN _rowid_ INTEGER",
                           "UPDATE lab SET _rowid_ = 10 - \"Not\"",
                           "UPDATE lab SET \"Unit\" = printf('%.*c', 100000, 'u') WHERE "
                           "\"Not\" = 2"}
            << ""
            << "" << recorded << true;
        QTest::newRow("rowid, oid and _rowid_ columns without an integer key")
            << QStringList{"CREATE TABLE t2 (\"Not\" TEXT, \"No\", \"Time\", \"DC/AC\", "
                           "\"Value\", \"Unit\", \"AUTO\", \"Nval\", rowid, oid, _rowid_)",
                           "INSERT INTO t2 SELECT *, 1, 2, 3 FROM lab", "DROP TABLE lab",
                           "ALTER TABLE t2 RENAME TO lab"}
            << ""
            << "hide the numbers its rows are found by" << untouched << false;
#ifdef Q_OS_UNIX
        QTest::newRow("a link in the spool's place")
            << QStringList{} << "spool link"
            << "a symbolic link is already there" << untouched << true;
        QTest::newRow("a folder in the spool's place")
            << QStringList{} << "spool folder"
            << "a folder is already there" << untouched << true;
        QTest::newRow("the table's name a link") << QStringList{} << "table link"
                                                 << "is a symbolic link to" << untouched << false;
#endif
    }
    void foreignFilesNeverChangeAReading() {
        QFETCH(QStringList, sql);
        QFETCH(QString, plant);
        QFETCH(QString, message);
        QFETCH(QStringList, stored);
        QFETCH(bool, clears);
        const QString file = m_dir->filePath(QStringLiteral("lab.db"));
        const QString victim = m_dir->filePath(QStringLiteral("victim.txt"));
        const QByteArray precious(2 * 1024 * 1024, 'p');
        writeFile(victim, precious);
        writeForeign(file, QStringLiteral("lab"), sql);
        QString opened = file;
        if (plant == u"spool link")
            QVERIFY(QFile::link(victim, file + QStringLiteral("-pending")));
        if (plant == u"spool folder")
            QVERIFY(QDir().mkdir(file + QStringLiteral("-pending")));
        if (plant == u"table link") {
            opened = m_dir->filePath(QStringLiteral("link.db"));
            QVERIFY(QFile::link(file, opened));
        }
        const QByteArray before = readAll(file);

        WindowHarness &h = window();
        h.nextFile = opened;
        h.w->OpenDataFilesClick();
        const qsizetype toldAtOpen = h.errors.size();
        if (h.w->recordTable()->isOpen()) {
            QCOMPARE(h.w->recordModel()->index(0, RecordRow::Value).data().toString(),
                     QStringLiteral("01.000"));
            QCOMPARE(h.w->recordModel()->index(1, RecordRow::Value).data().toString(),
                     QStringLiteral("02.000"));
            QVERIFY(!printedPage(h).isNull());
        }
        record(h, {"03.000", "04.000", "05.000"});
        // Refused recording is said once: at the open, or by the first reading when the
        // table did not open.
        QCOMPARE(h.errors.size(), h.w->recordTable()->isOpen() ? toldAtOpen : toldAtOpen + 1);
        h.w->RecordSaveClick();
        QCoreApplication::processEvents();
        if (message.isEmpty()) {
            QCOMPARE(h.errors, QStringList());
        } else {
            QVERIFY(!h.errors.isEmpty());
            QVERIFY2(h.errors.first().contains(message), qPrintable(h.errors.first()));
            QCOMPARE(h.w->RecordedCount(), 0);
        }
        const bool wasOpen = h.w->recordTable()->isOpen();
        h.w->recordTable()->close();
        QCOMPARE(storedValues(file, QStringLiteral("lab")), stored);
        if (!message.isEmpty())
            QCOMPARE(readAll(file), before);
        QCOMPARE(readAll(victim), precious);
        if (plant == u"spool link")
            QCOMPARE(QFileInfo(file + QStringLiteral("-pending")).symLinkTarget(), victim);
        if (plant.isEmpty())
            QVERIFY(!QFileInfo::exists(file + QStringLiteral("-pending")));

        // A clearing is a write like any other: refused where the table refuses writes (its
        // spool is not needed for it).
        if (!wasOpen)
            return;
        h.nextFile = file;
        h.w->OpenDataFilesClick();
        h.w->RecordNewClick();
        h.w->recordTable()->close();
        QCOMPARE(storedValues(file, QStringLiteral("lab")), clears ? QStringList() : stored);
    }

    // Save says "saved" only of the file at the table's path: removed, renamed away or
    // replaced by a rename since the table was opened, the records stay pending and Save
    // data files is offered; closing the table then asks before it drops them.
    void saveOnlyIntoTheFileAtItsPath_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("removed") << "removed";
        QTest::newRow("renamed away") << "renamed";
        QTest::newRow("replaced by a rename") << "replaced";
    }
    void saveOnlyIntoTheFileAtItsPath() {
        QFETCH(QString, how);
        const QString file = m_dir->filePath(QStringLiteral("week.db"));
        const QString away = m_dir->filePath(QStringLiteral("away.db"));
        writeForeign(file, QStringLiteral("week"), {});
        WindowHarness &h = window();
        h.nextFile = file;
        h.w->OpenDataFilesClick();
        record(h, {"03.000"});
        h.w->RecordSaveClick();
        QCOMPARE(h.infos.size(), 1);
        record(h, {"04.000", "05.000"});

#ifdef Q_OS_WIN
        // Windows keeps a file that is held open where it is, so the records saved go into
        // the file at the table's path.
        QVERIFY(!QFile::remove(file));
        QVERIFY(!QFile::rename(file, away));
        h.w->RecordSaveClick();
        QCOMPARE(h.infos.size(), 2);
        QVERIFY(h.errors.isEmpty());
        h.w->recordTable()->close();
        QCOMPARE(storedValues(file, QStringLiteral("week")),
                 (QStringList{"01.000", "02.000", "03.000", "04.000", "05.000"}));
        return;
#endif
        if (how == u"removed")
            QVERIFY(QFile::remove(file));
        if (how == u"renamed")
            QVERIFY(QFile::rename(file, away));
        if (how == u"replaced") {
            writeForeign(away, QStringLiteral("week"), {});
            // As a sync client does: in one step, over the name.
            QCOMPARE(std::rename(QFile::encodeName(away).constData(),
                                 QFile::encodeName(file).constData()),
                     0);
        }
        const QByteArray atPath = readAll(file);
        h.answer = false;
        h.w->RecordSaveClick();
        h.w->RecordNewClick();
        QCOMPARE(h.infos.size(), 1);  // the first Save's, and no other
        QCOMPARE(h.errors.size(), 1); // the clearing's
        QVERIFY2(h.errors[0].contains(u"moved, removed or replaced") &&
                     h.errors[0].contains(u"Nothing was deleted"),
                 qPrintable(h.errors[0]));
        QCOMPARE(h.questions.size(), 1);
        QVERIFY2(h.questions[0].contains(u"moved, removed or replaced") &&
                     h.questions[0].contains(u"2 records are still pending") &&
                     h.questions[0].contains(u"Save data files"),
                 qPrintable(h.questions[0]));
        QCOMPARE(h.w->recordTable()->pendingCount(), 2);
        QCOMPARE(h.w->recordTable()->count(), 5);

        // Exit asks, and No keeps the table and its records.
        h.w->BtExit1Click();
        QCOMPARE(h.terminated, 0);
        QVERIFY(h.w->recordTable()->isOpen());
        QVERIFY(h.questions.last().contains(u"loses its 5 records"));

        // Save offers Save data files; Yes saves every record elsewhere.
        h.answer = true;
        h.nextFile = m_dir->filePath(QStringLiteral("rescue.db"));
        h.w->RecordSaveClick();
        QCOMPARE(storedValues(h.nextFile, QStringLiteral("rescue")),
                 (QStringList{"01.000", "02.000", "03.000", "04.000", "05.000"}));
        QCOMPARE(readAll(file), atPath);
        QCOMPARE(h.infos.size(), 1);
        h.w->BtExit1Click();
        QCOMPARE(h.terminated, 1);
    }

    // Names are only names: a table or file name holding quotes and SQL opens, records,
    // exports and is copied like any other, and the copy holds exactly the records.
    void namesAreNeverStatements_data() {
        QTest::addColumn<QString>("tableName");
        QTest::addColumn<QString>("copyName");
#ifdef Q_OS_WIN
        const QString quote = QStringLiteral("'"); // no file name on Windows holds a "
#else
        const QString quote = QStringLiteral("\"");
#endif
        QTest::newRow("double quotes") << "say \"hi\""
                                       << "co" + quote + "py.db";
        QTest::newRow("single quote and brackets") << "it's [x]"
                                                   << "it's [x].db";
        QTest::newRow("a statement") << "t\"; DROP TABLE t; --"
                                     << "x" + quote + "; DELETE FROM x; --.db";
    }
    void namesAreNeverStatements() {
        QFETCH(QString, tableName);
        QFETCH(QString, copyName);
        const QString file = m_dir->filePath(QStringLiteral("named.db"));
        const QString connection = QStringLiteral("named-writer");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(file);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QString quoted = tableName;
            quoted.replace(u'"', QStringLiteral("\"\""));
            QVERIFY(q.exec(RecordSchema::createSql(tableName)));
            QVERIFY(q.exec(QStringLiteral("INSERT INTO \"%1\" VALUES (1, 1, '12:00:01', 'DC', "
                                          "'01.000', 'V', 'AUTO', 1000)")
                               .arg(quoted)));
        }
        QSqlDatabase::removeDatabase(connection);

        WindowHarness &h = window();
        h.nextFile = file;
        h.w->OpenDataFilesClick();
        QCOMPARE(h.w->recordTable()->tableName(), tableName);
        h.w->INDataToTable(
            readingFrame(QStringLiteral("02.000"), 0.0f, {}, {}, QStringLiteral("AUTO")));
        h.w->RecordSaveClick();
        const QString copy = m_dir->filePath(copyName);
        h.nextFile = copy;
        h.w->saveasClick();
        h.nextFile = m_dir->filePath(QStringLiteral("named.txt"));
        h.w->saveasClick();
        QCOMPARE(h.errors, QStringList());
        QCOMPARE(readAll(h.nextFile).count('\n'), 3);

        RecordTable reopened;
        reopened.open(copy, RecordTable::OpenMode::MustExist);
        QCOMPARE(reopened.tableName(), QFileInfo(copy).completeBaseName());
        QCOMPARE(reopened.count(), 2);
        QCOMPARE(reopened.rows(1, 1).value(0).texts[RecordRow::Value], QStringLiteral("02.000"));
    }

    // The window goes on with the table from elsewhere: readings are recorded into it.
    void recordingGoesOnInTheTable() {
        WindowHarness &h = window();
        h.w->INDataToTable(readingFrame(QStringLiteral("02.000"), 0.0f, QStringLiteral("DC"),
                                        QStringLiteral("V"), QStringLiteral("AUTO")));
        QCOMPARE(h.w->recordModel()->rowCount(), records().size() + 1);
        QCOMPARE(h.w->recordModel()->index(records().size(), RecordRow::Value).data().toString(),
                 QStringLiteral("02.000"));
        QCOMPARE(h.errors, QStringList());
    }
};

QTEST_MAIN(TestHostileTables)
#include "tst_hostiletables.moc"
#include "windowcontrols.h"
