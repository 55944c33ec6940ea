// Our writer against our reader: trees come back as they went in, the
// bytes are stable, and the directory is a proper red-black tree.
#include <functional>

#include "cfb_fixture.h"
#include "nametree/cfb_storage.h"
#include "nametree/memory_storage.h"
#include "support/hex.h"

namespace nametree::test {
namespace {

using cfb::DirectoryEntry;
using cfb::EntryColor;
using cfb::EntryType;

Tree Mixed() {
  Tree t;
  for (std::size_t size : {0, 1, 63, 64, 65, 4095, 4096, 4097, 10000})
    t["s" + std::to_string(size)] = Pattern(size, static_cast<std::uint32_t>(size));
  t["Empty storage"] = std::nullopt;
  t["Outer"] = std::nullopt;
  t["Outer/Middle"] = std::nullopt;
  t["Outer/Middle/Inner"] = std::nullopt;
  t["Outer/Middle/Inner/deep"] = Pattern(5000, 7);
  t["Outer/Middle/tiny"] = Pattern(3, 8);
  t["Outer/NameServer"] = Pattern(700, 9);
  return t;
}

// Mixed contents; a directory over many sectors; a FAT beyond what the
// header lists (DIFAT sectors); names differing in case and length; and
// storages of 1 to 40 entries, every shape of a tree's bottom level.
std::vector<Tree> Trees() {
  std::vector<Tree> trees{Mixed(), {{"Big", Pattern(8u << 20, 1)}, {"small", Pattern(100, 2)}}, {}, {}};
  for (int s = 0; s < 6; ++s) {
    const std::string storage = "Storage" + std::to_string(s);
    trees[2][storage] = std::nullopt;
    for (int i = 0; i < 60; ++i)
      trees[2][storage + "/" + (i % 2 ? "Stream" : "stream_") + std::to_string(i)] = Pattern(i * 37, s * 100 + i);
  }
  for (const char* n : {"Zed", "b", "AA", "a", "ac"}) trees[3][n] = Bytes{1};
  for (int count = 1; count <= 40; ++count) {
    Tree& many = trees.emplace_back();
    for (int i = 0; i < count; ++i) many["S" + std::to_string(count) + "_" + std::to_string(i * 7919 % 1000)] = Bytes{};
  }
  return trees;
}

// Sibling order as the format states it, for ASCII names: length first,
// then the upper-cased characters.
bool Before(const CString& a, const CString& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  auto up = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
  for (std::size_t i = 0; i < a.size(); ++i)
    if (up(a[i]) != up(b[i])) return up(a[i]) < up(b[i]);
  return false;
}

// Checks the sibling tree under `top`: a black top, in-order names
// ascending, no red node with a red child, the same number of black nodes
// on every path.
void CheckSiblings(const std::vector<DirectoryEntry>& entries, std::uint32_t top) {
  std::vector<CString> order;
  int blackHeight = -1;
  std::function<void(std::uint32_t, int, bool)> walk = [&](std::uint32_t id, int blacks, bool parentRed) {
    if (id == cfb::kNoStream) {
      if (blackHeight < 0) blackHeight = blacks;
      EXPECT_EQ(blacks, blackHeight) << "unequal black heights";
      return;
    }
    ASSERT_LT(id, entries.size());
    const DirectoryEntry& e = entries[id];
    const bool red = e.color == EntryColor::kRed;
    EXPECT_FALSE(red && parentRed) << "red child of a red node";
    walk(e.left, blacks + !red, red);
    order.push_back(e.name);
    walk(e.right, blacks + !red, red);
  };
  if (top != cfb::kNoStream) {
    EXPECT_EQ(entries[top].color, EntryColor::kBlack);
  }
  walk(top, 0, false);
  for (std::size_t i = 1; i < order.size(); ++i) EXPECT_TRUE(Before(order[i - 1], order[i]));
}

class RoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(RoundTrip, TreeAndBytesSurviveAndSiblingsFormRedBlackTrees) {
  for (const Tree& tree : Trees()) {
    SCOPED_TRACE(tree.begin()->first);
    const Bytes file = Serialize(tree, GetParam());
    ComPtr<IStorage> back;
    std::string error;
    int version = 0;
    ASSERT_TRUE(ParseCompoundFile(file, &back, &error, &version)) << error;
    EXPECT_EQ(version, GetParam());
    EXPECT_TRUE(Snapshot(back.Get()) == tree);
    EXPECT_TRUE(SerializeOrDie(back.Get(), GetParam()) == file);
    EXPECT_EQ(file.size() % (GetParam() == 4 ? 4096 : 512), 0u);
    // One DIFAT sector holds the 127 FAT sectors past the header's 109.
    EXPECT_EQ(cfb::Get32(&file[72]), GetParam() == 3 && tree.count("Big") ? 1u : 0u);
    cfb::ParsedDirectory dir;
    ASSERT_TRUE(cfb::ReadDirectory(file, &dir, &error)) << error;
    for (const DirectoryEntry& e : dir.entries)
      if (e.type == EntryType::kStorage || e.type == EntryType::kRoot) CheckSiblings(dir.entries, e.child);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, RoundTrip, ::testing::Values(3, 4));

TEST(CompoundFileBytes, OneSmallStreamByHand) {
  Tree tree;
  tree["A"] = Bytes{'a', 'b', 'c'};
  // Sectors: 0 directory, 1 mini FAT, 2 mini stream, 3 FAT.
  Bytes want(2560, 0);
  auto put = [&](std::size_t at, const Bytes& b) { std::copy(b.begin(), b.end(), want.begin() + at); };
  put(0, Hex("D0CF11E0A1B11AE1 00000000000000000000000000000000 3E00 0300 FEFF 0900 0600 000000000000"
             "00000000 01000000 00000000 00000000 00100000 01000000 01000000 FEFFFFFF 00000000 03000000"));
  for (std::size_t at = 80; at < 512; at += 4) put(at, Hex("FFFFFFFF"));
  put(512, Hex("52006F006F007400200045006E00740072007900"));  // "Root Entry"
  put(512 + 64, Hex("1600 05 01 FFFFFFFF FFFFFFFF 01000000"));
  put(512 + 116, Hex("02000000 4000000000000000"));
  put(640, Hex("4100"));
  put(640 + 64, Hex("0400 02 01 FFFFFFFF FFFFFFFF FFFFFFFF"));
  put(640 + 116, Hex("00000000 0300000000000000"));
  for (std::size_t e : {768, 896}) put(e + 68, Hex("FFFFFFFF FFFFFFFF FFFFFFFF"));
  for (std::size_t at = 1024; at < 1536; at += 4) put(at, Hex(at == 1024 ? "FEFFFFFF" : "FFFFFFFF"));
  put(1536, Hex("616263"));
  for (std::size_t at = 2048; at < 2560; at += 4) put(at, Hex("FFFFFFFF"));
  put(2048, Hex("FEFFFFFF FEFFFFFF FEFFFFFF FDFFFFFF"));
  EXPECT_EQ(ToHex(Serialize(tree)), ToHex(want));
  EXPECT_EQ(Parse(want), tree);
}

// Everything the directory holds besides names and bytes comes back from a
// commit as it was read: class IDs, state bits and times of every entry,
// the version with its sector size (version 3 with 4096-byte sectors too),
// and a storage with an empty name.
TEST(CompoundFileMetadata, CommitKeepsWhatItRead) {
  Tree tree = Mixed();
  tree["E"] = std::nullopt;  // first in its storage, so emptying its name keeps the order
  tree["E/x"] = Bytes{1, 2};
  struct Case {
    int serializedAs;
    bool asVersion3;  // relabel a version 4 file: version 3 with 4096-byte sectors
  };
  for (const Case c : {Case{3, false}, Case{4, false}, Case{4, true}}) {
    SCOPED_TRACE(c.serializedAs * 10 + c.asVersion3);
    Surgeon s(Serialize(tree, c.serializedAs));
    if (c.asVersion3) {
      s.file[26] = 3;
      cfb::Put32(&s.file[40], 0);
    }
    for (std::uint32_t id = 0; id < s.dir.entries.size(); ++id) {
      if (s.dir.entries[id].type == EntryType::kUnused) continue;
      const std::size_t at = s.EntryOffset(id);
      for (int k = 0; k < 16; ++k) s.file[at + 80 + k] = static_cast<std::uint8_t>(id * 16 + k);
      cfb::Put32(&s.file[at + 96], 0xA0000000u + id);
      if (s.dir.entries[id].type != EntryType::kStream) {
        cfb::Put64(&s.file[at + 100], 0x01D9000000000000ull + id);
        cfb::Put64(&s.file[at + 108], 0x01DA000000000000ull + id);
      }
      if (s.dir.entries[id].name == u"E") {
        s.file[at] = 0;
        s.file[at + 64] = 2;
      }
    }
    TempDir tmp;
    const std::string path = tmp.File("meta.doc");
    WriteBytes(path, s.file);
    {
      ComPtr<IStorage> storage;
      std::string error;
      ASSERT_TRUE(OpenCompoundFile(path, true, &storage, &error)) << error;
      ComPtr<IStorage> empty;
      EXPECT_EQ(storage->OpenStorage(u"", kOpenMode, empty.Put()), S_OK);
      ASSERT_TRUE(CommitCompoundFile(storage.Get(), &error)) << error;
    }
    EXPECT_EQ(ToHex(ReadBytes(path)), ToHex(s.file));
  }
}

TEST(CompoundFileWriter, RefusesWhatTheFormatCannotHold) {
  auto refusal = [](const Tree& tree) {
    ComPtr<IStorage> root = CreateMemoryStorage();
    Build(root.Get(), tree);
    Bytes out;
    std::string error;
    EXPECT_FALSE(SerializeCompoundFile(root.Get(), 3, &out, &error));
    return error;
  };
  EXPECT_NE(refusal({{std::string(32, 'x'), Bytes{}}}).find("cannot be stored"), std::string::npos);
  EXPECT_EQ(Parse(Serialize({{std::string(31, 'x'), Bytes{}}})).size(), 1u);
  EXPECT_NE(refusal({{"a:b", Bytes{}}}).find("cannot be stored"), std::string::npos);
  EXPECT_NE(refusal({{"S", std::nullopt}, {"S/Ab", Bytes{}}, {"S/aB", Bytes{}}}).find("only in case"),
            std::string::npos);

  ComPtr<IStorage> root = CreateMemoryStorage();
  ComPtr<IStream> open;
  ASSERT_EQ(root->CreateStream(u"Busy", kCreateMode, open.Put()), S_OK);
  Bytes out;
  std::string error;
  EXPECT_FALSE(SerializeCompoundFile(root.Get(), 3, &out, &error));
  EXPECT_NE(error.find("Busy"), std::string::npos);
  EXPECT_FALSE(SerializeCompoundFile(root.Get(), 5, &out, &error));
}

}  // namespace
}  // namespace nametree::test
