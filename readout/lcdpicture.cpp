#include "lcdpicture.h"

#include <algorithm>

LcdPicture LcdPicture::of(const DecodedFrame &f) {
    using D = DecodedFrame;
    const auto &fl = f.flags;
    LcdPicture pic;
    auto add = [&pic](const char *name, bool shown, std::optional<QString> caption = {}) {
        pic.m_elements.push_back({QString::fromLatin1(name), shown, std::move(caption)});
    };

    add("LCDD0", f.d0Shown, f.digits[D::D0]);
    add("LcdDa", true, f.digits[D::Da]);
    add("LcdDb", true, f.digits[D::Db]);
    add("LcdDc", true, f.digits[D::Dc]);
    add("LcdDd", true, f.digits[D::Dd]);
    add("LcdP0", f.points[D::P0]);
    add("LcdP1", f.points[D::P1]);
    add("LcdP2", f.points[D::P2]);
    add("LcdP3", f.points[D::P3]);
    add("LcdFH", !f.sign.isEmpty());
    add("LcdAC", fl.ac);
    add("LcdDc1", fl.dc);
    add("LcdAuto", fl.autoShown);
    add("LCDRel", fl.rel);
    add("LCDHold", fl.hold);
    add("LCDBATT", fl.battery);
    add("LcdMax", fl.max);
    add("LcdMin", fl.min);
    add("LcdAvg", fl.avg);
    add("LcdREC", fl.rec);
    add("Lcd100ms", fl.interval100ms);
    add("Lcd1ms", fl.interval1ms);
    add("LCD1S", fl.interval1s);
    add("LCDFm", fl.continuity);
    add("LCDk", fl.kilo);
    add("LCDM1", fl.mega);
    add("Lcdm", fl.milli);
    add("LCDu", fl.micro);
    add("LCDn", fl.nano);
    add("LCDA", fl.ampere);
    add("LcdV", fl.volt);
    add("LCDohm", fl.ohm);
    add("LCDHz", f.frequency);
    add("LCDF", fl.farad);
    add("LCDH", false);
    add("LCDBF", fl.percent);
    add("LcdS", fl.conductance);
    add("LCDDI", fl.diode);
    add(kBarGraphName, !fl.barHidden);
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
    QStringList names;
    for (const Element &e : m_elements)
        if (e.shown)
            names << e.name;
    std::sort(names.begin(), names.end()); // QString's operator< compares UTF-16 code units
    return names;
}
