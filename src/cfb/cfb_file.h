// The compound-file entry points over a chosen file layer, for tests that
// make the file system fail.
#pragma once

#include <string>

#include "cfb/file_io.h"
#include "nametree/storage.h"

namespace nametree::cfb {

bool OpenCompoundFile(FileLayer& files, const std::string& path, bool writable, ComPtr<IStorage>* out,
                      std::string* error);
bool CreateCompoundFile(FileLayer& files, const std::string& path, int majorVersion,
                        ComPtr<IStorage>* out, std::string* error);
bool CommitCompoundFile(FileLayer& files, IStorage* storage, std::string* error);

}  // namespace nametree::cfb
