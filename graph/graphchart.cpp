#include "graphchart.h"

#include "areagraph.h"
#include "replacingfile.h"
#include "safefile.h"

#include <QLinearGradient>

namespace {

const QColor kGradientTop{255, 255, 164};
const QColor kGradientBottom{255, 221, 221};
const QColor kPanelColour{192, 221, 248};
const QColor kLeftWallColour{255, 255, 128};
constexpr int kLeftWallPixels = 11;
const QColor kLeftAxisColour{0, 64, 128};
constexpr int kTickPixels = 3;
constexpr int kSubTicks = 4;
const QColor kAreaColour{255, 255, 128};
const QColor kAreaLineColour{0, 128, 255};
const QColor kLineColour{128, 255, 0};
constexpr int kTitlePixels = 13;
/// Room above the plot for the tool strip that sits in the chart's top-left corner.
constexpr int kTitleRowPixels = 22;

/// Ticks of the value axis with four minor ticks between major ones.
class FourSubTickTicker : public QCPAxisTicker {
protected:
    int getSubTickCount(double) override { return kSubTicks; }
};

/// The chart's frame (single border, lowered inner bevel) and the left wall beside the value
/// axis. A layer of the chart, so it is in the saved picture as well as on screen.
class ChartFrame : public QCPLayerable {
public:
    explicit ChartFrame(QCustomPlot *plot) : QCPLayerable(plot, QStringLiteral("background")) {}

protected:
    void applyDefaultAntialiasingHint(QCPPainter *painter) const override {
        painter->setAntialiasing(false);
    }
    void draw(QCPPainter *painter) override {
        const QRect plot = mParentPlot->axisRect()->rect();
        painter->fillRect(
            QRect(plot.left() - kLeftWallPixels, plot.top(), kLeftWallPixels, plot.height()),
            kLeftWallColour);
        const QRect outer = mParentPlot->viewport().adjusted(0, 0, -1, -1);
        painter->setBrush(Qt::NoBrush);
        painter->setPen(kPanelColour.darker(200));
        painter->drawRect(outer);
        const QRect inner = outer.adjusted(1, 1, -1, -1);
        painter->setPen(kPanelColour.darker(150));
        painter->drawLine(inner.topLeft(), inner.topRight());
        painter->drawLine(inner.topLeft(), inner.bottomLeft());
        painter->setPen(Qt::white);
        painter->drawLine(inner.bottomLeft(), inner.bottomRight());
        painter->drawLine(inner.topRight(), inner.bottomRight());
    }
};

} // namespace

GraphChart::GraphChart(QWidget *parent)
    : QCustomPlot(parent), m_points(QSharedPointer<QCPGraphDataContainer>::create()) {
    buildLook();

    QCPGraph *area = new AreaGraph(xAxis, yAxis);
    area->setObjectName(QStringLiteral("Series2"));
    area->setName(QStringLiteral("Series2"));
    area->setPen(QPen(kAreaLineColour));
    area->setBrush(kAreaColour);
    // The outline is drawn smooth over the fill's edge anyway; a smoothed fill costs many
    // times as much to draw.
    area->setAntialiasedFill(false);
    QCPGraph *line = addGraph();
    line->setObjectName(QStringLiteral("Series1"));
    line->setName(QStringLiteral("Series1"));
    line->setPen(QPen(kLineColour));
    for (QCPGraph *g : {area, line}) {
        g->setLineStyle(QCPGraph::lsLine);
        g->setScatterStyle(QCPScatterStyle::ssNone);
        g->setData(m_points);
    }
    showPage();
}

void GraphChart::buildLook() {
    setCursor(Qt::CrossCursor);
    QLinearGradient gradient(0.0, 0.0, 0.0, 1.0);
    gradient.setCoordinateMode(QGradient::ObjectMode);
    gradient.setColorAt(0.0, kGradientTop);
    gradient.setColorAt(1.0, kGradientBottom);
    setBackground(QBrush(gradient));
    new ChartFrame(this);

    QFont titleFont(QStringLiteral("Arial"));
    titleFont.setPixelSize(kTitlePixels);
    plotLayout()->insertRow(0);
    auto *title = new QCPTextElement(this, QStringLiteral("  "), titleFont);
    title->setTextColor(Qt::blue);
    title->setMinimumSize(0, kTitleRowPixels);
    plotLayout()->addElement(0, 0, title);
    legend->setVisible(false);

    QCPAxis *values = yAxis;
    values->setBasePen(QPen(kLeftAxisColour, 1, Qt::DashLine));
    values->setTickPen(QPen(kLeftAxisColour));
    values->setSubTickPen(QPen(kLeftAxisColour));
    values->setTickLength(0, kTickPixels);
    values->setSubTickLength(0, kTickPixels);
    values->setTicker(QSharedPointer<FourSubTickTicker>::create());
    // The tick labels stand left of the wall.
    values->setTickLabelPadding(values->tickLabelPadding() + kLeftWallPixels);
    values->setRange(kDesignValueMin, kDesignValueMax);
    QFont tickFont(QStringLiteral("Arial"));
    tickFont.setPixelSize(10);
    values->setTickLabelFont(tickFont);
    xAxis->setTickLabelFont(tickFont);
    // Positions are whole numbers, shown in full even past a million.
    xAxis->setNumberFormat(QStringLiteral("f"));
    xAxis->setNumberPrecision(0);
}

QCPGraph *GraphChart::series(int index) const {
    return index >= 0 && index < graphCount() ? graph(index) : nullptr;
}

void GraphChart::setSeriesActive(int index, bool active) {
    if (QCPGraph *g = series(index); g && g->visible() != active) {
        g->setVisible(active);
        queueRepaint();
    }
}

bool GraphChart::isSeriesActive(int index) const {
    const QCPGraph *g = series(index);
    return g && g->visible();
}

void GraphChart::fillSampleValues(int count) {
    QVector<QCPGraphData> samples;
    samples.reserve(count);
    for (int i = 0; i < count; ++i)
        samples.append(QCPGraphData(i, 0.0));
    // Replacing the contents also hands back the memory that many points held.
    m_points->set(samples, true);
    m_paging.setPointCount(count);
    showPage();
}

void GraphChart::appendPoint(double value) {
    const PagingModel::Count position = m_paging.pointCount();
    m_points->add(QCPGraphData(static_cast<double>(position), value));
    const PagingModel::KeyRange before = m_paging.keyRange();
    m_paging.addPoint();
    // A point off the page on screen changes nothing there: no repaint.
    if (m_paging.keyRange() != before || position <= m_paging.lastShown())
        showPage();
}

void GraphChart::setPage(qint64 page) {
    m_paging.setPage(page);
    showPage();
}

void GraphChart::setPageSize(qint64 size) {
    m_paging.setPageSize(size);
    showPage();
}

PagingModel::CommandOutcome GraphChart::runPagingCommand(PagingModel::Command command) {
    const PagingModel::CommandOutcome outcome = m_paging.run(command);
    showPage();
    return outcome;
}

void GraphChart::setValueRange(double minimum, double maximum) {
    if (yAxis->range() == QCPRange(minimum, maximum))
        return;
    yAxis->setRange(minimum, maximum);
    queueRepaint();
}

void GraphChart::showPage() {
    const PagingModel::KeyRange range = m_paging.keyRange();
    const QCPRange keys(range.lower, range.upper);
    if (xAxis->range() != keys)
        xAxis->setRange(keys);
    queueRepaint();
}

void GraphChart::queueRepaint() {
    replot(QCustomPlot::rpQueuedReplot);
}

bool GraphChart::savePicture(const QString &path) {
    const QPixmap picture = toPixmap(width(), height());
    ReplacingFile file(path);
    try {
        if (picture.isNull() || !file.open())
            return false;
    } catch (const SafeFile::Refused &) {
        // Something not ours where the picture or its temporary copy goes.
        return false;
    }
    // Not committed, the temporary copy goes; an older picture stays as it was.
    return picture.save(&file.file(), "BMP") && file.commit();
}
