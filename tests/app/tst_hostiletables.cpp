// A record table written by some other program, whose texts hold what this program never
// writes: tabs and line breaks, other control characters, bytes that are not UTF-8, blobs
// where texts belong, values of 100 KB. Opened in the window it must show, export and print
// with every record in a row of its own.
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
        QVERIFY(q.exec(RecordTable::createSql(QFileInfo(path).completeBaseName())));
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
    h.w->onPreviewReport = [&](DataReport &report) {
        QCOMPARE(report.pageCount(), 1);
        page = QImage(BandLayout::kPaperWidth * 96 / 2540, BandLayout::kPaperHeight * 96 / 2540,
                      QImage::Format_RGB32);
        page.setDotsPerMeterX(3780);
        page.setDotsPerMeterY(3780);
        page.fill(Qt::white);
        QPainter painter(&page);
        report.paintPage(painter, 0);
    };
    h.w->BtPrintClick();
    return page;
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
        QCOMPARE(m_h->w->Data1->rowCount(), records().size());
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
        RecordGrid *grid = h.w->DBGrid1;
        grid->setCurrentRow(row);
        QVERIFY(!grid->grab().isNull());
        QTableView *view = grid->view();
        for (int r = 0; r < view->model()->rowCount(); ++r)
            QCOMPARE(view->rowHeight(r), RecordGrid::kRowHeight);
        for (int c = 0; c < RecordRow::ColumnCount; ++c) {
            const QString text = h.w->Data1->index(row, c).data().toString();
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
        QCOMPARE(h.w->Data1->index(4, RecordRow::Value).data().toString(),
                 QStringLiteral("01.234"));
    }

    // A value of 100 MB: the grid and the report read and lay out only its first characters
    // (and read the fields stored after it right), so memory stays far below the value's
    // size; the text export and the table copy still carry all of it.
    void hugeValueIsCutForTheViewsOnly() {
        constexpr int k100MB = 100 * 1000 * 1000;
        const QString file = m_dir->filePath(QStringLiteral("huge.db"));
        runSql(file, {RecordTable::createSql(QStringLiteral("huge")),
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
        h.w->ValueText = QStringLiteral("03.000");
        h.w->INDataToTable();
        QVERIFY(!h.w->DBGrid1->grab().isNull());
        const QImage page = printedPage(h);
        QVERIFY(!page.isNull());
        QCoreApplication::processEvents();
        QVERIFY(!h.w->TQM10DB->detachedSpool());
        QCOMPARE(h.w->TQM10DB->pendingCount(), 1);
        // Roughly: one copy of the value as text would be 200 MB. (The budget of 50 MB, and the
        // time, are the benchmark's; a sanitizer's heap keeps freed blocks for a while.)
        const qint64 rise = residentKiB() - before;
        QVERIFY2(rise < 100 * 1024, qPrintable(QStringLiteral("%1 KiB").arg(rise)));
        QCOMPARE(h.errors, QStringList());
        const auto cell = [&](int row, int column) {
            return h.w->Data1->index(row, column).data().toString();
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
            QVERIFY(q.exec(RecordTable::createSql(tableName)));
            QVERIFY(q.exec(QStringLiteral("INSERT INTO \"%1\" VALUES (1, 1, '12:00:01', 'DC', "
                                          "'01.000', 'V', 'AUTO', 1000)")
                               .arg(quoted)));
        }
        QSqlDatabase::removeDatabase(connection);

        WindowHarness &h = window();
        h.nextFile = file;
        h.w->OpenDataFilesClick();
        QCOMPARE(h.w->TQM10DB->tableName(), tableName);
        h.w->ValueText = QStringLiteral("02.000");
        h.w->AutoText = QStringLiteral("AUTO");
        h.w->INDataToTable();
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
        h.w->ValueText = QStringLiteral("02.000");
        h.w->AcDcText = QStringLiteral("DC");
        h.w->UnitText = QStringLiteral("V");
        h.w->AutoText = QStringLiteral("AUTO");
        h.w->INDataToTable();
        QCOMPARE(h.w->Data1->rowCount(), records().size() + 1);
        QCOMPARE(h.w->Data1->index(records().size(), RecordRow::Value).data().toString(),
                 QStringLiteral("02.000"));
        QCOMPARE(h.errors, QStringList());
    }
};

QTEST_MAIN(TestHostileTables)
#include "tst_hostiletables.moc"
