#include "logrecord.h"

#include <QLocale>

const QStringList &LogRecord::fieldNames() {
    static const QStringList kNames{QStringLiteral("No"),    QStringLiteral("Time"),
                                    QStringLiteral("Value"), QStringLiteral("Number"),
                                    QStringLiteral("Unit"),  QStringLiteral("AC/DC"),
                                    QStringLiteral("AUTO"),  QStringLiteral("Overload")};
    return kNames;
}

QStringList LogRecord::textFields() const {
    return {QString::number(values.no),
            at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")),
            values.value,
            overload ? QString() : numberText(values.value),
            unitName(values.unit),
            values.dcAc,
            values.autoText,
            overload ? QStringLiteral("yes") : QStringLiteral("no")};
}

QString LogRecord::numberText(const QString &valueText) {
    bool ok = false;
    const double value = QLocale::c().toDouble(valueText, &ok);
    if (!ok)
        return {};
    const qsizetype point = valueText.indexOf(QLatin1Char('.'));
    const int decimals = point < 0 ? 0 : static_cast<int>(valueText.size() - point - 1);
    QString text = QString::number(value, 'f', decimals);
    // "-00.000" reads -0.000 but the meter showed its minus sign; keep it.
    if (valueText.startsWith(QLatin1Char('-')) && !text.startsWith(QLatin1Char('-')))
        text.prepend(QLatin1Char('-'));
    return text;
}

QString LogRecord::unitName(const QString &unitText) {
    QString unit = unitText;
    unit.remove(QLatin1Char('&'));
    unit.remove(QLatin1Char(')'));
    unit.replace(QLatin1Char('*'), QLatin1String("ohm"));
    return unit.trimmed();
}

QString LogRecord::csvLine(const QStringList &fields) {
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString &field : fields) {
        if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
            field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r')) ||
            field.startsWith(QLatin1Char(' ')) || field.endsWith(QLatin1Char(' '))) {
            QString q = field;
            q.replace(QLatin1Char('"'), QLatin1String("\"\""));
            quoted << QLatin1Char('"') + q + QLatin1Char('"');
        } else {
            quoted << field;
        }
    }
    return quoted.join(QLatin1Char(','));
}
