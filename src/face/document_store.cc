#include "face/document_store.h"

#include <algorithm>

#include "document/document_file.h"
#include "document/legacy_import.h"
#include "nametree/document_check.h"
#include "nametree/storage.h"

namespace nametree {

namespace {

// The face's error for what the document file refused; `creating` tells a
// file in the way from other refusals.
Error FromFileError(const FileError& e, const std::string& path, bool creating, bool committing) {
  const std::string& message = e.message;
  switch (e.kind) {
    case FileErrorKind::kNone:
    case FileErrorKind::kUsage: return Error(ErrorKind::kInvalidArgument, E_INVALIDARG, path, message);
    case FileErrorKind::kNotFound: return Error(ErrorKind::kNotFound, STG_E_FILENOTFOUND, path, message);
    case FileErrorKind::kReadOnly: return Error(ErrorKind::kReadOnly, STG_E_ACCESSDENIED, path, message);
    case FileErrorKind::kNotADocument: return Error(ErrorKind::kNotADocument, STG_E_DOCFILECORRUPT, path, message);
    case FileErrorKind::kDamaged: return Error(ErrorKind::kDamaged, STG_E_DOCFILECORRUPT, path, message);
    case FileErrorKind::kLocked: return Error(ErrorKind::kLocked, STG_E_ACCESSDENIED, path, message);
    case FileErrorKind::kRefused:
      if (creating) return Error(ErrorKind::kExists, STG_E_FILEALREADYEXISTS, path, message);
      return Error(ErrorKind::kFailed, E_FAIL, path, message);
    case FileErrorKind::kIo:
      return Error(ErrorKind::kIo, committing ? STG_E_WRITEFAULT : STG_E_READFAULT, path, message);
    case FileErrorKind::kOutOfMemory: return Error(ErrorKind::kOutOfMemory, E_OUTOFMEMORY, path, message);
  }
  return Error(ErrorKind::kFailed, E_FAIL, path, message);
}

DocumentFileOptions FileOptions(const OpenOptions& options) {
  DocumentFileOptions file;
  file.create = options.create;
  file.readOnly = options.readOnly;
  file.lockWaitMilliseconds = static_cast<int>(std::min<std::int64_t>(options.wait.count(), INT32_MAX));
  file.force = options.force;
  return file;
}

class FileStore final : public Document::Store {
 public:
  FileStore(std::unique_ptr<DocumentFile> file, std::string path, const OpenOptions& options)
      : file_(std::move(file)), path_(std::move(path)), options_(options), held_(file_->Server().GetHighestID()) {}

  std::vector<DocumentDamage> Damage() const override { return file_->Damage(); }
  void KeepCounterAbove() const override {
    // mutate: reader-edit-draws-held-id
    if (CNameContainer::GetLastIssuedNameID() < held_) CNameContainer::SetLastIssuedNameID(held_);
  }

  CNameServer& Server() override { return file_->Server(); }
  bool IsReadOnly() const override { return options_.readOnly; }
  std::vector<std::string> Warnings() const override { return file_->Warnings(); }
  std::vector<CString> Keywords() const override { return file_->StoredKeywords(); }
  DocumentFile& File() override { return *file_; }
  const DocumentFile& File() const override { return *file_; }

  Result<void> Commit(std::vector<std::string>* leftOut) override {
    if (path_.empty()) {  // in memory: nothing to write
      file_->Server().SetDirty(false);
      return {};
    }
    if (options_.readOnly)
      return Error(ErrorKind::kReadOnly, STG_E_ACCESSDENIED, path_, "opened read-only; it cannot be committed");
    // mutate: dry-run-saves
    if (options_.dryRun) return {};
    FileError error;
    if (!file_->Commit(&error, leftOut)) return FromFileError(error, path_, options_.create, true);
    return {};
  }

  Result<void> CreateFile(const std::filesystem::path& path, const OpenOptions& options) override {
    const std::string shown = path.string();
    if (!path_.empty())
      return Error(ErrorKind::kInvalidArgument, E_INVALIDARG, shown, "the document is on a file already");
    if (FileError error = file_->CreateFile(path, FileOptions(options)))
      return FromFileError(error, shown, true, false);
    // mutate: created-file-stays-in-memory
    path_ = shown;
    options_ = options;
    options_.create = true;
    return {};
  }
  bool IsDryRun() const override { return options_.dryRun; }

 private:
  std::unique_ptr<DocumentFile> file_;
  std::string path_;  // empty for a document in memory
  OpenOptions options_;
  std::uint32_t held_;  // the highest ID the document held when opened
};

}  // namespace

std::unique_ptr<Document::Store> Document::Store::Open(const std::filesystem::path& path, const OpenOptions& options,
                                                   Error* error) {
  const std::uint32_t before = CNameContainer::GetLastIssuedNameID();
  FileError fileError;
  std::unique_ptr<DocumentFile> file = DocumentFile::Open(path, FileOptions(options), &fileError);
  if (!file) {
    *error = FromFileError(fileError, path.string(), options.create, false);
    return nullptr;
  }
  // Loading set the counter to the stored value: a reader puts it back, a
  // writer keeps it above what both the process and the document issued.
  CNameContainer::SetLastIssuedNameID(
      // mutate: reader-moves-counter
      options.readOnly ? before
                       // mutate: open-lowers-id-counter
                       : std::max({before, CNameContainer::GetLastIssuedNameID(), file->Server().GetHighestID()}));
  return std::make_unique<FileStore>(std::move(file), path.string(), options);
}

std::unique_ptr<Document::Store> Document::Store::InMemory() {
  return std::make_unique<FileStore>(DocumentFile::InMemory(), std::string(), OpenOptions{});
}

std::unique_ptr<Document::Store> Document::Store::ImportLegacy(const std::filesystem::path& path,
                                                               const LegacyDropObserver& dropped, Error* error) {
  const std::uint32_t before = CNameContainer::GetLastIssuedNameID();
  FileError fileError;
  std::unique_ptr<DocumentFile> file = ConvertLegacyFile(path, dropped, &fileError);
  std::vector<DocumentFinding> over;
  if (file) over = CheckEntryLimits(file->Server());
  // mutate: legacy-over-limit-imported
  if (file && over.empty()) {
    // The read set the counter to the stored value, as the classic import
    // does (in a fresh process a saved conversion keeps it); raised, so
    // that neither the tree's own IDs nor those of documents open already
    // are drawn again.
    CNameContainer::SetLastIssuedNameID(std::max({
        // mutate: legacy-import-lowers-counter
        before,
        CNameContainer::GetLastIssuedNameID(),
        // mutate: legacy-import-draws-held-id
        file->Server().GetHighestID()}));
    return std::make_unique<FileStore>(std::move(file), std::string(), OpenOptions{});
  }
  CNameContainer::SetLastIssuedNameID(before);
  *error = file ? Error(ErrorKind::kFull, E_FAIL, path.string(),
                        "the converted document cannot be saved: " + DescribeFinding(over.front()))
                : FromFileError(fileError, path.string(), false, false);
  return nullptr;
}

}  // namespace nametree
