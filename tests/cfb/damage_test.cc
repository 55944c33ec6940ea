// Entries a file holds but cannot give back in full: they are told apart
// from absent ones, read as far as their chains go, and never replaced or
// dropped by a commit that is not forced, whichever way the new entry is
// made. A directory of millions of slots opens within bounded memory.
#include <fstream>
#include <functional>

#include "cfb_fixture.h"
#include "nametree/cfb_storage.h"
#include "nametree/name_server.h"
#include "nametree/utf8.h"
#include "support/address_limit.h"

namespace nametree::test {
namespace {

using cfb::Put32;

// A document of 60 names, saved by the library, beside a large stream.
Tree Document() {
  CNameServer server;
  const std::uint32_t global = server.AddContainer(0, kGlobalContainer);
  for (int i = 0; i < 60; ++i) server.GetContainer(global)->AddName(u"Name_" + FromUtf8(std::to_string(i)));
  ComPtr<IStorage> saved = CreateMemoryStorage();
  EXPECT_EQ(server.Save(saved.Get()), S_OK);
  Tree tree = Snapshot(saved.Get());
  tree["Big"] = Pattern(9000, 7);
  return tree;
}

struct Damage {
  const char* what;
  const char* entry;
  std::function<void(Surgeon&)> change;
  std::size_t recovered;  // bytes read back from the damaged entry; 0: none
  const char* words;
};

const Damage kDamages[] = {
    {"mini FAT zeroed", "NameServer", [](Surgeon& s) { Put32(&s.file[s.MiniFatOffset(0)], 0); }, 0,
     "loops at sector 0"},
    {"FAT loop", "Big",
     [](Surgeon& s) { Put32(&s.file[s.FatOffset(s.Entry(u"Big").start + 3)], s.Entry(u"Big").start); }, 0,
     "loops"},
    {"chain out of the file", "Big",
     [](Surgeon& s) { Put32(&s.file[s.FatOffset(s.Entry(u"Big").start + 1)], 0x00FFFFFF); }, 0,
     "points at sector 16777215, which does not exist"},
    {"mini chain out of the table", "NameServer",
     [](Surgeon& s) { s.SetLink(u"NameServer", 116, 0x00FFFFFF); }, 0, "does not exist"},
    {"size past the mini chain", "NameServer",
     [](Surgeon& s) {
       s.SetLink(u"NameServer", 120, static_cast<std::uint32_t>(s.Entry(u"NameServer").size + 640));
     },
     1, "ends after"},
    {"size past the file, chain ends early", "Big", [](Surgeon& s) { s.SetLink(u"Big", 120, 0x7FFFFFF0); },
     9216, "claims 2147483632 bytes, more than the whole file"},
};

CompoundEntryState StateOf(IStorage* storage, const char* name) { return CompoundFileEntryState(storage, name); }

TEST(DamagedEntry, IsNeverAbsentAndNoUnforcedCommitReplacesIt) {
  const Tree original = Document();
  const Surgeon clean(Serialize(original));
  for (const Damage& d : kDamages) {
    SCOPED_TRACE(d.what);
    Surgeon s = clean;
    d.change(s);
    TempDir dir;
    const std::string path = dir.File("doc.nt");
    ComPtr<IStorage> storage = OpenWritten(path, s.file);
    ASSERT_NE(storage.Get(), nullptr);
    std::string error;
    // Asked before anything opened the stream, and again after.
    EXPECT_EQ(StateOf(storage.Get(), d.entry), CompoundEntryState::kDamaged);
    EXPECT_EQ(StateOf(storage.Get(), "Missing"), CompoundEntryState::kAbsent);
    const std::string other = std::string(d.entry) == "Big" ? "NameServer" : "Big";
    EXPECT_EQ(StateOf(storage.Get(), other.c_str()), CompoundEntryState::kReadable);
    const std::vector<std::string> warnings = CompoundFileWarnings(storage.Get());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find(d.words), std::string::npos) << warnings[0];

    // What the chain holds is read; the rest of the file is untouched.
    ComPtr<IStream> stream;
    const HRESULT opened = storage->OpenStream(FromUtf8(d.entry), kOpenMode, stream.Put());
    stream.Reset();
    Tree expected = original;
    expected.erase(d.entry);
    if (d.recovered) {
      ASSERT_EQ(opened, S_OK);
      Bytes held = Snapshot(storage.Get()).at(d.entry).value();
      ASSERT_GE(held.size(), original.at(d.entry)->size());
      EXPECT_TRUE(std::equal(original.at(d.entry)->begin(), original.at(d.entry)->end(), held.begin()));
      if (d.recovered > 1) {
        EXPECT_EQ(held.size(), d.recovered);
      }
      expected[d.entry] = held;
    } else {
      EXPECT_EQ(opened, STG_E_DOCFILECORRUPT);
    }
    EXPECT_EQ(Snapshot(storage.Get()), expected);

    // A fresh stream of that name does not clear the mark.
    Build(storage.Get(), {{d.entry, Bytes{1, 2, 3}}});
    EXPECT_EQ(StateOf(storage.Get(), d.entry), CompoundEntryState::kDamaged);
    EXPECT_FALSE(CommitCompoundFile(storage.Get(), &error));
    EXPECT_NE(error.find("could not be read and would be lost: " + std::string(d.entry)), std::string::npos)
        << error;
    EXPECT_EQ(ReadBytes(path), s.file);

    CompoundFileOptions force;
    force.force = true;
    std::vector<std::string> leftOut;
    ASSERT_TRUE(CommitCompoundFile(storage.Get(), force, &leftOut, &error)) << error;
    ASSERT_EQ(leftOut.size(), 1u);
    EXPECT_EQ(leftOut[0].rfind(std::string(d.entry) + " (", 0), 0u) << leftOut[0];
    EXPECT_EQ(StateOf(storage.Get(), d.entry), CompoundEntryState::kReadable);
    expected[d.entry] = Bytes{1, 2, 3};
    EXPECT_EQ(Parse(ReadBytes(path)), expected);
  }
}

// Of two entries that share a chain, the one followed first keeps it and
// the other is damaged: found when followed, not at open.
TEST(DamagedEntry, ASharedChainDamagesTheEntryFollowedSecond) {
  Surgeon s(Serialize({{"NameServer", Pattern(300, 1)}, {"Broken", Pattern(9000, 2)}, {"Fine", Pattern(5000, 3)}}));
  s.SetLink(u"Broken", 116, s.Entry(u"Fine").start);
  TempDir dir;
  const std::string path = dir.File("doc.nt");
  ComPtr<IStorage> storage = OpenWritten(path, s.file);
  ASSERT_NE(storage.Get(), nullptr);
  std::string error;
  ComPtr<IStream> stream;
  EXPECT_EQ(storage->OpenStream(u"Fine", kOpenMode, stream.Put()), S_OK);
  stream.Reset();
  EXPECT_EQ(storage->OpenStream(u"Broken", kOpenMode, stream.Put()), STG_E_DOCFILECORRUPT);
  const std::vector<std::string> warnings = CompoundFileWarnings(storage.Get());
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("another entry also uses (a shared chain)"), std::string::npos) << warnings[0];
  EXPECT_EQ(Snapshot(storage.Get()), (Tree{{"NameServer", Pattern(300, 1)}, {"Fine", Pattern(5000, 3)}}));
  EXPECT_FALSE(CommitCompoundFile(storage.Get(), &error));
  EXPECT_NE(error.find("1 entries could not be read and would be lost: Broken"), std::string::npos) << error;
  EXPECT_EQ(ReadBytes(path), s.file);
}

// A version 4 file of `sectors` sectors after the header whose directory
// chain runs through every sector after the FAT and DIFAT: millions of
// empty slots. Sparse on disk.
void WriteWideDirectory(const std::string& path, std::uint32_t sectors) {
  constexpr std::uint32_t kSector = 4096, kPer = kSector / 4;
  const std::uint32_t fatSectors = (sectors + kPer - 1) / kPer;
  const std::uint32_t difatSectors = fatSectors > 109 ? (fatSectors - 109 + kPer - 2) / (kPer - 1) : 0;
  const std::uint32_t dirStart = fatSectors + difatSectors;
  Bytes head(kSector, 0);
  std::copy(std::begin(cfb::kSignature), std::end(cfb::kSignature), head.begin());
  const std::pair<std::size_t, std::uint16_t> fields[] = {{24, 0x3E}, {26, 4}, {28, 0xFFFE}, {30, 12}, {32, 6}};
  for (auto [at, v] : fields) cfb::Put16(&head[at], v);
  Put32(&head[44], fatSectors);
  Put32(&head[48], dirStart);
  Put32(&head[56], 4096);
  Put32(&head[60], cfb::kEndOfChain);
  Put32(&head[68], difatSectors ? fatSectors : cfb::kEndOfChain);
  Put32(&head[72], difatSectors);
  Bytes tables(std::size_t{dirStart} * kSector, 0xFF);
  std::uint32_t placed = 0;
  for (; placed < fatSectors && placed < 109; ++placed) Put32(&head[76 + 4 * placed], placed);
  for (std::uint32_t d = 0; d < difatSectors; ++d) {
    std::uint8_t* p = &tables[std::size_t{fatSectors + d} * kSector];
    for (std::uint32_t i = 0; i + 1 < kPer && placed < fatSectors; ++i) Put32(p + 4 * i, placed++);
    Put32(p + 4 * (kPer - 1), d + 1 < difatSectors ? fatSectors + d + 1 : cfb::kEndOfChain);
  }
  for (std::uint32_t s = 0; s < sectors; ++s)
    Put32(&tables[4 * std::size_t{s}], s < fatSectors    ? cfb::kFatSector
                                       : s < dirStart    ? cfb::kDifatSector
                                       : s + 1 < sectors ? s + 1
                                                         : cfb::kEndOfChain);
  Bytes root(128, 0);
  for (std::size_t i = 0; i < 4; ++i) root[2 * i] = static_cast<std::uint8_t>("Root"[i]);
  cfb::Put16(&root[64], 10);
  root[66] = 5;
  for (std::size_t at : {68, 72, 76, 116}) Put32(&root[at], cfb::kNoStream);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
  out.write(reinterpret_cast<const char*>(tables.data()), static_cast<std::streamsize>(tables.size()));
  out.write(reinterpret_cast<const char*>(root.data()), static_cast<std::streamsize>(root.size()));
  out.seekp(static_cast<std::streamoff>(std::uint64_t{sectors + 1} * kSector - 1));
  out.put(0);
}

// Opens `path` in a child whose address space may grow by `roomMb`:
// 0 opened, 1 refused with a message, anything else a crash.
int OpenWithin(const std::string& path, std::size_t roomMb, std::string* said) {
  return RunWithinAddressSpace(
      roomMb,
      [&](std::string& error) {
        ComPtr<IStorage> storage;
        const bool ok = OpenCompoundFile(path, false, &storage, &error);
        return ok ? 0 : error.empty() ? 2 : 1;
      },
      said);
}

TEST(DamagedEntry, DirectoryOfMillionsOfSlotsOpensInBoundedMemoryOrIsRefused) {
  if (!AddressLimitsWork()) GTEST_SKIP() << "address-space limits need the plain build";
  TempDir dir;
  const std::string path = dir.File("wide.nt");
  WriteWideDirectory(path, 163840);  // 640 MiB, 5.2 million directory slots
  std::string said;
  EXPECT_EQ(OpenWithin(path, 256, &said), 0) << said;
  said.clear();
  EXPECT_EQ(OpenWithin(path, 4, &said), 1) << said;
  EXPECT_NE(said.find("out of memory"), std::string::npos) << said;
}

}  // namespace
}  // namespace nametree::test
