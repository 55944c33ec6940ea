// A document file as a program opens, edits and saves it: the compound
// file, the name server of its "NameServer" stream, and the program's own
// settings kept beside it (reserved words in "NametreeKeywords", container
// labels in "NametreeLabels"). Other entries of the file are kept as they
// are. Internal: a host reaches it through nametree::Document only.
//
// What it guarantees: a "NameServer" entry that cannot be read is never
// taken for an empty document and never replaced, with or without force;
// every commit writes "NameServer" from an empty stream, so no deleted text
// and no stale length survives; other unreadable entries refuse the commit
// unless force leaves them out; a commit is crash-safe (the old file stays
// whole until the new one is in place). No exception leaves these calls.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "nametree/document_entries.h"
#include "nametree/identifier_profile.h"
#include "nametree/name_server.h"
#include "nametree/notification.h"
#include "nametree/storage.h"

namespace nametree {

enum class FileErrorKind { kNone, kUsage, kNotFound, kReadOnly, kNotADocument, kDamaged, kLocked, kRefused, kIo, kOutOfMemory };

struct FileError {
  FileErrorKind kind = FileErrorKind::kNone;
  std::string message;  // without the file's name
  explicit operator bool() const { return kind != FileErrorKind::kNone; }
};

// The file layer's verdict in a document's terms. Damage met while writing
// is the document's; met while opening, the file is no document.
enum class CompoundFileFailure : std::uint8_t;
FileErrorKind FileErrorKindOf(CompoundFileFailure failure, bool writing);

struct DocumentFileOptions {
  // A new document: nothing is on disk until Commit, which refuses to
  // replace a file that is at the path by then (also at Open).
  bool create = false;
  // No lock is taken and Commit is refused.
  bool readOnly = false;
  // How long a writable open waits for another writer.
  int lockWaitMilliseconds = 10000;
  // Commit even though entries other than "NameServer" could not be read
  // (they are left out), or "NameServer" did not read back whole (what was
  // read is written).
  bool force = false;
};

class DocumentFile {
 public:
  // Opens (or, with options.create, starts) the document at `path`. On
  // failure returns null with *error set.
  static std::unique_ptr<DocumentFile> Open(const std::filesystem::path& path, const DocumentFileOptions& options,
                                            FileError* error);
  // A document on no file; Commit is refused.
  static std::unique_ptr<DocumentFile> InMemory();
  // Puts a document made InMemory on a new file at `path` (options.create is
  // implied), keeping its server as it is, so that what was read into it
  // (an import) is saved unchanged. Nothing is on disk until Commit.
  FileError CreateFile(const std::filesystem::path& path, const DocumentFileOptions& options);

  ~DocumentFile();
  DocumentFile(const DocumentFile&) = delete;
  DocumentFile& operator=(const DocumentFile&) = delete;

  CNameServer& Server();
  CNotificationManager& Notifications();
  const std::filesystem::path& Path() const;

  // Entries that could not be read, each as "path: reason".
  std::vector<std::string> Warnings() const;

  // Everything that did not read back whole, in a fixed order: unreadable
  // entries, the "NameServer" difference, malformed settings, then the
  // labels by container ID. Empty for a whole document.
  std::vector<DocumentDamage> Damage() const;

  // Reserved words kept in the document; open adds them to the server.
  const std::vector<CString>& StoredKeywords() const;
  // Replaces the stored words; each is also reserved on the server.
  void SetStoredKeywords(std::vector<CString> keywords);
  // Keeps one more word (also reserved on the server) in constant time;
  // *added tells whether it was new, letter case ignored. Refused
  // (kRefused) when the document cannot keep it whole: empty, holding
  // U+0000, or longer than a name may be (kMaxNameLength).
  FileError KeepKeyword(const CString& word, bool* added = nullptr);

  // The rule the document's names are judged by, kept in the file
  // ("NametreeProfile"); kClassic for a document that keeps none. Commit
  // writes the stream only once a document has held another profile, so an
  // older document's file is not changed by it.
  NameProfile StoredProfile() const;
  void SetStoredProfile(NameProfile profile);
  // The one verdict on a name to add or rename to here: a name of kind 0 in
  // a document that keeps the IEC 61131-3 profile is judged by the
  // profile, and *serverKind becomes NameKindOf(profile) so that the server
  // does not judge it again; any other by the server's rule of its kind
  // (*serverKind = kind). True when the name breaks the rule, with it in *why.
  bool ExplainNameRule(const CString& name, std::uint32_t kind, CNameRuleViolation* why,
                       std::uint32_t* serverKind) const;

  // Where the document's names came from ("NametreeOrigins"); null for a
  // document no import made, or whose stream is damaged (a kMalformed
  // damage then says so).
  const ImportOrigins* Origins() const;
  // Entries whose name or container is gone are dropped at Commit.
  void SetOrigins(ImportOrigins origins);

  // The container a label names (letter case ignored); none when no
  // container of that ID exists any more, or when two containers hold it
  // (a damaged labels stream), whose IDs then go to *twice.
  std::optional<std::uint32_t> FindLabel(std::u16string_view label,
                                         std::pair<std::uint32_t, std::uint32_t>* twice = nullptr) const;
  // The label of a container, or null.
  const CString* LabelOf(std::uint32_t containerID) const;
  // Gives a container a label (an empty one removes it). Refused (kRefused)
  // when the container does not exist, the label breaks the name rule, or
  // another container holds it.
  FileError SetLabel(std::uint32_t containerID, CString label);
  // Whether SetLabel would give the label to the container, without giving
  // it; containerID 0 stands for a container not made yet. When another
  // container holds the label, its ID goes to *holder.
  FileError JudgeLabel(std::uint32_t containerID, std::u16string_view label, std::uint32_t* holder = nullptr) const;
  // Every label whose container exists, by container ID.
  std::vector<std::pair<std::uint32_t, CString>> Labels() const;
  // The first broken invariant of the server and of the document's own
  // tables, or an empty text.
  std::string CheckInvariants() const;

  // Saves the server and the settings into the file and commits it. Labels
  // of containers that no longer exist are dropped. Entries left out under
  // force are named in *leftOut when given.
  bool Commit(FileError* error, std::vector<std::string>* leftOut = nullptr);

 private:
  DocumentFile();
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace nametree
