#include "decodesession.h"

#include "bargraphdecoder.h"
#include "lcdpicture.h"
#include "readingdecoder.h"

#include <QStringList>

#include <algorithm>

#include <charconv>
#include <cmath>
#include <string>

namespace {

/// One JSON line under construction. The tool prints a line per frame, and at a million
/// frames a QString append per piece (or the temporaries of chained concatenations) costs
/// more than the decoding, so the pieces go into one growing buffer of UTF-16 units and
/// become a QString once.
class JsonLine {
public:
    JsonLine() { m_text.reserve(512); }

    /// An ASCII literal, as it is.
    JsonLine &raw(const char *ascii) {
        while (*ascii)
            m_text.push_back(char16_t(*ascii++));
        return *this;
    }
    JsonLine &boolean(bool b) { return raw(b ? "true" : "false"); }
    JsonLine &integer(qint64 n) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
        for (const char *d = digits; d != end; ++d)
            m_text.push_back(char16_t(*d));
        return *this;
    }
    JsonLine &number(double value) {
        // Readings are whole numbers: their integer form is the text that 12 significant
        // digits give (minus zero keeps its sign there).
        if (value == std::trunc(value) && std::fabs(value) < 1e12 &&
            !(value == 0 && std::signbit(value)))
            return integer(static_cast<qint64>(value));
        return text(QString::number(value, 'g', 12));
    }
    /// A JSON string literal.
    JsonLine &string(QStringView s) {
        m_text.push_back(u'"');
        // Runs of plain characters go in whole, the characters to escape one by one.
        const char16_t *run = s.utf16();
        const char16_t *const end = run + s.size();
        for (const char16_t *p = run; p != end; ++p) {
            const char16_t c = *p;
            if (c >= 0x20 && c != u'"' && c != u'\\')
                continue;
            m_text.append(run, p);
            run = p + 1;
            if (const char *escape = escapeOf(c)) {
                raw(escape);
            } else {
                static constexpr char kHex[] = "0123456789abcdef";
                const char code[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF], 0};
                raw(code);
            }
        }
        m_text.append(run, end);
        m_text.push_back(u'"');
        return *this;
    }
    template <typename Strings> JsonLine &array(const Strings &items) {
        m_text.push_back(u'[');
        bool first = true;
        for (const QString &s : items) {
            if (!first)
                m_text.push_back(u',');
            first = false;
            string(s);
        }
        m_text.push_back(u']');
        return *this;
    }
    QString toString() const { return QString::fromUtf16(m_text.data(), qsizetype(m_text.size())); }

private:
    JsonLine &text(const QString &s) {
        m_text.append(s.utf16(), s.utf16() + s.size());
        return *this;
    }

    /// The escape of a character that a JSON string cannot hold as it is; null for the
    /// other control characters, which take the \u form.
    static const char *escapeOf(char16_t c) {
        switch (c) {
        case u'"':
            return "\\\"";
        case u'\\':
            return "\\\\";
        case u'\b':
            return "\\b";
        case u'\f':
            return "\\f";
        case u'\n':
            return "\\n";
        case u'\r':
            return "\\r";
        case u'\t':
            return "\\t";
        default:
            return nullptr;
        }
    }

    std::u16string m_text;
};

} // namespace

QString DecodeSession::jsonString(const QString &text) {
    return JsonLine().string(text).toString();
}

void DecodeSession::feedLine(const QByteArray &bytes, const LineHandler &onLine) {
    // The decoders read no further than a display frame's length, so a long piece costs
    // no more than that, however long it is.
    constexpr qsizetype kRead = FrameAssembler::kDisplayFrameBytes;
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype lineFeed = bytes.indexOf('\n', at);
        const qsizetype end = lineFeed < 0 ? bytes.size() : lineFeed + 1;
        const qsizetype size = end - at;
        onLine(decode(hexOf(bytes.constData() + at, std::min(size, kRead)), size));
        at = end;
    }
}

void DecodeSession::feedBytes(const char *data, int size, const LineHandler &onLine) {
    m_frames.feed(data, size, FrameAssembler::Clock::time_point{},
                  [&](const QString &hex, FrameKind) { onLine(decodeFrame(hex)); });
}

QString DecodeSession::decodeFrame(const QString &hex) {
    return decode(hex, (hex.size() + 1) / 2);
}

QString DecodeSession::decode(const QString &hex, qsizetype bytes) {
    // Damage, as the window sees it, is marked with its length.
    const auto lengthOf = [bytes](JsonLine &line, qsizetype whole) -> JsonLine & {
        return bytes == whole ? line : line.raw(",\"length\":").integer(bytes);
    };
    switch (frameKindOf(hex)) {
    case FrameKind::Display: {
        const DecodedFrame f = ReadingDecoder::decode(hex, m_relState);
        m_hundredMode = f.hundredMode;
        m_span = f.span;
        m_offset = f.offset;
        const LcdPicture picture = LcdPicture::of(f);
        JsonLine line;
        lengthOf(line.raw("{\"kind\":\"display\""), FrameAssembler::kDisplayFrameBytes);
        line.raw(",\"value\":").string(f.valueText);
        line.raw(",\"nval\":").number(f.readingNval);
        line.raw(",\"acdc\":").string(f.acDcText);
        line.raw(",\"unit\":").string(f.unitText);
        line.raw(",\"auto\":").string(f.autoText);
        line.raw(",\"range\":").integer(f.rangeCode);
        line.raw(",\"span\":").integer(m_span);
        line.raw(",\"offset\":").integer(m_offset);
        line.raw(",\"hundred\":").boolean(m_hundredMode);
        line.raw(",\"needle\":").integer(f.needlePosition);
        line.raw(",\"digits\":").array(f.digits);
        line.raw(",\"shown\":").array(picture.shownNames()).raw("}");
        return line.toString();
    }
    case FrameKind::Secondary: {
        const QString mlt = mltTextOf(hex);
        const BarGraphDecoder::Bar bar = BarGraphDecoder::decode(mlt);
        JsonLine line;
        lengthOf(line.raw("{\"kind\":\"secondary\""), FrameAssembler::kSecondaryFrameBytes);
        line.raw(",\"mlt\":").string(mlt);
        line.raw(",\"sign\":").string(bar.sign);
        line.raw(",\"bar\":").integer(bar.position).raw("}");
        return line.toString();
    }
    case FrameKind::Other:
    case FrameKind::Noise:
        break;
    }
    return QStringLiteral("{\"kind\":\"other\"}");
}
