// kinetra startup NAME|--none [--device ALIAS] [--bundle PATH]
#include "Command.h"
#include "ProfileChoice.h"

namespace kinetra {
namespace {

constexpr const char* kName = "startup";

void define(CLI::App& command) {
  defineProfileChoice(
      command,
      {kName,
       "Chooses the profile the agent makes current when it starts; --none chooses none\n"
       "(the agent then starts with the default profile).\n",
       "no start-up profile",
       [](zv::store::ZVProfileStore& store, const std::string& name,
          std::string& error) -> std::optional<std::string> {
         if (!store.setStartupProfileByName(name, &error)) return std::nullopt;
         return "start-up profile: " + name;
       },
       [](zv::store::ZVProfileStore& store, std::string& error) -> std::optional<std::string> {
         if (!store.setStartupProfileByName("", &error)) return std::nullopt;
         return std::string("no start-up profile");
       }});
}

const CommandRegistration registration(kName, "choose the profile the agent starts with", define);

}  // namespace
}  // namespace kinetra
