#include "support/classic_model.h"

#include <algorithm>
#include <cstdio>

namespace nametree::model {

namespace {

constexpr std::uint32_t kNameBuckets = 13513;
constexpr std::uint32_t kSubBuckets = 101;
constexpr int kMaxLength = 32;

char16_t UpperUnit(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - u'a' + u'A');
  for (auto [lower, upper] : kExtraLetters)
    if (c == lower) return upper;
  return c;
}

bool SameIgnoringCase(const Text& a, const Text& b) { return Upper(a) == Upper(b); }

// Reads the stream as the container record and server stream describe;
// any short or failed transfer throws.
struct Reader {
  const std::vector<std::uint8_t>& bytes;
  std::size_t at = 0;
  struct Short {};

  std::uint32_t Fixed(int n) {
    if (bytes.size() - at < static_cast<std::size_t>(n)) throw Short{};
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
    at += n;
    return v;
  }
  Text Counted() {
    const std::uint32_t length = Fixed(4);
    if (length == 0) return {};
    if (length < 2) throw Short{};
    if (bytes.size() - at < length) throw Short{};
    Text text;
    for (std::uint32_t i = 0; i + 1 < length; i += 2) {
      const char16_t c = static_cast<char16_t>(bytes[at + i] | (bytes[at + i + 1] << 8));
      if (c == 0) break;
      text.push_back(c);
    }
    at += length;
    return text;
  }
};

void PutFixed(std::vector<std::uint8_t>& out, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutCounted(std::vector<std::uint8_t>& out, const Text& text) {
  const Text copy = text.substr(0, text.find(u'\0'));
  PutFixed(out, static_cast<std::uint32_t>(copy.size() * 2 + 2), 4);
  for (char16_t c : copy) PutFixed(out, c, 2);
  PutFixed(out, 0, 2);
}

// Loads one container record into `c`; false where the record fails.
bool LoadRecord(Container& c, Reader& in) {
  try {
    in.Fixed(2);
    c.id = in.Fixed(4);
    c.type = static_cast<std::int16_t>(in.Fixed(2));
    const auto names = static_cast<std::int16_t>(in.Fixed(2));
    for (int i = 0; i < names; ++i) {
      const std::uint32_t nameID = in.Fixed(4);
      const Text text = in.Counted();
      c.byID.Set(nameID, text);
      c.byName.Set(Upper(text), nameID);
    }
    const auto subs = static_cast<std::int16_t>(in.Fixed(2));
    for (int i = 0; i < subs; ++i) {
      auto child = std::make_unique<Container>();
      if (!LoadRecord(*child, in)) return false;
      child->parent = &c;
      const std::uint32_t childID = child->id;
      c.subs.Set(childID, std::move(child));
    }
    return true;
  } catch (const Reader::Short&) {
    return false;
  }
}

std::string Decimal(long long v) { return std::to_string(v); }

Text Widen(const std::string& s) { return Text(s.begin(), s.end()); }

// printf's "%s%d" for digits 0, "%s%0<n>d" otherwise ("0-" pads with
// spaces on the right).
Text Format(const Text& base, int count, int digits) {
  std::string number = Decimal(count);
  if (digits > 0 && static_cast<int>(number.size()) < digits)
    number.insert(0, static_cast<std::size_t>(digits) - number.size(), '0');
  if (digits < 0 && static_cast<long long>(number.size()) < -static_cast<long long>(digits))
    number.append(static_cast<std::size_t>(-static_cast<long long>(digits)) - number.size(), ' ');
  return base + Widen(number);
}

}  // namespace

Text Upper(const Text& text) {
  Text out = text;
  for (char16_t& c : out) c = UpperUnit(c);
  return out;
}

bool IsLetter(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) return true;
  for (auto [lower, upper] : kExtraLetters)
    if (c == lower || c == upper) return true;
  return false;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::uint32_t& LastIssued() {
  static std::uint32_t last = 0;
  return last;
}

// --- container: names

Container::Container(bool uninitialised) {
  if (!uninitialised) Initialize();
}

Container::Container(Container* parent_, std::uint32_t id_, std::int16_t type_)
    : id(id_), type(type_), parent(parent_) {
  subs.Make(kSubBuckets);
  byID.Make(kNameBuckets);
  byName.Make(kNameBuckets);
}

void Container::Initialize() {
  subs.Make(kSubBuckets);
  byID.Make(kNameBuckets);
  byName.Make(kNameBuckets);
  id = ++LastIssued();
}

void Container::Shutdown() {
  subs.Walk([](const std::uint32_t&, const std::unique_ptr<Container>& child) { child->Shutdown(); });
  subs.Clear();
  parent = nullptr;
  byID.Clear();
  byName.Clear();
}

std::uint32_t Container::AddName(const Text& text) {
  const std::uint32_t nameID = ++LastIssued();
  byID.Set(nameID, text);
  byName.Set(Upper(text), nameID);
  return nameID;
}

Status Container::DeleteName(std::uint32_t nameID) {
  const Text* held = nameID ? byID.Find(nameID) : nullptr;
  if (!held) return kFail;
  const Text text = *held;
  byID.Remove(nameID);
  byName.Remove(Upper(text));
  return kOk;
}

Status Container::FindNameByID(std::uint32_t nameID, Text* text) const {
  if (nameID == 0) return kFail;
  const Text* held = byID.Find(nameID);
  if (!held) return kFalse;
  *text = *held;
  return kOk;
}

Status Container::FindIDByName(const Text& text, std::uint32_t* nameID) const {
  if (text.empty()) return kFail;
  const std::uint32_t* held = byName.Find(Upper(text));
  if (!held) return kFalse;
  *nameID = *held;
  return kOk;
}

Status Container::FindName(const Text& text, bool recurse, std::uint32_t* nameID) const {
  if (text.empty()) return kFalse;
  if (const std::uint32_t* held = byName.Find(Upper(text))) {
    if (nameID) *nameID = *held;
    return kOk;
  }
  if (!recurse) return kFalse;
  Status found = kFalse;
  subs.Walk([&](const std::uint32_t&, const std::unique_ptr<Container>& child) {
    if (found == kOk) return;
    if (child->type != 2 && child->type != 3 && child->type != 4) return;
    std::uint32_t inner = 0;
    if (child->FindName(text, true, &inner) == kOk) {
      if (nameID) *nameID = inner;
      found = kOk;
    }
  });
  return found;
}

std::uint32_t Container::GetIDOfName(const Text& text) const {
  const std::uint32_t* held = byName.Find(Upper(text));
  return held ? *held : 0;
}

Status Container::Rename(std::uint32_t nameID, const Text& text) {
  if (nameID == 0 || text.empty()) return kFail;
  Text* held = byID.Find(nameID);
  if (!held) return kFalse;
  const Text old = *held;
  *held = text;
  byName.Remove(Upper(old));
  byName.Set(Upper(text), nameID);
  return kOk;
}

Status Container::Rename(const Text& oldText, const Text& newText) {
  if (oldText.empty() || newText.empty()) return kFail;
  const std::uint32_t* held = byName.Find(Upper(oldText));
  if (!held) return kFalse;
  const std::uint32_t nameID = *held;
  byName.Remove(Upper(oldText));
  byID.Set(nameID, newText);
  byName.Set(Upper(newText), nameID);
  return kOk;
}

std::vector<Text> Container::AllNames() const {
  std::vector<Text> out;
  byID.Walk([&](const std::uint32_t&, const Text& text) { out.push_back(text); });
  return out;
}

std::vector<std::uint32_t> Container::AllIDs() const {
  std::vector<std::uint32_t> out;
  byName.Walk([&](const Text&, const std::uint32_t& nameID) { out.push_back(nameID); });
  return out;
}

std::vector<std::pair<std::uint32_t, Text>> Container::AllNamesAndIDs() const {
  std::vector<std::pair<std::uint32_t, Text>> out;
  byID.Walk([&](const std::uint32_t& nameID, const Text& text) { out.emplace_back(nameID, text); });
  return out;
}

bool Container::HoldsSharedKey() const {
  std::vector<Text> keys;
  byID.Walk([&](const std::uint32_t&, const Text& text) { keys.push_back(Upper(text)); });
  std::sort(keys.begin(), keys.end());
  return std::adjacent_find(keys.begin(), keys.end()) != keys.end();
}

// --- container: tree

Container* Container::FindRootContainer() {
  Container* c = this;
  while (c->parent) c = c->parent;
  return c;
}

std::uint32_t Container::AddContainer(std::int16_t childType) {
  auto child = std::make_unique<Container>();
  const std::uint32_t childID = ++LastIssued();
  child->id = childID;
  child->parent = this;
  child->type = childType;
  subs.Set(childID, std::move(child));
  return childID;
}

Status Container::DeleteContainer(std::uint32_t childID) {
  if (childID == 0 || subs.Size() == 0) return kFail;
  std::unique_ptr<Container>* child = subs.Find(childID);
  if (!child) return kFalse;
  (*child)->Shutdown();
  subs.Remove(childID);
  return kOk;
}

Container* Container::FindContainer(std::uint32_t childID) const {
  if (childID == 0 || subs.Size() == 0) return nullptr;
  if (const std::unique_ptr<Container>* child = subs.Find(childID)) return child->get();
  Container* found = nullptr;
  subs.Walk([&](const std::uint32_t&, const std::unique_ptr<Container>& child) {
    if (!found && child->subs.Size() > 0) found = child->FindContainer(childID);
  });
  return found;
}

Container* Container::FindContainerOfName(std::uint32_t nameID) {
  if (nameID == 0) return nullptr;
  if (byID.Find(nameID)) return this;
  Container* found = nullptr;
  subs.Walk([&](const std::uint32_t&, const std::unique_ptr<Container>& child) {
    if (!found) found = child->FindContainerOfName(nameID);
  });
  return found;
}

Status Container::FindNameByIDForAllContainers(std::uint32_t nameID, Text* text) const {
  if (FindNameByID(nameID, text) == kOk) return kOk;
  Status found = kFalse;
  subs.Walk([&](const std::uint32_t&, const std::unique_ptr<Container>& child) {
    if (found != kOk && child->FindNameByIDForAllContainers(nameID, text) == kOk) found = kOk;
  });
  return found;
}

std::vector<std::uint32_t> Container::SubContainerIDs() const {
  std::vector<std::uint32_t> out;
  subs.Walk([&](const std::uint32_t& childID, const std::unique_ptr<Container>&) { out.push_back(childID); });
  return out;
}

int Container::GetNextObjectCount(const Text& base) {
  if (objectIndex != -1 && objectIndex >= static_cast<int>(counters.size())) objectIndex = -1;
  if (objectIndex == -1) {
    if (!base.empty()) {
      for (std::size_t i = 0; i < counters.size(); ++i) {
        if (counters[i].first == base) {
          objectIndex = static_cast<int>(i);
          break;
        }
      }
    }
    if (objectIndex == -1) {
      counters.emplace_back(base, 0);
      objectIndex = static_cast<int>(counters.size()) - 1;
    }
  }
  return ++counters[static_cast<std::size_t>(objectIndex)].second;
}

void Container::Save(std::vector<std::uint8_t>& out) const {
  PutFixed(out, 1, 2);
  PutFixed(out, id, 4);
  PutFixed(out, static_cast<std::uint16_t>(type), 2);
  PutFixed(out, static_cast<std::uint32_t>(byID.Size()) & 0xFFFF, 2);
  byID.Walk([&](const std::uint32_t& nameID, const Text& text) {
    PutFixed(out, nameID, 4);
    PutCounted(out, text);
  });
  PutFixed(out, static_cast<std::uint32_t>(subs.Size()) & 0xFFFF, 2);
  subs.Walk([&](const std::uint32_t&, const std::unique_ptr<Container>& child) { child->Save(out); });
}

Status Container::Load(const std::vector<std::uint8_t>& record) {
  Reader in{record};
  return LoadRecord(*this, in) ? kOk : kFail;
}

Status Container::CreateContainerFromData(std::uint32_t id_, std::int16_t type_) {
  subs.Make(kSubBuckets);
  parent = nullptr;
  type = type_;
  id = id_;
  return kOk;
}

Status Container::AddContainerFromData(std::uint32_t childID, std::int16_t childType) {
  const std::unique_ptr<Container>* held = subs.Find(childID);
  if (!held || (*held)->type != childType) subs.Set(childID, std::make_unique<Container>(this, childID, childType));
  return kOk;
}

Status Container::AddNameFromData(std::uint32_t nameID, const Text& text) {
  byID.Set(nameID, text);
  byName.Set(Upper(text), nameID);
  return kOk;
}

// --- server: registry

std::uint32_t Server::AddContainer(std::uint32_t parentID, std::int16_t containerType) {
  std::uint32_t made = 0;
  if (parentID != 0) {
    Container* parent = GetContainer(parentID);
    if (!parent) return 0;
    made = parent->AddContainer(containerType);
    if (made == 0) return 0;
  } else {
    auto top = std::make_unique<Container>();
    top->type = containerType;
    made = top->id;
    tops.push_back(std::move(top));
  }
  dirty = true;
  return made;
}

Status Server::DeleteContainer(std::uint32_t containerID, bool notify) {
  Container* c = containerID ? GetContainer(containerID) : nullptr;
  if (!c) return kOk;
  if (c->parent) {
    if (c->parent->DeleteContainer(containerID) != kOk) return kFail;
  } else {
    auto it = std::find_if(tops.begin(), tops.end(),
                           [&](const std::unique_ptr<Container>& top) { return top->id == containerID; });
    if (it == tops.end()) return kFail;
    (*it)->Shutdown();
    tops.erase(it);
  }
  if (notify) Post(u"ContainerWasDeleted", containerID, 0);
  dirty = true;
  return kOk;
}

Container* Server::GetContainer(std::uint32_t containerID) const {
  if (containerID == 0) return nullptr;
  for (const auto& top : tops) {
    if (top->id == containerID) return top.get();
    if (top->subs.Size() > 0)
      if (Container* found = top->FindContainer(containerID)) return found;
  }
  return nullptr;
}

Container* Server::FindContainerOfName(std::uint32_t nameID) const {
  for (const auto& top : tops)
    if (Container* found = top->FindContainerOfName(nameID)) return found;
  return nullptr;
}

std::uint32_t Server::GetGlobalContainerID() const {
  for (const auto& top : tops)
    if (top->type == 2) return top->id;
  return 0;
}

std::vector<std::uint32_t> Server::GetTargets() const {
  std::vector<std::uint32_t> out;
  for (const auto& top : tops)
    if (top->type == 3) out.push_back(top->id);
  return out;
}

std::vector<std::uint32_t> Server::GetTopLevelIDs() const {
  std::vector<std::uint32_t> out;
  for (const auto& top : tops) out.push_back(top->id);
  return out;
}

// --- server: name rules

bool Server::IsValidName(const Text& text, std::uint32_t kind) {
  if (text.empty() || text.size() > static_cast<std::size_t>(kMaxLength)) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (i == 0) {
      if (!IsLetter(c) && !(c == u'_' && kind == 1)) return false;
    } else if (!IsLetter(c) && !IsDigit(c) && c != u'_') {
      return false;
    }
  }
  return true;
}

Text Server::RemoveInvalidChars(const Text& text) {
  Text out;
  for (char16_t c : text)
    if (IsLetter(c) || IsDigit(c)) out.push_back(c);
  return out.size() == text.size() ? text : out;
}

Status Server::AddKeyword(const Text& text) {
  const Text key = Upper(text);
  if (std::find(keywords.begin(), keywords.end(), key) != keywords.end()) return kFalse;
  keywords.push_back(key);
  return kOk;
}

bool Server::IsKeyword(const Text& text) const {
  return std::find(keywords.begin(), keywords.end(), Upper(text)) != keywords.end();
}

// --- server: duplicates and lookup

Status Server::FindNameInGlobalContainer(const Text& text, std::uint32_t* nameID) const {
  for (const auto& top : tops) {
    if (top->type != 2) continue;
    std::uint32_t found = 0;
    if (top->FindName(text, true, &found) == kOk) {
      if (nameID) *nameID = found;
      return kOk;
    }
  }
  return kFalse;
}

bool Server::FindNameInTargetNameSpace(const Text& text, std::uint32_t containerID) const {
  for (const auto& top : tops) {
    if (containerID == 0xFFFFFFFF && top->type == 3) {
      if (top->FindName(text, true, nullptr) == kOk) return true;
    } else if (top->id == containerID) {
      if (top->FindName(text, true, nullptr) == kOk) return true;
    }
  }
  return false;
}

bool Server::IsDuplicateName(std::uint32_t containerID, const Text& text, bool confine) const {
  Container* c = GetContainer(containerID);
  if (!c) return false;
  if (c->type == 0 || (c->type == 4 && confine)) {
    std::uint32_t ignored = 0;
    return c->FindIDByName(text, &ignored) == kOk || IsKeyword(text) || IsGlobalName(text);
  }
  Container* top = c->FindRootContainer();
  if (top->type == 2)
    return IsKeyword(text) || IsGlobalName(text) || FindNameInTargetNameSpace(text, 0xFFFFFFFF);
  return IsKeyword(text) || FindNameInTargetNameSpace(text, top->id) || IsGlobalName(text);
}

bool Server::FindName(std::uint32_t containerID, const Text& text, bool descend) const {
  if (containerID == 0) return false;
  for (const auto& top : tops) {
    if (top->id == containerID) {
      if (top->FindName(text, descend, nullptr) == kOk) return true;
    } else if (top->subs.Size() > 0) {
      if (Container* c = top->FindContainer(containerID))
        if (c->FindName(text, descend, nullptr) == kOk) return true;
    }
  }
  return false;
}

Status Server::GetName(std::uint32_t nameID, Text* text) const {
  for (const auto& top : tops) {
    Text found;
    if (top->FindNameByIDForAllContainers(nameID, &found) == kOk) {
      *text = found;
      return kOk;
    }
  }
  return kFail;
}

ListAnswer Server::GetList(ListKind kind, std::uint32_t containerID, int capacity) const {
  ListAnswer a;
  if (containerID == 0) {
    a.status = kFail;
    return a;
  }
  Container* c = GetContainer(containerID);
  if (!c) {
    a.status = kFalse;
    return a;
  }
  a.countWritten = true;
  a.count = c->GetNumNames();
  if (capacity < a.count) {
    a.status = kFalse;
    return a;
  }
  a.filled = true;
  if (kind == ListKind::kIDs) {
    a.ids = c->AllIDs();
    return a;
  }
  a.open = c->ListsOpen();
  for (auto& [nameID, text] : c->AllNamesAndIDs()) {
    a.ids.push_back(nameID);
    a.names.push_back(text);
  }
  if (kind == ListKind::kNames) a.ids.clear();
  return a;
}

std::uint32_t Server::GetID(std::uint32_t containerID, const Text& text) const {
  if (containerID == 0) return 0x80004005u;
  std::uint32_t found = 0;
  if (FindNameInGlobalContainer(text, &found) == kOk) return found;
  Container* c = GetContainer(containerID);
  return c ? c->GetIDOfName(text) : 0;
}

int Server::GetNameSize(std::uint32_t containerID) const {
  Container* c = GetContainer(containerID);
  return c ? c->GetNumNames() : 0;
}

// --- server: editing

void Server::Post(const char16_t* name, std::uint32_t containerID, std::uint32_t nameID, Text oldName,
                  Text newName) {
  posted.push_back({name, containerID, nameID, std::move(oldName), std::move(newName)});
}

Status Server::AddName(std::uint32_t& id, std::uint32_t containerID, const Text& text, std::uint32_t kind,
                       bool check, bool confine) {
  if (containerID == 0) return kFail;
  if (kind != 1 && !IsValidName(text, kind)) return kInvalid;
  if (check && IsDuplicateName(containerID, text, confine)) return kDuplicate;
  Container* c = GetContainer(containerID);
  if (!c) return kFail;
  id = c->AddName(text);
  dirty = true;
  return kOk;
}

Status Server::DeleteName(std::uint32_t containerID, std::uint32_t nameID, bool notify) {
  if (nameID == 0) return kFail;
  if (Container* c = GetContainer(containerID)) {
    if (Status s = c->DeleteName(nameID); s != kOk) return s;
    if (notify) Post(u"NameWasDeleted", c->id, nameID);
  }
  dirty = true;
  return kOk;
}

Status Server::Rename(std::uint32_t containerID, std::uint32_t nameID, const Text& text, std::uint32_t kind,
                      bool notify, bool confine) {
  if (nameID == 0 || text.empty()) return kFail;
  Container* c = containerID ? GetContainer(containerID) : FindContainerOfName(nameID);
  if (!c) return kFail;
  if (containerID == 0) containerID = c->id;
  Text current;
  if (c->FindNameByID(nameID, &current) != kOk) current.clear();
  if (text == current) return kFalse;
  if (!IsValidName(text, kind)) return kInvalid;
  if (!SameIgnoringCase(text, current) && IsDuplicateName(containerID, text, confine)) return kDuplicate;
  if (Status s = c->Rename(nameID, text); s != kOk) return s;
  if (notify) Post(u"NameChanged", containerID, nameID, current, text);
  dirty = true;
  return kOk;
}

Status Server::Rename(std::uint32_t containerID, const Text& oldText, const Text& newText,
                      std::uint32_t kind, bool notify, bool confine) {
  if (oldText.empty() || newText.empty() || containerID == 0) return kFail;
  if (SameIgnoringCase(oldText, newText)) return kOk;
  if (!IsValidName(newText, kind)) return kInvalid;
  if (IsDuplicateName(containerID, newText, confine)) return kDuplicate;
  Container* c = GetContainer(containerID);
  if (!c) return kFail;
  std::uint32_t nameID = 0;
  if (Status s = c->FindIDByName(oldText, &nameID); s != kOk) return s;
  if (Status s = c->Rename(nameID, newText); s != kOk) return s;
  if (notify) Post(u"NameChanged", containerID, nameID, oldText, newText);
  dirty = true;
  return kOk;
}

// --- server: unique names

int Server::GetNextObjectCount(std::uint32_t containerID, const Text& base, bool reset) {
  if (containerID == 0 || base.empty()) return 0;
  Container* c = GetContainer(containerID);
  if (!c) return 0;
  if (reset) c->ResetObjectIndex();
  return c->GetNextObjectCount(base);
}

Status Server::GetNextName(std::uint32_t containerID, const Text& baseName, int digits, Text* result) {
  if (containerID == 0 || !result) return kFalse;
  result->clear();
  Text base = RemoveInvalidChars(baseName);
  if (base.empty()) return kFalse;
  // The length rule; false where the base runs out.
  auto candidate = [&](int count, Text* out) {
    *out = Format(base, count, digits);
    if (static_cast<int>(out->size()) <= kMaxLength || digits == 0) return true;
    *out = Format(base, count, 0);
    if (static_cast<int>(out->size()) <= kMaxLength) return true;
    for (;;) {
      if (base.empty()) return false;
      base.pop_back();
      *out = Format(base, count, digits);
      if (static_cast<int>(out->size()) <= kMaxLength) return true;
    }
  };
  int count = GetNextObjectCount(containerID, base, true);
  Text proposal;
  if (!candidate(count, &proposal)) return kFalse;
  Container* c = GetContainer(containerID);
  if (!c) return kFalse;
  for (;;) {
    std::uint32_t ignored = 0;
    if (c->FindIDByName(proposal, &ignored) != kOk) {
      *result = proposal;
      return kOk;
    }
    count = GetNextObjectCount(containerID, base, false);
    if (count == 0) return kFalse;
    if (!candidate(count, &proposal)) return kFalse;
  }
}

// --- server: storage

std::vector<std::uint8_t> Server::Save() {
  std::vector<std::uint8_t> out;
  PutFixed(out, 1, 2);
  PutFixed(out, static_cast<std::uint32_t>(tops.size()) & 0xFFFF, 2);
  for (const auto& top : tops) top->Save(out);
  PutFixed(out, LastIssued(), 4);
  dirty = false;
  return out;
}

Status Server::Load(const std::optional<std::vector<std::uint8_t>>& bytes) {
  if (!bytes) return kOk;
  Reader in{*bytes};
  try {
    in.Fixed(2);
    const auto count = static_cast<std::int16_t>(in.Fixed(2));
    for (int i = 0; i < count; ++i) {
      auto top = std::make_unique<Container>();
      if (!LoadRecord(*top, in)) return kFail;
      tops.push_back(std::move(top));
    }
    LastIssued() = in.Fixed(4);
  } catch (const Reader::Short&) {
    return kFail;
  }
  return kOk;
}

}  // namespace nametree::model
