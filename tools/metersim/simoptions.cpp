#include "simoptions.h"

#include <stdexcept>
#include <string_view>

namespace {

long long number(std::string_view option, const std::string &text, long long low, long long high) {
    size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used);
    } catch (const std::exception &) {
        used = 0;
    }
    if (used == 0 || used != text.size() || value < low || value > high)
        throw std::invalid_argument(std::string(option) + " needs a number from " +
                                    std::to_string(low) + " to " + std::to_string(high) +
                                    ", got '" + text + "'");
    return value;
}

double share(std::string_view option, const std::string &text) {
    size_t used = 0;
    double value = -1;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception &) {
        used = 0;
    }
    if (used == 0 || used != text.size() || !(value >= 0.0 && value <= 1.0))
        throw std::invalid_argument(std::string(option) + " needs a share from 0 to 1, got '" +
                                    text + "'");
    return value;
}

} // namespace

SimOptions SimOptions::parse(int argc, const char *const *argv) {
    SimOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string inlineValue;
        bool hasInlineValue = false;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            inlineValue = std::string(arg.substr(eq + 1));
            hasInlineValue = true;
            arg = arg.substr(0, eq);
        }
        auto value = [&]() -> std::string {
            if (hasInlineValue)
                return inlineValue;
            if (i + 1 >= argc)
                throw std::invalid_argument(std::string(arg) + " needs a value");
            return argv[++i];
        };
        auto noValue = [&]() {
            if (hasInlineValue)
                throw std::invalid_argument(std::string(arg) + " takes no value");
        };

        if (arg == "--help" || arg == "-h") {
            noValue();
            options.help = true;
        } else if (arg == "--link") {
            options.linkPath = value();
        } else if (arg == "--script") {
            options.scriptPath = value();
        } else if (arg == "--log") {
            options.logPath = value();
        } else if (arg == "--step") {
            options.stepMs = number(arg, value(), 1, 3600000);
        } else if (arg == "--fixed") {
            noValue();
            options.fixed = true;
        } else if (arg == "--split") {
            noValue();
            options.split = true;
        } else if (arg == "--split-ms") {
            options.splitMs = static_cast<int>(number(arg, value(), 0, 10000));
        } else if (arg == "--truncate") {
            options.truncate = share(arg, value());
        } else if (arg == "--noise") {
            noValue();
            options.noise = true;
        } else if (arg == "--flood") {
            noValue();
            options.flood = true;
        } else if (arg == "--seed") {
            options.seed = static_cast<uint32_t>(number(arg, value(), 0, 4294967295LL));
        } else {
            throw std::invalid_argument("unknown option '" + std::string(argv[i]) + "'");
        }
    }
    return options;
}

const char *SimOptions::helpText() {
    return R"(Usage: qm-meter-sim [options]

Emulates the handheld meter on a pseudo-terminal. The first line on standard output is
the device path of the port to open (e.g. /dev/pts/7).

The meter answers 0x89 with an 11-byte display frame, 0x8A with a 7-byte secondary frame
(bar graph), and acts on the key codes 0xA0..0xAD (even: long press, odd: short press):
  RANGE A0/A1       short: manual ranging, next range; long: back to AUTO
  Hz-% A2/A3        function -> frequency -> duty cycle -> function
  Hold A4/A5        HOLD on/off, freezes the reading
  REL A6/A7         relative reading on/off (value minus the value at the press)
  MAX-MIN A8/A9     short: REC MAX -> MIN -> AVG -> MAX; long: REC off
  Peak-Buzzer AA/AB continuity on/off (ohms only)
  AC-DC-Cap AC/AD   DC volts -> AC volts -> ohms -> capacitance -> DC volts
Other bytes are logged and ignored.

Options:
  --link PATH      also make the symbolic link PATH to the device (removed at exit;
                   an existing symbolic link is replaced, any other file is not)
  --script FILE    play the state lines of FILE, one per step, looping
  --step MS        script step, default 1000 ms
  --fixed          show one state: the first script line, or DC volts 1.234 V;
                   without --script and --fixed a 20 s sine wave runs on DC volts
  --split          send every frame in two writes, cut at a random place
  --split-ms N     pause between the two writes, default 30 ms
  --truncate P     cut a share P (0 to 1) of the answers short at a random byte; the
                   rest of such an answer, its line feed included, is never sent
  --noise          now and then put junk between frames: short runs of any bytes
                   (0x89, 0x8A and 0x0A too), often ending in 0x0A, and runs of more
                   than 64 bytes without 0x0A
  --flood          send display and secondary frames back to back, as fast as the
                   port takes them, without waiting for requests (requests are
                   still answered); with --noise, junk runs go between them
  --seed N         seed for the cuts, the truncation and the noise (default: random)
  --log FILE       append "<ms since start> <byte in hex>" for every byte received,
                   and "<ms> shows <frame in hex>" for every display frame answered,
                   with " cut <bytes sent>" when it was cut short
  -h, --help       this text

Commands on standard input, one per line (end of input does not stop the emulator):
  silent           stop answering requests (bytes are still logged, keys still act)
  answer           answer again
  state LINE       show the state LINE from now on (stops the sine wave or script,
                   releases HOLD, REL and MAX-MIN)
  burst N HEX      send the bytes HEX, N times over, at once, as fast as the port
                   takes them, whatever was asked (at most 1 MiB in all)
  deaf             stop reading the port and keep the line from the program full, as
                   a device that stopped taking bytes
  hear             read again; what piled up meanwhile is thrown away
  hangup MS        the device goes away (the pseudo-terminal closed, the link removed)
                   and comes back after MS ms as a new one behind the same link; its
                   path is printed on standard output as at the start
  quit             exit
SIGTERM and SIGINT exit cleanly too.

State lines: blank-separated words, '#' starts a comment.
  func=NAME    vdc (default), vac, mvdc, mvac, ohm, cap, ns, diode, adc, aac, madc,
               maac; also hz and duty (AC volts in the frequency or duty mode)
  mode=M       normal (default), hz or duty (kept function, Hz-% mode)
  range=N      range code; default the function's first:
                 vdc 0..3 (x.xxx V .. xxxx V)   vac 0..4 (xxx.x mV, x.xxx V .. xxxx V)
                 mvdc/mvac 0..1   adc/aac 0..1   madc/maac 0..1   diode 0   ns 6
                 ohm 0..5 (xxx.x ohm .. xx.xx Mohm)   cap 0..5 (x.xxx nF .. xxx.x uF)
                 hz 1..5 (xxx.xx Hz .. x.xxxx MHz)    duty 0 (xx.xx %)
  value=[-]N   reading in display counts without the point: 1234 in vdc range 0 is
               1.234 V; beyond full scale (8000, or 80000 with five) it shows as
               an overload; value=-0 shows a minus sign with zero
  five         five-digit reading (frequency always is, duty never)
  manual       manual ranging (AUTO annunciator off)
  ol           overload (with a negative value: negative overload)
  hold         HOLD annunciator
  rec=S        REC annunciator: on, max, min or avg
  lowbat       battery annunciator
  cont         continuity (func=ohm only)
  hex=HEX      literal reply to 0x89, sent byte for byte as written (e.g.
               hex=89700000000F010203040A); no 0x0A is added or checked
  mlt=HEX      literal reply to 0x8A, likewise
Examples:
  func=vdc range=0 value=1234          # 1.234 V DC, AUTO
  func=ohm range=1 value=4700 manual   # 4.700 kohm, MANU
  func=hz range=2 value=50000          # 5.0000 kHz
  func=vdc value=-1 ol                 # negative overload
)";
}
