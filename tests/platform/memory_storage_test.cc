// The in-memory storage behaves as hosts' storages do where the library
// relies on it: short reads, replacing creates, exclusive handles, counted
// refs. (Overwriting from the start is seen through a shorter save.)
#include <gtest/gtest.h>

#include "nametree/legacy_storage.h"
#include "nametree/memory_storage.h"
#include "platform/handle_ledger.h"

namespace nametree {
namespace {

TEST(MemoryStorage, ReadReportsShortAndEnd) {
  ComPtr<IStream> s = CreateMemoryStream({1, 2, 3});
  std::uint8_t buf[4] = {};
  std::uint32_t got = 9;
  EXPECT_EQ(s->Read(buf, 2, &got), S_OK);
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(s->Read(buf, 4, &got), S_FALSE);
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(buf[0], 3);
  EXPECT_EQ(s->Read(buf, 4, nullptr), S_FALSE);
}

TEST(MemoryStorage, StreamsAreReplacedExclusiveDeniableAndCounted) {
  ComPtr<IStorage> st = CreateMemoryStorage();
  auto ledger = MemoryStorageLedger(st.Get());
  ASSERT_TRUE(ledger);
  EXPECT_EQ(ledger->Live(), 1);  // the storage itself
  ComPtr<IStream> a, b;
  EXPECT_LT(st->OpenStream(u"S", kOpenMode, a.Put()), 0);
  EXPECT_FALSE(a);
  ASSERT_EQ(st->CreateStream(u"S", kCreateMode, a.Put()), S_OK);
  a->Write("old", 3, nullptr);
  EXPECT_EQ(st->OpenStream(u"S", kOpenMode, b.Put()), STG_E_ACCESSDENIED);
  EXPECT_EQ(ledger->Live(), 2);
  a.Reset();
  EXPECT_EQ(ledger->Live(), 1);
  ASSERT_EQ(st->CreateStream(u"S", kCreateMode, a.Put()), S_OK);
  a.Reset();
  std::vector<StorageElement> list;
  ASSERT_EQ(st->EnumElements(&list), S_OK);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].size, 0u);
}

// Missing children and elements are the legacy loader's cases; an element
// answers for a stream only.
TEST(MemoryStorage, LegacyAdapterElementIsNoStorage) {
  ComPtr<IStorage> st = CreateMemoryStorage();
  ComPtr<IStorage> inner;
  ASSERT_EQ(st->CreateStorage(u"Child", kCreateMode, inner.Put()), S_OK);
  ComPtr<IStream> s;
  ASSERT_EQ(inner->CreateStream(u"Element", kCreateMode, s.Put()), S_OK);
  s.Reset();
  const CString empty;
  ComPtr<IZebStorage> child;
  ASSERT_EQ(CreateLegacyStorageAdapter(st.Get())->OpenChildStorage(u"Child", kOpenMode, 0, &empty, child.Put()), S_OK);
  ComPtr<IUnknown> element;
  ASSERT_EQ(child->OpenElement(u"Element", kOpenMode, 0, 0, element.Put()), S_OK);
  void* none = nullptr;
  EXPECT_EQ(element->QueryInterface(IID_IStorage, &none), E_NOINTERFACE);
}

}  // namespace
}  // namespace nametree
