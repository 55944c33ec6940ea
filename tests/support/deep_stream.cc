#include "support/deep_stream.h"

#include <pthread.h>

#include "nametree/memory_storage.h"

namespace nametree::test {
namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, static_cast<std::uint16_t>(v));
  Put16(out, static_cast<std::uint16_t>(v >> 16));
}

}  // namespace

std::vector<std::uint8_t> NestedStream(std::uint32_t depth, std::int16_t type, int names) {
  std::vector<std::uint8_t> out;
  out.reserve(4 + depth * (12 + static_cast<std::size_t>(names) * 30) + 4);
  Put16(out, 1);
  Put16(out, depth ? 1 : 0);
  for (std::uint32_t level = 0; level < depth; ++level) {
    Put16(out, 1);
    Put32(out, 2 * level + 1);
    Put16(out, static_cast<std::uint16_t>(type));
    Put16(out, static_cast<std::uint16_t>(names));
    for (int k = 0; k < names; ++k) {
      Put32(out, 2 * level + 2 + static_cast<std::uint32_t>(k) * 2 * depth);
      std::u16string text = u"N";
      for (char c : std::to_string(level) + "_" + std::to_string(k)) text.push_back(static_cast<char16_t>(c));
      Put32(out, static_cast<std::uint32_t>(text.size() + 1) * 2);
      for (char16_t u : text) Put16(out, u);
      Put16(out, 0);
    }
    Put16(out, level + 1 < depth ? 1 : 0);
  }
  Put32(out, 0x10000000u);
  return out;
}

ComPtr<IStorage> StorageWith(const std::vector<std::uint8_t>& bytes) {
  ComPtr<IStorage> st = CreateMemoryStorage();
  ComPtr<IStream> s;
  st->CreateStream(u"NameServer", kCreateMode, s.Put());
  std::uint32_t written = 0;
  s->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written);
  return st;
}

std::vector<std::uint8_t> StreamBytes(IStorage* storage) {
  ComPtr<IStream> s;
  if (Failed(storage->OpenStream(u"NameServer", kOpenMode, s.Put())) || !s) return {};
  return MemoryStreamBytes(s.Get());
}

bool RunWithStack(std::size_t bytes, void (*f)(void*), void* arg) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, bytes);
  struct Call {
    void (*f)(void*);
    void* arg;
  } call{f, arg};
  pthread_t thread;
  const bool made = pthread_create(&thread, &attr, [](void* p) -> void* {
                      auto* c = static_cast<Call*>(p);
                      c->f(c->arg);
                      return nullptr;
                    }, &call) == 0;
  if (made) pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  return made;
}

}  // namespace nametree::test
