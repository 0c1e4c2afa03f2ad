#include "cli/commands/Command.h"

#include <algorithm>

namespace lu14::cli {

// Each defined in its own file.
CommandSpec StatusCommand();
CommandSpec ListCommand();
CommandSpec UpdateCommand();
CommandSpec OptionCommand();
CommandSpec ChecksumCommand();
CommandSpec BackupCommand();
CommandSpec RestoreCommand();

const std::vector<CommandSpec>& Commands() {
  static const std::vector<CommandSpec> commands{StatusCommand(),   ListCommand(),   UpdateCommand(), OptionCommand(),
                                                 ChecksumCommand(), BackupCommand(), RestoreCommand()};
  return commands;
}

const CommandSpec* FindCommand(std::string_view name) {
  const auto& commands = Commands();
  const auto found = std::find_if(commands.begin(), commands.end(), [&](const CommandSpec& c) { return name == c.name; });
  return found == commands.end() ? nullptr : &*found;
}

const CommandSpec& CommandOf(Command command) {
  const auto& commands = Commands();
  return *std::find_if(commands.begin(), commands.end(), [&](const CommandSpec& c) { return c.command == command; });
}

}  // namespace lu14::cli
