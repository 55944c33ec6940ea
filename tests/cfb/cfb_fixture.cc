#include "cfb_fixture.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

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

}  // namespace

Tree Snapshot(IStorage* storage) {
  Tree tree;
  SnapshotInto(storage, "", &tree);
  return tree;
}

void Build(IStorage* storage, const Tree& tree) {
  for (const auto& [path, data] : tree) {
    ComPtr<IStorage> parent(storage);
    std::size_t from = 0;
    for (std::size_t slash; (slash = path.find('/', from)) != std::string::npos; from = slash + 1) {
      ComPtr<IStorage> next;
      ASSERT_EQ(parent->OpenStorage(FromUtf8(path.substr(from, slash - from)), kOpenMode, next.Put()), S_OK);
      parent = next;
    }
    const CString leaf = FromUtf8(path.substr(from));
    ComPtr<IStorage> child;
    ComPtr<IStream> s;
    if (!data) {
      ASSERT_EQ(parent->CreateStorage(leaf, kCreateMode, child.Put()), S_OK) << path;
    } else {
      ASSERT_EQ(parent->CreateStream(leaf, kCreateMode, s.Put()), S_OK) << path;
      ASSERT_EQ(s->Write(data->data(), static_cast<std::uint32_t>(data->size()), nullptr), S_OK);
    }
  }
}

Bytes Pattern(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes b(size);
  for (auto& v : b) v = static_cast<std::uint8_t>(random());
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

Tree Sample() {
  Tree t;
  for (std::size_t size : {0, 1, 63, 64, 65, 4095, 4096, 4097, 70000})
    t["s" + std::to_string(size)] = Pattern(size, static_cast<std::uint32_t>(size));
  for (const char* storage : {"Sub", "Sub/Deeper", "Sub/Deeper/Inner"}) t[storage] = std::nullopt;
  t["Sub/Deeper/Inner/deep"] = Pattern(5000, 7);
  t["Sub/Deeper/leaf"] = Pattern(5000, 5);
  for (int i = 0; i < 30; ++i) t["Sub/n" + std::to_string(i)] = Pattern(i * 61, 10 + i);
  return t;
}

bool Edit(cfb::FileLayer& files, const std::string& path, const Tree& change, std::string* error) {
  ComPtr<IStorage> storage;
  if (!cfb::OpenCompoundFile(files, path, true, {}, &storage).Report(error)) return false;
  Build(storage.Get(), change);
  return cfb::CommitCompoundFile(files, storage.Get(), {}, nullptr).Report(error);
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

ComPtr<IStorage> OpenWritten(const std::string& path, const Bytes& file) {
  WriteBytes(path, file);
  ComPtr<IStorage> storage;
  std::string error;
  if (!OpenCompoundFile(path, true, &storage, &error)) ADD_FAILURE() << path << ": " << error;
  return storage;
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

}  // namespace nametree::test
