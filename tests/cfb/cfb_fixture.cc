#include "cfb_fixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "nametree/cfb_storage.h"
#include "nametree/memory_storage.h"
#include "nametree/utf8.h"

namespace nametree::test {

namespace {

void SnapshotInto(IStorage* storage, const std::string& prefix, Tree* out) {
  std::vector<StorageElement> elements;
  ASSERT_EQ(storage->EnumElements(&elements), S_OK);
  for (const StorageElement& e : elements) {
    const std::string path = prefix + ToUtf8(e.name);
    if (e.isStorage) {
      (*out)[path] = std::nullopt;
      ComPtr<IStorage> child;
      ASSERT_EQ(storage->OpenStorage(e.name, kOpenMode, child.Put()), S_OK);
      SnapshotInto(child.Get(), path + "/", out);
    } else {
      ComPtr<IStream> s;
      ASSERT_EQ(storage->OpenStream(e.name, kOpenMode, s.Put()), S_OK);
      Bytes data(e.size);
      std::uint32_t got = 0;
      if (!data.empty()) s->Read(data.data(), static_cast<std::uint32_t>(data.size()), &got);
      EXPECT_EQ(got, e.size) << path;
      (*out)[path] = std::move(data);
    }
  }
}

ComPtr<IStorage> StorageAt(IStorage* root, const std::string& path) {
  ComPtr<IStorage> at(root);
  std::size_t from = 0;
  for (std::size_t slash; (slash = path.find('/', from)) != std::string::npos; from = slash + 1) {
    ComPtr<IStorage> next;
    EXPECT_EQ(at->OpenStorage(FromUtf8(path.substr(from, slash - from)), kOpenMode, next.Put()), S_OK)
        << path;
    at = next;
  }
  return at;
}

std::string LeafOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

Tree Snapshot(IStorage* storage) {
  Tree tree;
  SnapshotInto(storage, "", &tree);
  return tree;
}

void Build(IStorage* storage, const Tree& tree) {
  for (const auto& [path, data] : tree) {
    ComPtr<IStorage> parent = StorageAt(storage, path);
    const CString leaf = FromUtf8(LeafOf(path));
    if (!data) {
      ComPtr<IStorage> child;
      ASSERT_EQ(parent->CreateStorage(leaf, kCreateMode, child.Put()), S_OK) << path;
      continue;
    }
    ComPtr<IStream> s;
    ASSERT_EQ(parent->CreateStream(leaf, kCreateMode, s.Put()), S_OK) << path;
    if (!data->empty()) {
      ASSERT_EQ(s->Write(data->data(), static_cast<std::uint32_t>(data->size()), nullptr), S_OK);
    }
  }
}

Bytes Pattern(std::size_t size, std::uint32_t seed) {
  Bytes b(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& v : b) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    v = static_cast<std::uint8_t>(x);
  }
  return b;
}

Bytes SerializeOrDie(IStorage* storage, int majorVersion) {
  Bytes out;
  std::string error;
  EXPECT_TRUE(SerializeCompoundFile(storage, majorVersion, &out, &error)) << error;
  return out;
}

Bytes Serialize(const Tree& tree, int majorVersion) {
  ComPtr<IStorage> root = CreateMemoryStorage();
  Build(root.Get(), tree);
  return SerializeOrDie(root.Get(), majorVersion);
}

Tree Parse(const Bytes& file) {
  ComPtr<IStorage> root;
  std::string error;
  EXPECT_TRUE(ParseCompoundFile(file, &root, &error)) << error;
  return root ? Snapshot(root.Get()) : Tree{};
}

Surgeon::Surgeon(Bytes bytes) : file(std::move(bytes)) {
  std::string error;
  EXPECT_TRUE(cfb::ReadDirectory(file, &dir, &error)) << error;
  sectorSize = 1u << file[30];
}

std::size_t Surgeon::FatOffset(std::uint32_t index) const {
  const std::uint32_t perSector = sectorSize / 4;
  return SectorOffset(cfb::Get32(&file[76 + 4 * (index / perSector)])) + 4 * (index % perSector);
}

std::size_t Surgeon::MiniFatOffset(std::uint32_t index) const {
  return SectorOffset(cfb::Get32(&file[60])) + 4 * index;
}

std::size_t Surgeon::EntryOffset(std::uint32_t id) const {
  std::uint32_t sector = cfb::Get32(&file[48]);
  for (std::uint32_t skip = id / (sectorSize / 128); skip > 0; --skip) sector = cfb::Get32(&file[FatOffset(sector)]);
  return SectorOffset(sector) + 128 * (id % (sectorSize / 128));
}

std::uint32_t Surgeon::Id(const CString& name) const {
  for (std::uint32_t i = 0; i < dir.entries.size(); ++i)
    if (dir.entries[i].name == name) return i;
  ADD_FAILURE() << "no entry";
  return 0;
}

void Surgeon::SetLink(const CString& name, std::size_t field, std::uint32_t value) {
  cfb::Put32(&file[EntryOffset(Id(name)) + field], value);
}

bool Edit(cfb::FileLayer& files, const std::string& path, const Tree& change, std::string* error) {
  ComPtr<IStorage> storage;
  std::string ignored;
  if (!error) error = &ignored;
  if (!cfb::OpenCompoundFile(files, path, true, {}, &storage, error)) return false;
  Build(storage.Get(), change);
  return cfb::CommitCompoundFile(files, storage.Get(), {}, nullptr, error);
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/nametree-cfb-XXXXXX";
  if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> TempDir::Names() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

int RunShell(const std::string& command, std::string* output) {
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return -1;
  std::string text;
  std::array<char, 65536> buf;
  for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), p)) > 0;) text.append(buf.data(), n);
  const int status = ::pclose(p);
  if (output) *output = std::move(text);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellQuote(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace nametree::test
