// The document behind a nametree::Document: the library's DocumentFile
// (which opens, locks, loads, guards damaged entries and commits), mapped to
// the face's errors. The one place the face reaches the file through.
//
// Invariants: the server is initialised and posts to this store's manager;
// a writable store holds the file's lock for its whole life; the
// process-wide last issued ID never goes down when a store opens a file,
// so two open documents never draw the same ID; a read-only open leaves it
// as it was, and an edit of a read-only document first raises it above the
// IDs the document held when opened (KeepCounterAbove); an import sets it
// as the classic import does, but never below an ID the import holds nor
// below where it stood.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "nametree/document.h"
#include "document/document_file.h"
#include "face/edit_judge.h"

namespace nametree {

class Document::Store {
 public:
  virtual ~Store() = default;

  // Null with *error set when the file cannot be opened as a document.
  static std::unique_ptr<Store> Open(const std::filesystem::path& path, const OpenOptions& options,
                                             Error* error);
  static std::unique_ptr<Store> InMemory();
  // A document of the earlier format, converted into a store on no file;
  // null with *error set when it cannot be read or its tree cannot be
  // saved. The process-wide counter becomes the one the old document
  // stored, raised to its highest ID and to where it stood; a refused
  // import leaves it as it was.
  static std::unique_ptr<Store> ImportLegacy(const std::filesystem::path& path, const LegacyDropObserver& dropped,
                                             Error* error);

  virtual CNameServer& Server() = 0;
  virtual bool IsReadOnly() const = 0;
  virtual std::vector<std::string> Warnings() const = 0;
  // The keywords the document keeps, for the document check.
  virtual std::vector<CString> Keywords() const = 0;
  // Entries a forced commit left out go to *leftOut when given.
  virtual Result<void> Commit(std::vector<std::string>* leftOut) = 0;
  // Puts a store made InMemory on a new file; nothing is written until Commit.
  virtual Result<void> CreateFile(const std::filesystem::path& path, const OpenOptions& options) = 0;
  virtual bool IsDryRun() const = 0;
  // What did not read back whole; empty for a whole document.
  virtual std::vector<DocumentDamage> Damage() const = 0;
  // Before an edit draws an ID: the counter is raised to the highest ID the
  // document held when it was opened, if it is below it.
  virtual void KeepCounterAbove() const = 0;
  // The file with its labels and stored keywords; its path is empty in memory.
  virtual DocumentFile& File() = 0;
  virtual const DocumentFile& File() const = 0;

  // Follows the edits once JudgeEdits set it; null until then.
  std::unique_ptr<EditJudge> judge;
};

}  // namespace nametree
