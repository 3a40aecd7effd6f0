#include "json/Error.h"

namespace zv::json {

std::string Error::message() const {
  std::string text = domain + " " + std::to_string(code);
  if (!description.empty()) text += ": " + description;
  return text;
}

}  // namespace zv::json
