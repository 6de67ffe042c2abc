#pragma once

#include <QFrame>
#include <QHash>
#include <QString>

class LcdPicture;
class QLabel;

/// The imitation LCD: a black panel (objectName "Panel1", 298 x 136) holding one label per
/// digit and annunciator and four small white blocks for the decimal points, each at its
/// design place with its design caption and start visibility.
///
/// The panel has no logic of its own: apply() takes what a display frame made of every
/// element. The bar graph beneath the panel belongs to the window.
class LcdPanel : public QFrame {
    Q_OBJECT

public:
    static constexpr int kWidth = 298;
    static constexpr int kHeight = 136;

    explicit LcdPanel(QWidget *parent = nullptr);

    /// Sets the captions and shows or hides every element the picture lists; elements that
    /// are not on the panel (the bar graph) are left to the caller.
    void apply(const LcdPicture &picture);

    /// The element called `name` (a label or a decimal point block), or nullptr.
    QWidget *element(const QString &name) const { return m_elements.value(name); }
    QLabel *label(const QString &name) const;

private:
    QHash<QString, QWidget *> m_elements;
};
