#include "JsonErrorText.h"

namespace kinetra {

std::string describeJsonError(const zv::json::Error& error, std::string_view input) {
  if (!error.description.empty()) return error.message();
  return error.message() + ": " + std::string(input) + " is empty";
}

}  // namespace kinetra
