// Any bytes as the JSON text an editor hands to setJSON, on a tree built from the bundled
// prototype. Text that does not read as a JSON object must leave the tree as it was;
// what reads must build, number, resolve and read without crashing or leaking, and its
// JSON must read back.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json/CJSONDeserializer.h"
#include "profile/NodeText.h"
#include "profile/Prototype.h"
#include "profile/ZVPrototypedObject.h"

namespace {

using namespace zv;

const json::DictionaryPtr& prototype() {
  static const json::DictionaryPtr p = [] {
    auto loaded = profile::readPrototypeFile(ZV_SOURCE_DIR "/data/tevnodes.prototype");
    if (!loaded) std::abort();
    return loaded;
  }();
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto root = profile::ZVPrototypedObject::makeFromPrototype(prototype());
  const std::string start = R"({"profile":"Fuzz","_obj_order":["profile"]})";
  if (!root->setJSON(start)) std::abort();
  if (!root->setJSON(text)) {
    if (root->JSON() != start) std::abort();  // failure changes nothing
    return 0;
  }
  for (const auto& node : root->allNodes()) {
    node->tevNodeType();
    node->tevNodeValue();
    for (const auto& [key, value] : *node->prototypeDictionary()) {
      node->read(key);
      node->unsignedNumber(key);
      node->integer(key);
      node->children(key);
      node->reference(key);
    }
  }
  if (!json::CJSONDeserializer().deserializeAsDictionary(root->JSON())) std::abort();
  if (auto written =
          profile::json2tevnodes(json::Value(root->JSONDictionary()), json::Value(prototype()))) {
    profile::tevnodes2json(*written, json::Value(prototype()));
  }
  return 0;
}
