#include "nametree/cfb_storage.h"

#include "cfb/cfb_file.h"
#include "cfb/cfb_reader.h"
#include "cfb/cfb_writer.h"
#include "nametree/memory_storage.h"
#include "platform/counted.h"

namespace nametree {
namespace cfb {

static bool Report(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return false;
}

namespace {

// The root of an opened file: the in-memory tree, and where it came from.
class FileStorage final : public Counted<IStorage> {
 public:
  FileStorage(ComPtr<IStorage> root, std::string path, bool writable, int majorVersion)
      : Counted(MemoryStorageLedger(root.Get())),
        root_(std::move(root)),
        path_(std::move(path)),
        writable_(writable),
        majorVersion_(majorVersion) {}

  HRESULT QueryInterface(const IID& iid, void** ppv) override { return Answer(iid, IID_IStorage, ppv); }
  HRESULT OpenStream(const CString& name, std::uint32_t mode, IStream** pp) override {
    return root_->OpenStream(name, mode, pp);
  }
  HRESULT CreateStream(const CString& name, std::uint32_t mode, IStream** pp) override {
    return root_->CreateStream(name, mode, pp);
  }
  HRESULT OpenStorage(const CString& name, std::uint32_t mode, IStorage** pp) override {
    return root_->OpenStorage(name, mode, pp);
  }
  HRESULT CreateStorage(const CString& name, std::uint32_t mode, IStorage** pp) override {
    return root_->CreateStorage(name, mode, pp);
  }
  HRESULT EnumElements(std::vector<StorageElement>* out) override { return root_->EnumElements(out); }

  IStorage* Root() const { return root_.Get(); }
  const std::string& Path() const { return path_; }
  bool Writable() const { return writable_; }
  int MajorVersion() const { return majorVersion_; }

 private:
  ComPtr<IStorage> root_;
  std::string path_;
  bool writable_;
  int majorVersion_;
};

}  // namespace

bool OpenCompoundFile(FileLayer& files, const std::string& path, bool writable, ComPtr<IStorage>* out,
                      std::string* error) {
  if (!out) return Report(error, "no place for the storage");
  out->Reset();
  std::vector<std::uint8_t> bytes;
  if (!files.ReadFile(path, &bytes, error)) return false;
  if (writable && !files.CheckWritable(path, error)) return false;
  ComPtr<IStorage> root = CreateMemoryStorage();
  int majorVersion = 3;
  if (!ReadCompoundFile(bytes, root.Get(), &majorVersion, error)) return false;
  *out = ComPtr<IStorage>::Attach(new FileStorage(std::move(root), path, writable, majorVersion));
  return true;
}

bool CreateCompoundFile(FileLayer& files, const std::string& path, int majorVersion,
                        ComPtr<IStorage>* out, std::string* error) {
  if (!out) return Report(error, "no place for the storage");
  out->Reset();
  ComPtr<IStorage> root = CreateMemoryStorage();
  std::vector<std::uint8_t> bytes;
  if (!WriteCompoundFile(root.Get(), majorVersion, &bytes, error) ||
      !ReplaceFile(files, path, bytes, error))
    return false;
  *out = ComPtr<IStorage>::Attach(new FileStorage(std::move(root), path, true, majorVersion));
  return true;
}

bool CommitCompoundFile(FileLayer& files, IStorage* storage, std::string* error) {
  auto* file = dynamic_cast<FileStorage*>(storage);
  if (!file) return Report(error, "the storage was not opened from a compound file");
  if (!file->Writable()) return Report(error, file->Path() + " was opened read-only");
  std::vector<std::uint8_t> bytes;
  return WriteCompoundFile(file->Root(), file->MajorVersion(), &bytes, error) &&
         ReplaceFile(files, file->Path(), bytes, error);
}

}  // namespace cfb

bool OpenCompoundFile(const std::string& path, bool writable, ComPtr<IStorage>* out, std::string* error) {
  return cfb::OpenCompoundFile(cfb::SystemFiles(), path, writable, out, error);
}

bool CreateCompoundFile(const std::string& path, ComPtr<IStorage>* out, std::string* error) {
  return cfb::CreateCompoundFile(cfb::SystemFiles(), path, 3, out, error);
}

bool CreateCompoundFile(const std::string& path, int majorVersion, ComPtr<IStorage>* out,
                        std::string* error) {
  return cfb::CreateCompoundFile(cfb::SystemFiles(), path, majorVersion, out, error);
}

bool CommitCompoundFile(IStorage* storage, std::string* error) {
  return cfb::CommitCompoundFile(cfb::SystemFiles(), storage, error);
}

bool ParseCompoundFile(const std::vector<std::uint8_t>& bytes, ComPtr<IStorage>* out, std::string* error,
                       int* majorVersion) {
  if (!out) return cfb::Report(error, "no place for the storage");
  out->Reset();
  ComPtr<IStorage> root = CreateMemoryStorage();
  if (!cfb::ReadCompoundFile(bytes, root.Get(), majorVersion, error)) return false;
  *out = std::move(root);
  return true;
}

bool SerializeCompoundFile(IStorage* storage, int majorVersion, std::vector<std::uint8_t>* out,
                           std::string* error) {
  return cfb::WriteCompoundFile(storage, majorVersion, out, error);
}

}  // namespace nametree
