#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include "comporttypes.h"

/// The command line of qm-log, checked as a whole before anything is opened. Every fault is
/// a usage error (std::invalid_argument with a one-line reason), which the tool answers
/// with exit code 2.
struct LogOptions {
    /// Lines: tab-separated on standard output. Csv and Tabs: text files with a heading and
    /// CR LF line ends. Table: a record table.
    enum class Output { Lines, Csv, Tabs, Table };

    /// A front-panel key to press once the meter answers.
    struct KeyPress {
        QString caption;
        std::uint8_t longCode = 0;
        bool longPress = false;
    };

    /// As given: "COM1".."COM4" or a device path.
    QString port = QStringLiteral("COM1");
    /// The port the driver opens; a path given is opened in its place (the driver's device
    /// path), and nothing is set in the environment.
    TComPortNumber portNumber = pnCOM1;
    /// Empty when `port` names COM1..COM4.
    QString portPath;
    /// Empty for standard output.
    QString outPath;
    Output output = Output::Lines;
    std::optional<qint32> everySeconds;
    bool changesOnly = false;
    std::optional<qint32> count;
    std::optional<double> durationSeconds;
    std::optional<KeyPress> key;
    bool reconnect = true;
    bool help = false;

    /// `arguments` without the program name.
    static LogOptions parse(const QStringList &arguments);
    static QString helpText();
    /// The output a file name gets: ".db" (as the window's "save as" has it) a record table,
    /// ".csv" comma-separated text, any other name tab-separated text.
    static Output outputFor(const QString &path);
    /// Refuses (std::invalid_argument) an existing output file of the other kind: a record
    /// table where text would be added, or text where a table would be opened, which would
    /// otherwise be spoilt or fail later.
    void checkExistingOutput() const;
};
