// The entries of an opened compound file, held without their bytes.
//
// A stream node either owns its bytes (`data`, once written to or created)
// or names where they lie in the file it was read from (`place`, read
// through the shared FileLayout of chain.h). Invariants kept by every
// operation:
//  - a node's bytes are read only after its chain was followed in full
//    (`checked`): it stays inside the file and shares no sector with any
//    other checked chain or the file's own tables (FileLayout::owned);
//  - a commit checks every chain not yet checked before it writes;
//  - the FileLayout and its ByteSource outlive every node that names them
//    (each holder keeps a shared reference);
//  - children are unique by exact name;
//  - an entry of the file that could not be read in full carries a damage
//    mark in its storage's `unreadable` until a commit has written the file
//    without it. Replacing the entry keeps the mark, and a mark refuses
//    every commit that is not forced. A stream recovered in part (its
//    chain ended before its declared size) stays among the children with
//    the bytes its chain holds; any other damaged entry is kept apart.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cfb/chain.h"
#include "platform/byte_buffer.h"

namespace nametree::cfb {

struct Unreadable {
  CString name;
  std::string reason;
};

struct DocNode {
  CString name;
  bool storage = false;
  EntryMetadata metadata;
  // A stream's bytes: owned once loaded or written, else in the file. A
  // saved stream's buffer is taken over whole, not copied.
  std::shared_ptr<ByteBuffer> data;
  ChainPlace place;
  bool open = false;     // exclusive sharing: one stream handle at a time
  bool checked = false;  // its chain in the file was followed and claimed
  std::vector<std::shared_ptr<DocNode>> children;
  std::vector<Unreadable> unreadable;  // damage marks, by entry name

  std::uint64_t Size() const { return data ? data->size() : place.size; }
  bool Damaged(const CString& entry) const;
};

// Checks the chain of the stream `storage.children[index]` unless already
// checked. A chain that holds less than its entry declares is cut to what
// it holds and marked; any other failure marks the entry and removes it
// from the children (`*removed` tells). Each mark adds "path: reason" to
// `warnings`. Fails, kCorrupt, only when `corruptIsFatal`.
Status CheckNode(const FileLayout* layout, DocNode& storage, std::size_t index, const std::string& path,
                 bool corruptIsFatal, std::vector<std::string>* warnings, bool* removed);

// Checks every chain under `storage` not yet checked, as CheckNode does.
// Fails at the first corrupt chain when `corruptIsFatal`.
Status CheckChains(const FileLayout* layout, DocNode& storage, const std::string& path, bool corruptIsFatal,
                   std::vector<std::string>* warnings);

// Whether anything under `storage` carries a damage mark.
bool AnyDamage(const DocNode& storage);
// Drops every mark under `storage`: the file no longer holds the damage.
void ForgetDamage(DocNode& storage);

}  // namespace nametree::cfb
