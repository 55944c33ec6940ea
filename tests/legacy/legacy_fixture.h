// A server that reads documents of the earlier format, a rendering of its
// tree that tests compare with the tree they expect, and a probe for the
// memory a reader asks for.
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
// that expectations do not depend on hash-table walk order. A name says so
// when FindContainerOfName places it elsewhere or GetID gives its text
// another ID.
std::string TreeOf(const CNameServer& server);

// Records the largest single allocation made while a probe is alive, so
// that a test can show a reader never sizes memory from untrusted counts.
class AllocationProbe {
 public:
  AllocationProbe();
  ~AllocationProbe();
  AllocationProbe(const AllocationProbe&) = delete;
  AllocationProbe& operator=(const AllocationProbe&) = delete;

  std::size_t Largest() const;
  // False in sanitizer builds, whose runtime owns operator new.
  static bool Available();
};

class LegacyTest : public ::testing::Test {
 protected:
  void SetUp() override { CNameContainer::SetLastIssuedNameID(0); }

  HRESULT LoadFrom(IStorage* storage) { return server.LoadOldVersion(CreateLegacyStorageAdapter(storage).Get()); }
  HRESULT LoadDoc(const LegacyDocument& doc) { return LoadFrom(LegacyStorage(EncodeLegacyStream(doc)).Get()); }

  CNameServer server;
};

}  // namespace nametree::test
