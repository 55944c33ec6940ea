// Brings the names of a PLCopen XML project (TC6 schema 2.00 or 2.01) into a
// name server, so that the library judges them with IEC 61131-3 scoping:
//
//   global container (2, top level)  data type, POU and configuration names
//     data type scope (0)            members of a structure or union
//     POU scope (0)                  interface variables, actions, transitions
//       method scope (0)             a method's own variables
//   configuration (3, top level)     its global variables, resource names
//     resource (0)                   its global variables, tasks, POU instances
//   global variable list (3, top)    the list's variables
//
// Scopes are type 0 because the searches of the duplicate check descend
// into types 2, 3 and 4 only: a POU scope of one of those types would put
// every POU's locals into the global namespace. A type 0 scope checks its
// own names, the keywords and the global namespace, which is what IEC
// 61131-3 asks of a local: unique in its POU, not a type or POU name, free
// to repeat a global variable or a local of another POU.
//
// Every element of the kinds dataType, pou, variable, configuration,
// resource, task, pouInstance, action and transition that carries a name
// attribute becomes a name or a refusal with the library's verdict. The
// importer decides nothing about a name itself; it only chooses where each
// one goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "nametree/name_server.h"

namespace nametree::plcopen {

// A name the library did not accept.
struct Refusal {
  std::string name;  // as the project spells it (UTF-8)
  std::size_t line = 0;
  std::string path;  // element path from the root, named elements as pou[Main]
  HRESULT result = S_OK;
  CNameRuleViolation violation;  // the rule it breaks, for E_NAME_INVALID
  CDuplicateHit hit;             // the collision, for E_NAME_DUPLICATE
  // The name of the project that holds the colliding text, when the hit is
  // one of the project's own names (empty for a keyword).
  std::string otherName;
  std::size_t otherLine = 0;
  std::string otherPath;
};

struct GlobalId {
  std::string globalId;
  std::uint32_t id = 0;  // the element's name ID, or the container it opened
};

struct ImportReport {
  std::size_t named = 0;     // elements of the name kinds with a name attribute
  std::size_t accepted = 0;  // names the server took
  std::size_t containers = 0;
  std::uint32_t globalContainer = 0;
  std::vector<Refusal> refused;  // in document order
  std::vector<GlobalId> globalIds;
};

enum class ImportStatus {
  kOk,
  kUnreadable,   // the file could not be read
  kMalformed,    // not well-formed XML
  kNotPlcopen,   // well-formed, but no PLCopen project
};

struct ImportFailure {
  ImportStatus status = ImportStatus::kOk;
  std::size_t line = 0;
  std::string message;
};

// Imports into `server`, which should be empty and hold the keywords to
// apply. On a failure other than refusals nothing has been added.
ImportFailure ImportPlcopenFile(const std::string& path, CNameServer& server, ImportReport* report);
// The same for a document in memory; `xml` is used as the parse buffer.
ImportFailure ImportPlcopenBuffer(std::string xml, CNameServer& server, ImportReport* report);

}  // namespace nametree::plcopen
