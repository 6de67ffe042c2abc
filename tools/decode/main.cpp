// qm-decode: decodes the meter's frames as the window does and prints one JSON object
// per frame, for checking captured traffic and for tests.

#include "decodesession.h"
#include "hexlinereader.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr int kChunkBytes = 4096;
/// Refused lines told one by one; past that only their count, so a raw capture read as
/// text does not flood the terminal.
constexpr qint64 kRefusalsTold = 20;

/// Standard output, remembering the first write that failed and why.
class Output {
public:
    void line(const QString &json) {
        if (failed())
            return;
        const QByteArray utf8 = json.toUtf8() + '\n';
        if (std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stdout) != size_t(utf8.size()))
            fail();
    }
    /// Whatever a chunk completed is seen at once by a reader of a pipe, without a write per
    /// line. False once a write has failed.
    bool flush() {
        if (!failed() && std::fflush(stdout) != 0)
            fail();
        return !failed();
    }
    bool failed() const { return !m_error.isEmpty(); }
    const QString &error() const { return m_error; }

private:
    void fail() {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        std::clearerr(stdout);
    }
    QString m_error;
};

/// Reads whatever has arrived (up to `max` bytes); 0 at the end, -1 on an error (errno).
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

/// Hands every chunk read from `in` to `onChunk` until the end; false on a read or write
/// error, which it reports.
template <typename OnChunk> bool forEachChunk(QFile &in, Output &out, OnChunk onChunk) {
    char buffer[kChunkBytes];
    for (;;) {
        const qint64 n = readSome(in, buffer, sizeof buffer);
        if (n < 0) {
            const QString reason = in.fileName().isEmpty() || in.error() == QFileDevice::NoError
                                       ? QString::fromLocal8Bit(std::strerror(errno))
                                       : in.errorString();
            std::fprintf(stderr, "qm-decode: read error: %s\n", qUtf8Printable(reason));
            return false;
        }
        if (n > 0)
            onChunk(buffer, static_cast<int>(n));
        if (!out.flush()) {
            std::fprintf(stderr, "qm-decode: write error: %s\n", qUtf8Printable(out.error()));
            return false;
        }
        if (n == 0)
            return true;
    }
}

int runStream(QFile &in, Output &out, DecodeSession &session) {
    const auto print = [&out](const QString &json) { out.line(json); };
    if (!forEachChunk(in, out,
                      [&](const char *data, int size) { session.feedBytes(data, size, print); }))
        return 1;
    if (const QByteArray &rest = session.unfinishedBytes(); !rest.isEmpty())
        std::fprintf(stderr, "qm-decode: the input ends inside a frame: %s (%lld bytes)\n",
                     rest.toHex(' ').toUpper().constData(), static_cast<long long>(rest.size()));
    return 0;
}

int runLines(QFile &in, Output &out, DecodeSession &session) {
    const auto print = [&out](const QString &json) { out.line(json); };
    qint64 told = 0;
    HexLineReader reader([&](const QByteArray &bytes) { session.feedLine(bytes, print); },
                         [&told](qint64 number, const QString &reason) {
                             if (++told <= kRefusalsTold)
                                 std::fprintf(stderr, "qm-decode: line %lld skipped: %s\n",
                                              static_cast<long long>(number),
                                              qUtf8Printable(reason));
                         });
    const bool read =
        forEachChunk(in, out, [&reader](const char *data, int size) { reader.feed(data, size); });
    if (!read)
        return 1;
    reader.finish();
    if (!out.flush()) {
        std::fprintf(stderr, "qm-decode: write error: %s\n", qUtf8Printable(out.error()));
        return 1;
    }
    if (reader.refusedLines() == 0)
        return 0;
    if (reader.refusedLines() > kRefusalsTold)
        std::fprintf(stderr, "qm-decode: %lld lines skipped in all\n",
                     static_cast<long long>(reader.refusedLines()));
    if (reader.sawRawBytes())
        std::fprintf(stderr, "qm-decode: the input holds raw bytes, not lines of hex; read a "
                             "raw capture with --stream\n");
    return 1;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qm-decode"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Decodes multimeter frames and prints one JSON object per frame.\n"
        "By default each input line is one frame in hex (blanks allowed, the final 0A\n"
        "included); lines end with LF, CR or CR LF, blank lines are skipped, and frames\n"
        "run together on one line are cut at each 0A. A line holding anything but hex\n"
        "digits and blanks, or an odd number of digits, is reported with its number and\n"
        "skipped, and the run ends with exit code 1. With --stream the input is the raw\n"
        "byte stream, cut into frames as the program cuts it. A frame of the wrong length\n"
        "is still decoded; its object gives its \"length\" in bytes. Exit code 1 also\n"
        "for a read or write error."));
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
    Output out;
    return parser.isSet(streamOption) ? runStream(in, out, session) : runLines(in, out, session);
}
