// The command line of coproc-sim.
#pragma once

#include <optional>
#include <string>

namespace coprocsim {

enum class Kind { Mcu, Mpeg };

struct SimOptions {
    Kind kind = Kind::Mcu;
    std::string device;  // empty: create a pseudo-terminal
    int baud = 0;        // 0: 38400 for the MCU, 115200 for the MPEG module
    bool pace = false;
    std::string imageOut;
    std::optional<int> result;  // forced programming result; default: 0 if the image checks
    std::string version;
    std::string date;
    std::string can = "CAN-SIM";
    std::string internal = "INT-SIM";
    std::string custom = "CUSTOM-SIM";
    std::string servo = "SERVO-SIM";
    int aliveMs = 100;       // MPEG module: interval of alive messages; 0: none
    int flashMs = 500;       // MPEG module: flash writing time before alive resumes
    int dropEvery = 0;       // drop every Nth frame sent
    int corruptEvery = 0;    // corrupt every Nth frame sent
    int ignoreFirst = 0;     // ignore the first N commands received
    int ignoreCode = -1;     // never answer commands with this code; -1: answer all
    int duplicateEvery = 0;  // send every Nth frame twice
    int reorderEvery = 0;    // hold every Nth frame back and send it after the next one
    int dropInEvery = 0;     // lose every Nth frame received, as if garbled on the way
    int wrongAckEvery = 0;   // every Nth block acknowledgement names another block
    int junkEvery = 0;       // put a malformed frame before every Nth frame sent
    bool silent = false;
    // Answers and messages at the wrong moment.
    int endDelayMs = 0;              // answer each end frame this much later
    std::optional<int> extraResult;  // a second programming result right after the first
    int strayResultMs = -1;          // one unprompted programming result; -1: none
    int acksAfterResultMs = 0;       // then acknowledgements of other blocks; 0: none
    int passThroughMs = 0;           // unsolicited pass-through frames; 0: none
    int passThroughBurst = 1;        // how many at a time
    int statusMs = 0;                // MCU: unsolicited status messages; 0: none
    std::string flood;               // "wrong-acks", "status" or "update-ack"; empty: none
    int deafAfter = -1;              // stop reading after this many frames; -1: never
    int hangUpAt = -1;               // close the line when this data block arrives; -1: never
    int skipTo = -1;                 // MPEG: ask for this block after block 0, once; -1: never
    std::string timingFile;          // data-block timing, written when the end frame arrives
    std::string logFile;             // empty: standard error
    bool help = false;
};

struct ParseResult {
    std::optional<SimOptions> options;
    std::string error;
};

ParseResult ParseSimOptions(int argc, char** argv);
std::string SimUsage();

}  // namespace coprocsim
