#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/telvane-fax/commands.h"

namespace tv::tool {

namespace {
std::vector<FaxCommand>& Commands() {
  static std::vector<FaxCommand> commands;
  return commands;
}

void PrintUsage(FILE* out) {
  std::fprintf(out, "Usage:\n");
  for (const auto& c : Commands()) std::fprintf(out, "%s\n", c.usage);
}
}  // namespace

void RegisterCommand(const FaxCommand& command) { Commands().push_back(command); }

}  // namespace tv::tool

int main(int argc, char** argv) {
  using namespace tv::tool;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const auto& c : Commands()) {
    if (std::strcmp(argv[1], c.name) == 0) {
      return c.run(std::vector<std::string>(argv + 2, argv + argc));
    }
  }
  std::fprintf(stderr, "telvane-fax: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
