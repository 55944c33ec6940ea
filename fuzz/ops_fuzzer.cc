// A sequence of host operations decoded from the input, run against the
// server and a plain model of what it must hold: after every step each
// container lists exactly the names the model expects, and a save/load
// round trip keeps them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

#include "nametree/memory_storage.h"
#include "nametree/name_server.h"

using namespace nametree;

namespace {

#define CHECK(cond)                                                    \
  do {                                                                 \
    if (!(cond)) {                                                     \
      std::fprintf(stderr, "ops_fuzzer: %s (line %d)\n", #cond, __LINE__); \
      std::abort();                                                    \
    }                                                                  \
  } while (0)

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  CString Text() {
    static const char16_t kUnits[] = u"aAbBzZ_19\u00e9\u03a9 ";
    CString t;
    for (int n = Byte() % 7; n > 0; --n) t.push_back(kUnits[Byte() % (sizeof(kUnits) / 2 - 1)]);
    return t;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

struct ModelContainer {
  std::uint32_t parent = 0;
  std::int16_t type = 0;
  std::map<std::uint32_t, CString> names;
  // Once two names equal but for case were entered, the text-keyed table
  // no longer mirrors the names; only lookups by ID are compared then.
  bool caseTwins = false;
};

using Model = std::map<std::uint32_t, ModelContainer>;

// Upper case of the units that Input::Text draws from.
CString Upper(const CString& t) {
  CString u;
  for (char16_t c : t) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    if (c == u'\u00e9') c = u'\u00c9';
    u.push_back(c);
  }
  return u;
}

bool HoldsText(const ModelContainer& c, const CString& text, std::uint32_t except = 0) {
  const CString key = Upper(text);
  for (const auto& [id, t] : c.names)
    if (id != except && Upper(t) == key) return true;
  return false;
}

void CheckLists(const CNameServer& server, const Model& model) {
  for (const auto& [cid, mc] : model) {
    CHECK(server.GetContainer(cid) != nullptr);
    for (const auto& [id, text] : mc.names) {
      CString got;
      CHECK(server.GetName(id, got) == S_OK && got == text);
      const CNameContainer* holder = server.FindContainerOfName(id);
      CHECK(holder && holder->GetID() == cid);
    }
    if (mc.caseTwins) continue;
    const int n = server.GetNameSize(cid);
    CHECK(n == static_cast<int>(mc.names.size()));
    std::vector<std::uint32_t> ids(static_cast<std::size_t>(n) + 1);
    std::vector<CString> texts(static_cast<std::size_t>(n) + 1);
    int count = -1;
    CHECK(server.GetNamesAndIDs(cid, n, count, ids.data(), texts.data()) == S_OK);
    CHECK(count == n);
    std::map<std::uint32_t, CString> got;
    for (int i = 0; i < n; ++i) got[ids[static_cast<std::size_t>(i)]] = texts[static_cast<std::size_t>(i)];
    CHECK(got == mc.names);
  }
}

std::uint32_t Pick(const Model& model, std::uint8_t b) {
  if (model.empty() || b % 8 == 7) return b;  // sometimes an ID that may name nothing
  auto it = model.begin();
  std::advance(it, b % model.size());
  return it->first;
}

void EraseSubtree(Model& model, std::uint32_t id) {
  std::vector<std::uint32_t> children;
  for (const auto& [cid, mc] : model)
    if (mc.parent == id) children.push_back(cid);
  for (std::uint32_t c : children) EraseSubtree(model, c);
  model.erase(id);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  CNotificationManager manager;
  CNameServer server;
  server.Initialize(&manager);
  Model model;
  const std::int16_t kTypes[] = {0, 1, 2, 3, 4, 5};

  static const bool verbose = std::getenv("OPS_FUZZER_VERBOSE") != nullptr;
  for (int step = 0; step < 200 && !in.Empty(); ++step) {
    const int op = in.Byte() % 8;
    if (verbose) std::fprintf(stderr, "step %d: op %d\n", step, op);
    switch (op) {
      case 0: {
        const std::uint32_t parent = in.Byte() % 3 == 0 ? 0 : Pick(model, in.Byte());
        const std::int16_t type = kTypes[in.Byte() % 6];
        const std::uint32_t id = server.AddContainer(parent, type);
        if (parent != 0 && !model.count(parent)) {
          CHECK(id == 0);
        } else if (id != 0) {
          CHECK(!model.count(id));
          model[id] = ModelContainer{parent, type, {}};
        }
        break;
      }
      case 1:
      case 2: {
        const std::uint32_t cid = Pick(model, in.Byte());
        const CString text = in.Text();
        const bool check = in.Byte() & 1;
        const bool wasDuplicate = server.IsDuplicateName(cid, text, false);
        const auto it = model.find(cid);
        // A plain container never holds one text twice when asked to check.
        // (Not once case twins were entered: deleting one twin drops the text key of both.)
        const bool ownDuplicate = check && it != model.end() && it->second.type == 0 && !it->second.caseTwins &&
                                  HoldsText(it->second, text);
        std::uint32_t id = 0;
        const HRESULT hr = server.AddName(id, cid, text, 0, check, false);
        if (verbose) std::fprintf(stderr, "  add to %u (%zu units, check %d): %d, id %u\n", cid, text.size(), check, hr, id);
        if (hr == S_OK) {
          CHECK(model.count(cid) && server.IsValidName(text, 0));
          CHECK(!check || !wasDuplicate);
          CHECK(id != 0 && !model[cid].names.count(id));
          if (HoldsText(model[cid], text)) model[cid].caseTwins = true;
          model[cid].names[id] = text;
        } else if (model.count(cid) && server.IsValidName(text, 0)) {
          CHECK(check && wasDuplicate && hr == E_NAME_DUPLICATE);
        }
        CHECK(!(ownDuplicate && hr == S_OK));
        break;
      }
      case 3: {
        const std::uint32_t cid = Pick(model, in.Byte());
        std::uint32_t id = in.Byte();
        if (auto it = model.find(cid); it != model.end() && !it->second.names.empty() && (id & 1))
          id = std::next(it->second.names.begin(), id % it->second.names.size())->first;
        const bool held = model.count(cid) && model[cid].names.count(id);
        const HRESULT hr = server.DeleteName(cid, id, true);
        // Without such a container there is nothing to refuse the deletion.
        const bool expected = id != 0 && (held || !model.count(cid));
        CHECK((hr == S_OK) == expected);
        if (held) model[cid].names.erase(id);
        break;
      }
      case 4: {
        const std::uint32_t cid = Pick(model, in.Byte());
        const CString text = in.Text();
        auto it = model.find(cid);
        if (it == model.end() || it->second.names.empty()) break;
        const std::uint32_t id = std::next(it->second.names.begin(), in.Byte() % it->second.names.size())->first;
        const bool twin = HoldsText(it->second, text, id);
        const bool ownDuplicate = it->second.type == 0 && !it->second.caseTwins && twin;
        if (server.Rename(0, id, text, 0, true, false) == S_OK) {
          CHECK(!ownDuplicate);
          if (twin) it->second.caseTwins = true;
          CHECK(server.IsValidName(text, 0));
          it->second.names[id] = text;
        }
        break;
      }
      case 5: {
        const std::uint32_t cid = Pick(model, in.Byte());
        // An ID that names no container is a success with nothing done.
        CHECK(server.DeleteContainer(cid, true) == S_OK);
        EraseSubtree(model, cid);
        CHECK(server.GetContainer(cid) == nullptr);
        break;
      }
      case 6: {
        const std::uint32_t cid = Pick(model, in.Byte());
        CString proposal;
        if (server.GetNextName(cid, in.Text(), in.Byte() % 5, &proposal) == S_OK) {
          CHECK(model.count(cid) && proposal.size() <= 32);
          CHECK(!HoldsText(model[cid], proposal));
        }
        break;
      }
      case 7: {
        ComPtr<IStorage> storage = CreateMemoryStorage();
        CHECK(server.Save(storage.Get()) == S_OK);
        CNameServer reloaded;
        CHECK(reloaded.Load(storage.Get()) == S_OK);
        CheckLists(reloaded, model);
        break;
      }
    }
    CheckLists(server, model);
  }
  return 0;
}
