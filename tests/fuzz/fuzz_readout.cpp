// Arbitrary bytes from the line, cut into arbitrary deliveries, through everything that
// turns them into what the window shows: frame assembly, the reading decoder, the secondary
// frame's bar, the LCD picture, the order in which a display frame is handed on, its graph
// point and the analog scale for any panel size. Besides crashes and sanitizer reports it
// checks what the rest of the program relies on; a broken promise aborts.
#include "bargraphdecoder.h"
#include "decodedframe.h"
#include "frameassembler.h"
#include "graphpoint.h"
#include "lcdpicture.h"
#include "readingdecoder.h"
#include "readingdispatch.h"
#include "scalegeometry.h"

#include <QSize>
#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace {

void require(bool promise) {
    if (!promise)
        std::abort();
}

/// Widgets are never larger than this (Qt's QWIDGETSIZE_MAX).
constexpr int kLargestWidget = (1 << 24) - 1;

/// The panel the scale is drawn for and the positions tried, taken from the input's head.
struct ScaleProbe {
    QSize panel;
    int extraPosition = 0;
};

ScaleProbe scaleProbeOf(const uint8_t *data, size_t size) {
    auto byteAt = [&](size_t i) -> int { return i < size ? data[i] : 0; };
    ScaleProbe p;
    // Mostly ordinary panels, now and then any size a widget can have.
    const int w = (byteAt(1) << 8) | byteAt(2);
    const int h = (byteAt(3) << 8) | byteAt(4);
    if (byteAt(5) & 0x80)
        p.panel = QSize((w << 8) % (kLargestWidget + 1), (h << 8) % (kLargestWidget + 1));
    else
        p.panel = QSize(w % 2048, h % 1024);
    p.extraPosition = static_cast<int16_t>((byteAt(6) << 8) | byteAt(7));
    return p;
}

void checkDecoded(const DecodedFrame &f) {
    require(f.span == 80 || f.span == 100);
    require(f.offset == (f.span == 100 ? 100 : 0));
    require(f.needlePosition >= -100 && f.needlePosition <= 900);
    require(f.valueText.size() <= 12);
    require(f.readingNval >= -100001.0f && f.readingNval <= 100001.0f);
    require(f.acDcText.isEmpty() || f.acDcText == u"AC" || f.acDcText == u"DC");
    require(f.autoText == u"AUTO" || f.autoText == u"MANU");
    require(f.rangeCode >= 0 && f.rangeCode <= 7);
    // Every frame lists every element, so nothing a frame lit survives into the next.
    static const std::size_t elements = LcdPicture::of(DecodedFrame{}).elements().size();
    require(LcdPicture::of(f).elements().size() == elements);
}

void checkBar(const QString &mltText) {
    const BarGraphDecoder::Bar bar = BarGraphDecoder::decode(mltText);
    require(bar.sign == u"+" || bar.sign == u"-");
    require(bar.position >= 0 && bar.position <= 64);
}

/// The scale for a frame's mode, on the probe's panel: every point the view would draw and
/// the needle at the frame's position, at the ends of its range and at a wild one.
void checkScale(const ScaleProbe &probe, const DecodedFrame &f) {
    const ScaleGeometry g(probe.panel, f.hundredMode, f.span, f.offset);
    const float w = static_cast<float>(probe.panel.width() - 40);
    const float h = static_cast<float>(probe.panel.height() - 60);
    require(g.isSound() == (h > 0.0f && w > 2.0f * h));
    if (!g.isSound()) {
        require(!g.needle(f.needlePosition).shown);
        require(!g.label(0).has_value());
        return;
    }
    require(std::isfinite(g.radius()) && g.radius() > 0.0f);
    require(g.spanDegrees() > 0.0f && g.spanDegrees() <= 180.5f);
    for (int d = 0; d <= g.span(); ++d) {
        g.divisionDot(d);
        if (d % ScaleGeometry::kDivisionsPerLabel == 0)
            require(g.label(d).has_value());
        else
            require(!g.label(d).has_value());
    }
    for (int step : {0, ScaleGeometry::kBandCentreStep, ScaleGeometry::kBandSteps})
        g.bandPoint(step);
    for (int position : {f.needlePosition, -100, 900, probe.extraPosition})
        g.needle(position);
    // Position 400 is the middle of the arc in both modes, so the needle stands upright.
    const ScaleGeometry::Needle upright = g.needle(400);
    require(upright.shown);
    if (probe.panel.width() <= 4096)
        require(std::abs(upright.tip.x() - probe.panel.width() / 2) <= 1);
}

/// Notes the order of the steps and the values handed to them.
class StepLog : public ReadingDispatch::Steps {
public:
    explicit StepLog(bool recordFails) : m_recordFails(recordFails) {}

    std::vector<int> order;
    double minimum = 0, maximum = 0, point = 0;
    bool hundredMode = false;
    int span = 0, offset = 0, position = 0;

    void linkAlive() override { order.push_back(0); }
    void valueAxis(double lo, double hi) override {
        order.push_back(1);
        minimum = lo;
        maximum = hi;
    }
    void scaleMode(bool h, int s, int o) override {
        order.push_back(2);
        hundredMode = h;
        span = s;
        offset = o;
    }
    void scaleSetup() override { order.push_back(3); }
    void showOnLcd(const DecodedFrame &) override { order.push_back(4); }
    void takeReading(const DecodedFrame &) override { order.push_back(5); }
    void needle(int p) override {
        order.push_back(6);
        position = p;
    }
    void alarmCheck(const DecodedFrame &) override { order.push_back(7); }
    void extremesUpdate(const DecodedFrame &) override { order.push_back(8); }
    void record(const DecodedFrame &) override {
        order.push_back(9);
        if (m_recordFails)
            throw std::runtime_error("table closed");
    }
    void graphPoint(double value) override {
        order.push_back(10);
        point = value;
    }
    void lastPage() override { order.push_back(11); }
    void scaleFault(std::exception_ptr) override {}

private:
    bool m_recordFails;
};

void checkDispatch(const QString &hex, int relState, bool recordFails, const ScaleProbe &probe) {
    StepLog log(recordFails);
    DecodedFrame f;
    bool thrown = false;
    try {
        f = *ReadingDispatch().run(hex, relState, log);
    } catch (const std::runtime_error &) {
        thrown = true;
        f = ReadingDecoder::decode(hex, relState);
    }
    require(thrown == recordFails);
    // Every step once, in order, the graph's included when recording failed.
    require(log.order.size() == 12);
    for (std::size_t i = 0; i < log.order.size(); ++i)
        require(log.order[i] == static_cast<int>(i));
    checkDecoded(f);
    require(log.minimum == -log.maximum && log.maximum > 0);
    require(log.hundredMode == f.hundredMode && log.span == f.span && log.offset == f.offset);
    require(log.position == f.needlePosition);
    require(log.point == GraphPoint::valueOf(f));
    require(std::isfinite(log.point) && std::fabs(log.point) <= 100001.0);
    // An overload plots at the end of its value axis, with the display's sign.
    if (f.digits[DecodedFrame::Dc] == u"@" && !f.frequency && !f.duty)
        require(std::fabs(log.point) == log.maximum);
    checkScale(probe, f);
}

void route(const QString &hex, FrameKind kind, int relState, bool recordFails,
           const ScaleProbe &probe) {
    require(!hex.isEmpty() && hex.size() % 2 == 0);
    // A line feed ends a piece, so no earlier byte of it is one.
    for (qsizetype i = 0; i + 2 < hex.size(); i += 2)
        require(hex.mid(i, 2) != QLatin1String("0A"));
    const bool ended = hex.endsWith(QLatin1String("0A"));
    switch (kind) {
    case FrameKind::Display:
        require(hex.size() == 22 && frameKindOf(hex) == FrameKind::Display && ended);
        checkDispatch(hex, relState, recordFails, probe);
        break;
    case FrameKind::Secondary:
        require(hex.size() == 14 && frameKindOf(hex) == FrameKind::Secondary && ended);
        checkBar(mltTextOf(hex));
        break;
    case FrameKind::Other:
        require(frameKindOf(hex) == FrameKind::Other && ended);
        break;
    case FrameKind::Noise: {
        // Damage of another length than a display frame's runs no step of a reading.
        StepLog log(recordFails);
        if (hex.size() != 22)
            require(!ReadingDispatch().run(hex, relState, log) && log.order.empty());
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const int relState = data[0] % 3;
    const bool recordFails = (data[0] & 0x40) != 0;
    const ScaleProbe probe = scaleProbeOf(data, size);
    // Deliveries: a control byte gives the length of the chunk after it and whether the
    // chunk comes late enough for a carried fragment to go stale.
    FrameAssembler frames;
    auto now = FrameAssembler::Clock::time_point{};
    size_t at = 1;
    while (at < size) {
        const uint8_t control = data[at++];
        const size_t length = std::min<size_t>(control % 48, size - at);
        now += (control & 0x80) ? std::chrono::milliseconds(100) : std::chrono::milliseconds(10);
        frames.feed(reinterpret_cast<const char *>(data + at), static_cast<int>(length), now,
                    [&](const QString &hex, FrameKind kind) {
                        route(hex, kind, relState, recordFails, probe);
                    });
        require(frames.pending().size() <= FrameAssembler::kMaxCarryBytes);
        at += length;
    }

    // The decoders also take any text, not only well-formed hex.
    const QString text =
        QString::fromLatin1(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    checkDecoded(ReadingDecoder::decode(text, relState));
    checkDecoded(ReadingDecoder::decode(
        hexOf(reinterpret_cast<const char *>(data), static_cast<int>(size)), relState));
    checkBar(text.left(5));
    return 0;
}
