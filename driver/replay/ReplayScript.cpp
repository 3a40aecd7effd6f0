#include "replay/ReplayScript.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <istream>
#include <ostream>
#include <sstream>

#include "core/SampleDescriptors.h"
#include "replay/DescriptorFile.h"
#include "replay/ReplayCommand.h"

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
  } else if (const std::string summary = pipeline_->pointerReportSummary(); !summary.empty()) {
    line += ", " + summary;  // any other mouse: its pointer reports are its own
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

bool ReplayScript::runLine(const std::string& line, std::string* error) {
  std::optional<ReplayCommand> parsed;
  if (!parseReplayLine(line, &parsed, error)) return false;
  if (!parsed) return true;
  const ReplayCommand& c = *parsed;
  using Kind = ReplayCommand::Kind;

  if (c.kind == Kind::product) {
    pipeline_.reset();
    client_.reset();
    product_ = static_cast<std::uint16_t>(c.number);
    haveDescriptor_ = false;
    descriptor_.clear();
    return true;
  }
  if (c.kind == Kind::descriptor) {
    if (!product_) {
      *error = "'descriptor' needs a 'product' line before it";
      return false;
    }
    if (pipeline_) {
      *error = "'descriptor' must come before the device is first used";
      return false;
    }
    descriptor_ = c.bytes;
    haveDescriptor_ = true;
    return true;
  }
  if (c.kind == Kind::descriptorFile) {
    if (!product_) {
      *error = "'descriptor-file' needs a 'product' line before it";
      return false;
    }
    if (pipeline_) {
      *error = "'descriptor-file' must come before the device is first used";
      return false;
    }
    const std::string path =
        c.text.front() == '/' || baseFolder_.empty() ? c.text : baseFolder_ + "/" + c.text;
    auto bytes = readDescriptorFile(path, error);
    if (!bytes) return false;
    descriptor_ = std::move(*bytes);
    haveDescriptor_ = true;
    return true;
  }

  if (!ensureDevice(error)) return false;
  ZVReportHandler* handler = pipeline_->reportHandler();
  auto noteUnknown = [&] {
    if (!handler->elementWithCookie(c.element)) {
      out_ << "note: " << hexNumber(c.element) << " is not an element of the "
           << (handler->readsAnyMouse() ? "mouse's reports" : "default report") << "; ignored\n";
    }
  };

  if (c.kind == Kind::report) {
    std::vector<std::uint8_t> report = c.bytes;
    pipeline_->handleReport(report.data(), report.size());
    out_ << "report " << hexBytes(c.bytes.data(), c.bytes.size()) << " -> "
         << hexBytes(report.data(), report.size()) << "\n";
  } else if (c.kind == Kind::wait) {
    pipeline_->advance(std::chrono::milliseconds(c.number));
  } else if (c.kind == Kind::model) {
    printModel();
  } else if (!handler) {
    // The descriptor failed: nothing to configure; reports pass through.
  } else if (c.kind == Kind::override_) {
    noteUnknown();
    handler->setElementOverride(c.element, c.number != 0);
  } else if (c.kind == Kind::buttons) {
    const std::uint64_t kept = handler->setButtonOverrides(c.number);
    if (kept != c.number) {
      out_ << "note: buttons " << hexNumber(c.number) << " reach beyond the button field "
           << hexNumber(handler->buttonFieldMask()) << " of the "
           << (handler->readsAnyMouse() ? "mouse" : "default report") << "; " << hexNumber(kept)
           << " kept\n";
    }
  } else if (c.kind == Kind::precision) {
    handler->setPrecAimPercentage(c.element, c.percent);
  } else if (c.kind == Kind::axis) {
    handler->setMouseAxis(c.element, static_cast<std::uint32_t>(c.number));
  } else if (c.kind == Kind::hat) {
    noteUnknown();
    handler->setHatElement(c.element);
  }
  flush();
  return true;
}

}  // namespace zv::driver::replay
