// qm-meter-sim: the handheld meter on a pseudo-terminal, for trying out and testing the
// desktop program without the instrument.
//
// It prints the device path of the port (e.g. /dev/pts/7) as the first line on standard
// output, then behaves like the meter on its RS-232 link: every 0x89 is answered with an
// 11-byte display frame, every 0x8A with a 7-byte secondary frame (bar graph), and the key
// codes 0xA0..0xAD change the meter's state (even code: long press, odd: short press).
//
// Options (see --help): --link PATH, --script FILE, --step MS, --fixed, --split,
// --split-ms N, --truncate P, --noise, --flood, --seed N, --log FILE.
//
// Standard input takes one command per line: "silent", "answer", "quit",
// "state <state line>", "burst N HEX", "deaf", "hear" and "hangup MS". End of input does
// not stop the emulator.
//
// State lines (script files and the "state" command), blank-separated words, '#' starts a
// comment, blank lines are skipped:
//
//   func=NAME    vdc (default) vac mvdc mvac ohm cap ns diode adc aac madc maac,
//                or hz / duty for AC volts in the frequency or duty mode
//   mode=M       normal (default), hz, duty
//   range=N      range code of the function (default its first range)
//   value=[-]N   reading in display counts without the decimal point; beyond full scale
//                it shows as an overload; value=-0 keeps a minus sign on zero
//   five         five-digit reading
//   manual       manual ranging
//   ol           overload (negative with a negative value)
//   hold         HOLD annunciator
//   rec=S        REC annunciator with on, max, min or avg
//   lowbat       battery annunciator
//   cont         continuity (func=ohm only)
//   hex=HEX      literal reply to 0x89, e.g. hex=89700000000F010203040A, sent as written
//   mlt=HEX      literal reply to 0x8A, sent as written
//
// Example script:
//   # DC volts, auto range, 1.234 V then -1.234 V, then an overload
//   func=vdc range=0 value=1234
//   func=vdc range=0 value=-1234
//   func=vdc ol
//   func=ohm range=1 value=4700 cont    # 4.700 kohm with the continuity symbol

#include "bytelog.h"
#include "meter.h"
#include "meterstate.h"
#include "ptydevice.h"
#include "simoptions.h"
#include "simulatorloop.h"
#include "transmitter.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

std::vector<MeterState> loadScript(const std::string &path) {
    std::ifstream file(path);
    if (!file)
        throw std::invalid_argument("cannot read the script " + path);
    std::vector<MeterState> lines;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (MeterState::isBlank(line))
            continue;
        try {
            lines.push_back(MeterState::parse(line));
        } catch (const std::invalid_argument &error) {
            throw std::invalid_argument(path + ":" + std::to_string(number) + ": " + error.what());
        }
    }
    if (lines.empty())
        throw std::invalid_argument("the script " + path + " holds no state line");
    return lines;
}

} // namespace

int main(int argc, char **argv) {
    const auto start = std::chrono::steady_clock::now();

    SimOptions options;
    std::vector<MeterState> script;
    try {
        options = SimOptions::parse(argc, argv);
        if (options.help) {
            std::fputs(SimOptions::helpText(), stdout);
            return 0;
        }
        if (!options.scriptPath.empty())
            script = loadScript(options.scriptPath);
    } catch (const std::invalid_argument &error) {
        std::fprintf(stderr, "qm-meter-sim: %s\n(try --help)\n", error.what());
        return kExitUsage;
    }

    try {
        SimulatorLoop::installSignalHandlers();

        ByteLog log;
        if (!options.logPath.empty())
            log.open(options.logPath);

        PtyDevice pty;
        pty.open();
        if (!options.linkPath.empty())
            pty.createLink(options.linkPath);

        std::printf("%s\n", pty.slavePath().c_str());
        std::fflush(stdout);

        Transmitter::Settings sending;
        sending.split = options.split;
        sending.splitMs = options.splitMs;
        sending.noise = options.noise;
        sending.truncate = options.truncate;
        sending.seed = options.seed ? *options.seed : std::random_device{}();
        Transmitter transmitter(sending);

        Meter meter(std::move(script), options.fixed, options.stepMs);
        SimulatorLoop loop(pty, meter, transmitter, log, start, options.flood);
        return loop.run();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "qm-meter-sim: %s\n", error.what());
        return kExitFailure;
    }
}
