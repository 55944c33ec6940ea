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

Tree StreamsOnly(const Tree& tree) {
  Tree streams;
  for (const auto& [path, data] : tree)
    if (data) streams[path] = data;
  return streams;
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

// FIPS 180-4, for checking stream contents against published digests.
std::string Sha256Hex(const Bytes& data) {
  static constexpr std::uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
      0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
      0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
      0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
      0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
      0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
      0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
  std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  Bytes m = data;
  const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
  m.push_back(0x80);
  while (m.size() % 64 != 56) m.push_back(0);
  for (int i = 7; i >= 0; --i) m.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  auto rotr = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  for (std::size_t off = 0; off < m.size(); off += 64) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = (std::uint32_t{m[off + 4 * i]} << 24) | (std::uint32_t{m[off + 4 * i + 1]} << 16) |
             (std::uint32_t{m[off + 4 * i + 2]} << 8) | m[off + 4 * i + 3];
    for (int i = 16; i < 64; ++i) {
      const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      const std::uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
    }
    const std::uint32_t add[8] = {a, b, c, d, e, f, g, hh};
    for (int i = 0; i < 8; ++i) h[i] += add[i];
  }
  std::string hex;
  char buf[9];
  for (std::uint32_t v : h) {
    std::snprintf(buf, sizeof buf, "%08x", v);
    hex += buf;
  }
  return hex;
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

bool HaveProgram(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

bool HaveOlefile() {
  return HaveProgram("/usr/bin/python3") && RunShell("/usr/bin/python3 -c 'import olefile' 2>/dev/null") == 0;
}

std::string ShellQuote(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace nametree::test
