// Damaged and hostile files: damage to the file's structure refuses it with
// a message naming what is wrong; damage confined to one entry leaves that
// entry out with a warning. None crashes, hangs or allocates beyond its size.
// Trees the format cannot hold are refused by the writer.
#include <functional>

#include "cfb_fixture.h"
#include "nametree/cfb_storage.h"
#include "nametree/memory_storage.h"

namespace nametree::test {
namespace {

using cfb::Get32;
using cfb::Put32;

Tree Victim() {
  return {{"Big", Pattern(5000, 1)},          {"small", Pattern(300, 2)},        {"Store", std::nullopt},
          {"Store/inner", Pattern(100, 3)}, {"Store/pair1", Pattern(10, 4)}, {"Store/pair2", Pattern(10, 5)}};
}

// "refused: <why>" for a file that is not read, else its warnings.
std::string Outcome(const Bytes& file) {
  ComPtr<IStorage> root;
  std::string error;
  if (!ParseCompoundFile(file, &root, &error)) return "refused: " + error;
  std::string all;
  for (const std::string& w : CompoundFileWarnings(root.Get())) all += w + "\n";
  return all;
}

using Change = std::function<void(Surgeon&)>;

Change Header(std::size_t at, Bytes bytes) {
  return [=](Surgeon& s) { std::copy(bytes.begin(), bytes.end(), s.file.begin() + static_cast<std::ptrdiff_t>(at)); };
}

// Storages nested `levels` deep, "A/a/a...", beside a storage "B".
Tree Nested(int levels) {
  Tree tree{{"B", std::nullopt}};
  std::string path = "A";
  for (int i = 0; i < levels; ++i, path += "/a") tree[path] = std::nullopt;
  return tree;
}

struct Damage {
  const char* words;
  Change change;
  bool refused = true;
  int version = 3;
  Tree (*tree)() = Victim;
};

const Damage kDamages[] = {
    {"signature", Header(0, {0xD1})},
    {"byte-order", Header(28, {0xFF, 0xFF})},
    {"major version 5", Header(26, {5, 0})},
    {"sector shift 10", Header(30, {10, 0})},
    {"sector shift 9 does not fit major version 4", Header(26, {4, 0})},
    {"mini sector shift", Header(32, {7, 0})},
    {"cutoff", Header(56, {0, 0x20, 0, 0})},
    {"FAT sectors", Header(44, {0xFF, 0xFF, 0xFF, 0x7F})},
    {"beyond the end", Header(76, {0x00, 0x10, 0, 0})},
    {"too few", [](Surgeon& s) { s.file.resize(100); }},
    // Chains of streams, through the FAT and the mini FAT, and of the file's own tables.
    {"chain of stream \"Big\" loops",
     [](Surgeon& s) { Put32(&s.file[s.FatOffset(s.Entry(u"Big").start + 2)], s.Entry(u"Big").start); }},
    {"ends after 1 of 10", [](Surgeon& s) { Put32(&s.file[s.FatOffset(s.Entry(u"Big").start)], cfb::kEndOfChain); },
     false},
    {"does not exist", [](Surgeon& s) { Put32(&s.file[s.FatOffset(s.Entry(u"Big").start)], cfb::kFreeSector); },
     false},
    {"chain of stream \"small\" loops",
     [](Surgeon& s) { Put32(&s.file[s.MiniFatOffset(s.Entry(u"small").start + 3)], s.Entry(u"small").start); }},
    {"directory loops", [](Surgeon& s) { Put32(&s.file[s.FatOffset(Get32(&s.file[48]))], Get32(&s.file[48])); }},
    {"the mini FAT reaches sector", [](Surgeon& s) { Put32(&s.file[60], Get32(&s.file[48])); }},
    {"directory is empty", [](Surgeon& s) { Put32(&s.file[48], cfb::kEndOfChain); }},
    {"mini stream claims", [](Surgeon& s) { Put32(&s.file[s.EntryOffset(0) + 120], 0x7FFFFFC0); }},
    // Directory entries: links, names, types, sizes and chains shared between entries.
    {"past the last", [](Surgeon& s) { s.SetLink(u"Root Entry", 76, 5000); }},
    {"twice (a cycle)", [](Surgeon& s) { s.SetLink(u"Store", 76, 0); }},
    {"twice (a cycle)",
     [](Surgeon& s) {
       const std::uint32_t top = s.Entry(u"Store").child;
       s.SetLink(s.dir.entries[top].left != cfb::kNoStream ? u"inner" : u"pair2", 68, top);
     }},
    {"small: stream \"small\" claims", [](Surgeon& s) { s.SetLink(u"small", 120, 0x7FFFFFF0); }, false},
    {"bad length 65", [](Surgeon& s) { s.file[s.EntryOffset(s.Id(u"inner")) + 64] = 65; }, false},
    {"bad length", [](Surgeon& s) { s.file[s.EntryOffset(s.Id(u"inner")) + 2] = 0; }, false},
    {"type 7", [](Surgeon& s) { s.file[s.EntryOffset(s.Id(u"inner")) + 66] = 7; }, false},
    {"shared chain", [](Surgeon& s) { s.SetLink(u"pair2", 116, s.Entry(u"pair1").start); }},
    {"shared chain", [](Surgeon& s) { s.SetLink(u"Big", 116, Get32(&s.file[48])); }},
    {"no root", [](Surgeon& s) { s.file[s.EntryOffset(0) + 66] = 1; }},
    {"two entries are named",  // "PaIr1" beside "pair1"
     [](Surgeon& s) {
       for (int i = 0; i < 5; ++i)
         s.file[s.EntryOffset(s.Id(u"pair2")) + 2 * i] = static_cast<std::uint8_t>("PaIr1"[i]);
     }},
    {"more than the whole file",
     [](Surgeon& s) { cfb::Put64(&s.file[s.EntryOffset(s.Id(u"Big")) + 120], std::uint64_t{1} << 62); }, false,
     4},
    // 256 levels are read; linking B under the innermost makes 257.
    {"nested deeper than 256",
     [](Surgeon& s) {
       s.SetLink(u"Root Entry", 76, s.Id(u"A"));
       for (const CString name : {u"A", u"B"}) {
         s.SetLink(name, 68, cfb::kNoStream);
         s.SetLink(name, 72, cfb::kNoStream);
       }
       std::uint32_t inner = s.Id(u"A");
       while (s.dir.entries[inner].child != cfb::kNoStream) inner = s.dir.entries[inner].child;
       Put32(&s.file[s.EntryOffset(inner) + 76], s.Id(u"B"));
     },
     true, 3, [] { return Nested(256); }},
};

TEST(Corrupt, EachDamageIsRefusedOrWarnedWithItsCause) {
  for (const Damage& d : kDamages) {
    SCOPED_TRACE(d.words);
    Surgeon s(Serialize(d.tree(), d.version));
    d.change(s);
    const std::string said = Outcome(s.file);
    EXPECT_EQ(said.rfind("refused: ", 0) == 0, d.refused) << said;
    EXPECT_NE(said.find(d.words), std::string::npos) << said;
  }
}

TEST(Corrupt, TruncatedAtEverySectorBoundaryAndInsideIsRefused) {
  for (const std::size_t sector : {512, 4096}) {
    const Bytes file = Serialize(Victim(), sector == 512 ? 3 : 4);
    for (std::size_t cut = 0; cut < file.size(); cut += sector)
      for (std::size_t end : {cut, cut + 1, cut + sector / 2}) {
        const std::string said = Outcome(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(end)));
        EXPECT_EQ(said.rfind("refused: ", 0), 0u) << end << ": " << said;
        EXPECT_GT(said.size(), 9u) << end << ": no reason given";
      }
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
  const std::pair<Tree, const char*> cases[] = {
      {{{std::string(32, 'x'), Bytes{}}}, "cannot be stored"},
      {{{"a:b", Bytes{}}}, "cannot be stored"},
      {{{"S", std::nullopt}, {"S/Ab", Bytes{}}, {"S/aB", Bytes{}}}, "only in case"},
      {Nested(257), "nested deeper than 256"},
  };
  for (const auto& [tree, words] : cases) EXPECT_NE(refusal(tree).find(words), std::string::npos) << words;
  EXPECT_EQ(Parse(Serialize({{std::string(31, 'x'), Bytes{}}})).size(), 1u);
  EXPECT_EQ(Parse(Serialize(Nested(256))).size(), 257u);

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
