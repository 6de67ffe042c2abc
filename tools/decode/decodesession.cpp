#include "decodesession.h"

#include "bargraphdecoder.h"
#include "lcdpicture.h"
#include "readingdecoder.h"

#include <QStringList>

namespace {

QString jsonBool(bool b) {
    return b ? QStringLiteral("true") : QStringLiteral("false");
}

QString jsonArray(const QStringList &items) {
    QStringList quoted;
    for (const QString &s : items)
        quoted << DecodeSession::jsonString(s);
    return QLatin1Char('[') + quoted.join(QLatin1Char(',')) + QLatin1Char(']');
}

QString jsonNumber(double value) {
    return QString::number(value, 'g', 12);
}

} // namespace

QString DecodeSession::jsonString(const QString &text) {
    QString out = QStringLiteral("\"");
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'"':
            out += QStringLiteral("\\\"");
            break;
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u'\b':
            out += QStringLiteral("\\b");
            break;
        case u'\f':
            out += QStringLiteral("\\f");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(uint(c.unicode()), 4, 16, QLatin1Char(u'0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

QString DecodeSession::decodeHexLine(const QString &line) {
    QString hex;
    hex.reserve(line.size());
    for (QChar c : line)
        if (!c.isSpace())
            hex += c.toUpper();
    return hex.isEmpty() ? QString() : decodeFrame(hex);
}

void DecodeSession::feedBytes(const char *data, int size, const LineHandler &onLine) {
    m_frames.feed(data, size, FrameAssembler::Clock::time_point{},
                  [&](const QString &hex) { onLine(decodeFrame(hex)); });
}

QString DecodeSession::decodeFrame(const QString &hex) {
    switch (frameKindOf(hex)) {
    case FrameKind::Display: {
        const DecodedFrame f = ReadingDecoder::decode(hex, m_relState);
        m_hundredMode = f.hundredMode;
        m_span = f.span;
        m_offset = f.offset;
        const LcdPicture picture = LcdPicture::of(f);
        QStringList digits;
        for (const QString &d : f.digits)
            digits << d;
        return QStringLiteral("{\"kind\":\"display\"") + QStringLiteral(",\"value\":") +
               jsonString(f.valueText) + QStringLiteral(",\"nval\":") + jsonNumber(f.readingNval) +
               QStringLiteral(",\"acdc\":") + jsonString(f.acDcText) +
               QStringLiteral(",\"unit\":") + jsonString(f.unitText) +
               QStringLiteral(",\"auto\":") + jsonString(f.autoText) +
               QStringLiteral(",\"range\":") + QString::number(f.rangeCode) +
               QStringLiteral(",\"span\":") + QString::number(m_span) +
               QStringLiteral(",\"offset\":") + QString::number(m_offset) +
               QStringLiteral(",\"hundred\":") + jsonBool(m_hundredMode) +
               QStringLiteral(",\"needle\":") + QString::number(f.needlePosition) +
               QStringLiteral(",\"digits\":") + jsonArray(digits) + QStringLiteral(",\"shown\":") +
               jsonArray(picture.shownNames()) + QLatin1Char('}');
    }
    case FrameKind::Secondary: {
        const QString mlt = mltTextOf(hex);
        const BarGraphDecoder::Bar bar = BarGraphDecoder::decode(mlt);
        return QStringLiteral("{\"kind\":\"secondary\",\"mlt\":") + jsonString(mlt) +
               QStringLiteral(",\"sign\":") + jsonString(bar.sign) + QStringLiteral(",\"bar\":") +
               QString::number(bar.position) + QLatin1Char('}');
    }
    case FrameKind::Other:
        break;
    }
    return QStringLiteral("{\"kind\":\"other\"}");
}
