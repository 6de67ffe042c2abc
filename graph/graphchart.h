#pragma once

#include "pagingmodel.h"

#include <qcustomplot.h>

#include <QSharedPointer>
#include <QString>

/// The graph of readings: two series over one shared point store, shown a page at a time.
///
/// Series 0 (`Series2`) draws the points as a filled area, series 1 (`Series1`) as a line;
/// both read the same point container, so every point is stored once and switching views
/// never loses one. Which points are on screen is decided by the PagingModel it holds; the
/// chart only sets its horizontal axis to the range that model computes. Every change queues
/// one repaint for the next pass of the event loop, so a burst of readings costs one
/// repaint, and nothing here walks all the points.
class GraphChart : public QCustomPlot {
    Q_OBJECT

public:
    static constexpr double kDesignValueMin = -8001.0;
    static constexpr double kDesignValueMax = 8001.0;

    explicit GraphChart(QWidget *parent = nullptr);

    // ---- series ----
    int seriesCount() const { return graphCount(); }
    /// The series at `index` in list order (0: area, 1: line), or null.
    QCPGraph *series(int index) const;
    /// An inactive series is not drawn but keeps every point.
    void setSeriesActive(int index, bool active);
    bool isSeriesActive(int index) const;

    // ---- points ----
    /// Empties the points and puts `count` sample points (value 0) at positions 0 .. count-1.
    void fillSampleValues(int count);
    /// Appends `value` at the next position (the number of points held before).
    void appendPoint(double value);
    qint64 pointCount() const { return m_paging.pointCount(); }
    /// The store both series read.
    QSharedPointer<QCPGraphDataContainer> points() const { return m_points; }

    // ---- paging ----
    const PagingModel &paging() const { return m_paging; }
    /// Stores the page clamped into the existing pages.
    void setPage(qint64 page);
    /// Throws std::invalid_argument for a negative size, which then changes nothing.
    void setPageSize(qint64 size);
    PagingModel::CommandOutcome runPagingCommand(PagingModel::Command command);

    // ---- value axis ----
    void setValueRange(double minimum, double maximum);

    // ---- picture ----
    /// Draws the chart at its own size and writes it as a BMP file. The picture goes to a
    /// temporary file that replaces `path` only once complete, so a failed write leaves any
    /// old picture as it was. Returns false when the file could not be written.
    bool savePicture(const QString &path);

private:
    /// Turns the horizontal axis to the page the paging model shows and queues a repaint.
    void showPage();
    void queueRepaint();
    void buildLook();

    PagingModel m_paging;
    QSharedPointer<QCPGraphDataContainer> m_points;
};
