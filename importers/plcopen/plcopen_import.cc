#include "nametree/plcopen_import.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pugixml.hpp>


#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <iterator>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "nametree/refusal_text.h"
#include "nametree/utf8.h"
#include "line_index.h"
#include "unread_elements.h"

namespace nametree::plcopen {

namespace {

constexpr std::string_view kNamespaces[] = {"http://www.plcopen.org/xml/tc6_0201",
                                            "http://www.plcopen.org/xml/tc6_0200"};
constexpr off_t kMaxFileBytes = off_t{256} << 20;
// What a report shows of one text: a refusal's name, and each name in a path.
// mutate: plcopen-name-uncut, plcopen-path-names-uncut
constexpr std::size_t kShownName = 64, kShownPathName = 24;
// A path keeps this many innermost elements; outer ones are elided.
constexpr std::size_t kMaxPathElements = 12;

// Met for every element: one pass finds both the end and the last colon.
std::string_view LocalName(const char* qualified) {
  const char* local = qualified;
  const char* end = qualified;
  for (; *end; ++end)
    // mutate: plcopen-local-name-first-colon
    if (*end == ':') local = end + 1;
  return {local, static_cast<std::size_t>(end - local)};
}

bool KindIs(std::string_view kind, std::string_view lowerCase) {
  return kind.size() == lowerCase.size() && std::equal(kind.begin(), kind.end(), lowerCase.begin(),
                                                       [](char x, char y) { return (x | 0x20) == y; });
}

// Two names the same but for the case of ASCII letters: an identifier's
// letters are ASCII, and the server's own comparison is not reachable
// without a container that holds one of them.
bool SameIgnoringCase(std::u16string_view a, std::u16string_view b) {
  auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

// The value of a reference's body ("amp", "#60", "#x3C"), or nothing for
// one that is no reference; the parse leaves those as they stand.
std::optional<char32_t> Reference(std::string_view body) {
  if (body == "lt") return U'<';
  if (body == "gt") return U'>';
  if (body == "amp") return U'&';
  if (body == "apos") return U'\'';
  if (body == "quot") return U'"';
  if (body.size() < 2 || body[0] != '#') return std::nullopt;
  const bool hex = body[1] == 'x';
  std::string_view digits = body.substr(hex ? 2 : 1);
  if (digits.empty()) return std::nullopt;
  char32_t cp = 0;
  for (char c : digits) {
    int d = c >= '0' && c <= '9' ? c - '0' : -1;
    if (hex && d < 0) d = (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10 : -1;
    if (d < 0) return std::nullopt;
    cp = cp * (hex ? 16 : 10) + static_cast<char32_t>(d);
    if (cp > 0x10FFFF) return std::nullopt;
  }
  return cp;
}

// An attribute's text with its references replaced. Unlike the parser's
// own unescaping, U+0000 and a lone surrogate stay what the project wrote
// instead of ending the string or becoming bytes that no text can hold.
CString XmlText(std::string_view raw) {
  CString out;
  std::size_t plain = 0;
  for (std::size_t at = raw.find('&'); at != std::string_view::npos; at = raw.find('&', at + 1)) {
    const std::size_t semicolon = raw.substr(at, 12).find(';');
    if (semicolon == std::string_view::npos) continue;
    const std::optional<char32_t> cp = Reference(raw.substr(at + 1, semicolon - 1));
    if (!cp) continue;
    out += FromUtf8(raw.substr(plain, at - plain));
    if (*cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((*cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((*cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(*cp);
    }
    plain = at + semicolon + 1;
  }
  // Most names hold no reference: their text is decoded straight.
  if (plain == 0) return FromUtf8(raw);
  out += FromUtf8(raw.substr(plain));
  return out;
}

// At most `limit` bytes of the attribute, without measuring the rest.
std::string_view Prefix(pugi::xml_attribute a, std::size_t limit) {
  const char* value = a.value();
  return {value, strnlen(value, limit)};
}

// The text as a report shows it: escaped, cut after `limit` units.
std::string Shown(std::u16string_view text, std::size_t limit) {
  if (text.size() <= limit) return DisplayText(text);
  // A pair is not cut in half.
  if (text[limit - 1] >= 0xD800 && text[limit - 1] <= 0xDBFF) --limit;
  return DisplayText(text.substr(0, limit)) + "\xE2\x80\xA6";
}

std::string ShownName(pugi::xml_attribute a, std::size_t limit) {
  return Shown(XmlText(Prefix(a, (limit + 1) * 12)), limit);
}

bool HoldsSpace(std::u16string_view text) {
  return std::any_of(text.begin(), text.end(), [](char16_t c) { return c == u' ' || c == u'\t'; });
}

// Chains one step onto a parent's key: two independent 64-bit hashes, so
// that two paths of one project share a key only by a 2^-128 chance.
ElementKey Chained(const ElementKey& parent, std::string_view kind, std::string_view name, bool named) {
  ElementKey key = parent;
  auto feed = [&](unsigned char byte) {
    key[0] = (key[0] ^ byte) * 0x100000001B3ull;
    key[1] = (key[1] + byte + 1) * 0xFF51AFD7ED558CCDull;
    key[1] ^= key[1] >> 29;
  };
  for (char c : kind) feed(static_cast<unsigned char>(c));
  feed(named ? 0xFE : 0xFF);
  for (char c : name) feed(static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 0x20 : c));
  feed(0xFD);
  return key;
}

// A container the import may make: slots are made on first use, parents
// before children, so that a data type without members costs nothing.
struct Slot {
  int parent = -1;  // -1: top level
  std::int16_t type = 0;
  std::uint32_t id = 0;
  std::size_t depth = 0;  // scopes above it
  // Why it could not be made, once that was found out; a full parent stays
  // full, so later slots below it are refused without asking again.
  std::optional<RefusalCause> refused;
  bool full = false;  // holds the most sub-containers it may
  CString name;       // of the element that opened it, as written (a label to be)
  ElementKey key{};
  std::size_t element = static_cast<std::size_t>(-1);
};

// Where the names met inside an element go (slot indexes; -1 for none).
struct Frame {
  int unit = 0;       // data types, POUs, configurations
  int vars = 0;       // variables
  int pou = -1;       // actions, transitions, methods
  int config = -1;    // resources
  int resource = -1;  // tasks, POU instances
  bool inVariable = false;  // a structure here is an anonymous member type
  bool vendor = false;      // inside addData
  Scope scope = Scope::kProject;  // where the variables met here are declared
  bool members = false;           // variables here are members of a type
  bool unread = false;            // the walk does not enter it (unread_elements.h)
  ElementKey key{};               // of the element itself
  std::size_t depth = 0;          // elements from the root down to this one
};

// One element of the path to the element being entered, kept while the walk
// is below it, so that a name's path costs a copy of at most
// kMaxPathElements steps however many names share them.
struct Step {
  std::string_view kind;
  bool named = false;
  std::string shownName;  // cut to kShownPathName
};

// The base kind of a data type, as the naming conventions tell types apart.
std::string BaseKind(pugi::xml_node dataType) {
  for (pugi::xml_node base = dataType.child("baseType").first_child(); base; base = base.next_sibling()) {
    if (base.type() != pugi::node_element) continue;
    const std::string_view kind = LocalName(base.name());
    if (kind == "struct" || kind == "enum" || kind == "union" || kind == "array") return std::string(kind);
    if (kind.starts_with("subrange")) return "subrange";
    return "alias";
  }
  return "alias";
}

// A variable's type as the prefix map names it.
std::string TypeName(pugi::xml_node variable) {
  for (pugi::xml_node t = variable.child("type").first_child(); t; t = t.next_sibling()) {
    if (t.type() != pugi::node_element) continue;
    const std::string_view kind = LocalName(t.name());
    if (kind == "derived") return ToUtf8(XmlText(Prefix(t.attribute("name"), 4 * kMaxNameLength)));
    std::string upper(kind.substr(0, 4 * kMaxNameLength));
    for (char& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c;
    return upper;
  }
  return "";
}

Scope PouScope(pugi::xml_node pou) {
  const std::string_view type = pou.attribute("pouType").value();
  return type == "program" ? Scope::kProgram : type == "function" ? Scope::kFunction : Scope::kFunctionBlock;
}

class Importer {
 public:
  Importer(CNameServer& server, ImportReport& report, LineIndex& lines,
           const ImportOptions& options, std::string_view buffer)
      : server_(server), report_(report), lines_(lines), options_(options), buffer_(buffer) {}

  void Run(pugi::xml_node root) {
    slots_.push_back(Slot{-1, 2, 0, 0, std::nullopt, false, {}, Chained({}, "", "", false), static_cast<std::size_t>(-1)});
    Made(0);
    Walk(root);
    // Slots are made parents first, so the list is too.
    for (Slot& s : slots_)
      if (s.id)
        report_.made.push_back(
            {s.id, s.parent >= 0 ? slots_[s.parent].id : 0, std::move(s.name), s.type, s.key, s.element});
  }

  void Walk(pugi::xml_node root) {
    std::vector<Frame> stack;
    stack.push_back(Enter(Frame{}, root));
    // Document order without recursion: a hostile nesting depth costs only
    // the frame stack.
    pugi::xml_node cur = root;
    for (;;) {
      if (pugi::xml_node child = stack.back().unread ? pugi::xml_node() : NextElement(cur.first_child())) {
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
    slots_.push_back(Slot{parent, type, 0, parent >= 0 ? slots_[parent].depth + 1 : 0, std::nullopt, false, {}, {},
                          static_cast<std::size_t>(-1)});
    return static_cast<int>(slots_.size() - 1);
  }

  // The slot's container, made with its missing ancestors (outermost
  // first, without recursion); 0 when it cannot be, with the cause in the
  // slot.
  std::uint32_t Made(int slot) {
    if (slots_[slot].id) return slots_[slot].id;
    chain_.clear();
    int s = slot;
    for (; s >= 0 && !slots_[s].id && !slots_[s].refused; s = slots_[s].parent) chain_.push_back(s);
    // Below a refused scope nothing is made; marking the chain keeps each
    // later look one step long, however deep the nesting.
    if (s >= 0 && slots_[s].refused) {
      for (int below : chain_) slots_[below].refused = slots_[s].refused;
      return 0;
    }
    for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) {
      Slot& made = slots_[*it];
      // mutate: plcopen-deep-unbounded
      if (!made.refused && made.depth >= kMaxScopeDepth) made.refused = RefusalCause::kTooDeep;
      if (!made.refused) {
        const std::uint32_t parentID = made.parent >= 0 ? slots_[made.parent].id : 0;
        bool& full = made.parent >= 0 ? slots_[made.parent].full : topLevelFull_;
        if (!full) made.id = server_.AddContainer(parentID, made.type);
        if (made.id) {
          ++report_.containers;
          continue;
        }
        full = full || (made.parent >= 0 ? server_.GetContainer(parentID)->GetNumSubContainers()
                                         : static_cast<int>(server_.GetTopLevelContainerIDs().size())) >=
                           kMaxEntriesPerTable;
        made.refused = full ? RefusalCause::kScopeLimit : RefusalCause::kOther;
      }
      slots_[slot].refused = made.refused;
      return 0;
    }
    return slots_[slot].id;
  }

  // Names are met in document order, so the column is counted on from the
  // last one: the whole file is walked once however many names a line has.
  Location LocationOf(pugi::xml_node node) {
    const pugi::xml_attribute name = node.attribute("name");
    std::size_t offset = static_cast<std::size_t>(node.offset_debug());
    if (name && name.value() >= buffer_.data() && name.value() <= buffer_.data() + buffer_.size())
      offset = static_cast<std::size_t>(name.value() - buffer_.data());
    const std::size_t line = lines_.LineAt(offset);
    if (line != cursorLine_ || offset < cursorOffset_) {
      cursorLine_ = line;
      cursorOffset_ = lines_.LineStart(offset);
      // mutate: plcopen-column-from-zero
      cursorColumn_ = 1;
    }
    for (; cursorOffset_ < offset; ++cursorOffset_)
      cursorColumn_ += (static_cast<unsigned char>(buffer_[cursorOffset_]) & 0xC0) != 0x80;
    return {line, cursorColumn_, name ? WidthAt(offset) : 0, PathOf()};
  }

  // The minimal parse leaves a value as written, references too, and ends
  // it where its closing quote stood.
  std::size_t WidthAt(std::size_t offset) const {
    if (offset == 0 || offset > buffer_.size()) return 0;
    const std::size_t end = buffer_.find('\0', offset);
    // mutate: plcopen-fix-width-off
    std::size_t width = 0;
    for (std::size_t at = offset; at < end && at < buffer_.size(); ++at)
      width += (static_cast<unsigned char>(buffer_[at]) & 0xC0) != 0x80;
    return width;
  }

  // The innermost kMaxPathElements elements of the element being entered,
  // each name cut: its cost does not grow with the depth or the names above.
  std::string PathOf() const {
    const std::size_t first = depth_ > kMaxPathElements ? depth_ - kMaxPathElements : 0;
    std::size_t length = 3;
    for (std::size_t i = first; i < depth_; ++i)
      length += 1 + steps_[i].kind.size() + (steps_[i].named ? steps_[i].shownName.size() + 2 : 0);
    std::string path;
    path.reserve(length);
    if (first > 0) path = "\xE2\x80\xA6";
    for (std::size_t i = first; i < depth_; ++i) {
      const Step& step = steps_[i];
      if (!path.empty()) path += '/';
      path += step.kind;
      if (step.named) path.append("[").append(step.shownName).append("]");
    }
    return path;
  }

  std::uint32_t Refuse(RefusalCause cause, pugi::xml_node node, const CString& name, Refusal r = {}) {
    const bool folds = cause == RefusalCause::kTooDeep || cause == RefusalCause::kScopeLimit ||
                       cause == RefusalCause::kNameLimit;
    // mutate: plcopen-limit-unfolded
    if (folds) {
      std::size_t& first = folded_[static_cast<int>(cause)];
      if (first) return ++report_.refused[first - 1].count, 0;
      first = report_.refused.size() + 1;
    }
    r.cause = cause;
    r.element = report_.elements.empty() ? 0 : report_.elements.size() - 1;
    if (r.result == S_OK) r.result = cause == RefusalCause::kRule || cause == RefusalCause::kNul ? E_NAME_INVALID : E_FAIL;
    r.name = Shown(name, kShownName);
    Location at = LocationOf(node);
    r.line = at.line;
    r.column = at.column;
    r.path = std::move(at.path);
    // mutate: plcopen-refusal-dropped
    report_.refused.push_back(std::move(r));
    return 0;
  }

  // Enters the element's name into the slot's container; returns its ID, or
  // 0 after listing the refusal. `e` comes with the name as shown.
  std::uint32_t Name(int slot, pugi::xml_node node, const CString& name, Element e) {
    // mutate: plcopen-element-uncounted
    ++report_.named;
    e.text = name.substr(0, 2 * kMaxNameLength);
    e.length = name.size();
    e.where = LocationOf(node);
    const std::size_t index = report_.elements.size();
    report_.elements.push_back(std::move(e));
    const std::uint32_t id = Admit(slot, node, name);
    if (id) {
      report_.elements[index].nameID = id;
      report_.byNameID.emplace(id, index);
    }
    return id;
  }

  std::uint32_t Admit(int slot, pugi::xml_node node, const CString& name) {
    Refusal r;
    // mutate: plcopen-nul-judged-as-rule
    if (name.find(u'\0') != CString::npos) return Refuse(RefusalCause::kNul, node, name);
    if (ExplainProfileViolation(server_, options_.profile, name, &r.violation)) {
      r.rule = DescribeRuleViolation(name, r.violation, NameKindOf(options_.profile));
      return Refuse(RefusalCause::kRule, node, name, std::move(r));
    }
    const std::uint32_t container = Made(slot);
    if (!container) return Refuse(*slots_[slot].refused, node, name);
    std::uint32_t id = 0;
    // mutate: plcopen-member-meets-globals
    const bool member = report_.elements.back().kind == ElementKind::kMember;
    if (member) {
      // Reached only through its variable: it meets its type's members and
      // the keywords, nothing outside.
      if (server_.IsKeyword(name)) r.hit.where = CDuplicateHit::Where::kKeyword;
      else if (server_.GetContainer(container)->FindIDByName(name, &r.hit.nameID) == S_OK)
        r.hit = {CDuplicateHit::Where::kOwnContainer, container, r.hit.nameID};
    }
    // The profile's rule has judged; kind 1 keeps the server's from judging again.
    r.result = r.hit.where != CDuplicateHit::Where::kNone
                   ? E_NAME_DUPLICATE
                   : server_.AddName(id, container, name, NameKindOf(options_.profile), !member, false);
    if (r.result == S_OK) {
      ++report_.accepted;
      return id;
    }
    if (r.result != E_NAME_DUPLICATE) {
      const bool full = server_.GetContainer(container)->GetNumNameIDs() >= kMaxEntriesPerTable;
      // mutate: plcopen-limit-cause-lost
      return Refuse(full ? RefusalCause::kNameLimit : RefusalCause::kOther, node, name, std::move(r));
    }
    if (member || server_.FindDuplicate(container, name, false, &r.hit)) {
      if (auto other = report_.byNameID.find(r.hit.nameID); other != report_.byNameID.end()) {
        const Element& e = report_.elements[other->second];
        r.otherName = e.name;
        r.otherLine = e.where.line;
        r.otherColumn = e.where.column;
        r.otherPath = e.where.path;
      }
    }
    if (options_.propose) {
      CString proposal;
      if (server_.GetNextAcceptedName(container, name, 0, NameKindOf(options_.profile), false,
                                      &proposal) == S_OK)
        // mutate: plcopen-proposal-drops-underscores
        r.suggestion = ToUtf8(KeepUnderscores(container, name, proposal));
    }
    return Refuse(RefusalCause::kDuplicate, node, name, std::move(r));
  }

  // The library's proposal drops underscores (ST_Clock -> STClock1); the
  // same number after the name's own stem keeps them, where that is free.
  CString KeepUnderscores(std::uint32_t container, const CString& name, const CString& proposal) const {
    auto digitsFrom = [](const CString& text) {
      std::size_t at = text.size();
      while (at > 0 && text[at - 1] >= u'0' && text[at - 1] <= u'9') --at;
      return at;
    };
    const std::size_t number = digitsFrom(proposal);
    const CString stem = name.substr(0, digitsFrom(name));
    CString bare;
    for (char16_t c : stem)
      if (c != u'_') bare += c;
    if (bare == stem || bare != proposal.substr(0, number)) return proposal;
    const CString kept = stem + proposal.substr(number);
    CNameRuleViolation why;
    CDuplicateHit hit;
    if (kept.size() > kMaxNameLength || ExplainProfileViolation(server_, options_.profile, kept, &why) ||
        server_.IsKeyword(kept) || server_.FindDuplicate(container, kept, false, &hit))
      return proposal;
    return kept;
  }

  void Skip(Skipped::Why why, pugi::xml_node node, const CString& name) {
    report_.named += 1;
    Location at = LocationOf(node);
    report_.skipped.push_back({why, Shown(name, kShownName), at.line, at.column, std::move(at.path)});
  }

  Frame Enter(const Frame& up, pugi::xml_node node) {
    Frame f = up;
    f.depth = up.depth + 1;
    const std::string_view kind = LocalName(node.name());
    f.unread = ContentUnread(kind);
    const pugi::xml_attribute nameAttribute = node.attribute("name");
    const pugi::xml_attribute globalId = node.attribute("globalId");
    const bool named = nameAttribute;
    if (steps_.size() < f.depth) steps_.resize(f.depth);
    Step& step = steps_[f.depth - 1];
    step.kind = kind;
    // mutate: plcopen-path-step-stale
    step.named = named;
    // A name is read whole once, for its judging, its path step and its
    // label; another element's name attribute is shown from its start only.
    CString text;
    bool read = false;
    depth_ = f.depth;
    std::uint32_t id = 0;
    int opened = -1;
    if (options_.keys) {
      f.key = Chained(up.key, kind, nameAttribute.value(), named);
      if (const auto* known = options_.knownGlobalIds; known && globalId)
        // mutate: plcopen-update-global-id-ignored
        if (auto it = known->find(globalId.value()); it != known->end()) f.key = it->second;
    }
    const std::size_t elementsBefore = report_.elements.size();
    auto name = [&](int slot, Element e) {
      if (!named) return;
      text = XmlText(nameAttribute.value());
      e.name = Shown(text, kShownName);
      // A name short enough to be shown whole in both is shown once.
      step.shownName =
          text.size() <= std::min(kShownName, kShownPathName) ? e.name : Shown(text, kShownPathName);
      read = true;
      // mutate: plcopen-vendor-text-judged
      if (up.vendor && HoldsSpace(text)) return Skip(Skipped::Why::kVendorText, node, text);
      // mutate: plcopen-instance-judged
      if (kind == "pouInstance" && SameIgnoringCase(text, XmlText(node.attribute("typeName").value())))
        return Skip(Skipped::Why::kInstanceOfItsType, node, text);
      e.key = f.key;
      if (globalId) e.globalId = globalId.value();
      id = Name(slot, node, text, std::move(e));
    };
    auto element = [&](ElementKind k, Scope scope, std::string subKind = {}) {
      Element e;
      e.kind = k;
      e.scope = scope;
      e.subKind = std::move(subKind);
      return e;
    };
    if (kind == "addData") {
      f.vendor = true;
    } else if (kind == "pou" || kind == "dataType") {
      const bool pou = kind == "pou";
      name(up.unit, pou ? element(ElementKind::kPou, up.scope, node.attribute("pouType").value())
                        : element(ElementKind::kDataType, up.scope, BaseKind(node)));
      // mutate: plcopen-pou-scope-type-4
      opened = f.vars = NewSlot(up.unit, 0);
      f.scope = pou ? PouScope(node) : Scope::kDataType;
      f.members = !pou;
      if (pou) {
        f.pou = opened;
        Made(opened);
      }
      f.inVariable = false;
    } else if (kind == "configuration") {
      name(up.unit, element(ElementKind::kConfiguration, up.scope));
      // mutate: plcopen-configuration-plain
      opened = f.unit = f.vars = f.config = NewSlot(-1, 3);
      f.pou = f.resource = -1;
      f.scope = Scope::kConfiguration;
      f.members = false;
      Made(opened);
    } else if (kind == "resource") {
      const int holder = up.config >= 0 ? up.config : up.unit;
      name(holder, element(ElementKind::kResource, up.scope));
      // mutate: plcopen-resource-type-4
      opened = f.unit = f.vars = f.resource = NewSlot(holder, 0);
      f.pou = -1;
      f.scope = Scope::kResource;
      f.members = false;
      Made(opened);
    } else if (kind == "task" || kind == "pouInstance") {
      name(up.resource >= 0 ? up.resource : up.unit,
           element(kind == "task" ? ElementKind::kTask : ElementKind::kPouInstance, up.scope));
    } else if (kind == "variable") {
      Element e = element(up.members ? ElementKind::kMember : ElementKind::kVariable, up.scope,
                          std::string(LocalName(node.parent().name())));
      e.type = TypeName(node);
      e.located = node.attribute("address");
      name(up.vars, std::move(e));
      f.inVariable = true;
    } else if (kind == "action" || kind == "transition") {
      name(up.pou >= 0 ? up.pou : up.vars,
           element(kind == "action" ? ElementKind::kAction : ElementKind::kTransition, up.scope));
    } else if ((kind == "struct" || kind == "union") && up.inVariable) {
      // mutate: plcopen-member-struct-flat
      opened = f.vars = NewSlot(up.vars, 0);
      f.inVariable = false;
      f.members = true;
    // mutate: plcopen-named-union-flat
    } else if ((kind == "struct" || kind == "union") && named) {
      // a type of its own, as vendors write unions into addData
      name(up.unit, element(ElementKind::kDataType, up.scope, std::string(kind)));
      opened = NewSlot(up.unit, 0);
      f.vars = opened;
      f.scope = Scope::kDataType;
      f.members = true;
    } else if (named && KindIs(kind, "method")) {
      // mutate: plcopen-method-in-global
      opened = f.vars = f.pou = NewSlot(up.pou >= 0 ? up.pou : up.vars, 0);
      f.scope = Scope::kMethod;
      f.members = false;
      Made(opened);
    } else if (named && KindIs(kind, "interface")) {
      opened = f.vars = f.pou = NewSlot(up.unit, 0);
      f.scope = Scope::kFunctionBlock;
      f.members = false;
      Made(opened);
    } else if (named && kind == "globalVars" && up.pou < 0 && up.config < 0 && up.resource < 0) {
      // a global variable list of its own, outside any configuration
      // mutate: plcopen-list-outside-target
      opened = f.vars = NewSlot(-1, 3);
      f.scope = Scope::kGlobalList;
      f.members = false;
      Made(opened);
    }
    if (opened >= 0) {
      // mutate: plcopen-label-names-dropped
      if (named) slots_[opened].name = read ? std::move(text) : XmlText(nameAttribute.value());
      slots_[opened].key = f.key;
      if (report_.elements.size() > elementsBefore) slots_[opened].element = elementsBefore;
    }
    if (named && !read) step.shownName = ShownName(nameAttribute, kShownPathName);
    if (globalId) {
      if (!id && opened >= 0) id = slots_[opened].id;
      if (id) report_.globalIds.push_back({ToUtf8(XmlText(globalId.value())), id});
    }
    return f;
  }

  CNameServer& server_;
  ImportReport& report_;
  LineIndex& lines_;
  const ImportOptions& options_;
  std::vector<Slot> slots_;
  std::vector<int> chain_;
  bool topLevelFull_ = false;
  std::size_t folded_[8] = {};  // by cause: 1 + the index of the refusal folded into
  std::string_view buffer_;     // the parsed text, for columns
  std::size_t cursorLine_ = 0, cursorOffset_ = 0, cursorColumn_ = 1;
  std::vector<Step> steps_;  // from the root to the element being entered
  std::size_t depth_ = 0;    // of that element
};

// The root must be a project element in one of the TC6 namespaces.
bool IsProject(pugi::xml_node root, std::string* found) {
  const std::string_view qualified(root.name());
  const std::size_t colon = qualified.rfind(':');
  std::string attribute = "xmlns";
  if (colon != std::string_view::npos) attribute.append(":").append(qualified.substr(0, colon));
  const std::string ns = ToUtf8(XmlText(root.attribute(attribute.c_str()).value()));
  *found = "<" + Shown(FromUtf8(qualified), kShownName) + "> in the namespace \"" + Shown(FromUtf8(ns), kShownName) +
           "\"";
  return LocalName(root.name()) == "project" &&
         std::find(std::begin(kNamespaces), std::end(kNamespaces), ns) != std::end(kNamespaces);
}

// `xml` is the parse buffer.
ImportFailure ImportInPlace(char* xml, std::size_t size, CNameServer& server, ImportReport* report,
                            const ImportOptions& options) {
  const std::string_view text(xml, size);
  // Lines are counted before the parse, which writes into the buffer.
  LineIndex lines(text);
  pugi::xml_document doc;
  // No DOCTYPE, no entity expansion; parsed in place, so the file is held
  // once. References are replaced by XmlText where a value is read.
  const pugi::xml_parse_result parsed = doc.load_buffer_inplace(xml, size, pugi::parse_minimal);
  if (!parsed)
    return {ImportStatus::kMalformed, lines.LineAt(static_cast<std::size_t>(parsed.offset)),
            std::string("malformed XML: ") + parsed.description()};
  const pugi::xml_node root = doc.document_element();
  std::string found;
  if (!IsProject(root, &found))
    return {ImportStatus::kNotPlcopen, lines.LineAt(static_cast<std::size_t>(root.offset_debug())),
            "expected the root element <project> of the PLCopen TC6 namespace " + std::string(kNamespaces[0]) +
                " (or " + std::string(kNamespaces[1]) + "), found " + found};
  *report = ImportReport{};
  Importer(server, *report, lines, options, text).Run(root);
  report->globalContainer = server.GetGlobalContainerID();
  return {};
}

}  // namespace

const Element* ImportReport::ElementOf(std::uint32_t nameID) const {
  const auto it = byNameID.find(nameID);
  return it == byNameID.end() ? nullptr : &elements[it->second];
}

ImportFailure ImportPlcopenBuffer(std::string xml, CNameServer& server, ImportReport* report,
                                  const ImportOptions& options) {
  return ImportInPlace(xml.data(), xml.size(), server, report, options);
}

ImportFailure ImportPlcopenFile(const std::string& path, CNameServer& server, ImportReport* report,
                                const ImportOptions& options) {
  // Opened without waiting for a pipe's writer, and read only when it is a
  // regular file: a pipe or a device would block the read or never end it.
  struct Opened {
    int fd;
    ~Opened() {
      if (fd >= 0) ::close(fd);
    }
  } const in{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
  const int openError = in.fd < 0 ? errno : 0;
  struct stat st {};
  // A socket opens to nothing: what stands there is asked by its path.
  const bool known = in.fd >= 0 ? ::fstat(in.fd, &st) == 0 : ::stat(path.c_str(), &st) == 0;
  // mutate: plcopen-pipe-read
  if (known && !S_ISREG(st.st_mode))
    return {ImportStatus::kNotAFile, 0,
            S_ISDIR(st.st_mode) ? "a directory, not a file" : "not a regular file (a pipe, socket or device)"};
  // mutate: plcopen-missing-unreadable
  if (openError == ENOENT || openError == ENOTDIR) return {ImportStatus::kNotFound, 0, "cannot read the file"};
  if (in.fd < 0 || !known) return {ImportStatus::kUnreadable, 0, "cannot read the file"};
  if (st.st_size > kMaxFileBytes) return {ImportStatus::kUnreadable, 0, "larger than 256 MiB; no project is that big"};
  const std::size_t size = static_cast<std::size_t>(st.st_size);
  // Left unfilled: the read writes every byte, and the parse works in it.
  const std::unique_ptr<char[]> xml = std::make_unique_for_overwrite<char[]>(size);
  for (std::size_t got = 0; got < size;) {
    const ssize_t n = ::read(in.fd, xml.get() + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return {ImportStatus::kUnreadable, 0, "cannot read the file"};
    got += static_cast<std::size_t>(n);
  }
  return ImportInPlace(xml.get(), size, server, report, options);
}

}  // namespace nametree::plcopen
