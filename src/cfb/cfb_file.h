// The compound-file entry points over a chosen file layer, for tests that
// make the file system fail.
#pragma once

#include <string>
#include <vector>

#include "cfb/file_io.h"
#include "nametree/cfb_storage.h"
#include "nametree/storage.h"

namespace nametree::cfb {

bool OpenCompoundFile(FileLayer& files, const std::string& path, bool writable,
                      const CompoundFileOptions& options, ComPtr<IStorage>* out, std::string* error);
bool CreateCompoundFile(FileLayer& files, const std::string& path, int majorVersion,
                        const CompoundFileOptions& options, ComPtr<IStorage>* out, std::string* error);
bool CommitCompoundFile(FileLayer& files, IStorage* storage, const CompoundFileOptions& options,
                        std::vector<std::string>* leftOut, std::string* error);

}  // namespace nametree::cfb
