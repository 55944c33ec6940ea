// A mutation fuzzer for "NameServer" streams: counts, IDs, text lengths,
// versions and trailing bytes of saved documents are changed one or a few
// at a time, and each result is loaded as the document layer loads it. A
// stream that loads and passes the read-back check must survive an edit
// and a save with every name it holds. NAMETREE_RECORD_MUTATIONS sets the
// number of mutations (a million for the long run).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "nametree/memory_storage.h"
#include "nametree/name_server.h"
#include "nametree/stream_check.h"

namespace nametree {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Where the fields a mutation aims at lie, and the names, from the layout
// of the stream: u16 version, i16 T, T records, u32 last issued ID; a
// record is u16 version, u32 ID, i16 type, i16 N, N x (u32 ID, u32 L, L
// bytes), i16 M, M records.
struct Layout {
  std::vector<std::size_t> counts, ids, lengths, versions;
  std::set<std::tuple<std::uint32_t, std::uint32_t, std::u16string>> names;  // container, ID, text
  bool whole = false;
};

std::uint32_t Get(const Bytes& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + i];
  return v;
}

Layout Parse(const Bytes& b) {
  Layout l;
  std::size_t at = 0;
  auto has = [&](std::size_t n) { return b.size() - at >= n; };
  if (!has(4)) return l;
  l.versions.push_back(0);
  l.counts.push_back(2);
  std::vector<int> open{static_cast<std::int16_t>(Get(b, 2, 2))};
  at = 4;
  while (!open.empty()) {
    if (open.back()-- <= 0) {
      open.pop_back();
      continue;
    }
    if (!has(10)) return l;
    l.versions.push_back(at);
    l.ids.push_back(at + 2);
    l.counts.push_back(at + 8);
    const std::uint32_t container = Get(b, at + 2, 4);
    const int n = static_cast<std::int16_t>(Get(b, at + 8, 2));
    at += 10;
    for (int i = 0; i < n; ++i) {
      if (!has(8)) return l;
      l.ids.push_back(at);
      l.lengths.push_back(at + 4);
      const std::uint32_t id = Get(b, at, 4), length = Get(b, at + 4, 4);
      at += 8;
      if (!has(length)) return l;
      std::u16string text;
      for (std::size_t u = 0; u + 1 < length / 2; ++u) text += static_cast<char16_t>(Get(b, at + 2 * u, 2));
      l.names.emplace(container, id, text);
      at += length;
    }
    if (!has(2)) return l;
    l.counts.push_back(at);
    open.push_back(static_cast<std::int16_t>(Get(b, at, 2)));
    at += 2;
  }
  l.whole = has(4);
  return l;
}

Bytes SaveBytes(CNameServer& server) {
  ComPtr<IStorage> storage = CreateMemoryStorage();
  EXPECT_EQ(server.Save(storage.Get()), S_OK);
  ComPtr<IStream> s;
  storage->OpenStream(u"NameServer", kOpenMode, s.Put());
  Bytes all(1 << 20);
  std::uint32_t got = 0;
  s->Read(all.data(), static_cast<std::uint32_t>(all.size()), &got);  // the seeds are far smaller
  all.resize(got);
  return all;
}

// Saved documents of the shapes that matter: shared IDs across tables, deep
// nesting, siblings, empty texts.
std::vector<Bytes> Seeds() {
  std::vector<Bytes> seeds;
  for (int shape = 0; shape < 3; ++shape) {
    CNameServer server;
    const std::uint32_t g = server.AddContainer(0, kGlobalContainer);
    const std::uint32_t t = server.AddContainer(0, kTargetContainer);
    std::uint32_t parent = t, id = 0;
    for (int i = 0; i < 2 + 2 * shape; ++i) {
      parent = server.AddContainer(shape == 1 ? parent : t, kOrdinaryContainer);
      server.AddName(id, parent, u"N" + std::u16string(1, static_cast<char16_t>(u'a' + i)), 0, true);
    }
    server.AddName(id, g, u"Pump", 0, true);
    server.AddName(id, g, u"Valve", 0, true);
    server.AddName(id, t, u"", 1, false);
    seeds.push_back(SaveBytes(server));
  }
  return seeds;
}

void Mutate(Bytes& b, std::mt19937& rng) {
  const Layout l = Parse(b);
  if (l.counts.empty()) {
    b.push_back(static_cast<std::uint8_t>(rng()));
    return;
  }
  auto pick = [&](const std::vector<std::size_t>& v) { return v[rng() % v.size()]; };
  auto put16 = [&](std::size_t at, std::uint32_t v) {
    b[at] = v & 0xFF;
    b[at + 1] = (v >> 8) & 0xFF;
  };
  auto put32 = [&](std::size_t at, std::uint32_t v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); };
  const std::uint32_t r = rng();
  switch (rng() % 7) {
    case 0: {  // a count: one more or less, its high bit, or anything
      const std::size_t at = pick(l.counts);
      const std::uint32_t v = Get(b, at, 2), choices[] = {v + 1, v - 1, v ^ 0x8000, r};
      put16(at, choices[r % 4]);
      break;
    }
    case 1:  // an ID: another one of the stream, 0, or anything
      if (!l.ids.empty()) put32(pick(l.ids), r % 3 == 0 ? 0 : r % 3 == 1 ? Get(b, pick(l.ids), 4) : r);
      break;
    case 2:  // a text length
      if (!l.lengths.empty()) {
        const std::size_t at = pick(l.lengths);
        const std::uint32_t v = Get(b, at, 4), choices[] = {v + 2, v - 2, v + 1, 0, 1, r};
        put32(at, choices[r % 6]);
      }
      break;
    case 3: put16(pick(l.versions), r % 2 ? 2 : r); break;
    case 4:  // trailing bytes, or a cut
      if (r % 2) b.insert(b.end(), 1 + r % 8, static_cast<std::uint8_t>(r >> 8));
      else b.resize(r % b.size());
      break;
    case 5:  // a unit of a text becomes 0
      if (!l.lengths.empty()) {
        const std::size_t at = pick(l.lengths);
        const std::uint32_t length = Get(b, at, 4);
        if (length >= 4 && at + 4 + length <= b.size()) put16(at + 4 + 2 * (r % (length / 2 - 1)), 0);
      }
      break;
    default: b[r % b.size()] ^= static_cast<std::uint8_t>(1u << (r >> 8) % 8); break;
  }
}

TEST(RecordMutation, AStreamReadAsWholeKeepsEveryNameThroughAnEdit) {
  const char* env = std::getenv("NAMETREE_RECORD_MUTATIONS");
  const long runs = env ? std::atol(env) : 4000;
  const std::vector<Bytes> seeds = Seeds();
  std::mt19937 rng(46);
  long refusedLoad = 0, damaged = 0, clean = 0;
  for (long run = 0; run < runs; ++run) {
    Bytes b = seeds[run % seeds.size()];
    for (int n = 1 + rng() % 3; n > 0 && !b.empty(); --n) Mutate(b, rng);
    ComPtr<IStorage> storage = CreateMemoryStorage();
    {
      ComPtr<IStream> s;
      storage->CreateStream(u"NameServer", kCreateMode, s.Put());
      s->Write(b.data(), static_cast<std::uint32_t>(b.size()), nullptr);
    }
    CNameServer server;
    if (server.Load(storage.Get()) != S_OK) {
      ++refusedLoad;
      continue;
    }
    if (CheckServerStream(b, server)) {
      ++damaged;
      continue;
    }
    ++clean;
    const Layout before = Parse(b);
    ASSERT_TRUE(before.whole) << "run " << run << ": read as whole, but the layout ends early";
    server.AddContainer(0, kOrdinaryContainer);  // the smallest edit there is
    const Layout after = Parse(SaveBytes(server));
    for (const auto& name : before.names)
      ASSERT_TRUE(after.names.count(name)) << "run " << run << ": name " << std::get<1>(name) << " of container "
                                           << std::get<0>(name) << " was read as whole and lost";
  }
  std::printf("%ld mutations: %ld refused by Load, %ld damaged, %ld whole and kept\n", runs, refusedLoad, damaged,
              clean);
  EXPECT_GT(damaged, runs / 4);
  EXPECT_GT(clean, 0);
}

// The check also compares with the server it is given: a whole stream
// against a server that kept less of it is a difference of counts.
TEST(RecordMutation, AServerHoldingLessThanItsStreamIsADifferenceOfCounts) {
  const Bytes whole = Seeds().front();
  CNameServer empty;
  const auto damage = CheckServerStream(whole, empty);
  ASSERT_TRUE(damage);
  EXPECT_EQ(damage->check, StreamCheck::kCounts);
  EXPECT_EQ(StreamCheckName(damage->check), "counts");
}

}  // namespace
}  // namespace nametree
