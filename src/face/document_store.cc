#include "face/document_store.h"

#include <algorithm>
#include <system_error>

#include "nametree/cfb_storage.h"
#include "nametree/notification.h"

namespace nametree {

namespace {

constexpr char16_t kServerStream[] = u"NameServer";

bool HasStream(IStorage* storage, const CString& name) {
  std::vector<StorageElement> elements;
  if (Failed(storage->EnumElements(&elements))) return false;
  return std::any_of(elements.begin(), elements.end(),
                     [&](const StorageElement& e) { return !e.isStorage && e.name == name; });
}

class MemoryStore final : public DocumentStore {
 public:
  MemoryStore() { server_.Initialize(&notifications_); }
  CNameServer& Server() override { return server_; }
  bool IsReadOnly() const override { return false; }
  std::vector<std::string> Warnings() const override { return {}; }
  std::vector<CString> Keywords() const override { return {}; }
  Result<void> Commit() override {
    server_.SetDirty(false);
    return {};
  }

 private:
  CNotificationManager notifications_;
  CNameServer server_;
};

class FileStore final : public DocumentStore {
 public:
  FileStore(std::string path, const OpenOptions& options) : path_(std::move(path)), options_(options) {
    server_.Initialize(&notifications_);
  }

  CNameServer& Server() override { return server_; }
  bool IsReadOnly() const override { return options_.readOnly; }
  std::vector<std::string> Warnings() const override { return CompoundFileWarnings(storage_.Get()); }
  std::vector<CString> Keywords() const override { return {}; }

  bool Open(Error* error) {
    std::string why;
    const CompoundFileOptions file = FileOptions();
    std::error_code ec;
    const bool exists = std::filesystem::exists(path_, ec);
    if (options_.create) {
      if (exists || ec) {
        *error = Error(ErrorKind::kExists, STG_E_FILEALREADYEXISTS, path_ + ": already exists; it is not replaced");
        return false;
      }
      CompoundFileOptions create = file;
      create.exclusive = true;
      if (!CreateCompoundFile(path_, 3, create, &storage_, &why)) {
        *error = Error(ErrorKind::kIo, STG_E_WRITEFAULT, path_ + ": cannot create: " + why);
        return false;
      }
      return true;
    }
    if (!exists) {
      *error = Error(ErrorKind::kNotFound, STG_E_FILENOTFOUND, path_ + ": no such file");
      return false;
    }
    if (!OpenCompoundFile(path_, !options_.readOnly, file, &storage_, &why)) {
      const bool locked = why.find("being changed by another program") != std::string::npos;
      *error = Error(locked ? ErrorKind::kLocked : ErrorKind::kIo, locked ? STG_E_ACCESSDENIED : STG_E_READFAULT,
                     path_ + ": cannot open: " + why);
      return false;
    }
    if (!HasStream(storage_.Get(), kServerStream)) {
      *error = Error(ErrorKind::kNotADocument, STG_E_DOCFILECORRUPT,
                     path_ + ": holds no \"NameServer\" stream; it is no document of this format");
      return false;
    }
    if (server_.Load(storage_.Get()) != S_OK) {
      *error = Error(ErrorKind::kDamaged, STG_E_DOCFILECORRUPT,
                     path_ + ": the \"NameServer\" stream is damaged and cannot be read");
      return false;
    }
    return true;
  }

  Result<void> Commit() override {
    if (options_.readOnly)
      return Error(ErrorKind::kReadOnly, STG_E_ACCESSDENIED, path_ + ": opened read-only; it cannot be committed");
    if (HRESULT hr = server_.Save(storage_.Get()); hr != S_OK)
      return Error(ErrorKind::kIo, hr, path_ + ": cannot save the name server");
    std::string why;
    std::vector<std::string> leftOut;
    if (!CommitCompoundFile(storage_.Get(), FileOptions(), &leftOut, &why))
      return Error(ErrorKind::kIo, STG_E_WRITEFAULT, path_ + ": cannot write: " + why);
    return {};
  }

 private:
  CompoundFileOptions FileOptions() const {
    CompoundFileOptions file;
    file.lockWaitMilliseconds = static_cast<int>(options_.wait.count());
    file.force = options_.force;
    return file;
  }

  std::string path_;
  OpenOptions options_;
  ComPtr<IStorage> storage_;
  CNotificationManager notifications_;
  CNameServer server_;
};

}  // namespace

std::unique_ptr<DocumentStore> DocumentStore::Open(const std::filesystem::path& path, const OpenOptions& options,
                                                   Error* error) {
  const std::uint32_t before = CNameContainer::GetLastIssuedNameID();
  auto store = std::make_unique<FileStore>(path.string(), options);
  if (!store->Open(error)) return nullptr;
  CNameContainer::SetLastIssuedNameID(
      std::max({before, CNameContainer::GetLastIssuedNameID(), store->Server().GetHighestID()}));
  return store;
}

std::unique_ptr<DocumentStore> DocumentStore::InMemory() { return std::make_unique<MemoryStore>(); }

}  // namespace nametree
