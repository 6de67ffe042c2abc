#pragma once

#include <QFlags>
#include <QString>

#include <optional>
#include <vector>

#include "comporttypes.h"

/// The hidden model flags the window is built with. Only QM30, QM40 and QM45 select a
/// profile; QM20 and QM10 exist but select nothing.
enum class ModelFlag { QM30 = 0x01, QM40 = 0x02, QM45 = 0x04, QM20 = 0x08, QM10 = 0x10 };
Q_DECLARE_FLAGS(ModelFlags, ModelFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(ModelFlags)

/// One row of the model profile table: what start-up writes when the row's flag is set.
/// An empty optional leaves the designed value as it is.
struct ModelProfileRow {
    ModelFlag flag;
    QString title;
    TComPortBaudRate speed;
    TComPortDataBits dataBits;
    QString lcdAcCaption;
    std::optional<QString> lcdD0Caption;
    std::optional<QString> lcdDaCaption;
    QString setmaxText;
    QString setminText;
};

/// The consulted rows, in the order start-up applies them.
const std::vector<ModelProfileRow> &modelProfileRows();

/// The rows that apply to `flags`, in order; later rows win where they write.
std::vector<ModelProfileRow> profileRowsFor(ModelFlags flags);

/// The line settings of the rows that apply to `flags` (the last row's); none when no row
/// applies, and the port keeps its own.
std::optional<LineSettings> lineSettingsFor(ModelFlags flags);

/// Parses "QM30", "QM30;QM40", "QM30,QM45"... Unknown names are ignored.
ModelFlags parseModelFlags(const QString &text);

/// The flags of this build (the QM_MODEL_FLAGS build setting).
ModelFlags builtModelFlags();
