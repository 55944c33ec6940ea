#include "nametree/plcopen_import.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>
#include <unordered_map>

#include "nametree/utf8.h"

namespace nametree::plcopen {

namespace {

constexpr std::string_view kNamespaces[] = {"http://www.plcopen.org/xml/tc6_0201",
                                            "http://www.plcopen.org/xml/tc6_0200"};
constexpr std::streamoff kMaxFileBytes = std::streamoff{256} << 20;
// A refusal's path keeps this many innermost elements; deeper ones are elided.
constexpr std::size_t kMaxPathElements = 48;

std::string_view LocalName(const char* qualified) {
  std::string_view name(qualified);
  const std::size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x | 0x20) == (y | 0x20);
         });
}

// A container the import may make: slots are made on first use, parents
// before children, so that a data type without members costs nothing.
struct Slot {
  int parent = -1;  // -1: top level
  std::int16_t type = 0;
  std::uint32_t id = 0;
};

// Where the names met inside an element go (slot indexes; -1 for none).
struct Frame {
  int unit = 0;       // data types, POUs, configurations
  int vars = 0;       // variables
  int pou = -1;       // actions, transitions, methods
  int config = -1;    // resources
  int resource = -1;  // tasks, POU instances
  bool inVariable = false;  // a structure here is an anonymous member type
};

class Importer {
 public:
  Importer(CNameServer& server, ImportReport& report, const std::vector<std::size_t>& newlines)
      : server_(server), report_(report), newlines_(newlines) {}

  void Run(pugi::xml_node root) {
    slots_.push_back({-1, 2, 0});
    Made(0);
    std::vector<Frame> stack;
    stack.push_back(Enter(Frame{}, root));
    // Document order without recursion: a hostile nesting depth costs only
    // the frame stack.
    pugi::xml_node cur = root;
    for (;;) {
      if (pugi::xml_node child = NextElement(cur.first_child())) {
        stack.push_back(Enter(stack.back(), child));
        cur = child;
        continue;
      }
      for (;;) {
        if (cur == root) return;
        stack.pop_back();
        if (pugi::xml_node next = NextElement(cur.next_sibling())) {
          stack.push_back(Enter(stack.back(), next));
          cur = next;
          break;
        }
        cur = cur.parent();
      }
    }
  }

 private:
  static pugi::xml_node NextElement(pugi::xml_node n) {
    while (n && n.type() != pugi::node_element) n = n.next_sibling();
    return n;
  }

  int NewSlot(int parent, std::int16_t type) {
    slots_.push_back({parent, type, 0});
    return static_cast<int>(slots_.size() - 1);
  }

  // The slot's container, made with its missing ancestors; 0 when the
  // server refuses to make one.
  std::uint32_t Made(int slot) {
    if (slots_[slot].id) return slots_[slot].id;
    const int parent = slots_[slot].parent;
    std::uint32_t parentID = 0;
    if (parent >= 0 && !(parentID = Made(parent))) return 0;
    const std::uint32_t id = server_.AddContainer(parentID, slots_[slot].type);
    if (id) ++report_.containers;
    return slots_[slot].id = id;
  }

  std::size_t LineOf(pugi::xml_node node) const {
    const auto offset = static_cast<std::size_t>(node.offset_debug());
    return static_cast<std::size_t>(std::upper_bound(newlines_.begin(), newlines_.end(), offset) -
                                    newlines_.begin()) + 1;
  }

  static std::string PathOf(pugi::xml_node node) {
    std::vector<pugi::xml_node> chain;
    for (pugi::xml_node n = node; n && n.type() == pugi::node_element; n = n.parent()) chain.push_back(n);
    std::string path;
    if (chain.size() > kMaxPathElements) {
      path = "...";
      chain.resize(kMaxPathElements);
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      if (!path.empty()) path += '/';
      path += LocalName(it->name());
      if (pugi::xml_attribute name = it->attribute("name")) path.append("[").append(name.value()).append("]");
    }
    return path;
  }

  // Enters the element's name into the slot's container; returns its ID, or
  // 0 after listing the refusal.
  std::uint32_t Name(int slot, pugi::xml_node node, const char* text) {
    ++report_.named;
    const CString name = FromUtf8(text);
    std::uint32_t id = 0;
    const std::uint32_t container = Made(slot);
    const HRESULT hr = container ? server_.AddName(id, container, name, 0, true, false) : E_FAIL;
    if (hr == S_OK) {
      ++report_.accepted;
      origins_.emplace(id, node);
      return id;
    }
    Refusal r;
    r.name = text;
    r.line = LineOf(node);
    r.path = PathOf(node);
    r.result = hr;
    if (hr == E_NAME_DUPLICATE && server_.FindDuplicate(container, name, false, &r.hit)) {
      if (auto other = origins_.find(r.hit.nameID); other != origins_.end()) {
        r.otherName = other->second.attribute("name").value();
        r.otherLine = LineOf(other->second);
        r.otherPath = PathOf(other->second);
      }
    } else {
      server_.ExplainInvalidName(name, 0, &r.violation);
    }
    report_.refused.push_back(std::move(r));
    return 0;
  }

  Frame Enter(const Frame& up, pugi::xml_node node) {
    Frame f = up;
    const std::string_view kind = LocalName(node.name());
    const pugi::xml_attribute nameAttribute = node.attribute("name");
    const char* name = nameAttribute ? nameAttribute.value() : nullptr;
    std::uint32_t id = 0;
    int opened = -1;
    auto named = [&](int slot) {
      if (name) id = Name(slot, node, name);
    };
    if (kind == "pou" || kind == "dataType") {
      named(up.unit);
      opened = f.vars = NewSlot(up.unit, 0);
      if (kind == "pou") {
        f.pou = opened;
        Made(opened);
      }
      f.inVariable = false;
    } else if (kind == "configuration") {
      named(up.unit);
      opened = f.unit = f.vars = f.config = NewSlot(-1, 3);
      f.pou = f.resource = -1;
      Made(opened);
    } else if (kind == "resource") {
      const int holder = up.config >= 0 ? up.config : up.unit;
      named(holder);
      opened = f.unit = f.vars = f.resource = NewSlot(holder, 0);
      f.pou = -1;
      Made(opened);
    } else if (kind == "task" || kind == "pouInstance") {
      named(up.resource >= 0 ? up.resource : up.unit);
    } else if (kind == "variable") {
      named(up.vars);
      f.inVariable = true;
    } else if (kind == "action" || kind == "transition") {
      named(up.pou >= 0 ? up.pou : up.vars);
    } else if ((kind == "struct" || kind == "union") && up.inVariable) {
      opened = f.vars = NewSlot(up.vars, 0);
      f.inVariable = false;
    } else if (name && EqualsIgnoringCase(kind, "method")) {
      opened = f.vars = f.pou = NewSlot(up.pou >= 0 ? up.pou : up.vars, 0);
      Made(opened);
    } else if (name && EqualsIgnoringCase(kind, "interface")) {
      opened = f.vars = f.pou = NewSlot(up.unit, 0);
      Made(opened);
    } else if (name && kind == "globalVars" && up.pou < 0 && up.config < 0 && up.resource < 0) {
      // a global variable list of its own, outside any configuration
      opened = f.vars = NewSlot(-1, 3);
      Made(opened);
    }
    if (pugi::xml_attribute globalId = node.attribute("globalId")) {
      if (!id && opened >= 0) id = slots_[opened].id;
      if (id) report_.globalIds.push_back({globalId.value(), id});
    }
    return f;
  }

  CNameServer& server_;
  ImportReport& report_;
  const std::vector<std::size_t>& newlines_;
  std::vector<Slot> slots_;
  std::unordered_map<std::uint32_t, pugi::xml_node> origins_;
};

std::size_t LineAt(const std::vector<std::size_t>& newlines, std::size_t offset) {
  return static_cast<std::size_t>(std::upper_bound(newlines.begin(), newlines.end(), offset) - newlines.begin()) +
         1;
}

// The root must be a project element in one of the TC6 namespaces.
bool IsProject(pugi::xml_node root, std::string* found) {
  const std::string_view qualified(root.name());
  const std::size_t colon = qualified.rfind(':');
  std::string attribute = "xmlns";
  if (colon != std::string_view::npos) attribute.append(":").append(qualified.substr(0, colon));
  const std::string_view ns = root.attribute(attribute.c_str()).value();
  *found = "<" + std::string(qualified) + "> in the namespace \"" + std::string(ns) + "\"";
  return LocalName(root.name()) == "project" &&
         std::find(std::begin(kNamespaces), std::end(kNamespaces), ns) != std::end(kNamespaces);
}

}  // namespace

ImportFailure ImportPlcopenBuffer(std::string xml, CNameServer& server, ImportReport* report) {
  // Lines are counted before the parse, which writes into the buffer.
  std::vector<std::size_t> newlines;
  for (std::size_t at = xml.find('\n'); at != std::string::npos; at = xml.find('\n', at + 1))
    newlines.push_back(at);
  pugi::xml_document doc;
  // No DOCTYPE, no entity expansion beyond the predefined ones; parsed in
  // place, so the file is held once.
  const pugi::xml_parse_result parsed =
      doc.load_buffer_inplace(xml.data(), xml.size(), pugi::parse_minimal | pugi::parse_escapes);
  if (!parsed)
    return {ImportStatus::kMalformed, LineAt(newlines, static_cast<std::size_t>(parsed.offset)),
            std::string("malformed XML: ") + parsed.description()};
  const pugi::xml_node root = doc.document_element();
  std::string found;
  if (!IsProject(root, &found))
    return {ImportStatus::kNotPlcopen, LineAt(newlines, static_cast<std::size_t>(root.offset_debug())),
            "expected the root element <project> of the PLCopen TC6 namespace " + std::string(kNamespaces[0]) +
                " (or " + std::string(kNamespaces[1]) + "), found " + found};
  *report = ImportReport{};
  Importer(server, *report, newlines).Run(root);
  report->globalContainer = server.GetGlobalContainerID();
  return {};
}

ImportFailure ImportPlcopenFile(const std::string& path, CNameServer& server, ImportReport* report) {
  std::ifstream in(path, std::ios::binary);
  std::string xml;
  if (in) {
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size > kMaxFileBytes) return {ImportStatus::kUnreadable, 0, "larger than 256 MiB; no project is that big"};
    if (size >= 0) {
      xml.resize(static_cast<std::size_t>(size));
      in.read(xml.data(), size);
    }
  }
  if (!in) return {ImportStatus::kUnreadable, 0, "cannot read the file"};
  return ImportPlcopenBuffer(std::move(xml), server, report);
}

}  // namespace nametree::plcopen
