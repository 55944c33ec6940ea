// Damaged and hostile files: damage to the file's structure refuses it with
// a message naming what is wrong; damage confined to one entry leaves that
// entry out with a warning. None crashes, hangs or allocates beyond its size.
#include <functional>
#include <random>

#include "cfb/cfb_reader.h"
#include "cfb_fixture.h"
#include "nametree/cfb_storage.h"
#include "nametree/memory_storage.h"

namespace nametree::test {
namespace {

using cfb::Get32;
using cfb::Put32;

Tree Victim() {
  Tree t;
  t["Big"] = Pattern(5000, 1);
  t["small"] = Pattern(300, 2);
  t["Store"] = std::nullopt;
  t["Store/inner"] = Pattern(100, 3);
  t["Store/pair1"] = Pattern(10, 4);
  t["Store/pair2"] = Pattern(10, 5);
  return t;
}

// Locates structures in a file of ours, following its tables as a reader would.
class Surgeon {
 public:
  explicit Surgeon(Bytes file) : file(std::move(file)) {
    std::string error;
    EXPECT_TRUE(cfb::ReadDirectory(this->file, &dir, &error)) << error;
    sectorSize = 1u << this->file[30];
  }

  std::size_t SectorOffset(std::uint32_t sector) const { return (std::size_t{sector} + 1) * sectorSize; }
  std::size_t FatOffset(std::uint32_t index) const {
    const std::uint32_t perSector = sectorSize / 4;
    return SectorOffset(Get32(&file[76 + 4 * (index / perSector)])) + 4 * (index % perSector);
  }
  std::uint32_t Fat(std::uint32_t index) const { return Get32(&file[FatOffset(index)]); }
  std::size_t MiniFatOffset(std::uint32_t index) const { return SectorOffset(Get32(&file[60])) + 4 * index; }
  std::size_t EntryOffset(std::uint32_t id) const {
    std::uint32_t sector = Get32(&file[48]);
    for (std::uint32_t skip = id / (sectorSize / 128); skip > 0; --skip) sector = Fat(sector);
    return SectorOffset(sector) + 128 * (id % (sectorSize / 128));
  }
  std::uint32_t Id(const CString& name) const {
    for (std::uint32_t i = 0; i < dir.entries.size(); ++i)
      if (dir.entries[i].name == name) return i;
    ADD_FAILURE() << "no entry";
    return 0;
  }
  const cfb::DirectoryEntry& Entry(const CString& name) const { return dir.entries[Id(name)]; }
  void SetLink(const CString& name, std::size_t field, std::uint32_t value) {
    Put32(&file[EntryOffset(Id(name)) + field], value);
  }

  Bytes file;
  cfb::ParsedDirectory dir;
  std::uint32_t sectorSize = 512;
};

std::string Refusal(const Bytes& file) {
  ComPtr<IStorage> root;
  std::string error;
  EXPECT_FALSE(ParseCompoundFile(file, &root, &error));
  EXPECT_FALSE(error.empty());
  return error;
}

#define EXPECT_REFUSED(file, words) EXPECT_NE(Refusal(file).find(words), std::string::npos) << Refusal(file)

// The warnings of a file that is read, or the refusal of one that is not.
std::string Warnings(const Bytes& file) {
  ComPtr<IStorage> root;
  std::string error;
  if (!ParseCompoundFile(file, &root, &error)) return "refused: " + error;
  std::string all;
  for (const std::string& w : CompoundFileWarnings(root.Get())) all += w + "\n";
  EXPECT_FALSE(all.empty()) << "no warning";
  return all;
}

#define EXPECT_WARNED(file, words) EXPECT_NE(Warnings(file).find(words), std::string::npos) << Warnings(file)

class Truncated : public ::testing::TestWithParam<int> {};

TEST_P(Truncated, AtEverySectorBoundaryAndInside) {
  const Bytes file = Serialize(Victim(), GetParam());
  const std::size_t sector = GetParam() == 4 ? 4096 : 512;
  for (std::size_t cut = 0; cut < file.size(); cut += sector)
    for (std::size_t into : {std::size_t{0}, std::size_t{1}, sector / 2}) {
      SCOPED_TRACE(cut + into);
      Refusal(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut + into)));
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, Truncated, ::testing::Values(3, 4));

TEST(Corrupt, HeaderFields) {
  const Bytes good = Serialize(Victim());
  auto with = [&](std::size_t at, std::vector<std::uint8_t> bytes) {
    Bytes f = good;
    std::copy(bytes.begin(), bytes.end(), f.begin() + static_cast<std::ptrdiff_t>(at));
    return f;
  };
  EXPECT_REFUSED(with(0, {0xD1}), "signature");
  EXPECT_REFUSED(with(28, {0xFF, 0xFF}), "byte-order");
  EXPECT_REFUSED(with(26, {5, 0}), "major version 5");
  EXPECT_REFUSED(with(30, {10, 0}), "sector shift 10");
  EXPECT_REFUSED(with(26, {4, 0}), "sector shift 9 does not fit major version 4");
  EXPECT_REFUSED(with(32, {7, 0}), "mini sector shift");
  EXPECT_REFUSED(with(56, {0, 0x20, 0, 0}), "cutoff");
  EXPECT_REFUSED(with(44, {0xFF, 0xFF, 0xFF, 0x7F}), "FAT sectors");
  EXPECT_REFUSED(with(76, {0x00, 0x10, 0, 0}), "beyond the end");
  EXPECT_REFUSED(Bytes(good.begin(), good.begin() + 100), "too few");
}

TEST(Corrupt, Chains) {
  const Surgeon clean(Serialize(Victim()));
  const std::uint32_t big = clean.Entry(u"Big").start;
  const std::uint32_t small = clean.Entry(u"small").start;
  const std::uint32_t dirStart = Get32(&clean.file[48]);
  auto patched = [&](std::size_t at, std::uint32_t value) {
    Bytes f = clean.file;
    Put32(&f[at], value);
    return f;
  };
  EXPECT_REFUSED(patched(clean.FatOffset(big + 2), big), "chain of stream \"Big\" loops");
  EXPECT_WARNED(patched(clean.FatOffset(big + 2), 0x00FFFFFF),
                "Big: the chain of stream \"Big\" points at sector");
  EXPECT_WARNED(patched(clean.FatOffset(big), cfb::kEndOfChain), "ends after 1 of 10");
  EXPECT_WARNED(patched(clean.FatOffset(big), cfb::kFreeSector), "does not exist");
  EXPECT_REFUSED(patched(clean.MiniFatOffset(small + 3), small), "chain of stream \"small\" loops");
  EXPECT_REFUSED(patched(clean.FatOffset(dirStart), dirStart), "directory loops");
  EXPECT_REFUSED(patched(48, cfb::kEndOfChain), "directory is empty");
  EXPECT_REFUSED(patched(clean.EntryOffset(0) + 120, 0x7FFFFFC0), "mini stream claims");
}

TEST(Corrupt, DirectoryEntries) {
  auto edit = [](const std::function<void(Surgeon&)>& change) {
    Surgeon s(Serialize(Victim()));
    change(s);
    return s.file;
  };
  EXPECT_REFUSED(edit([](Surgeon& s) { s.SetLink(u"Root Entry", 76, 5000); }), "past the last");
  EXPECT_REFUSED(edit([](Surgeon& s) { s.SetLink(u"Store", 76, 0); }), "twice (a cycle)");
  EXPECT_REFUSED(edit([](Surgeon& s) {
                   const std::uint32_t top = s.dir.entries[s.Id(u"Store")].child;
                   const CString leaf = s.dir.entries[top].left != cfb::kNoStream ? u"inner" : u"pair2";
                   s.SetLink(leaf, 68, top);
                 }),
                 "twice (a cycle)");
  EXPECT_WARNED(edit([](Surgeon& s) { s.SetLink(u"small", 120, 0x7FFFFFF0); }),
                "small: stream \"small\" claims");
  EXPECT_WARNED(edit([](Surgeon& s) { s.file[s.EntryOffset(s.Id(u"inner")) + 64] = 65; }), "bad length 65");
  EXPECT_WARNED(edit([](Surgeon& s) { s.file[s.EntryOffset(s.Id(u"inner")) + 2] = 0; }), "bad length");
  EXPECT_WARNED(edit([](Surgeon& s) { s.file[s.EntryOffset(s.Id(u"inner")) + 66] = 7; }), "type 7");
  // Two entries on one chain, whichever table it runs through.
  EXPECT_REFUSED(edit([](Surgeon& s) { s.SetLink(u"pair2", 116, s.Entry(u"pair1").start); }), "shared chain");
  EXPECT_REFUSED(edit([](Surgeon& s) { s.SetLink(u"Big", 116, Get32(&s.file[48])); }), "shared chain");
  EXPECT_REFUSED(edit([](Surgeon& s) { s.file[s.EntryOffset(0) + 66] = 1; }), "no root");
  EXPECT_REFUSED(edit([](Surgeon& s) {  // "PaIr1" beside "pair1"
                   const std::size_t at = s.EntryOffset(s.Id(u"pair2"));
                   for (int i = 0; i < 5; ++i) s.file[at + 2 * i] = static_cast<std::uint8_t>("PaIr1"[i]);
                 }),
                 "two entries are named");
}

TEST(Corrupt, HugeSizeInVersion4) {
  Surgeon s(Serialize(Victim(), 4));
  cfb::Put64(&s.file[s.EntryOffset(s.Id(u"Big")) + 120], std::uint64_t{1} << 62);
  EXPECT_WARNED(s.file, "more than the whole file");
}

// Many entries on one sector chain once cost memory and time per entry;
// the second claim on a sector refuses the file.
TEST(Corrupt, ManyEntriesOnOneChain) {
  Tree tree;
  for (int i = 0; i < 1200; ++i) tree["s" + std::to_string(i)] = Pattern(5000, 1);
  Surgeon s(Serialize(tree));
  for (std::uint32_t id = 2; id < s.dir.entries.size(); ++id)
    if (s.dir.entries[id].type == cfb::EntryType::kStream)
      Put32(&s.file[s.EntryOffset(id) + 116], s.dir.entries[1].start);
  EXPECT_REFUSED(s.file, "shared chain");
}

TEST(Corrupt, NestingDeeperThanAllowed) {
  // Two chains of storages; linking the second under the first makes 300 levels.
  Tree tree;
  std::string a = "A", b = "B";
  for (int i = 0; i < 200; ++i, a += "/a") tree[a] = std::nullopt;
  for (int i = 0; i < 100; ++i, b += "/b") tree[b] = std::nullopt;
  EXPECT_EQ(Parse(Serialize(tree)).size(), 300u);
  Surgeon s(Serialize(tree));
  const std::uint32_t topA = s.Id(u"A"), topB = s.Id(u"B");
  s.SetLink(u"Root Entry", 76, topA);
  s.SetLink(u"A", 68, cfb::kNoStream);
  s.SetLink(u"A", 72, cfb::kNoStream);
  s.SetLink(u"B", 68, cfb::kNoStream);
  s.SetLink(u"B", 72, cfb::kNoStream);
  std::uint32_t inner = topA;
  while (s.dir.entries[inner].child != cfb::kNoStream) inner = s.dir.entries[inner].child;
  Put32(&s.file[s.EntryOffset(inner) + 76], topB);
  EXPECT_REFUSED(s.file, "nested deeper than 256");

  // The writer draws the same line.
  Tree deep;
  std::string path = "d";
  for (int i = 0; i < 257; ++i, path += "/d") deep[path] = std::nullopt;
  ComPtr<IStorage> root = CreateMemoryStorage();
  Build(root.Get(), deep);
  Bytes out;
  std::string error;
  EXPECT_FALSE(SerializeCompoundFile(root.Get(), 3, &out, &error));
  EXPECT_NE(error.find("nested deeper"), std::string::npos);
}

TEST(Corrupt, RandomDamageNeverCrashes) {
  const Bytes good = Serialize(Victim());
  std::mt19937 random(20240601);
  int refused = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes f = good;
    const int flips = 1 + round % 4;
    for (int i = 0; i < flips; ++i) {
      // Aim at the header, the directory and the tables as often as at data.
      const std::size_t at = round % 2 ? random() % 512 : random() % f.size();
      f[at] = static_cast<std::uint8_t>(random());
    }
    ComPtr<IStorage> root;
    std::string error;
    if (ParseCompoundFile(f, &root, &error)) {
      Bytes again;
      if (SerializeCompoundFile(root.Get(), 3, &again, &error)) Parse(again);
    } else {
      EXPECT_FALSE(error.empty());
      ++refused;
    }
  }
  EXPECT_GT(refused, 100);
}

}  // namespace
}  // namespace nametree::test
