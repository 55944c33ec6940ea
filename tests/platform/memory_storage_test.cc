// The in-memory storage behaves as hosts' storages do where the library
// relies on it: overwrite from the start, exclusive handles, counted refs.
#include <gtest/gtest.h>

#include "nametree/legacy_storage.h"
#include "nametree/memory_storage.h"

namespace nametree {
namespace {

std::vector<std::uint8_t> ReadAll(IStream* s) {
  std::vector<std::uint8_t> out;
  std::uint8_t buf[7];
  std::uint32_t got = 0;
  while (s->Read(buf, sizeof buf, &got) == S_OK || got) out.insert(out.end(), buf, buf + got);
  return out;
}

TEST(MemoryStorage, ReopenedStreamIsOverwrittenFromItsStartKeepingTheTail) {
  ComPtr<IStorage> st = CreateMemoryStorage();
  {
    ComPtr<IStream> s;
    ASSERT_EQ(st->CreateStream(u"S", kCreateMode, s.Put()), S_OK);
    ASSERT_EQ(s->Write("abcdef", 6, nullptr), S_OK);
  }
  {
    ComPtr<IStream> s;
    ASSERT_EQ(st->OpenStream(u"S", kOpenMode, s.Put()), S_OK);
    std::uint32_t put = 0;
    ASSERT_EQ(s->Write("XY", 2, &put), S_OK);
    EXPECT_EQ(put, 2u);
  }
  ComPtr<IStream> s;
  ASSERT_EQ(st->OpenStream(u"S", kOpenMode, s.Put()), S_OK);
  EXPECT_EQ(ReadAll(s.Get()), (std::vector<std::uint8_t>{'X', 'Y', 'c', 'd', 'e', 'f'}));
}

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

TEST(MemoryStorage, CreateReplacesAndMissingStreamsFail) {
  ComPtr<IStorage> st = CreateMemoryStorage();
  ComPtr<IStream> s;
  EXPECT_LT(st->OpenStream(u"NameServer", kOpenMode, s.Put()), 0);
  EXPECT_FALSE(s);
  ASSERT_EQ(st->CreateStream(u"NameServer", kCreateMode, s.Put()), S_OK);
  s->Write("old", 3, nullptr);
  s.Reset();
  ASSERT_EQ(st->CreateStream(u"NameServer", kCreateMode, s.Put()), S_OK);
  s.Reset();
  std::vector<StorageElement> list;
  ASSERT_EQ(st->EnumElements(&list), S_OK);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].size, 0u);
}

TEST(MemoryStorage, StreamsAreExclusiveAndDeniableAndCounted) {
  ComPtr<IStorage> st = CreateMemoryStorage();
  auto ledger = MemoryStorageLedger(st.Get());
  ASSERT_TRUE(ledger);
  EXPECT_EQ(ledger->Live(), 1);  // the storage itself
  ComPtr<IStream> a, b;
  ASSERT_EQ(st->CreateStream(u"S", kCreateMode, a.Put()), S_OK);
  EXPECT_EQ(st->OpenStream(u"S", kOpenMode, b.Put()), STG_E_ACCESSDENIED);
  EXPECT_EQ(ledger->Live(), 2);
  a.Reset();
  EXPECT_EQ(ledger->Live(), 1);
  DenyMemoryStreamAccess(st.Get(), u"S");
  EXPECT_EQ(st->OpenStream(u"S", kOpenMode, b.Put()), STG_E_ACCESSDENIED);
  EXPECT_EQ(st->CreateStream(u"S", kCreateMode, b.Put()), STG_E_ACCESSDENIED);
}

TEST(MemoryStorage, LegacyAdapterOpensChildStorageElements) {
  ComPtr<IStorage> st = CreateMemoryStorage();
  {
    ComPtr<IStorage> child;
    ASSERT_EQ(st->CreateStorage(u"QXTNameServer", kCreateMode, child.Put()), S_OK);
    ComPtr<IStream> s;
    ASSERT_EQ(child->CreateStream(u"NameService", kCreateMode, s.Put()), S_OK);
    s->Write("\x07", 1, nullptr);
  }
  auto ledger = MemoryStorageLedger(st.Get());
  const auto baseline = ledger->Live();
  {
    ComPtr<IZebStorage> zeb = CreateLegacyStorageAdapter(st.Get());
    const CString empty;
    ComPtr<IZebStorage> child;
    EXPECT_LT(zeb->OpenChildStorage(u"Other", kOpenMode, 0, &empty, child.Put()), 0);
    ASSERT_EQ(zeb->OpenChildStorage(u"QXTNameServer", kOpenMode, 0, &empty, child.Put()), S_OK);
    ComPtr<IUnknown> element;
    EXPECT_LT(child->OpenElement(u"Missing", kOpenMode, 0, 0, element.Put()), 0);
    ASSERT_EQ(child->OpenElement(u"NameService", kOpenMode, 0, 0, element.Put()), S_OK);
    IStream* raw = nullptr;
    ASSERT_EQ(element->QueryInterface(IID_IStream, reinterpret_cast<void**>(&raw)), S_OK);
    ComPtr<IStream> stream = ComPtr<IStream>::Attach(raw);
    EXPECT_EQ(ReadAll(stream.Get()), (std::vector<std::uint8_t>{7}));
    void* none = nullptr;
    EXPECT_EQ(element->QueryInterface(IID_IStorage, &none), E_NOINTERFACE);
  }
  EXPECT_EQ(ledger->Live(), baseline);
}

}  // namespace
}  // namespace nametree
