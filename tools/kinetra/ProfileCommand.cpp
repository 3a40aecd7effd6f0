// kinetra profile to-json | to-text | check | roundtrip
#include <CLI/CLI.hpp>
#include <iostream>
#include <map>
#include <memory>

#include "Command.h"
#include "IO.h"
#include "JsonErrorText.h"
#include "PrototypeOption.h"
#include "Report.h"
#include "json/CJSONDeserializer.h"
#include "json/CJSONSerializer.h"
#include "profile/NodeText.h"
#include "profile/ProfileFile.h"
#include "profile/Prototype.h"
#include "profile/UnreadableNumbers.h"
#include "profile/ZVPrototypedObject.h"
#include "text/Numbers.h"

namespace kinetra {
namespace {

using zv::json::Value;
using zv::profile::ObjectPtr;

constexpr const char* kName = "profile";
// The JSON of a profile is at most about twice the size of its node text.
constexpr std::size_t kProfileJSONLimit = 2 * zv::profile::kProfileFileLimit;

struct Options {
  std::string path;
  std::string prototype;
  std::string output;
  bool hasOutput = false;  // --output given, even as ""
  bool tree = false;
};

int fail(const std::string& message) {
  return kinetra::fail(kName, message);
}

zv::json::DictionaryPtr loadPrototype(const Options& options) {
  std::string error;
  auto prototype = loadPrototypeOption(options.prototype, error);
  if (!prototype) fail(error);
  return prototype;
}

std::optional<std::string> readProfile(const std::string& path) {
  auto bytes = readInput(path, zv::profile::kProfileFileLimit);
  if (!bytes) return std::nullopt;
  std::string error;
  auto text = zv::profile::decodeProfileText(*bytes, &error);
  if (!text) fail(path + ": " + error);
  return text;
}

std::optional<Value> convertProfile(const std::string& path, const std::string& text,
                                    const zv::json::DictionaryPtr& prototype) {
  zv::profile::NodeTextError error;
  auto json = zv::profile::tevnodes2json(text, Value(prototype), &error);
  if (!json) fail(path + ": not a readable profile: " + error.describe());
  return json;
}

// The object tree of a profile JSON, built from the prototype's class ("@CLASS").
ObjectPtr buildTree(const std::string& path, const Value& json,
                    const zv::json::DictionaryPtr& prototype) {
  if (!json.isDictionary()) {
    fail(path + ": the top-level node reads as a list, not as a profile");
    return nullptr;
  }
  ObjectPtr root = zv::profile::ZVPrototypedObject::makeFromPrototype(prototype);
  root->setJSON(json.asDictionary());
  return root;
}

std::string quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// "shift {GUID} "Normal"": the node's type and value, and its name when it has one.
std::string describe(const zv::profile::ZVPrototypedObject& node) {
  std::string text = node.tevNodeType();
  const Value value = node.tevNodeValue();
  if (value.isString() && !value.asString().empty()) text += " " + value.asString();
  if (value.type() == Value::Type::Number)
    text += " " + zv::text::hexText(zv::profile::toUnsigned32(value.asNumber()));
  const std::string name = node.string("name");
  if (!name.empty()) text += " " + quoted(name);
  return text;
}

int runCheck(const Options& options, const zv::json::DictionaryPtr& prototype) {
  auto text = readProfile(options.path);
  if (!text) return 1;
  auto json = convertProfile(options.path, *text, prototype);
  if (!json) return 1;
  // Before the tree is built: building turns these members into numbers.
  const auto unreadable = zv::profile::unreadableNumbers(*json, prototype);
  ObjectPtr root = buildTree(options.path, *json, prototype);
  if (!root) return 1;

  const auto& controllers = root->children("controllers");
  const auto& blasts = root->children("blasts");
  const std::string name = root->string("profile");
  std::cout << "profile " << (name.empty() ? "(no name)" : quoted(name)) << ": "
            << controllers.size() << (controllers.size() == 1 ? " controller" : " controllers");
  if (!blasts.empty()) {
    std::cout << ", " << blasts.size() << (blasts.size() == 1 ? " blast record" : " blast records");
  }
  std::cout << "\n";
  std::size_t triggers = 0;
  for (const ObjectPtr& controller : controllers) {
    const auto& controls = controller->children("controls");
    const auto& shifts = controller->children("shifts");
    std::map<std::string, int> kinds;
    for (const ObjectPtr& control : controls) ++kinds[control->tevNodeType()];
    std::cout << "controller " << quoted(controller->string("controller")) << ": "
              << controls.size() << " controls";
    if (!kinds.empty()) {
      std::cout << " (";
      bool first = true;
      for (const auto& [kind, count] : kinds) {
        std::cout << (first ? "" : ", ") << count << " " << kind;
        first = false;
      }
      std::cout << ")";
    }
    std::cout << ", " << shifts.size() << (shifts.size() == 1 ? " shift state" : " shift states")
              << "\n";
    for (const ObjectPtr& shift : shifts) {
      const auto& assignments = shift->children("assignments");
      triggers += assignments.size();
      std::cout << "  shift state " << quoted(shift->string("name")) << ": " << assignments.size()
                << (assignments.size() == 1 ? " trigger" : " triggers");
      if (ObjectPtr selection = shift->child("selectionset")) {
        std::string combo;
        for (const ObjectPtr& item : selection->children("buttoncombo")) {
          combo +=
              (combo.empty() ? "" : "+") + zv::text::hexText(item->unsignedNumber("buttonhid"));
        }
        std::cout << ", selection set " << (combo.empty() ? "(empty)" : combo);
      }
      if (ObjectPtr fallback = shift->reference("fallback")) {
        std::cout << ", fallback " << quoted(fallback->string("name"));
      }
      if (ObjectPtr command = shift->child("shiftcommand")) {
        if (ObjectPtr target = command->reference("shiftcommand")) {
          std::cout << ", shift command " << quoted(target->string("name"));
        }
      }
      std::cout << "\n";
    }
  }

  // References: every "[GUIDREF]" member that names a GUID.
  std::size_t resolved = 0;
  std::vector<std::string> unresolved;
  const auto nodes = root->allNodes();
  for (const ObjectPtr& node : nodes) {
    for (const auto& [key, kind] : *node->prototypeDictionary()) {
      if (!kind.isString() || kind.asString() != "[GUIDREF]") continue;
      const Value guid = node->value(key);
      if (!guid.isString() || guid.asString().empty()) continue;
      if (node->reference(key)) {
        ++resolved;
      } else {
        unresolved.push_back(key + "=" + guid.asString() + " in " + describe(*node));
      }
    }
  }
  std::cout << "nodes: " << nodes.size() << "; triggers: " << triggers
            << "; references: " << resolved << " resolved, " << unresolved.size()
            << " unresolved\n";
  for (const std::string& line : unresolved) std::cout << "unresolved reference: " << line << "\n";
  for (const auto& number : unreadable)
    std::cout << "unreadable number: " << number.describe() << "\n";
  return 0;
}

int runToJson(const Options& options, const zv::json::DictionaryPtr& prototype) {
  auto text = readProfile(options.path);
  if (!text) return 1;
  auto json = convertProfile(options.path, *text, prototype);
  if (!json) return 1;
  if (options.tree) {
    ObjectPtr root = buildTree(options.path, *json, prototype);
    if (!root) return 1;
    std::cout << root->JSON() << "\n";
  } else {
    const auto text = zv::json::CJSONSerializer::serializer().serializeObject(*json);
    if (!text) return fail(options.path + ": " + text.failure().message);
    std::cout << *text << "\n";
  }
  return 0;
}

int runToText(const Options& options, const zv::json::DictionaryPtr& prototype) {
  auto data = readInput(options.path, kProfileJSONLimit);
  if (!data) return 1;
  zv::json::Error jsonError;
  auto json = zv::json::CJSONDeserializer().deserialize(*data, &jsonError);
  if (!json) {
    return fail(
        options.path + ": not JSON" +
        (jsonError.code ? ": " + describeJsonError(jsonError, options.path) : std::string()));
  }
  // Only a profile becomes a profile file: anything else would be written as " [ ] ".
  std::string why;
  if (!zv::profile::isProfileJSON(*json, &why)) {
    return fail(options.path + ": " + why + (options.hasOutput ? "; nothing was written" : ""));
  }
  if (options.hasOutput) {
    std::string error;
    if (!zv::profile::saveProfileJSON(options.output, *json, Value(prototype), &error)) {
      return fail(options.output + " not written: " + error);
    }
    return 0;
  }
  zv::profile::NodeTextError error;
  auto text = zv::profile::json2tevnodes(*json, Value(prototype), &error);
  if (!text) return fail(options.path + ": cannot write node text: " + error.describe());
  std::cout << *text << "\n";
  return 0;
}

// Line and column of the first difference, and the two lines there.
void reportDifference(const std::string& file, const std::string& written) {
  std::size_t at = 0;
  while (at < file.size() && at < written.size() && file[at] == written[at]) ++at;
  std::size_t line = 1, lineStart = 0;
  for (std::size_t i = 0; i < at; ++i) {
    if (file[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  auto lineAt = [&](const std::string& text) {
    std::string s = text.substr(lineStart, text.find('\n', lineStart) - lineStart);
    if (!s.empty() && s.back() == '\r') s.pop_back();
    return s.substr(0, 120);
  };
  std::cout << "differs at line " << line << ", column " << (at - lineStart + 1) << "\n"
            << "  file:    " << lineAt(file) << "\n"
            << "  written: " << lineAt(written) << "\n";
}

int runRoundtrip(const Options& options, const zv::json::DictionaryPtr& prototype) {
  auto text = readProfile(options.path);
  if (!text) return 1;
  auto json = convertProfile(options.path, *text, prototype);
  if (!json) return 1;
  // Through JSON text, as the editor exchanges it.
  ObjectPtr root = buildTree(options.path, *json, prototype);
  if (!root) return 1;
  const auto jsonText = zv::json::CJSONSerializer::serializer().serializeObject(*json);
  if (!jsonText) return fail(options.path + ": " + jsonText.failure().message);
  if (!root->setJSON(*jsonText)) {
    return fail(options.path + ": the profile JSON does not read back");
  }
  auto again = zv::json::CJSONDeserializer().deserialize(root->JSON());
  if (!again) return fail(options.path + ": the object tree's JSON does not read back");
  zv::profile::NodeTextError error;
  auto written = zv::profile::json2tevnodes(*again, Value(prototype), &error);
  if (!written) return fail(options.path + ": cannot write node text: " + error.describe());
  if (*written == *text) {
    std::cout << "identical: " << options.path << " (" << text->size() << " bytes of text)\n";
    return 0;
  }
  std::cout << "not identical: " << options.path << "\n";
  reportDifference(*text, *written);
  return 1;
}

using Run = int (*)(const Options&, const zv::json::DictionaryPtr&);

// Loads the prototype, then runs.
int withPrototype(Run run, const Options& options) {
  const auto prototype = loadPrototype(options);
  return prototype ? run(options, prototype) : 1;
}

void define(CLI::App& command) {
  command.footer(
      "Converts profiles between node text (.pr0 files, UTF-16) and the profile JSON.\n"
      "FILE may be '-' for standard input. Exit status 1 on any failure.\n");
  struct Action {
    const char* name;
    const char* summary;
    const char* file;
    Run run;
  };
  const Action list[] = {
      {"to-json", "print the profile's JSON as the node text reads", "FILE.pr0", runToJson},
      {"to-text", "print the node text of a profile JSON, or save it as a profile file",
       "FILE.json", runToText},
      {"check", "load a profile; list controllers, shift states, triggers and references",
       "FILE.pr0", runCheck},
      {"roundtrip", "text -> JSON -> objects -> JSON -> text; is the result identical?", "FILE.pr0",
       runRoundtrip},
  };
  for (const Action& action : list) {
    auto options = std::make_shared<Options>();
    CLI::App* sub = command.add_subcommand(action.name, action.summary);
    sub->add_option(action.file, options->path, "the profile ('-' for standard input)")->required();
    const std::string name = action.name;
    if (name == "to-json") {
      sub->add_flag("--tree", options->tree,
                    "as the editor receives it: the object tree built, \"%X\" members as\n"
                    "numbers");
    }
    CLI::Option* output = nullptr;
    if (name == "to-text") {
      output = sub->add_option("--output", options->output,
                               "save it as a profile file instead (atomically; nothing is\n"
                               "written on failure)")
                   ->type_name("OUT.pr0");
    }
    sub->add_option("--prototype", options->prototype,
                    "the profile prototype (default: the tevnodes.prototype resource of\n"
                    "Kinetra.app)")
        ->type_name("P");
    const Run run = action.run;
    setAction(*sub, [sub, output, options, run] {
      options->hasOutput = output && output->count() > 0;
      if (options->hasOutput && options->output.empty()) {
        return usageError(*sub, "--output needs a file name");
      }
      return withPrototype(run, *options);
    });
  }
}

const CommandRegistration registration(kName, "convert and check profiles (node text and JSON)",
                                       define);

}  // namespace
}  // namespace kinetra
