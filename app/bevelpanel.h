#pragma once

#include <QFrame>
#include <QString>

#include <functional>

/// A captioned panel that works as a button: it shows a raised or lowered bevel pair
/// (outer and inner, as the window's key and command panels are designed), reports presses
/// and releases of any mouse button, and emits clicked() for a left-button click.
class BevelPanel : public QFrame {
    Q_OBJECT

public:
    enum Bevel { bvNone, bvLowered, bvRaised };
    Q_ENUM(Bevel)

    BevelPanel(const QString &objectName, const QString &caption, QWidget *parent = nullptr);

    QString caption() const { return m_caption; }
    void setCaption(const QString &caption);

    Bevel bevelOuter() const { return m_outer; }
    Bevel bevelInner() const { return m_inner; }
    void setBevelOuter(Bevel bevel);
    void setBevelInner(Bevel bevel);

    /// Draws the caption with this painter hook instead of as plain text (the LCD glyphs).
    using CaptionPainter = std::function<void(QPainter &, const QRect &, const QString &)>;
    void setCaptionPainter(CaptionPainter painter);

signals:
    void pressed(Qt::MouseButton button);
    void released(Qt::MouseButton button);
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QString m_caption;
    Bevel m_outer = bvRaised;
    Bevel m_inner = bvNone;
    CaptionPainter m_captionPainter;
};
