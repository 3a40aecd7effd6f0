// Takes the real mouse's event nodes away from the desktop (EVIOCGRAB) while the rewritten
// mouse stands in for it, so the desktop sees each press once. The kernel drops a grab when
// the grabbing descriptor closes, also when the process dies.
#pragma once

#include <string>
#include <vector>

namespace zv::driver {

class InputGrab {
 public:
  virtual ~InputGrab() = default;
  // Grabs every node it can; answers how many it holds. A node that cannot be grabbed is
  // named in *problems (one line each) and skipped.
  virtual int grab(const std::vector<std::string>& nodes, std::vector<std::string>* problems) = 0;
  // Lets go of every node. Safe to call twice.
  virtual void release() = 0;
};

}  // namespace zv::driver
