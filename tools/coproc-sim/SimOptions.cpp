#include "SimOptions.h"

#include <cstdlib>
#include <filesystem>
#include <utility>
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
  --junk-every N       send an odd frame before every Nth frame, in turn: LEN 0,
                       LEN 1, a 258-byte pass-through frame (LEN 255, the longest) and
                       a block acknowledgement without its block number
  --silent             receive and log, but never send anything
  --deaf-after N       stop reading the line after N frames received (the loader's
                       writes then pile up in the line)
  --hang-up-at N       close the line, unanswered, when data block N arrives: the
                       loader's end of a pseudo-terminal sees a hang-up
  --skip-to N          MPEG module: answer the first data block 0 by asking for block N
                       (as if it had every block before N), later ones as usual

Wrong moments (timed from the first frame received, unless said otherwise):
  --end-delay-ms N     answer each end frame N ms late (a loader that resends it sooner
                       gets one answer per copy)
  --extra-result N     send a second programming result N right after the first
  --stray-result-ms N  send one programming result (--result, default 0) N ms after the
                       first frame received, whatever was asked
  --acks-after-result-ms N
                       after the programming result, acknowledge other blocks (MCU) or
                       ask for blocks 0 and 1 in turn (MPEG), one every N ms
  --pass-through-ms N  send pass-through frames for the other co-processor every N ms:
                       numbered, of lengths up to 258 bytes; received ones are checked
                       and logged as "recv PASS_THROUGH #n: LEN bytes intact"
  --pass-through-burst N
                       send N pass-through frames at a time, in one write (1 to 1000,
                       default 1)
  --status-ms N        MCU: send a status message every N ms
  --flood KIND         send KIND as fast as the line takes it: wrong-acks (from the
                       first data block on: MCU acknowledges blocks 32766 and 32767 in
                       turn, the MPEG module asks for blocks 0 and 1 in turn), status
                       (MCU) or update-ack

Other:
  --log FILE           log to FILE instead of standard error
  --help               show this text
)";
}

namespace {

// The most pass-through frames sent in one write: 1000 frames of up to 258 bytes.
constexpr int kMaxPassThroughBurst = 1000;

// A file written at the end of a transfer is checked at the start: a run of minutes must
// not end in an image nobody can find.
std::string CheckOutputFile(const char* option, const std::string& path) {
    namespace fs = std::filesystem;
    if (path.empty())
        return "";
    std::error_code code;
    fs::path folder = fs::path(path).parent_path();
    if (fs::is_directory(path, code))
        return std::string(option) + " " + path + ": is a folder";
    if (!folder.empty() && !fs::is_directory(folder, code))
        return std::string(option) + " " + path + ": no folder " + folder.string();
    return "";
}

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
                              {"--junk-every", &options.junkEvery},
                              {"--end-delay-ms", &options.endDelayMs},
                              {"--acks-after-result-ms", &options.acksAfterResultMs},
                              {"--pass-through-ms", &options.passThroughMs},
                              {"--pass-through-burst", &options.passThroughBurst},
                              {"--status-ms", &options.statusMs},
                              {"--stray-result-ms", &options.strayResultMs},
                              {"--deaf-after", &options.deafAfter},
                              {"--hang-up-at", &options.hangUpAt},
                              {"--skip-to", &options.skipTo}};
    struct TextOption {
        const char* name;
        std::string* target;
    };
    const TextOption texts[] = {{"--device", &options.device},   {"--image-out", &options.imageOut},
                                {"--version", &options.version}, {"--date", &options.date},
                                {"--can", &options.can},         {"--internal", &options.internal},
                                {"--custom", &options.custom},   {"--servo", &options.servo},
                                {"--log", &options.logFile},     {"--timing", &options.timingFile},
                                {"--flood", &options.flood}};
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
                return {std::nullopt, name + " needs a number from 0 to 1000000000"};
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
        if (name == "--result" || name == "--extra-result") {
            int result = 0;
            if (!ToInt(value, result) || result > 255)
                return {std::nullopt, name + " needs a number from 0 to 255"};
            (name == "--result" ? options.result : options.extraResult) = result;
            known = true;
        }
        if (!known)
            return {std::nullopt, "unknown option '" + name + "'"};
    }
    if (!options.flood.empty() && options.flood != "wrong-acks" && options.flood != "status" &&
        options.flood != "update-ack") {
        return {std::nullopt, "--flood needs wrong-acks, status or update-ack"};
    }
    if (options.passThroughBurst < 1 || options.passThroughBurst > kMaxPassThroughBurst)
        return {std::nullopt, "--pass-through-burst needs a number from 1 to 1000"};
    for (const auto& [option, path] : {std::pair{"--image-out", &options.imageOut},
                                       std::pair{"--timing", &options.timingFile}}) {
        if (std::string error = CheckOutputFile(option, *path); !error.empty())
            return {std::nullopt, error};
    }
    if (options.baud == 0)
        options.baud = options.kind == Kind::Mcu ? 38400 : 115200;
    if (options.baud != 38400 && options.baud != 115200) {
        return {std::nullopt, "--baud must be 38400 or 115200"};
    }
    return {options, ""};
}

}  // namespace coprocsim
