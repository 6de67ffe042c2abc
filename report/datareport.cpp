#include "datareport.h"

#include "bandlayout.h"
#include "reportrowsource.h"

#include <QFontMetricsF>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <stdexcept>

namespace {

[[noreturn]] void raise(const QString &text) {
    throw std::runtime_error(text.toStdString());
}

/// Hundredths of a millimetre to the units of one paint device.
struct DeviceScale {
    double x;
    double y;

    explicit DeviceScale(const QPaintDevice &device)
        : x(device.logicalDpiX() / 2540.0), y(device.logicalDpiY() / 2540.0) {}
    double toX(BandLayout::Hmm hmm) const { return hmm * x; }
    double toY(BandLayout::Hmm hmm) const { return hmm * y; }
};

} // namespace

DataReport::DataReport(std::shared_ptr<const ReportRowSource> source)
    : m_source(std::move(source)),
      m_records(m_source ? std::max<qint64>(0, m_source->count()) : 0) {}

qint64 DataReport::pageCount() const {
    return BandLayout::pageCount(m_records);
}

QPageLayout DataReport::pageLayout() {
    const double margin = BandLayout::kMargin / 100.0;
    QPageLayout layout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                       QMarginsF(margin, margin, margin, margin), QPageLayout::Millimeter);
    // The bands are placed from the sheet's corner; the margins are part of the layout.
    layout.setMode(QPageLayout::FullPageMode);
    return layout;
}

QFont DataReport::font() {
    QFont font(QStringLiteral("Arial"));
    // Where Arial is missing, its metric twin or the machine's sans-serif face stands in.
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arimo"), QStringLiteral("Helvetica")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(10.0);
    return font;
}

QList<RecordRow> DataReport::recordsOf(qint64 page) const {
    const int lines = BandLayout::linesOnPage(page, m_records);
    if (lines == 0)
        return {};
    const qint64 first = BandLayout::firstRecordOf(page);
    if (first < m_windowFirst || first + lines > m_windowFirst + m_window.size()) {
        // Printed last page first, the pages come backwards: the window then ends at the
        // page, so that the pages before it are in it too.
        const qint64 start =
            first < m_windowFirst ? std::max<qint64>(0, first + lines - kWindowRows) : first;
        const int n = int(std::min<qint64>(kWindowRows, m_records - start));
        m_window.clear();
        m_window = m_source->rows(start, n);
        m_windowFirst = start;
        if (m_window.size() < first - start + lines) {
            m_window.clear();
            raise(QStringLiteral("Records %1 to %2 could not be read for the report")
                      .arg(first + 1)
                      .arg(first + lines));
        }
    }
    return m_window.mid(first - m_windowFirst, lines);
}

void DataReport::paintPage(QPainter &painter, qint64 page) const {
    if (page < 0 || page >= pageCount())
        return;
    const QList<RecordRow> records = recordsOf(page);

    const DeviceScale scale(*painter.device());
    painter.save();
    painter.setFont(font());
    painter.setPen(Qt::black);
    const QFontMetricsF metrics(painter.font(), painter.device());
    const double ascent = metrics.ascent();
    // Texts are placed by the top of their line box; the painter wants the baseline.
    auto drawAt = [&](BandLayout::Hmm left, BandLayout::Hmm top, const QString &text) {
        painter.drawText(QPointF(scale.toX(left), scale.toY(top) + ascent), text);
    };

    const QString title = QLatin1String(BandLayout::kTitle);
    const double titleLeft =
        scale.toX(BandLayout::kMargin) +
        (scale.toX(BandLayout::kBandWidth) - metrics.horizontalAdvance(title)) / 2.0;
    painter.drawText(
        QPointF(titleLeft, scale.toY(BandLayout::pageHeaderTop() + BandLayout::kTitleTop) + ascent),
        title);

    const BandLayout::Hmm headingTop = BandLayout::columnHeaderTop() + BandLayout::kHeadingTop;
    for (const BandLayout::Column &column : BandLayout::kColumns)
        drawAt(BandLayout::kMargin + column.headingLeft, headingTop, QLatin1String(column.heading));

    // A field wraps only where it would run past the band's right edge, which short texts
    // cannot reach: those are drawn without measuring them.
    const double maxCharWidth = std::max(1.0, metrics.maxWidth());
    std::array<qsizetype, RecordRow::ColumnCount> unmeasured{};
    std::array<double, RecordRow::ColumnCount> room{};
    for (int c = 0; c < RecordRow::ColumnCount; ++c) {
        room[c] = scale.toX(BandLayout::bandRight() - BandLayout::kMargin -
                            BandLayout::kColumns[c].fieldLeft);
        unmeasured[c] = qsizetype(room[c] / maxCharWidth);
    }
    for (int line = 0; line < records.size(); ++line) {
        const RecordRow &record = records[line];
        const BandLayout::Hmm top = BandLayout::detailTop(line) + BandLayout::kFieldTop;
        for (int c = 0; c < RecordRow::ColumnCount; ++c) {
            const QString &text = record.texts[c];
            if (text.isEmpty())
                continue;
            const BandLayout::Hmm left = BandLayout::kMargin + BandLayout::kColumns[c].fieldLeft;
            if (text.size() <= unmeasured[c] || metrics.horizontalAdvance(text) <= room[c]) {
                drawAt(left, top, text);
                continue;
            }
            // Wrapped lines stay inside their own detail band so that they never cover the
            // next record.
            const QRectF box(scale.toX(left), scale.toY(top), room[c],
                             scale.toY(BandLayout::kDetailHeight - BandLayout::kFieldTop));
            painter.save();
            painter.setClipRect(box);
            painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere, text);
            painter.restore();
        }
    }

    drawAt(BandLayout::kMargin + BandLayout::kFootLeft,
           BandLayout::pageFooterTop() + BandLayout::kFootTop, QLatin1String(BandLayout::kFoot));
    painter.restore();
}

std::vector<qint64> DataReport::allPages() const {
    std::vector<qint64> pages(static_cast<std::size_t>(pageCount()));
    for (std::size_t i = 0; i < pages.size(); ++i)
        pages[i] = qint64(i);
    return pages;
}

void DataReport::render(QPagedPaintDevice &device, const std::vector<qint64> &pages) const {
    if (pages.empty())
        return;
    QPainter painter;
    if (!painter.begin(&device))
        raise(QStringLiteral("The report could not be started on the output device"));
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i > 0 && !device.newPage())
            raise(QStringLiteral("The output device refused page %1 of the report")
                      .arg(pages[i] + 1));
        paintPage(painter, pages[i]);
    }
    if (!painter.end())
        raise(QStringLiteral("The report could not be finished on the output device"));
}

void DataReport::writePdf(const QString &path) const {
    QPdfWriter writer(path);
    writer.setPageLayout(pageLayout());
    writer.setTitle(QLatin1String(BandLayout::kTitle));
    render(writer, allPages());
}
