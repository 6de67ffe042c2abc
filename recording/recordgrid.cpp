#include "recordgrid.h"

#include "recordrow.h"
#include "recordtablemodel.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QWheelEvent>

namespace {

constexpr qsizetype kMaxDrawnChars = 256;

/// Draws a column's cells in its own font.
class ColumnFontDelegate : public QStyledItemDelegate {
public:
    ColumnFontDelegate(const QFont &font, QObject *parent)
        : QStyledItemDelegate(parent), m_font(font) {}

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->font = m_font;
    }

private:
    QFont m_font;
};

/// The grid's left column: the record indicator, a small triangle beside the current row.
class IndicatorHeader : public QHeaderView {
public:
    explicit IndicatorHeader(QWidget *parent) : QHeaderView(Qt::Vertical, parent) {}

    void setMarkedSection(int section) {
        if (section == m_marked)
            return;
        m_marked = section;
        viewport()->update();
    }
    int markedSection() const { return m_marked; }

protected:
    void paintEvent(QPaintEvent *event) override {
        QHeaderView::paintEvent(event);
        if (m_marked < 0 || m_marked >= count())
            return;
        const QRect rect(0, sectionViewportPosition(m_marked), viewport()->width(),
                         sectionSize(m_marked));
        const qreal h = std::min<qreal>(8, rect.height() - 4);
        const qreal w = std::min<qreal>(h / 2 + 1, rect.width() - 4);
        const QPointF centre = QRectF(rect).center();
        const qreal tipX = centre.x() + w / 2;
        const QPolygonF triangle{
            {tipX - w, centre.y() - h / 2}, {tipX, centre.y()}, {tipX - w, centre.y() + h / 2}};
        QPainter painter(viewport());
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(QPalette::WindowText));
        painter.drawPolygon(triangle);
    }

private:
    int m_marked = -1;
};

QFont pixelFont(const QStringList &families, int pixels) {
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixels);
    return font;
}

// The columns are sized for the design's faces; where those are missing a narrow face
// keeps a time of day or a unit inside its cell.
const QStringList kCellFaces{QStringLiteral("Arial"), QStringLiteral("Liberation Sans Narrow"),
                             QStringLiteral("Arial Narrow")};
const QStringList kTitleFaces{QStringLiteral("MS Sans Serif"),
                              QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial")};

} // namespace

/// The rows [top, top + span) of the record model, as the inner view sees them. Moving the
/// window changes data, or adds or removes rows at its end, but never resets, so the view
/// keeps its column widths.
class RecordGrid::WindowModel : public QAbstractTableModel {
public:
    explicit WindowModel(QObject *parent) : QAbstractTableModel(parent) {}

    void setSource(RecordTableModel *source) { m_source = source; }
    int top() const { return m_top; }

    void setWindow(int top, int span) {
        if (span > m_span) {
            beginInsertRows(QModelIndex(), m_span, span - 1);
            m_top = top;
            m_span = span;
            endInsertRows();
        } else if (span < m_span) {
            beginRemoveRows(QModelIndex(), span, m_span - 1);
            m_top = top;
            m_span = span;
            endRemoveRows();
        } else {
            m_top = top;
        }
        if (m_span > 0)
            emit dataChanged(index(0, 0), index(m_span - 1, RecordRow::ColumnCount - 1));
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : m_span;
    }
    int columnCount(const QModelIndex &parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : RecordRow::ColumnCount;
    }
    QVariant data(const QModelIndex &index, int role) const override {
        if (!m_source || !index.isValid())
            return QVariant();
        QVariant value = m_source->index(m_top + index.row(), index.column()).data(role);
        // A cell shows a few dozen characters; laying out a 100 KB text (a table written
        // elsewhere may hold one) on every paint would stall the window, whichever column
        // and delegate draws it.
        if (role == Qt::DisplayRole && value.typeId() == QMetaType::QString) {
            if (QString text = value.toString(); text.size() > kMaxDrawnChars) {
                text.truncate(kMaxDrawnChars);
                value = text;
            }
        }
        return value;
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation == Qt::Vertical)
            return role == Qt::DisplayRole ? QVariant(QString()) : QVariant();
        return m_source ? m_source->headerData(section, orientation, role) : QVariant();
    }
    Qt::ItemFlags flags(const QModelIndex &index) const override {
        return m_source ? m_source->flags(index) : Qt::NoItemFlags;
    }

private:
    RecordTableModel *m_source = nullptr;
    int m_top = 0;
    int m_span = 0;
};

RecordGrid::RecordGrid(QWidget *parent) : QWidget(parent) {
    m_window = new WindowModel(this);
    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("DBGrid1View"));
    m_indicator = new IndicatorHeader(m_view);
    m_view->setVerticalHeader(m_indicator);
    m_view->setModel(m_window);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setShowGrid(true);
    m_view->setWordWrap(false);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_view->horizontalHeader()->setFont(titleFont());
    m_view->horizontalHeader()->setHighlightSections(false);
    m_view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_view->verticalHeader()->setMinimumSectionSize(1);
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(kRowHeight);
    m_view->verticalHeader()->setFixedWidth(12);
    m_view->verticalHeader()->setFont(titleFont());
    for (int c = 0; c < RecordRow::ColumnCount; ++c) {
        m_view->setItemDelegateForColumn(c, new ColumnFontDelegate(columnFont(c), this));
        m_view->setColumnWidth(c, kColumnWidths[c]);
    }
    // The selected row stays marked when the grid does not have the focus.
    QPalette pal = m_view->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    m_view->setPalette(pal);
    m_view->installEventFilter(this);
    m_view->viewport()->installEventFilter(this);
    connect(m_view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) { onViewCurrentChanged(current); });

    m_scrollBar = new QScrollBar(Qt::Vertical, this);
    m_scrollBar->setRange(0, 0);
    connect(m_scrollBar, &QScrollBar::valueChanged, this, [this](int value) { setTop(value); });
    setFocusProxy(m_view);
    layoutChildren();
}

RecordGrid::~RecordGrid() = default;

void RecordGrid::setRecordModel(RecordTableModel *model) {
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = model;
    m_window->setSource(model);
    connect(model, &QAbstractItemModel::modelReset, this, [this] { onSourceReset(); });
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &parent, int first, int last) {
                onSourceRowsInserted(parent, first, last);
            });
    m_current = -1;
    m_top = 0;
    syncWindow();
}

void RecordGrid::setCurrentRow(int row) {
    const int rows = m_source ? m_source->rowCount() : 0;
    if (rows == 0)
        return;
    m_current = std::clamp(row, 0, rows - 1);
    if (m_current < m_top)
        m_top = m_current;
    else if (m_current >= m_top + m_visibleRows)
        m_top = m_current - m_visibleRows + 1;
    syncWindow();
}

void RecordGrid::showLastRecord() {
    if (m_source)
        setCurrentRow(m_source->rowCount() - 1);
}

QFont RecordGrid::columnFont(int column) {
    if (column == RecordRow::Unit || column == RecordRow::Auto)
        return pixelFont({QStringLiteral("LCDSEG-7")}, 12);
    return pixelFont(kCellFaces, 12);
}

QFont RecordGrid::titleFont() {
    return pixelFont(kTitleFaces, 11);
}

void RecordGrid::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    layoutChildren();
}

bool RecordGrid::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_view && event->type() == QEvent::KeyPress) {
        const int page = std::max(1, m_visibleRows - 1);
        const int rows = m_source ? m_source->rowCount() : 0;
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Up:
            setCurrentRow(m_current - 1);
            return true;
        case Qt::Key_Down:
            setCurrentRow(m_current + 1);
            return true;
        case Qt::Key_PageUp:
            setCurrentRow(m_current - page);
            return true;
        case Qt::Key_PageDown:
            setCurrentRow(m_current + page);
            return true;
        case Qt::Key_Home:
            if (static_cast<QKeyEvent *>(event)->modifiers() & Qt::ControlModifier) {
                setCurrentRow(0);
                return true;
            }
            break;
        case Qt::Key_End:
            if (static_cast<QKeyEvent *>(event)->modifiers() & Qt::ControlModifier) {
                setCurrentRow(rows - 1);
                return true;
            }
            break;
        default:
            break;
        }
    }
    if (watched == m_view->viewport() && event->type() == QEvent::Wheel) {
        const int steps = static_cast<QWheelEvent *>(event)->angleDelta().y() / 40;
        m_scrollBar->setValue(m_scrollBar->value() - steps);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void RecordGrid::layoutChildren() {
    const int barWidth = m_scrollBar->sizeHint().width();
    m_view->setGeometry(0, 0, std::max(0, width() - barWidth), height());
    m_scrollBar->setGeometry(width() - barWidth, 0, barWidth, height());

    int rowsHeight =
        height() - 2 * m_view->frameWidth() - m_view->horizontalHeader()->sizeHint().height();
    int columnsWidth = m_view->verticalHeader()->width();
    for (int c = 0; c < RecordRow::ColumnCount; ++c)
        columnsWidth += m_view->columnWidth(c);
    if (columnsWidth > m_view->width() - 2 * m_view->frameWidth())
        rowsHeight -= m_view->horizontalScrollBar()->sizeHint().height();
    m_visibleRows = std::max(1, rowsHeight / kRowHeight);
    if (m_current >= 0)
        setCurrentRow(m_current);
    else
        syncWindow();
}

void RecordGrid::setTop(int top) {
    if (m_syncing || top == m_top)
        return;
    m_top = top;
    syncWindow();
}

void RecordGrid::syncWindow() {
    const int rows = m_source ? m_source->rowCount() : 0;
    m_top = std::clamp(m_top, 0, std::max(0, rows - m_visibleRows));
    const int span = std::min(m_visibleRows, rows - m_top);
    m_syncing = true;
    m_window->setWindow(m_top, span);
    m_scrollBar->setRange(0, std::max(0, rows - m_visibleRows));
    m_scrollBar->setPageStep(m_visibleRows);
    m_scrollBar->setValue(m_top);
    if (m_current >= m_top && m_current < m_top + span) {
        const int column = std::max(0, m_view->currentIndex().column());
        const QModelIndex index = m_window->index(m_current - m_top, column);
        m_view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                             QItemSelectionModel::Rows);
        static_cast<IndicatorHeader *>(m_indicator)->setMarkedSection(m_current - m_top);
    } else {
        m_view->selectionModel()->clear();
        static_cast<IndicatorHeader *>(m_indicator)->setMarkedSection(-1);
    }
    m_syncing = false;
}

void RecordGrid::onSourceReset() {
    m_current = m_source->rowCount() > 0 ? 0 : -1;
    m_top = 0;
    syncWindow();
}

void RecordGrid::onSourceRowsInserted(const QModelIndex &parent, int, int last) {
    // The appended record becomes the current row, in view.
    if (!parent.isValid() && last == m_source->rowCount() - 1)
        setCurrentRow(last);
    else
        syncWindow();
}

void RecordGrid::onViewCurrentChanged(const QModelIndex &current) {
    if (m_syncing || !current.isValid())
        return;
    m_current = m_top + current.row();
    static_cast<IndicatorHeader *>(m_indicator)->setMarkedSection(current.row());
}

int RecordGrid::indicatorRow() const {
    const int section = static_cast<IndicatorHeader *>(m_indicator)->markedSection();
    return section < 0 ? -1 : m_top + section;
}
