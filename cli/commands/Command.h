// A command of lu14, and the table that names them all. A command is a file
// of its own in this folder: its options, the checks the parser cannot make
// alone, and what it does with the meter. Adding one is that file and its
// line in Commands.cpp.
#pragma once

#include <CLI/CLI.hpp>

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/output/Messages.h"

namespace lu14::cli {

class CliSession;

// A command line that cannot be run, with the catalogue's words for why.
// Thrown by the checks (the parser's validators among them) and turned into
// the usage error of exit code 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A validator refusing an empty value: "{name} needs a value".
CLI::Validator NonEmpty(Language language, std::string name);

struct CommandSpec {
  Command command;
  const char* name;
  Msg help;
  // Adds the command's own options to its subcommand, read into `options`;
  // plain words after the command go to `words`. Null: it has none.
  void (*declare)(CLI::App& command, CliOptions& options, std::vector<std::string>& words) = nullptr;
  // Takes the plain words (those after "--" too) and checks what needs the
  // whole line; throws UsageError. Null: the command takes no words.
  void (*finish)(CliOptions& options, std::vector<std::string>& words) = nullptr;
  // Does the command; its exit code.
  int (*run)(CliSession& session) = nullptr;
  // Whether it writes to the meter (then, of several meters, one must be named).
  bool (*writes)(const CliOptions& options) = nullptr;
  // Whether its own error already says that a stop signal ended it.
  bool saysWhyStopped = false;
  // How long it waits for a meter when --wait does not say.
  int defaultWaitSeconds = kDefaultWaitSeconds;
};

// Every command, in the order the help lists them.
const std::vector<CommandSpec>& Commands();
// The command of this name, or null.
const CommandSpec* FindCommand(std::string_view name);
const CommandSpec& CommandOf(Command command);

}  // namespace lu14::cli
