#include "recordingrules.h"

#include <stdexcept>

qint32 RecordingRules::numberFromEditText(const QString &text) {
    if (text.isEmpty() || text == u"+" || text == u"-")
        return 0;
    bool ok = false;
    const qint32 value = text.toInt(&ok, 10);
    // toInt() lets surrounding blanks pass; an edit's text is the number alone.
    if (!ok || text.trimmed() != text)
        throw std::runtime_error(
            QStringLiteral("'%1' is not a valid integer value").arg(text).toStdString());
    return value;
}

qint32 RecordingRules::intervalFromText(const QString &text) {
    const qint32 value = numberFromEditText(text);
    if (value < 0)
        throw std::runtime_error(
            QStringLiteral("'%1' is not a valid sampling interval: it must be 0 or more seconds")
                .arg(text)
                .toStdString());
    return value;
}

QString RecordingRules::recordKey(const QString &valueText, const QString &acDcText,
                                  const QString &unitText, const QString &autoText) {
    return valueText + acDcText + unitText + autoText;
}

bool RecordingRules::isIntervalKey(QChar typed) {
    return (typed >= u'0' && typed <= u'9') || typed == u'\b';
}

bool RecordingRules::isLimitKey(QChar typed) {
    return isIntervalKey(typed) || typed == u'+' || typed == u'-';
}

const std::array<RecordingRules::LimitItem, 6> &RecordingRules::limitItems() {
    static const std::array<LimitItem, 6> kItems{{
        {"N10001", "1000", 1000},
        {"N50001", "5000", 5000},
        {"N100001", "10000", 10000},
        {"N500001", "50000", 50000},
        {"N1000001", "100000", 100000},
        {"limitess", "limitess", 10000000},
    }};
    return kItems;
}
