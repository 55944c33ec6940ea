// Our writer against our reader: trees come back as they went in, the
// bytes are stable, and the directory is a proper red-black tree.
#include <algorithm>

#include "cfb_fixture.h"
#include "nametree/cfb_storage.h"
#include "support/hex.h"

namespace nametree::test {
namespace {

using cfb::DirectoryEntry;
using cfb::EntryType;

// The sample; a FAT beyond what the header lists (DIFAT sectors); a
// directory over many sectors with names differing in case and length and
// an empty storage; and storages of 1 to 40 entries, every shape of a
// tree's bottom level.
std::vector<Tree> Trees() {
  std::vector<Tree> trees{Sample(), {{"Big", Pattern(8u << 20, 1)}, {"small", Pattern(100, 2)}}, {}};
  for (int s = 0; s < 6; ++s) {
    const std::string storage = "Storage" + std::to_string(s);
    trees[2][storage] = std::nullopt;
    for (int i = 0; i < 60; ++i)
      trees[2][storage + "/" + (i % 2 ? "Stream" : "stream_") + std::to_string(i)] = Pattern(i * 37, s * 100 + i);
  }
  for (const char* n : {"Zed", "b", "AA", "a", "ac"}) trees[2][n] = Bytes{1};
  trees[2]["Empty storage"] = std::nullopt;
  for (int count = 1; count <= 40; ++count) {
    Tree& many = trees.emplace_back();
    for (int i = 0; i < count; ++i) many["S" + std::to_string(count) + "_" + std::to_string(i * 7919 % 1000)] = Bytes{};
  }
  return trees;
}

// Sibling order as the format states it, for ASCII names: length first,
// then the upper-cased characters.
bool Before(CString a, CString b) {
  for (CString* name : {&a, &b})
    for (char16_t& c : *name) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
  return std::pair(a.size(), a) < std::pair(b.size(), b);
}

// The black height of the sibling tree under `id`, its names appended in
// order; -1 when a red node has a red parent or two paths differ in black
// nodes. A red parent passed for the top asks for a black top.
int BlackHeight(const std::vector<DirectoryEntry>& entries, std::uint32_t id, bool parentRed,
                std::vector<CString>* order) {
  if (id == cfb::kNoStream) return 0;
  const DirectoryEntry& e = entries.at(id);
  const bool red = e.color == cfb::EntryColor::kRed;
  const int left = BlackHeight(entries, e.left, red, order);
  order->push_back(e.name);
  const int right = BlackHeight(entries, e.right, red, order);
  return (red && parentRed) || left < 0 || left != right ? -1 : left + !red;
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
    const Surgeon s(file);
    for (const DirectoryEntry& e : s.dir.entries) {
      std::vector<CString> order;
      if (e.type == EntryType::kStorage || e.type == EntryType::kRoot) {
        EXPECT_GE(BlackHeight(s.dir.entries, e.child, true, &order), 0);
        EXPECT_TRUE(std::is_sorted(order.begin(), order.end(), Before));
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, RoundTrip, ::testing::Values(3, 4));

TEST(CompoundFileBytes, OneSmallStreamByHand) {
  const Tree tree = {{"A", Bytes{'a', 'b', 'c'}}};
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
  Tree tree = Sample();
  tree["E"] = std::nullopt;  // first in its storage, so emptying its name keeps the order
  tree["E/x"] = Bytes{1, 2};
  for (const int variant : {3, 4, 43}) {  // 43: a version 4 file relabelled 3, keeping 4096-byte sectors
    SCOPED_TRACE(variant);
    Surgeon s(Serialize(tree, variant == 3 ? 3 : 4));
    if (variant == 43) {
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
    ComPtr<IStorage> storage = OpenWritten(path, s.file);
    ASSERT_NE(storage.Get(), nullptr);
    std::string error;
    ComPtr<IStorage> empty;
    EXPECT_EQ(storage->OpenStorage(u"", kOpenMode, empty.Put()), S_OK);
    ASSERT_TRUE(CommitCompoundFile(storage.Get(), &error)) << error;
    EXPECT_EQ(ToHex(ReadBytes(path)), ToHex(s.file));
  }
}

}  // namespace
}  // namespace nametree::test
