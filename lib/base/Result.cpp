#include "base/Result.h"

#include <cstring>

namespace zv::base {

Failure Failure::system(int number, std::string_view context) {
  std::string message(context);
  message += ": ";
  message += std::strerror(number);
  return Failure{kSystemDomain, number, std::move(message)};
}

Failure Failure::prefixed(std::string_view context) const {
  Failure copy = *this;
  copy.message.insert(0, context);
  return copy;
}

}  // namespace zv::base
