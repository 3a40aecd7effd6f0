#include "engine/ZVControl.h"

#include <algorithm>
#include <cctype>

#include "engine/ZVActionBlock.h"

namespace zv::engine {
namespace {
const profile::ClassRegistration<ZVControl> registration;
}  // namespace

bool isTrueText(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text == "true";
}

void ZVControl::setJSONDictionary(const json::DictionaryPtr& dictionary) {
  ZVPrototypedObject::setJSONDictionary(dictionary);
  hidElement_ = profile::toUnsigned32(tevNodeValue().asNumber());
}

bool ZVControl::latched() const {
  return isTrueText(string("latched"));
}

std::string ZVControl::kind() const {
  return trimmed(tevNodeType());
}

}  // namespace zv::engine
