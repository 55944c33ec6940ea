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

}  // namespace

// As its JSON has always named them.
std::string_view FileKindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kInvalidArgument: return "usage";
    case ErrorKind::kNotFound: return "not-found";
    case ErrorKind::kReadOnly: return "read-only";
    case ErrorKind::kNotADocument: return "not-a-document";
    case ErrorKind::kDamaged: return "damaged";
    // mutate: program-lock-kind-lost
    case ErrorKind::kLocked: return "locked";
    case ErrorKind::kIo: return "io";
    case ErrorKind::kOutOfMemory: return "out-of-memory";
    default: return "refused";
  }
}

int ReportDocumentError(const Reporter& report, const std::string& path, const nametree::Error& error) {
  report.Error(path, std::string(error.reason()), E_FAIL, FileKindName(error.kind()));
  return kExitError;
}

int OpenDocument(const Reporter& report, Document& doc, const std::string& path, bool writable,
                 DocumentOptions options) {
  if (writable) GuardInterrupts(path);
  options.readOnly = !writable;
  Result<Document> opened = Document::Open(path, options);
  if (!opened) return ReportDocumentError(report, path, opened.error());
  doc = std::move(*opened);
  for (const std::string& warning : doc.Warnings()) report.File(path, "warning: cannot read " + warning, "damaged");
  return kExitOk;
}

int CreateDocument(const Reporter& report, Document& doc, const std::string& path,
                   const DocumentOptions& options) {
  GuardInterrupts(path, "not created");
  if (Result<void> created = doc.CreateFile(path, options); !created)
    return ReportDocumentError(report, path, created.error());
  return kExitOk;
}

int SaveDocument(Reporter& report, Document& doc) {
  const std::string path = doc.Path().string();
  if (doc.IsDryRun()) {
    report.DryRun(path);
    return kExitOk;
  }
  std::vector<std::string> leftOut;
  {
    SaveSection section;
    if (Result<void> saved = doc.Commit(&leftOut); !saved) return ReportDocumentError(report, path, saved.error());
    section.Saved();
  }
  report.Saved(path);
  for (const std::string& entry : leftOut) report.File(path, "left out: " + entry, "damaged");
  return kExitOk;
}

int ImportLegacyDocument(const Reporter& report, const std::string& path, Document& doc,
                         std::vector<CLegacyDrop>* drops) {
  Result<Document> imported = Document::ImportLegacy(path, drops);
  if (!imported) {
    const nametree::Error& e = imported.error();
    if (e.kind() != ErrorKind::kFull) return ReportDocumentError(report, path, e);
    report.File(path, std::string(e.reason()) + "; nothing was written", FileKindName(e.kind()));
    return kExitError;
  }
  doc = std::move(*imported);
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
