#pragma once

#include "previewgeometry.h"

#include <QAbstractScrollArea>
#include <QImage>

#include <deque>
#include <set>

class PageSource;

/// The pages of a report on screen, one or two side by side, scrolled page by page. Only
/// the pages in view are painted, each once into a small cache of pictures, so the view
/// opens at once however many pages there are; the scroll range counts pages, not pixels.
class PreviewView : public QAbstractScrollArea {
    Q_OBJECT

public:
    enum class Zoom { FitWidth, FitPage, Custom };
    static constexpr double kZoomStep = 1.25;
    static constexpr double kMinZoom = 0.1;
    static constexpr double kMaxZoom = 4.0;
    /// Pictures kept beyond those in view.
    static constexpr qint64 kCacheBytes = 12 * 1024 * 1024;
    /// A page larger than this on screen is painted only where it shows, and not kept.
    static constexpr qint64 kPictureBytes = 8 * 1024 * 1024;

    /// `source` must outlive the view.
    explicit PreviewView(const PageSource &source, QWidget *parent = nullptr);

    qint64 pageCount() const { return m_geometry.pageCount(); }
    /// The page the view is at (from 0): the one last gone to, or the first of the top row.
    qint64 currentPage() const { return m_current; }
    void goToPage(qint64 page);
    /// Moves `rows` rows of pages down (up when negative), to the first page of that row.
    void stepRows(int rows);
    int columns() const { return m_columns; }
    void setColumns(int columns);
    Zoom zoomMode() const { return m_mode; }
    void setZoomMode(Zoom mode);
    /// The scale against the paper's real size.
    double zoom() const { return m_zoom; }
    void zoomIn();
    void zoomOut();
    /// The source's pages changed (another paper, another count): paints them anew and
    /// goes to `page`.
    void reload(qint64 page);
    /// The pages in view now, in order.
    std::vector<qint64> visiblePages() const;

signals:
    void currentPageChanged(qint64 page);
    void zoomModeChanged(PreviewView::Zoom mode);
    /// A page could not be painted; told once for each page.
    void pageFailed(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    double realSize() const;
    void setCustomZoom(double zoom);
    /// Lays the pages out for the zoom and the viewport and puts the current page on top.
    void relayout();
    const QImage &picture(qint64 page, QSize size);
    /// `part` (in the page's own pixels) of `page` shown `size` large.
    QImage paint(qint64 page, QSize size, const QRect &part);
    void trimCache(const std::vector<qint64> &keep);

    struct Picture {
        qint64 page;
        QImage image;
    };

    const PageSource &m_source;
    PreviewGeometry m_geometry;
    Zoom m_mode = Zoom::FitWidth;
    double m_zoom = 1.0;
    int m_columns = 1;
    qint64 m_current = 0;
    bool m_moving = false;
    std::deque<Picture> m_cache; // most recently used first
    std::set<qint64> m_failed;
};
