#include "SuiteProgramChecks.h"

#include <sys/wait.h>

#include "ChildProcess.h"

namespace zv::vmtest {
namespace {

const char* const kSuitePrograms[] = {"zenvor-driver", "perch", "kinetra"};

}  // namespace

void addSuiteProgramChecks(GuestSession& session) {
  std::vector<std::string> present;
  for (const char* name : kSuitePrograms) {
    if (!session.program(name).empty()) present.push_back(name);
  }
  if (present.empty()) return;
  session.checks.add("suite-programs-start", [&session, present] {
    std::string started;
    for (const std::string& name : present) {
      std::string problem;
      auto child = ChildProcess::start({session.program(name), "--help"},
                                       "/tmp/" + name + "-help.log", &problem);
      expect(child != nullptr, problem);
      // Starting a sanitizer build under emulation on a busy host takes a while: seconds,
      // now and then tens of them.
      const auto status = child->waitForExit(session.options.bound * 12);
      expect(status.has_value(), name + " --help did not end" + child->outputTail());
      expect(WIFEXITED(*status) && WEXITSTATUS(*status) == 0,
             name + " --help " + ChildProcess::describeStatus(*status) + child->outputTail());
      started += (started.empty() ? "" : ", ") + name;
    }
    return "--help answered by " + started;
  });
}

}  // namespace zv::vmtest
