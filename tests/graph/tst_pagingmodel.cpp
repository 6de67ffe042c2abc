#include <QTest>

#include "pagingmodel.h"

#include <stdexcept>

namespace {

using Count = PagingModel::Count;
using Command = PagingModel::Command;

PagingModel model(Count points, Count pageSize, Count page = 1) {
    PagingModel m;
    m.setPageSize(pageSize);
    m.setPointCount(points);
    m.setPage(page);
    return m;
}

/// -1: the command leaves the pair as it was; 0: disables it; 1: enables it.
int pairState(const std::optional<bool> &enabled) {
    return enabled ? int(*enabled) : -1;
}

} // namespace

class TestPagingModel : public QObject {
    Q_OBJECT

private slots:
    // What a page shows: the page count, the shown point positions and the horizontal axis.
    void pages_data() {
        QTest::addColumn<Count>("points");
        QTest::addColumn<Count>("pageSize");
        QTest::addColumn<Count>("askedPage");
        QTest::addColumn<bool>("scaleLastPage");
        QTest::addColumn<Count>("pageCount");
        QTest::addColumn<Count>("page");
        QTest::addColumn<Count>("first");
        QTest::addColumn<Count>("last");
        QTest::addColumn<double>("lower");
        QTest::addColumn<double>("upper");
        // A partly filled last page keeps nearly the scale of a full one: 51 points over the
        // width that 100 would take, less one step.
        QTest::newRow("251 by 100, page 3")
            << Count(251) << Count(100) << Count(3) << false << Count(3) << Count(3) << Count(200)
            << Count(250) << 200.0 << 200.0 + 50.0 * 100.0 / 51.0;
        QTest::newRow("251 by 100, page 3, scaled")
            << Count(251) << Count(100) << Count(3) << true << Count(3) << Count(3) << Count(200)
            << Count(250) << 200.0 << 250.0;
        QTest::newRow("251 by 100, page 1")
            << Count(251) << Count(100) << Count(1) << false << Count(3) << Count(1) << Count(0)
            << Count(99) << 0.0 << 99.0;
        QTest::newRow("full last page") << Count(200) << Count(100) << Count(2) << false << Count(2)
                                        << Count(2) << Count(100) << Count(199) << 100.0 << 199.0;
        QTest::newRow("two points") << Count(2) << Count(100) << Count(1) << false << Count(1)
                                    << Count(1) << Count(0) << Count(1) << 0.0 << 50.0;
        QTest::newRow("page size 0: one page of all")
            << Count(251) << Count(0) << Count(5) << false << Count(1) << Count(1) << Count(0)
            << Count(250) << 0.0 << 250.0;
        // A lone point gets the width of a full page rather than an empty axis.
        QTest::newRow("sample point only")
            << Count(1) << Count(100) << Count(1) << false << Count(1) << Count(1) << Count(0)
            << Count(0) << 0.0 << 99.0;
        QTest::newRow("lone point on page 2")
            << Count(101) << Count(100) << Count(2) << false << Count(2) << Count(2) << Count(100)
            << Count(100) << 100.0 << 199.0;
        QTest::newRow("page size 1") << Count(5) << Count(1) << Count(3) << false << Count(5)
                                     << Count(3) << Count(2) << Count(2) << 2.0 << 3.0;
        QTest::newRow("page size 0, one point")
            << Count(1) << Count(0) << Count(1) << false << Count(1) << Count(1) << Count(0)
            << Count(0) << 0.0 << 1.0;
        QTest::newRow("no points") << Count(0) << Count(100) << Count(1) << false << Count(1)
                                   << Count(1) << Count(0) << Count(-1) << 0.0 << 99.0;
        QTest::newRow("asked beyond the pages")
            << Count(251) << Count(100) << Count(9) << false << Count(3) << Count(3) << Count(200)
            << Count(250) << 200.0 << 200.0 + 50.0 * 100.0 / 51.0;
        QTest::newRow("asked below 1") << Count(251) << Count(100) << Count(-4) << false << Count(3)
                                       << Count(1) << Count(0) << Count(99) << 0.0 << 99.0;
        QTest::newRow("a million points")
            << Count(1000001) << Count(100) << Count(10001) << false << Count(10001) << Count(10001)
            << Count(1000000) << Count(1000000) << 1000000.0 << 1000099.0;
    }
    void pages() {
        QFETCH(Count, points);
        QFETCH(Count, pageSize);
        QFETCH(Count, askedPage);
        QFETCH(bool, scaleLastPage);
        PagingModel m = model(points, pageSize);
        m.setScaleLastPage(scaleLastPage);
        m.setPage(askedPage);
        QTEST(m.pageCount(), "pageCount");
        QTEST(m.page(), "page");
        QTEST(m.shownPage(), "page");
        QTEST(m.firstShown(), "first");
        QTEST(m.lastShown(), "last");
        QTEST(m.keyRange().lower, "lower");
        QTEST(m.keyRange().upper, "upper");
    }

    // New keeps the stored page: while it lies beyond the points, the last complete page is
    // shown (the first when none is complete), and the stored page comes back into view once
    // the points reach it again.
    void storedPageBeyondThePoints_data() {
        QTest::addColumn<Count>("points");
        QTest::addColumn<Count>("shown");
        QTest::addColumn<Count>("first");
        QTest::addColumn<Count>("last");
        QTest::newRow("just the sample") << Count(1) << Count(1) << Count(0) << Count(0);
        QTest::newRow("no complete page") << Count(99) << Count(1) << Count(0) << Count(98);
        QTest::newRow("three complete pages") << Count(350) << Count(3) << Count(200) << Count(299);
        QTest::newRow("back on the stored page")
            << Count(750) << Count(8) << Count(700) << Count(749);
    }
    void storedPageBeyondThePoints() {
        QFETCH(Count, points);
        PagingModel m = model(1000, 100, 8);
        m.setPointCount(1);
        for (Count n = 1; n < points; ++n)
            m.addPoint();
        QCOMPARE(m.page(), Count(8));
        QTEST(m.shownPage(), "shown");
        QTEST(m.firstShown(), "first");
        QTEST(m.lastShown(), "last");
    }

    // A smaller page count pulls the stored page down; a negative size is refused.
    void pageSizeChanges() {
        PagingModel m = model(1000, 100, 8);
        m.setPageSize(300);
        QCOMPARE(m.pageCount(), Count(4));
        QCOMPARE(m.page(), Count(4));
        m.setPageSize(0);
        QCOMPARE(m.page(), Count(1));
        m.setPageSize(10);
        QCOMPARE(m.page(), Count(1));
        QCOMPARE(m.pageCount(), Count(100));
        try {
            m.setPageSize(-1);
            QFAIL("a negative page size was taken");
        } catch (const std::invalid_argument &e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("MaxPointsPerPage must be >= 0"));
        }
        QCOMPARE(m.pageSize(), Count(10));
    }

    // The paging commands: page change through the clamp, the button pairs, following.
    void commands_data() {
        QTest::addColumn<Count>("points");
        QTest::addColumn<Count>("pageSize");
        QTest::addColumn<Count>("page");
        QTest::addColumn<int>("command");
        QTest::addColumn<Count>("pageAfter");
        QTest::addColumn<int>("firstPrevious");
        QTest::addColumn<int>("nextLast");
        QTest::addColumn<bool>("follow");
        const int first = int(Command::First), previous = int(Command::Previous),
                  next = int(Command::Next), last = int(Command::Last);
        QTest::newRow("First") << Count(251) << Count(100) << Count(3) << first << Count(1) << 0
                               << 1 << false;
        QTest::newRow("Previous on page 1")
            << Count(251) << Count(100) << Count(1) << previous << Count(1) << 0 << 1 << false;
        QTest::newRow("Previous") << Count(251) << Count(100) << Count(3) << previous << Count(2)
                                  << -1 << 1 << false;
        QTest::newRow("Next on the last page")
            << Count(251) << Count(100) << Count(3) << next << Count(3) << 1 << 0 << false;
        QTest::newRow("Next onto the last page")
            << Count(251) << Count(100) << Count(2) << next << Count(3) << 1 << -1 << false;
        QTest::newRow("Last re-enables following")
            << Count(251) << Count(100) << Count(1) << last << Count(3) << 1 << 0 << true;
        QTest::newRow("page size 0: Next")
            << Count(251) << Count(0) << Count(1) << next << Count(1) << 1 << 0 << false;
        QTest::newRow("page size 0: Last")
            << Count(251) << Count(0) << Count(1) << last << Count(1) << 1 << 0 << true;
        QTest::newRow("page size 0: Previous")
            << Count(251) << Count(0) << Count(1) << previous << Count(1) << 0 << 1 << false;
    }
    void commands() {
        QFETCH(Count, points);
        QFETCH(Count, pageSize);
        QFETCH(Count, page);
        QFETCH(int, command);
        PagingModel m = model(points, pageSize, page);
        const PagingModel::CommandOutcome out = m.run(Command(command));
        QTEST(m.page(), "pageAfter");
        QTEST(out.pageNumber, "pageAfter");
        QTEST(pairState(out.firstPreviousEnabled), "firstPrevious");
        QTEST(pairState(out.nextLastEnabled), "nextLast");
        QTEST(out.followLastPage, "follow");
    }

    // After a New the stored page can lie beyond the pages; every command clamps it.
    void commandsClampAStalePage() {
        for (Command c : {Command::Previous, Command::Next}) {
            PagingModel m = model(1000, 100, 8);
            m.setPointCount(150);
            QCOMPARE(m.run(c).pageNumber, Count(2));
        }
    }
};

QTEST_GUILESS_MAIN(TestPagingModel)
#include "tst_pagingmodel.moc"
