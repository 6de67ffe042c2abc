// Arbitrary bytes from the line, cut into arbitrary deliveries, through everything that
// turns them into what the window shows: frame assembly, the reading decoder, the secondary
// frame's bar and the LCD picture. Besides crashes and sanitizer reports it checks what the
// rest of the program relies on; a broken promise aborts.
#include "bargraphdecoder.h"
#include "decodedframe.h"
#include "frameassembler.h"
#include "lcdpicture.h"
#include "readingdecoder.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void require(bool promise) {
    if (!promise)
        std::abort();
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

void route(const QString &hex, int relState) {
    require(hex.size() % 2 == 0 && hex.endsWith(QLatin1String("0A")));
    // The line feed ends a frame, so no earlier byte of it is one.
    for (qsizetype i = 0; i + 2 < hex.size(); i += 2)
        require(hex.mid(i, 2) != QLatin1String("0A"));
    switch (frameKindOf(hex)) {
    case FrameKind::Display:
        checkDecoded(ReadingDecoder::decode(hex, relState));
        break;
    case FrameKind::Secondary:
        checkBar(mltTextOf(hex));
        break;
    case FrameKind::Other:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const int relState = data[0] % 3;
    // Deliveries: a control byte gives the length of the chunk after it and whether the
    // chunk comes late enough for a carried fragment to go stale.
    FrameAssembler frames;
    auto now = FrameAssembler::Clock::time_point{};
    size_t at = 1;
    while (at < size) {
        const uint8_t control = data[at++];
        const size_t length = std::min<size_t>(control % 48, size - at);
        now += (control & 0x80) ? std::chrono::milliseconds(250) : std::chrono::milliseconds(10);
        frames.feed(reinterpret_cast<const char *>(data + at), static_cast<int>(length), now,
                    [&](const QString &hex) { route(hex, relState); });
        require(frames.pendingHex().size() <= 2 * FrameAssembler::kMaxCarryBytes);
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
