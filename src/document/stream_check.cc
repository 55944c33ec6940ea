// The second reading of a "NameServer" stream: its own walk over the bytes,
// independent of the loader, so that what the loader silently skips shows
// as a difference. Iterative: a tree of any depth costs one stack entry per
// open record.
#include "nametree/stream_check.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "nametree/tree_walk.h"

namespace nametree {

namespace {

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::size_t Pos() const { return pos_; }
  std::size_t Left() const { return bytes_.size() - pos_; }
  bool Skip(std::size_t n) {
    if (Left() < n) return false;
    pos_ += n;
    return true;
  }
  bool U16(std::uint16_t* v) {
    if (Left() < 2) return false;
    *v = static_cast<std::uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return true;
  }
  bool U32(std::uint32_t* v) {
    if (Left() < 4) return false;
    *v = static_cast<std::uint32_t>(bytes_[pos_]) | static_cast<std::uint32_t>(bytes_[pos_ + 1]) << 8 |
         static_cast<std::uint32_t>(bytes_[pos_ + 2]) << 16 | static_cast<std::uint32_t>(bytes_[pos_ + 3]) << 24;
    pos_ += 4;
    return true;
  }
  // The index of the first zero unit among the n bytes at the position.
  std::size_t FirstZeroUnit(std::size_t n) const {
    std::size_t u = 0;
    while (2 * u + 1 < n && (bytes_[pos_ + 2 * u] | bytes_[pos_ + 2 * u + 1]) != 0) ++u;
    return u;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

struct Damage {
  std::optional<StreamDamage> found;
  void Set(StreamCheck check, std::size_t offset, std::string message) {
    if (!found) found = StreamDamage{check, offset, std::move(message)};
  }
};

std::string At(std::size_t offset) { return " (at byte " + std::to_string(offset) + ")"; }

}  // namespace

std::string_view StreamCheckName(StreamCheck check) {
  switch (check) {
    case StreamCheck::kBytesConsumed: return "bytes-consumed";
    case StreamCheck::kVersion: return "version";
    case StreamCheck::kCounts: return "counts";
    case StreamCheck::kUniqueIds: return "unique-ids";
    case StreamCheck::kLengths: return "lengths";
  }
  return "bytes-consumed";
}

std::optional<StreamDamage> CheckServerStream(std::span<const std::uint8_t> bytes, const CNameServer& loaded) {
  Reader in(bytes);
  Damage d;
  auto ended = [&](const char* inside) {
    d.Set(StreamCheck::kBytesConsumed, in.Pos(), std::string("the stream ends inside ") + inside + At(in.Pos()));
    return d.found;
  };
  std::uint16_t version = 0, count = 0;
  if (!in.U16(&version) || !in.U16(&count)) return ended("its header");
  // mutate: stream-check-version
  if (version != 1)
    d.Set(StreamCheck::kVersion, 0, "the stream's version is " + std::to_string(version) + ", not 1" + At(0));
  // mutate: stream-check-negative-top-count
  if (static_cast<std::int16_t>(count) < 0)
    d.Set(StreamCheck::kCounts, 2,
          "the top-level count " + std::to_string(static_cast<std::int16_t>(count)) + " is negative" + At(2));

  // Sub-container keys (parent's serial, ID) for the whole tree, whose
  // siblings lie apart in the stream; a record's names lie together, so
  // their IDs are compared record by record.
  std::unordered_set<std::uint64_t> keys;
  auto key = [](std::uint64_t serial, std::uint32_t id) { return serial << 32 | id; };
  std::vector<std::uint32_t> nameIDs;
  std::uint64_t records = 0, names = 0, serial = 0;
  // Each open level: its serial and the sub-records it still expects.
  struct Level {
    std::uint64_t serial;
    int left;
  };
  std::vector<Level> open;
  open.push_back({serial++, static_cast<std::int16_t>(count) < 0 ? 0 : static_cast<std::int16_t>(count)});
  while (!open.empty()) {
    if (open.back().left == 0) {
      open.pop_back();
      continue;
    }
    --open.back().left;
    const std::uint64_t parent = open.back().serial;
    const std::size_t start = in.Pos();
    std::uint32_t id = 0;
    std::uint16_t recordVersion = 0, type = 0, n = 0, m = 0;
    if (!in.U16(&recordVersion) || !in.U32(&id) || !in.U16(&type) || !in.U16(&n)) return ended("a container record");
    ++records;
    // mutate: stream-check-record-version
    if (recordVersion != 1)
      d.Set(StreamCheck::kVersion, start,
            "container " + std::to_string(id) + " has record version " + std::to_string(recordVersion) + ", not 1" +
                At(start));
    // mutate: stream-check-zero-id
    if (id == 0) d.Set(StreamCheck::kUniqueIds, start + 2, "a container has ID 0" + At(start + 2));
    // mutate: stream-check-repeated-sibling
    if (!keys.insert(key(parent, id)).second)
      d.Set(StreamCheck::kUniqueIds, start + 2,
            "two sibling containers have ID " + std::to_string(id) + "; loading keeps one" + At(start + 2));
    const std::uint64_t self = serial++;
    // mutate: stream-check-negative-name-count
    if (static_cast<std::int16_t>(n) < 0)
      d.Set(StreamCheck::kCounts, start + 8,
            "container " + std::to_string(id) + " counts " + std::to_string(static_cast<std::int16_t>(n)) +
                " names" + At(start + 8));
    for (int i = 0; i < static_cast<std::int16_t>(n); ++i) {
      const std::size_t at = in.Pos();
      std::uint32_t nameID = 0, length = 0;
      if (!in.U32(&nameID) || !in.U32(&length)) return ended("a name");
      ++names;
      if (nameID == 0) d.Set(StreamCheck::kUniqueIds, at, "container " + std::to_string(id) + " holds a name with ID 0" + At(at));
      nameIDs.push_back(nameID);
      if (length == 0) continue;
      if (in.Left() < length) return ended("a name's text");
      // mutate: stream-check-text-length
      if (length % 2 != 0 || in.FirstZeroUnit(length) != length / 2 - 1)
        d.Set(StreamCheck::kLengths, at + 4,
              "name " + std::to_string(nameID) + " of container " + std::to_string(id) +
                  " does not fill its length of " + std::to_string(length) +
                  " bytes up to one closing zero; loading cuts it" + At(at + 4));
      in.Skip(length);
    }
    std::sort(nameIDs.begin(), nameIDs.end());
    // mutate: stream-check-repeated-name
    if (auto twice = std::adjacent_find(nameIDs.begin(), nameIDs.end()); twice != nameIDs.end())
      d.Set(StreamCheck::kUniqueIds, start,
            "container " + std::to_string(id) + " holds two names under ID " + std::to_string(*twice) +
                "; loading keeps one" + At(start));
    nameIDs.clear();
    const std::size_t mAt = in.Pos();
    if (!in.U16(&m)) return ended("a container record");
    if (static_cast<std::int16_t>(m) < 0)
      d.Set(StreamCheck::kCounts, mAt,
            "container " + std::to_string(id) + " counts " + std::to_string(static_cast<std::int16_t>(m)) +
                " sub-containers" + At(mAt));
    open.push_back({self, static_cast<std::int16_t>(m) < 0 ? 0 : static_cast<std::int16_t>(m)});
  }
  std::uint32_t last = 0;
  if (!in.U32(&last)) return ended("the last issued ID");
  // mutate: stream-check-trailing-bytes
  if (in.Left() != 0)
    d.Set(StreamCheck::kBytesConsumed, in.Pos(),
          std::to_string(in.Left()) + " bytes follow the end of the stream's contents" + At(in.Pos()));
  if (d.found) return d.found;

  std::uint64_t loadedRecords = 0, loadedNames = 0;
  for (ContainerRef c : TreeWalk(loaded)) {
    ++loadedRecords;
    loadedNames += static_cast<std::uint64_t>(c.Container().GetNumNameIDs());
  }
  // mutate: stream-check-loaded-totals
  if (loadedRecords != records || loadedNames != names)
    d.Set(StreamCheck::kCounts, 0,
          "the stream holds " + std::to_string(records) + " containers and " + std::to_string(names) +
              " names, the loaded document " + std::to_string(loadedRecords) + " and " +
              std::to_string(loadedNames));
  return d.found;
}

}  // namespace nametree
