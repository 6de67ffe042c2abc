#include "logoptions.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <stdexcept>

#include "datafilenames.h"
#include "recordingrules.h"
#include "remotekeys.h"

namespace {

[[noreturn]] void usage(const QString &text) {
    throw std::invalid_argument(text.toStdString());
}

qint32 positiveCount(const QString &text) {
    bool ok = false;
    const qint32 n = text.toInt(&ok, 10);
    if (!ok || n <= 0 || text.trimmed() != text)
        usage(QStringLiteral("--count takes a whole number of 1 or more, not '%1'").arg(text));
    return n;
}

double positiveSeconds(const QString &text) {
    bool ok = false;
    const double s = text.toDouble(&ok);
    if (!ok || !std::isfinite(s) || s <= 0 || s > 1e9)
        usage(QStringLiteral("--duration takes a number of seconds above 0, not '%1'").arg(text));
    return s;
}

qint32 intervalSeconds(const QString &text) {
    if (text.isEmpty())
        usage(QStringLiteral("--every takes a whole number of seconds"));
    try {
        return RecordingRules::intervalFromText(text);
    } catch (const std::runtime_error &error) {
        usage(QStringLiteral("--every: %1").arg(QString::fromStdString(error.what())));
    }
}

LogOptions::KeyPress keyPress(const QString &text) {
    QString name = text;
    bool longPress = false;
    if (const qsizetype colon = text.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        const QString length = text.mid(colon + 1);
        if (length == QLatin1String("long"))
            longPress = true;
        else if (length != QLatin1String("short"))
            usage(QStringLiteral("--key takes NAME, NAME:long or NAME:short, not '%1'").arg(text));
        name = text.left(colon);
    }
    const QByteArray latin = name.toLatin1();
    const auto key = RemoteKeys::findByCaption(std::string_view(latin.constData(), latin.size()));
    if (!key) {
        QStringList captions;
        for (const RemoteKeys::Key &k : RemoteKeys::kKeys)
            if (k.visible)
                captions << QString::fromLatin1(k.caption.data(), k.caption.size());
        usage(QStringLiteral("--key: no key '%1'; the keys are %2")
                  .arg(name, captions.join(QStringLiteral(", "))));
    }
    return {QString::fromLatin1(key->caption.data(), key->caption.size()), key->longCode,
            longPress};
}

void choosePort(LogOptions &o, const QString &text) {
    if (text.isEmpty())
        usage(QStringLiteral("--port takes COM1 to COM4 or a device path"));
    o.port = text;
    o.portPath.clear();
    for (int n = 0; n < 4; ++n) {
        if (text.compare(QStringLiteral("COM%1").arg(n + 1), Qt::CaseInsensitive) == 0) {
            o.portNumber = static_cast<TComPortNumber>(n);
            return;
        }
    }
    o.portNumber = pnCOM1;
    o.portPath = text;
}

} // namespace

LogOptions LogOptions::parse(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("PORT"));
    const QCommandLineOption out(QStringLiteral("out"), {}, QStringLiteral("FILE"));
    const QCommandLineOption every(QStringLiteral("every"), {}, QStringLiteral("SECONDS"));
    const QCommandLineOption changes(QStringLiteral("changes-only"), {});
    const QCommandLineOption count(QStringLiteral("count"), {}, QStringLiteral("N"));
    const QCommandLineOption duration(QStringLiteral("duration"), {}, QStringLiteral("SECONDS"));
    const QCommandLineOption key(QStringLiteral("key"), {}, QStringLiteral("NAME"));
    const QCommandLineOption noReconnect(QStringLiteral("no-reconnect"), {});
    parser.addOptions({help, port, out, every, changes, count, duration, key, noReconnect});
    if (!parser.parse(QStringList{QStringLiteral("qm-log")} + arguments))
        usage(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        usage(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    for (const QCommandLineOption *o : {&port, &out, &every, &count, &duration, &key})
        if (parser.values(*o).size() > 1)
            usage(QStringLiteral("--%1 given more than once").arg(o->names().first()));

    LogOptions o;
    o.help = parser.isSet(help);
    if (parser.isSet(port))
        choosePort(o, parser.value(port));
    if (parser.isSet(out)) {
        const QString path = parser.value(out);
        if (path.isEmpty())
            usage(QStringLiteral("--out takes a file name, or - for standard output"));
        if (path != QLatin1String("-")) {
            o.outPath = path;
            o.output = outputFor(path);
        }
    }
    if (parser.isSet(every))
        o.everySeconds = intervalSeconds(parser.value(every));
    o.changesOnly = parser.isSet(changes);
    if (parser.isSet(count))
        o.count = positiveCount(parser.value(count));
    if (parser.isSet(duration))
        o.durationSeconds = positiveSeconds(parser.value(duration));
    if (parser.isSet(key))
        o.key = keyPress(parser.value(key));
    o.reconnect = !parser.isSet(noReconnect);
    return o;
}

LogOptions::Output LogOptions::outputFor(const QString &path) {
    if (DataFileNames::isTableCopy(path))
        return Output::Table;
    if (DataFileNames::extensionOf(path).compare(QLatin1String(".csv"), Qt::CaseInsensitive) == 0)
        return Output::Csv;
    return Output::Tabs;
}

void LogOptions::checkExistingOutput() const {
    if (outPath.isEmpty())
        return;
    QFile file(outPath);
    // A file that is not there, is empty or cannot be read is left to the output to make
    // or to report.
    if (!QFileInfo(file).isFile() || file.size() == 0 || !file.open(QIODevice::ReadOnly))
        return;
    static const QByteArray kTableHeader("SQLite format 3\0", 16);
    const bool isTable = file.read(kTableHeader.size()) == kTableHeader;
    if (output == Output::Table && !isTable)
        usage(QStringLiteral("--out %1: the file is there and is no record table; a .db name "
                             "records into a table (give another name)")
                  .arg(outPath));
    if (output != Output::Table && isTable)
        usage(QStringLiteral("--out %1: the file is there and is a record table; text is "
                             "written only to a text file (a table needs a .db name)")
                  .arg(outPath));
}

// What stops a run, as the help says it (no preprocessor lines may go inside the text's
// macro).
#ifdef Q_OS_WIN
#define QM_LOG_STOP_TEXT                                                                           \
    "Ctrl+C,\n"                                                                                    \
    "Ctrl+Break or closing the console window commits, prints a summary on standard\n"
#else
#define QM_LOG_STOP_TEXT                                                                           \
    "Ctrl+C, SIGTERM\n"                                                                            \
    "or SIGHUP (unless ignored, as under nohup) commits, prints a summary on standard\n"
#endif

QString LogOptions::helpText() {
    return QStringLiteral(
        "Usage: qm-log [options]\n"
        "Logs the readings of a QM meter on a serial port, without a window.\n"
        "\n"
        "  --port COM1|PATH     the port: COM1 to COM4 (QM_COMn points one anywhere else)\n"
        "                       or a device path; default COM1\n"
        "  --out FILE           FILE.db: a record table that the window opens with\n"
        "                       \"Open old data files\"; FILE.csv: comma-separated text;\n"
        "                       any other name (.xls, .txt, .tsv): tab-separated text;\n"
        "                       text files get a heading and CR LF line ends. - or none:\n"
        "                       tab-separated lines on standard output. An existing file\n"
        "                       is added to; one of the other kind is refused.\n"
        "  --every SECONDS      sampling interval: a reading is recorded only when\n"
        "                       SECONDS seconds or more have passed since the last\n"
        "                       recorded one\n"
        "  --changes-only       skip a reading equal to the last recorded one\n"
        "  --count N            stop after N recorded readings\n"
        "  --duration SECONDS   stop after SECONDS seconds\n"
        "  --key NAME[:long]    press a front-panel key once the meter answers, by its\n"
        "                       caption: RANGE, Hz-%, Hold, REL, MAX-MIN, Peak-Buzzer,\n"
        "                       AC-DC-Cap; :long for a long press\n"
        "  --no-reconnect       end (exit code 1) when the port cannot be opened or is lost,\n"
        "                       instead of trying again every 2 seconds\n"
        "  -h, --help           this text\n"
        "\n"
        "Text outputs give each reading as: No, Time (local date and time with\n"
        "milliseconds), Value (as the meter shows it), Number, Unit, AC/DC, AUTO, Overload.\n"
        "Records are committed (to the disk, for files) every half second. " QM_LOG_STOP_TEXT
        "error and ends. A lost port is reopened every 2 seconds; a meter silent for 5\n"
        "seconds is reported once, and so is its first answer after that.\n"
        "\n"
        "Exit codes:\n"
        "  0  done: count, duration or signal, with readings recorded\n"
        "  1  failure: the output failed (a .db file removed or replaced under the run\n"
        "     too), or with --no-reconnect the port did not open or was lost\n"
        "  2  bad options, or --out names an existing file of the other kind\n"
        "  3  nothing recorded: the port never opened or the meter never answered\n");
}
