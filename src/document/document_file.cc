// The document sequence: open (lock, load, read the settings), edit,
// commit. Its one invariant: the bytes of a "NameServer" entry the file
// layer could not read are never replaced, so damage is reported and never
// turns into an empty document that the next save makes permanent.
#include "document/document_file.h"

#include <new>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "cfb/temp_names.h"
#include "document/label_table.h"
#include "document/settings_streams.h"
#include "nametree/cfb_storage.h"
#include "nametree/kept_text.h"
#include "nametree/memory_storage.h"
#include "nametree/refusal_text.h"
#include "nametree/utf8.h"
#include "platform/text.h"

namespace nametree {

namespace {

constexpr char16_t kServerStream[] = u"NameServer";
constexpr char kServerPrefix[] = "NameServer: ";

FileError Error(FileErrorKind kind, std::string message) { return {kind, std::move(message)}; }

}  // namespace

FileErrorKind FileErrorKindOf(CompoundFileFailure failure, bool writing) {
  switch (failure) {
    case CompoundFileFailure::kNone: return FileErrorKind::kNone;
    case CompoundFileFailure::kNotFound: return FileErrorKind::kNotFound;
    case CompoundFileFailure::kDenied: return FileErrorKind::kReadOnly;
    case CompoundFileFailure::kBusy: return FileErrorKind::kLocked;
    // mutate: created-file-in-the-way-kind-lost
    case CompoundFileFailure::kRefused: return FileErrorKind::kRefused;
    case CompoundFileFailure::kCorrupt: return writing ? FileErrorKind::kDamaged : FileErrorKind::kNotADocument;
    case CompoundFileFailure::kNotRegular:
    case CompoundFileFailure::kInvalid: return FileErrorKind::kNotADocument;
    case CompoundFileFailure::kIo: return FileErrorKind::kIo;
    case CompoundFileFailure::kOutOfMemory: return FileErrorKind::kOutOfMemory;
  }
  return FileErrorKind::kIo;
}

namespace {

// The reason the file layer gave for "NameServer", or empty when it read it.
std::string ServerDamage(IStorage* storage) {
  for (const std::string& w : CompoundFileWarnings(storage))
    if (w.rfind(kServerPrefix, 0) == 0) return w.substr(sizeof kServerPrefix - 1);
  return {};
}

bool HasStream(IStorage* storage, const CString& name) {
  std::vector<StorageElement> elements;
  if (Failed(storage->EnumElements(&elements))) return false;
  for (const StorageElement& e : elements)
    if (!e.isStorage && e.name == name) return true;
  return false;
}

// The whole stream, or nullopt when it cannot be read.
std::optional<document::Bytes> ReadStream(IStorage* storage, const CString& name) {
  ComPtr<IStream> stream;
  if (Failed(storage->OpenStream(name, kOpenMode, stream.Put())) || !stream) return std::nullopt;
  document::Bytes bytes;
  std::uint8_t chunk[4096];
  for (;;) {
    std::uint32_t got = 0;
    const HRESULT hr = stream->Read(chunk, sizeof chunk, &got);
    if (Failed(hr)) return std::nullopt;
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (hr != S_OK || got < sizeof chunk) return bytes;
  }
}

bool WriteStream(IStorage* storage, const CString& name, const document::Bytes& bytes) {
  ComPtr<IStream> stream;
  if (Failed(storage->CreateStream(name, kCreateMode, stream.Put())) || !stream) return false;
  std::uint32_t written = 0;
  return !Failed(stream->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written)) &&
         written == bytes.size();
}

}  // namespace

struct DocumentFile::State {
  std::filesystem::path path;
  DocumentFileOptions options;
  bool onFile = false;
  ComPtr<IStorage> storage;
  CNotificationManager notifications;
  CNameServer server;
  std::vector<CString> keywords;
  std::unordered_set<CString> keywordKeys;  // the upper-cased keywords, kept with SetStoredKeywords and KeepKeyword
  document::LabelTable labels;
  bool hadKeywordStream = false, hadLabelStream = false, hadProfileStream = false, hadOriginStream = false;
  std::optional<ImportOrigins> origins;
  NameProfile profile = NameProfile::kClassic;
  bool recoveredServer = false;  // loaded under force from what a damaged entry still held
  std::optional<StreamDamage> streamDamage;  // "NameServer" loaded but did not read back whole
  std::vector<std::string> malformed;  // settings streams that did not decode

  CompoundFileOptions FileOptions() const {
    CompoundFileOptions file;
    file.lockWaitMilliseconds = options.lockWaitMilliseconds;
    file.force = options.force;
    // mutate: plcopen-overwrites-document
    file.exclusive = options.create;
    return file;
  }

  // A new compound file at `path` for this document; nothing is on disk
  // until Commit.
  FileError CreateFile() {
    std::error_code ec;
    // mutate: plcopen-overwrites-document
    if (std::filesystem::exists(path, ec) || ec)
      return ec ? Error(FileErrorKind::kIo, "cannot check the file: " + ec.message())
                : Error(FileErrorKind::kRefused, "already exists; it is not replaced");
    CompoundFileError failure;
    ComPtr<IStorage> file;
    if (!CreateCompoundFile(path.string(), 3, FileOptions(), &file, &failure))
      return Error(FileErrorKindOf(failure.kind, false), "cannot create: " + failure.message);
    storage = std::move(file);
    onFile = true;
    return {};
  }

  FileError Load() {
    IStorage* s = storage.Get();
    switch (CompoundFileEntryState(s, ToUtf8(kServerStream))) {
      case CompoundEntryState::kAbsent:
        return Error(FileErrorKind::kNotADocument,
                     "holds no \"NameServer\" stream; a document of the earlier format is read "
                     "with 'nametree import-legacy'");
      case CompoundEntryState::kReadable:
        if (server.Load(s) != S_OK)
          return Error(FileErrorKind::kDamaged, "the \"NameServer\" stream is damaged and cannot be read");
        if (auto bytes = ReadStream(s, kServerStream)) streamDamage = CheckServerStream(*bytes, server);
        break;
      case CompoundEntryState::kDamaged:
        // Force keeps what the file layer recovered, but only when all of it
        // loads: a stream that cannot be opened would load as an empty tree.
        // mutate: document-damage-unseen
        if (!options.force || !HasStream(s, kServerStream) || server.Load(s) != S_OK)
          return Error(FileErrorKind::kDamaged, "the \"NameServer\" stream is damaged and cannot be read (" +
                                                    ServerDamage(s) + "); nothing is changed" +
                                                    (options.force ? "" : " (--force saves what can be recovered)"));
        recoveredServer = true;
        if (auto bytes = ReadStream(s, kServerStream)) streamDamage = CheckServerStream(*bytes, server);
        break;
    }
    if (HasStream(s, document::kKeywordStream)) {
      hadKeywordStream = true;
      auto bytes = ReadStream(s, document::kKeywordStream);
      auto decoded = bytes ? document::DecodeKeywords(*bytes) : std::nullopt;
      if (decoded) keywords = std::move(*decoded);
      else if (bytes) malformed.push_back(ToUtf8(document::kKeywordStream) + ": its contents are malformed");
    }
    if (HasStream(s, document::kLabelStream)) {
      hadLabelStream = true;
      auto bytes = ReadStream(s, document::kLabelStream);
      auto decoded = bytes ? document::DecodeLabels(*bytes) : std::nullopt;
      if (decoded) labels.Assign(std::move(*decoded));
      else if (bytes) malformed.push_back(ToUtf8(document::kLabelStream) + ": its contents are malformed");
    }
    if (HasStream(s, document::kProfileStream)) {
      hadProfileStream = true;
      auto bytes = ReadStream(s, document::kProfileStream);
      auto decoded = bytes ? document::DecodeProfile(*bytes) : std::nullopt;
      // mutate: document-profile-forgotten
      if (decoded) profile = *decoded;
      else if (bytes) malformed.push_back(ToUtf8(document::kProfileStream) + ": its contents are malformed");
    }
    if (HasStream(s, document::kOriginStream)) {
      hadOriginStream = true;
      auto bytes = ReadStream(s, document::kOriginStream);
      origins = bytes ? document::DecodeOrigins(*bytes) : std::nullopt;
      if (!origins && bytes) malformed.push_back(ToUtf8(document::kOriginStream) + ": its contents are malformed");
    }
    // mutate: document-keywords-not-reserved
    for (const CString& k : keywords) {
      server.AddKeyword(k);
      CString key = k;
      MakeUpper(key);
      keywordKeys.insert(std::move(key));
    }
    return {};
  }

  FileError Commit(std::vector<std::string>* leftOut) {
    if (!onFile) return Error(FileErrorKind::kUsage, "the document is on no file");
    if (options.readOnly) return Error(FileErrorKind::kUsage, "the document was opened read-only");
    IStorage* s = storage.Get();
    if (!recoveredServer && CompoundFileEntryState(s, ToUtf8(kServerStream)) == CompoundEntryState::kDamaged)
      return Error(FileErrorKind::kDamaged, "the \"NameServer\" stream is damaged and cannot be read (" +
                                                ServerDamage(s) + "); it is not replaced");
    // mutate: commit-ignores-stream-damage
    if (streamDamage && !options.force)
      return Error(FileErrorKind::kDamaged, "the \"NameServer\" stream did not read back whole (" +
                                                std::string(StreamCheckName(streamDamage->check)) + ": " +
                                                streamDamage->message +
                                                "); saving would lose what was not read (--force saves what was)");
    if (!malformed.empty() && !options.force)
      return Error(FileErrorKind::kDamaged, "cannot write: " + malformed.front() + " (--force replaces it)");
    {
      // The library's Save writes over an existing stream from its start;
      // an empty stream leaves nothing of the old one behind.
      ComPtr<IStream> fresh;
      // mutate: document-stream-not-fresh
      if (Failed(s->CreateStream(kServerStream, kCreateMode, fresh.Put())))
        return Error(FileErrorKind::kIo, "cannot save the name server: cannot replace its stream");
    }
    if (HRESULT hr = server.Save(s); hr != S_OK)
      return Error(FileErrorKind::kIo, "cannot save the name server: " + StatusName(hr));
    // mutate: document-labels-outlive-containers
    labels.EraseUnless([&](std::uint32_t id) { return server.GetContainer(id) != nullptr; });
    if ((hadKeywordStream || !keywords.empty()) && !WriteStream(s, document::kKeywordStream, document::EncodeKeywords(keywords)))
      return Error(FileErrorKind::kIo, "cannot write the keywords");
    if ((hadLabelStream || !labels.ById().empty()) &&
        !WriteStream(s, document::kLabelStream, document::EncodeLabels(labels.ById())))
      return Error(FileErrorKind::kIo, "cannot write the labels");
    if (origins) {
      // What an edit deleted no longer locates anything; IDs are never reused.
      std::erase_if(origins->entries, [&](const ElementOrigin& e) {
        return e.container ? !server.GetContainer(e.id) : !server.FindContainerOfName(e.id);
      });
    }
    // mutate: document-origins-unsaved
    if ((hadOriginStream || origins) &&
        !WriteStream(s, document::kOriginStream, document::EncodeOrigins(origins ? *origins : ImportOrigins{})))
      return Error(FileErrorKind::kIo, "cannot write the origins of the imported names");
    const bool writeProfile = hadProfileStream || profile != NameProfile::kClassic;
    if (writeProfile && !WriteStream(s, document::kProfileStream, document::EncodeProfile(profile)))
      return Error(FileErrorKind::kIo, "cannot write the name profile");
    CompoundFileError failure;
    std::vector<std::string> left;
    if (!CommitCompoundFile(s, FileOptions(), &left, &failure))
      return Error(FileErrorKindOf(failure.kind, true), "cannot write: " + failure.message);
    hadKeywordStream = hadKeywordStream || !keywords.empty();
    hadLabelStream = hadLabelStream || !labels.ById().empty();
    hadProfileStream = writeProfile;
    hadOriginStream = hadOriginStream || origins;
    malformed.clear();
    if (leftOut) *leftOut = std::move(left);
    return {};
  }
};

DocumentFileLayout DescribeDocumentFile(const std::string& path) {
  return {kServerStream, document::kKeywordStream, document::kLabelStream, cfb::TempNamePattern(path)};
}

DocumentFile::DocumentFile() : state_(std::make_unique<State>()) {
  state_->server.Initialize(&state_->notifications);
}

DocumentFile::~DocumentFile() = default;

std::unique_ptr<DocumentFile> DocumentFile::Open(const std::filesystem::path& path,
                                                 const DocumentFileOptions& options, FileError* error) {
  FileError failure;
  try {
    std::unique_ptr<DocumentFile> doc(new DocumentFile());
    State& st = *doc->state_;
    st.path = path;
    st.options = options;
    st.onFile = true;
    CompoundFileError refused;
    if (options.create) {
      if (failure = st.CreateFile(); !failure) return doc;
    } else if (!OpenCompoundFile(path.string(), !options.readOnly, st.FileOptions(), &st.storage, &refused)) {
      failure = Error(FileErrorKindOf(refused.kind, false), "cannot open: " + refused.message);
    } else if (failure = st.Load(); !failure) {
      return doc;
    }
  } catch (const std::bad_alloc&) {
    failure = Error(FileErrorKind::kOutOfMemory, "cannot open: out of memory");
  }
  if (error) *error = std::move(failure);
  return nullptr;
}

FileError DocumentFile::CreateFile(const std::filesystem::path& path, const DocumentFileOptions& options) {
  State& st = *state_;
  if (st.onFile) return Error(FileErrorKind::kUsage, "the document is on a file already");
  try {
    st.path = path;
    st.options = options;
    st.options.create = true;
    st.options.readOnly = false;
    return st.CreateFile();
  } catch (const std::bad_alloc&) {
    return Error(FileErrorKind::kOutOfMemory, "cannot create: out of memory");
  }
}

std::unique_ptr<DocumentFile> DocumentFile::InMemory() {
  std::unique_ptr<DocumentFile> doc(new DocumentFile());
  doc->state_->storage = CreateMemoryStorage();
  return doc;
}

std::vector<DocumentDamage> DocumentFile::Damage() const {
  const State& st = *state_;
  std::vector<DocumentDamage> out;
  if (st.onFile)
    for (std::string& w : CompoundFileWarnings(st.storage.Get()))
      out.push_back({DamageKind::kUnreadable, {}, 0, "cannot read " + std::move(w)});
  if (st.streamDamage)
    out.push_back({DamageKind::kStream, st.streamDamage->check, 0,
                   "the \"NameServer\" stream did not read back whole: " + st.streamDamage->message});
  for (const std::string& m : st.malformed) out.push_back({DamageKind::kMalformed, {}, 0, m});
  // Labels judged as SetLabel judges them, so that a damaged stream cannot
  // hold what the program would never have written.
  std::unordered_map<CString, std::uint32_t> seen;
  for (const auto& [id, text] : st.labels.ById()) {
    const std::string quoted = "label " + QuotedName(text) + " of container " + std::to_string(id);
    // mutate: damage-skips-missing-container
    if (!st.server.GetContainer(id)) {
      out.push_back({DamageKind::kLabelMissing, {}, id, quoted + ": the document holds no such container"});
      continue;
    }
    if (!st.server.IsValidName(text, kOrdinaryName)) {
      out.push_back({DamageKind::kLabelInvalid, {}, id, quoted + ": a label follows the name rule"});
      continue;
    }
    CString key = text;
    MakeUpper(key);
    // mutate: damage-skips-label-twice
    if (auto [it, fresh] = seen.emplace(std::move(key), id); !fresh)
      out.push_back({DamageKind::kLabelTwice, {}, id,
                     quoted + ": container " + std::to_string(it->second) + " has that label too"});
  }
  return out;
}

std::string_view DocumentDamageName(const DocumentDamage& damage) {
  switch (damage.kind) {
    case DamageKind::kUnreadable: return "unreadable";
    case DamageKind::kStream: return StreamCheckName(damage.check);
    case DamageKind::kMalformed: return "malformed";
    case DamageKind::kLabelTwice: return "label-twice";
    case DamageKind::kLabelInvalid: return "label-invalid";
    case DamageKind::kLabelMissing: return "label-missing";
  }
  return "unreadable";
}

CNameServer& DocumentFile::Server() { return state_->server; }
CNotificationManager& DocumentFile::Notifications() { return state_->notifications; }
const std::filesystem::path& DocumentFile::Path() const { return state_->path; }

std::vector<std::string> DocumentFile::Warnings() const {
  std::vector<std::string> all = state_->onFile ? CompoundFileWarnings(state_->storage.Get())
                                                : std::vector<std::string>{};
  all.insert(all.end(), state_->malformed.begin(), state_->malformed.end());
  return all;
}

const std::vector<CString>& DocumentFile::StoredKeywords() const { return state_->keywords; }

NameProfile DocumentFile::StoredProfile() const { return state_->profile; }

void DocumentFile::SetStoredProfile(NameProfile profile) { state_->profile = profile; }

bool DocumentFile::ExplainNameRule(const CString& name, std::uint32_t kind, CNameRuleViolation* why,
                                   std::uint32_t* serverKind) const {
  // mutate: document-profile-unused-by-add
  const NameProfile profile = kind == kOrdinaryName ? state_->profile : NameProfile::kClassic;
  *serverKind = profile == NameProfile::kClassic ? kind : NameKindOf(profile);
  if (profile == NameProfile::kClassic) return state_->server.ExplainInvalidName(name, kind, why);
  return ExplainProfileViolation(state_->server, profile, name, why);
}

const ImportOrigins* DocumentFile::Origins() const { return state_->origins ? &*state_->origins : nullptr; }

void DocumentFile::SetOrigins(ImportOrigins origins) { state_->origins = std::move(origins); }

void DocumentFile::SetStoredKeywords(std::vector<CString> keywords) {
  state_->keywordKeys.clear();
  for (const CString& k : keywords) {
    state_->server.AddKeyword(k);
    CString key = k;
    MakeUpper(key);
    state_->keywordKeys.insert(std::move(key));
  }
  state_->keywords = std::move(keywords);
}

FileError DocumentFile::KeepKeyword(const CString& word, bool* added) {
  if (added) *added = false;
  if (word.empty()) return Error(FileErrorKind::kRefused, "an empty keyword cannot be kept");
  if (const KeptTextVerdict kept = JudgeKeptText(word, kMaxNameLength); !kept)
    return Error(FileErrorKind::kRefused,
                 "the keyword " + QuotedName(word) + " cannot be kept: " + DescribeKeptTextRefusal(word, kept, kMaxNameLength));
  CString key = word;
  MakeUpper(key);
  state_->server.AddKeyword(word);
  if (!state_->keywordKeys.insert(std::move(key)).second) return {};
  state_->keywords.push_back(word);
  if (added) *added = true;
  return {};
}

std::optional<std::uint32_t> DocumentFile::FindLabel(std::u16string_view label,
                                                     std::pair<std::uint32_t, std::uint32_t>* twice) const {
  std::optional<std::uint32_t> found;
  for (std::uint32_t id : state_->labels.Holders(label)) {
    if (!state_->server.GetContainer(id)) continue;
    // mutate: find-label-takes-first-of-two
    if (found) {
      if (twice) *twice = {*found, id};
      return std::nullopt;
    }
    found = id;
  }
  return found;
}

const CString* DocumentFile::LabelOf(std::uint32_t containerID) const {
  return state_->labels.Find(containerID);
}

FileError DocumentFile::SetLabel(std::uint32_t containerID, CString label) {
  if (containerID == 0 || !state_->server.GetContainer(containerID))
    return Error(FileErrorKind::kRefused, "no container has ID " + std::to_string(containerID));
  if (label.empty()) {
    state_->labels.Erase(containerID);
    return {};
  }
  if (FileError refused = JudgeLabel(containerID, label)) return refused;
  state_->labels.Set(containerID, std::move(label));
  return {};
}

FileError DocumentFile::JudgeLabel(std::uint32_t containerID, std::u16string_view label, std::uint32_t* holder) const {
  if (!state_->server.IsValidName(CString(label), kOrdinaryName))
    return Error(FileErrorKind::kRefused, "a label follows the name rule: a letter, then letters, digits and underscores");
  std::pair<std::uint32_t, std::uint32_t> twice{0, 0};
  std::optional<std::uint32_t> other = FindLabel(label, &twice);
  if (!other && twice.first) other = twice.first != containerID ? twice.first : twice.second;
  if (other && *other != containerID) {
    // mutate: label-holder-unnamed
    if (holder) *holder = *other;
    return Error(FileErrorKind::kRefused, "container " + std::to_string(*other) + " has that label");
  }
  return {};
}

std::string DocumentFile::CheckInvariants() const {
  if (std::string fault = state_->server.CheckInvariants(); !fault.empty()) return fault;
  return state_->labels.CheckInvariants();
}

std::vector<std::pair<std::uint32_t, CString>> DocumentFile::Labels() const {
  std::vector<std::pair<std::uint32_t, CString>> out;
  for (const auto& [id, text] : state_->labels.ById())
    // mutate: labels-list-deleted
    if (state_->server.GetContainer(id)) out.emplace_back(id, text);
  return out;
}

bool DocumentFile::Commit(FileError* error, std::vector<std::string>* leftOut) {
  FileError failure;
  try {
    failure = state_->Commit(leftOut);
  } catch (const std::bad_alloc&) {
    failure = Error(FileErrorKind::kOutOfMemory, "cannot write: out of memory");
  }
  if (error) *error = failure;
  return !failure;
}

}  // namespace nametree
