#include "SimOptions.h"

#include <cstdlib>
#include <vector>

namespace coprocsim {

std::string SimUsage() {
    return R"(usage: coproc-sim mcu|mpeg [options]

Plays the MCU or the MPEG co-processor on a serial line for the loader: answers its
commands, keeps the firmware image it receives, sends its version report and, as the MPEG
module, alive messages. Without --device it creates a pseudo-terminal, prints the slave's
path as the first line of standard output and serves until SIGTERM or SIGINT. Every frame
received and sent is logged, readable for a person, to standard error (or --log FILE).

Line:
  --device PATH        serve on this serial device instead of a new pseudo-terminal
  --baud N             line rate: 38400 or 115200 (default 38400 for mcu, 115200 for mpeg)
  --pace               keep to the line rate, 10 bits per byte at --baud: frames sent
                       go out no faster, and a frame received counts as arrived only
                       when the line could have carried it

Behaviour:
  --image-out FILE     write the received image to FILE when the end frame arrives
  --result N           programming result byte to report (default: 0 when the image's
                       checksum matches the end frame, 1 when it does not)
  --version TEXT       version text of the version report (default MCU-SIM-1.0 / MPG-1.0)
  --date TEXT          date text of the version report (default 240601 / 2024-06-01)
  --can TEXT, --internal TEXT, --custom TEXT
                       the MCU's other identification texts
  --servo TEXT         the MPEG module's servo text
  --alive-ms N         MPEG module: send an alive message every N ms while not updating
                       (default 100; 0: never)
  --flash-ms N         MPEG module: time to write its flash after the result, before the
                       alive messages resume (default 500)
  --timing FILE        when the end frame arrives, write to FILE one line
                       "first_block_us end_frame_us blocks reaction_us": the arrival of
                       the first data block and of the end frame on a monotonic clock,
                       the number of data blocks received (resends included), and the
                       time the loader took to answer, summed over the transfer (from
                       each frame handed to the line to the next bytes from the loader)

Faults:
  --drop-every N       do not send every Nth frame (counting every frame it would send)
  --corrupt-every N    send every Nth frame with a wrong checksum
  --ignore-first N     leave the first N commands received unanswered
  --ignore-code HEX    never answer commands with this code (e.g. 24: the MPEG module
                       stays silent on START_PROGRAM)
  --drop-in-every N    lose every Nth frame received, as if the line garbled it
  --duplicate-every N  send every Nth frame twice
  --reorder-every N    hold every Nth frame back and send it after the next one
  --wrong-ack-every N  every Nth block acknowledgement names another block: the MCU
                       acknowledges the block before, the MPEG module asks again for
                       the block it has just received
  --junk-every N       send a malformed frame before every Nth frame, in turn: LEN 0,
                       LEN 1, a 258-byte pass-through frame (LEN 255) and a block
                       acknowledgement without its block number
  --silent             receive and log, but never send anything

Other:
  --log FILE           log to FILE instead of standard error
  --help               show this text
)";
}

namespace {

bool ToInt(const std::string& text, int& value) {
    char* end = nullptr;
    long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < 0 || parsed > 1000000000)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

}  // namespace

ParseResult ParseSimOptions(int argc, char** argv) {
    SimOptions options;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        options.help = true;
        return {options, ""};
    }
    if (args.empty() || (args[0] != "mcu" && args[0] != "mpeg")) {
        return {std::nullopt, "the first argument must be mcu or mpeg"};
    }
    options.kind = args[0] == "mcu" ? Kind::Mcu : Kind::Mpeg;
    options.version = options.kind == Kind::Mcu ? "MCU-SIM-1.0" : "MPG-1.0";
    options.date = options.kind == Kind::Mcu ? "240601" : "2024-06-01";
    struct IntOption {
        const char* name;
        int* target;
    };
    const IntOption ints[] = {{"--baud", &options.baud},
                              {"--alive-ms", &options.aliveMs},
                              {"--flash-ms", &options.flashMs},
                              {"--drop-every", &options.dropEvery},
                              {"--corrupt-every", &options.corruptEvery},
                              {"--ignore-first", &options.ignoreFirst},
                              {"--drop-in-every", &options.dropInEvery},
                              {"--duplicate-every", &options.duplicateEvery},
                              {"--reorder-every", &options.reorderEvery},
                              {"--wrong-ack-every", &options.wrongAckEvery},
                              {"--junk-every", &options.junkEvery}};
    struct TextOption {
        const char* name;
        std::string* target;
    };
    const TextOption texts[] = {{"--device", &options.device},   {"--image-out", &options.imageOut},
                                {"--version", &options.version}, {"--date", &options.date},
                                {"--can", &options.can},         {"--internal", &options.internal},
                                {"--custom", &options.custom},   {"--servo", &options.servo},
                                {"--log", &options.logFile},     {"--timing", &options.timingFile}};
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        if (name == "--pace" || name == "--silent") {
            (name == "--pace" ? options.pace : options.silent) = true;
            continue;
        }
        if (i + 1 >= args.size())
            return {std::nullopt, "option " + name + " needs a value"};
        const std::string& value = args[++i];
        bool known = false;
        for (const IntOption& option : ints) {
            if (name != option.name)
                continue;
            if (!ToInt(value, *option.target))
                return {std::nullopt, name + " needs a number"};
            known = true;
        }
        for (const TextOption& option : texts) {
            if (name == option.name) {
                *option.target = value;
                known = true;
            }
        }
        if (name == "--ignore-code") {
            char* end = nullptr;
            long code = std::strtol(value.c_str(), &end, 16);
            if (value.empty() || *end != '\0' || code < 0 || code > 255)
                return {std::nullopt, "--ignore-code needs a hex byte such as 24"};
            options.ignoreCode = static_cast<int>(code);
            known = true;
        }
        if (name == "--result") {
            int result = 0;
            if (!ToInt(value, result) || result > 255) {
                return {std::nullopt, "--result needs a number from 0 to 255"};
            }
            options.result = result;
            known = true;
        }
        if (!known)
            return {std::nullopt, "unknown option '" + name + "'"};
    }
    if (options.baud == 0)
        options.baud = options.kind == Kind::Mcu ? 38400 : 115200;
    if (options.baud != 38400 && options.baud != 115200) {
        return {std::nullopt, "--baud must be 38400 or 115200"};
    }
    return {options, ""};
}

}  // namespace coprocsim
