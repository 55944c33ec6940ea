// Shared helpers for the persistence tests: streams in and out of memory.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "nametree/memory_storage.h"
#include "nametree/name_server.h"
#include "support/hex.h"

namespace nametree::test {

inline std::vector<std::uint8_t> SavedRecord(const CNameContainer& c) {
  ComPtr<IStream> s = CreateMemoryStream();
  EXPECT_EQ(c.Save(s.Get()), S_OK);
  return MemoryStreamBytes(s.Get());
}

inline std::vector<std::uint8_t> StreamOf(IStorage* storage) {
  ComPtr<IStream> s;
  if (Failed(storage->OpenStream(u"NameServer", kOpenMode, s.Put()))) return {};
  return MemoryStreamBytes(s.Get());
}

inline void PutStream(IStorage* storage, const std::vector<std::uint8_t>& bytes) {
  ComPtr<IStream> s;
  ASSERT_EQ(storage->CreateStream(u"NameServer", kCreateMode, s.Put()), S_OK);
  if (!bytes.empty()) {
    ASSERT_EQ(s->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), nullptr), S_OK);
  }
}

inline std::vector<CString> NamesOf(const CNameContainer& c) {
  std::vector<CString> v(static_cast<std::size_t>(c.GetNumNames()));
  c.GetAllNamesInContainer(v.data());
  return v;
}

class PersistTest : public ::testing::Test {
 protected:
  void SetUp() override { CNameContainer::SetLastIssuedNameID(0); }
};

}  // namespace nametree::test
