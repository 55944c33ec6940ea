// Reading a compound file held in memory. Every sector number, chain, link,
// size and name is checked against the file before it is used, so a damaged
// or hostile file gives an error message, never a crash, a hang or an
// allocation beyond the size of the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cfb/cfb_format.h"
#include "nametree/storage.h"

namespace nametree::cfb {

struct ParsedDirectory {
  int majorVersion = 3;
  std::vector<DirectoryEntry> entries;  // as stored, entry 0 the root
};

// Checks the header, the FAT and the directory chain, and decodes every
// directory entry; the trees they form are not walked.
bool ReadDirectory(const std::vector<std::uint8_t>& file, ParsedDirectory* out, std::string* error);

// Reads the whole file into `root`, an empty storage: a child storage for
// each storage entry, a stream for each stream entry.
bool ReadCompoundFile(const std::vector<std::uint8_t>& file, IStorage* root, int* majorVersion,
                      std::string* error);

}  // namespace nametree::cfb
