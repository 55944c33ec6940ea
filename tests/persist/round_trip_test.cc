// Large generated documents survive a save and a load unchanged.
#include <random>

#include "persist_fixture.h"

namespace nametree::test {
namespace {

using RoundTrip = PersistTest;

// Lists every container (pre-order, table order) with its names, for comparison.
void Describe(const CNameContainer& c, std::vector<CString>& out) {
  out.push_back(u"#" + CString(1, static_cast<char16_t>(c.GetID())) + CString(1, static_cast<char16_t>(c.GetContainerType())));
  std::vector<CString> names(static_cast<std::size_t>(c.GetNumNames()));
  std::vector<std::uint32_t> ids(names.size());
  c.GetAllNameAndIDsInContainer(names.data(), ids.data());
  for (std::size_t i = 0; i < names.size(); ++i) out.push_back(names[i] + u"=" + CString(1, static_cast<char16_t>(ids[i])));
  std::vector<std::uint32_t> subs(static_cast<std::size_t>(c.GetNumSubContainers()));
  c.GetSubContainerIDs(subs.data());
  for (std::uint32_t id : subs) Describe(*c.FindContainer(id), out);
}

std::vector<CString> Describe(const CNameServer& s) {
  std::vector<CString> out;
  for (std::uint32_t id : s.GetTopLevelContainerIDs()) Describe(*s.GetContainer(id), out);
  return out;
}

TEST_F(RoundTrip, ThousandsOfNamesDeepNestingAndNonAsciiText) {
  CNameServer server;
  std::mt19937 rng(42);
  const std::uint32_t global = server.AddContainer(0, kGlobalContainer);
  server.AddContainer(0, kTargetContainer);
  std::uint32_t parent = global;
  for (int depth = 0; depth < 60; ++depth) parent = server.AddContainer(parent, static_cast<std::int16_t>(depth % 5));
  const CString alphabet = u"Aa\u00e9\u03a9\u4e2d\U0001F600_9";
  for (int i = 0; i < 5000; ++i) {
    CString name;
    for (int k = 0; k < 1 + i % 12; ++k) name += alphabet[rng() % alphabet.size()];
    name += CString(1, static_cast<char16_t>(u'a' + i % 26));
    const std::uint32_t where = (i % 3 == 0) ? parent : global;
    server.GetContainer(where)->AddName(name);
  }
  ComPtr<IStorage> first = CreateMemoryStorage();
  ASSERT_EQ(server.Save(first.Get()), S_OK);

  CNameServer loaded;
  ASSERT_EQ(loaded.Load(first.Get()), S_OK);
  ComPtr<IStorage> second = CreateMemoryStorage();
  ASSERT_EQ(loaded.Save(second.Get()), S_OK);
  // Multi-entry buckets are walked newest first and reloaded in walk order,
  // so their order flips on every reload; two reloads restore it.
  CNameServer again;
  ASSERT_EQ(again.Load(second.Get()), S_OK);
  ComPtr<IStorage> third = CreateMemoryStorage();
  ASSERT_EQ(again.Save(third.Get()), S_OK);
  EXPECT_EQ(StreamOf(first.Get()), StreamOf(third.Get()));
  EXPECT_EQ(StreamOf(first.Get()).size(), StreamOf(second.Get()).size());
  EXPECT_EQ(Describe(server), Describe(again));
}

TEST_F(RoundTrip, SingleEntryBucketsGiveIdenticalBytesAtOnce) {
  CNameServer server;
  const std::uint32_t g = server.AddContainer(0, 2);
  for (std::uint32_t i = 0; i < 300; ++i) {
    CNameContainer::SetLastIssuedNameID(1000 + i * 16);  // one ID per bucket
    server.GetContainer(g)->AddName(u"N" + CString(1, static_cast<char16_t>(0x4E00 + i)));
  }
  ComPtr<IStorage> a = CreateMemoryStorage(), b = CreateMemoryStorage();
  ASSERT_EQ(server.Save(a.Get()), S_OK);
  CNameServer loaded;
  ASSERT_EQ(loaded.Load(a.Get()), S_OK);
  ASSERT_EQ(loaded.Save(b.Get()), S_OK);
  EXPECT_EQ(StreamOf(a.Get()), StreamOf(b.Get()));
}

TEST_F(RoundTrip, ReloadReversesAMultiEntryBucket) {
  CNameContainer c;
  c.AddNameFromData(3, u"C", 0);
  c.AddNameFromData(5, u"E", 0);  // bucket 0 now walks 5, 3
  ComPtr<IStream> s = CreateMemoryStream(SavedRecord(c));
  CNameContainer back;
  ASSERT_EQ(back.Load(s.Get()), S_OK);
  EXPECT_EQ(NamesOf(c), (std::vector<CString>{u"E", u"C"}));
  EXPECT_EQ(NamesOf(back), (std::vector<CString>{u"C", u"E"}));
}

}  // namespace
}  // namespace nametree::test
