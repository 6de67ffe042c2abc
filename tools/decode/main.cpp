// qm-decode: decodes the meter's frames as the window does and prints one JSON object
// per frame, for checking captured traffic and for tests.

#include "decodesession.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr int kChunkBytes = 4096;

/// Writes one JSON line; the lines of a chunk go out together when the chunk is done.
void printLine(const QString &json) {
    const QByteArray utf8 = json.toUtf8();
    std::fwrite(utf8.constData(), 1, static_cast<size_t>(utf8.size()), stdout);
    std::fputc('\n', stdout);
}

/// Reads whatever has arrived (up to `max` bytes); 0 at the end, -1 on an error.
qint64 readSome(QFile &in, char *buffer, qint64 max) {
#ifdef Q_OS_UNIX
    // Straight from the descriptor, so a pipe's bytes are handled as they come instead
    // of waiting for a full buffer.
    qint64 n;
    do {
        n = ::read(in.handle(), buffer, static_cast<size_t>(max));
    } while (n < 0 && errno == EINTR);
    return n;
#elif defined(Q_OS_WIN)
    // Standard input straight from its descriptor too (a file opened by name has none).
    if (in.fileName().isEmpty())
        return ::_read(in.handle(), buffer, static_cast<unsigned>(max));
    return in.read(buffer, max);
#else
    return in.read(buffer, max);
#endif
}

/// Hands every chunk read from `in` to `onChunk` until the end; 1 on a read error.
template <typename OnChunk> int forEachChunk(QFile &in, OnChunk onChunk) {
    char buffer[kChunkBytes];
    for (;;) {
        const qint64 n = readSome(in, buffer, sizeof buffer);
        if (n < 0) {
            std::fprintf(stderr, "qm-decode: read error\n");
            return 1;
        }
        if (n == 0)
            return 0;
        onChunk(buffer, static_cast<int>(n));
        // Whatever a chunk completed is seen at once by a reader of a pipe, without a
        // write per line.
        std::fflush(stdout);
    }
}

int runStream(QFile &in, DecodeSession &session) {
    return forEachChunk(
        in, [&session](const char *data, int size) { session.feedBytes(data, size, printLine); });
}

int runLines(QFile &in, DecodeSession &session) {
    QByteArray pending;
    auto handleLine = [&session](QByteArrayView raw) {
        const QString json = session.decodeHexLine(QString::fromLatin1(raw));
        if (!json.isEmpty())
            printLine(json);
    };
    const int rc = forEachChunk(in, [&](const char *data, int size) {
        pending.append(data, size);
        qsizetype start = 0, end;
        while ((end = pending.indexOf('\n', start)) >= 0) {
            handleLine(QByteArrayView(pending).sliced(start, end - start));
            start = end + 1;
        }
        pending.remove(0, start); // once a chunk, not once a line
    });
    if (rc != 0)
        return rc;
    handleLine(pending); // a last line without a line end
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qm-decode"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Decodes multimeter frames and prints one JSON object per frame.\n"
        "By default each input line is one frame in hex (spaces allowed, the final 0A\n"
        "included); blank lines are skipped. With --stream the input is the raw byte\n"
        "stream, cut into frames at each line feed."));
    parser.addHelpOption();
    const QCommandLineOption relOption(QStringLiteral("rel"),
                                       QStringLiteral("State of the remote REL key: 0, 1 or 2."),
                                       QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption streamOption(QStringLiteral("stream"),
                                          QStringLiteral("Read raw bytes instead of hex lines."));
    parser.addOption(relOption);
    parser.addOption(streamOption);
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("Input file; standard input when omitted."),
                                 QStringLiteral("[file]"));
    parser.process(app);

    bool relOk = false;
    const int rel = parser.value(relOption).toInt(&relOk);
    if (!relOk || rel < 0 || rel > 2) {
        std::fprintf(stderr, "qm-decode: --rel takes 0, 1 or 2\n");
        return 2;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        std::fprintf(stderr, "qm-decode: at most one input file\n");
        return 2;
    }

#ifdef Q_OS_WIN
    // Raw frames hold 0x1A and CR bytes, which text mode would take for the end or drop, and
    // the output is to be the same bytes as on Linux (LF line ends).
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif

    QFile in;
    bool opened = false;
    if (files.isEmpty()) {
        opened = in.open(stdin, QIODevice::ReadOnly | QIODevice::Unbuffered);
    } else {
        in.setFileName(files.first());
        opened = in.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    if (!opened) {
        std::fprintf(stderr, "qm-decode: cannot open %s: %s\n",
                     qUtf8Printable(files.value(0, QStringLiteral("standard input"))),
                     qUtf8Printable(in.errorString()));
        return 1;
    }

    DecodeSession session(rel);
    return parser.isSet(streamOption) ? runStream(in, session) : runLines(in, session);
}
