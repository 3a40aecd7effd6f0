// Any bytes as node text, taken three ways: as a profile file's bytes (byte-order mark
// and all), as UTF-16 without a mark, and as raw UTF-8. Reading must not crash, hang or
// leak; what reads must give JSON that the suite's JSON writer and reader carry
// unchanged, build an object tree from the bundled prototype, and write back as node
// text without a NUL. (Written text need not read back to the same JSON: values with "=" or quotes
// change by design of the format.)
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json/CJSONDeserializer.h"
#include "json/CJSONSerializer.h"
#include "profile/NodeText.h"
#include "profile/ProfileFile.h"
#include "profile/Prototype.h"
#include "profile/ZVPrototypedObject.h"
#include "text/Unicode.h"

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

void exercise(std::string_view text, bool validText) {
  const json::Value proto(prototype());
  auto json = profile::tevnodes2json(text, proto);
  if (!json) return;
  if (validText) {
    auto again = json::CJSONDeserializer().deserialize(
        json::CJSONSerializer::serializer().serializeObject(*json).valueOr(""));
    if (!again || !(*again == *json)) std::abort();
  }
  auto written = profile::json2tevnodes(*json, proto);
  // Written text never holds a NUL, whatever the JSON held.
  if (written && written->find('\0') != std::string::npos) std::abort();
  if (written) {
    if (auto reread = profile::tevnodes2json(*written, proto)) {
      profile::json2tevnodes(*reread, proto);
    }
  }
  if (json->isDictionary()) {
    auto root = profile::ZVPrototypedObject::makeFromPrototype(prototype());
    root->setJSON(json->asDictionary());
    for (const auto& node : root->allNodes()) {
      node->tevNodeValue();
      for (const auto& [key, value] : *node->prototypeDictionary()) node->read(key);
    }
    profile::json2tevnodes(json::Value(root->JSONDictionary()), proto);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (auto text = profile::decodeProfileText(bytes)) exercise(*text, true);
  exercise(text::utf16ToUtf8(bytes, false), true);
  exercise(bytes, text::isValidUtf8(bytes));
  return 0;
}
