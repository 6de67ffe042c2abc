#include "lcdpicture.h"

#include <algorithm>

LcdPicture LcdPicture::of(const DecodedFrame &f) {
    using D = DecodedFrame;
    const auto &fl = f.flags;
    LcdPicture pic;
    pic.m_elements.reserve(kElementCount);
    // The names are literals: a frame makes its picture without allocating them.
    auto add = [&pic](QString name, bool shown, std::optional<QString> caption = {}) {
        pic.m_elements.push_back({std::move(name), shown, std::move(caption)});
    };

    add(QStringLiteral("LCDD0"), f.d0Shown, f.digits[D::D0]);
    add(QStringLiteral("LcdDa"), true, f.digits[D::Da]);
    add(QStringLiteral("LcdDb"), true, f.digits[D::Db]);
    add(QStringLiteral("LcdDc"), true, f.digits[D::Dc]);
    add(QStringLiteral("LcdDd"), true, f.digits[D::Dd]);
    add(QStringLiteral("LcdP0"), f.points[D::P0]);
    add(QStringLiteral("LcdP1"), f.points[D::P1]);
    add(QStringLiteral("LcdP2"), f.points[D::P2]);
    add(QStringLiteral("LcdP3"), f.points[D::P3]);
    add(QStringLiteral("LcdFH"), !f.sign.isEmpty());
    add(QStringLiteral("LcdAC"), fl.ac);
    add(QStringLiteral("LcdDc1"), fl.dc);
    add(QStringLiteral("LcdAuto"), fl.autoShown);
    add(QStringLiteral("LCDRel"), fl.rel);
    add(QStringLiteral("LCDHold"), fl.hold);
    add(QStringLiteral("LCDBATT"), fl.battery);
    add(QStringLiteral("LcdMax"), fl.max);
    add(QStringLiteral("LcdMin"), fl.min);
    add(QStringLiteral("LcdAvg"), fl.avg);
    add(QStringLiteral("LcdREC"), fl.rec);
    add(QStringLiteral("Lcd100ms"), fl.interval100ms);
    add(QStringLiteral("Lcd1ms"), fl.interval1ms);
    add(QStringLiteral("LCD1S"), fl.interval1s);
    add(QStringLiteral("LCDFm"), fl.continuity);
    add(QStringLiteral("LCDk"), fl.kilo);
    add(QStringLiteral("LCDM1"), fl.mega);
    add(QStringLiteral("Lcdm"), fl.milli);
    add(QStringLiteral("LCDu"), fl.micro);
    add(QStringLiteral("LCDn"), fl.nano);
    add(QStringLiteral("LCDA"), fl.ampere);
    add(QStringLiteral("LcdV"), fl.volt);
    add(QStringLiteral("LCDohm"), fl.ohm);
    add(QStringLiteral("LCDHz"), f.frequency);
    add(QStringLiteral("LCDF"), fl.farad);
    add(QStringLiteral("LCDH"), false);
    add(QStringLiteral("LCDBF"), fl.percent);
    add(QStringLiteral("LcdS"), fl.conductance);
    add(QStringLiteral("LCDDI"), fl.diode);
    add(QStringLiteral("PBar2"), !fl.barHidden);
    return pic;
}

const LcdPicture::Element *LcdPicture::element(const QString &name) const {
    const auto it = std::find_if(m_elements.begin(), m_elements.end(),
                                 [&name](const Element &e) { return e.name == name; });
    return it == m_elements.end() ? nullptr : &*it;
}

bool LcdPicture::isShown(const QString &name) const {
    const Element *e = element(name);
    return e && e->shown;
}

QStringList LcdPicture::shownNames() const {
    // Every picture lists the same elements in the same order, so their order by name is
    // found once, not sorted again for every frame.
    static const std::vector<int> byName = [] {
        const LcdPicture reference = of(DecodedFrame{});
        std::vector<int> order(reference.m_elements.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = int(i);
        // QString's operator< compares UTF-16 code units.
        std::sort(order.begin(), order.end(), [&reference](int a, int b) {
            return reference.m_elements[a].name < reference.m_elements[b].name;
        });
        return order;
    }();
    QStringList names;
    names.reserve(qsizetype(m_elements.size()));
    for (const int i : byName)
        if (i < int(m_elements.size()) && m_elements[i].shown)
            names << m_elements[i].name;
    return names;
}
