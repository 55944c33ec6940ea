// Reading a compound file: the header, the allocation tables and the
// directory, never the streams' bytes. Every sector number, chain, link,
// size and name is checked against the file before it is used, so a damaged
// or hostile file gives an error message, never a crash, a hang or an
// allocation beyond the size of the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cfb/doc_tree.h"

namespace nametree::cfb {

struct ParsedDirectory {
  int majorVersion = 3;
  std::vector<DirectoryEntry> entries;  // as stored, entry 0 the root
};

// Checks the header, the FAT and the directory chain, and decodes every
// directory entry; the trees they form are not walked.
Status ReadDirectory(const std::vector<std::uint8_t>& file, ParsedDirectory* out);

struct ReadResult {
  std::shared_ptr<FileLayout> layout;
  std::shared_ptr<DocNode> root;
  // Entries left unreadable, each with its path and why; the rest of the
  // file is intact.
  std::vector<std::string> warnings;
};

// Reads the structure of the file and walks its directory into a tree of
// nodes whose streams stay in the file. A damaged header, table or
// directory refuses the file; an entry whose own data cannot be read is
// left out with a warning. With `checkChains` every stream's chain is
// followed now (a chain that loops or is shared between entries refuses
// the file); without, each is followed when first used.
Status ReadCompoundFile(std::shared_ptr<ByteSource> source, bool checkChains, ReadResult* out);

}  // namespace nametree::cfb
