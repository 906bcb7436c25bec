// The dispatcher of telvane-fax: each command group registers a name, a usage
// text and the procedure that runs it with the arguments after the name.
#pragma once

#include <string>
#include <vector>

namespace tv::tool {

struct FaxCommand {
  const char* name;
  const char* usage;  // one or more lines, each beginning with "telvane-fax "
  int (*run)(const std::vector<std::string>& args);
};

void RegisterCommand(const FaxCommand& command);

// Registers a command at start-up; define one at namespace scope per command.
struct CommandRegistrar {
  explicit CommandRegistrar(const FaxCommand& command) { RegisterCommand(command); }
};

}  // namespace tv::tool
