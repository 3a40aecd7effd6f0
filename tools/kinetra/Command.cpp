#include "Command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "HelpFormatter.h"
#include "protocol/SuiteVersion.h"

namespace kinetra {

namespace {

struct Registered {
  std::string name;
  std::string summary;
  CommandDefinition define;
};

std::vector<Registered>& registry() {
  static std::vector<Registered> list;
  return list;
}

std::map<const CLI::App*, Action>& actions() {
  static std::map<const CLI::App*, Action> table;
  return table;
}

// The subcommand the command line got to: the last one parsed, even when parsing failed
// inside it.
const CLI::App* deepestParsed(const CLI::App& root) {
  const CLI::App* at = &root;
  for (;;) {
    const auto chosen = at->get_subcommands();
    if (chosen.empty()) return at;
    at = chosen.front();
  }
}

// The tool's command a subcommand belongs to ("prefs" for `kinetra prefs get`): the name
// its messages carry.
std::string commandName(const CLI::App& command) {
  const CLI::App* at = &command;
  while (at->get_parent() && at->get_parent()->get_parent()) at = at->get_parent();
  return at->get_parent() ? at->get_name() : std::string();
}

std::string prefix(const CLI::App& command) {
  const std::string name = commandName(command);
  return name.empty() ? "kinetra: " : "kinetra " + name + ": ";
}

std::vector<std::string> subcommandNames(const CLI::App& command) {
  std::vector<std::string> names;
  for (const CLI::App* sub : command.get_subcommands({})) names.push_back(sub->get_name());
  return names;
}

// "'get', 'set' or 'watch'".
std::string choices(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
    text += "'" + names[i] + "'";
  }
  return text;
}

// A parse error in words that name what was wrong on the command line.
std::string describeParseError(const CLI::App& command, const CLI::ParseError& error) {
  const bool choosesSubcommand = !command.get_subcommands({}).empty() && !hasAction(command);
  // What no command took: with fallthrough, a subcommand hands what it does not know to
  // its parents.
  std::vector<std::string> extra = command.remaining();
  for (const CLI::App* at = command.get_parent(); at; at = at->get_parent()) {
    const auto more = at->remaining();
    extra.insert(extra.end(), more.begin(), more.end());
  }
  const bool extraError = dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr;
  // An unknown option explains the rest (a value taken for an argument, say): name it first.
  for (const std::string& word : extra) {
    if (word.size() > 1 && word[0] == '-') return "unknown option '" + word + "'";
  }
  if (!extra.empty() && (extraError || choosesSubcommand)) {
    const std::string& first = extra.front();
    if (!command.get_parent()) return "unknown command '" + first + "'";
    if (choosesSubcommand) return "unknown action '" + first + "'";
    return "unexpected argument '" + first + "'";
  }
  if (dynamic_cast<const CLI::RequiredError*>(&error) ||
      dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
    if (choosesSubcommand) return "expected " + choices(subcommandNames(command));
    // Missing arguments: say all that the command takes ("'test' takes PAGE and USAGE").
    std::vector<std::string> names;
    bool missing = false;
    for (const CLI::Option* option : command.get_options()) {
      if (!option->get_positional() || !option->get_required()) continue;
      names.push_back(option->get_name(true));
      missing = missing || option->count() == 0;
    }
    if (missing) {
      std::string list;
      for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) list += i + 1 == names.size() ? " and " : ", ";
        list += names[i];
      }
      return "'" + command.get_name() + "' takes " + list;
    }
  }
  return error.what();
}

// With --help anywhere, the parser stops before it looks at the words: `kinetra NOSUCH
// --help` would print the tool's help and succeed, fooling a script that probes for a
// command. The word after the deepest command the parser took, when that command chooses
// among subcommands and takes no arguments itself, must name one of them.
std::optional<std::string> unknownWordBeforeHelp(const CLI::App& root, int argc, char** argv) {
  std::vector<const CLI::App*> chain{&root};
  while (!chain.back()->get_subcommands().empty()) {
    chain.push_back(chain.back()->get_subcommands().front());
  }
  const CLI::App& deepest = *chain.back();
  if (deepest.get_subcommands({}).empty()) return std::nullopt;
  for (const CLI::Option* option : deepest.get_options()) {
    if (option->get_positional()) return std::nullopt;
  }
  // Where the deepest command's name is on the command line.
  std::size_t matched = 1;
  int at = 1;
  for (; at < argc && matched < chain.size(); ++at) {
    if (argv[at] == chain[matched]->get_name()) ++matched;
  }
  // Only the very next word: after an option it may be that option's value.
  if (at >= argc || std::string_view(argv[at]).starts_with('-')) return std::nullopt;
  const std::string_view word = argv[at];
  for (const CLI::App* sub : deepest.get_subcommands({})) {
    if (sub->get_name() == word) return std::nullopt;
  }
  return std::string(word);
}

// Commands with subcommands and no action of their own need one subcommand; the others
// take at most one.
void requireSubcommands(CLI::App& command) {
  for (CLI::App* sub : command.get_subcommands({})) requireSubcommands(*sub);
  if (command.get_subcommands({}).empty()) return;
  if (hasAction(command)) {
    command.require_subcommand(0, 1);
  } else {
    command.require_subcommand(1);
  }
}

}  // namespace

CommandRegistration::CommandRegistration(std::string name, std::string summary,
                                         CommandDefinition define) {
  auto& list = registry();
  list.push_back({std::move(name), std::move(summary), std::move(define)});
  std::sort(list.begin(), list.end(),
            [](const Registered& a, const Registered& b) { return a.name < b.name; });
}

void setAction(CLI::App& command, Action action) {
  actions()[&command] = std::move(action);
}

bool hasAction(const CLI::App& command) {
  return actions().count(&command) > 0;
}

int usageError(const CLI::App& command, std::string_view message) {
  std::cerr << prefix(command) << message << "\n\n" << command.help();
  return 1;
}

int runCommandLine(int argc, char** argv) {
  CLI::App app("", "kinetra");
  app.formatter(std::make_shared<HelpFormatter>());
  app.set_help_flag("-h,--help", "print this help and exit");
  app.set_version_flag("--version", std::string("kinetra ") + zv::kSuiteVersion,
                       "print the version and exit");
  // Options of a command may follow its subcommand: `kinetra prefs set K V --brand B`.
  app.fallthrough();
  for (const Registered& entry : registry()) {
    entry.define(*app.add_subcommand(entry.name, entry.summary));
  }
  app.description("The command-line tool of the mouse suite.");
  requireSubcommands(app);

  if (argc < 2) {
    std::cerr << app.help();
    return 1;
  }
  if (std::string_view(argv[1]) == "help") {
    std::cout << app.help();
    return 0;
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForVersion& version) {
    std::cout << version.what() << "\n";
    return 0;
  } catch (const CLI::CallForHelp&) {
    const CLI::App& command = *deepestParsed(app);
    if (const auto word = unknownWordBeforeHelp(app, argc, argv)) {
      std::cerr << prefix(command)
                << (command.get_parent() ? "unknown action '" : "unknown command '") << *word
                << "'\n\n"
                << command.help();
      return 1;
    }
    std::cout << command.help();
    return 0;
  } catch (const CLI::ParseError& error) {
    const CLI::App& command = *deepestParsed(app);
    std::cerr << prefix(command) << describeParseError(command, error) << "\n\n" << command.help();
    return 1;
  }

  const CLI::App& chosen = *deepestParsed(app);
  const auto action = actions().find(&chosen);
  if (action == actions().end()) return usageError(chosen, "nothing to do");
  try {
    return action->second();
  } catch (const std::exception& e) {
    std::cerr << prefix(chosen) << e.what() << "\n";
    return 1;
  }
}

}  // namespace kinetra
