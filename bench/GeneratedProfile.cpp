#include "GeneratedProfile.h"

#include <cstdio>

#include "json/Value.h"
#include "platform/ReadFile.h"
#include "profile/NodeText.h"
#include "profile/Prototype.h"
#include "profile/ZVPrototypedObject.h"

namespace zv::bench {

namespace {

std::string guid(int n) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "{5A56D3E0-1704-4000-8000-%012X}", n);
  return buffer;
}

}  // namespace

const std::string& prototypeText() {
  static const std::string text = [] {
    return platform::readFile(ZV_SOURCE_DIR "/data/tevnodes.prototype").valueOr(std::string());
  }();
  return text;
}

std::string makeProfileText(int triggers) {
  std::string text = "[profile=Bench [controller=DemoMouse [controls";
  char control[32];
  for (int b = 1; b <= 16; ++b) {
    std::snprintf(control, sizeof control, " [button=0x%x ]", 0x90000 + b);
    text += control;
  }
  text += " [wheel=0x10038 ] [hat=0x10039 ] [axis=0x10030 ] [axis=0x10031 ]]";
  for (int t = 0; t < triggers; ++t) {
    if (t % 100 == 0) {
      if (t) text += "]";
      text += " [shift=" + guid(t / 100 + 1) + " name='State " + std::to_string(t / 100) + "'";
      if (t) text += " fallback=" + guid(1);
    }
    char element[16];
    std::snprintf(element, sizeof element, "0x%x", 0x90001 + t % 16);
    text += " [trigger=" + std::string(element) + " [band=1 [command=" + guid(0x1000 + t) +
            " name='Key " + std::to_string(t) +
            "' [actionblock [action page=0x7 usage=0x4 value=0x1 ] [action page=0x7 usage=0x4 ]]"
            " [actionblock type=release [action page=0x7 usage=0xe1 ]]]]]";
  }
  if (triggers) text += "]";
  text += "]]";
  // Normalise through the writer so that the text is exactly what a save produces.
  auto prototype = profile::parsePrototype(prototypeText());
  auto json = profile::tevnodes2json(text, json::Value(prototype));
  if (!json) return {};
  auto root = profile::ZVPrototypedObject::makeFromPrototype(prototype);
  root->setJSON(json->asDictionary());
  return profile::json2tevnodes(json::Value(root->JSONDictionary()), json::Value(prototype))
      .value_or(std::string());
}

}  // namespace zv::bench
