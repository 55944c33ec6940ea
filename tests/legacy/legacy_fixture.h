// A server that reads documents of the earlier format, and a rendering of
// its tree that tests compare with the tree they expect.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "legacy_doc.h"
#include "nametree/legacy_storage.h"
#include "nametree/name_server.h"

namespace nametree::test {

// One line per container ("<indent>#<id> t<type>") followed by its names
// ("<indent>  <id> <text>"), then its sub-containers. Top-level containers
// come in list order; names and sub-containers in ascending ID order, so
// that expectations do not depend on hash-table walk order. A name that
// FindContainerOfName places elsewhere says so.
std::string TreeOf(const CNameServer& server);

class LegacyTest : public ::testing::Test {
 protected:
  void SetUp() override { CNameContainer::SetLastIssuedNameID(0); }

  HRESULT LoadFrom(IStorage* storage) {
    ComPtr<IZebStorage> legacy = CreateLegacyStorageAdapter(storage);
    return server.LoadOldVersion(legacy.Get());
  }
  HRESULT LoadBytes(const std::vector<std::uint8_t>& bytes) {
    ComPtr<IStorage> storage = LegacyStorage(bytes);
    return LoadFrom(storage.Get());
  }
  HRESULT LoadDoc(const LegacyDocument& doc) { return LoadBytes(Encode(doc)); }

  CNameServer server;
};

}  // namespace nametree::test
