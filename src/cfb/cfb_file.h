// The compound-file entry points over a chosen file layer, for tests that
// make the file system fail.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cfb/file_io.h"
#include "nametree/cfb_storage.h"
#include "nametree/memory_storage.h"
#include "platform/handle_ledger.h"
#include "nametree/storage.h"

namespace nametree::cfb {

Status OpenCompoundFile(FileLayer& files, const std::string& path, bool writable,
                        const CompoundFileOptions& options, ComPtr<IStorage>* out);
Status CreateCompoundFile(FileLayer& files, const std::string& path, int majorVersion,
                          const CompoundFileOptions& options, ComPtr<IStorage>* out);
Status CommitCompoundFile(FileLayer& files, IStorage* storage, const CompoundFileOptions& options,
                          std::vector<std::string>* leftOut);

// The ledger of the handles of a storage tree from a compound file (the
// root or any storage opened from it); null for another storage.
std::shared_ptr<HandleLedger> CompoundFileLedger(IStorage* storage);

}  // namespace nametree::cfb
