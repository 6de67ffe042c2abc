// Folders and files named in any script (é, ü, Cyrillic, CJK): every file the window and the
// logger read or write keeps exactly the name the user chose, and nothing is left beside it.
// On Windows this is where a narrow path would be read in the ANSI code page.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "recordtable.h"
#include "recordvalues.h"
#include "reportpreview.h"
#include "windowharness.h"
#ifdef QM_METER_SIM
#include "meteremulator.h"
#endif

namespace {

void nameRows() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::newRow("accents") << QStringLiteral("Jürgen Müller") << QStringLiteral("Messung é");
    QTest::newRow("Cyrillic") << QStringLiteral("Данные") << QStringLiteral("Измерение");
    QTest::newRow("CJK") << QStringLiteral("測定データ") << QStringLiteral("電圧 ü");
}

QSet<QString> entries(const QString &folder) {
    const QStringList list =
        QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    return {list.begin(), list.end()};
}

} // namespace

class TestWideNames : public QObject {
    Q_OBJECT

private slots:
    void windowKeepsEveryName_data() { nameRows(); }
    void windowKeepsEveryName() {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QTemporaryDir root;
        const QString dir = root.filePath(folder);
        QVERIFY(QDir().mkpath(dir));
        const QString table = dir + u'/' + name + QStringLiteral(".db");
        {
            RecordTable t;
            t.open(table, RecordTable::OpenMode::CreateIfMissing);
            for (int i = 0; i < 4; ++i)
                t.append(RecordValues{});
            t.applyUpdates();
        }
        const QString copy = dir + u'/' + name + QStringLiteral(" copy.db");
        const QString text = dir + u'/' + name + QStringLiteral(".txt");
        const QString pdf = dir + u'/' + name + QStringLiteral(".pdf");
        const QString picture = dir + u'/' + name + QStringLiteral(".bmp");
        {
            // Started in that folder too, as from a shortcut whose "Start in" it is.
            WindowHarness h({.show = true, .folder = dir});
            h.nextFile = table;
            h.w->OpenDataFilesClick();
            QVERIFY2(h.errors.isEmpty(), qPrintable(h.errors.join(u'\n')));
            QCOMPARE(h.w->recordTable()->count(), 4);
            for (int i = 0; i < 3; ++i) {
                h.w->INDataToTable(readingFrame(QString::number(i)));
            }
            h.w->RecordSaveClick();

            for (const QString &target : {copy, text}) {
                h.nextFile = target;
                h.w->saveasClick();
            }
            h.nextFile = pdf;
            QTimer::singleShot(0, [] {
                if (auto *preview =
                        qobject_cast<ReportPreview *>(QApplication::activeModalWidget())) {
                    preview->findChild<QAction *>(QStringLiteral("exportPdfAction"))->trigger();
                    preview->reject();
                }
            });
            h.w->BtPrintClick();
            h.w->setGraphPicturePaths(picture, h.w->graphPictureFallbackFolder());
            h.w->BtSaveClick();
            QVERIFY2(h.errors.isEmpty(), qPrintable(h.errors.join(u'\n')));
            QCOMPARE(h.infos.last(),
                     QStringLiteral("graphic has saved on ") + QDir::toNativeSeparators(picture));
        }
        // Exactly these names, none mangled beside them, no temporary copy left behind.
        const QFileInfo base(table);
        QCOMPARE(entries(dir),
                 (QSet<QString>{base.fileName(), QFileInfo(copy).fileName(),
                                QFileInfo(text).fileName(), QFileInfo(pdf).fileName(),
                                QFileInfo(picture).fileName(), QStringLiteral("Qm20db.db")}));

        RecordTable copied;
        copied.open(copy, RecordTable::OpenMode::MustExist);
        QCOMPARE(copied.count(), 7);
        QFile lines(text);
        QVERIFY(lines.open(QIODevice::ReadOnly));
        QCOMPARE(lines.readAll().count('\n'), 8); // the heading and seven records
        QFile report(pdf);
        QVERIFY(report.open(QIODevice::ReadOnly));
        QVERIFY(report.read(5).startsWith("%PDF"));
    }

    // qm-log --out in such a folder: the table and the text file under their own names,
    // holding what the logger says it recorded.
    void loggerKeepsEveryName_data() { nameRows(); }
    void loggerKeepsEveryName() {
        QFETCH(QString, folder);
        QFETCH(QString, name);
#ifdef QM_METER_SIM
        MeterEmulator sim({QStringLiteral("--fixed")});
        QVERIFY(sim.ready());
        const QString port = sim.link();
#else
        const QString port = qEnvironmentVariable("QM_TEST_METER_PORT");
        if (port.isEmpty())
            QSKIP("QM_TEST_METER_PORT names no port with the meter emulator behind it");
#endif
        QString binary = QStringLiteral(QM_LOG_BINARY);
#ifdef Q_OS_WIN
        if (binary.startsWith(QLatin1Char('/')))
            binary.prepend(QStringLiteral("Z:")); // Wine's drive for the build machine's root
#endif
        QTemporaryDir root;
        const QString dir = root.filePath(folder);
        QVERIFY(QDir().mkpath(dir));
        for (const QString &suffix : {QStringLiteral(".db"), QStringLiteral(".csv")}) {
            const QString out = dir + u'/' + name + suffix;
            QProcess log;
            log.start(binary, {QStringLiteral("--port"), port, QStringLiteral("--out"), out,
                               QStringLiteral("--count"), QStringLiteral("2")});
            QVERIFY(log.waitForFinished(30000));
            const QString err = QString::fromUtf8(log.readAllStandardError());
            QVERIFY2(log.exitCode() == 0, qPrintable(err));
            QVERIFY2(err.contains(QFileInfo(out).fileName()), qPrintable(err)); // said readably
            if (suffix == QStringLiteral(".db")) {
                RecordTable t;
                t.open(out, RecordTable::OpenMode::MustExist);
                QCOMPARE(t.count(), 2);
            } else {
                QFile f(out);
                QVERIFY(f.open(QIODevice::ReadOnly));
                QCOMPARE(f.readAll().count('\n'), 3); // the heading and two readings
            }
        }
        QCOMPARE(entries(dir),
                 (QSet<QString>{name + QStringLiteral(".db"), name + QStringLiteral(".csv")}));
    }
};

QTEST_MAIN(TestWideNames)
#include "tst_widenames.moc"
