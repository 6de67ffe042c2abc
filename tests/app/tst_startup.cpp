#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cfenv>
#include <optional>

#include "frameassembler.h"
#include "graphchart.h"
#include "recordtable.h"
#include "testfiles.h"
#include "tfcomm.h"
#include "windowharness.h"

#ifdef Q_OS_LINUX
#include "permissionsapply.h"
#endif

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void profile_data() {
        QTest::addColumn<int>("flags");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("speed");
        QTest::addColumn<bool>("handler");
        QTest::addColumn<QString>("lcdAC");
        QTest::addColumn<QString>("lcdD0");
        QTest::addColumn<QString>("lcdDa");
        QTest::addColumn<QString>("setmax");
        QTest::addColumn<QString>("setmin");
        QTest::addColumn<float>("maxLimit");
        QTest::addColumn<float>("minLimit");

        const QString qm30 = QStringLiteral("QM30 Interface Program _Ver: 1.00");
        const QString qm40 = QStringLiteral("QM40 Interface Program _Ver: 1.00");
        QTest::newRow("shipped build")
            << int(builtModelFlags()) << qm30 << int(br9600) << true << "AC"
            << ""
            << "7"
            << "8000"
            << "-8000" << 8002.0f << -8002.0f;
        QTest::newRow("QM40") << int(ModelFlags(ModelFlag::QM40)) << qm40 << int(br9600) << true
                              << "AC trms"
                              << "7"
                              << "9"
                              << "80000"
                              << "-80000" << 40000.0f << -40000.0f;
        QTest::newRow("QM30+QM40")
            << int(ModelFlag::QM30 | ModelFlag::QM40) << qm40 << int(br9600) << true << "AC trms"
            << ""
            << "7"
            << "80000"
            << "-80000" << 40000.0f << -40000.0f;
        QTest::newRow("QM45") << int(ModelFlags(ModelFlag::QM45))
                              << "QM45 Interface Program _Ver: 1.00" << int(br9600) << true << "AC"
                              << ""
                              << "7"
                              << "8000"
                              << "-8000" << 8002.0f << -8002.0f;
        QTest::newRow("QM20") << int(ModelFlags(ModelFlag::QM20)) << "" << int(br2400) << false
                              << "AC trms"
                              << "7"
                              << "9"
                              << "8000"
                              << "-8000" << 8002.0f << -8002.0f;
        QTest::newRow("QM10") << int(ModelFlags(ModelFlag::QM10)) << "" << int(br2400) << false
                              << "AC trms"
                              << "7"
                              << "9"
                              << "8000"
                              << "-8000" << 8002.0f << -8002.0f;
    }
    void profile() {
        QFETCH(int, flags);
        QFETCH(QString, title);
        QFETCH(int, speed);
        QFETCH(bool, handler);
        QFETCH(QString, lcdAC);
        QFETCH(QString, lcdD0);
        QFETCH(QString, lcdDa);
        QFETCH(QString, setmax);
        QFETCH(QString, setmin);
        QFETCH(float, maxLimit);
        QFETCH(float, minLimit);
        WindowHarness h({.flags = ModelFlags(flags)});
        TFCOMM &w = *h.w;
        QCOMPARE(h.errors, QStringList());
        QCOMPARE(w.windowTitle(), title);
        QCOMPARE(int(w.COMM2()->ComPortSpeed()), speed);
        QCOMPARE(w.COMM2()->ComPortDataBits(), db8BITS);
        QCOMPARE(w.COMM2()->ComPort(), pnCOM1);
        QCOMPARE(w.COMM2()->receiveHandlerAssigned(), handler);
        QVERIFY(!w.COMM2()->PortIsOpen());
        QCOMPARE(h.caption("LcdAC"), lcdAC);
        QCOMPARE(h.caption("LCDD0"), lcdD0);
        QCOMPARE(h.caption("LcdDa"), lcdDa);
        QCOMPARE(control<QLineEdit>(w, "Setmax")->text(), setmax);
        QCOMPARE(control<QLineEdit>(w, "SetMin")->text(), setmin);
        QCOMPARE(w.MaxLimit(), maxLimit);
        QCOMPARE(w.MinLimit(), minLimit);
        // The hidden flags mirror the build.
        QCOMPARE(control<QCheckBox>(w, "IFQM30")->isChecked(),
                 ModelFlags(flags).testFlag(ModelFlag::QM30));
        QCOMPARE(control<QCheckBox>(w, "IFQM40")->isChecked(),
                 ModelFlags(flags).testFlag(ModelFlag::QM40));
        QVERIFY(!control<QCheckBox>(w, "IFQM30")->isVisibleTo(&w));
    }

    void parseFlags() {
        QCOMPARE(parseModelFlags("QM30"), ModelFlags(ModelFlag::QM30));
        QCOMPARE(parseModelFlags("qm30;QM40"), ModelFlag::QM30 | ModelFlag::QM40);
        QCOMPARE(parseModelFlags("QM45, QM20"), ModelFlag::QM45 | ModelFlag::QM20);
        QCOMPARE(parseModelFlags("QM99"), ModelFlags());
    }

    void startValues() {
        WindowHarness h;
        TFCOMM &w = *h.w;
        QCOMPARE(w.objectName(), QStringLiteral("FCOMM"));
        QVERIFY(!w.KDHundredMode());
        QCOMPARE(w.KDSpan(), 80);
        QCOMPARE(w.KDOffset(), 0);
        QCOMPARE(w.Extreme().MaxExtreme, -8001.0f);
        QCOMPARE(w.Extreme().MinExtreme, 8001.0f);
        QCOMPARE(w.Extreme().LastUnitText, QStringLiteral("113"));
        QCOMPARE(w.RecordNo(), 1);
        QVERIFY(w.FollowLastPage());
        QCOMPARE(w.RecordLimit(), 10000);
        QCOMPARE(w.RelState(), 0);
        QCOMPARE(w.LinkIdleTicks(), 0);
        QCOMPARE(h.caption("MaxText"), QStringLiteral("-8001"));
        QCOMPARE(h.caption("MinText"), QStringLiteral("8001"));
        QCOMPARE(control<QPlainTextEdit>(w, "Memo1")->toPlainText(), QStringLiteral("Memo1"));
        QVERIFY(!control<QPlainTextEdit>(w, "Memo1")->isVisibleTo(&w));

        QStringList menus;
        for (QAction *a : control<QMenuBar>(w, "MainMenu1")->actions())
            menus << a->text();
        QCOMPARE(menus, QStringList({"ComSetup", "Connect", "Graphic", "Record", "Exit"}));
        QCOMPARE(control<QMenuBar>(w, "MainMenu1"), w.menuBar());
    }

    // The record table is kept in the folder the window is given, whatever the working
    // folder is; without one, in the working folder at start.
    void tableFolder() {
        QTemporaryDir working, given;
        const QString before = QDir::currentPath();
        const auto back = qScopeGuard([&] { QDir::setCurrent(before); });
        QVERIFY(QDir::setCurrent(working.path()));
        const QString table = QString::fromLatin1(TFCOMM::kRecordTableFile);
        {
            WindowHarness h({.folder = given.path()});
            QVERIFY(h.w->recordTable()->isOpen());
            QVERIFY(QFileInfo::exists(QDir(given.path()).filePath(table)));
            QVERIFY(!QFileInfo::exists(QDir(working.path()).filePath(table)));
        }
        UiPrompts prompts;
        QStringList errors;
        prompts.onError = [&](const QString &text) { errors << text; };
        TFCOMM w(ModelFlag::QM30, &prompts);
        QVERIFY(w.recordTable()->isOpen());
        QVERIFY(QFileInfo::exists(QDir(working.path()).filePath(table)));
        QCOMPARE(errors, QStringList());
    }

    void exitFromPanelAndMenu() {
        for (bool fromMenu : {false, true}) {
            WindowHarness h;
            if (fromMenu)
                control<QAction>(*h.w, "EXIT1")->trigger();
            else
                QTest::mouseClick(control<QPushButton>(*h.w, "BtExit"), Qt::LeftButton);
            QCOMPARE(h.terminated, 1);
            QCOMPARE(h.errors, QStringList());
        }
    }

    // The limit edits: empty and lone signs count as 0, halves go to the even neighbour,
    // typed letters are dropped, and a pasted non-number is reported and changes nothing.
    void limitTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<float>("limit");
        QTest::newRow("empty") << "" << 0.0f;
        QTest::newRow("minus") << "-" << 0.0f;
        QTest::newRow("plus") << "+" << 0.0f;
        QTest::newRow("7") << "7" << 4.0f;
        QTest::newRow("5") << "5" << 2.0f;
        QTest::newRow("-7") << "-7" << -4.0f;
        QTest::newRow("8001") << "8001" << 4000.0f;
        QTest::newRow("+6000") << "+6000" << 3000.0f;
    }
    void limitTexts() {
        QFETCH(QString, text);
        QFETCH(float, limit);
        WindowHarness h;
        // Halves go to the even neighbour whatever rounding mode the process runs in.
        for (int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD}) {
            std::fesetround(mode);
            control<QLineEdit>(*h.w, "Setmax")->setText(text == "8000" ? "1" : "8000");
            control<QLineEdit>(*h.w, "Setmax")->setText(text);
            std::fesetround(FE_TONEAREST);
            QCOMPARE(h.w->MaxLimit(), limit);
        }
        QCOMPARE(h.errors, QStringList());
    }

    // The numeric edits drop typed characters they do not take, and only those: Tab leaves
    // the edit, and the editing keys and shortcuts work as in any edit.
    void editKeyFilters_data() {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("upper limit") << "Setmax"
                                     << "1a-+ 2.x"
                                     << "1-+2";
        QTest::newRow("lower limit") << "SetMin"
                                     << "-8,0e0"
                                     << "-800";
        QTest::newRow("interval") << "RecordSITime"
                                  << "1a-+ 2"
                                  << "12";
    }
    void editKeyFilters() {
        QFETCH(QString, edit);
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        WindowHarness h({.show = true});
        QVERIFY(QTest::qWaitForWindowActive(h.w.get()));
        auto *box = h.w->findChild<QLineEdit *>(edit);
        QVERIFY(box);
        box->setFocus();
        QTRY_VERIFY(box->hasFocus());

        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier); // select all
        QTest::keyClicks(box, typed);                         // replaces the selection
        QCOMPARE(box->text(), kept);
        QTest::keyClick(box, Qt::Key_Backspace);
        QCOMPARE(box->text(), kept.chopped(1));
        QTest::keyClick(box, Qt::Key_Home);
        QTest::keyClick(box, Qt::Key_Delete);
        QCOMPARE(box->text(), kept.mid(1).chopped(1));
        QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(box->text(), kept.chopped(1));
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(box->text(), QString());
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(box->text(), kept.chopped(1).repeated(2));

        // Tab moves on: what is typed next does not land in this edit.
        const QString before = box->text();
        QTest::keyClick(box, Qt::Key_Tab);
        QTRY_VERIFY(!box->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_7);
        QCOMPARE(box->text(), before);
    }
    void limitTyping() {
        WindowHarness h;
        TFCOMM &w = *h.w;
        control<QLineEdit>(w, "SetMin")->clear();
        QList<float> seen;
        for (QChar c : QStringLiteral("-8x000")) {
            QTest::keyClick(control<QLineEdit>(w, "SetMin"), c.toLatin1());
            seen << w.MinLimit();
        }
        QCOMPARE(control<QLineEdit>(w, "SetMin")->text(), QStringLiteral("-8000"));
        QCOMPARE(seen, QList<float>({0.0f, -4.0f, -4.0f, -40.0f, -400.0f, -4000.0f}));
        control<QLineEdit>(w, "SetMin")->setText(QStringLiteral("--5"));
        QCOMPARE(h.errors.size(), 1);
        QCOMPARE(w.MinLimit(), -4000.0f);
        // Ticking the box recomputes the limit from the edit as well.
        control<QLineEdit>(w, "Setmax")->blockSignals(true);
        control<QLineEdit>(w, "Setmax")->setText(QStringLiteral("100"));
        control<QLineEdit>(w, "Setmax")->blockSignals(false);
        QTest::mouseClick(control<QCheckBox>(w, "SetMaxB"), Qt::LeftButton, {}, QPoint(5, 10));
        QCOMPARE(w.MaxLimit(), 50.0f);
    }

    void framesAreLoggedAndRouted() {
        WindowHarness h;
        TFCOMM &w = *h.w;
        const QByteArray chunk =
            bytes({0x8A, 0x00, 0x37, 0x00, 0x12, 0x34, 0x0A, 0x0A, 0x89, 0x70,
                   0x00, 0x00, 0x00, 0x0F, 0x01, 0x02, 0x03, 0x04, 0x0A, 0x55});
        w.QM34RData(w.COMM2(), chunk.constData(), chunk.size());
        QCOMPARE(w.MltText(), QStringLiteral("34127"));
        QCOMPARE(w.FrameHex(), QStringLiteral("89700000000F010203040A"));
        QCOMPARE(control<QPlainTextEdit>(w, "Memo1")->toPlainText(),
                 QStringLiteral("Memo1\n8A00370012340A\n0A\n89700000000F010203040A"));
        QCOMPARE(h.errors, QStringList());
    }

    void frameLogIsBounded() {
        WindowHarness h;
        TFCOMM &w = *h.w;
        for (int i = 0; i < TFCOMM::kMemoMaxLines + 500; ++i) {
            const QByteArray frame = bytes({0x55, i & 0xFF, (i >> 8) & 0xFF, 0x0A});
            w.QM34RData(w.COMM2(), frame.constData(), frame.size());
        }
        QCOMPARE(control<QPlainTextEdit>(w, "Memo1")->blockCount(), TFCOMM::kMemoMaxLines);
        const int last = TFCOMM::kMemoMaxLines + 499;
        QVERIFY(control<QPlainTextEdit>(w, "Memo1")
                    ->toPlainText()
                    .endsWith(hexOf(bytes({0x55, last & 0xFF, last >> 8, 0x0A}).constData(), 4)));
    }

    // A record table that cannot be opened does not leave a dead window: one message says
    // why, the profile is applied, readings show on the LCD and the graph, recording refuses
    // them without another message, and a table opened later records again.
    void startupWithoutItsTable_data() {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("reason"); // part of the message
        QTest::newRow("a folder of that name") << "folder"
                                               << "Table file is a folder";
        QTest::newRow("a file that is not a table") << "corrupt"
                                                    << "file is not a database";
        QTest::newRow("held by a second copy") << "in use"
                                               << "Table in use by another program";
#ifdef Q_OS_LINUX
        QTest::newRow("a start folder that cannot be written") << "read-only"
                                                               << "unable to open database file";
#endif
#ifdef Q_OS_UNIX
        QTest::newRow("a link of that name") << "link"
                                             << "is a symbolic link to";
#endif
    }
    void startupWithoutItsTable() {
        QFETCH(QString, cause);
        QFETCH(QString, reason);
        QTemporaryDir folder;
        const QString table = QDir(folder.path()).filePath(QLatin1String(TFCOMM::kRecordTableFile));
        RecordTable firstCopy;
        if (cause == u"folder")
            QVERIFY(QDir().mkdir(table));
        if (cause == u"corrupt")
            writeFile(table, QByteArray(4096, 'x'));
        if (cause == u"in use")
            firstCopy.open(table, RecordTable::OpenMode::CreateIfMissing);
        const QString elsewhere = QDir(folder.path()).filePath(QStringLiteral("elsewhere.db"));
        if (cause == u"link") {
            RecordTable(nullptr).open(elsewhere, RecordTable::OpenMode::CreateIfMissing);
            QVERIFY(QFile::link(elsewhere, table));
        }
#ifdef Q_OS_LINUX
        std::optional<PermissionsApply> readOnly;
        if (cause == u"read-only") {
            QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::ExeOwner));
            readOnly.emplace();
        }
#endif
        WindowHarness h({.folder = folder.path()});
#ifdef Q_OS_LINUX
        readOnly.reset();
        QFile::setPermissions(folder.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
#endif
        TFCOMM &w = *h.w;
        QCOMPARE(h.errors.size(), 1);
        QVERIFY2(h.errors[0].contains(reason) && h.errors[0].contains(u"Open old data files"),
                 qPrintable(h.errors[0]));
        QVERIFY(!w.recordTable()->isOpen());
        QCOMPARE(w.windowTitle(), QStringLiteral("QM30 Interface Program _Ver: 1.00"));
        QCOMPARE(w.COMM2()->ComPortSpeed(), br9600);
        QVERIFY(w.COMM2()->receiveHandlerAssigned());
        QCOMPARE(w.RecordNo(), 1);

        const QByteArray frame =
            bytes({0x89, 0x70, 0x00, 0x00, 0x00, 0x0F, 0x01, 0x02, 0x03, 0x04, 0x0A});
        const qint64 points = control<GraphChart>(w, "Chtshow")->pointCount();
        for (int i = 0; i < 3; ++i)
            emit w.COMM2()->OnReceiveData(w.COMM2(), frame.constData(), int(frame.size()));
        QCOMPARE(w.ValueText(), QStringLiteral("01.234"));
        QCOMPARE(control<GraphChart>(w, "Chtshow")->pointCount(), points + 3);
        QCOMPARE(h.errors.size(), 1);

        const QString other = QDir(folder.path()).filePath(QStringLiteral("other.db"));
        RecordTable(nullptr).open(other, RecordTable::OpenMode::CreateIfMissing);
        h.nextFile = other;
        w.OpenDataFilesClick();
        control<QCheckBox>(w, "RepeatSet")->setChecked(false);
        emit w.COMM2()->OnReceiveData(w.COMM2(), frame.constData(), int(frame.size()));
        QCOMPARE(w.recordTable()->count(), 1);
        QCOMPARE(h.errors.size(), 1);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
#include "windowcontrols.h"
