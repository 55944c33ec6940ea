// 'nametree demo': a tour of the library on a plant document made in a
// temporary directory (removed afterwards), or in a directory the user keeps.
#include "demo.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "bound.h"
#include "cli.h"
#include "document.h"
#include "nametree/utf8.h"
#include "output.h"
#include "tree_view.h"

namespace nametree::cli {

namespace {

// Where the demo writes: a temporary directory removed at the end, or the
// user's directory (new or empty, so that no file of theirs is overwritten).
class DemoDir {
 public:
  explicit DemoDir(const std::string* keep) {
    if (keep) {
      std::error_code ec;
      std::filesystem::create_directories(*keep, ec);
      if (!ec && std::filesystem::is_empty(*keep, ec) && !ec) path_ = *keep;
      kept_ = true;
      return;
    }
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/nametree-demo-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~DemoDir() {
    std::error_code ec;
    if (!kept_ && !path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }
  bool Kept() const { return kept_; }

 private:
  std::string path_;
  bool kept_ = false;
};

struct Plant {
  std::uint32_t global = 0, devices = 0, drivers = 0, plc1 = 0, program = 0, plc2 = 0;
  DemoCaptions captions;  // shown in trees
  DemoCaptions labels;    // shown in one-line reports
};

void BuildNamespaces(CNameServer& server, Plant& p) {
  p.global = server.AddContainer(0, kGlobalContainer);
  p.devices = server.AddContainer(p.global, kGlobalContainer);
  p.drivers = server.AddContainer(p.global, kGlobalContainer);
  p.plc1 = server.AddContainer(0, kTargetContainer);
  p.program = server.AddContainer(p.plc1, kLocalCheckContainer);
  p.plc2 = server.AddContainer(0, kTargetContainer);
  p.captions = {{p.global, "plant: no name may repeat these"},
                {p.devices, "devices"},
                {p.drivers, "drivers"},
                {p.plc1, "PLC1: must stay apart from the global names"},
                {p.program, "PLC1 program: may confine its check to itself"},
                {p.plc2, "PLC2"}};
  p.labels = {{p.global, "plant"},  {p.devices, "devices"},      {p.drivers, "drivers"},
              {p.plc1, "PLC1"},     {p.program, "PLC1 program"}, {p.plc2, "PLC2"}};
  for (const char16_t* k : {u"BEGIN", u"END", u"IF", u"THEN"}) server.AddKeyword(k);
}

// Adds `count` names proposed from `base`; returns "First ... Last".
std::string ProposeAndAdd(CNameServer& server, std::uint32_t container, const char16_t* base,
                          int digits, int count) {
  CString first, last;
  for (int i = 0; i < count; ++i) {
    CString proposal;
    std::uint32_t id = 0;
    if (server.GetNextName(container, base, digits, &proposal) != S_OK ||
        server.AddName(id, container, proposal, kOrdinaryName, true) != S_OK)
      break;
    (i == 0 ? first : last) = proposal;
  }
  return ToUtf8(first) + " ... " + ToUtf8(last);
}

void ProposeNames(CNameServer& server, const Plant& p) {
  DemoHeading(2, "A few hundred names, proposed with GetNextName");
  const std::string pumps = ProposeAndAdd(server, p.devices, u"Pump", 3, 80);
  const std::string valves = ProposeAndAdd(server, p.devices, u"Valve", 3, 120);
  const std::string motors = ProposeAndAdd(server, p.devices, u"Motor", 3, 60);
  const std::string profibus = ProposeAndAdd(server, p.drivers, u"Profibus", 0, 4);
  const std::string tags1 = ProposeAndAdd(server, p.plc1, u"Tag", 0, 40);
  const std::string tags2 = ProposeAndAdd(server, p.plc2, u"Tag", 0, 40);
  const std::string counters = ProposeAndAdd(server, p.program, u"Counter", 0, 10);
  std::printf("devices  %3d names: %s, %s, %s\n", server.GetNameSize(p.devices), pumps.c_str(),
              valves.c_str(), motors.c_str());
  std::printf("drivers  %3d names: %s\n", server.GetNameSize(p.drivers), profibus.c_str());
  std::printf("PLC1     %3d names: %s (its program: %s)\n", server.GetNameSize(p.plc1),
              tags1.c_str(), counters.c_str());
  std::printf("PLC2     %3d names: %s (targets may repeat each other's names)\n",
              server.GetNameSize(p.plc2), tags2.c_str());
  CString next;
  server.GetNextName(p.devices, u"Pump", 3, &next);
  std::printf("next proposal for \"Pump\" in devices: %s\n", ToUtf8(next).c_str());
}

void TryAdd(CNameServer& server, const Plant& p, std::uint32_t container, const char16_t* name,
            bool confine) {
  std::uint32_t id = 0;
  const HRESULT hr = server.AddName(id, container, name, kOrdinaryName, true, confine);
  std::string line = "add " + Quoted(name) + " to " + p.labels.at(container) +
                     (confine ? " (confined)" : "");
  std::string why;
  if (hr == S_OK) {
    why = "accepted as ID " + std::to_string(id);
  } else if (hr == E_NAME_DUPLICATE) {
    CDuplicateHit hit;
    server.FindDuplicate(container, name, confine, &hit);
    why = StatusName(hr) + ": " + DescribeDuplicate(hit);
  } else {
    CNameRuleViolation broken;
    server.ExplainInvalidName(name, kOrdinaryName, &broken);
    why = StatusName(hr) + ": " + DescribeRuleViolation(name, kOrdinaryName, broken);
  }
  std::printf("%-38s %s\n", line.c_str(), why.c_str());
}

void ShowCollisions(CNameServer& server, const Plant& p) {
  DemoHeading(3, "Collisions are refused, and check says where");
  TryAdd(server, p, p.plc1, u"pump007", false);
  TryAdd(server, p, p.global, u"Tag12", false);
  TryAdd(server, p, p.program, u"Tag12", false);
  TryAdd(server, p, p.program, u"Tag12", true);
  TryAdd(server, p, p.devices, u"Begin", false);
  TryAdd(server, p, p.devices, u"2ndPump", false);
}

void RenameAndDelete(Document& doc, const Plant& p) {
  DemoHeading(4, "Renames and deletes, as the host is told");
  CNameServer& server = doc.Server();
  const auto token = doc.Notifications().Subscribe([](const CNotification& n) {
    std::printf("  -> %s\n", DescribeNotification({n.Name(), *n.Payload()}).c_str());
  });
  const std::uint32_t pump1 = server.GetID(p.devices, u"Pump001");
  const std::uint32_t valve3 = server.GetID(p.devices, u"Valve003");
  std::printf("rename Pump001 (ID %u) to FeedPump\n", pump1);
  server.Rename(0, pump1, u"FeedPump", kOrdinaryName, true, false);
  std::printf("delete Valve003 (ID %u)\n", valve3);
  server.DeleteName(p.devices, valve3, true);
  std::printf("delete container %u (PLC2) with its %d names, which are not notified one by one\n",
              p.plc2, server.GetNameSize(p.plc2));
  server.DeleteContainer(p.plc2, true);
  doc.Notifications().Unsubscribe(token);
}

int SaveAndReload(Reporter& report, Document& doc, const Plant& p) {
  DemoHeading(5, "Saved, and loaded back into a new server");
  if (int rc = SaveDocument(report, doc)) return rc;
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(doc.Path().string(), ec);
  Document reloaded = Document::InMemory();
  if (int rc = OpenDocument(report, reloaded, doc.Path().string(), false)) return rc;
  const bool same = TreeJson(reloaded) == TreeJson(doc);
  const TreeCounts counts = CountTree(reloaded);
  std::printf("saved plant.nt (%ju bytes); loaded: %d containers, %d names, %s tree\n",
              static_cast<std::uintmax_t>(ec ? 0 : bytes), counts.containers, counts.names,
              same ? "the same" : "a DIFFERENT");
  CString next;
  reloaded.Server().GetNextName(p.devices, u"Pump", 3, &next);
  std::printf("counters are not saved: the next \"Pump\" is %s again, as Pump001 was renamed\n",
              ToUtf8(next).c_str());
  std::printf("IDs continue after the saved counter: %u\n",
              CNameContainer::GetLastIssuedNameID() + 1);
  TreeOptions options;
  options.maxNamesShown = 2;
  options.caption = CaptionsOf(p.captions);
  PrintTree(reloaded, options);
  return same ? kExitOk : kExitRefused;
}

struct DemoOptions {
  std::optional<std::string> keep;
};

int RunDemo(const DemoOptions& o, const Context& context) {
  const DemoDir dir(o.keep ? &*o.keep : nullptr);
  if (dir.Path().empty()) {
    if (dir.Kept()) {
      context.Report().File(*o.keep, "cannot be made, or is not an empty directory", "usage");
    } else {
      context.Report().File("demo", "cannot make a temporary directory", "io");
    }
    return kExitError;
  }
  std::printf("nametree demo: the names of a small plant, written to %s (%s)\n", dir.Path().c_str(),
              dir.Kept() ? "kept" : "a temporary directory, removed at the end; --keep DIR keeps the files");
  Document doc = Document::InMemory();
  if (int rc = CreateDocument(context.Report(), doc, dir.Path() + "/plant.nt")) return rc;
  Plant plant;
  DemoHeading(1, "Namespaces: a global tree and two targets");
  BuildNamespaces(doc.Server(), plant);
  TreeOptions options;
  options.caption = CaptionsOf(plant.captions);
  PrintTree(doc, options);
  std::printf("keywords: BEGIN END IF THEN\n");
  ProposeNames(doc.Server(), plant);
  ShowCollisions(doc.Server(), plant);
  RenameAndDelete(doc, plant);
  if (int rc = SaveAndReload(context.Report(), doc, plant)) return rc;
  if (int rc = DemoLegacyImport(context.Report(), dir.Path())) return rc;
  if (dir.Kept()) {
    std::printf("\nkept in %s: plant.nt, earlier.doc (the earlier format), earlier.nt\n"
                "try: nametree import-legacy %s/earlier.doc converted.nt\n",
                dir.Path().c_str(), dir.Path().c_str());
  }
  return kExitOk;
}

}  // namespace

void DemoHeading(int number, const char* title) { std::printf("\n== %d. %s ==\n", number, title); }

std::function<std::string(std::uint32_t)> CaptionsOf(const DemoCaptions& captions) {
  return [&captions](std::uint32_t id) {
    auto it = captions.find(id);
    return it == captions.end() ? std::string() : it->second;
  };
}

void AddDemoCommand(std::vector<CommandSpec>& table) {
  table.push_back(Binder<DemoOptions>()
                      .Opt({"keep", "DIR",
                            "write into DIR (made if needed; must be empty) and keep the files: plant.nt, "
                            "earlier.nt, and earlier.doc, a document of the earlier format to try "
                            "'nametree import-legacy' on"},
                           &DemoOptions::keep)
                      .Command("demo", "a short tour of the library on a plant document",
                   "Builds a plant document in a temporary directory (removed afterwards):\n"
                   "namespaces, a few hundred proposed names, refused collisions with their\n"
                   "reasons, renames and deletes with their notifications, save and reload,\n"
                   "and the import of a document of the earlier format. Touches no files of\n"
                   "yours unless --keep DIR is given.",
                   RunDemo));
}

}  // namespace nametree::cli
