// nametree: manage the names of a document from the command line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "args.h"
#include "cli.h"
#include "nametree/version.h"

using namespace nametree::cli;

namespace {

std::vector<CommandSpec> Commands() {
  std::vector<CommandSpec> table;
  AddDocumentCommands(table);
  AddEditCommands(table);
  AddNameCommands(table);
  AddDemoCommand(table);
  return table;
}

void PrintGlobalHelp(const std::vector<CommandSpec>& table) {
  std::printf(
      "usage: nametree COMMAND [ARGS...]\n\n"
      "Keeps the names of a document valid and unique across its namespaces: a\n"
      "tree of containers whose top-level global containers no name may repeat and\n"
      "whose target containers must not collide with the global ones.\n\n"
      "Commands:\n");
  for (const CommandSpec& c : table)
    std::printf("  %-14.*s %.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                static_cast<int>(c.summary.size()), c.summary.data());
  std::printf(
      "\nRun 'nametree COMMAND --help' for the arguments of one command. Names are\n"
      "UTF-8. Exit codes: 0 success, 1 refused by the library, 2 usage or file error.\n"
      "Try 'nametree demo' for a tour.\n");
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<CommandSpec> table = Commands();
  if (argc < 2) {
    PrintGlobalHelp(table);
    return kExitError;
  }
  const std::string first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    PrintGlobalHelp(table);
    return kExitOk;
  }
  if (first == "--version") {
    std::printf("nametree %s\n", nametree::LibraryVersion());
    return kExitOk;
  }
  for (const CommandSpec& command : table) {
    if (command.name != first) continue;
    Args args;
    int exitCode = kExitOk;
    if (!Args::Parse(command, std::vector<std::string>(argv + 2, argv + argc), &args, &exitCode))
      return exitCode;
    return command.run(args);
  }
  std::fprintf(stderr, "nametree: unknown command '%s'\nTry 'nametree --help'.\n", first.c_str());
  return kExitError;
}
