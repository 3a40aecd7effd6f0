// kinetra use NAME|--none [--device ALIAS] [--bundle PATH]
#include "Command.h"
#include "ProfileChoice.h"

namespace kinetra {
namespace {

constexpr const char* kName = "use";

void define(CLI::App& command) {
  defineProfileChoice(
      command,
      {kName,
       "Makes profile NAME the current one, as choosing it in the agent's menu does; the\n"
       "running agent and editor follow at once. --none turns profiles off (the mouse\n"
       "works as a plain mouse).\n",
       "no profile",
       [](zv::store::ZVProfileStore& store, const std::string& name,
          std::string& error) -> std::optional<std::string> {
         // A profile that does not load is refused with the loader's message:
         // the agent would run nothing.
         if (!store.setCurrentProfileByName(name, &error)) return std::nullopt;
         if (store.noProfile() && !store.setNoProfile(false, &error)) return std::nullopt;
         return "current profile: " + store.currentProfileName();
       },
       [](zv::store::ZVProfileStore& store, std::string& error) -> std::optional<std::string> {
         if (!store.setNoProfile(true, &error)) return std::nullopt;
         return std::string("no profile is active");
       }});
}

const CommandRegistration registration(kName, "make a profile current", define);

}  // namespace
}  // namespace kinetra
