#include "datareport.h"

#include "reportrowsource.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>

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
    : m_source(std::move(source)), m_records(m_source ? std::max<qint64>(0, m_source->count()) : 0),
      m_pageLayout(designPageLayout()) {}

QSizeF DataReport::pageSizeMm() const {
    return QSizeF(m_bands.paperWidth() / 100.0, m_bands.paperHeight() / 100.0);
}

void DataReport::setPageLayout(const QPageLayout &layout) {
    const PageBands bands = PageBands::forPage(layout);
    if (bands.detailLinesPerPage() < 1)
        raise(QStringLiteral("The paper %1 is too small for the report: not one record fits "
                             "between its column headings and its footer.")
                  .arg(layout.pageSize().name()));
    // Refused like a sheet too short: on a narrower one every time would print cut.
    for (int c = 0; c < RecordRow::ColumnCount; ++c) {
        const BandLayout::Column &column = BandLayout::kColumns[std::size_t(c)];
        const double needed = std::max(textWidthMm(QLatin1String(column.widest)),
                                       textWidthMm(QLatin1String(column.heading)));
        const double room = std::min(bands.fieldRoom(c), bands.headingRoom(c)) / 100.0;
        if (needed > room)
            raise(QStringLiteral("The paper %1 is too narrow for the report: the column %2 needs "
                                 "%3 mm, the sheet leaves it %4 mm.")
                      .arg(layout.pageSize().name(), QLatin1String(column.heading))
                      .arg(needed, 0, 'f', 1)
                      .arg(room, 0, 'f', 1));
    }
    m_pageLayout = layout;
    m_pageLayout.setMode(QPageLayout::FullPageMode);
    m_bands = bands;
}

QPageLayout DataReport::designPageLayout() {
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

double DataReport::textWidthMm(const QString &text) {
    // Measured at print resolution, where the widths are the font's own, not the screen's
    // hinted ones.
    static const QImage device = [] {
        QImage image(1, 1, QImage::Format_Mono);
        image.setDotsPerMeterX(qRound(1200 / 0.0254));
        image.setDotsPerMeterY(qRound(1200 / 0.0254));
        return image;
    }();
    return QFontMetricsF(font(), &device).horizontalAdvance(text) / 1200.0 * 25.4;
}

QList<RecordRow> DataReport::recordsOf(qint64 page) const {
    const int lines = m_bands.linesOnPage(page, m_records);
    if (lines == 0)
        return {};
    const qint64 first = m_bands.firstRecordOf(page);
    if (first < m_windowFirst || first + lines > m_windowFirst + m_window.size()) {
        // Printed last page first, the pages come backwards: the window then ends at the
        // page, so that the pages before it are in it too. A sheet may hold more lines than
        // a window.
        const int windowRows = std::max(kWindowRows, lines);
        const qint64 start =
            first < m_windowFirst ? std::max<qint64>(0, first + lines - windowRows) : first;
        const int n = int(std::min<qint64>(windowRows, m_records - start));
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
    const PageBands &bands = m_bands;

    const DeviceScale scale(*painter.device());
    painter.save();
    painter.setFont(font());
    painter.setPen(Qt::black);
    const QFontMetricsF metrics(painter.font(), painter.device());
    const double ascent = metrics.ascent();
    // A text that cannot reach the end of its room (no more characters than the widest
    // glyph fits in it) is drawn without measuring it; a longer one is measured and, where
    // it does not fit, cut with "…" so that a record keeps to its one line. Only a few times
    // what the room holds of average characters is ever measured: a table written elsewhere
    // may hold texts far longer than any line.
    const double widestGlyph = std::max(1.0, metrics.maxWidth());
    const double averageGlyph = std::max(1.0, metrics.averageCharWidth());
    struct Room {
        double width;
        qsizetype sure;
        qsizetype measured;
    };
    auto roomOf = [&](BandLayout::Hmm hmm) {
        const double width = scale.toX(hmm);
        return Room{width, qsizetype(width / widestGlyph),
                    16 + 4 * qsizetype(width / averageGlyph)};
    };
    // Texts are placed by the top of their line box; the painter wants the baseline.
    auto drawAt = [&](double left, BandLayout::Hmm top, const QString &text, const Room &room) {
        const QString shown =
            text.size() <= room.sure
                ? text
                : metrics.elidedText(text.left(room.measured), Qt::ElideRight, room.width);
        painter.drawText(QPointF(left, scale.toY(top) + ascent), shown);
    };

    const QString title = metrics.elidedText(QLatin1String(BandLayout::kTitle), Qt::ElideRight,
                                             scale.toX(bands.bandWidth()));
    const double titleLeft =
        scale.toX(bands.bandLeft()) +
        (scale.toX(bands.bandWidth()) - metrics.horizontalAdvance(title)) / 2.0;
    painter.drawText(
        QPointF(titleLeft, scale.toY(bands.pageHeaderTop() + BandLayout::kTitleTop) + ascent),
        title);

    const BandLayout::Hmm headingTop = bands.columnHeaderTop() + BandLayout::kHeadingTop;
    for (int c = 0; c < RecordRow::ColumnCount; ++c)
        drawAt(scale.toX(bands.headingLeft(c)), headingTop,
               QLatin1String(BandLayout::kColumns[std::size_t(c)].heading),
               roomOf(bands.headingRoom(c)));

    std::array<Room, RecordRow::ColumnCount> rooms;
    std::array<double, RecordRow::ColumnCount> lefts{};
    for (int c = 0; c < RecordRow::ColumnCount; ++c) {
        rooms[std::size_t(c)] = roomOf(bands.fieldRoom(c));
        lefts[std::size_t(c)] = scale.toX(bands.fieldLeft(c));
    }
    for (int line = 0; line < records.size(); ++line) {
        const BandLayout::Hmm top = bands.detailTop(line) + BandLayout::kFieldTop;
        for (std::size_t c = 0; c < RecordRow::ColumnCount; ++c) {
            const QString &text = records[line].texts[c];
            if (!text.isEmpty())
                drawAt(lefts[c], top, text, rooms[c]);
        }
    }

    drawAt(scale.toX(bands.footLeft()), bands.pageFooterTop() + BandLayout::kFootTop,
           QLatin1String(BandLayout::kFoot), roomOf(bands.bandRight() - bands.footLeft()));
    painter.restore();
}

std::vector<qint64> DataReport::allPages() const {
    std::vector<qint64> pages(static_cast<std::size_t>(pageCount()));
    for (std::size_t i = 0; i < pages.size(); ++i)
        pages[i] = qint64(i);
    return pages;
}

bool DataReport::render(QPagedPaintDevice &device, const std::vector<qint64> &pages,
                        const Progress &progress) const {
    if (pages.empty())
        return true;
    QPainter painter;
    if (!painter.begin(&device))
        raise(QStringLiteral("The report could not be started on the output device"));
    const qint64 total = qint64(pages.size());
    for (qint64 i = 0; i < total; ++i) {
        if (i > 0 && !device.newPage())
            raise(QStringLiteral("The output device refused page %1 of the report")
                      .arg(pages[std::size_t(i)] + 1));
        paintPage(painter, pages[std::size_t(i)]);
        if (progress && !progress(i + 1, total)) {
            painter.end();
            return false;
        }
    }
    if (!painter.end())
        raise(QStringLiteral("The report could not be finished on the output device"));
    return true;
}
