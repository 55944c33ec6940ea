#include "document.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "args.h"
#include "cli.h"
#include "interrupt.h"
#include "nametree/cfb_storage.h"
#include "nametree/legacy_storage.h"
#include "output.h"

namespace nametree::cli {

namespace {

int RefuseExisting(const Reporter& report, const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) return kExitOk;
  report.File(path, ec ? "cannot check the file: " + ec.message() : "already exists; it is not replaced",
              ec ? "io" : "refused");
  return kExitError;
}

DocumentFileOptions FileOptions(const DocumentOptions& options, bool create, bool readOnly) {
  DocumentFileOptions file;
  file.create = create;
  file.readOnly = readOnly;
  file.lockWaitMilliseconds = options.lockWaitSeconds * 1000;
  file.force = options.force;
  return file;
}

}  // namespace

Document::Document() : file_(DocumentFile::InMemory()) {}

FileError Document::Open(const std::string& path, bool writable, const DocumentOptions& options) {
  path_ = path;
  dryRun_ = options.dryRun;
  FileError error;
  if (auto file = DocumentFile::Open(path, FileOptions(options, false, !writable), &error)) file_ = std::move(file);
  return error;
}

FileError Document::Create(const std::string& path, const DocumentOptions& options) {
  path_ = path;
  dryRun_ = options.dryRun;
  return file_->CreateFile(path, FileOptions(options, true, false));
}

FileError Document::Save(std::vector<std::string>* leftOut) {
  FileError error;
  file_->Commit(&error, leftOut);
  return error;
}

int ReportDocumentError(const Reporter& report, const std::string& path, const FileError& error) {
  if (!error) return kExitOk;
  report.Error(path, error.message, E_FAIL, FileErrorKindName(error.kind));
  return kExitError;
}

int OpenDocument(const Reporter& report, Document& doc, const std::string& path, bool writable,
                 const DocumentOptions& options) {
  if (writable) GuardInterrupts(path);
  if (int rc = ReportDocumentError(report, path, doc.Open(path, writable, options))) return rc;
  for (const std::string& warning : doc.File().Warnings())
    report.File(path, "warning: cannot read " + warning, "damaged");
  return kExitOk;
}

int CreateDocument(const Reporter& report, Document& doc, const std::string& path,
                   const DocumentOptions& options) {
  GuardInterrupts(path, "not created");
  return ReportDocumentError(report, path, doc.Create(path, options));
}

DocumentOptions CreateOptions(const Args& args) {
  DocumentOptions options;
  // mutate: create-dry-run-writes
  options.dryRun = args.Has("dry-run");
  return options;
}

int SaveDocument(Reporter& report, Document& doc) {
  // mutate: dry-run-saves
  if (doc.DryRun()) {
    report.DryRun(doc.Path());
    return kExitOk;
  }
  std::vector<std::string> leftOut;
  {
    SaveSection section;
    if (int rc = ReportDocumentError(report, doc.Path(), doc.Save(&leftOut))) return rc;
    section.Saved();
  }
  report.Saved(doc.Path());
  for (const std::string& entry : leftOut) report.File(doc.Path(), "left out: " + entry, "damaged");
  return kExitOk;
}

int ImportLegacyDocument(const Reporter& report, const std::string& path, CNameServer& server) {
  ComPtr<IStorage> storage;
  std::string error;
  if (!OpenCompoundFile(path, false, &storage, &error)) {
    std::error_code ec;
    report.File(path, "cannot open: " + error, std::filesystem::exists(path, ec) ? "not-a-document" : "not-found");
    return kExitError;
  }
  ComPtr<IZebStorage> legacy = CreateLegacyStorageAdapter(storage.Get());
  if (server.LoadOldVersion(legacy.Get()) != S_OK) {
    report.File(path, "is no readable document of the earlier format (no \"QXTNameServer\" "
                     "storage with a \"NameService\" element, or a damaged one)",
                "not-a-document");
    return kExitError;
  }
  return kExitOk;
}

int WriteLegacyDocument(const Reporter& report, const std::string& path,
                        const std::vector<std::uint8_t>& legacyStream) {
  if (int rc = RefuseExisting(report, path)) return rc;
  ComPtr<IStorage> root, child;
  ComPtr<IStream> stream;
  std::string error;
  CompoundFileOptions create;
  create.exclusive = true;
  if (!CreateCompoundFile(path, 3, create, &root, &error)) {
    report.File(path, "cannot create: " + error, "io");
    return kExitError;
  }
  std::uint32_t written = 0;
  if (Failed(root->CreateStorage(u"QXTNameServer", kCreateMode, child.Put())) ||
      Failed(child->CreateStream(u"NameService", kCreateMode, stream.Put())) ||
      Failed(stream->Write(legacyStream.data(), static_cast<std::uint32_t>(legacyStream.size()),
                           &written)) ||
      written != legacyStream.size()) {
    report.File(path, "cannot write the legacy element", "io");
    return kExitError;
  }
  stream.Reset();
  child.Reset();
  if (!CommitCompoundFile(root.Get(), &error)) {
    report.File(path, "cannot write: " + error, "io");
    return kExitError;
  }
  return kExitOk;
}

}  // namespace nametree::cli
