// Shared helpers for the compound-file tests: storage trees stated as
// path -> contents maps, surgery on serialized files, temporary
// directories, edits through a file layer and external tools.
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

// Locates structures in a file of ours, following its tables as a reader would.
class Surgeon {
 public:
  explicit Surgeon(Bytes file);

  std::size_t SectorOffset(std::uint32_t sector) const { return (std::size_t{sector} + 1) * sectorSize; }
  std::size_t FatOffset(std::uint32_t index) const;
  std::size_t MiniFatOffset(std::uint32_t index) const;
  std::size_t EntryOffset(std::uint32_t id) const;
  std::uint32_t Id(const CString& name) const;
  const cfb::DirectoryEntry& Entry(const CString& name) const { return dir.entries[Id(name)]; }
  // Overwrites the 32-bit field at `field` of the entry named `name`.
  void SetLink(const CString& name, std::size_t field, std::uint32_t value);

  Bytes file;
  cfb::ParsedDirectory dir;
  std::uint32_t sectorSize = 512;
};

// One edit as a program makes it: open for writing, apply `change`, commit.
bool Edit(cfb::FileLayer& files, const std::string& path, const Tree& change, std::string* error = nullptr);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> Names() const;  // directory entries, sorted

 private:
  std::string path_;
};

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);

// Runs `command` through the shell; returns its exit status and stdout.
int RunShell(const std::string& command, std::string* output = nullptr);
std::string ShellQuote(const std::string& text);

}  // namespace nametree::test
