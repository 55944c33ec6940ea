// The document sequence: open (lock, load, read the settings), edit,
// commit. Its one invariant: the bytes of a "NameServer" entry the file
// layer could not read are never replaced, so damage is reported and never
// turns into an empty document that the next save makes permanent.
#include "nametree/document_file.h"

#include <new>
#include <system_error>

#include "document/settings_streams.h"
#include "nametree/cfb_storage.h"
#include "nametree/memory_storage.h"
#include "nametree/utf8.h"
#include "platform/text.h"

namespace nametree {

namespace {

constexpr char16_t kServerStream[] = u"NameServer";
constexpr char kServerPrefix[] = "NameServer: ";

FileError Error(FileErrorKind kind, std::string message) { return {kind, std::move(message)}; }

// The file layer's verdict in this document's terms. Damage met while
// writing is the document's; met while opening, the file is no document.
FileErrorKind KindOf(CompoundFileFailure failure, bool writing) {
  switch (failure) {
    case CompoundFileFailure::kNone: return FileErrorKind::kNone;
    case CompoundFileFailure::kNotFound: return FileErrorKind::kNotFound;
    case CompoundFileFailure::kDenied: return FileErrorKind::kReadOnly;
    case CompoundFileFailure::kBusy: return FileErrorKind::kLocked;
    case CompoundFileFailure::kRefused: return FileErrorKind::kRefused;
    case CompoundFileFailure::kCorrupt: return writing ? FileErrorKind::kDamaged : FileErrorKind::kNotADocument;
    case CompoundFileFailure::kNotRegular:
    case CompoundFileFailure::kInvalid: return FileErrorKind::kNotADocument;
    case CompoundFileFailure::kIo: return FileErrorKind::kIo;
    case CompoundFileFailure::kOutOfMemory: return FileErrorKind::kOutOfMemory;
  }
  return FileErrorKind::kIo;
}

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
  document::LabelMap labels;
  bool hadKeywordStream = false, hadLabelStream = false;
  bool recoveredServer = false;  // loaded under force from what a damaged entry still held
  std::vector<std::string> malformed;  // settings streams that did not decode

  CompoundFileOptions FileOptions() const {
    CompoundFileOptions file;
    file.lockWaitMilliseconds = options.lockWaitMilliseconds;
    file.force = options.force;
    file.exclusive = options.create;
    return file;
  }

  // A new compound file at `path` for this document; nothing is on disk
  // until Commit.
  FileError CreateFile() {
    std::error_code ec;
    if (std::filesystem::exists(path, ec) || ec)
      return ec ? Error(FileErrorKind::kIo, "cannot check the file: " + ec.message())
                : Error(FileErrorKind::kRefused, "already exists; it is not replaced");
    CompoundFileError failure;
    ComPtr<IStorage> file;
    if (!CreateCompoundFile(path.string(), 3, FileOptions(), &file, &failure))
      return Error(KindOf(failure.kind, false), "cannot create: " + failure.message);
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
        break;
      case CompoundEntryState::kDamaged:
        // Force keeps what the file layer recovered, but only when all of it
        // loads: a stream that cannot be opened would load as an empty tree.
        if (!options.force || !HasStream(s, kServerStream) || server.Load(s) != S_OK)
          return Error(FileErrorKind::kDamaged, "the \"NameServer\" stream is damaged and cannot be read (" +
                                                    ServerDamage(s) + "); nothing is changed" +
                                                    (options.force ? "" : " (--force saves what can be recovered)"));
        recoveredServer = true;
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
      if (decoded) labels = std::move(*decoded);
      else if (bytes) malformed.push_back(ToUtf8(document::kLabelStream) + ": its contents are malformed");
    }
    for (const CString& k : keywords) server.AddKeyword(k);
    return {};
  }

  FileError Commit(std::vector<std::string>* leftOut) {
    if (!onFile) return Error(FileErrorKind::kUsage, "the document is on no file");
    if (options.readOnly) return Error(FileErrorKind::kUsage, "the document was opened read-only");
    IStorage* s = storage.Get();
    if (!recoveredServer && CompoundFileEntryState(s, ToUtf8(kServerStream)) == CompoundEntryState::kDamaged)
      return Error(FileErrorKind::kDamaged, "the \"NameServer\" stream is damaged and cannot be read (" +
                                                ServerDamage(s) + "); it is not replaced");
    if (!malformed.empty() && !options.force)
      return Error(FileErrorKind::kDamaged, "cannot write: " + malformed.front() + " (--force replaces it)");
    {
      // The library's Save writes over an existing stream from its start;
      // an empty stream leaves nothing of the old one behind.
      ComPtr<IStream> fresh;
      if (Failed(s->CreateStream(kServerStream, kCreateMode, fresh.Put())))
        return Error(FileErrorKind::kIo, "cannot save the name server: cannot replace its stream");
    }
    if (HRESULT hr = server.Save(s); hr != S_OK)
      return Error(FileErrorKind::kIo, "cannot save the name server: " + StatusName(hr));
    for (auto it = labels.begin(); it != labels.end();)
      it = server.GetContainer(it->first) ? std::next(it) : labels.erase(it);
    if ((hadKeywordStream || !keywords.empty()) && !WriteStream(s, document::kKeywordStream, document::EncodeKeywords(keywords)))
      return Error(FileErrorKind::kIo, "cannot write the keywords");
    if ((hadLabelStream || !labels.empty()) && !WriteStream(s, document::kLabelStream, document::EncodeLabels(labels)))
      return Error(FileErrorKind::kIo, "cannot write the labels");
    CompoundFileError failure;
    std::vector<std::string> left;
    if (!CommitCompoundFile(s, FileOptions(), &left, &failure))
      return Error(KindOf(failure.kind, true), "cannot write: " + failure.message);
    hadKeywordStream = hadKeywordStream || !keywords.empty();
    hadLabelStream = hadLabelStream || !labels.empty();
    malformed.clear();
    if (leftOut) *leftOut = std::move(left);
    return {};
  }
};

std::string_view FileErrorKindName(FileErrorKind kind) {
  switch (kind) {
    case FileErrorKind::kNone: return "none";
    case FileErrorKind::kUsage: return "usage";
    case FileErrorKind::kNotFound: return "not-found";
    case FileErrorKind::kReadOnly: return "read-only";
    case FileErrorKind::kNotADocument: return "not-a-document";
    case FileErrorKind::kDamaged: return "damaged";
    case FileErrorKind::kLocked: return "locked";
    case FileErrorKind::kRefused: return "refused";
    case FileErrorKind::kIo: return "io";
    case FileErrorKind::kOutOfMemory: return "out-of-memory";
  }
  return "none";
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
      failure = Error(KindOf(refused.kind, false), "cannot open: " + refused.message);
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

void DocumentFile::SetStoredKeywords(std::vector<CString> keywords) {
  for (const CString& k : keywords) state_->server.AddKeyword(k);
  state_->keywords = std::move(keywords);
}

std::optional<std::uint32_t> DocumentFile::FindLabel(std::u16string_view label) const {
  const CString wanted(label);
  for (const auto& [id, text] : state_->labels)
    if (CompareNoCase(text, wanted) == 0 && state_->server.GetContainer(id)) return id;
  return std::nullopt;
}

const CString* DocumentFile::LabelOf(std::uint32_t containerID) const {
  auto it = state_->labels.find(containerID);
  return it == state_->labels.end() ? nullptr : &it->second;
}

FileError DocumentFile::SetLabel(std::uint32_t containerID, CString label) {
  if (containerID == 0 || !state_->server.GetContainer(containerID))
    return Error(FileErrorKind::kRefused, "no container has ID " + std::to_string(containerID));
  if (label.empty()) {
    state_->labels.erase(containerID);
    return {};
  }
  if (FileError refused = JudgeLabel(containerID, label)) return refused;
  state_->labels[containerID] = std::move(label);
  return {};
}

FileError DocumentFile::JudgeLabel(std::uint32_t containerID, std::u16string_view label, std::uint32_t* holder) const {
  if (!state_->server.IsValidName(CString(label), kOrdinaryName))
    return Error(FileErrorKind::kRefused, "a label follows the name rule: a letter, then letters, digits and underscores");
  if (auto other = FindLabel(label); other && *other != containerID) {
    if (holder) *holder = *other;
    return Error(FileErrorKind::kRefused, "container " + std::to_string(*other) + " has that label");
  }
  return {};
}

std::vector<std::pair<std::uint32_t, CString>> DocumentFile::Labels() const {
  std::vector<std::pair<std::uint32_t, CString>> out;
  for (const auto& [id, text] : state_->labels)
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
