// Shared helpers for the compound-file tests: storage trees stated as
// path -> contents maps, surgery on serialized files, edits through a
// file layer and external tools.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cfb/cfb_file.h"
#include "cfb/cfb_reader.h"
#include "nametree/storage.h"
#include "support/faulty_file_layer.h"
#include "support/scratch.h"

namespace nametree::test {

using Bytes = std::vector<std::uint8_t>;

// A storage tree flattened: "a/b/c" -> bytes for a stream, nullopt for a
// storage. Paths use UTF-8 names joined by '/'.
using Tree = std::map<std::string, std::optional<Bytes>>;

Tree Snapshot(IStorage* storage);
void Build(IStorage* storage, const Tree& tree);  // storages first, by path order

// Deterministic bytes that differ between seeds and positions.
Bytes Pattern(std::size_t size, std::uint32_t seed);

Bytes SerializeOrDie(IStorage* storage, int majorVersion = 3);
Bytes Serialize(const Tree& tree, int majorVersion = 3);
// The tree a file's bytes parse to; a failure is a test failure with the message.
Tree Parse(const Bytes& file);

// Streams on both sides of the mini-stream cutoff and of sector sizes, and
// storages nested three deep with many entries.
Tree Sample();

// Locates structures in a file of ours, following its tables as a reader would.
struct Surgeon {
  explicit Surgeon(Bytes bytes) : file(std::move(bytes)) {
    const cfb::Status read = cfb::ReadDirectory(file, &dir);
    EXPECT_TRUE(read.ok()) << read.message();
  }
  std::size_t SectorOffset(std::uint32_t sector) const { return (std::size_t{sector} + 1) << file[30]; }
  std::size_t FatOffset(std::uint32_t index) const {
    const std::uint32_t perSector = (1u << file[30]) / 4;
    return SectorOffset(cfb::Get32(&file[76 + 4 * (index / perSector)])) + 4 * (index % perSector);
  }
  std::size_t MiniFatOffset(std::uint32_t index) const { return SectorOffset(cfb::Get32(&file[60])) + 4 * index; }
  // Our writer lays every chain out as a run of adjacent sectors.
  std::size_t EntryOffset(std::uint32_t id) const { return SectorOffset(cfb::Get32(&file[48])) + 128 * id; }
  std::uint32_t Id(const CString& name) const {
    for (std::uint32_t i = 0; i < dir.entries.size(); ++i)
      if (dir.entries[i].name == name) return i;
    ADD_FAILURE() << "no entry";
    return 0;
  }
  const cfb::DirectoryEntry& Entry(const CString& name) const { return dir.entries[Id(name)]; }
  // Overwrites the 32-bit field at `field` of the entry named `name`.
  void SetLink(const CString& name, std::size_t field, std::uint32_t value) {
    cfb::Put32(&file[EntryOffset(Id(name)) + field], value);
  }

  Bytes file;
  cfb::ParsedDirectory dir;
};

// One edit as a program makes it: open for writing, apply `change`, commit.
bool Edit(cfb::FileLayer& files, const std::string& path, const Tree& change, std::string* error = nullptr);

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);
// Writes `file` to `path` and opens it for writing; null, with the test
// failed and the reason said, when it does not open.
ComPtr<IStorage> OpenWritten(const std::string& path, const Bytes& file);

// Runs `command` through the shell; returns its exit status and stdout.
int RunShell(const std::string& command, std::string* output = nullptr);

}  // namespace nametree::test
