#pragma once

#include <QLabel>

#include <functional>

/// A small picture drawn in code, shown as a label: it paints its picture each time at the
/// screen's device pixel ratio, so it stays crisp at 125 %, 150 % or 200 % where a pixmap
/// made once at 1x would be enlarged.
class PictureLabel : public QLabel {
    Q_OBJECT

public:
    /// Paints the picture into a box of `size` logical pixels at the painter's origin.
    using Painter = std::function<void(QPainter &painter, QSizeF size)>;

    PictureLabel(Painter painter, QWidget *parent = nullptr);

    /// The picture at `size` for a screen of device pixel ratio `ratio`: size * ratio pixels
    /// with that ratio set, transparent where nothing is drawn.
    static QPixmap render(const Painter &painter, QSize size, qreal ratio);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Painter m_painter;
};
