#include "AgentOutput.h"

#include "RecordWorkspace.h"
#include "output/OutputDevice.h"
#include "output/UinputOutput.h"
#include "output/Workspace.h"

namespace zv::agent {

base::Result<std::unique_ptr<AgentOutput>> AgentOutput::install(const std::string& choice) {
  std::unique_ptr<AgentOutput> output(new AgentOutput);
  if (choice.empty() || choice == "uinput") {
    auto uinput = std::make_shared<output::UinputOutput>();
    output::setSharedOutput(uinput);
    // Said now, with the fix, rather than at the first key.
    uinput->prepare();
    return output;
  }
  // "uinput+record…": both, the record only watching.
  const bool passOn = choice.starts_with("uinput+");
  const std::string record = passOn ? choice.substr(7) : choice;
  if (record != "record" && !record.starts_with("record:")) {
    return base::Failure{"perch", 1,
                         "--output takes uinput, record, record:FILE or uinput+record[:FILE], "
                         "not '" +
                             choice + "'"};
  }
  auto stream = RecordStream::open(record == "record" ? "" : record.substr(7));
  if (!stream) return stream.failure();
  output->record_ = *stream;
  output->recordOutput_ = std::make_shared<RecordOutput>(output->record_);
  if (passOn) {
    auto uinput = std::make_shared<UinputRecordOutput>(output->recordOutput_);
    output::setSharedOutput(uinput);
    uinput->prepare();
  } else {
    output::setSharedOutput(output->recordOutput_);
    output::Workspace::setShared(std::make_shared<RecordWorkspace>(output->record_));
  }
  return output;
}

AgentOutput::~AgentOutput() = default;

void AgentOutput::finish() {
  if (!record_) return;
  recordOutput_->releaseHeldKeys();
  record_->writeSummary();
}

}  // namespace zv::agent
