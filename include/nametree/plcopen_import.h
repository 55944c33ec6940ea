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
// A structure or union with a name of its own that stands outside a
// variable (as vendors write types into addData) is a data type too.
//
// Every element of the kinds dataType, pou, variable, configuration,
// resource, task, pouInstance, action and transition that carries a name
// attribute becomes a name, a refusal or a skipped element:
// named = accepted + the refusals' counts + skipped. The name rule is the
// chosen profile's (nametree/identifier_profile.h); the importer decides
// nothing else about a name itself, only where each one goes and what is
// no name at all: a program instance named like its program type (it is
// that program running, not a second name), and free text in vendor data
// (addData), such as a device called "General Axis Pool". Members of a
// structure or union are reached through their variable: they are checked
// against their type's other members and the keywords only.
//
// What the report echoes is bounded whatever the input: names and paths
// are shown escaped (nametree/refusal_text.h) and cut with an ellipsis, a
// path keeps its innermost elements, and refusals for a limit are folded
// into one with their count.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "nametree/identifier_profile.h"
#include "nametree/name_server.h"

namespace nametree {
class Document;
}

namespace nametree::plcopen {

enum class RefusalCause {
  kRule,        // breaks the profile's name rule; see violation
  kDuplicate,   // result E_NAME_DUPLICATE; see hit
  kNul,         // holds U+0000, which no name may
  kTooDeep,     // nested deeper than kMaxScopeDepth scopes
  kScopeLimit,  // its scope would be one container more than a parent holds (kMaxEntriesPerTable)
  kNameLimit,   // its container holds kMaxEntriesPerTable names already
  kOther,       // the library refused it for another reason; see result
};

inline constexpr std::size_t kMaxScopeDepth = 256;

// Where a name stands: its line and column (1-based; the column counts code
// points up to the name's first character inside its attribute) and the
// element path as a report shows it.
struct Location {
  std::size_t line = 0;
  std::size_t column = 0;
  std::size_t width = 0;  // code points the name takes in the file, references as written
  std::string path;
};

// A name the library did not accept.
struct Refusal {
  RefusalCause cause = RefusalCause::kOther;
  std::string name;  // for display: escaped, cut with an ellipsis (UTF-8)
  std::size_t line = 0;
  std::size_t column = 0;
  std::string path;  // innermost element path, named elements as pou[Main], for display
  std::size_t count = 1;  // refusals folded into this one (kTooDeep and the limits)
  HRESULT result = S_OK;  // what AddName gave, or would: E_NAME_INVALID for kRule and kNul, else E_FAIL
  CNameRuleViolation violation;  // the rule it breaks, for kRule
  std::string rule;              // why, in the library's words, for kRule
  CDuplicateHit hit;             // the collision, for kDuplicate
  // A name the server would take instead, for kDuplicate when
  // ImportOptions::propose (empty when it has none).
  std::string suggestion;
  // The refused element in ImportReport::elements (the first for a folded one).
  std::size_t element = 0;
  // The name of the project that holds the colliding text, when the hit is
  // one of the project's own names (empty for a keyword).
  std::string otherName;
  std::size_t otherLine = 0;
  std::size_t otherColumn = 0;
  std::string otherPath;
};

// A named element that is no name.
struct Skipped {
  enum class Why { kInstanceOfItsType, kVendorText };
  Why why = Why::kVendorText;
  std::string name;  // for display, as Refusal::name
  std::size_t line = 0;
  std::size_t column = 0;
  std::string path;
};

// What kind of element a name belongs to, and the scope it is declared in.
// An element's path hashed (ASCII letter case ignored): the element kinds
// and names from the project down to it. An element whose globalId a
// previous import knew takes that element's key, and its descendants
// follow it, so that renaming it moves nothing.
using ElementKey = std::array<std::uint64_t, 2>;

enum class ElementKind {
  kDataType, kPou, kVariable, kMember, kConfiguration, kResource, kTask, kPouInstance, kAction, kTransition,
};
enum class Scope {
  kProject, kDataType, kProgram, kFunctionBlock, kFunction, kMethod, kConfiguration, kResource, kGlobalList,
};

// Every named element of the name kinds, in document order: what the naming
// conventions judge.
struct Element {
  ElementKind kind = ElementKind::kVariable;
  Scope scope = Scope::kProject;
  // A POU's pouType; a data type's base kind ("struct", "enum", "union",
  // "array", "subrange", "alias"); a variable's section ("localVars", ...).
  std::string subKind;
  // A variable's type: an elementary type's name in upper case, "ARRAY",
  // "POINTER", or a derived type's name as written.
  std::string type;
  bool located = false;  // a variable with an address (AT %I...)
  CString text;          // the name, cut after 2 * kMaxNameLength units
  std::size_t length = 0;  // the name's whole length in units
  std::string name;        // for display, as Refusal::name
  Location where;
  std::uint32_t nameID = 0;  // 0 when it was refused or skipped
  ElementKey key{};          // with ImportOptions::keys only
  std::string globalId;      // as written, empty when it carries none
};

struct ImportOptions {
  // mutate: plcopen-profile-classic
  NameProfile profile = NameProfile::kIec61131_3;
  // Propose a free name for each duplicate (advances the containers' counters).
  bool propose = false;
  // Give each element and container its ElementKey.
  bool keys = false;
  // The keys a previous import gave to elements by globalId.
  const std::unordered_map<std::string, ElementKey>* knownGlobalIds = nullptr;
};

struct GlobalId {
  std::string globalId;
  std::uint32_t id = 0;  // the element's name ID, or the container it opened
};

// A container the import made, with the name of the element that opened it
// (a POU, a data type, a configuration, a resource, a method, a global
// list), as written; empty for a variable's inline struct.
struct MadeContainer {
  std::uint32_t id = 0;
  std::uint32_t parent = 0;  // 0 at the top level
  CString name;
  std::int16_t type = 0;
  ElementKey key{};  // with ImportOptions::keys
  // The element that opened it in ImportReport::elements, or npos (the
  // global container, a variable's inline struct).
  std::size_t element = static_cast<std::size_t>(-1);
};

struct ImportReport {
  std::size_t named = 0;     // elements of the name kinds with a name attribute
  std::size_t accepted = 0;  // names the server took
  std::size_t containers = 0;
  std::uint32_t globalContainer = 0;
  std::vector<Refusal> refused;  // in document order (a folded one where it first occurred)
  std::vector<Skipped> skipped;  // in document order
  std::vector<GlobalId> globalIds;
  std::vector<Element> elements;  // in document order
  std::vector<MadeContainer> made;  // parents before their children
  // The element of each name the server took, by name ID.
  const Element* ElementOf(std::uint32_t nameID) const;
  std::unordered_map<std::uint32_t, std::size_t> byNameID;
};

enum class ImportStatus {
  kOk,
  kNotFound,     // no file at the path
  kUnreadable,   // the file could not be read
  kMalformed,    // not well-formed XML
  kNotAFile,     // a directory, pipe or device: read only regular files
  kNotPlcopen,   // well-formed, but no PLCopen project
  kNotImported,  // an update of a document that keeps no origins of an import
  kReadOnly,     // an import into, or an update of, a document opened read-only
};

struct ImportFailure {
  ImportStatus status = ImportStatus::kOk;
  std::size_t line = 0;
  std::string message;
};

// Imports into `server`, which should be empty and hold the keywords to
// apply. On a failure other than refusals nothing has been added.
ImportFailure ImportPlcopenFile(const std::string& path, CNameServer& server, ImportReport* report,
                                const ImportOptions& options = {});
// The same for a document in memory; `xml` is used as the parse buffer.
ImportFailure ImportPlcopenBuffer(std::string xml, CNameServer& server, ImportReport* report,
                                  const ImportOptions& options = {});
// The same into `doc`, which should be empty, reserving `keywords` first;
// kReadOnly, before anything is read, for a document opened read-only.
// Nothing is committed.
ImportFailure ImportPlcopenFile(const std::string& path, Document& doc, const std::vector<CString>& keywords,
                                ImportReport* report, const ImportOptions& options = {});

// Labels the containers the import made in `file`, so that @POU_NAME finds
// them: each with its element's name, or where that breaks the label rule
// or another container holds it (letter case ignored), with the names of
// the named containers above joined by '_' (Config1_Res1). A container
// with a label keeps it. Returns how many named containers got no label.
std::size_t LabelMadeContainers(const ImportReport& report, Document& doc);

}  // namespace nametree::plcopen
