// Applying a newer export to a document an import made. Invariants after
// UpdatePlcopenFile: every origin entry names an ID the server holds; one
// stored entry is matched by at most one element (the n-th element of a key
// takes the n-th entry of that key, in the project's order); a kept name
// stays in the container its kept container maps to, with kept ancestors;
// and IDs are drawn only from the document's counter, which the scratch
// import leaves where it found it, so no ID deleted here is issued again.
#include "nametree/plcopen_update.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <unordered_map>
#include <optional>
#include <unordered_set>

#include "document_guard.h"
#include "nametree/name_container.h"

namespace nametree::plcopen {

namespace {

struct KeyHash {
  std::size_t operator()(const ElementKey& k) const { return static_cast<std::size_t>(k[0] ^ (k[1] >> 7)); }
};
using Queues = std::unordered_map<ElementKey, std::deque<std::uint32_t>, KeyHash>;

std::uint32_t Narrow(std::size_t v) {
  return static_cast<std::uint32_t>(std::min<std::size_t>(v, std::numeric_limits<std::uint32_t>::max()));
}

std::uint32_t Take(Queues& queues, const ElementKey& key) {
  const auto it = queues.find(key);
  if (it == queues.end() || it->second.empty()) return 0;
  const std::uint32_t id = it->second.front();
  it->second.pop_front();
  return id;
}

}  // namespace

ImportOrigins OriginsOf(const ImportReport& report, const std::string& source) {
  ImportOrigins out;
  out.source = source;
  auto add = [&](std::uint32_t id, bool container, const ElementKey& key, const Element* e) {
    ElementOrigin o;
    o.id = id;
    o.container = container;
    o.key = key;
    if (e) {
      o.globalId = e->globalId;
      o.line = Narrow(e->where.line);
      o.column = Narrow(e->where.column);
      o.width = Narrow(e->where.width);
      o.path = e->where.path;
    }
    out.entries.push_back(std::move(o));
  };
  for (const MadeContainer& c : report.made)
    add(c.id, true, c.key, c.element < report.elements.size() ? &report.elements[c.element] : nullptr);
  for (const Element& e : report.elements)
    if (e.nameID) add(e.nameID, false, e.key, &e);
  return out;
}

ImportFailure UpdatePlcopenFile(const std::string& path, Document& doc, const std::vector<CString>& keywords,
                                ImportReport* report, UpdateSummary* summary, const ImportOptions& options) {
  *summary = {};
  if (std::optional<ImportFailure> refused = RefuseReadOnly(doc)) return *refused;
  const ImportOrigins* old = doc.Origins();
  if (!old)
    return {ImportStatus::kNotImported, 0,
            "the document keeps no origins of an import, so its names cannot be matched (import-plcopen makes one "
            "that does)"};
  std::unordered_map<std::string, ElementKey> known;
  Queues oldContainers, oldNames;
  for (const ElementOrigin& e : old->entries) {
    if (!e.globalId.empty()) known.emplace(e.globalId, e.key);
    (e.container ? oldContainers : oldNames)[e.key].push_back(e.id);
  }
  ImportOptions keyed = options;
  keyed.keys = true;
  keyed.knownGlobalIds = &known;
  CNameServer scratch;
  for (const CString& word : keywords) scratch.AddKeyword(word);
  // The scratch import draws from the process-wide counter; what it drew is
  // given back, so the document's new IDs follow its own last one.
  const std::uint32_t last = CNameContainer::GetLastIssuedNameID();
  ImportFailure failure = ImportPlcopenFile(path, scratch, report, keyed);
  // mutate: plcopen-update-counter-not-given-back
  CNameContainer::SetLastIssuedNameID(last);
  if (failure.status != ImportStatus::kOk) return failure;

  CNameServer& server = doc.Server();
  std::unordered_map<std::uint32_t, std::uint32_t> containerOf;  // scratch ID -> document ID
  std::unordered_set<std::uint32_t> keptContainers;
  for (MadeContainer& c : report->made) {
    const std::uint32_t parent = c.parent ? containerOf[c.parent] : 0;
    std::uint32_t id = Take(oldContainers, c.key);
    const CNameContainer* box = id ? server.GetContainer(id) : nullptr;
    if (!box || box->GetParentID() != parent || box->GetContainerType() != c.type || (c.parent && !parent)) id = 0;
    if (id) {
      keptContainers.insert(id);
    } else if (!c.parent || parent) {
      id = server.AddContainer(parent, c.type);
      summary->containersAdded += id != 0;
    }
    containerOf[c.id] = id;
  }

  struct Pending {
    std::size_t element;
    std::uint32_t container;
    std::uint32_t id;  // the kept ID of a rename
  };
  std::vector<Pending> renames, adds;
  std::unordered_set<std::uint32_t> keptNames;
  std::vector<std::uint32_t> scratchIDs(report->elements.size());
  for (std::size_t i = 0; i < report->elements.size(); ++i) {
    const Element& e = report->elements[i];
    if (!e.nameID) continue;
    scratchIDs[i] = e.nameID;
    const CNameContainer* holder = scratch.FindContainerOfName(e.nameID);
    const std::uint32_t container = holder ? containerOf[holder->GetID()] : 0;
    // mutate: plcopen-update-ids-not-kept
    const std::uint32_t id = Take(oldNames, e.key);
    const CNameContainer* was = id ? server.FindContainerOfName(id) : nullptr;
    if (!was || !container || was->GetID() != container) {
      adds.push_back({i, container, 0});
      continue;
    }
    keptNames.insert(id);
    CString text;
    server.GetName(id, text);
    if (text != e.text) renames.push_back({i, container, id});
    else ++summary->kept;
    report->elements[i].nameID = id;
  }

  for (const ElementOrigin& e : old->entries) {
    if (e.container || keptNames.count(e.id)) continue;
    if (const CNameContainer* box = server.FindContainerOfName(e.id)) {
      server.DeleteName(box->GetID(), e.id, true);
      ++summary->deleted;
    }
  }
  for (auto it = old->entries.rbegin(); it != old->entries.rend(); ++it)
    if (it->container && !keptContainers.count(it->id) && server.GetContainer(it->id)) {
      server.DeleteContainer(it->id, true);
      ++summary->containersDeleted;
    }

  const std::uint32_t kind = NameKindOf(options.profile);
  // Two names that swap their texts block each other once; a rename that
  // still cannot be made becomes a delete and an add.
  for (bool progress = true; progress && !renames.empty();) {
    progress = false;
    std::vector<Pending> blocked;
    for (const Pending& p : renames) {
      if (server.Rename(p.container, p.id, report->elements[p.element].text, kind, true, false) == S_OK) {
        ++summary->renamed;
        progress = true;
      } else {
        blocked.push_back(p);
      }
    }
    renames = std::move(blocked);
  }
  for (const Pending& p : renames) {
    server.DeleteName(p.container, p.id, true);
    ++summary->deleted;
    adds.push_back({p.element, p.container, 0});
  }
  std::sort(adds.begin(), adds.end(), [](const Pending& a, const Pending& b) { return a.element < b.element; });
  for (const Pending& p : adds) {
    Element& e = report->elements[p.element];
    std::uint32_t id = 0;
    const HRESULT hr = p.container ? server.AddName(id, p.container, e.text, kind, e.kind != ElementKind::kMember, false)
                                   : E_FAIL;
    e.nameID = hr == S_OK ? id : 0;
    if (hr == S_OK) {
      ++summary->added;
      continue;
    }
    Refusal r;
    r.cause = RefusalCause::kOther;
    r.result = hr;
    r.name = e.name;
    r.line = e.where.line;
    r.column = e.where.column;
    r.path = e.where.path;
    r.element = p.element;
    report->refused.push_back(std::move(r));
  }

  // The report speaks of the document from here on.
  std::unordered_map<std::uint32_t, std::uint32_t> nameOf;  // scratch ID -> document ID
  report->byNameID.clear();
  for (std::size_t i = 0; i < report->elements.size(); ++i) {
    if (!report->elements[i].nameID) continue;
    report->byNameID.emplace(report->elements[i].nameID, i);
    nameOf.emplace(scratchIDs[i], report->elements[i].nameID);
  }
  report->accepted = report->byNameID.size();
  for (Refusal& r : report->refused) {
    if (const auto name = nameOf.find(r.hit.nameID); name != nameOf.end()) r.hit.nameID = name->second;
    if (const auto box = containerOf.find(r.hit.containerID); box != containerOf.end()) r.hit.containerID = box->second;
  }
  std::vector<MadeContainer> made;
  for (MadeContainer& c : report->made) {
    const std::uint32_t scratchID = c.id;
    c.id = containerOf[scratchID];
    c.parent = c.parent ? containerOf[c.parent] : 0;
    if (c.id) made.push_back(std::move(c));
  }
  report->made = std::move(made);
  report->containers = report->made.size();
  report->globalContainer = containerOf[report->globalContainer];
  std::vector<GlobalId> ids;
  for (GlobalId& g : report->globalIds) {
    const auto name = nameOf.find(g.id);
    const auto box = containerOf.find(g.id);
    g.id = name != nameOf.end() ? name->second : box != containerOf.end() ? box->second : 0;
    if (g.id) ids.push_back(std::move(g));
  }
  report->globalIds = std::move(ids);
  ImportOrigins origins = OriginsOf(*report, path);
  summary->changed = summary->renamed || summary->added || summary->deleted || summary->containersAdded ||
                     summary->containersDeleted || !(origins == *old);
  (void)doc.SetOrigins(std::move(origins));  // a writable document keeps them
  LabelMadeContainers(*report, doc);
  return {};
}

}  // namespace nametree::plcopen
