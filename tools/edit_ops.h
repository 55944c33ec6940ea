// One edit of a loaded name server, as typed on the command line without
// the program and the document: add, rename, delete, add-container and
// (in a batch) keyword. Shared by the single commands, which save after
// one edit, and by batch, which saves after all of them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "args.h"
#include "output.h"

namespace nametree::cli {

// Results of labelled lines of a batch: "--as plc1" makes @plc1 stand for
// the new ID in later lines.
struct Labels {
  std::map<std::string, std::uint32_t, std::less<>> ids;
  std::map<std::string, int, std::less<>> refusedAt;  // a label whose line was refused
};

struct EditContext {
  CNameServer& server;
  Labels* labels = nullptr;  // batch only
};

struct EditResult {
  int exit = kExitOk;  // kExitRefused: the library said no; kExitError: the arguments are wrong
  HRESULT hr = S_OK;
  std::string text;  // what was done, or what could not be done and why
  Json json;         // what was done, as members
  std::uint32_t created = 0;
};

// The edit that args.Command() names, with args' positional words after
// the document. Nothing is printed.
EditResult ApplyEdit(EditContext& context, const Args& args);

// The table entries of the edit commands. Those of a batch line take no
// document, take --as, and add the keyword command.
std::vector<CommandSpec> EditCommandSpecs(bool batchLine);

}  // namespace nametree::cli
