#include "modelprofile.h"

#include <QRegularExpression>
#include <QStringList>

#ifndef QM_MODEL_FLAGS_TEXT
#define QM_MODEL_FLAGS_TEXT "QM30"
#endif

const std::vector<ModelProfileRow> &modelProfileRows() {
    static const std::vector<ModelProfileRow> rows = {
        {ModelFlag::QM30, QStringLiteral("QM30 Interface Program _Ver: 1.00"), br9600, db8BITS,
         QStringLiteral("AC"), QString(), QStringLiteral("7"), QStringLiteral("8000"),
         QStringLiteral("-8000")},
        {ModelFlag::QM40, QStringLiteral("QM40 Interface Program _Ver: 1.00"), br9600, db8BITS,
         QStringLiteral("AC trms"), std::nullopt, std::nullopt, QStringLiteral("80000"),
         QStringLiteral("-80000")},
        {ModelFlag::QM45, QStringLiteral("QM45 Interface Program _Ver: 1.00"), br9600, db8BITS,
         QStringLiteral("AC"), QString(), QStringLiteral("7"), QStringLiteral("8000"),
         QStringLiteral("-8000")},
    };
    return rows;
}

std::vector<ModelProfileRow> profileRowsFor(ModelFlags flags) {
    std::vector<ModelProfileRow> out;
    for (const auto &row : modelProfileRows())
        if (flags.testFlag(row.flag))
            out.push_back(row);
    return out;
}

std::optional<LineSettings> lineSettingsFor(ModelFlags flags) {
    std::optional<LineSettings> line;
    for (const auto &row : profileRowsFor(flags))
        line = LineSettings{row.speed, row.dataBits};
    return line;
}

ModelFlags parseModelFlags(const QString &text) {
    ModelFlags flags;
    const QStringList names =
        text.split(QRegularExpression(QStringLiteral("[;,\\s]+")), Qt::SkipEmptyParts);
    for (const QString &name : names) {
        const QString n = name.trimmed().toUpper();
        if (n == QLatin1String("QM30"))
            flags |= ModelFlag::QM30;
        else if (n == QLatin1String("QM40"))
            flags |= ModelFlag::QM40;
        else if (n == QLatin1String("QM45"))
            flags |= ModelFlag::QM45;
        else if (n == QLatin1String("QM20"))
            flags |= ModelFlag::QM20;
        else if (n == QLatin1String("QM10"))
            flags |= ModelFlag::QM10;
    }
    return flags;
}

ModelFlags builtModelFlags() {
    return parseModelFlags(QStringLiteral(QM_MODEL_FLAGS_TEXT));
}
