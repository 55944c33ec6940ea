#include "cfb/cfb_writer.h"

#include <algorithm>
#include <cstring>

#include "cfb/cfb_format.h"
#include "nametree/utf8.h"

namespace nametree::cfb {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Node {
  CString name;
  EntryType type = EntryType::kStream;
  Bytes data;
  std::vector<std::uint32_t> children;  // indices, in directory order
  // Filled by the layout.
  std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
  EntryColor color = EntryColor::kBlack;
  std::uint32_t start = kEndOfChain;
};

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

std::string Quote(const CString& name) { return "\"" + ToUtf8(name) + "\""; }

class Collector {
 public:
  Collector(std::vector<Node>* nodes, std::string* error) : nodes_(*nodes), error_(error) {}

  bool Collect(IStorage* storage, std::uint32_t self, int depth) {
    if (depth > kMaxNesting)
      return Fail("storages are nested deeper than " + std::to_string(kMaxNesting) + " levels");
    std::vector<StorageElement> elements;
    if (Failed(storage->EnumElements(&elements))) return Fail("cannot list a storage");
    std::sort(elements.begin(), elements.end(), [](const StorageElement& a, const StorageElement& b) {
      return CompareEntryNames(a.name, b.name) < 0;
    });
    for (std::size_t i = 0; i < elements.size(); ++i) {
      const CString& name = elements[i].name;
      if (!IsValidEntryName(name))
        return Fail("the name " + Quote(name) +
                    " cannot be stored (1 to 31 characters, none of / \\ : !)");
      if (i > 0 && CompareEntryNames(elements[i - 1].name, name) == 0)
        return Fail("the names " + Quote(elements[i - 1].name) + " and " + Quote(name) +
                    " differ only in case");
    }
    const std::uint32_t first = static_cast<std::uint32_t>(nodes_.size());
    for (const StorageElement& e : elements) {
      nodes_[self].children.push_back(static_cast<std::uint32_t>(nodes_.size()));
      Node node;
      node.name = e.name;
      node.type = e.isStorage ? EntryType::kStorage : EntryType::kStream;
      nodes_.push_back(std::move(node));
    }
    for (std::size_t i = 0; i < elements.size(); ++i) {
      const std::uint32_t id = first + static_cast<std::uint32_t>(i);
      if (elements[i].isStorage) {
        ComPtr<IStorage> child;
        if (Failed(storage->OpenStorage(elements[i].name, kOpenMode, child.Put())))
          return Fail("cannot open storage " + Quote(elements[i].name));
        if (!Collect(child.Get(), id, depth + 1)) return false;
      } else if (!ReadStream(storage, elements[i], &nodes_[id].data)) {
        return false;
      }
    }
    return true;
  }

 private:
  bool Fail(std::string message) {
    if (error_) *error_ = std::move(message);
    return false;
  }

  bool ReadStream(IStorage* storage, const StorageElement& element, Bytes* out) {
    ComPtr<IStream> stream;
    if (Failed(storage->OpenStream(element.name, kOpenMode, stream.Put())))
      return Fail("cannot open stream " + Quote(element.name) + " (is it still open?)");
    out->reserve(element.size);
    buffer_.resize(65536);
    for (;;) {
      std::uint32_t got = 0;
      const auto want = static_cast<std::uint32_t>(buffer_.size());
      if (Failed(stream->Read(buffer_.data(), want, &got)) || got > want)
        return Fail("cannot read stream " + Quote(element.name));
      out->insert(out->end(), buffer_.begin(), buffer_.begin() + got);
      if (got < want) break;
    }
    return true;
  }

  std::vector<Node>& nodes_;
  std::string* error_;
  Bytes buffer_;
};

// Links `ids` (sorted) as a balanced tree and returns its top. Nodes on the
// bottom level are red when that level is incomplete, which keeps every
// path to a leaf at the same number of black nodes.
std::uint32_t LinkSiblings(std::vector<Node>& nodes, const std::vector<std::uint32_t>& ids,
                           std::size_t lo, std::size_t hi, int depth, int redDepth) {
  if (lo >= hi) return kNoStream;
  const std::size_t mid = lo + (hi - lo) / 2;
  Node& n = nodes[ids[mid]];
  n.color = depth == redDepth ? EntryColor::kRed : EntryColor::kBlack;
  const std::uint32_t left = LinkSiblings(nodes, ids, lo, mid, depth + 1, redDepth);
  const std::uint32_t right = LinkSiblings(nodes, ids, mid + 1, hi, depth + 1, redDepth);
  nodes[ids[mid]].left = left;
  nodes[ids[mid]].right = right;
  return ids[mid];
}

void LinkTree(std::vector<Node>& nodes, std::uint32_t storage) {
  const std::vector<std::uint32_t>& ids = nodes[storage].children;
  const std::size_t k = ids.size();
  int bottom = 0;  // depth of the deepest level: floor(log2 k)
  while ((std::size_t{2} << bottom) <= k) ++bottom;
  const bool perfect = ((k + 1) & k) == 0;
  nodes[storage].child = LinkSiblings(nodes, ids, 0, k, 0, perfect ? -1 : bottom);
}

class Layout {
 public:
  Layout(std::vector<Node>& nodes, int majorVersion)
      : nodes_(nodes),
        major_(majorVersion),
        sectorSize_(majorVersion == 4 ? 4096u : 512u),
        perSector_(sectorSize_ / 4) {}

  bool Write(Bytes* out, std::string* error) {
    std::uint64_t miniSectors = 0, bigSectors = 0;
    for (const Node& n : nodes_) {
      if (n.type != EntryType::kStream) continue;
      if (major_ == 3 && n.data.size() > 0xFFFFFFFFu) {
        *error = "stream " + Quote(n.name) + " is too large for a version 3 file";
        return false;
      }
      if (n.data.size() < kMiniStreamCutoff)
        miniSectors += CeilDiv(n.data.size(), kMiniSectorSize);
      else
        bigSectors += CeilDiv(n.data.size(), sectorSize_);
    }
    const std::uint64_t dirSectors = CeilDiv(nodes_.size() * kEntrySize, sectorSize_);
    const std::uint64_t miniFatSectors = CeilDiv(miniSectors * 4, sectorSize_);
    const std::uint64_t miniStreamBytes = miniSectors * kMiniSectorSize;
    const std::uint64_t miniStreamSectors = CeilDiv(miniStreamBytes, sectorSize_);
    const std::uint64_t dataSectors = dirSectors + miniFatSectors + miniStreamSectors + bigSectors;

    // The FAT covers itself and the DIFAT, so grow both until they fit.
    std::uint64_t fatSectors = 0, difatSectors = 0;
    for (;;) {
      const std::uint64_t f = CeilDiv(dataSectors + fatSectors + difatSectors, perSector_);
      const std::uint64_t d = f > kHeaderDifatEntries ? CeilDiv(f - kHeaderDifatEntries, perSector_ - 1) : 0;
      if (f == fatSectors && d == difatSectors) break;
      fatSectors = f;
      difatSectors = d;
    }
    const std::uint64_t total = dataSectors + fatSectors + difatSectors;
    if (total > kMaxRegularSector) {
      *error = "the storage tree is too large for one compound file";
      return false;
    }
    out->assign(sectorSize_ + total * sectorSize_, 0);
    bytes_ = out->data();
    fat_.assign(fatSectors * perSector_, kFreeSector);
    miniFat_.assign(miniFatSectors * perSector_, kFreeSector);

    std::uint32_t next = 0;
    const std::uint32_t dirStart = Chain(next, dirSectors);
    const std::uint32_t miniFatStart = Chain(next, miniFatSectors);
    const std::uint32_t miniStreamStart = Chain(next, miniStreamSectors);
    std::uint32_t nextMini = 0;
    for (Node& n : nodes_) {
      if (n.type != EntryType::kStream || n.data.empty()) continue;
      if (n.data.size() < kMiniStreamCutoff) {
        const std::uint64_t count = CeilDiv(n.data.size(), kMiniSectorSize);
        n.start = nextMini;
        for (std::uint64_t i = 0; i < count; ++i, ++nextMini)
          miniFat_[nextMini] = i + 1 < count ? nextMini + 1 : kEndOfChain;
        std::memcpy(SectorAt(miniStreamStart) + std::uint64_t{n.start} * kMiniSectorSize,
                    n.data.data(), n.data.size());
      } else {
        n.start = Chain(next, CeilDiv(n.data.size(), sectorSize_));
        std::memcpy(SectorAt(n.start), n.data.data(), n.data.size());
      }
    }
    const std::uint32_t fatStart = next;
    for (std::uint64_t i = 0; i < fatSectors; ++i) fat_[next++] = kFatSector;
    const std::uint32_t difatStart = next;
    for (std::uint64_t i = 0; i < difatSectors; ++i) fat_[next++] = kDifatSector;

    WriteTable(fat_, fatStart);
    WriteTable(miniFat_, miniFatStart);
    WriteDirectory(dirStart, dirSectors, miniStreamStart, miniStreamBytes);
    WriteHeader(dirSectors, fatSectors, fatStart, dirStart, miniFatSectors, miniFatStart,
                difatSectors, difatStart);
    return true;
  }

 private:
  // Sectors being contiguous, the block of sector 0 onwards is one run.
  std::uint8_t* SectorAt(std::uint32_t sector) {
    return bytes_ + (std::uint64_t{sector} + 1) * sectorSize_;
  }

  // Allocates `count` consecutive sectors chained in order; returns the first.
  std::uint32_t Chain(std::uint32_t& next, std::uint64_t count) {
    if (count == 0) return kEndOfChain;
    const std::uint32_t first = next;
    for (std::uint64_t i = 0; i < count; ++i, ++next) fat_[next] = i + 1 < count ? next + 1 : kEndOfChain;
    return first;
  }

  void WriteTable(const std::vector<std::uint32_t>& table, std::uint32_t start) {
    if (table.empty()) return;
    std::uint8_t* p = SectorAt(start);
    for (std::uint32_t v : table) {
      Put32(p, v);
      p += 4;
    }
  }

  void WriteEntry(std::uint8_t* p, const CString& name, EntryType type, const Node& links,
                  std::uint32_t start, std::uint64_t size) {
    for (std::size_t i = 0; i < name.size(); ++i) Put16(p + 2 * i, name[i]);
    Put16(p + kOffEntryNameLength, static_cast<std::uint16_t>(2 * (name.size() + 1)));
    p[kOffEntryType] = static_cast<std::uint8_t>(type);
    p[kOffEntryColor] = static_cast<std::uint8_t>(links.color);
    Put32(p + kOffEntryLeft, links.left);
    Put32(p + kOffEntryRight, links.right);
    Put32(p + kOffEntryChild, links.child);
    Put32(p + kOffEntryStart, start);
    Put64(p + kOffEntrySize, size);
  }

  void WriteDirectory(std::uint32_t dirStart, std::uint64_t dirSectors, std::uint32_t miniStreamStart,
                      std::uint64_t miniStreamBytes) {
    std::uint8_t* dir = SectorAt(dirStart);
    Node root = nodes_[0];
    root.color = EntryColor::kBlack;
    WriteEntry(dir, u"Root Entry", EntryType::kRoot, root, miniStreamStart, miniStreamBytes);
    for (std::size_t i = 1; i < nodes_.size(); ++i) {
      const Node& n = nodes_[i];
      if (n.type == EntryType::kStorage)
        WriteEntry(dir + i * kEntrySize, n.name, n.type, n, 0, 0);
      else
        WriteEntry(dir + i * kEntrySize, n.name, n.type, n, n.start, n.data.size());
    }
    const std::uint64_t slots = dirSectors * sectorSize_ / kEntrySize;
    for (std::uint64_t i = nodes_.size(); i < slots; ++i) {
      std::uint8_t* p = dir + i * kEntrySize;
      Put32(p + kOffEntryLeft, kNoStream);
      Put32(p + kOffEntryRight, kNoStream);
      Put32(p + kOffEntryChild, kNoStream);
    }
  }

  void WriteHeader(std::uint64_t dirSectors, std::uint64_t fatSectors, std::uint32_t fatStart,
                   std::uint32_t dirStart, std::uint64_t miniFatSectors, std::uint32_t miniFatStart,
                   std::uint64_t difatSectors, std::uint32_t difatStart) {
    std::uint8_t* h = bytes_;
    std::memcpy(h, kSignature, sizeof kSignature);
    Put16(h + kOffMinorVersion, kMinorVersion);
    Put16(h + kOffMajorVersion, static_cast<std::uint16_t>(major_));
    Put16(h + kOffByteOrder, kByteOrderMark);
    Put16(h + kOffSectorShift, major_ == 4 ? kSectorShiftV4 : kSectorShiftV3);
    Put16(h + kOffMiniSectorShift, kMiniSectorShift);
    // Version 3 leaves the directory sector count at zero.
    Put32(h + kOffDirectorySectors, major_ == 4 ? static_cast<std::uint32_t>(dirSectors) : 0);
    Put32(h + kOffFatSectors, static_cast<std::uint32_t>(fatSectors));
    Put32(h + kOffFirstDirectorySector, dirStart);
    Put32(h + kOffMiniStreamCutoff, kMiniStreamCutoff);
    Put32(h + kOffFirstMiniFatSector, miniFatStart);
    Put32(h + kOffMiniFatSectors, static_cast<std::uint32_t>(miniFatSectors));
    Put32(h + kOffFirstDifatSector, difatSectors ? difatStart : kEndOfChain);
    Put32(h + kOffDifatSectors, static_cast<std::uint32_t>(difatSectors));
    std::uint64_t fat = 0;
    for (std::size_t i = 0; i < kHeaderDifatEntries; ++i, ++fat)
      Put32(h + kOffHeaderDifat + 4 * i, fat < fatSectors ? fatStart + fat : kFreeSector);
    for (std::uint64_t d = 0; d < difatSectors; ++d) {
      std::uint8_t* p = SectorAt(static_cast<std::uint32_t>(difatStart + d));
      for (std::uint32_t i = 0; i + 1 < perSector_; ++i, ++fat)
        Put32(p + 4 * i, fat < fatSectors ? static_cast<std::uint32_t>(fatStart + fat) : kFreeSector);
      Put32(p + 4 * (perSector_ - 1),
            d + 1 < difatSectors ? static_cast<std::uint32_t>(difatStart + d + 1) : kEndOfChain);
    }
  }

  std::vector<Node>& nodes_;
  int major_;
  std::uint32_t sectorSize_;
  std::uint32_t perSector_;
  std::uint8_t* bytes_ = nullptr;
  std::vector<std::uint32_t> fat_;
  std::vector<std::uint32_t> miniFat_;
};

}  // namespace

bool WriteCompoundFile(IStorage* root, int majorVersion, std::vector<std::uint8_t>* out,
                       std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  if (!root || !out) {
    *error = "no storage or no output given";
    return false;
  }
  if (majorVersion != 3 && majorVersion != 4) {
    *error = "major version " + std::to_string(majorVersion) + " is not 3 or 4";
    return false;
  }
  std::vector<Node> nodes(1);
  nodes[0].type = EntryType::kRoot;
  if (!Collector(&nodes, error).Collect(root, 0, 0)) return false;
  for (std::uint32_t i = 0; i < nodes.size(); ++i)
    if (nodes[i].type != EntryType::kStream) LinkTree(nodes, i);
  return Layout(nodes, majorVersion).Write(out, error);
}

}  // namespace nametree::cfb
