#include "replay/ReplayScript.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <istream>
#include <ostream>
#include <sstream>

#include "core/SampleDescriptors.h"

namespace zv::driver::replay {
namespace {

std::string hexBytes(const std::uint8_t* bytes, std::size_t length) {
  std::string text;
  char byte[4];
  for (std::size_t i = 0; i < length; ++i) {
    std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
    text += byte;
  }
  return text;
}

std::string hexNumber(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// "0x1F" (hexadecimal) or "31" (decimal); the whole token must be the number.
bool parseUnsigned(const std::string& token, std::uint64_t max, std::uint64_t* out) {
  std::size_t i = 0;
  int base = 10;
  if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i >= token.size()) return false;
  std::uint64_t value = 0;
  for (; i < token.size(); ++i) {
    const char c = token[i];
    std::uint64_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint64_t>(c - '0');
    } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
      digit = static_cast<std::uint64_t>(std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    } else {
      return false;
    }
    if (value > (UINT64_MAX - digit) / static_cast<std::uint64_t>(base)) return false;
    value = value * static_cast<std::uint64_t>(base) + digit;
  }
  if (value > max) return false;
  *out = value;
  return true;
}

// An optionally negative number within [min, max].
bool parseSigned(const std::string& token, std::int64_t min, std::int64_t max, std::int64_t* out) {
  const bool negative = !token.empty() && token[0] == '-';
  std::uint64_t magnitude;
  if (!parseUnsigned(negative ? token.substr(1) : token, UINT64_MAX, &magnitude)) return false;
  if (negative && magnitude != 0) {
    if (magnitude - 1 > static_cast<std::uint64_t>(-(min + 1))) return false;
    *out = -static_cast<std::int64_t>(magnitude - 1) - 1;
  } else {
    if (magnitude > static_cast<std::uint64_t>(max)) return false;
    *out = static_cast<std::int64_t>(magnitude);
  }
  return true;
}

// Hex bytes, separated by blanks or not: "00 01 FF" or "0001FF".
bool parseHexBytes(const std::vector<std::string>& tokens, std::size_t first,
                   std::vector<std::uint8_t>* bytes, std::string* error) {
  std::string digits;
  for (std::size_t t = first; t < tokens.size(); ++t) {
    for (char c : tokens[t]) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) {
        *error = "'" + tokens[t] + "' is not hexadecimal bytes";
        return false;
      }
    }
    if (tokens[t].size() % 2 != 0) {
      *error = "'" + tokens[t] + "' has an odd number of hex digits";
      return false;
    }
    digits += tokens[t];
  }
  bytes->clear();
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    bytes->push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return true;
}

}  // namespace

// The one user client of the replay: every element event becomes an output line.
class ReplayScript::Client : public ZVUserClient {
 public:
  explicit Client(std::vector<std::string>& lines) : lines_(lines) {}
  void sendElementEvent(std::uint32_t element, std::uint64_t value, std::uint32_t) override {
    lines_.push_back("event " + hexNumber(element) + " " + std::to_string(value));
  }

 private:
  std::vector<std::string>& lines_;
};

ReplayScript::ReplayScript(std::ostream& out) : out_(out) {}

ReplayScript::~ReplayScript() {
  pipeline_.reset();
}

bool ReplayScript::run(std::istream& in, std::string* error) {
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string message;
    if (!runLine(line, &message)) {
      flush();
      *error = "line " + std::to_string(number) + ": " + message;
      return false;
    }
  }
  return true;
}

bool ReplayScript::ensureDevice(std::string* error) {
  if (pipeline_) return true;
  if (!product_) {
    *error = "no device yet: start the script with 'product 0xPPPP'";
    return false;
  }
  const int type = GetDeviceTypeFromDevice(*product_);
  if (!haveDescriptor_) {
    const auto sample = sampleDescriptorForType(type);
    if (sample.empty()) {
      *error = "product " + hexNumber(*product_) +
               " has no built-in descriptor; give the device's own with 'descriptor HEX...'";
      return false;
    }
    descriptor_.assign(sample.begin(), sample.end());
  }
  pipeline_ = std::make_unique<ReportPipeline>(
      *product_, descriptor_,
      [this](const std::uint8_t* report, std::size_t length) {
        const auto at = pipeline_ && pipeline_->reportHandler()
                            ? pipeline_->reportHandler()->mouseReporter().now()
                            : std::chrono::milliseconds(0);
        pending_.push_back("pointer @" + std::to_string(at.count()) + "ms " +
                           hexBytes(report, length));
      },
      ZVMouseReporter::Mode::manual);

  std::string line = "device " + hexNumber(*product_) + " type " + std::to_string(type) + ": ";
  const auto descriptor = pipeline_->systemDescriptor();
  line += (pipeline_->usesReplacementDescriptor() ? "replacement descriptor " : "own descriptor ") +
          std::to_string(descriptor.size()) + " bytes";
  if (const auto& mouse = pipeline_->mouseReport()) {
    line += ", mouse report " + std::to_string(mouse->length()) + " bytes";
    line += mouse->reportId() >= 0 ? " with report ID " + hexNumber(mouse->reportId())
                                   : std::string(" without report ID");
  } else {
    line += ", no mouse report";
  }
  out_ << line << "\n";
  if (const auto& failure = pipeline_->descriptorError()) {
    out_ << "descriptor error at " << failure->describe() << "; reports pass through unchanged\n";
  } else {
    client_ = std::make_unique<Client>(pending_);
    pipeline_->reportHandler()->addUserClient(client_.get());
  }
  flush();
  return true;
}

void ReplayScript::flush() {
  for (const std::string& line : pending_) out_ << line << "\n";
  pending_.clear();
  out_.flush();
}

void ReplayScript::printModel() {
  ZVReportHandler* handler = pipeline_->reportHandler();
  if (!handler) return;
  std::vector<std::uint32_t> ids;
  for (std::uint32_t id = 0; id < 256; ++id) {
    if (handler->findReport(id)) ids.push_back(id);
  }
  for (std::uint32_t id : ids) {
    const ZVHIDReportEntry* report = handler->findReport(id);
    out_ << "model report " << id << ": " << report->elements.size() << " elements, "
         << report->byteLength << " bytes\n";
    for (const ZVHIDElement& e : report->elements) {
      out_ << "model   " << hexNumber(e.element) << " bit " << e.bitOffset << " size " << e.bitSize
           << (e.overridden ? " overridden" : "") << (e.hat ? " hat" : "") << "\n";
    }
  }
}

bool ReplayScript::runLine(const std::string& rawLine, std::string* error) {
  const std::string line = rawLine.substr(0, rawLine.find('#'));
  std::vector<std::string> tokens;
  {
    std::istringstream words(line);
    for (std::string word; words >> word;) tokens.push_back(word);
  }
  if (tokens.empty()) return true;
  const std::string& command = tokens[0];

  auto arguments = [&](std::size_t count, const char* usage) {
    if (tokens.size() == count + 1) return true;
    *error = "'" + command + "' takes " + std::to_string(count) + " argument" +
             (count == 1 ? "" : "s") + ": " + usage;
    return false;
  };
  auto number = [&](std::size_t index, const char* what, std::uint64_t max, std::uint64_t* out) {
    if (parseUnsigned(tokens[index], max, out)) return true;
    *error = "'" + tokens[index] + "' is not a valid " + what;
    return false;
  };

  if (command == "product") {
    std::uint64_t product;
    if (!arguments(1, "product 0xPPPP") ||
        !number(1, "product ID (0 to 0xFFFF)", 0xFFFF, &product)) {
      return false;
    }
    pipeline_.reset();
    client_.reset();
    product_ = static_cast<std::uint16_t>(product);
    haveDescriptor_ = false;
    descriptor_.clear();
    return true;
  }
  if (command == "descriptor") {
    if (!product_) {
      *error = "'descriptor' needs a 'product' line before it";
      return false;
    }
    if (pipeline_) {
      *error = "'descriptor' must come before the device is first used";
      return false;
    }
    if (tokens.size() < 2) {
      *error = "'descriptor' needs hex bytes: descriptor 05 01 09 02 ...";
      return false;
    }
    if (!parseHexBytes(tokens, 1, &descriptor_, error)) return false;
    haveDescriptor_ = true;
    return true;
  }

  static const char* const kCommands[] = {"override", "buttons", "precision", "axis",
                                          "hat",      "report",  "wait",      "model"};
  if (std::find_if(std::begin(kCommands), std::end(kCommands),
                   [&](const char* c) { return command == c; }) == std::end(kCommands)) {
    *error = "unknown command '" + command + "'";
    return false;
  }
  if (!ensureDevice(error)) return false;
  ZVReportHandler* handler = pipeline_->reportHandler();

  if (command == "report") {
    if (tokens.size() < 2) {
      *error = "'report' needs hex bytes: report 00 01 00 ...";
      return false;
    }
    std::vector<std::uint8_t> report;
    if (!parseHexBytes(tokens, 1, &report, error)) return false;
    const std::vector<std::uint8_t> raw = report;
    pipeline_->handleReport(report.data(), report.size());
    out_ << "report " << hexBytes(raw.data(), raw.size()) << " -> "
         << hexBytes(report.data(), report.size()) << "\n";
  } else if (command == "wait") {
    std::uint64_t ms;
    if (!arguments(1, "wait MILLISECONDS") ||
        !number(1, "number of milliseconds (at most 3600000)", 3600000, &ms)) {
      return false;
    }
    pipeline_->advance(std::chrono::milliseconds(ms));
  } else if (command == "model") {
    if (!arguments(0, "model")) return false;
    printModel();
  } else if (!handler) {
    // The descriptor failed: nothing to configure; reports pass through.
  } else if (command == "override") {
    std::uint64_t element;
    std::uint64_t flag;
    if (!arguments(2, "override ELEMENT 0|1") ||
        !number(1, "element (e.g. 0x90009)", 0xFFFFFFFF, &element) ||
        !number(2, "flag (0 or 1)", 1, &flag)) {
      return false;
    }
    if (!handler->elementWithCookie(static_cast<std::uint32_t>(element))) {
      out_ << "note: " << hexNumber(element)
           << " is not an element of the default report; ignored\n";
    }
    handler->setElementOverride(static_cast<std::uint32_t>(element), flag != 0);
  } else if (command == "buttons") {
    std::uint64_t mask;
    if (!arguments(1, "buttons MASK") || !number(1, "button mask", UINT64_MAX, &mask)) {
      return false;
    }
    const std::uint64_t kept = handler->setButtonOverrides(mask);
    if (kept != mask) {
      out_ << "note: buttons " << hexNumber(mask) << " reach beyond the button field "
           << hexNumber(handler->buttonFieldMask()) << " of the default report; " << hexNumber(kept)
           << " kept\n";
    }
  } else if (command == "precision") {
    std::uint64_t element;
    std::int64_t percent;
    if (!arguments(2, "precision ELEMENT PERCENT") ||
        !number(1, "element (e.g. 0x90006, or 0 to keep the current one)", 0xFFFFFFFF, &element)) {
      return false;
    }
    if (!parseSigned(tokens[2], INT32_MIN, INT32_MAX, &percent)) {
      *error = "'" + tokens[2] + "' is not a valid percentage";
      return false;
    }
    handler->setPrecAimPercentage(static_cast<std::uint32_t>(element),
                                  static_cast<std::int32_t>(percent));
  } else if (command == "axis") {
    std::uint64_t element;
    std::uint64_t axis;
    if (!arguments(2, "axis ELEMENT 1|2 (0 removes it)") ||
        !number(1, "element (e.g. 0x10039)", 0xFFFFFFFF, &element) ||
        !number(2, "axis (1 = X, 2 = Y, 0 = none)", 0xFFFFFFFF, &axis)) {
      return false;
    }
    handler->setMouseAxis(static_cast<std::uint32_t>(element), static_cast<std::uint32_t>(axis));
  } else if (command == "hat") {
    std::uint64_t element;
    if (!arguments(1, "hat ELEMENT") ||
        !number(1, "element (e.g. 0x10039)", 0xFFFFFFFF, &element)) {
      return false;
    }
    if (!handler->elementWithCookie(static_cast<std::uint32_t>(element))) {
      out_ << "note: " << hexNumber(element)
           << " is not an element of the default report; ignored\n";
    }
    handler->setHatElement(static_cast<std::uint32_t>(element));
  }
  flush();
  return true;
}

}  // namespace zv::driver::replay
