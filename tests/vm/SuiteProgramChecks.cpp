#include "SuiteProgramChecks.h"

#include <sys/wait.h>

#include "testing/ChildProcess.h"

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
      auto child = session.start({session.program(name), "--help"}, "/tmp/" + name + "-help.log");
      // Starting a sanitizer build under emulation on a busy host takes a while: seconds,
      // now and then tens of them.
      const auto status = child->wait(session.options.bound * 12);
      expect(status.has_value(), name + " --help did not end" + child->outputTail());
      expect(
          WIFEXITED(*status) && WEXITSTATUS(*status) == 0,
          name + " --help " + testing::ChildProcess::describeStatus(*status) + child->outputTail());
      started += (started.empty() ? "" : ", ") + name;
    }
    return "--help answered by " + started;
  });
}

}  // namespace zv::vmtest
