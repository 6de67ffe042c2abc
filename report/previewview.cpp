#include "previewview.h"

#include "pagesource.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <exception>

namespace {

/// Pages are painted at a printer's resolution and scaled to the screen, so every text
/// sits where the printer puts it.
constexpr double kPaintDpi = 1200.0;

} // namespace

PreviewView::PreviewView(const PageSource &source, QWidget *parent)
    : QAbstractScrollArea(parent), m_source(source) {
    setObjectName(QStringLiteral("previewView"));
    viewport()->setBackgroundRole(QPalette::Dark);
    viewport()->setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);
    // A vertical bar that came and went would change the width that fit-width zooms to.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    relayout();
}

double PreviewView::realSize() const {
    return logicalDpiY() / 25.4;
}

void PreviewView::goToPage(qint64 page) {
    page = std::clamp<qint64>(page, 0, std::max<qint64>(0, pageCount() - 1));
    m_moving = true;
    verticalScrollBar()->setValue(m_geometry.stepOf(page));
    m_moving = false;
    viewport()->update();
    if (page != m_current) {
        m_current = page;
        emit currentPageChanged(page);
    }
}

void PreviewView::stepRows(int rows) {
    goToPage((m_current / m_columns + rows) * m_columns);
}

void PreviewView::setColumns(int columns) {
    m_columns = std::clamp(columns, 1, 2);
    relayout();
}

void PreviewView::setZoomMode(Zoom mode) {
    m_mode = mode;
    relayout();
    emit zoomModeChanged(mode);
}

void PreviewView::zoomIn() {
    setCustomZoom(m_zoom * kZoomStep);
}

void PreviewView::zoomOut() {
    setCustomZoom(m_zoom / kZoomStep);
}

void PreviewView::setCustomZoom(double zoom) {
    m_mode = Zoom::Custom;
    m_zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    relayout();
    emit zoomModeChanged(m_mode);
}

void PreviewView::reload(qint64 page) {
    m_cache.clear();
    m_failed.clear();
    m_current = std::clamp<qint64>(page, 0, std::max<qint64>(0, m_source.pageCount() - 1));
    relayout();
    emit currentPageChanged(m_current);
}

void PreviewView::relayout() {
    const QSizeF mm = m_source.pageSizeMm();
    const QSize room = viewport()->size();
    if (m_mode == Zoom::FitWidth)
        m_zoom = PreviewGeometry::fitWidth(mm, m_columns, room) / realSize();
    else if (m_mode == Zoom::FitPage)
        m_zoom = PreviewGeometry::fitPage(mm, m_columns, room) / realSize();
    m_geometry = PreviewGeometry(mm, m_source.pageCount(), m_columns, m_zoom * realSize());

    const int steps = m_geometry.stepsPerRow();
    QScrollBar *bar = verticalScrollBar();
    m_moving = true;
    bar->setRange(0, m_geometry.maxStep(room.height()));
    bar->setSingleStep(std::max(1, steps / 8));
    bar->setPageStep(std::max<int>(1, qint64(steps) * room.height() / m_geometry.rowHeight()));
    bar->setValue(m_geometry.stepOf(m_current));
    horizontalScrollBar()->setRange(0, std::max(0, m_geometry.contentWidth() - room.width()));
    horizontalScrollBar()->setSingleStep(20);
    horizontalScrollBar()->setPageStep(room.width());
    m_moving = false;
    viewport()->update();
}

std::vector<qint64> PreviewView::visiblePages() const {
    std::vector<qint64> pages;
    for (const PreviewGeometry::Placed &placed : m_geometry.visible(
             verticalScrollBar()->value(), horizontalScrollBar()->value(), viewport()->size()))
        pages.push_back(placed.page);
    return pages;
}

void PreviewView::paintEvent(QPaintEvent *) {
    QPainter painter(viewport());
    std::vector<qint64> shown;
    for (const PreviewGeometry::Placed &placed : m_geometry.visible(
             verticalScrollBar()->value(), horizontalScrollBar()->value(), viewport()->size())) {
        painter.fillRect(placed.rect.translated(3, 3), QColor(0, 0, 0, 80));
        const QSize size = placed.rect.size();
        if (qint64(size.width()) * size.height() * 4 <= kPictureBytes) {
            painter.drawImage(placed.rect, picture(placed.page, size));
        } else {
            // Zoomed far in: a whole page would take tens of megabytes for the piece shown.
            const QRect part = placed.rect.intersected(viewport()->rect());
            painter.drawImage(part,
                              paint(placed.page, size, part.translated(-placed.rect.topLeft())));
        }
        shown.push_back(placed.page);
    }
    trimCache(shown);
}

const QImage &PreviewView::picture(qint64 page, QSize size) {
    const QSize pixels = (QSizeF(size) * devicePixelRatioF()).toSize();
    for (auto it = m_cache.begin(); it != m_cache.end(); ++it) {
        if (it->page == page && it->image.size() == pixels) {
            Picture found = std::move(*it);
            m_cache.erase(it);
            m_cache.push_front(std::move(found));
            return m_cache.front().image;
        }
    }
    m_cache.push_front({page, paint(page, size, QRect(QPoint(), size))});
    return m_cache.front().image;
}

QImage PreviewView::paint(qint64 page, QSize size, const QRect &part) {
    const qreal ratio = devicePixelRatioF();
    QImage image((QSizeF(part.size()) * ratio).toSize(), QImage::Format_RGB32);
    image.fill(Qt::white);
    const int dotsPerMetre = qRound(kPaintDpi / 0.0254);
    image.setDotsPerMeterX(dotsPerMetre);
    image.setDotsPerMeterY(dotsPerMetre);
    {
        QPainter painter(&image);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        const QSizeF mm = m_source.pageSizeMm();
        painter.scale(ratio, ratio);
        painter.translate(-part.topLeft());
        painter.scale(size.width() / (mm.width() / 25.4 * kPaintDpi),
                      size.height() / (mm.height() / 25.4 * kPaintDpi));
        try {
            m_source.paintPage(painter, page);
        } catch (const std::exception &e) {
            // Told by signal: a message box must not open inside a paint event.
            if (m_failed.insert(page).second)
                emit pageFailed(QString::fromUtf8(e.what()));
        }
    }
    image.setDevicePixelRatio(ratio);
    return image;
}

void PreviewView::trimCache(const std::vector<qint64> &keep) {
    qint64 bytes = 0;
    for (auto it = m_cache.begin(); it != m_cache.end();) {
        bytes += it->image.sizeInBytes();
        const bool shown = std::find(keep.begin(), keep.end(), it->page) != keep.end();
        if (bytes > kCacheBytes && !shown)
            it = m_cache.erase(it);
        else
            ++it;
    }
}

void PreviewView::resizeEvent(QResizeEvent *event) {
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void PreviewView::scrollContentsBy(int, int dy) {
    if (dy != 0 && !m_moving) {
        const qint64 top = m_geometry.pageAt(verticalScrollBar()->value());
        if (top != m_current) {
            m_current = top;
            emit currentPageChanged(top);
        }
    }
    viewport()->update();
}

void PreviewView::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_PageDown:
        stepRows(1);
        break;
    case Qt::Key_PageUp:
        stepRows(-1);
        break;
    case Qt::Key_Home:
        goToPage(0);
        break;
    case Qt::Key_End:
        goToPage(pageCount() - 1);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}
