// The window on a real serial port with the meter emulator behind it: on Windows under
// Wine, a COMn that Wine's registry points at the emulator's pseudo-terminal, named by
// QM_TEST_METER_PORT. Connect, readings recorded (pending beside the table), Record, Save.
// With QM_TEST_KEEP_DIR the table is made there and left behind, so that a plain SQLite
// client on the build machine can read back what the Windows program stored.
#include <QCheckBox>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include "commportdriver.h"
#include "recordtable.h"
#include "tfcomm.h"
#include "windowharness.h"

class TestWindowOnComPort : public QObject {
    Q_OBJECT

private slots:
    void connectRecordSave() {
        const QString port = qEnvironmentVariable("QM_TEST_METER_PORT");
        if (port.isEmpty())
            QSKIP("QM_TEST_METER_PORT names no port with the meter emulator behind it");
        qputenv("QM_COM1", port.toLocal8Bit());
        qint64 recorded = 0;
        QString table;
        {
            // A table of its own: what it holds at the end came through the port now.
            WindowHarness h({.show = true,
                             .folder = qEnvironmentVariable("QM_TEST_KEEP_DIR"),
                             .beforeWindow = [] { QFile::remove(QStringLiteral("Qm20db.db")); }});
            table = h.path(QStringLiteral("Qm20db.db"));
            QCOMPARE(h.w->TQM10DB->count(), 0);
            h.w->COM11Click();
            h.w->RepeatSet->setChecked(false); // every reading, even an unchanged one
            h.w->BTCon1Click();
            QCOMPARE(h.errors, QStringList());
            QVERIFY(h.w->COMM2->PortIsOpen());
            QTRY_VERIFY_WITH_TIMEOUT(h.linkAlive(), 5000);
            QTRY_VERIFY_WITH_TIMEOUT(h.w->TQM10DB->count() >= 10, 20000);
            QVERIFY(QFile::exists(table + QStringLiteral("-pending")));
            h.w->BtDiscon1Click();
            QVERIFY(!h.w->COMM2->PortIsOpen());
            recorded = h.w->TQM10DB->count();
            h.w->RecordSaveClick();
            QCOMPARE(h.errors, QStringList());
            QCOMPARE(h.infos, QStringList{QStringLiteral("Record has saved, it will be there when "
                                                         "you enter the application next time.")});
        }
        QVERIFY(!QFile::exists(table + QStringLiteral("-pending")));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "readback");
            db.setDatabaseName(table);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("SELECT count(*), min(\"No\"), max(\"No\"), "
                                          "sum(\"Value\" = '' OR \"Unit\" = '') FROM Qm20db")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toLongLong(), recorded);
            QCOMPARE(q.value(1).toLongLong(), 1);
            QCOMPARE(q.value(2).toLongLong(), recorded);
            QCOMPARE(q.value(3).toInt(), 0); // every record has its reading
        }
        QSqlDatabase::removeDatabase(QStringLiteral("readback"));
        QFile count(table + QStringLiteral(".count"));
        QVERIFY(count.open(QIODevice::WriteOnly));
        count.write(QByteArray::number(recorded));
    }
};

QTEST_MAIN(TestWindowOnComPort)
#include "tst_windowoncomport.moc"
