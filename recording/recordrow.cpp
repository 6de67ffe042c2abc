#include "recordrow.h"

#include "recordvalues.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

QString RecordRow::fieldName(int column) {
    return column >= 0 && column < ColumnCount ? RecordSchema::fieldName(column) : QString();
}

RecordRow RecordRow::fromFields(const std::array<QVariant, ColumnCount> &fields) {
    RecordRow row;
    row.texts[No] = numberText(fields[No]);
    row.texts[Time] = timeText(fields[Time]);
    for (int c = DcAc; c < ColumnCount; ++c)
        row.texts[c] = fields[c].toString();
    for (QString &text : row.texts)
        text = oneLine(capped(std::move(text)));
    return row;
}

RecordRow RecordRow::fromValues(const RecordValues &values) {
    RecordRow row;
    row.texts[No] = QString::number(values.no);
    row.texts[Time] = RecordValues::storedTime(values.time);
    row.texts[DcAc] = values.dcAc;
    row.texts[Value] = values.value;
    row.texts[Unit] = values.unit;
    row.texts[Auto] = values.autoText;
    for (QString &text : row.texts)
        text = oneLine(capped(std::move(text)));
    return row;
}

QString RecordRow::capped(QString text) {
    if (text.size() <= kMaxChars)
        return text;
    const bool splitsPair = text.at(kMaxChars - 1).isHighSurrogate();
    text.truncate(splitsPair ? kMaxChars - 1 : kMaxChars);
    // Gives back what a 100 MB text held beyond the cut.
    text.squeeze();
    return text;
}

QString RecordRow::oneLine(QString text) {
    auto breaks = [](QChar c) {
        switch (c.unicode()) {
        case u'\t':
        case u'\n':
        case u'\v':
        case u'\f':
        case u'\r':
        case 0x85:
        case 0x2028:
        case 0x2029:
            return true;
        default:
            return false;
        }
    };
    // Texts this program wrote have none: they are handed on without a copy.
    if (std::none_of(text.cbegin(), text.cend(), breaks))
        return text;
    std::replace_if(text.begin(), text.end(), breaks, u' ');
    return text;
}

QString RecordRow::numberText(const QVariant &value) {
    if (value.isNull())
        return QString();
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return QString::number(value.toLongLong());
    case QMetaType::Double: {
        const double d = value.toDouble();
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.0e15)
            return QString::number(static_cast<qint64>(d));
        return QString::number(d);
    }
    default:
        return value.toString();
    }
}

QString RecordRow::timeText(const QVariant &value) {
    if (value.isNull())
        return QString();
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::LongLong ||
        value.typeId() == QMetaType::Int) {
        // A fraction of a day, as some desktop engines keep a time of day.
        const double day = value.toDouble();
        if (day >= 0.0 && day < 1.0) {
            const int ms = static_cast<int>(std::llround(day * 86400000.0)) % 86400000;
            return QTime::fromMSecsSinceStartOfDay(ms).toString(QStringLiteral("hh:mm:ss"));
        }
        return value.toString();
    }
    const QString text = value.toString();
    // What this program writes: already in display form.
    if (text.size() == 8 && text.at(2) == u':' && text.at(5) == u':')
        return text;
    const QTime time = QTime::fromString(text, Qt::ISODateWithMs);
    if (time.isValid())
        return time.toString(QStringLiteral("hh:mm:ss"));
    QDateTime stamp = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!stamp.isValid())
        stamp = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    if (stamp.isValid())
        return stamp.time().toString(QStringLiteral("hh:mm:ss"));
    return text;
}
