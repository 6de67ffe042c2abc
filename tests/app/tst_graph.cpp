#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "graphchart.h"
#include "recordtable.h"
#include "testfiles.h"
#include "tfcomm.h"
#include "windowharness.h"

namespace {

/// A shown window whose graph gets readings through the calls the dispatch makes.
struct Harness : WindowHarness {
    Harness() : WindowHarness({.show = true}) {
        // Never the user's real Pictures folder; the cases that want a second place set one.
        w->setGraphPicturePaths(path(QStringLiteral("databmp.bmp")), QString());
    }

    /// `n` readings, each plotted at its own serial number.
    void readings(int n) {
        for (int i = 0; i < n; ++i) {
            w->graphAddReading(++m_serial);
            w->graphFollowLastPage();
        }
    }
    void frame(const char *spaced) {
        const QByteArray bytes = QByteArray::fromHex(spaced);
        w->QM34RData(w->COMM2(), bytes.constData(), int(bytes.size()));
    }
    GraphChart &chart() const { return *control<GraphChart>(*w, "Chtshow"); }
    qint64 page() const { return chart().paging().page(); }
    double valueAt(int position) const { return chart().points()->at(position)->value; }
    QCPRange keysShown() const { return chart().xAxis->range(); }
    QCPRange keysOf(const PagingModel &m) const { return {m.keyRange().lower, m.keyRange().upper}; }
    /// Which of First, Previous, Next, Last are enabled, as "1100".
    QString buttons() const {
        QString out;
        for (QToolButton *b :
             {control<QToolButton>(*w, "BtFirst"), control<QToolButton>(*w, "BTPrevious"),
              control<QToolButton>(*w, "BtNext"), control<QToolButton>(*w, "BTlast")})
            out += b->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        return out;
    }
    void click(QWidget *button) { QTest::mouseClick(button, Qt::LeftButton); }

    double m_serial = 0;
};

} // namespace

class TestGraph : public QObject {
    Q_OBJECT

private slots:
    void toolStrip_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("bounds");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<bool>("visible");
        QTest::newRow("Bevel1") << "Bevel1" << QRect(2, 2, 40, 20) << "" << true;
        QTest::newRow("BtFill") << "BtFill" << QRect(5, 5, 36, 15) << "Graphic Fill" << true;
        QTest::newRow("Maxrecord") << "Maxrecord" << QRect(48, 3, 41, 21) << "" << true;
        QTest::newRow("BtNew") << "BtNew" << QRect(91, 3, 35, 21) << "New" << true;
        QTest::newRow("BtSave") << "BtSave" << QRect(125, 3, 35, 21) << "Save" << true;
        QTest::newRow("BtFirst") << "BtFirst" << QRect(163, 3, 25, 21) << "First" << true;
        QTest::newRow("BTPrevious") << "BTPrevious" << QRect(187, 3, 25, 21) << "Previous" << true;
        QTest::newRow("Bt10") << "Bt10" << QRect(211, 3, 25, 21) << "Page No." << true;
        QTest::newRow("BtNext") << "BtNext" << QRect(235, 3, 25, 21) << "Next" << true;
        QTest::newRow("BTlast") << "BTlast" << QRect(259, 3, 25, 21) << "last" << true;
        QTest::newRow("BtPrint") << "BtPrint" << QRect(163, 35, 25, 21) << "Print" << false;
        QTest::newRow("TbFd") << "TbFd" << QRect(288, 3, 25, 25) << "Graphic Enlarge" << true;
        QTest::newRow("TbSx") << "TbSx" << QRect(288, 3, 25, 25) << "Graphic Restore" << false;
        QTest::newRow("ComboBox1") << "ComboBox1" << QRect(56, 35, 65, 21) << "" << false;
    }
    void toolStrip() {
        QFETCH(QString, name);
        Harness h;
        QCOMPARE(h.chart().parentWidget(), h.w->centralWidget());
        QCOMPARE(h.chart().geometry(), QRect(305, 176, 320, 234)); // laid out for the design size
        auto *control = h.chart().findChild<QWidget *>(name);
        QVERIFY(control);
        QCOMPARE(control->parentWidget(), &h.chart());
        QTEST(control->geometry(), "bounds");
        QTEST(control->toolTip(), "hint");
        QTEST(control->isVisible(), "visible");
    }

    // What start-up leaves: one sample point of value 0, the area view, page 1 of 100 points.
    void startState() {
        Harness h;
        TFCOMM &w = *h.w;
        QCOMPARE(h.w->findChildren<GraphChart *>(QStringLiteral("Chtshow")).size(), 1);
        QCOMPARE(h.chart().seriesCount(), 2);
        QCOMPARE(h.chart().series(0)->objectName(), QStringLiteral("Series2"));
        QCOMPARE(h.chart().series(1)->objectName(), QStringLiteral("Series1"));
        QCOMPARE(h.chart().series(0)->data(), h.chart().series(1)->data());
        QVERIFY(h.chart().isSeriesActive(0));
        QVERIFY(!h.chart().isSeriesActive(1));
        QCOMPARE(h.chart().pointCount(), 1);
        QCOMPARE(h.valueAt(0), 0.0);
        QCOMPARE(h.page(), 1);
        QCOMPARE(h.chart().paging().pageSize(), 100);
        QCOMPARE(control<QToolButton>(w, "Bt10")->text(), QStringLiteral("1"));
        QCOMPARE(h.buttons(), QStringLiteral("1111"));
        QVERIFY(w.FollowLastPage());
        QVERIFY(control<QCheckBox>(w, "BtFill")->isChecked());
        QVERIFY(control<QAction>(w, "Fill")->isChecked());
        QCOMPARE(control<QComboBox>(w, "ComboBox1")->currentIndex(), 0);
        QCOMPARE(control<QComboBox>(w, "ComboBox1")->count(), 2);
        QCOMPARE(control<QLineEdit>(w, "Maxrecord")->text(), QStringLiteral("100"));
        QCOMPARE(h.chart().yAxis->range(), QCPRange(-8001, 8001));
        QStringList menu;
        for (QAction *a : control<QMenu>(w, "Graphic1")->actions())
            menu << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
        QCOMPARE(menu, QStringList(
                           {"First", "Previous", "Next", "Last", "-", "New", "Save", "-", "Fill"}));
        QCOMPARE(h.errors, QStringList());
    }

    // Frames through the receive path: every reading is a point, stored or not, and the
    // graph turns to its last page.
    void framesArePlotted() {
        Harness h;
        h.frame("89 70 00 00 10 0F 01 02 03 04 0A");
        h.frame("89 70 00 00 08 00 01 02 03 04 0A"); // overload
        QCOMPARE(h.chart().pointCount(), 3);
        QCOMPARE(h.valueAt(1), -1234.0);
        QCOMPARE(h.valueAt(2), 8000.0);
        for (int i = 0; i < 100; ++i)
            h.frame("89 70 00 00 00 0F 01 02 03 04 0A");
        QCOMPARE(h.page(), 2);
        QCOMPARE(control<QToolButton>(*h.w, "Bt10")->text(), QStringLiteral("2"));
    }

    // The value axis is each frame's own, the volts frame after a kilohertz one included.
    void valueAxisFollowsEachFrame() {
        Harness h;
        h.frame("89 70 14 00 04 0F 01 02 03 04 0A");
        QCOMPARE(h.chart().yAxis->range(), QCPRange(-100000, 100000));
        h.frame("89 70 00 00 00 0F 01 02 03 04 0A");
        QCOMPARE(h.chart().yAxis->range(), QCPRange(-8000, 8000));
    }

    // A reading that recording fails on still reaches the graph; the failure is told once.
    void recordingFaultStillPlots() {
        Harness h;
        h.w->recordTable()->close();
        const QByteArray frames =
            QByteArray::fromHex("89700000000F010203040A89700000100F010203040A");
        h.w->QM34RData(h.w->COMM2(), frames.constData(), frames.size());
        QCOMPARE(h.errors.size(), 1);
        QVERIFY(h.errors[0].contains(QStringLiteral("not open")));
        QCOMPARE(h.chart().pointCount(), 2);
        h.w->QM34RData(h.w->COMM2(), frames.constData(), frames.size());
        QCOMPARE(h.errors.size(), 1);
        QCOMPARE(h.chart().pointCount(), 4);
        QCOMPARE(h.valueAt(3), -1234.0);
    }

    // The command table through the buttons, from page 3 of 3 (251 points).
    void commands_data() {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<qint64>("page");
        QTest::addColumn<QString>("bt10");
        QTest::addColumn<QString>("buttons");
        QTest::addColumn<bool>("follow");
        QTest::newRow("Next on the last page") << QStringList{"BtNext"} << qint64(3) << "3"
                                               << "1100" << false;
        QTest::newRow("First") << QStringList{"BtFirst"} << qint64(1) << "1"
                               << "0011" << false;
        QTest::newRow("Previous on page 1")
            << QStringList{"BtFirst", "BtNext", "BTPrevious", "BTPrevious"} << qint64(1) << "1"
            << "0011" << false;
        QTest::newRow("Next onto the last page")
            << QStringList{"BtFirst", "BtNext", "BtNext"} << qint64(3) << "3"
            << "1111" << false;
        QTest::newRow("Last re-enables following")
            << QStringList{"BtFirst", "BTlast"} << qint64(3) << "3"
            << "1100" << true;
        QTest::newRow("menu items do the same")
            << QStringList{"First", "Next", "Previous"} << qint64(1) << "1"
            << "1111" << false;
    }
    void commands() {
        QFETCH(QStringList, clicks);
        Harness h;
        h.readings(250);
        QCOMPARE(h.page(), 3);
        for (const QString &name : clicks) {
            if (auto *action = control<QMenu>(*h.w, "Graphic1")->findChild<QAction *>(name))
                action->trigger();
            else
                h.click(control<GraphChart>(*h.w, "Chtshow")->findChild<QToolButton *>(name));
        }
        QTEST(h.page(), "page");
        QTEST(control<QToolButton>(*h.w, "Bt10")->text(), "bt10");
        QTEST(h.buttons(), "buttons");
        QTEST(h.w->FollowLastPage(), "follow");
        QCOMPARE(h.keysShown(), h.keysOf(h.chart().paging()));
        // The menu items stay enabled whatever the buttons show.
        for (QAction *a : {control<QAction>(*h.w, "First"), control<QAction>(*h.w, "Previous"),
                           control<QAction>(*h.w, "Next"), control<QAction>(*h.w, "Last")})
            QVERIFY(a->isEnabled());
    }

    // Following moves the view to each new page; after a paging command it no longer does.
    void followMovesTheView() {
        Harness h;
        h.readings(99);
        QCOMPARE(h.keysShown(), QCPRange(0, 99));
        h.readings(1);
        QCOMPARE(h.page(), 2);
        QCOMPARE(control<QToolButton>(*h.w, "Bt10")->text(), QStringLiteral("2"));
        QCOMPARE(h.keysShown(), QCPRange(100, 199));
        h.click(control<QToolButton>(*h.w, "BTPrevious"));
        h.readings(150);
        QCOMPARE(h.page(), 1);
        QCOMPARE(control<QToolButton>(*h.w, "Bt10")->text(), QStringLiteral("1"));
        QCOMPARE(h.keysShown(), QCPRange(0, 99));
        h.click(control<QToolButton>(*h.w, "BTlast"));
        QCOMPARE(h.page(), 3);
        h.readings(50);
        QCOMPARE(h.page(), 4);
        QCOMPARE(control<QToolButton>(*h.w, "Bt10")->text(), QStringLiteral("4"));
        QCOMPARE(h.keysShown(), h.keysOf(h.chart().paging()));
    }

    // A burst of readings queues one repaint; none is drawn while the burst runs.
    void burstCostsOneRepaint() {
        Harness h;
        QCoreApplication::processEvents();
        QSignalSpy repaints(control<GraphChart>(*h.w, "Chtshow"), &QCustomPlot::afterReplot);
        h.readings(500);
        QCOMPARE(repaints.count(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(repaints.count(), 1);
    }

    // Fill and line show the same points on the same page, whichever way they are switched.
    void fillAndLineViews() {
        Harness h;
        TFCOMM &w = *h.w;
        h.readings(250);
        h.click(control<QToolButton>(w, "BtFirst"));
        const QCPRange keys = h.keysShown();
        h.click(control<QCheckBox>(w, "BtFill"));
        QVERIFY(!control<QCheckBox>(w, "BtFill")->isChecked());
        QVERIFY(!control<QAction>(w, "Fill")->isChecked());
        QVERIFY(!h.chart().isSeriesActive(0));
        QVERIFY(h.chart().isSeriesActive(1));
        QCOMPARE(h.chart().series(1)->dataCount(), 251);
        control<QAction>(w, "Fill")->trigger();
        QVERIFY(control<QCheckBox>(w, "BtFill")->isChecked());
        QVERIFY(control<QAction>(w, "Fill")->isChecked());
        QVERIFY(h.chart().isSeriesActive(0));
        QVERIFY(!h.chart().isSeriesActive(1));
        control<QAction>(w, "Fill")->trigger();
        QVERIFY(!control<QCheckBox>(w, "BtFill")->isChecked());
        QVERIFY(h.chart().isSeriesActive(1));
        QCOMPARE(h.page(), 1);
        QCOMPARE(h.keysShown(), keys);
        QCOMPARE(h.chart().series(0)->dataCount(), 251);
        // The hidden chooser shows what the user picks in it.
        control<QComboBox>(w, "ComboBox1")->setCurrentIndex(0);
        QCOMPARE(h.chart().isSeriesActive(1), true);
        emit control<QComboBox>(w, "ComboBox1")->activated(0);
        QVERIFY(h.chart().isSeriesActive(0));
        QVERIFY(!h.chart().isSeriesActive(1));
    }

    // New empties the graph to one sample point, keeps page, page size, following and the
    // page box, and shows the view the fill box asks for.
    void newAfterManyPoints() {
        Harness h;
        TFCOMM &w = *h.w;
        h.readings(4999);
        control<QLineEdit>(w, "Maxrecord")->setText(QStringLiteral("500"));
        h.click(control<QToolButton>(w, "BtFirst"));
        for (int i = 0; i < 8; ++i)
            h.click(control<QToolButton>(w, "BtNext")); // page 9 of 10
        h.click(control<QCheckBox>(w, "BtFill"));
        control<QComboBox>(w, "ComboBox1")->setCurrentIndex(1);
        h.click(control<QToolButton>(w, "BtNew"));
        QCOMPARE(h.chart().pointCount(), 1);
        QCOMPARE(h.valueAt(0), 0.0);
        QCOMPARE(h.page(), 9);
        QCOMPARE(control<QToolButton>(w, "Bt10")->text(), QStringLiteral("9"));
        QCOMPARE(h.chart().paging().pageSize(), 500);
        QVERIFY(!w.FollowLastPage());
        QCOMPARE(control<QComboBox>(w, "ComboBox1")->currentIndex(), 0);
        QVERIFY(h.chart().isSeriesActive(1));
        QVERIFY(!h.chart().isSeriesActive(0));
        QCOMPARE(h.keysShown(), QCPRange(0, 499));
        h.readings(1);
        QCOMPARE(h.valueAt(1), h.m_serial);
        control<QAction>(w, "New")->trigger();
        QCOMPARE(h.chart().pointCount(), 1);
    }

    void pageSize_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("pageSize");
        QTest::addColumn<QString>("error");
        QTest::newRow("50") << "50" << qint64(50) << "";
        QTest::newRow("0") << "0" << qint64(0) << "";
        QTest::newRow("empty") << "" << qint64(100) << "'' is not a valid integer value";
        QTest::newRow("pasted text")
            << "12a" << qint64(100) << "'12a' is not a valid integer value";
        QTest::newRow("pasted negative") << "-5" << qint64(100) << "MaxPointsPerPage must be >= 0";
    }
    void pageSize() {
        QFETCH(QString, text);
        QFETCH(QString, error);
        Harness h;
        control<QLineEdit>(*h.w, "Maxrecord")->setText(text);
        QTEST(qint64(h.chart().paging().pageSize()), "pageSize");
        QCOMPARE(h.errors, error.isEmpty() ? QStringList() : QStringList{error});
    }

    // A smaller page size shows the last page that exists; the page box keeps its number.
    void smallerPageSizeClampsThePage() {
        Harness h;
        TFCOMM &w = *h.w;
        h.readings(999);
        h.click(control<QToolButton>(w, "BtFirst"));
        for (int i = 0; i < 7; ++i)
            h.click(control<QToolButton>(w, "BtNext"));
        QCOMPARE(control<QToolButton>(w, "Bt10")->text(), QStringLiteral("8"));
        control<QLineEdit>(w, "Maxrecord")->selectAll();
        QTest::keyClicks(control<QLineEdit>(w, "Maxrecord"), QStringLiteral("3x0y0"));
        QCOMPARE(control<QLineEdit>(w, "Maxrecord")->text(), QStringLiteral("300"));
        QCOMPARE(h.page(), 4);
        QCOMPARE(control<QToolButton>(w, "Bt10")->text(), QStringLiteral("8"));
        QCOMPARE(h.keysShown(), QCPRange(900, 900 + 99.0 * 300 / 100));
        QCOMPARE(h.errors, QStringList());
    }

    // The picture: written at the chart's size, then reported with its path.
    void savePicture() {
        Harness h;
        h.readings(120);
        h.click(control<QToolButton>(*h.w, "BtSave"));
        QCOMPARE(h.errors, QStringList());
        QCOMPARE(h.infos, QStringList{QStringLiteral("graphic has saved on ") +
                                      QDir::toNativeSeparators(h.w->graphPicturePath())});
        QImage picture;
        QVERIFY(picture.load(h.w->graphPicturePath(), "BMP"));
        QCOMPARE(picture.size(), control<GraphChart>(*h.w, "Chtshow")->size());
        control<QAction>(*h.w, "Save")->trigger();
        QCOMPARE(h.infos.size(), 2);
    }

    // Where the picture's place cannot be created (C:\ for a standard Windows user), it goes
    // to the second folder, made when missing, and the message names where it went; when that
    // fails too, the error names both places.
    void pictureFallbackFolder_data() {
        QTest::addColumn<QString>("fallback");
        QTest::addColumn<bool>("saved");
        QTest::newRow("missing folder, made") << QStringLiteral("Pictures/new") << true;
        QTest::newRow("folder is a file") << QStringLiteral("plain file/sub") << false;
    }
    void pictureFallbackFolder() {
        QFETCH(QString, fallback);
        QFETCH(bool, saved);
        Harness h;
        writeFile(h.path(QStringLiteral("plain file")), "x");
        const QString unwritable = h.path(QStringLiteral("no such folder/databmp.bmp"));
        h.w->setGraphPicturePaths(unwritable, h.path(fallback));
        const QString second = h.path(fallback + QStringLiteral("/databmp.bmp"));
        h.readings(5);
        h.w->BtSaveClick();
        if (saved) {
            QCOMPARE(h.errors, QStringList());
            QCOMPARE(h.infos, QStringList{QStringLiteral("graphic has saved on ") +
                                          QDir::toNativeSeparators(second)});
            QImage picture;
            QVERIFY(picture.load(second, "BMP"));
            QCOMPARE(picture.size(), control<GraphChart>(*h.w, "Chtshow")->size());
        } else {
            QCOMPARE(h.infos, QStringList());
            QCOMPARE(h.errors, QStringList{QStringLiteral("Cannot create file %1, nor %2")
                                               .arg(QDir::toNativeSeparators(unwritable),
                                                    QDir::toNativeSeparators(second))});
            QVERIFY(!QFile::exists(second));
        }
        QVERIFY(!QFile::exists(unwritable));
    }

    // A picture that cannot be written is reported as such, never as saved, and leaves any
    // old picture as it was.
    void failedPictureWrite() {
        Harness h;
        const QString missing = h.path(QStringLiteral("no such folder/databmp.bmp"));
        h.w->setGraphPicturePaths(missing, QString());
        h.w->BtSaveClick();
        QCOMPARE(h.infos, QStringList());
        QCOMPARE(h.errors, QStringList{QStringLiteral("Cannot create file ") +
                                       QDir::toNativeSeparators(missing)});
        QVERIFY(!QFile::exists(missing));
#ifdef QM_HAVE_FILE_SIZE_LIMIT
        // A write cut short halfway (the file size limit holds even for root).
        const QString old = h.path(QStringLiteral("databmp.bmp"));
        h.w->setGraphPicturePaths(old, QString());
        {
            QFile f(old);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old picture");
        }
        {
            FileSizeLimit limit(4096);
            h.w->BtSaveClick();
        }
        QCOMPARE(h.infos, QStringList());
        QCOMPARE(h.errors.size(), 2);
        QFile f(old);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("old picture"));
        QCOMPARE(QDir(h.folder()).entryList({QStringLiteral("databmp*")}, QDir::Files),
                 QStringList{QStringLiteral("databmp.bmp")});
#endif
    }
};

QTEST_MAIN(TestGraph)
#include "tst_graph.moc"
#include "windowcontrols.h"
