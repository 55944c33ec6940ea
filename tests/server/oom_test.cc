// Every allocation of an edit failed in turn: the edit gives its result for
// running out of memory, throws nothing, and leaves the document, the ID
// counter and the index as they were; once memory suffices it succeeds.
#include <gtest/gtest.h>

#include <functional>

#include "nametree/memory_storage.h"
#include "nametree/name_server.h"
#include "support/deep_stream.h"
#include "support/failing_alloc.h"

namespace nametree::test {
namespace {

struct Edit {
  const char* what;
  HRESULT refused;  // the result while memory runs out
  std::function<HRESULT(CNameServer&)> run;
  const std::vector<std::uint8_t>* scene = nullptr;  // the one below when none
  // What a refused edit must also have left, beyond the saved tree.
  std::function<void(CNameServer&)> leftAsWas = nullptr;
};

// The saved tree without the counter that ends the stream.
std::vector<std::uint8_t> Tree(CNameServer& server) {
  ComPtr<IStorage> st = CreateMemoryStorage();
  EXPECT_EQ(server.Save(st.Get()), S_OK);
  std::vector<std::uint8_t> bytes = StreamBytes(st.Get());
  bytes.resize(bytes.size() - 4);
  return bytes;
}

HRESULT AsResult(std::uint32_t id) { return id ? S_OK : E_FAIL; }

const char16_t kLong[] = u"ppppppppppppppppppppppppppppppppppppppppLong";

// The argument's own copy may fail too, before the library runs.
HRESULT AddLongFromData(CNameServer& s, std::uint32_t container, std::uint32_t id) {
  CString text;
  try {
    text = kLong;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return s.GetContainer(container)->AddNameFromData(id, std::move(text), 0);
}

// Texts too long for a name through the server, so the container's own
// Rename; long enough for a block of their own, so the key can fail after
// the text.
CString LongText(std::size_t qs, const char16_t* tail) { return CString(qs, u'q') + tail; }

// The container's own Rename of ID `id`, or, with oldQs, of the text of
// oldQs q's and "LONG". The arguments' copies may fail before it runs.
HRESULT RenameLong(CNameServer& s, std::uint32_t container, std::uint32_t id, std::size_t oldQs, std::size_t qs,
                   const char16_t* tail) {
  CString text, old;
  try {
    text = LongText(qs, tail);
    if (oldQs) old = LongText(oldQs, u"LONG");
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  CNameContainer* c = s.GetContainer(container);
  return oldQs ? c->Rename(std::move(old), std::move(text)) : c->Rename(id, std::move(text));
}

// The old text still names its ID, the new one nothing.
std::function<void(CNameServer&)> StillNamed(std::uint32_t container, std::uint32_t id, CString old, CString refused) {
  return [=](CNameServer& s) {
    EXPECT_EQ(s.GetID(container, old), id);
    EXPECT_FALSE(s.FindName(container, refused, false));
  };
}

TEST(OutOfMemory, EditsFailWholeAndThrowNothing) {
  if (!CanFailAllocations()) GTEST_SKIP() << "the allocator cannot be replaced in this build";
  // A global tree and a target tree, names shared between them; records
  // long enough that Load sorts their keys by radix.
  const std::vector<std::uint8_t> scene = NestedStream(3, kGlobalContainer, 70);
  const std::vector<std::uint8_t> nameless = NestedStream(3, kGlobalContainer, 0);
  const ComPtr<IStorage> source = StorageWith(scene);
  // Texts and keys too long for a container's shared units, each in a block of its own.
  const ComPtr<IStorage> longTexts = CreateMemoryStorage();
  std::uint32_t top = 0;
  {
    CNameServer writer;
    top = writer.AddContainer(0, kGlobalContainer);
    for (std::uint32_t i = 1; i <= 3; ++i) writer.GetContainer(top)->AddNameFromData(i, LongText(60 + 20 * i, u"Long"), 0);
    EXPECT_EQ(writer.Save(longTexts.Get()), S_OK);
  }
  const std::vector<std::uint8_t> longScene = StreamBytes(longTexts.Get());
  const std::vector<Edit> edits = {
      {"checked AddName", E_FAIL,
       [](CNameServer& s) {
         std::uint32_t id = 0;
         return s.AddName(id, 5, u"Pump", 0, true);
       }},
      // Long enough that the unit store must grow for the text and again for
      // its key, so the key can fail after the text. The argument's own copy
      // may fail too, before the library runs.
      {"checked AddName of a long text", E_FAIL,
       [](CNameServer& s) {
         std::uint32_t id = 0;
         CString text;
         try {
           text = u"PumpOfTheFeedLineNumberTwentyTwo";
         } catch (const std::bad_alloc&) {
           return E_FAIL;
         }
         return s.AddName(id, 5, std::move(text), 0, true);
       }},
      {"checked AddName of a key sharing its text", E_FAIL,
       [](CNameServer& s) {
         std::uint32_t id = 0;
         return s.AddName(id, 5, u"VALVE", 0, true);
       }},
      {"nested AddContainer", E_FAIL, [](CNameServer& s) { return AsResult(s.AddContainer(3, 0)); }},
      // A container makes its tables at their first key.
      {"first AddContainer of a leaf", E_FAIL, [](CNameServer& s) { return AsResult(s.AddContainer(5, 0)); }},
      {"first AddName of a container", E_FAIL,
       [](CNameServer& s) {
         std::uint32_t id = 0;
         return s.AddName(id, 5, u"Pump", 0, true);
       },
       &nameless},
      {"top-level AddContainer", E_FAIL, [](CNameServer& s) { return AsResult(s.AddContainer(0, kTargetContainer)); }},
      {"DeleteName", E_OUTOFMEMORY, [](CNameServer& s) { return s.DeleteName(3, 4, true); }},
      // The new key shares the new text's units in the first, not in the second.
      {"Rename by ID", E_OUTOFMEMORY, [](CNameServer& s) { return s.Rename(3, 4, u"PUMP", 5, true, false); }},
      {"Rename by text to another case", E_OUTOFMEMORY,
       [](CNameServer& s) { return s.Rename(3, u"N1_0", u"Pump", 5, true, false); }},
      // A long text and key, each in a block of its own, so the key can fail
      // after the text; for a held ID, the text after the key.
      {"AddNameFromData of a new ID", E_OUTOFMEMORY, [](CNameServer& s) { return AddLongFromData(s, 5, 900); }},
      {"AddNameFromData of a held ID", E_OUTOFMEMORY, [](CNameServer& s) { return AddLongFromData(s, 3, 4); },
       nullptr, [](CNameServer& s) { EXPECT_FALSE(s.FindName(3, kLong, false)); }},
      {"Rename of a long text by ID", E_OUTOFMEMORY,
       [=](CNameServer& s) { return RenameLong(s, top, 1, 0, 90, u"Renamed"); }, &longScene,
       StillNamed(top, 1, LongText(80, u"Long"), LongText(90, u"Renamed"))},
      {"Rename of a long text by text", E_OUTOFMEMORY,
       [=](CNameServer& s) { return RenameLong(s, top, 0, 100, 90, u"Renamed"); }, &longScene,
       StillNamed(top, 2, LongText(100, u"Long"), LongText(90, u"Renamed"))},
      // The key stays; it moves to the front of its chain only once the text is made.
      {"Rename of a long text to another case", E_OUTOFMEMORY,
       [=](CNameServer& s) { return RenameLong(s, top, 3, 0, 120, u"LONG"); }, &longScene,
       StillNamed(top, 3, LongText(120, u"Long"), LongText(120, u"Lon"))},
      // A key that another ID holds takes only its value back.
      {"Rename of a long text to a key held", E_OUTOFMEMORY,
       [=](CNameServer& s) { return RenameLong(s, top, 1, 0, 100, u"LONG"); }, &longScene,
       [=](CNameServer& s) { EXPECT_EQ(s.GetID(top, LongText(100, u"Long")), 2u); }},
      {"Load", E_FAIL, [&](CNameServer& s) { return s.Load(source.Get()); }},
      {"Load of long texts", E_FAIL, [&](CNameServer& s) { return s.Load(longTexts.Get()); }},
  };
  for (const Edit& e : edits) {
    SCOPED_TRACE(e.what);
    for (long successes = 0;; ++successes) {
      CNameContainer::SetLastIssuedNameID(0);
      CNotificationManager manager;
      CNameServer server;
      server.Initialize(&manager);
      ASSERT_EQ(server.Load(StorageWith(e.scene ? *e.scene : scene).Get()), S_OK);
      const std::uint32_t counter = CNameContainer::GetLastIssuedNameID();
      const std::vector<std::uint8_t> before = Tree(server);
      HRESULT hr = S_OK;
      FailAllocationsAfter(successes);
      bool threw = false;
      try {
        hr = e.run(server);
      } catch (...) {
        threw = true;
      }
      StopFailingAllocations();
      EXPECT_FALSE(threw) << successes;
      EXPECT_EQ(server.CheckInvariants(), "") << successes;
      if (!AllocationFailed()) {
        EXPECT_EQ(hr, S_OK);
        break;
      }
      if (hr == S_OK) continue;  // a failure the entry could do without
      EXPECT_EQ(hr, e.refused) << successes;
      EXPECT_EQ(Tree(server), before) << successes;
      if (e.leftAsWas) e.leftAsWas(server);
      // Load draws an ID for every container it makes, as it always does.
      if (std::string(e.what).rfind("Load", 0) != 0) {
        EXPECT_EQ(CNameContainer::GetLastIssuedNameID(), counter) << successes;
      }
      ASSERT_LT(successes, 100000);
    }
  }
}

}  // namespace
}  // namespace nametree::test
