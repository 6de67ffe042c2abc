#pragma once

#include "decodedframe.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

/// What one display frame makes of every LCD element that a frame drives: its caption
/// (digit labels only) and whether it is shown. Every element is listed on every frame,
/// shown or hidden, so nothing a frame lit survives into the next one.
///
/// The panel applies it to its labels; the decode tool prints it. Elements are named by
/// their objectName; the bar graph `PBar2`, which lives beneath the panel, is included.
class LcdPicture {
public:
    struct Element {
        QString name;
        bool shown = false;
        std::optional<QString> caption;
    };

    static constexpr const char *kBarGraphName = "PBar2";
    /// How many elements every picture lists.
    static constexpr int kElementCount = 39;

    static LcdPicture of(const DecodedFrame &frame);

    const std::vector<Element> &elements() const { return m_elements; }
    /// The element called `name`, or nullptr when a frame does not drive it.
    const Element *element(const QString &name) const;
    bool isShown(const QString &name) const;
    /// Names of the shown elements in plain character-code order.
    QStringList shownNames() const;

private:
    std::vector<Element> m_elements;
};
