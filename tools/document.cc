#include "document.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "args.h"
#include "cli.h"
#include "nametree/cfb_storage.h"
#include "nametree/legacy_storage.h"
#include "output.h"

namespace nametree::cli {

namespace {

constexpr char16_t kServerStream[] = u"NameServer";

bool HasStream(IStorage* storage, const CString& name) {
  std::vector<StorageElement> elements;
  if (Failed(storage->EnumElements(&elements))) return false;
  for (const StorageElement& e : elements)
    if (!e.isStorage && e.name == name) return true;
  return false;
}

int RefuseExisting(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) return kExitOk;
  ReportFile(path, ec ? "cannot check the file: " + ec.message()
                      : "already exists; it is not replaced");
  return kExitError;
}

CompoundFileOptions FileOptions(const DocumentOptions& options) {
  CompoundFileOptions file;
  file.lockWaitMilliseconds = options.lockWaitSeconds * 1000;
  file.force = options.force;
  return file;
}

}  // namespace

Document::Document() { server_.Initialize(&notifications_); }

int Document::Open(const std::string& path, bool writable, const DocumentOptions& options) {
  path_ = path;
  options_ = options;
  std::string error;
  if (!OpenCompoundFile(path, writable, FileOptions(options), &storage_, &error)) {
    ReportFile(path, "cannot open: " + error);
    return kExitError;
  }
  for (const std::string& warning : CompoundFileWarnings(storage_.Get()))
    ReportFile(path, "warning: cannot read " + warning);
  if (!HasStream(storage_.Get(), kServerStream)) {
    ReportFile(path, "holds no \"NameServer\" stream; a document of the earlier format is read "
                     "with 'nametree import-legacy'");
    return kExitError;
  }
  if (server_.Load(storage_.Get()) != S_OK) {
    ReportFile(path, "the \"NameServer\" stream is damaged and cannot be read");
    return kExitError;
  }
  return kExitOk;
}

int Document::Create(const std::string& path, const DocumentOptions& options) {
  path_ = path;
  options_ = options;
  if (int rc = RefuseExisting(path)) return rc;
  CompoundFileOptions create = FileOptions(options);
  create.exclusive = true;
  std::string error;
  if (!CreateCompoundFile(path, 3, create, &storage_, &error)) {
    ReportFile(path, "cannot create: " + error);
    return kExitError;
  }
  return kExitOk;
}

int Document::Save() {
  if (HRESULT hr = server_.Save(storage_.Get()); hr != S_OK) {
    ReportFile(path_, "cannot save the name server: " + StatusName(hr));
    return kExitError;
  }
  std::string error;
  std::vector<std::string> leftOut;
  if (!CommitCompoundFile(storage_.Get(), FileOptions(options_), &leftOut, &error)) {
    ReportFile(path_, "cannot write: " + error);
    return kExitError;
  }
  for (const std::string& entry : leftOut) ReportFile(path_, "left out: " + entry);
  return kExitOk;
}

int ImportLegacyDocument(const std::string& path, CNameServer& server) {
  ComPtr<IStorage> storage;
  std::string error;
  if (!OpenCompoundFile(path, false, &storage, &error)) {
    ReportFile(path, "cannot open: " + error);
    return kExitError;
  }
  ComPtr<IZebStorage> legacy = CreateLegacyStorageAdapter(storage.Get());
  if (server.LoadOldVersion(legacy.Get()) != S_OK) {
    ReportFile(path, "is no readable document of the earlier format (no \"QXTNameServer\" "
                     "storage with a \"NameService\" element, or a damaged one)");
    return kExitError;
  }
  return kExitOk;
}

int WriteLegacyDocument(const std::string& path, const std::vector<std::uint8_t>& legacyStream) {
  if (int rc = RefuseExisting(path)) return rc;
  ComPtr<IStorage> root, child;
  ComPtr<IStream> stream;
  std::string error;
  CompoundFileOptions create;
  create.exclusive = true;
  if (!CreateCompoundFile(path, 3, create, &root, &error)) {
    ReportFile(path, "cannot create: " + error);
    return kExitError;
  }
  std::uint32_t written = 0;
  if (Failed(root->CreateStorage(u"QXTNameServer", kCreateMode, child.Put())) ||
      Failed(child->CreateStream(u"NameService", kCreateMode, stream.Put())) ||
      Failed(stream->Write(legacyStream.data(), static_cast<std::uint32_t>(legacyStream.size()),
                           &written)) ||
      written != legacyStream.size()) {
    ReportFile(path, "cannot write the legacy element");
    return kExitError;
  }
  stream.Reset();
  child.Reset();
  if (!CommitCompoundFile(root.Get(), &error)) {
    ReportFile(path, "cannot write: " + error);
    return kExitError;
  }
  return kExitOk;
}

}  // namespace nametree::cli
