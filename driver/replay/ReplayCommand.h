// One line of a report script, parsed: the commands of zenvor-report-replay, which the
// simulated device of zenvor-driver reads too. Parsing checks the words and numbers only;
// what a command means for a device is up to whoever runs it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zv::driver::replay {

struct ReplayCommand {
  enum class Kind {
    product,         // product 0xPPPP                 number = product ID
    descriptor,      // descriptor HEX...              bytes
    descriptorFile,  // descriptor-file PATH       text = the path (the rest of the line)
    override_,       // override ELEMENT 0|1           element, number = flag
    buttons,         // buttons MASK                   number = mask
    precision,       // precision ELEMENT PERCENT      element, percent
    axis,            // axis ELEMENT AXIS              element, number = axis
    hat,             // hat ELEMENT                    element
    report,          // report HEX...                  bytes
    wait,            // wait MS                        number = milliseconds
    model,           // model
  };
  Kind kind = Kind::model;
  std::uint32_t element = 0;
  std::uint64_t number = 0;
  std::int32_t percent = 0;
  std::vector<std::uint8_t> bytes;
  std::string text;
};

// The command words, in the order --help lists them.
inline constexpr const char* kReplayCommandWords[] = {
    "product", "descriptor", "descriptor-file", "override", "buttons", "precision",
    "axis",    "hat",        "report",          "wait",     "model"};

// Parses one line ('#' starts a comment). A blank or comment-only line answers true with
// *command empty. On failure answers false with the message (no line number) in *error,
// for example "'axis' takes 2 arguments: axis ELEMENT 1|2 (0 removes it)".
bool parseReplayLine(const std::string& line, std::optional<ReplayCommand>* command,
                     std::string* error);

// "0x1F" or "31"; the whole token must be the number and at most max.
bool parseReplayNumber(const std::string& token, std::uint64_t max, std::uint64_t* out);

// Hex bytes, separated by blanks or not: "00 01 FF" or "0001FF".
bool parseReplayHexBytes(const std::vector<std::string>& tokens, std::size_t first,
                         std::vector<std::uint8_t>* bytes, std::string* error);

}  // namespace zv::driver::replay
