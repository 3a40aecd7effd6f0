#include "HelpFormatter.h"

#include <sstream>
#include <vector>

#include "Command.h"

namespace kinetra {

namespace {

constexpr std::size_t kUsageWidth = 90;

// -h/--help and the tool's --version: every command has the one, only the tool the other;
// neither belongs in a command's usage.
bool isHelp(const CLI::App& app, const CLI::Option* option) {
  return option == app.get_help_ptr() || option == app.get_help_all_ptr() ||
         option == app.get_version_ptr();
}

bool isFlag(const CLI::Option* option) {
  return option->get_type_name().empty();
}

// "--prototype P", "[--tree]", "FILE", "[PAGE]".
std::string synopsisOf(const CLI::Option* option) {
  std::string text;
  if (option->get_positional()) {
    text = option->get_name(true);
  } else {
    text = option->get_name();
    if (!isFlag(option)) text += " " + option->get_type_name();
  }
  return option->get_required() ? text : "[" + text + "]";
}

std::vector<const CLI::Option*> namedOptions(const CLI::App& app) {
  return app.get_options([&app](const CLI::Option* option) {
    return !option->get_positional() && !isHelp(app, option) && !option->get_group().empty();
  });
}

std::vector<const CLI::Option*> positionals(const CLI::App& app) {
  return app.get_options([](const CLI::Option* option) {
    return option->get_positional() && !option->get_group().empty();
  });
}

std::vector<const CLI::App*> subcommandsOf(const CLI::App& app) {
  return app.get_subcommands([](const CLI::App* sub) { return !sub->get_group().empty(); });
}

// The words of the line that runs `app`: each command from the tool down with its options,
// the arguments of `app` right after its name.
std::vector<std::string> wordsFor(const CLI::App& app) {
  std::vector<const CLI::App*> chain;
  for (const CLI::App* at = &app; at; at = at->get_parent()) chain.insert(chain.begin(), at);
  std::vector<std::string> words;
  for (const CLI::App* command : chain) {
    words.push_back(command->get_name());
    if (command == &app) {
      for (const CLI::Option* option : positionals(app)) words.push_back(synopsisOf(option));
    }
    for (const CLI::Option* option : namedOptions(*command)) words.push_back(synopsisOf(option));
  }
  return words;
}

// Long lines break between words, continuing under the first argument.
void appendLine(std::string& out, const std::vector<std::string>& words, const std::string& lead) {
  std::string line = lead;
  std::size_t indent = lead.size();
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i == 1) indent = line.size() + 1;
    if (i > 1 && line.size() + 1 + words[i].size() > kUsageWidth) {
      out += line + "\n";
      line = std::string(indent - 1, ' ');
    }
    line += (i == 0 ? "" : " ") + words[i];
  }
  out += line + "\n";
}

void appendUsage(std::string& out, const CLI::App& app) {
  const auto subcommands = subcommandsOf(app);
  if (!app.get_parent()) {
    appendLine(out, {app.get_name(), "COMMAND", "[ARGS…]"}, "");
    return;
  }
  if (hasAction(app) || subcommands.empty()) appendLine(out, wordsFor(app), "");
  for (const CLI::App* sub : subcommands) appendUsage(out, *sub);
}

// "  NAME   description", descriptions of several lines aligned under the first.
std::string table(const std::vector<std::pair<std::string, std::string>>& rows) {
  std::size_t width = 0;
  for (const auto& row : rows) width = std::max(width, row.first.size());
  width += 3;
  std::string out;
  for (const auto& [name, description] : rows) {
    std::string line = "  " + name;
    std::istringstream lines(description);
    std::string text;
    bool first = true;
    while (std::getline(lines, text)) {
      if (first) {
        line += std::string(2 + width - line.size(), ' ') + text;
        first = false;
      } else {
        line += "\n" + std::string(2 + width, ' ') + text;
      }
    }
    out += line + "\n";
  }
  return out;
}

}  // namespace

std::string usageLines(const CLI::App& app) {
  std::string out;
  appendUsage(out, app);
  return out;
}

std::string HelpFormatter::make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const {
  std::string usage = usageLines(*app);
  std::string out;
  // "usage: " before the first line; the others aligned under it.
  std::istringstream lines(usage);
  std::string line;
  for (bool first = true; std::getline(lines, line); first = false) {
    out += (first ? "usage: " : "       ") + line + "\n";
  }
  if (!app->get_description().empty()) out += "\n" + app->get_description() + "\n";
  // A subcommand made after its parent's footer was set inherits it: show it only once.
  const std::string footer = app->get_footer();
  if (!footer.empty() && !(app->get_parent() && app->get_parent()->get_footer() == footer)) {
    out += "\n" + footer;
  }
  if (!out.empty() && out.back() != '\n') out += "\n";

  std::vector<std::pair<std::string, std::string>> rows;
  for (const CLI::Option* option : positionals(*app)) {
    if (!option->get_description().empty()) {
      rows.emplace_back(option->get_name(true), option->get_description());
    }
  }
  if (!rows.empty()) out += "\narguments:\n" + table(rows);
  rows.clear();
  for (const CLI::Option* option : namedOptions(*app)) {
    std::string name = option->get_name();
    if (!isFlag(option)) name += " " + option->get_type_name();
    rows.emplace_back(name, option->get_description());
  }
  if (!rows.empty()) out += "\noptions:\n" + table(rows);
  rows.clear();
  for (const CLI::App* sub : subcommandsOf(*app)) {
    rows.emplace_back(sub->get_name(), sub->get_description());
  }
  if (!rows.empty()) out += "\ncommands:\n" + table(rows);
  if (!app->get_parent()) {
    out +=
        "\nRun 'kinetra COMMAND --help' for a command's options, 'kinetra --version' for the "
        "version.\n";
  }
  return out;
}

}  // namespace kinetra
