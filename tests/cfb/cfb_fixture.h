// Shared helpers for the compound-file tests: storage trees stated as
// path -> contents maps, temporary directories, files and external tools.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "nametree/storage.h"

namespace nametree::test {

using Bytes = std::vector<std::uint8_t>;

// A storage tree flattened: "a/b/c" -> bytes for a stream, nullopt for a
// storage. Paths use UTF-8 names joined by '/'.
using Tree = std::map<std::string, std::optional<Bytes>>;

Tree Snapshot(IStorage* storage);
void Build(IStorage* storage, const Tree& tree);  // storages first, by path order
Tree StreamsOnly(const Tree& tree);

// Deterministic bytes that differ between seeds and positions.
Bytes Pattern(std::size_t size, std::uint32_t seed);

Bytes SerializeOrDie(IStorage* storage, int majorVersion = 3);
Bytes Serialize(const Tree& tree, int majorVersion = 3);
// The tree a file's bytes parse to; a failure is a test failure with the message.
Tree Parse(const Bytes& file);

std::string Sha256Hex(const Bytes& data);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> Names() const;  // directory entries, sorted

 private:
  std::string path_;
};

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);

// Runs `command` through the shell; returns its exit status and stdout.
int RunShell(const std::string& command, std::string* output = nullptr);
bool HaveProgram(const std::string& path);
bool HaveOlefile();
std::string ShellQuote(const std::string& text);

}  // namespace nametree::test
